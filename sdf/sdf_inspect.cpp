// Any SDF file as a stream of rows: the header section, the trailer found
// where it is without reading the data, and the data section read by the
// import's own readers, one pass at a time.
#include "sdf/sdf_inspect.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include "errors/errors.h"
#include "platform/file_io.h"
#include "sdf/sdf_reading.h"
#include "sdf/sdf_writer.h"

using namespace sdf_detail;

namespace {

// Rows longer than this are refused: a row's values are held at once.
constexpr std::uint64_t kMaxRow = std::uint64_t{1} << 20;
constexpr std::uint64_t kMaxRows = std::uint64_t{1} << 32;

// The end of a file an ASCII trailer is looked for in: tovrel's takes a few
// kilobytes.
constexpr std::int64_t kTrailerTail = 64 * 1024;

std::string text_of(const char* s, std::size_t size) { return std::string(s, strnlen(s, size)); }

bool is_iso(const char* version) {
  auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return up(version[1]) == 'I' && up(version[2]) == 'S' && up(version[3]) == 'O';
}

// Where tovrel's trailer starts in an ASCII file: its "Data Offset" line,
// right after the data section's '*' line, in the last kTrailerTail bytes.
// -1 when there is none.
std::int64_t find_ascii_trailer(std::FILE* f, std::uint64_t data_start) {
  const std::int64_t size = u_file_size(f);
  if (size < 0 || static_cast<std::uint64_t>(size) <= data_start) return -1;
  const std::int64_t from = std::max(static_cast<std::int64_t>(data_start), size - kTrailerTail);
  std::vector<char> tail(static_cast<std::size_t>(size - from));
  if (u_fseek(f, from) != 0 || std::fread(tail.data(), 1, tail.size(), f) != tail.size()) return -1;
  static constexpr std::string_view kKey = "\nData Offset";
  const std::string_view text(tail.data(), tail.size());
  std::size_t at = text.rfind(kKey);
  // The line before must lie wholly in the tail.
  while (at != std::string_view::npos && at > 0) {
    const std::size_t line = text.rfind('\n', at - 1);
    if (line == std::string_view::npos && from != static_cast<std::int64_t>(data_start)) break;
    const std::size_t begin = line == std::string_view::npos ? 0 : line + 1;
    if (is_section_end(text.substr(begin, at - begin)))
      return from + static_cast<std::int64_t>(at) + 1;
    at = text.rfind(kKey, at - 1);
  }
  return -1;
}

// Turns the values of the data section into rows for the sink.
class RowFeed final : public ValueSink {
 public:
  RowFeed(const surface::MapGeometry& map, int type, bool iso, std::int64_t offset,
          surface::HeightSink& sink)
      : width_(map.width),
        type_(type),
        offset_(static_cast<double>(offset)),
        sink_(sink),
        values_(map.width),
        missing_(map.width) {
    // In the ISO dialect a signed type's smallest value marks a missing
    // point too (a float's: its lowest finite value).
    if (iso) {
      switch (type) {
        case DT_CHAR:
          lowest_ = -128;
          break;
        case DT_INTEGER:
          lowest_ = -32768;
          break;
        case DT_LONGINT:
          lowest_ = -2147483648.0;
          break;
        case DT_FLOAT:
          lowest_ = -FLT_MAX;
          break;
        case DT_DOUBLE:
          lowest_ = -DBL_MAX;
          break;
        default:
          break;
      }
    }
  }

  std::int32_t take(const std::int32_t* patterns, const double* doubles,
                    std::size_t count) override {
    while (count > 0) {
      const std::size_t span =
          static_cast<std::size_t>(std::min<std::uint64_t>(count, width_ - at_));
      convert(patterns, doubles, span, values_.data() + at_, missing_.data() + at_);
      if (patterns) patterns += span;
      if (doubles) doubles += span;
      count -= span;
      at_ += span;
      if (at_ == width_) {
        sink_.row(y_++, values_.data(), missing_.data());
        at_ = 0;
      }
    }
    return ERR_NONE;
  }

 private:
  void convert(const std::int32_t* patterns, const double* doubles, std::size_t count,
               double* values, std::uint8_t* missing) const {
    if (type_ == DT_FLOAT || type_ == DT_DOUBLE) {
      for (std::size_t k = 0; k < count; ++k) {
        double v = 0;
        bool valid =
            type_ == DT_DOUBLE ? double_value(doubles[k], v) : stored_value(type_, patterns[k], v);
        valid = valid && v != lowest_ && std::isfinite(v);
        missing[k] = !valid;
        values[k] = valid ? v + offset_ : 0.0;
      }
      return;
    }
    // The integer types: a comparison with the markers each.
    const std::int64_t marker = kDataTypes[type_].limit;
    const std::int64_t lowest = std::isnan(lowest_) ? marker : static_cast<std::int64_t>(lowest_);
    const double offset = offset_;
    if (type_ == DT_ULONGINT) {
      for (std::size_t k = 0; k < count; ++k) {
        const std::int64_t v = static_cast<std::uint32_t>(patterns[k]);
        const bool m = v == marker;
        missing[k] = m;
        values[k] = m ? 0.0 : static_cast<double>(v) + offset;
      }
    } else {
      // Both markers fit 32 bits here. The values are compared as the
      // doubles they are turned into, and the flags in a loop of their own:
      // each loop keeps to one width of lanes, which the compiler vectorises.
      const auto m1 = static_cast<std::int32_t>(marker), m2 = static_cast<std::int32_t>(lowest);
      const double d1 = m1, d2 = m2;
      const int n = static_cast<int>(count);  // a chunk's values: far below 2^31
      for (int k = 0; k < n; ++k) {
        const double x = patterns[k];
        values[k] = x == d1 || x == d2 ? 0.0 : x + offset;
      }
      for (int k = 0; k < n; ++k) missing[k] = (patterns[k] == m1) | (patterns[k] == m2);
    }
  }

