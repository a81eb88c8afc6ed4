#include "can/can_time.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

SteadyCanClock g_steady_clock;
std::atomic<CanClock*> g_clock{nullptr};

std::atomic<CanIdleHook> g_idle_hook{nullptr};
std::atomic<void*> g_idle_context{nullptr};

std::atomic<CanEvent*> g_activity_event{nullptr};

}  // namespace

std::uint64_t SteadyCanClock::now_ms() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SteadyCanClock::sleep_ms(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CanClock& can_clock() {
  CanClock* clock = g_clock.load();
  return clock ? *clock : g_steady_clock;
}

void can_set_clock(CanClock* clock) { g_clock.store(clock); }

void can_set_idle_hook(CanIdleHook hook, void* context) {
  g_idle_context.store(context);
  g_idle_hook.store(hook);
}

void can_run_idle_hook() {
  CanIdleHook hook = g_idle_hook.load();
  if (hook) hook(g_idle_context.load());
}

void CanEvent::set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  cv_.notify_all();
}

void CanEvent::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool CanEvent::is_set() {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

bool CanEvent::wait_ms(std::uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
}

CanEvent* can_activity_event() { return g_activity_event.load(); }

void can_set_activity_event(CanEvent* event) { g_activity_event.store(event); }
