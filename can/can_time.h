// Time, the idle hook and the bus-activity event of the CAN layer. Every pause
// the layer takes goes through one replaceable clock so that tests can run
// waits of seconds in no real time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class CanClock {
 public:
  virtual ~CanClock() = default;
  // Milliseconds since an arbitrary start, never decreasing.
  virtual std::uint64_t now_ms() = 0;
  virtual void sleep_ms(std::uint32_t ms) = 0;
};

// The real clock: a steady clock and a real sleep.
class SteadyCanClock : public CanClock {
 public:
  std::uint64_t now_ms() override;
  void sleep_ms(std::uint32_t ms) override;
};

// Virtual time: a sleep only moves the clock forward and is recorded.
class FakeCanClock : public CanClock {
 public:
  std::uint64_t now_ms() override { return now_; }
  void sleep_ms(std::uint32_t ms) override {
    now_ += ms;
    sleeps_.push_back(ms);
  }
  void advance(std::uint64_t ms) { now_ += ms; }
  const std::vector<std::uint32_t>& sleeps() const { return sleeps_; }

 private:
  std::uint64_t now_ = 0;
  std::vector<std::uint32_t> sleeps_;
};

// The process-wide clock (a SteadyCanClock unless replaced), the one clock
// of the CAN layer: the waits pause on it and the simulated bridge reads its
// nodes' state and its timeouts from it. can_set_clock does not take
// ownership; nullptr restores the real clock.
CanClock& can_clock();
void can_set_clock(CanClock* clock);

// The library's idle hook, run after each pause of a wait so that a caller's
// user interface stays alive. nullptr (the default) runs nothing.
using CanIdleHook = void (*)(void* context);
void can_set_idle_hook(CanIdleHook hook, void* context);
void can_run_idle_hook();

// A manual-reset event: stays set until reset.
class CanEvent {
 public:
  void set();
  void reset();
  bool is_set();
  // Waits up to `ms` real milliseconds for the event; true when it is set.
  [[nodiscard]] bool wait_ms(std::uint32_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

// The library's bus-activity event, set by SDO transfers made with the
// activity flag. It may not exist (nullptr, the default); the layer does not
// own it.
CanEvent* can_activity_event();
void can_set_activity_event(CanEvent* event);
