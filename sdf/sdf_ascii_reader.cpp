// The ASCII form: header section and data section.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "errors/errors.h"
#include "sdf/sdf_reading.h"
#include "sdf/sdf_writer.h"

namespace sdf_detail {

// True when the line's first character that is not a space or tab is '*'.
bool is_section_end(std::string_view line) {
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    return c == '*';
  }
  return false;
}

void copy_text(char* dst, std::size_t size, std::string_view value) {
  std::memset(dst, 0, size);
  std::memcpy(dst, value.data(), std::min(size - 1, value.size()));
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

// Reads the ASCII header section up to and including its '*' line.
std::int32_t read_ascii_header(LineReader& lines, SdfHeader& s) {
  std::string line;
  for (;;) {
    int r = lines.next(line);
    if (r <= 0) return ERR_PREMATURE_EOF;
    if (is_section_end(line)) return ERR_NONE;
    std::string_view text(line);
    if (auto semi = text.find(';'); semi != std::string_view::npos) text = text.substr(0, semi);
    text = trim(text);
    auto eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = upper(trim(text.substr(0, eq)));
    std::string value = upper(trim(text.substr(eq + 1)));
    std::string_view v(value);
    if (key == "MANUFACID") {
      copy_text(s.manufacturer, sizeof s.manufacturer, v);
    } else if (key == "CREATEDATE") {
      copy_text(s.create_date, sizeof s.create_date, v);
      s.create_date_complete = v.size() == 12;
    } else if (key == "MODDATE") {
      copy_text(s.modify_date, sizeof s.modify_date, v);
    } else if (key == "NUMPOINTS" || key == "NUMPROFILES") {
      // Anything above 32-bit range is as much too large as 32767 + 1 is.
      std::uint64_t n = 0;
      if (!parse_unsigned(v, std::numeric_limits<std::uint64_t>::max(), n)) {
        if (v.empty() || v[0] < '0' || v[0] > '9') return ERR_PREMATURE_EOF;
        n = std::numeric_limits<std::uint64_t>::max();
      }
      (key == "NUMPOINTS" ? s.points : s.profiles) = n;
    } else if (key == "XSCALE" || key == "YSCALE" || key == "ZSCALE" || key == "ZRESOLUTION") {
      double d = 0;
      if (!parse_double(v, d)) return ERR_PREMATURE_EOF;
      if (key == "XSCALE") s.x_scale = d;
      if (key == "YSCALE") s.y_scale = d;
      if (key == "ZSCALE") s.z_scale = d;
      if (key == "ZRESOLUTION") s.z_resolution = s.z_resolution_written = d;
    } else if (key == "COMPRESSION") {
      s.compression = v == "RRL" || v == "1";
    } else if (key == "DATATYPE") {
      int type = -1;
      if (v.size() == 1 && v[0] >= '0' && v[0] <= '7') type = v[0] - '0';
      for (std::size_t t = 0; t < kDataTypes.size() && type < 0; ++t)
        if (v == kDataTypes[t].name) type = static_cast<int>(t);
      if (type < 0) return ERR_BAD_PARAM;
      s.data_type = static_cast<std::uint8_t>(type);
    } else if (key == "CHECKTYPE") {
      s.check_type = v == "UINTTRACE" || v == "1";
    }
  }
}

// Rescales the stored ASCII values into phase counts of `h`.
std::int32_t rescale_ascii(const SdfHeader& s, const Header& h, std::int64_t data_offset,
                           PhaseRecord& phase, const HookArray<double>& doubles) {
  double unit = sdf_phase_unit(h);
  // Written in exactly the header's counts: restored as they are (this also
  // holds when the step is 0 or infinite).
  double factor = s.z_scale == unit ? 1.0 : s.z_scale / unit;
  const int type = s.data_type;
  if (factor == 1.0 && kDataTypes[type].is_integer) {
    // Whole numbers in the header's own counts (what tovrel writes): offset
    // plus value is whole already, so it is restored without rounding, to
    // the same result.
    const std::int64_t marker = kDataTypes[type].limit;
    for (std::int32_t i = 0; i < phase.count; ++i) {
      const std::int64_t v = integer_value(type, phase.data[i]);
      if (v == marker) {
        phase.data[i] = kInvalidPhase;
        continue;
      }
      const std::int64_t r = data_offset + v;
      if (r < INT32_MIN || r >= kInvalidPhase) return ERR_PARAM_OUT_OF_RANGE;
      phase.data[i] = static_cast<std::int32_t>(r);
    }
    return ERR_NONE;
  }
  for (std::int32_t i = 0; i < phase.count; ++i) {
    double v = 0;
    bool valid = s.data_type == DT_DOUBLE ? double_value(doubles[i], v)
                                          : stored_value(s.data_type, phase.data[i], v);
    if (!valid) {
      phase.data[i] = kInvalidPhase;
      continue;
    }
    if (!to_phase((static_cast<double>(data_offset) + v) * factor, phase.data[i]))
      return ERR_PARAM_OUT_OF_RANGE;
  }
  return ERR_NONE;
}

}  // namespace sdf_detail
