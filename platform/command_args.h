// Command-line arguments as library paths (see file_io.h for the path
// convention) and as the text that messages show.
#pragma once

#include <string>

#ifdef _WIN32
// The library's path form of a wide argument: the mark 0xFEFF, the units low
// byte first, a 0 unit at the end. Every unit is kept, so that names which
// are not strict UTF-16 still reach the wide-character calls as typed.
std::string u_path_from_arg(const wchar_t* arg);

// UTF-8 text of a wide argument for messages; a unit that is not part of
// valid UTF-16 (a lone surrogate) is shown as U+FFFD.
std::string u_text_from_arg(const wchar_t* arg);
#else
// An argument's own bytes as a library path. A relative name whose first two
// bytes happen to read as a byte-order mark would be taken for a UTF-16 path
// (and read past its end); the same file named through "./" is an ordinary
// 8-bit path.
std::string u_path_from_arg(const char* arg);
#endif

// A name given as text (a line of a list of names: UTF-8 on Windows, the
// name's bytes elsewhere) as a library path; empty when the text is not
// valid UTF-8 on Windows.
std::string u_path_from_text(const std::string& text);
