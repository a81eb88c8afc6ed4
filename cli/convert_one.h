// One conversion as the tovrel command runs it, shared by its forms: the
// options, where messages go, and the checks and messages of one file.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "platform/directory.h"

struct Options {
  std::vector<const CommandArg*> names;
  bool force = false;
  bool binary = false;
  bool x3p = false;                        // -x
  bool recursive = false;                  // -r: SOURCE... DIRECTORY
  bool update = false;                     // -u: skip outputs not older than their input
  bool quiet = false;                      // -q: only failures and the summary
  bool null_names = false;                 // -0: the list's names end with NUL
  const CommandArg* files_from = nullptr;  // --files-from
  const CommandArg* report = nullptr;      // --report
  bool terminal = false;                   // standard error is a terminal: a progress line
  // Threads that convert one file (see convert_data_file): one a processor,
  // or only the file's own when several files are converted side by side,
  // one a thread already.
  int format_threads = 0;
};

// Standard error, shared by the threads of a run: whole texts, and the
// progress line below them (on a terminal), which is taken away while a
// text is written and drawn again after it.
class Console {
 public:
  void write(const std::string& text);
  // Shows `line` as the progress line ("" takes it away).
  void status(const std::string& line);

 private:
  void clear_locked();
  std::mutex mutex_;
  std::size_t shown_ = 0;  // length of the progress line on the screen
  std::string line_;
};

// The messages of one conversion: straight to the console, or kept until
// the conversion is done so that files converted side by side never mix
// their lines.
class Messages {
 public:
  Messages(Console& console, bool keep) : console_(console), keep_(keep) {}
  void print(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  const std::string& text() const { return text_; }

 private:
  Console& console_;
  bool keep_;
  std::string text_;
};

// How one input ended, for the summary and the report.
struct FileResult {
  int status = EXIT_CONVERTED;
  bool up_to_date = false;     // -u: nothing to do
  std::string error;           // the error code's name, or the reason
  std::int64_t bytes_out = 0;  // of the output written
};

// Checks and converts `input` into `output`, printing the messages of the
// conversion; returns the exit status. `progress`, when given, counts the
// input's bytes as the conversion gets through them. `source`, when given,
// is what the caller found the input to be a moment ago.
int convert_one(const CommandArg& input, const CommandArg& output, const Options& opt, Messages& m,
                FileResult& result, std::atomic<std::int64_t>* progress = nullptr,
                const EntryInfo* source = nullptr);

// True when the file starts with the magic number of a binary data file (as
// measurement_kind tells it).
bool is_binary_data_file(const char* name);
