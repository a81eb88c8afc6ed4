// The record of a run (--report FILE): one JSON object a line for every
// input, appended and flushed as the input ends, so that what is done can be
// read while the run goes on and after it ended in any way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/driver.h"
#include "platform/file_io.h"

class Report {
 public:
  // Opens `file` for appending; false (errno telling why) when it cannot be.
  bool open(const CommandArg& file);
  bool on() const { return static_cast<bool>(file_); }
  // False once a line could not be written.
  bool ok() const { return ok_; }

  // One input: its name, its output's ("" for none), how it ended
  // ("converted", "up to date", "not a data file", "failed"), the error's
  // name or reason ("" for none), the bytes read and written and the seconds
  // it took. Safe to call from several threads.
  void write(const std::string& input, const std::string& output, const char* status,
             const std::string& error, std::int64_t bytes_in, std::int64_t bytes_out,
             double seconds);

 private:
  std::mutex mutex_;
  File file_;
  bool ok_ = true;
};
