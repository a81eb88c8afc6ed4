#include "sdf/sdf_import.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "errors/errors.h"
#include "log/log.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"

namespace {

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

struct DataTypeInfo {
  const char* name;
  std::size_t width;  // bytes per value in the binary form
};
constexpr std::array<DataTypeInfo, 8> kDataTypes = {{{"UCHAR", 1},
                                                     {"UINTEGER", 2},
                                                     {"ULONGINT", 4},
                                                     {"FLOAT", 4},
                                                     {"CHAR", 1},
                                                     {"INTEGER", 2},
                                                     {"LONGINT", 4},
                                                     {"DOUBLE", 8}}};

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
  std::uint8_t compression = 0;
  std::uint8_t data_type = 0;
  std::uint8_t check_type = 0;
};

// Phase points the file describes, once the dimensions have been checked.
std::size_t point_count(const SdfHeader& s) {
  return static_cast<std::size_t>(s.points * s.profiles);
}

// Default z resolution of a binary file that gives none: the height step of
// a 632.8 nm wave at normal phase resolution.
constexpr double kDefaultZResolution = 7.724609375e-11;

// ---------------------------------------------------------------------------
// Numbers, read the same whatever the process locale.

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Leading unsigned decimal integer of `s` (digits only); false when there is
// none or it exceeds `max`. `end` receives where the digits stop.
bool parse_unsigned(std::string_view s, std::uint64_t max, std::uint64_t& out,
                    const char** end = nullptr) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b < e && *b == '+') ++b;
  std::uint64_t v = 0;
  auto r = std::from_chars(b, e, v);
  if (r.ec != std::errc{} || v > max) return false;
  if (end) *end = r.ptr;
  out = v;
  return true;
}

// Leading signed decimal integer within [min, max].
bool parse_signed(std::string_view s, std::int64_t min, std::int64_t max, std::int64_t& out,
                  const char** end = nullptr) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b < e && *b == '+') ++b;
  std::int64_t v = 0;
  auto r = std::from_chars(b, e, v);
  if (r.ec != std::errc{} || v < min || v > max) return false;
  if (end) *end = r.ptr;
  out = v;
  return true;
}

// Where the first significant digit of the decimal number b..e stands
// (1 for the units digit, 0 for tenths, ...), with its exponent applied.
long long decimal_exponent(const char* b, const char* e) {
  const char* p = b;
  if (p < e && (*p == '-' || *p == '+')) ++p;
  long long integer_digits = 0, leading_zeros = 0;
  bool significant = false;
  for (; p < e && *p >= '0' && *p <= '9'; ++p) {
    if (*p != '0') significant = true;
    if (significant) ++integer_digits;
  }
  long long position = integer_digits;
  if (p < e && *p == '.') {
    for (++p; p < e && *p >= '0' && *p <= '9'; ++p) {
      if (!significant && *p == '0') ++leading_zeros;
      if (*p != '0') significant = true;
    }
    if (integer_digits == 0) position = -leading_zeros;
  }
  if (p < e && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative = p < e && *p == '-';
    if (p < e && (*p == '-' || *p == '+')) ++p;
    long long exponent = 0;
    for (; p < e && *p >= '0' && *p <= '9'; ++p)
      exponent = std::min(exponent * 10 + (*p - '0'), 1000000000LL);
    position += negative ? -exponent : exponent;
  }
  return position;
}

// Leading decimal floating value (also "inf" and "nan").
bool parse_double(std::string_view s, double& out, const char** end = nullptr) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b < e && *b == '+') ++b;
  double v = 0;
  auto r = std::from_chars(b, e, v);
  if (r.ec == std::errc::result_out_of_range) {
    // Beyond the double range: infinity when the decimal exponent of the
    // first significant digit is positive, else zero, as the C runtime's
    // conversion gives.
    v = decimal_exponent(b, r.ptr) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    if (*b == '-') v = -v;
  } else if (r.ec != std::errc{}) {
    return false;
  }
  if (end) *end = r.ptr;
  out = v;
  return true;
}

