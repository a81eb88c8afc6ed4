// Fast, exact text output for the SDF writer: a buffered writer for long runs
// of unsigned decimal numbers, and the "%12.10g" spelling of header floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Collects text in a fixed buffer and hands it to the stream with fwrite
// whenever the buffer fills and on flush(). Numbers are spelled exactly as
// printf's "%u" spells them; nothing is allocated. After the first failed
// fwrite every further call does nothing and ok() stays false.
class NumberWriter {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  explicit NumberWriter(std::FILE* stream) : stream_(stream) {}
  NumberWriter(const NumberWriter&) = delete;
  NumberWriter& operator=(const NumberWriter&) = delete;

  // Room for `n` (at most kBufferSize) more bytes: where to write them, or
  // nullptr after a failed write. Finish with commit(end of what was written).
  char* reserve(std::size_t n) {
    if (!ok_ || (kBufferSize - used_ < n && !drain())) return nullptr;
    return buffer_ + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_); }

  // Appends `value` in decimal followed by one space, as "%u " prints it.
  void put_number_space(std::uint32_t value) {
    char* p = reserve(kMaxNumberText);
    if (!p) return;
    p += format_u32(p, value);
    *p++ = ' ';
    commit(p);
  }
  void put_char(char c) {
    char* p = reserve(1);
    if (!p) return;
    *p = c;
    commit(p + 1);
  }
  // Hands what is buffered to the stream (not fflush); false when a write
  // failed now or before.
  bool flush() { return drain(); }
  bool ok() const { return ok_; }

  // Writes the decimal digits of `value` to `out` (room for 10); returns
  // how many.
  static std::size_t format_u32(char* out, std::uint32_t value);

  static constexpr std::size_t kMaxNumberText = 11;  // 4294967295 and a space

 private:
  bool drain();

  std::FILE* stream_;
  std::size_t used_ = 0;
  bool ok_ = true;
  char buffer_[kBufferSize];
};

// The data lines of an SDF file for `count` values, the first of which
// starts a line: each value minus `offset` (4294967295 for an invalid point,
// a value of 2147483640 or more) as "%u " prints it, ten to a line, a line
// break after every tenth value and after a shorter last line. `out` has room
// for data_text_capacity(count) bytes; returns the end of the text.
inline constexpr std::size_t data_text_capacity(std::size_t count) {
  return count * NumberWriter::kMaxNumberText + count / 10 + 1;
}
char* format_data_lines(char* out, const std::int32_t* values, std::size_t count,
                        std::int32_t offset);

// The text "%12.10g" gives for `value` widened to double, written to `out`
// (at least kFloatTextSize bytes) and returned. NaN and infinity are spelled
// "nan", "-nan", "inf" and "-inf", right-aligned in 12 characters, on every
// platform, so that files do not depend on the C runtime they were made with.
inline constexpr std::size_t kFloatTextSize = 48;
const char* format_float_g(float value, char* out);
