// The tovrel command: argument rules, file checks, conversion and messages.
#pragma once

#include <string>
#include <vector>

// One command-line argument: `value` is handed to the library (a file name in
// the library's path convention), `shown` is the text printed in messages,
// as the user typed it.
struct CommandArg {
  std::string value;
  std::string shown;
};

// Exit statuses.
enum ExitStatus : int {
  EXIT_CONVERTED = 0,
  EXIT_USAGE = 1,
  EXIT_NO_INPUT = 2,
  EXIT_OUTPUT_EXISTS = 3,
  EXIT_READ_FAILED = 4,
  EXIT_WRITE_FAILED = 5,
};

// True when `name` (library path convention) is an existing regular file.
bool file_exists(const char* name);

// Runs one conversion for the arguments after the program name. Every
// message goes to standard error; returns the exit status. `terminal`: standard
// error is a terminal, which shows a progress line while files are converted.
int run_tovrel(const std::vector<CommandArg>& args, bool terminal = false);
