#include "platform/chunk_pipeline.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>

namespace {

enum class SlotState : unsigned char { kFree, kBusy, kDone };

class Pipeline {
 public:
  Pipeline(ChunkJob& job, std::size_t n_slots) : job_(job), n_slots_(n_slots) {}

  // One thread's part. A callback that throws stops every thread; the
  // exception goes on to the caller.
  void work(int self) {
    std::unique_lock<std::mutex> lock(mutex_);
    try {
      work_locked(self, lock);
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      stopped_ = true;
      changed_.notify_all();
      throw;
    }
  }

  void work_locked(int self, std::unique_lock<std::mutex>& lock) {
    const std::size_t n_slots = n_slots_;
    for (;;) {
      if (stopped_) return;
      if (!ended_ && taken_ < handed_on_ + n_slots) {
        const std::size_t chunk = taken_;
        const std::size_t slot = chunk % n_slots;
        const ChunkJob::Take take = job_.take(self, chunk, slot);
        if (take != ChunkJob::Take::kTaken) {
          (take == ChunkJob::Take::kEnd ? ended_ : stopped_) = true;
          changed_.notify_all();
          continue;
        }
        ++taken_;
        slots_[slot] = SlotState::kBusy;
        lock.unlock();
        job_.process(self, chunk, slot);
        lock.lock();
        slots_[slot] = SlotState::kDone;
        if (chunk == handed_on_) changed_.notify_all();
        continue;
      }
      SlotState& next = slots_[handed_on_ % n_slots];
      if (!handing_on_ && handed_on_ < taken_ && next == SlotState::kDone) {
        const std::size_t chunk = handed_on_;
        handing_on_ = true;
        lock.unlock();
        const bool go_on = job_.hand_on(chunk, chunk % n_slots);
        lock.lock();
        handing_on_ = false;
        next = SlotState::kFree;
        ++handed_on_;
        if (!go_on) stopped_ = true;
        changed_.notify_all();
        continue;
      }
      if (ended_ && handed_on_ == taken_) return;
      changed_.wait(lock);
    }
  }

  std::size_t taken() const { return taken_; }

 private:
  ChunkJob& job_;
  const std::size_t n_slots_;
  std::array<SlotState, kMaxSlots> slots_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t taken_ = 0;
  std::size_t handed_on_ = 0;
  bool handing_on_ = false;
  bool ended_ = false;    // no chunk left to take
  bool stopped_ = false;  // a failure, or the job wants no more
};

}  // namespace

std::size_t run_chunks(ChunkJob& job, int threads, std::size_t slots) {
  Pipeline pipeline(job, std::clamp<std::size_t>(slots, 1, kMaxSlots));
  u_run_threads(threads, [&](int self) { pipeline.work(self); });
  return pipeline.taken();
}
