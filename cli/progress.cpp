#include "cli/progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

std::string duration_text(double seconds) {
  const auto s = static_cast<long long>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

Progress::Progress(Console& console, bool on, std::size_t files, std::int64_t bytes,
                   std::size_t workers)
    : console_(console), on_(on), files_(files), bytes_(std::max<std::int64_t>(bytes, 1)) {
  if (!on_) return;
  workers_ = std::max<std::size_t>(workers, 1);
  moving_ = std::make_unique<std::atomic<std::int64_t>[]>(workers_);
  start_ = std::chrono::steady_clock::now();
  draw();  // at once, so that even a short run shows where it is
  try {
    thread_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        // Again a few times a second, and whenever a file is done.
        const std::size_t drawn = files_done_.load();
        wake_.wait_for(lock, std::chrono::milliseconds(250),
                       [&] { return stop_ || files_done_.load() != drawn; });
        if (stop_) break;
        draw();
      }
    });
  } catch (const std::system_error&) {
    console_.status("");  // no thread: no progress line, the run goes on
    on_ = false;
  }
}

Progress::~Progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  console_.status("");
}

void Progress::file_done(std::size_t w, std::int64_t bytes) {
  if (!on_) return;
  bytes_done_.fetch_add(bytes);
  moving_[w].store(0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    files_done_.fetch_add(1);
  }
  wake_.notify_one();
}

void Progress::draw() {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::int64_t done = bytes_done_.load();
  for (std::size_t w = 0; w < workers_; ++w) done += moving_[w].load();
  done = std::min(done, bytes_);
  const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
  char line[160];
  std::snprintf(line, sizeof line, "%zu of %zu files, %d%%, %.1f MB/s, %s left", files_done_.load(),
                files_, static_cast<int>(100 * done / bytes_), rate / 1e6,
                done > 0 ? duration_text(static_cast<double>(bytes_ - done) / rate).c_str() : "?");
  console_.status(line);
}
