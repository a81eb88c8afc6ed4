// The library log: one process-wide sink for messages of every module.
#pragma once

#include <cstdarg>

// Receives each message, already formatted, as one text.
using LogSink = void (*)(const char* text, void* context);

// Formats a message printf-style and hands it to the sink at once. The
// default sink writes it to standard error and flushes.
void u_log(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void u_vlog(const char* format, va_list args);

// Replaces the sink (nullptr restores the default); returns the previous one
// through the out-parameters when they are given.
void u_set_log_sink(LogSink sink, void* context, LogSink* previous = nullptr,
                    void** previous_context = nullptr);

// Notices: the few messages the library addresses to the user of a program
// rather than to its log (an SDF import that lacks required fields says so).
// The default notice sink writes the text to standard output; the library
// never writes to standard output any other way.
void u_notice(const char* text);

// Replaces the notice sink (nullptr restores the default), as u_set_log_sink.
void u_set_notice_sink(LogSink sink, void* context, LogSink* previous = nullptr,
                       void** previous_context = nullptr);
