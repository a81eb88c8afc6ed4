// Work on a stream of chunks shared by several threads, with the results
// handed on in the order of the chunks: the calling thread and up to
// `threads` - 1 more each take the next chunk in turn while a slot is free
// and work on it on their own; once the slots are full, whichever thread
// finds the next chunk in order finished hands it on, one thread at a time.
// No thread only waits for the others, so a single processor does all the
// work itself with nothing to hand over. Chunks are always taken ahead of
// the one handed on, as far as the slots allow, whatever the thread count.
#pragma once

#include <cstddef>

namespace sdf_detail {

class ChunkJob {
 public:
  enum class Take { kTaken, kEnd, kStop };

  // Takes chunk `chunk` (0, 1, ...) into slot `slot`, for thread `self`
  // (0 is the calling thread). Called under the pipeline's lock, so chunks
  // are taken strictly one after the other, and never into a slot whose
  // chunk has not been handed on. kEnd: there is no such chunk; kStop: a
  // failure, nothing more is done.
  virtual Take take(int self, std::size_t chunk, std::size_t slot) = 0;

  // Works on a taken chunk, outside the lock, while other threads take,
  // work on and hand on other chunks.
  virtual void process(int self, std::size_t chunk, std::size_t slot) = 0;

  // Hands on a chunk, in chunk order, one thread at a time, outside the
  // lock. false: nothing more is done (no chunk taken or handed on after it).
  virtual bool hand_on(std::size_t chunk, std::size_t slot) = 0;

 protected:
  ~ChunkJob() = default;
};

// Runs `job` on up to `threads` threads (the calling one included, at most
// 16; fewer when threads cannot be started) with `slots` slots (1 to 32; two
// a thread keep every thread busy). Returns the number of chunks taken.
std::size_t run_chunks(ChunkJob& job, int threads, std::size_t slots);

}  // namespace sdf_detail
