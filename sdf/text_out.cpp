#include "sdf/text_out.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "datafile/records.h"
#include "sdf/sdf_reading.h"

namespace {

// "00" "01" ... "99": two digits per table look-up.
constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes 0 <= v < 100 without leading zero; returns the end.
inline char* put_small(char* p, std::uint32_t v) {
  if (v < 10) {
    *p = static_cast<char>('0' + v);
    return p + 1;
  }
  std::memcpy(p, kDigitPairs + 2 * v, 2);
  return p + 2;
}

// Writes 0 <= v < 10000 as exactly four digits.
inline void put_four(char* p, std::uint32_t v) {
  std::memcpy(p, kDigitPairs + 2 * (v / 100), 2);
  std::memcpy(p + 2, kDigitPairs + 2 * (v % 100), 2);
}

// Writes the two digits of v < 100.
inline void put_pair(char* p, std::uint32_t v) { std::memcpy(p, kDigitPairs + 2 * v, 2); }

// Nine or ten digits: rare (an invalid point is one), so kept out of line.
[[gnu::noinline]] char* put_nine_or_ten(char* p, std::uint32_t value) {
  const std::uint32_t low8 = value % 100000000;
  p = put_small(p, value / 100000000);
  put_four(p, low8 / 10000);
  put_four(p + 4, low8 % 10000);
  return p + 8;
}

// Up to eight digits: the value is scaled to a fixed-point fraction of the
// power of ten below it (32 bits after the point, rounded up so that the
// digits come out exact), whose integer part is the leading one or two
// digits; each multiplication of the fraction by 100 then brings the next
// two digits into the integer part. One multiplication per two digits, and
// none of them waits on a division. Inlined into the data lines' loop,
// where a call per value would cost a fifth of the time.
[[gnu::always_inline]] inline std::size_t put_u32(char* out, std::uint32_t value) {
  char* p = out;
  // The leading one or two digits, then the pairs after them.
  auto next_pair = [&p](std::uint64_t& y) {
    y = std::uint64_t{static_cast<std::uint32_t>(y)} * 100;
    put_pair(p, static_cast<std::uint32_t>(y >> 32));
    p += 2;
  };
  if (value < 100) return static_cast<std::size_t>(put_small(p, value) - out);
  if (value < 10000) {
    std::uint64_t y = std::uint64_t{value} * 42949673u;  // ceil(2^32 / 10^2)
    p = put_small(p, static_cast<std::uint32_t>(y >> 32));
    next_pair(y);
  } else if (value < 1000000) {
    std::uint64_t y = std::uint64_t{value} * 429497u;  // ceil(2^32 / 10^4)
    p = put_small(p, static_cast<std::uint32_t>(y >> 32));
    next_pair(y);
    next_pair(y);
  } else if (value < 100000000) {
    // ceil(2^48 / 10^6), then 32 bits after the point
    std::uint64_t y = (std::uint64_t{value} * 281474977u) >> 16;
    p = put_small(p, static_cast<std::uint32_t>(y >> 32));
    next_pair(y);
    next_pair(y);
    next_pair(y);
  } else {
    p = put_nine_or_ten(p, value);
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace

std::size_t NumberWriter::format_u32(char* out, std::uint32_t value) { return put_u32(out, value); }

char* format_data_lines(char* out, const std::int32_t* values, std::size_t count,
                        std::int32_t offset) {
  // A point without a measurement is written as ULONGINT's marker.
  constexpr auto kInvalidOut =
      static_cast<std::uint32_t>(sdf_detail::kDataTypes[sdf_detail::DT_ULONGINT].invalid);
  const std::uint32_t base = static_cast<std::uint32_t>(offset);
  char* p = out;
  for (std::size_t first = 0; first < count; first += 10) {
    const std::size_t last = count - first < 10 ? count : first + 10;
    for (std::size_t i = first; i < last; ++i) {
      const std::int32_t v = values[i];
      // The difference is taken modulo 2^32; with offset = min(0, smallest
      // value) it is the exact, never negative, distance from the offset.
      const std::uint32_t n =
          v >= kInvalidPhase ? kInvalidOut : static_cast<std::uint32_t>(v) - base;
      p += put_u32(p, n);
      *p++ = ' ';
    }
    *p++ = '\n';
  }
  return p;
}

bool NumberWriter::drain() {
  if (!ok_) return false;
  if (used_ > 0 && std::fwrite(buffer_, 1, used_, stream_) != used_) ok_ = false;
  used_ = 0;
  return ok_;
}

const char* format_float_g(float value, char* out) {
  // std::to_chars spells a number as printf does in the C locale, so the
  // text never depends on the process locale (no decimal comma).
  char text[kFloatTextSize];
  std::size_t n = 0;
  if (std::isnan(value)) {
    n = std::strlen(std::strcpy(text, std::signbit(value) ? "-nan" : "nan"));
  } else if (std::isinf(value)) {
    n = std::strlen(std::strcpy(text, value < 0 ? "-inf" : "inf"));
  } else {
    auto r = std::to_chars(text, text + sizeof text - 1, static_cast<double>(value),
                           std::chars_format::general, 10);
    n = static_cast<std::size_t>(r.ptr - text);
  }
  // Right-aligned in 12 characters, as "%12.10g".
  const std::size_t pad = n < 12 ? 12 - n : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, text, n);
  out[pad + n] = '\0';
  return out;
}
