// The header attribute listing: every listed header field as a name=value line.
#pragma once

#include <cstdio>

#include "datafile/header.h"

// Writes the 95 attribute lines of `header` to `stream`; returns the result
// of the last line's formatted write (negative on error).
[[nodiscard]] int write_header_attributes(std::FILE* stream, const Header* header);
