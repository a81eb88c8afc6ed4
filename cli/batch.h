// The forms of tovrel that convert many files into a folder (INPUT...
// DIRECTORY, -r SOURCE... DIRECTORY, --files-from), and the one-file form's
// run with its progress line: planning, the workers, the summary, the report.
#pragma once

#include "cli/convert_one.h"

// Converts every input the options name into their DIRECTORY (the last
// name); returns the exit status.
int convert_many(const Options& opt);

// Converts names[0] into names[1]; returns the exit status.
int convert_single(const Options& opt);
