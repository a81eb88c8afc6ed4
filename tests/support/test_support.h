// Shared helpers for the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datafile/header.h"
#include "datafile/records.h"

namespace testing_support {

// A fresh directory that is removed with everything in it when it goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the directory, as UTF-8 text.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
  // The streams byte for byte. A Windows program writes its text-mode lines
  // with CR LF; `out` and `err` have every CR LF turned into LF so that tests
  // compare the same text on every platform.
  std::string out_bytes, err_bytes;
};

// Runs `exe` with `args` (UTF-8; on Windows passed as a UTF-16 command line),
// standard input empty, and captures both output streams.
RunResult run_program(const std::string& exe, const std::vector<std::string>& args);

// The tovrel program built with the tests.
inline std::string tovrel_exe() { return TOVREL_EXE; }

// Everything `write` writes to a temporary binary stream.
std::string captured(const std::function<void(std::FILE*)>& write);

// The attribute listing of `h` as text; `result` (when given) receives what
// write_header_attributes returned.
std::string attribute_listing(const Header& h, int* result = nullptr);

std::vector<std::uint8_t> read_bytes(const std::string& path);
std::string read_text(const std::string& path);
void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void write_text(const std::string& path, const std::string& text);

// A header whose every field holds a distinct value derived from its place
// in the field table (texts get distinct printable strings), with the magic
// number of `format`. Catches offset, width and byte-order slips.
Header distinct_header(int format);

// A synthetic measurement (see tools/synthetic.h): header and both records.
struct Measurement {
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
};
Measurement synthetic_measurement(int format, std::int16_t width, std::int16_t height,
                                  bool intensity = true);

// A phase record of width x height holding `values` row after row.
PhaseRecord make_phase(std::int16_t width, std::int16_t height,
                       const std::vector<std::int32_t>& values);

// While it lives, the library's allocations go through a hook that records
// the largest request and, when `refuse_all` is set, refuses every one. The
// hooks it replaced come back when it goes away.
class AllocationWatch {
 public:
  explicit AllocationWatch(bool refuse_all = false);
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;
  std::size_t largest() const;
  void refuse_all(bool refuse);
};

// A fixture for running the real tovrel program on a synthetic data file in a
// scratch directory. Every run checks that standard output stays empty and
// that the input file is unchanged.
class TovrelProgramTest : public ::testing::Test {
 protected:
  // Writes a width x height synthetic measurement to `in_name` in the scratch
  // directory and names the output `out_name` there.
  void make_files(const std::string& in_name, const std::string& out_name, std::int16_t width,
                  std::int16_t height);
  RunResult run(const std::vector<std::string>& args);
  // The second message line of a failed conversion.
  static std::string unable(const std::string& in, const std::string& out);

  ScratchDir dir;
  std::string input, output;
  std::vector<std::uint8_t> input_bytes;
};

}  // namespace testing_support
