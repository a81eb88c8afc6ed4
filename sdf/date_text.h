// Date texts as measuring software writes them, and SDF date stamps.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// Finds the date and time parts in a free-form date text such as
// "Wed Mar 02 10:22:32 2011" or "3/2/11 10:22 PM". Each out-parameter may be
// nullptr; a part that is not found is -1. Month 1..12, weekday 1 (Sunday)
// to 7, hour 0..23 (12 PM is noon, 12 AM midnight). Parts are not range
// checked; a number beyond the range of int reads as INT_MAX or INT_MIN.
void parse_date_text(const char* text, int* year, int* month, int* day, int* weekday, int* hour,
                     int* minute, int* second);

// The SDF stamp DDMMYYYYHHMM for a date text; the current local time when
// the text is empty. Unknown parts print as -1, out-of-range parts whole.
// Reads the text up to its NUL.
std::string sdf_date_stamp(const char* text);

// The same for a text kept in a fixed-size field that may lack its NUL:
// reads at most `max_len` bytes.
std::string sdf_date_stamp(const char* text, std::size_t max_len);

// The same with the clock reading `now` standing for the current time.
std::string sdf_date_stamp(const char* text, std::size_t max_len, std::time_t now);

// The 12-digit stamp DDMMYYYYHHMM of the given parts, each printed whole
// ("%02d%02d%04d%02d%02d").
std::string sdf_format_stamp(int day, int month, int year, int hour, int minute);
