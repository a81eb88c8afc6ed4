// Program entry of tovrel.
//
// Windows: the command line is taken as UTF-16 so that every name a user can
// type arrives intact, whatever the ANSI code page. Each argument reaches the
// library as a UTF-16 path behind the byte-order mark and is shown in
// messages as UTF-8. When standard error is a console, the console is
// switched to UTF-8 output for the run so that those names appear as typed;
// redirected to a file or pipe, the messages are UTF-8 text.
//
// Elsewhere: the arguments are the names' own bytes.
#include <string>
#include <vector>

#include "convert/driver.h"
#include "datafile/file_io.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// The library's path form of a wide name: the mark 0xFEFF, the units low
// byte first, a 0 unit at the end. Every unit is kept, so that names which
// are not strict UTF-16 still reach the wide-character calls as typed.
std::string library_path(const wchar_t* name) {
  std::string out = "\xFF\xFE";
  for (const wchar_t* p = name; *p; ++p) {
    auto unit = static_cast<unsigned>(*p);
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  out.append(2, '\0');
  return out;
}

// UTF-8 text of a wide name for messages; a unit that is not part of valid
// UTF-16 (a lone surrogate) is shown as U+FFFD.
std::string shown_text(const wchar_t* name) {
  int n = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

// Switches a console standard error to UTF-8 output for the life of the
// object and restores the console's code page afterwards (the console is
// shared with the shell that started the program).
class ConsoleUtf8 {
 public:
  ConsoleUtf8() {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) {
      saved_ = GetConsoleOutputCP();
      if (saved_ != CP_UTF8 && !SetConsoleOutputCP(CP_UTF8)) saved_ = 0;
    }
  }
  ~ConsoleUtf8() {
    if (saved_ != 0 && saved_ != CP_UTF8) SetConsoleOutputCP(saved_);
  }
  ConsoleUtf8(const ConsoleUtf8&) = delete;
  ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

 private:
  UINT saved_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ConsoleUtf8 console;
  std::vector<CommandArg> args;
  for (int i = 1; i < argc; ++i) args.push_back({library_path(argv[i]), shown_text(argv[i])});
  return run_tovrel(args);
}

#else

int main(int argc, char** argv) {
  std::vector<CommandArg> args;
  for (int i = 1; i < argc; ++i) {
    std::string value = argv[i];
    // A relative name whose first two bytes happen to read as a byte-order
    // mark would be taken for a UTF-16 path (and read past its end); the
    // same file named through "./" is an ordinary 8-bit path.
    if (u_path_is_wide(value.c_str())) value.insert(0, "./");
    args.push_back({value, argv[i]});
  }
  return run_tovrel(args);
}

#endif
