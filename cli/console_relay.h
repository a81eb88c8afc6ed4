// The Windows console relay of tovrel: when standard error is a console,
// messages reach it as UTF-16, whatever the console's code page.
#pragma once

#ifdef _WIN32
#include "platform/windows_api.h"

// When standard error is a console: the C runtime's standard error is turned
// into a pipe, and a thread hands what arrives to the console as UTF-16, line
// by line as it is written. The C runtime would pass the UTF-8 bytes to the
// console as they are, and the console would read them in its own code page.
// The destructor puts standard error back and waits until everything written
// has reached the console.
class ConsoleRelay {
 public:
  ConsoleRelay();
  ~ConsoleRelay();
  ConsoleRelay(const ConsoleRelay&) = delete;
  ConsoleRelay& operator=(const ConsoleRelay&) = delete;

 private:
  // Standard error back to the console; closing the pipe's write end ends
  // the pump.
  void restore();
  static DWORD WINAPI pump(void* self);

  HANDLE console_ = nullptr;
  HANDLE read_end_ = nullptr;
  HANDLE thread_ = nullptr;
  int saved_fd_ = -1;
};
#endif
