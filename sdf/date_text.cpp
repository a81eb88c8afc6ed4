#include "sdf/date_text.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/local_time.h"
#include "platform/memory.h"

namespace {

// The parts found so far; -1 while a part is not known.
struct DateParts {
  int year = -1;
  int month = -1;
  int day = -1;
  int weekday = -1;
  int hour = -1;
  int minute = -1;
  int second = -1;
};

struct NamePair {
  const char* abbreviation;
  const char* name;
};

constexpr NamePair kMonths[] = {
    {"JAN", "JANUARY"},   {"FEB", "FEBRUARY"}, {"MAR", "MARCH"},    {"APR", "APRIL"},
    {"MAY", "MAY"},       {"JUN", "JUNE"},     {"JUL", "JULY"},     {"AUG", "AUGUST"},
    {"SEP", "SEPTEMBER"}, {"OCT", "OCTOBER"},  {"NOV", "NOVEMBER"}, {"DEC", "DECEMBER"},
};

constexpr NamePair kWeekdays[] = {
    {"SUN", "SUNDAY"},   {"MON", "MONDAY"}, {"TUE", "TUESDAY"},  {"WED", "WEDNESDAY"},
    {"THU", "THURSDAY"}, {"FRI", "FRIDAY"}, {"SAT", "SATURDAY"},
};

// Character classes of the "C" locale, whatever locale the process runs in,
// so that a date text reads the same everywhere.
bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
char to_upper_ascii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The leading decimal integer of `piece` as the C runtime's atoi reads it
// (leading white space, an optional sign, digits; 0 when there are none),
// except that a value beyond the range of int saturates at INT_MAX or
// INT_MIN instead of being undefined.
int leading_int(std::string_view piece) {
  std::size_t i = 0;
  while (i < piece.size() && is_c_space(piece[i])) ++i;
  bool negative = false;
  if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
    negative = piece[i] == '-';
    ++i;
  }
  // Accumulated on the negative side, which holds INT_MIN.
  int value = 0;
  for (; i < piece.size() && is_digit(piece[i]); ++i) {
    const int digit = piece[i] - '0';
    if (value < (INT_MIN + digit) / 10) {
      value = INT_MIN;
      // Keep going past the remaining digits; the value stays saturated.
      continue;
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value == INT_MIN ? INT_MAX : -value;
}

int add_saturated(int a, int b) {
  if (b > 0 && a > INT_MAX - b) return INT_MAX;
  if (b < 0 && a < INT_MIN - b) return INT_MIN;
  return a + b;
}

// Splits `token` at any of the characters in `separators`; runs of them count
// as one and separators at either end make no piece. Fills up to `max`
// pieces and returns how many it found (at most `max`).
int split_pieces(std::string_view token, std::string_view separators, std::string_view* pieces,
                 int max) {
  int count = 0;
  std::size_t pos = 0;
  while (count < max) {
    pos = token.find_first_not_of(separators, pos);
    if (pos == std::string_view::npos) break;
    std::size_t end = token.find_first_of(separators, pos);
    if (end == std::string_view::npos) end = token.size();
    pieces[count++] = token.substr(pos, end - pos);
    pos = end;
  }
  return count;
}

// The number (1-based) of the entry that `word` names whole, or 0.
template <std::size_t N>
int find_name(std::string_view word, const NamePair (&table)[N]) {
  for (std::size_t i = 0; i < N; ++i)
    if (word == table[i].abbreviation || word == table[i].name) return static_cast<int>(i) + 1;
  return 0;
}

// A two-digit year of a slashed date or one that follows the day.
int year_from_short(int value) { return value < 80 ? value + 2000 : value + 1900; }

// Reads one upper-case token into `parts`.
void read_token(std::string_view token, DateParts& parts) {
  if (is_ascii_letter(token.front())) {
    if (int month = find_name(token, kMonths)) {
      parts.month = month;
    } else if (int weekday = find_name(token, kWeekdays)) {
      parts.weekday = weekday;
    } else if (token == "PM") {
      // Afternoon: 1 PM to 11 PM are 13 to 23 and 12 PM is noon. Other hours
      // get 12 added as they are; a PM before any time turns the unknown -1
      // into 11, which a later time overwrites.
      if (parts.hour != 12) parts.hour = add_saturated(parts.hour, 12);
    } else if (token == "AM") {
      // 12 AM is midnight. An AM before any time has no hour to change.
      if (parts.hour == 12) parts.hour = 0;
    }
    // Any other word (a time-zone name, "March," with its comma) is ignored.
    return;
  }

  std::string_view pieces[3];
  if (token.find(':') != std::string_view::npos) {
    int n = split_pieces(token, ":", pieces, 3);
    if (n > 0) parts.hour = leading_int(pieces[0]);
    if (n > 1) parts.minute = leading_int(pieces[1]);
    if (n > 2) parts.second = leading_int(pieces[2]);
    return;
  }
  if (token.find_first_of("/\\") != std::string_view::npos) {
    int n = split_pieces(token, "/\\", pieces, 3);
    if (n > 0) parts.month = leading_int(pieces[0]);
    if (n > 1) parts.day = leading_int(pieces[1]);
    if (n > 2) {
      int year = leading_int(pieces[2]);
      parts.year = year < 100 ? year_from_short(year) : year;
    }
    return;
  }
  if (token.size() > 2) {
    // A four-character year; longer or shorter tokens ("2011," with its
    // comma) are ignored.
    if (token.size() == 4) parts.year = leading_int(token);
    return;
  }
  // One or two characters: the day, or a two-digit year.
  int value = leading_int(token);
  if (parts.day == -1) {
    parts.day = value;
    if (value > 31) {
      // Too big for a day: a year, 32 to 80 in this century.
      parts.year = value <= 80 ? value + 2000 : value + 1900;
      parts.day = -1;
    }
  } else {
    parts.year = year_from_short(value);
  }
}

// The length of `text` up to its NUL, but at most `max_len`.
std::size_t bounded_length(const char* text, std::size_t max_len) {
  std::size_t n = 0;
  while (n < max_len && text[n] != '\0') ++n;
  return n;
}

// Parses the first `length` bytes of `text`. When the working copy cannot be
// had, no token is read and every part stays -1.
DateParts parse_parts(const char* text, std::size_t length) {
  DateParts parts;
  if (text == nullptr || length == 0) return parts;

  // An upper-case working copy, taken through the allocation hooks; the
  // tokens are views into it, so no token list is needed.
  HookArray<char> copy;
  if (!copy.allocate(length)) return parts;
  for (std::size_t i = 0; i < length; ++i) copy[i] = to_upper_ascii(text[i]);

  std::string_view rest(copy.get(), length);
  std::size_t pos = 0;
  for (;;) {
    pos = rest.find_first_not_of(' ', pos);
    if (pos == std::string_view::npos) break;
    std::size_t end = rest.find(' ', pos);
    if (end == std::string_view::npos) end = rest.size();
    read_token(rest.substr(pos, end - pos), parts);
    pos = end;
  }
  return parts;
}

const char kUnknownStamp[] = "-1-1-001-1-1";

}  // namespace

void parse_date_text(const char* text, int* year, int* month, int* day, int* weekday, int* hour,
                     int* minute, int* second) {
  const DateParts parts = parse_parts(text, text ? std::strlen(text) : 0);
  if (year) *year = parts.year;
  if (month) *month = parts.month;
  if (day) *day = parts.day;
  if (weekday) *weekday = parts.weekday;
  if (hour) *hour = parts.hour;
  if (minute) *minute = parts.minute;
  if (second) *second = parts.second;
}

std::string sdf_date_stamp(const char* text, std::size_t max_len, std::time_t now) {
  // A stamp needs memory only when it is longer than the string's own
  // inline storage; when even that fails the unknown stamp (which fits in
  // it) is returned, since this function does not throw.
  try {
    const std::size_t length = text ? bounded_length(text, max_len) : 0;
    if (length == 0) {
      // No date text: the current local time.
      std::tm local{};
      if (!u_local_time(now, local)) return kUnknownStamp;
      return sdf_format_stamp(local.tm_mday, local.tm_mon + 1, add_saturated(local.tm_year, 1900),
                              local.tm_hour, local.tm_min);
    }
    const DateParts parts = parse_parts(text, length);
    return sdf_format_stamp(parts.day, parts.month, parts.year, parts.hour, parts.minute);
  } catch (const std::bad_alloc&) {
    return kUnknownStamp;
  }
}

std::string sdf_date_stamp(const char* text, std::size_t max_len) {
  return sdf_date_stamp(text, max_len, std::time(nullptr));
}

std::string sdf_date_stamp(const char* text) {
  return sdf_date_stamp(text, static_cast<std::size_t>(-1));
}

std::string sdf_format_stamp(int day, int month, int year, int hour, int minute) {
  // Five ints of at most 11 characters each ("-2147483648") and the NUL:
  // no value can overrun this.
  char buffer[5 * 11 + 1];
  int n =
      std::snprintf(buffer, sizeof buffer, "%02d%02d%04d%02d%02d", day, month, year, hour, minute);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) return kUnknownStamp;
  return std::string(buffer, static_cast<std::size_t>(n));
}
