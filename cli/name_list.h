// Reading a list of names (--files-from): one a line, or NUL-separated.
#pragma once

#include <functional>
#include <string>

#include "cli/driver.h"

// Hands every name of the list `file` ("-": standard input) to `take`, in
// order: lines ended by LF, CR LF or the end of the file (with `nul`, names
// ended by NUL instead), empty ones left out. A list that starts with a
// byte-order mark is read as UTF-8, or as UTF-16 (either byte order) turned
// into UTF-8, as Windows tools write them. 0, or the errno value of why the
// list could not be read.
int read_name_list(const CommandArg& file, bool nul, const std::function<void(std::string)>& take);
