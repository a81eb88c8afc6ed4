#include "sdf/date_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "tests/support/test_support.h"

namespace {

#ifdef _WIN32
// The Windows C runtime names these differently.
void localtime_r(const std::time_t* t, std::tm* tm) { localtime_s(tm, t); }
void setenv(const char* name, const char* value, int) { _putenv_s(name, value); }
void unsetenv(const char* name) { _putenv_s(name, ""); }
#endif

struct Parsed {
  int year, month, day, weekday, hour, minute, second;
};

Parsed parse(const char* text) {
  Parsed p{0, 0, 0, 0, 0, 0, 0};
  parse_date_text(text, &p.year, &p.month, &p.day, &p.weekday, &p.hour, &p.minute, &p.second);
  return p;
}

std::string stamp_of(int day, int month, int year, int hour, int minute) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d%02d%04d%02d%02d", day, month, year, hour, minute);
  return buffer;
}

std::string local_stamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return stamp_of(tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
}

TEST(DateText, WorkedResults) {
  EXPECT_EQ(sdf_date_stamp("Wed Mar 02 10:22:32 2011"), "020320111022");
  std::string padded = "MAR 02 10:22:00 2011";
  padded.resize(30, ' ');
  EXPECT_EQ(sdf_date_stamp(padded.c_str()), "020320111022");
  EXPECT_EQ(sdf_date_stamp("3/2/11 10:22 PM"), "020320112222");
  EXPECT_EQ(sdf_date_stamp("14 July 1999"), "14071999-1-1");
  EXPECT_EQ(sdf_date_stamp("99"), "-1-11999-1-1");
  EXPECT_EQ(sdf_date_stamp("n/a"), "-1-1-001-1-1");

  Parsed p = parse("Wed Mar 02 10:22:32 2011");
  EXPECT_EQ(p.year, 2011);
  EXPECT_EQ(p.month, 3);
  EXPECT_EQ(p.day, 2);
  EXPECT_EQ(p.weekday, 4);
  EXPECT_EQ(p.hour, 10);
  EXPECT_EQ(p.minute, 22);
  EXPECT_EQ(p.second, 32);
}

TEST(DateText, TwoDigitYears) {
  // Slashed dates and years after the day: 0..79 this century, 80..99 the last.
  EXPECT_EQ(parse("1/2/79").year, 2079);
  EXPECT_EQ(parse("1/2/80").year, 1980);
  EXPECT_EQ(parse("1\\2\\0").year, 2000);
  EXPECT_EQ(parse("1/2/100").year, 100);
  EXPECT_EQ(parse("5 79").year, 2079);
  EXPECT_EQ(parse("5 80").year, 1980);
  // A first short number too big for a day: 32..80 this century.
  Parsed p = parse("80");
  EXPECT_EQ(p.year, 2080);
  EXPECT_EQ(p.day, -1);
  EXPECT_EQ(parse("81").year, 1981);
  EXPECT_EQ(parse("32").year, 2032);
  p = parse("31");
  EXPECT_EQ(p.day, 31);
  EXPECT_EQ(p.year, -1);
  // After a year-like first number the next short one is still the day.
  p = parse("99 7");
  EXPECT_EQ(p.year, 1999);
  EXPECT_EQ(p.day, 7);
  // Three- and five-character numbers and a year with a comma are ignored.
  EXPECT_EQ(parse("123 20111 2011,").year, -1);
}

