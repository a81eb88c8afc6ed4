// What the SDF import's readers share: the header section as read, the data
// types, numbers read the same in every locale, the line reader, and the
// reading steps each form takes (sdf_ascii_reader.cpp, sdf_trailer.cpp,
// sdf_binary_reader.cpp; sdf_import.cpp puts them together).
#pragma once

#include <array>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "datafile/header.h"
#include "datafile/records.h"
#include "platform/memory.h"

namespace sdf_detail {

// ---------------------------------------------------------------------------
// The SDF header section.

enum DataType : int {
  DT_UCHAR = 0,
  DT_UINTEGER = 1,
  DT_ULONGINT = 2,
  DT_FLOAT = 3,
  DT_CHAR = 4,
  DT_INTEGER = 5,
  DT_LONGINT = 6,
  DT_DOUBLE = 7,
};

// The data types, in code order: every reader and writer of values walks
// this table. An integer type's invalid-point marker is its largest value.
struct DataTypeInfo {
  const char* name;
  std::size_t width;  // bytes per value in the binary form
  bool is_signed;     // also the floating types
  bool is_integer;
  std::int64_t limit;  // an integer type's largest value; 0 for the floating types
  double invalid;      // the value that marks a point without a measurement
};
inline constexpr std::array<DataTypeInfo, 8> kDataTypes = {{
    {.name = "UCHAR",
     .width = 1,
     .is_signed = false,
     .is_integer = true,
     .limit = 0xFF,
     .invalid = 0xFF},
    {.name = "UINTEGER",
     .width = 2,
     .is_signed = false,
     .is_integer = true,
     .limit = 0xFFFF,
     .invalid = 0xFFFF},
    {.name = "ULONGINT",
     .width = 4,
     .is_signed = false,
     .is_integer = true,
     .limit = 0xFFFFFFFF,
     .invalid = 0xFFFFFFFF},
    {.name = "FLOAT",
     .width = 4,
     .is_signed = true,
     .is_integer = false,
     .limit = 0,
     .invalid = FLT_MAX},
    {.name = "CHAR",
     .width = 1,
     .is_signed = true,
     .is_integer = true,
     .limit = 0x7F,
     .invalid = 0x7F},
    {.name = "INTEGER",
     .width = 2,
     .is_signed = true,
     .is_integer = true,
     .limit = 0x7FFF,
     .invalid = 0x7FFF},
    {.name = "LONGINT",
     .width = 4,
     .is_signed = true,
     .is_integer = true,
     .limit = 0x7FFFFFFF,
     .invalid = 0x7FFFFFFF},
    {.name = "DOUBLE",
     .width = 8,
     .is_signed = true,
     .is_integer = false,
     .limit = 0,
     .invalid = DBL_MAX},
}};
static_assert(kDataTypes[DT_ULONGINT].width == 4 && kDataTypes[DT_DOUBLE].width == 8);

struct SdfHeader {
  char version[9] = {};
  char manufacturer[11] = {};
  char create_date[13] = {};
  bool create_date_complete = false;  // the value had exactly 12 characters
  char modify_date[13] = {};
  std::uint64_t points = 0;
  std::uint64_t profiles = 0;
  double x_scale = 0;
  double y_scale = 0;
  double z_scale = 0;
  double z_resolution = 0;
  double z_resolution_written = 0;  // before a binary file's default for none
  std::uint8_t compression = 0;
  std::uint8_t data_type = 0;
  std::uint8_t check_type = 0;
};

// Phase points the file describes, once the dimensions have been checked.
inline std::size_t point_count(const SdfHeader& s) {
  return static_cast<std::size_t>(s.points * s.profiles);
}

// Default z resolution of a binary file that gives none: the height step of
// a 632.8 nm wave at normal phase resolution.
inline constexpr double kDefaultZResolution = 7.724609375e-11;

// ---------------------------------------------------------------------------
// Numbers, read the same whatever the process locale.

bool is_blank(char c);
std::string_view trim(std::string_view s);

// Leading unsigned decimal integer of `s` (digits only); false when there is
// none or it exceeds `max`. `end` receives where the digits stop.
bool parse_unsigned(std::string_view s, std::uint64_t max, std::uint64_t& out,
                    const char** end = nullptr);

// Leading signed decimal integer within [min, max].
bool parse_signed(std::string_view s, std::int64_t min, std::int64_t max, std::int64_t& out,
                  const char** end = nullptr);

// Leading decimal floating value (also "inf" and "nan").
bool parse_double(std::string_view s, double& out, const char** end = nullptr);

// A double narrowed to float the way a decimal text converts to float:
// values beyond the float range become infinities.
float narrow_to_float(double d);

// A restored phase value: rounded half away from zero; a value that no valid
// phase value can hold is refused rather than wrapped.
bool to_phase(double x, std::int32_t& out);

// ---------------------------------------------------------------------------
// Data values. Every data type except DOUBLE is kept as one 32-bit pattern
// (the value itself for the integer types, the unsigned bits for ULONGINT,
// the float's bits for FLOAT) until it is rescaled.

// The value of an integer type's stored pattern (the unsigned types' 32
// bits are without a sign).
constexpr std::int64_t integer_value(int type, std::int32_t s) {
  return kDataTypes[type].is_signed ? std::int64_t{s} : std::int64_t{static_cast<std::uint32_t>(s)};
}

// The value of a stored pattern, false for the type's invalid-point marker
// (and for a NaN, which is no measurement either).
bool stored_value(int type, std::int32_t s, double& v);
bool double_value(double d, double& v);

// One binary value (little-endian, the type's width) as its stored pattern.
std::int32_t binary_pattern(int type, const std::uint8_t* p);
double binary_double(const std::uint8_t* p);

// One decimal text value of the ASCII data section. The whole token must be
// a number of the type's range.
bool text_pattern(int type, std::string_view token, std::int32_t& pattern, double& d);

// ---------------------------------------------------------------------------
// Lines of any length, with "\n" or "\r\n" ends.

class LineReader {
 public:
  explicit LineReader(std::FILE* f) : f_(f), buf_(1 << 16) {}

