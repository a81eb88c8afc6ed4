// Helpers shared by the fuzz targets: a scratch file private to the process
// (the readers take a path, not a buffer) and checks that abort with a
// message, so that the fuzzer keeps the input that broke an expectation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The path of a scratch file named after `tag`, private to this process and
// removed when it exits. The same tag gives the same path on every call.
const std::string& scratch_file(const char* tag);

// Replaces the scratch file's content with `size` bytes; aborts when the
// file cannot be written (the machine, not the input, is at fault).
void write_file(const std::string& path, const std::uint8_t* data, std::size_t size);

// The whole content of a file; aborts when it cannot be read.
std::string read_file(const std::string& path);

// Prints the failed expectation and aborts.
[[noreturn]] void check_failed(const char* file, int line, const char* what);

}  // namespace fuzz

// An expectation about what the library returned. Unlike assert it stays on
// in every build type.
#define FUZZ_CHECK(cond) \
  ((cond) ? static_cast<void>(0) : ::fuzz::check_failed(__FILE__, __LINE__, #cond))