TEST(DateText, NamesAndWords) {
  EXPECT_EQ(parse("mar").month, 3);
  EXPECT_EQ(parse("March").month, 3);
  EXPECT_EQ(parse("sEpTeMbEr").month, 9);
  EXPECT_EQ(parse("May").month, 5);
  EXPECT_EQ(parse("March,").month, -1);
  EXPECT_EQ(parse("Marc").month, -1);
  EXPECT_EQ(parse("sunday").weekday, 1);
  EXPECT_EQ(parse("Sat").weekday, 7);
  // Weekdays, AM and time-zone names leave the stamp alone.
  EXPECT_EQ(sdf_date_stamp("Thursday Mar 02 10:22 AM UTC 2011"), "020320111022");
  // Only the space separates: a tab keeps the month and day in one word.
  Parsed p = parse("Mar\t02 2011");
  EXPECT_EQ(p.month, -1);
  EXPECT_EQ(p.day, -1);
  EXPECT_EQ(p.year, 2011);
  // Later tokens overwrite earlier ones.
  p = parse("Jan 3 Feb 10:00 11:30");
  EXPECT_EQ(p.month, 2);
  EXPECT_EQ(p.hour, 11);
  EXPECT_EQ(p.minute, 30);
}

TEST(DateText, TimeTokens) {
  Parsed p = parse("10:22");
  EXPECT_EQ(p.hour, 10);
  EXPECT_EQ(p.minute, 22);
  EXPECT_EQ(p.second, -1);
  p = parse("10:22:33 11:45");
  EXPECT_EQ(p.hour, 11);
  EXPECT_EQ(p.minute, 45);
  EXPECT_EQ(p.second, 33);
  // Runs of ':' are one separator; pieces are read as leading integers.
  p = parse("10::22:5x:99");
  EXPECT_EQ(p.hour, 10);
  EXPECT_EQ(p.minute, 22);
  EXPECT_EQ(p.second, 5);
  // ':' wins over '/': the whole token is a time.
  p = parse("3/2:10");
  EXPECT_EQ(p.hour, 3);
  EXPECT_EQ(p.minute, 10);
  EXPECT_EQ(p.month, -1);
  EXPECT_EQ(p.day, -1);
}

TEST(DateText, NoonAndMidnight) {
  EXPECT_EQ(parse("12:30 PM").hour, 12);
  EXPECT_EQ(parse("12:30 AM").hour, 0);
  EXPECT_EQ(parse("1:05 PM").hour, 13);
  EXPECT_EQ(parse("0:05 PM").hour, 12);
  EXPECT_EQ(parse("11:59 AM").hour, 11);
  EXPECT_EQ(sdf_date_stamp("3/2/11 12:05 AM"), "020320110005");
  // A PM before any time makes 11 of the unknown hour; a time overwrites it.
  EXPECT_EQ(parse("PM").hour, 11);
  EXPECT_EQ(parse("PM 10:22").hour, 10);
  // An AM before any time has nothing to change.
  EXPECT_EQ(parse("AM").hour, -1);
  EXPECT_EQ(parse("AM 12:30").hour, 12);
}

TEST(DateText, OutOfRangePartsPrintedWhole) {
  // Slashed dates are month first.
  EXPECT_EQ(sdf_date_stamp("45/13/2011 30:99"), "134520113099");
  EXPECT_EQ(sdf_date_stamp("13/45/2011 30:99"), "451320113099");
  EXPECT_EQ(sdf_date_stamp("-5/-3/-1 -7:-9"), "-3-51999-7-9");
  EXPECT_EQ(sdf_date_stamp("1/1/12345 100:100"), "010112345100100");
}

TEST(DateText, HugeNumbersSaturate) {
  Parsed p = parse("99999999999:-99999999999:2147483648");
  EXPECT_EQ(p.hour, INT_MAX);
  EXPECT_EQ(p.minute, INT_MIN);
  EXPECT_EQ(p.second, INT_MAX);
  EXPECT_EQ(parse("-2147483648:2147483647").hour, INT_MIN);
  EXPECT_EQ(parse("0:2147483647").minute, INT_MAX);
  EXPECT_EQ(parse("99999999999:00 PM").hour, INT_MAX);
  EXPECT_EQ(parse("1/1/-99999999999").year, INT_MIN + 2000);
  EXPECT_EQ(parse("00000000000000000000000000012:1").hour, 12);
  EXPECT_EQ(sdf_date_stamp("99999999999/-99999999999/99999999999 99999999999:-99999999999"),
            "-2147483648214748364721474836472147483647-2147483648");
}