  std::uint64_t width_;
  int type_;
  double offset_;
  double lowest_ = std::numeric_limits<double>::quiet_NaN();  // equal to no value
  surface::HeightSink& sink_;
  std::vector<double> values_;
  std::vector<std::uint8_t> missing_;
  std::uint64_t at_ = 0, y_ = 0;
};

}  // namespace

std::int32_t SdfInspection::open(const char* path) {
  try {
    *this = SdfInspection{};
    path_ = u_path_copy(path);
    File f(u_fopen(path, "rb"));
    if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
    SdfHeader s;
    if (std::fread(s.version, 1, 8, f.get()) != 8) return ERR_PREMATURE_EOF;
    binary_ = s.version[0] != 'a' && s.version[0] != 'A';
    if (binary_) {
      if (std::int32_t err = read_binary_header(f.get(), s)) return err;
      data_start_ = kBinaryHeaderSize;
    } else {
      if (u_fseek(f.get(), 0) != 0) return ERR_CANT_OPEN_FILE;
      LineReader lines(f.get());
      if (std::int32_t err = read_ascii_header(lines, s)) return err;
      data_start_ = lines.consumed();
    }
    if (s.points > kMaxRow || s.profiles > kMaxRows) return ERR_DATASET_DIM_TOO_LARGE;
    iso_ = is_iso(s.version);
    section_ = {text_of(s.version, 8),
                text_of(s.manufacturer, 10),
                text_of(s.create_date, 12),
                text_of(s.modify_date, 12),
                s.points,
                s.profiles,
                s.x_scale,
                s.y_scale,
                s.z_scale,
                s.z_resolution_written,
                s.compression,
                s.data_type,
                s.check_type};
    build_header(s, header_);

    // tovrel's trailer: right after the values in the binary form, after the
    // data section's '*' line in the ASCII form.
    std::int64_t trailer_at = -1;
    const std::uint64_t n = s.points * s.profiles;
    if (binary_) {
      const std::uint64_t data_end = kBinaryHeaderSize + n * kDataTypes[s.data_type].width;
      static constexpr char kTrailerStart[] = "Data Offset";
      char start[sizeof kTrailerStart - 1];
      if (n > 0 && u_fseek(f.get(), static_cast<std::int64_t>(data_end)) == 0 &&
          std::fread(start, 1, sizeof start, f.get()) == sizeof start &&
          std::memcmp(start, kTrailerStart, sizeof start) == 0)
        trailer_at = static_cast<std::int64_t>(data_end);
    } else {
      trailer_at = find_ascii_trailer(f.get(), data_start_);
    }
    if (trailer_at >= 0) {
      if (u_fseek(f.get(), trailer_at) != 0) return ERR_PREMATURE_EOF;
      LineReader lines(f.get());
      TrailerFacts facts;
      if (std::int32_t err = read_trailer(lines, header_, data_offset_, &facts)) return err;
      trailer_ = facts.complete ? SdfTrailer::kComplete : SdfTrailer::kIncomplete;
    }

    const double unit = sdf_phase_unit(header_);
    count_factor_ = s.z_scale == unit ? 1.0 : s.z_scale / unit;
    map_.width = s.points;
    map_.height = s.profiles;
    map_.dx = s.x_scale;
    map_.dy = s.y_scale;
    map_.unit = trailer_ == SdfTrailer::kComplete && s.z_scale == unit
                    ? static_cast<double>(sdf_height_step(header_))
                    : s.z_scale;
    map_.integral = s.data_type != DT_FLOAT && s.data_type != DT_DOUBLE;
    return ERR_NONE;
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}

std::int32_t SdfInspection::read(surface::HeightSink& sink) const {
  try {
    File f(u_fopen(path_.c_str(), "rb"));
    if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
    if (u_fseek(f.get(), static_cast<std::int64_t>(data_start_)) != 0) return ERR_PREMATURE_EOF;
    const std::size_t n = static_cast<std::size_t>(map_.width * map_.height);
    RowFeed feed(map_, section_.data_type, iso_, data_offset_, sink);
    sink.begin(map_);
    if (binary_) return read_binary_values(f.get(), section_.data_type, n, feed);
    SdfHeader s;
    s.data_type = static_cast<std::uint8_t>(section_.data_type);
    LineReader lines(f.get());
    return read_ascii_data(lines, s, n, feed, {.bad_is_missing = true});
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}
