// Fuzzes the date text parser and the SDF date stamp. The stamp of a text
// must be exactly the parts the parser finds, printed in stamp order; every
// subset of out-parameters must give the same parts; and the bounded form
// must read no further than it is told (the input is not NUL-terminated).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sdf/date_text.h"

namespace {

std::string stamp_of(int day, int month, int year, int hour, int minute) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%02d%02d%04d%02d%02d", day, month, year, hour, minute);
  return buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* raw = reinterpret_cast<const char*>(data);
  // The text as a C string: up to the first NUL of the input.
  std::string text(raw, size);
  text.resize(std::strlen(text.c_str()));

  int year, month, day, weekday, hour, minute, second;
  parse_date_text(text.c_str(), &year, &month, &day, &weekday, &hour, &minute, &second);
  FUZZ_CHECK(weekday == -1 || (weekday >= 1 && weekday <= 7));

  // Parts asked for one at a time come out the same.
  int one = 0;
  parse_date_text(text.c_str(), &one, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  FUZZ_CHECK(one == year);
  parse_date_text(text.c_str(), nullptr, nullptr, nullptr, &one, nullptr, nullptr, nullptr);
  FUZZ_CHECK(one == weekday);
  parse_date_text(text.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &one);
  FUZZ_CHECK(one == second);
  parse_date_text(text.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);

  // A fixed clock makes the stamp of an empty text comparable too.
  const std::time_t now = 1299061352;
  std::string stamp = sdf_date_stamp(text.c_str(), text.size() + 1, now);
  if (text.empty()) {
    const std::tm* tm = std::localtime(&now);
    FUZZ_CHECK(tm != nullptr);
    FUZZ_CHECK(stamp ==
               stamp_of(tm->tm_mday, tm->tm_mon + 1, tm->tm_year + 1900, tm->tm_hour, tm->tm_min));
  } else {
    FUZZ_CHECK(stamp == stamp_of(day, month, year, hour, minute));
    FUZZ_CHECK(sdf_date_stamp(text.c_str()) == stamp);
  }
  FUZZ_CHECK(stamp.size() >= 12);

  // The bounded form over the raw bytes stops at the NUL or at `size`.
  FUZZ_CHECK(sdf_date_stamp(raw, size, now) == stamp);
  // Cut short, it reads the shorter text.
  if (!text.empty()) {
    std::size_t cut = text.size() / 2;
    std::string shorter = text.substr(0, cut);
    FUZZ_CHECK(sdf_date_stamp(raw, cut, now) == sdf_date_stamp(shorter.c_str(), cut + 1, now));
  }
  return 0;
}
