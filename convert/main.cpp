// Program entry of tovrel.
//
// Windows: the command line is taken as UTF-16 so that every name a user can
// type arrives intact, whatever the ANSI code page. Each argument reaches the
// library as a UTF-16 path behind the byte-order mark and is shown in
// messages as UTF-8. Redirected to a file or pipe, standard error carries
// that UTF-8 text. On a console, the text is handed to the console as UTF-16
// (see ConsoleRelay), so the names appear as typed whatever the console's
// code page.
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
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

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

// Length of the longest prefix of `bytes` that does not end inside a UTF-8
// sequence.
std::size_t complete_utf8(const std::string& bytes) {
  std::size_t n = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
    auto c = static_cast<unsigned char>(bytes[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? n - back : n;
  }
  return n;
}

void write_console(HANDLE console, const std::string& utf8) {
  if (utf8.empty()) return;
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  DWORD written = 0;
  WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// When standard error is a console: the C runtime's standard error is turned
// into a pipe, and a thread hands what arrives to the console as UTF-16, line
// by line as it is written. The C runtime would pass the UTF-8 bytes to the
// console as they are, and the console would read them in its own code page.
// The destructor puts standard error back and waits until everything written
// has reached the console.
class ConsoleRelay {
 public:
  ConsoleRelay() {
    DWORD mode = 0;
    if (!GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(2)), &mode)) return;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_WRONLY | _O_TEXT);
    if (fd < 0) {
      CloseHandle(read_end);
      CloseHandle(write_end);
      return;
    }
    std::fflush(stderr);
    saved_fd_ = _dup(2);
    if (saved_fd_ < 0 || _dup2(fd, 2) != 0) {
      if (saved_fd_ >= 0) _close(saved_fd_);
      saved_fd_ = -1;
      _close(fd);
      CloseHandle(read_end);
      return;
    }
    _close(fd);  // descriptor 2 now holds the only write end
    // The console through the saved descriptor: the handle standard error
    // had may be closed when descriptor 2 is replaced.
    console_ = reinterpret_cast<HANDLE>(_get_osfhandle(saved_fd_));
    read_end_ = read_end;
    thread_ = CreateThread(nullptr, 0, pump, this, 0, nullptr);
    if (!thread_) restore();  // no reader: the console directly, as bytes
  }
  ~ConsoleRelay() {
    if (saved_fd_ < 0) return;
    restore();
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    CloseHandle(read_end_);
    _close(saved_fd_);
  }
  ConsoleRelay(const ConsoleRelay&) = delete;
  ConsoleRelay& operator=(const ConsoleRelay&) = delete;

 private:
  // Standard error back to the console; closing the pipe's write end ends
  // the pump.
  void restore() {
    std::fflush(stderr);
    _dup2(saved_fd_, 2);
  }
  static DWORD WINAPI pump(void* self) {
    auto* relay = static_cast<ConsoleRelay*>(self);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(relay->read_end_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      pending.append(buffer, got);
      std::size_t complete = complete_utf8(pending);
      write_console(relay->console_, pending.substr(0, complete));
      pending.erase(0, complete);
    }
    write_console(relay->console_, pending);
    return 0;
  }

  HANDLE console_ = nullptr;
  HANDLE read_end_ = nullptr;
  HANDLE thread_ = nullptr;
  int saved_fd_ = -1;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<CommandArg> args;
  for (int i = 1; i < argc; ++i) args.push_back({library_path(argv[i]), shown_text(argv[i])});
  ConsoleRelay relay;
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
