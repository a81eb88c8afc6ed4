#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "cli/console_relay.h"

namespace {

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

}  // namespace

ConsoleRelay::ConsoleRelay() {
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
ConsoleRelay::~ConsoleRelay() {
  if (saved_fd_ < 0) return;
  restore();
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  CloseHandle(read_end_);
  _close(saved_fd_);
}

// Standard error back to the console; closing the pipe's write end ends
// the pump.
void ConsoleRelay::restore() {
  std::fflush(stderr);
  _dup2(saved_fd_, 2);
}
DWORD WINAPI ConsoleRelay::pump(void* self) {
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
