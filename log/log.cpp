#include "log/log.h"

#include <cstdio>
#include <string>

namespace {

void stderr_sink(const char* text, void*) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void stdout_sink(const char* text, void*) { std::fputs(text, stdout); }

LogSink g_sink = stderr_sink;
void* g_context = nullptr;
LogSink g_notice_sink = stdout_sink;
void* g_notice_context = nullptr;

}  // namespace

void u_vlog(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    g_sink(small, g_context);
    return;
  }
  std::string text(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  g_sink(text.c_str(), g_context);
}

void u_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  u_vlog(format, args);
  va_end(args);
}

void u_set_log_sink(LogSink sink, void* context, LogSink* previous, void** previous_context) {
  if (previous) *previous = g_sink == stderr_sink ? nullptr : g_sink;
  if (previous_context) *previous_context = g_context;
  g_sink = sink ? sink : stderr_sink;
  g_context = sink ? context : nullptr;
}

void u_notice(const char* text) { g_notice_sink(text, g_notice_context); }

void u_set_notice_sink(LogSink sink, void* context, LogSink* previous, void** previous_context) {
  if (previous) *previous = g_notice_sink == stdout_sink ? nullptr : g_notice_sink;
  if (previous_context) *previous_context = g_notice_context;
  g_notice_sink = sink ? sink : stdout_sink;
  g_notice_context = sink ? context : nullptr;
}