TEST(DateText, LongTexts) {
  std::string text(1 << 20, ' ');
  text += "Mar 02 10:22 2011";
  text += std::string(1 << 20, ' ');
  EXPECT_EQ(sdf_date_stamp(text.c_str()), "020320111022");

  std::string one_token(1 << 20, '7');
  EXPECT_EQ(sdf_date_stamp(one_token.c_str()), "-1-1-001-1-1");
  std::string one_time = std::string(1 << 20, '9') + ":" + std::string(1 << 20, '8');
  EXPECT_EQ(sdf_date_stamp(one_time.c_str()), stamp_of(-1, -1, -1, INT_MAX, INT_MAX));

  std::string many;
  for (int i = 0; i < 100000; ++i) many += "Feb 3 ";
  many += "Dec";
  Parsed p = parse(many.c_str());
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 3);
  EXPECT_EQ(p.year, 2003);
}

TEST(DateText, BoundedFieldWithoutNul) {
  // A 30-byte field filled to the end, on the heap so that a read past it
  // is caught by the address sanitizer.
  const char text[] = "Mar 02 10:22:00 2011          ";
  static_assert(sizeof text == 31);
  auto field = std::make_unique<char[]>(30);
  std::memcpy(field.get(), text, 30);
  EXPECT_EQ(sdf_date_stamp(field.get(), 30), "020320111022");
  // Stops at a NUL inside the limit, and reads nothing beyond the limit.
  char shorter[] = "Mar 02 10:22 2011\0 13:45";
  EXPECT_EQ(sdf_date_stamp(shorter, sizeof shorter), "020320111022");
  EXPECT_EQ(sdf_date_stamp("Mar 02 10:22 2011 13:45", 17), "020320111022");
}

TEST(DateText, EmptyTextIsCurrentLocalTime) {
  const std::time_t before = std::time(nullptr);
  const std::string stamp = sdf_date_stamp("");
  const std::time_t after = std::time(nullptr);
  // Read across a minute boundary the stamp matches one of the two readings.
  EXPECT_TRUE(stamp == local_stamp(before) || stamp == local_stamp(after)) << stamp;
  const std::string bounded = sdf_date_stamp("", 30);
  EXPECT_TRUE(bounded == local_stamp(before) || bounded == local_stamp(std::time(nullptr)));
  // A field that starts with its NUL, or no text at all, is empty too.
  EXPECT_EQ(sdf_date_stamp("\0Mar 02 2011", 12, 0), local_stamp(0));
  EXPECT_EQ(sdf_date_stamp(nullptr, 30, 0), local_stamp(0));
  // Spaces are a text that is present: nothing is found in it.
  EXPECT_EQ(sdf_date_stamp("   "), "-1-1-001-1-1");
}

TEST(DateText, GivenClockInUtc) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(sdf_date_stamp("", 0, 0), "010119700000");
  EXPECT_EQ(sdf_date_stamp("", 1, 1299061320), "020320111022");
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(DateText, OptionalPartsAndNullText) {
  int month = 0;
  parse_date_text("Mar 02 2011", nullptr, &month, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(month, 3);
  Parsed p = parse(nullptr);
  EXPECT_EQ(p.year, -1);
  EXPECT_EQ(p.second, -1);
}

TEST(DateText, WorkingCopyRefusedLeavesEveryPartUnknown) {
  Parsed p{};
  std::string stamp;
  {
    testing_support::AllocationWatch refusing(/*refuse_all=*/true);
    p = parse("Wed Mar 02 10:22:32 2011");
    stamp = sdf_date_stamp("Wed Mar 02 10:22:32 2011");
  }
  EXPECT_EQ(p.year, -1);
  EXPECT_EQ(p.month, -1);
  EXPECT_EQ(p.day, -1);
  EXPECT_EQ(p.weekday, -1);
  EXPECT_EQ(p.hour, -1);
  EXPECT_EQ(p.minute, -1);
  EXPECT_EQ(p.second, -1);
  EXPECT_EQ(stamp, "-1-1-001-1-1");
}

}  // namespace
