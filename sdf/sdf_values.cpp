// Numbers and data values of SDF files, read the same whatever the locale.
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/byte_order.h"
#include "sdf/sdf_reading.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"

namespace sdf_detail {

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
bool parse_unsigned(std::string_view s, std::uint64_t max, std::uint64_t& out, const char** end) {
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
                  const char** end) {
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

namespace {

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

}  // namespace

// Leading decimal floating value (also "inf" and "nan").
bool parse_double(std::string_view s, double& out, const char** end) {
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
  // A NaN keeps its sign: the listing spells "-nan" and "nan" apart.
  if (std::isnan(d))
    return std::copysign(std::numeric_limits<float>::quiet_NaN(), static_cast<float>(d));
  if (d >= kFloatOverflow) return std::numeric_limits<float>::infinity();
  if (d <= -kFloatOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(d);
}

// A restored phase value: rounded half away from zero; a value that no valid
// phase value can hold is refused rather than wrapped.
bool to_phase(double x, std::int32_t& out) {
  double r = std::round(x);
  if (!(r >= -2147483648.0 && r < static_cast<double>(kInvalidPhase))) return false;
  out = static_cast<std::int32_t>(r);
  return true;
}

// The value of a stored pattern, false for the type's invalid-point marker
// (and for a NaN, which is no measurement either).
bool stored_value(int type, std::int32_t s, double& v) {
  if (type < 0 || type >= DT_DOUBLE) return false;
  v = type == DT_FLOAT ? double{std::bit_cast<float>(s)}
                       : static_cast<double>(integer_value(type, s));
  return v != kDataTypes[type].invalid && !std::isnan(v);
}

bool double_value(double d, double& v) {
  v = d;
  return d != kDataTypes[DT_DOUBLE].invalid && !std::isnan(d);
}

// One binary value (little-endian, the type's width) as its stored pattern.
std::int32_t binary_pattern(int type, const std::uint8_t* p) {
  const DataTypeInfo& t = kDataTypes[type];
  switch (t.width) {
    case 1:
      return t.is_signed ? std::int32_t{static_cast<std::int8_t>(p[0])} : std::int32_t{p[0]};
    case 2:
      return t.is_signed ? std::int32_t{static_cast<std::int16_t>(load_le16(p))}
                         : std::int32_t{load_le16(p)};
    default:  // the 32 bits as they are
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
  if (type < 0 || type > DT_DOUBLE) return false;
  const DataTypeInfo& t = kDataTypes[type];
  const char* end = nullptr;
  const char* token_end = token.data() + token.size();
  if (t.is_integer && !t.is_signed) {
    std::uint64_t u = 0;
    if (!parse_unsigned(token, static_cast<std::uint64_t>(t.limit), u, &end) || end != token_end)
      return false;
    pattern = static_cast<std::int32_t>(static_cast<std::uint32_t>(u));
    return true;
  }
  if (t.is_integer) {
    std::int64_t i = 0;
    if (!parse_signed(token, -t.limit - 1, t.limit, i, &end) || end != token_end) return false;
    pattern = static_cast<std::int32_t>(i);
    return true;
  }
  if (!parse_double(token, d, &end) || end != token_end) return false;
  if (type == DT_FLOAT) pattern = std::bit_cast<std::int32_t>(narrow_to_float(d));
  return true;
}

}  // namespace sdf_detail
