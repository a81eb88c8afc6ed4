#include "platform/threads.h"

#include <algorithm>
#include <thread>

int u_working_threads(int threads) {
  if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(threads, 1, kMaxThreads);
}