// A double narrowed to float the way a decimal text converts to float:
// values beyond the float range become infinities.
float narrow_to_float(double d) {
  // Half a unit in the last place above FLT_MAX; from there on the nearest
  // float is infinity.
  constexpr double kFloatOverflow = 3.4028235677973366e38;
  if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
  if (d >= kFloatOverflow) return std::numeric_limits<float>::infinity();
  if (d <= -kFloatOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(d);
}

// The height of one phase count of `h` as the SDF writer's Zscale line
// carries it: the single-precision step with ten significant digits.
double phase_unit(const Header& h) {
  char text[kFloatTextSize];
  double unit = 0;
  parse_double(trim(format_float_g(sdf_height_step(h), text)), unit);
  return unit;
}

// A restored phase value: rounded half away from zero; a value that no valid
// phase value can hold is refused rather than wrapped.
bool to_phase(double x, std::int32_t& out) {
  double r = std::round(x);
  if (!(r >= -2147483648.0 && r < static_cast<double>(kInvalidPhase))) return false;
  out = static_cast<std::int32_t>(r);
  return true;
}

// ---------------------------------------------------------------------------
// Data values. Every data type except DOUBLE is kept as one 32-bit pattern
// (the value itself for the integer types, the unsigned bits for ULONGINT,
// the float's bits for FLOAT) until it is rescaled.

// The value of a stored pattern, false for the type's invalid-point marker
// (and for a NaN, which is no measurement either).
bool stored_value(int type, std::int32_t s, double& v) {
  switch (type) {
    case DT_UCHAR:
      v = s;
      return s != 255;
    case DT_UINTEGER:
      v = s;
      return s != 0xFFFF;
    case DT_ULONGINT: {
      auto u = static_cast<std::uint32_t>(s);
      v = u;
      return u != 0xFFFFFFFFu;
    }
    case DT_FLOAT: {
      float f = std::bit_cast<float>(s);
      v = f;
      return f != FLT_MAX && !std::isnan(f);
    }
    case DT_CHAR:
      v = s;
      return s != 127;
    case DT_INTEGER:
      v = s;
      return s != 0x7FFF;
    case DT_LONGINT:
      v = s;
      return s != 0x7FFFFFFF;
    default:
      return false;
  }
}

bool double_value(double d, double& v) {
  v = d;
  return d != DBL_MAX && !std::isnan(d);
}

// One binary value (little-endian, the type's width) as its stored pattern.
std::int32_t binary_pattern(int type, const std::uint8_t* p) {
  switch (type) {
    case DT_UCHAR:
      return p[0];
    case DT_UINTEGER:
      return load_le16(p);
    case DT_CHAR:
      return static_cast<std::int8_t>(p[0]);
    case DT_INTEGER:
      return static_cast<std::int16_t>(load_le16(p));
    default:  // ULONGINT, FLOAT, LONGINT: the 32 bits as they are
      return static_cast<std::int32_t>(load_le32(p));
  }
}

double binary_double(const std::uint8_t* p) {
  std::uint64_t bits = std::uint64_t{load_le32(p)} | (std::uint64_t{load_le32(p + 4)} << 32);
  return std::bit_cast<double>(bits);
}

// One decimal text value of the ASCII data section. The whole token must be
// a number of the type's range.
bool text_pattern(int type, std::string_view token, std::int32_t& pattern, double& d) {
  const char* end = nullptr;
  const char* token_end = token.data() + token.size();
  std::uint64_t u = 0;
  std::int64_t i = 0;
  switch (type) {
    case DT_UCHAR:
    case DT_UINTEGER:
    case DT_ULONGINT: {
      std::uint64_t max = type == DT_UCHAR ? 0xFF : type == DT_UINTEGER ? 0xFFFF : 0xFFFFFFFFu;
      if (!parse_unsigned(token, max, u, &end) || end != token_end) return false;
      pattern = static_cast<std::int32_t>(static_cast<std::uint32_t>(u));
      return true;
    }
    case DT_CHAR:
    case DT_INTEGER:
    case DT_LONGINT: {
      std::int64_t max = type == DT_CHAR ? 0x7F : type == DT_INTEGER ? 0x7FFF : 0x7FFFFFFF;
      if (!parse_signed(token, -max - 1, max, i, &end) || end != token_end) return false;
      pattern = static_cast<std::int32_t>(i);
      return true;
    }
    case DT_FLOAT:
      if (!parse_double(token, d, &end) || end != token_end) return false;
      pattern = std::bit_cast<std::int32_t>(narrow_to_float(d));
      return true;
    case DT_DOUBLE:
      return parse_double(token, d, &end) && end == token_end;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Lines of any length, with "\n" or "\r\n" ends.

class LineReader {
 public:
  explicit LineReader(std::FILE* f) : f_(f), buf_(1 << 16) {}

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
      if (key == "ZRESOLUTION") s.z_resolution = d;
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

// Reads the binary header fields, each with one read, little-endian.
std::int32_t read_binary_header(std::FILE* f, SdfHeader& s) {
  auto read = [f](void* dst, std::size_t n) { return std::fread(dst, 1, n, f) == n; };
  std::uint8_t b16[2], b64[8];
  if (!read(s.manufacturer, 10) || !read(s.create_date, 12) || !read(s.modify_date, 12))
    return ERR_PREMATURE_EOF;
  s.create_date_complete = std::memchr(s.create_date, 0, 12) == nullptr;
  if (!read(b16, 2)) return ERR_PREMATURE_EOF;
  s.points = load_le16(b16);
  if (!read(b16, 2)) return ERR_PREMATURE_EOF;
  s.profiles = load_le16(b16);
  for (double* d : {&s.x_scale, &s.y_scale, &s.z_scale, &s.z_resolution}) {
    if (!read(b64, 8)) return ERR_PREMATURE_EOF;
    *d = binary_double(b64);
  }
  if (!read(&s.compression, 1) || !read(&s.data_type, 1) || !read(&s.check_type, 1))
    return ERR_PREMATURE_EOF;
  if (s.data_type >= kDataTypes.size()) return ERR_BAD_PARAM;
  if (!(s.z_resolution > 0)) s.z_resolution = kDefaultZResolution;
  return ERR_NONE;
}

// ---------------------------------------------------------------------------
// The header record the import builds.

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The create stamp DDMMYYYYHHMM as "Mon DD HH:MM:SS YYYY" (C locale), padded
// with spaces to the field's 30 characters; all spaces when the stamp is not
// 12 digits of a month 1 to 12.
void set_create_date(const SdfHeader& s, Header& h) {
  char text[64] = {};
  bool digits = s.create_date_complete;
  for (int i = 0; i < 12 && digits; ++i)
    digits = s.create_date[i] >= '0' && s.create_date[i] <= '9';
  if (digits) {
    auto num = [&](int at, int n) {
      int v = 0;
      for (int i = 0; i < n; ++i) v = v * 10 + (s.create_date[at + i] - '0');
      return v;
    };
    int day = num(0, 2), month = num(2, 2), year = num(4, 4), hour = num(8, 2), minute = num(10, 2);
    if (month >= 1 && month <= 12)
      std::snprintf(text, sizeof text, "%s %02d %02d:%02d:00 %d", kMonths[month - 1], day, hour,
                    minute, year);
  }
  constexpr std::size_t size = sizeof h.swinfo.date;
  std::size_t n = std::min(size, std::strlen(text));
  std::memcpy(h.swinfo.date, text, n);
  std::memset(h.swinfo.date + n, ' ', size - n);
}

void build_header(const SdfHeader& s, Header& h) {
  h = Header{};
  set_header_format(
      h, sdf_header_format(reinterpret_cast<const unsigned char*>(&h) + kHeaderTailOffset));
  h.intf_scale_factor = 0.5f;
  h.obliquity_factor = 1.0f;
  h.phase_res = 0;
  h.wavelength_in = narrow_to_float(8192.0 * s.z_resolution);
  h.lateral_res = narrow_to_float(s.x_scale);
  h.pixel_width = s.points > 0 ? narrow_to_float(s.x_scale / static_cast<double>(s.points))
                               : narrow_to_float(s.x_scale);
  h.pixel_height = h.pixel_width;
  h.camera_width = 0;
  h.camera_height = 0;
  h.cn_width = static_cast<std::int16_t>(s.points);
  h.cn_height = static_cast<std::int16_t>(s.profiles);
  h.cn_n_bytes = static_cast<std::int32_t>(point_count(s) * 4);
  h.cn_org_x = 0;
  h.cn_org_y = 0;
  set_create_date(s, h);
}

// Checks the geometry and makes the phase record (no array when either
// dimension is 0). `available` is the number of bytes the file has left for
// the data (negative when unknown); the values need at least
// n x `bytes_per_value` - `slack` of them.
std::int32_t make_phase(const SdfHeader& s, std::int64_t available, std::uint64_t bytes_per_value,
                        std::uint64_t slack, PhaseRecord& phase) {
  if (s.x_scale != s.y_scale) return ERR_BAD_PARAM;  // also when either is NaN
  if (s.points > 32767 || s.profiles > 32767) return ERR_DATASET_DIM_TOO_LARGE;
  std::size_t n = point_count(s);
  // The header's block length cn_n_bytes has to hold n x 4.
  if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4))
    return ERR_DATASET_DIM_TOO_LARGE;
  phase.width = static_cast<std::int16_t>(s.points);
  phase.height = static_cast<std::int16_t>(s.profiles);
  if (n == 0) return ERR_NONE;
  // A file too short for its dimensions is refused before allocating.
  if (available >= 0 && n * bytes_per_value - slack > static_cast<std::uint64_t>(available))
    return ERR_PREMATURE_EOF;
  return phase_record_alloc(&phase);
}

// ---------------------------------------------------------------------------
// The trailer: the header attribute listing, walked through the field table.

struct TrailerKey {
  char name[64];
  std::size_t length;
  const FieldDesc* field;  // nullptr for "Data Offset"
  std::size_t element;
  int required_bit;  // -1 when not a required field
};

constexpr std::array<const char*, 8> kRequiredFields = {
    "intf_scale_factor", "obliquity_factor", "wavelength_in", "num_aperture",
    "lateral_res",       "camera_width",     "camera_height", "phase_res"};
constexpr unsigned kAllRequired = (1u << kRequiredFields.size()) - 1;

std::vector<TrailerKey> make_trailer_keys() {
  std::vector<TrailerKey> keys;
  TrailerKey offset{};
  std::snprintf(offset.name, sizeof offset.name, "Data Offset");
  offset.length = std::strlen(offset.name);
  offset.required_bit = -1;
  keys.push_back(offset);
  for (const FieldDesc& f : kHeaderFields) {
    if (f.list_kind == ListKind::NONE) continue;
    for (std::size_t e = 0; e < f.elements(); ++e) {
      TrailerKey k{};
      header_attr_name(f, e, k.name, sizeof k.name);
      k.length = std::strlen(k.name);
      k.field = &f;
      k.element = e;
      k.required_bit = -1;
      for (std::size_t r = 0; r < kRequiredFields.size(); ++r)
        if (std::strcmp(f.name, kRequiredFields[r]) == 0) k.required_bit = static_cast<int>(r);
      keys.push_back(k);
    }
  }
  return keys;
}

const std::vector<TrailerKey>& trailer_keys() {
  static const std::vector<TrailerKey> keys = make_trailer_keys();
  return keys;
}

bool is_key_separator(char c) { return c == ' ' || c == '\t' || c == '='; }

// Stores one trailer value in its field. Returns false when a number does not
// parse or does not fit the field; `counts` tells whether the value is a
// number (a NaN is not).
bool store_trailer_value(Header& h, const TrailerKey& key, std::string_view value, bool& counts) {
  const FieldDesc& f = *key.field;
  void* dst = header_field_ptr(h, f, key.element);
  counts = true;
  switch (f.type) {
    case FieldType::TEXT: {
      if (!value.empty() && value.front() == '"') value.remove_prefix(1);
      if (auto q = value.find('"'); q != std::string_view::npos) value = value.substr(0, q);
      auto* text = static_cast<char*>(dst);
      std::memset(text, 0, f.width());
      std::memcpy(text, value.data(), std::min<std::size_t>(f.width(), value.size()));
      return true;
    }
    case FieldType::F32: {
      float v;
      if (value.find("#QNAN") != std::string_view::npos ||
          value.find("#NAN") != std::string_view::npos) {
        v = std::numeric_limits<float>::quiet_NaN();
      } else {
        double d = 0;
        if (!parse_double(value, d)) return false;
        v = narrow_to_float(d);
      }
      counts = !std::isnan(v);
      std::memcpy(dst, &v, 4);
      return true;
    }
    case FieldType::I16: {
      std::int64_t v = 0;
      if (!parse_signed(value, INT16_MIN, INT16_MAX, v)) return false;
      auto x = static_cast<std::int16_t>(v);
      std::memcpy(dst, &x, 2);
      return true;
    }
    case FieldType::I32: {
      std::int64_t v = 0;
      if (!parse_signed(value, INT32_MIN, INT32_MAX, v)) return false;
      auto x = static_cast<std::int32_t>(v);
      std::memcpy(dst, &x, 4);
      return true;
    }
    case FieldType::U32: {
      std::uint64_t v = 0;
      if (!parse_unsigned(value, UINT32_MAX, v)) return false;
      auto x = static_cast<std::uint32_t>(v);
      std::memcpy(dst, &x, 4);
      return true;
    }
    case FieldType::RAW:
      return true;
  }
  return true;
}

// Reads the trailer into `h` and the data offset. Returns ERR_CORRUPT_DATA_FILE
// (after the message) when a required field is missing.
std::int32_t read_trailer(LineReader& lines, Header& h, std::int64_t& data_offset) {
  const std::vector<TrailerKey>& keys = trailer_keys();
  unsigned seen = 0;
  std::string line;
  for (;;) {
    int r = lines.next(line);
    if (r < 0) return ERR_PREMATURE_EOF;
    if (r == 0 || (!line.empty() && line[0] == '*')) break;
    for (const TrailerKey& key : keys) {
      if (line.size() <= key.length || line.compare(0, key.length, key.name) != 0 ||
          !is_key_separator(line[key.length]))
        continue;
      std::string_view value(line);
      value.remove_prefix(key.length);
      while (!value.empty() && is_key_separator(value.front())) value.remove_prefix(1);
      if (!key.field) {
        if (!parse_signed(value, INT32_MIN, INT32_MAX, data_offset)) return ERR_PREMATURE_EOF;
        break;
      }
      bool counts = false;
      if (!store_trailer_value(h, key, value, counts)) return ERR_PREMATURE_EOF;
      if (key.required_bit >= 0) {
        if (counts)
          seen |= 1u << key.required_bit;
        else
          seen &= ~(1u << key.required_bit);
      }
      break;
    }
  }
  if (seen != kAllRequired) {
    u_notice("Missing required fields.\n");
    return ERR_CORRUPT_DATA_FILE;
  }
  return ERR_NONE;
}

// ---------------------------------------------------------------------------
// The two data sections.

std::int32_t read_ascii_data(LineReader& lines, const SdfHeader& s, PhaseRecord& phase,
                             HookArray<double>& doubles) {
  const int type = s.data_type;
  const std::size_t n = static_cast<std::size_t>(phase.count);
  if (type == DT_DOUBLE && n > 0 && !doubles.allocate(n)) return ERR_NO_MEM;
  std::size_t at = 0;
  std::string line;
  for (;;) {
    int r = lines.next(line);
    if (r < 0) return ERR_PREMATURE_EOF;
    if (r == 0) break;  // no trailer follows; the trailer check reports it
    if (is_section_end(line)) break;
    std::string_view rest(line);
    if (auto semi = rest.find(';'); semi != std::string_view::npos) rest = rest.substr(0, semi);
    for (;;) {
      while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
      if (rest.empty()) break;
      std::size_t len = 0;
      while (len < rest.size() && !is_blank(rest[len])) ++len;
      if (at >= n) return ERR_PREMATURE_EOF;  // more values than points
      std::int32_t pattern = 0;
      double d = 0;
      if (!text_pattern(type, rest.substr(0, len), pattern, d)) return ERR_PREMATURE_EOF;
      if (type == DT_DOUBLE)
        doubles[at] = d;
      else
        phase.data[at] = pattern;
      ++at;
      rest.remove_prefix(len);
    }
  }
  return at == n ? ERR_NONE : ERR_PREMATURE_EOF;
}

// Rescales the stored ASCII values into phase counts of `h`.
std::int32_t rescale_ascii(const SdfHeader& s, const Header& h, std::int64_t data_offset,
                           PhaseRecord& phase, const HookArray<double>& doubles) {
  double unit = phase_unit(h);
  // Written in exactly the header's counts: restored as they are (this also
  // holds when the step is 0 or infinite).
  double factor = s.z_scale == unit ? 1.0 : s.z_scale / unit;
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

std::int32_t read_binary_data(std::FILE* f, const SdfHeader& s, const Header& h,
                              PhaseRecord& phase) {
  const int type = s.data_type;
  const std::size_t width = kDataTypes[type].width;
  const double unit = phase_unit(h);
  const double z = s.z_scale;
  constexpr std::size_t kChunk = 1 << 14;
  std::vector<std::uint8_t> buf(kChunk * width);
  const std::size_t n = static_cast<std::size_t>(phase.count);
  for (std::size_t at = 0; at < n;) {
    std::size_t take = std::min(kChunk, n - at);
    if (std::fread(buf.data(), width, take, f) != take) return ERR_PREMATURE_EOF;
    for (std::size_t k = 0; k < take; ++k, ++at) {
      const std::uint8_t* p = buf.data() + k * width;
      double v = 0;
      bool valid = type == DT_DOUBLE ? double_value(binary_double(p), v)
                                     : stored_value(type, binary_pattern(type, p), v);
      if (!valid) {
        phase.data[at] = kInvalidPhase;
        continue;
      }
      double x = z == unit ? v : v * z / unit;
      if (!to_phase(x, phase.data[at])) return ERR_PARAM_OUT_OF_RANGE;
    }
  }
  return ERR_NONE;
}

std::int64_t remaining_bytes(std::int64_t file_size, std::uint64_t position) {
  if (file_size < 0) return -1;
  return file_size - static_cast<std::int64_t>(position);
}

// The whole import into local records; the caller's are only touched once it
// has succeeded.
std::int32_t import_sdf_file(const char* path, Header& h, PhaseRecord& phase) {
  File f(u_fopen(path, "rb"));
  if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
  SdfHeader s;
  if (std::fread(s.version, 1, 8, f.get()) != 8) return ERR_PREMATURE_EOF;
  const std::int64_t file_size = u_file_size(f.get());

  if (s.version[0] != 'a' && s.version[0] != 'A') {
    if (std::int32_t err = read_binary_header(f.get(), s)) return err;
    constexpr std::uint64_t kBinaryHeaderSize = 81;
    if (std::int32_t err = make_phase(s, remaining_bytes(file_size, kBinaryHeaderSize),
                                      kDataTypes[s.data_type].width, 0, phase))
      return err;
    build_header(s, h);
    return read_binary_data(f.get(), s, h, phase);
  }

  // The ASCII form is read again from its start. The stream stays binary:
  // lines end in LF or CR LF either way, and a text-mode read would stop at
  // a Ctrl-Z byte that a header text may hold.
  if (u_fseek(f.get(), 0) != 0) return ERR_CANT_OPEN_FILE;
  LineReader lines(f.get());
  if (std::int32_t err = read_ascii_header(lines, s)) return err;
  // Each value takes at least a digit and a separator.
  if (std::int32_t err = make_phase(s, remaining_bytes(file_size, lines.consumed()), 2, 1, phase))
    return err;
  build_header(s, h);
  HookArray<double> doubles;
  if (std::int32_t err = read_ascii_data(lines, s, phase, doubles)) return err;
  std::int64_t data_offset = 0;
  if (std::int32_t err = read_trailer(lines, h, data_offset)) return err;
  phase.org_x = h.cn_org_x;
  phase.org_y = h.cn_org_y;
  return rescale_ascii(s, h, data_offset, phase, doubles);
}

// Lines are as long as the file makes them; running out of memory for one is
// reported like any other allocation failure.
std::int32_t import_sdf(const char* path, Header& h, PhaseRecord& phase) {
  try {
    return import_sdf_file(path, h, phase);
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}

}  // namespace

std::int32_t read_sdf_header(const char* path, Header* header_out, PhaseRecord* phase_out) {
  if (!header_out || !phase_out) return ERR_INVALID_PARAM;
  Header h{};
  PhaseRecord phase;
  if (std::int32_t err = import_sdf(path, h, phase)) return err;
  *header_out = h;
  *phase_out = std::move(phase);
  return ERR_NONE;
}

std::int32_t read_sdf_file(const char* path, void* software_info_out, void* header_tail_out,
                           IntensityRecord* intensity_out, PhaseRecord* phase_out) {
  if (!software_info_out || !header_tail_out || !phase_out) return ERR_INVALID_PARAM;
  Header h{};
  PhaseRecord phase;
  if (std::int32_t err = import_sdf(path, h, phase)) return err;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&h);
  std::memcpy(software_info_out, bytes + kSoftwareInfoOffset, kSoftwareInfoSize);
  std::memcpy(header_tail_out, bytes + kHeaderTailOffset, kHeaderTailSize);
  if (intensity_out) {
    intensity_record_free(intensity_out);
    *intensity_out = IntensityRecord{};
  }
  *phase_out = std::move(phase);
  return ERR_NONE;
}

std::int32_t write_sdf_file(const char* path, const void* software_info, const void* header_tail,
                            const IntensityRecord* intensity, const PhaseRecord* phase) {
  if (intensity && !intensity->data) intensity = nullptr;
  if (phase && !phase->data) phase = nullptr;
  if (!intensity && !phase) return ERR_INVALID_PARAM;
  // The writer walks width x height values: the array has to hold them.
  if (phase && (phase->width < 0 || phase->height < 0 ||
                std::int64_t{phase->width} * phase->height > phase->count))
    return ERR_INVALID_PARAM;

  Header h{};
  auto* bytes = reinterpret_cast<unsigned char*>(&h);
  if (software_info) std::memcpy(bytes + kSoftwareInfoOffset, software_info, kSoftwareInfoSize);
  if (header_tail) std::memcpy(bytes + kHeaderTailOffset, header_tail, kHeaderTailSize);
  set_header_format(h, sdf_header_format(header_tail));

  if (intensity) {
    std::int64_t n_bytes =
        std::int64_t{intensity->width} * intensity->height * intensity->n_buckets * 2;
    if (n_bytes < 0 || n_bytes > std::numeric_limits<std::int32_t>::max())
      return ERR_DATASET_DIM_TOO_LARGE;
    h.intens_org_x = intensity->org_x;
    h.intens_org_y = intensity->org_y;
    h.intens_width = intensity->width;
    h.intens_height = intensity->height;
    h.intens_n_buckets = intensity->n_buckets;
    h.intens_range = intensity->range;
    h.intens_n_bytes = static_cast<std::int32_t>(n_bytes);
  }
  if (phase) {
    std::int64_t n_bytes = std::int64_t{phase->width} * phase->height * 4;
    if (n_bytes > std::numeric_limits<std::int32_t>::max()) return ERR_DATASET_DIM_TOO_LARGE;
    h.cn_org_x = phase->org_x;
    h.cn_org_y = phase->org_y;
    h.cn_width = phase->width;
    h.cn_height = phase->height;
    h.cn_n_bytes = static_cast<std::int32_t>(n_bytes);
  }
  return sdf_export(path, &h, intensity, phase);
}