  std::FILE* file() const { return f_; }

  // 1 with a line in `line`, 0 at the end of the file, -1 on a read error.
  int next(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (pos_ == len_) {
        len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
        pos_ = 0;
        if (len_ == 0) {
          if (std::ferror(f_)) return -1;
          if (!any) return 0;
          strip_cr(line);
          return 1;
        }
      }
      const char* s = buf_.data() + pos_;
      std::size_t avail = len_ - pos_;
      const void* nl = std::memchr(s, '\n', avail);
      std::size_t take = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - s) : avail;
      line.append(s, take);
      any = true;
      pos_ += take;
      consumed_ += take;
      if (nl) {
        ++pos_;
        ++consumed_;
        strip_cr(line);
        return 1;
      }
    }
  }

  // Characters handed out so far, line ends included.
  std::uint64_t consumed() const { return consumed_; }

  // Hands over the characters read ahead of the lines handed out, as if they
  // had been handed out too; the caller goes on reading the file itself.
  void take_pending(std::vector<char>& into) {
    into.assign(buf_.begin() + static_cast<std::ptrdiff_t>(pos_),
                buf_.begin() + static_cast<std::ptrdiff_t>(len_));
    consumed_ += len_ - pos_;
    pos_ = len_;
  }

  // Gives back characters taken from the file, to be read as lines before
  // the rest of the file. Only when nothing is pending.
  void put_back(const char* text, std::size_t size) {
    if (size > buf_.size()) buf_.resize(size);
    if (size > 0) std::memcpy(buf_.data(), text, size);
    pos_ = 0;
    len_ = size;
    consumed_ -= size;
  }

 private:
  static void strip_cr(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }

  std::FILE* f_;
  std::vector<char> buf_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  std::uint64_t consumed_ = 0;
};

// True when the line's first character that is not a space or tab is '*'.
bool is_section_end(std::string_view line);

// ---------------------------------------------------------------------------
// The reading steps.

// Reads the ASCII header section up to and including its '*' line.
std::int32_t read_ascii_header(LineReader& lines, SdfHeader& s);

// Takes the values of a data section as they are read, in order.
class ValueSink {
 public:
  // The next `count` values: their stored patterns, or for DOUBLE their
  // values in `doubles`. Anything but ERR_NONE stops the reading with that
  // code.
  virtual std::int32_t take(const std::int32_t* patterns, const double* doubles,
                            std::size_t count) = 0;

 protected:
  ~ValueSink() = default;
};

// How the ASCII data section is read.
struct AsciiDataOptions {
  int threads = 0;  // see threads.h: the calling one included, 0 for one a processor
  std::size_t chunk_bytes = 256 * 1024;
  bool bad_is_missing = false;  // the token BAD stands for a missing point
};
inline constexpr std::size_t kAsciiChunkBytes = AsciiDataOptions{}.chunk_bytes;

// The missing-point pattern a BAD token stands for: the type's marker, or a
// NaN for FLOAT.
std::int32_t missing_pattern(int type);

// Reads the `n` values of the ASCII data section into `sink`, up to and
// including its '*' line; the lines after it are left to `lines`. The text is
// read in chunks of `chunk_bytes` (longer when a line is), on `threads`
// threads, and handed on in order. Running out of memory for a line throws
// std::bad_alloc.
std::int32_t read_ascii_data(LineReader& lines, const SdfHeader& s, std::size_t n, ValueSink& sink,
                             const AsciiDataOptions& options = {});

// The same into `phase` (its array already made), or into `doubles` for the
// DOUBLE type.
std::int32_t read_ascii_data(LineReader& lines, const SdfHeader& s, PhaseRecord& phase,
                             HookArray<double>& doubles, int threads = 0,
                             std::size_t chunk_bytes = kAsciiChunkBytes);

// What a trailer held, for a reader that takes a trailer without the
// required fields as a fact rather than an error.
struct TrailerFacts {
  bool complete = false;  // every required field was there
};

// Reads the trailer into `h` and the data offset. Without `facts`, returns
// ERR_CORRUPT_DATA_FILE (after the notice) when a required field is missing;
// with them, says so there instead.
std::int32_t read_trailer(LineReader& lines, Header& h, std::int64_t& data_offset,
                          TrailerFacts* facts = nullptr);

// Rescales the stored ASCII values into phase counts of `h`.
std::int32_t rescale_ascii(const SdfHeader& s, const Header& h, std::int64_t data_offset,
                           PhaseRecord& phase, const HookArray<double>& doubles);

// The header record a file's header section describes, before a trailer
// brings the whole of it.
void build_header(const SdfHeader& s, Header& h);

// Reads the binary header fields, each with one read, little-endian.
std::int32_t read_binary_header(std::FILE* f, SdfHeader& s);

// Reads the `n` values of the binary data section into `sink`.
std::int32_t read_binary_values(std::FILE* f, int type, std::size_t n, ValueSink& sink);

// Reads the binary data section into `phase` (its array already made), in
// phase counts of `h`, adding `data_offset` (0 unless a trailer gave one) to
// each valid value first.
std::int32_t read_binary_data(std::FILE* f, const SdfHeader& s, const Header& h,
                              std::int64_t data_offset, PhaseRecord& phase);

// Size of the binary header, the 8-byte version text included.
inline constexpr std::uint64_t kBinaryHeaderSize = 81;

}  // namespace sdf_detail
