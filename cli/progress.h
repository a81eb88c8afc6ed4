// The progress line of a run on a terminal: files done of all, the share of
// the bytes, bytes per second and the time left, redrawn a few times a
// second below the messages (see Console).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/convert_one.h"

class Progress {
 public:
  // Draws nothing unless `on`; `workers` conversions run at once.
  Progress(Console& console, bool on, std::size_t files, std::int64_t bytes, std::size_t workers);
  ~Progress();  // stops drawing and takes the line away
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Where worker `w` counts the bytes of the file it converts.
  std::atomic<std::int64_t>* counter(std::size_t w) { return on_ ? &moving_[w] : nullptr; }
  // Worker `w` is done with a file of `bytes` bytes.
  void file_done(std::size_t w, std::int64_t bytes);

 private:
  void draw();
  Console& console_;
  bool on_;
  std::size_t files_;
  std::int64_t bytes_;
  std::atomic<std::size_t> files_done_{0};
  std::atomic<std::int64_t> bytes_done_{0};
  std::unique_ptr<std::atomic<std::int64_t>[]> moving_;  // a counter a worker
  std::size_t workers_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
  std::chrono::steady_clock::time_point start_;
};

// Seconds as "m:ss" or "h:mm:ss".
std::string duration_text(double seconds);
