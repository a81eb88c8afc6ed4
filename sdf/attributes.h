// The header attribute listing: every listed header field as a name=value line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "datafile/header.h"

// Writes the 95 attribute lines of `header` to `stream`; returns the result
// of the last line's formatted write (negative on error).
[[nodiscard]] int write_header_attributes(std::FILE* stream, const Header* header);

// The same 95 lines as one text, each ended by a line feed.
std::string header_attributes_text(const Header& header);

// A character of a text as the listing writes it: a line break (CR or LF)
// becomes a space, so that no text can add, end or shadow a line.
constexpr char listed_char(char c) { return c == '\r' || c == '\n' ? ' ' : c; }

// A text field as the listing writes it: up to its first NUL or the end of
// its `width` bytes, whichever comes first, through listed_char.
std::string listed_text(const char* text, std::size_t width);
