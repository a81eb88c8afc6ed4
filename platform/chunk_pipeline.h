// Work on a stream of chunks shared by several threads, with the results
// handed on in the order of the chunks: every thread, the calling one
// included, takes the next chunk in turn while a slot is free and works on
// it on its own; whichever thread finds the next chunk in order finished
// hands it on, one thread at a time. No thread only waits for the others,
// so a single processor does all the work itself with nothing to hand over.
// Chunks are always taken ahead of the one handed on, as far as the slots
// allow, whatever the thread count.
//
// Slots: chunk c (0, 1, ...) is taken into slot c % slots, and a slot is
// taken again only after its chunk has been handed on. A job may therefore
// keep a chunk's data in its slot, and after run_chunks find chunk c, if it
// was taken and not handed on, in slot c % slots.
#pragma once

#include <cstddef>

#include "platform/threads.h"

class ChunkJob {
 public:
  enum class Take { kTaken, kEnd, kStop };

  // Takes chunk `chunk` into slot `slot`, for thread `self` (0 is the
  // calling thread). Called under the pipeline's lock, so chunks are taken
  // strictly one after the other. kEnd: there is no such chunk; kStop: a
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

// Runs `job` on `threads` threads (see threads.h: the calling one included,
// 0 for one a processor; fewer when threads cannot be started) with `slots`
// slots (1 to kMaxSlots; two a thread keep every thread busy). Returns the
// number of chunks taken. A callback may throw: then nothing more is done,
// and the exception is thrown again here once every thread has stopped.
inline constexpr std::size_t kMaxSlots = 2 * kMaxThreads;
std::size_t run_chunks(ChunkJob& job, int threads, std::size_t slots);
