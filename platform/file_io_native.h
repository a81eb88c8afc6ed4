// What file_io.cpp asks of the system: file_io_posix.cpp and
// file_io_windows.cpp each give these for their platform. The functions may
// throw std::bad_alloc while converting a name; file_io.cpp turns that into a
// failure.
#pragma once

#include <cstdio>
#include <string>

// The UTF-16 units of a wide path (without the mark and the ending 0).
std::u16string u_wide_units(const char* path);

// Opens a non-empty path; nullptr with errno set on failure.
std::FILE* u_native_fopen(const char* path, const char* mode);

// True when a non-empty path names an existing regular file.
bool u_native_is_regular_file(const char* path);

// True when a non-empty path names an existing directory.
bool u_native_is_directory(const char* path);

// True when both non-empty paths name the same existing file.
bool u_native_same_file(const char* a, const char* b);

#ifdef _WIN32
// The name as the wide-character calls take it: a wide path as it is, an
// 8-bit path decoded with the ANSI code page, as the 8-bit calls would. A
// name too long for the classic calls (MAX_PATH, less room for a file in a
// folder) is made absolute in the extended-length form (\\?\C:\... or
// \\?\UNC\server\...), which takes up to 32767 units.
bool u_windows_name(const char* path, std::wstring& out);

struct _stat64;
// _wstat64 for a name from u_windows_name; the runtime's own refuses the
// extended-length form, so such names are asked of the system directly.
int u_windows_stat(const std::wstring& name, struct _stat64& st);
#else
// The name to hand to the POSIX calls; false when a wide name is not valid
// UTF-16.
bool u_posix_name(const char* path, std::string& out);
#endif
