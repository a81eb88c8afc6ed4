#include "datafile/text_out.h"

#include <cmath>
#include <cstring>

namespace {

// "00" "01" ... "99": two digits per table look-up.
constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

std::size_t digit_count(std::uint32_t v) {
  std::size_t n = 1;
  for (;;) {
    if (v < 10) return n;
    if (v < 100) return n + 1;
    if (v < 1000) return n + 2;
    if (v < 10000) return n + 3;
    v /= 10000;
    n += 4;
  }
}

}  // namespace

std::size_t NumberWriter::format_u32(char* out, std::uint32_t value) {
  const std::size_t n = digit_count(value);
  char* p = out + n;
  while (value >= 100) {
    const std::uint32_t pair = (value % 100) * 2;
    value /= 100;
    p -= 2;
    p[0] = kDigitPairs[pair];
    p[1] = kDigitPairs[pair + 1];
  }
  if (value >= 10) {
    p[-2] = kDigitPairs[value * 2];
    p[-1] = kDigitPairs[value * 2 + 1];
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return n;
}

bool NumberWriter::drain() {
  if (!ok_) return false;
  if (used_ > 0 && std::fwrite(buffer_, 1, used_, stream_) != used_) ok_ = false;
  used_ = 0;
  return ok_;
}

const char* format_float_g(float value, char* out) {
  if (std::isnan(value)) {
    std::snprintf(out, kFloatTextSize, "%12s", std::signbit(value) ? "-nan" : "nan");
  } else if (std::isinf(value)) {
    std::snprintf(out, kFloatTextSize, "%12s", value < 0 ? "-inf" : "inf");
  } else {
    std::snprintf(out, kFloatTextSize, "%12.10g", static_cast<double>(value));
  }
  return out;
}
