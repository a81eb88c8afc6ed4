#include "platform/threads.h"

#include <algorithm>
#include <array>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

int u_working_threads(int threads) {
  // Asked once: the answer costs system calls, and a run over many small
  // files asks for every file.
  static const int processors = static_cast<int>(std::thread::hardware_concurrency());
  if (threads <= 0) threads = processors;
  return std::clamp(threads, 1, kMaxThreads);
}

void u_run_threads(int threads, const std::function<void(int)>& work) {
  std::mutex mutex;
  std::exception_ptr thrown;
  auto call = [&](int self) {
    try {
      work(self);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex);
      if (!thrown) thrown = std::current_exception();
    }
  };
  std::array<std::thread, kMaxThreads> started;
  const int n = u_working_threads(threads);
  int t = 1;
  for (; t < n; ++t) {
    try {
      started[t] = std::thread(call, t);
    } catch (const std::system_error&) {
      break;  // fewer threads: the work is the same
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  call(0);
  while (--t > 0) started[t].join();
  if (thrown) std::rethrow_exception(thrown);
}
