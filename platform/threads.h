// How many threads the library works on, and starting them.
//
// Wherever a library function takes a number of threads, it means the
// threads that work, the calling one included: 1 does everything on the
// calling thread, 0 takes one a processor. No task works on more than
// kMaxThreads.
#pragma once

#include <functional>

// The most threads one task works on. Also the most output files a process
// of ours writes at once (the folder form converts one file a thread), and so
// the number of temporary files a signal handler removes (output_file.h).
inline constexpr int kMaxThreads = 8;

// `threads` as a number of working threads: 1 to kMaxThreads, one a
// processor for 0 (or a negative number).
int u_working_threads(int threads);

// Calls work(0) on the calling thread and work(1) to work(n - 1) on threads
// of their own, where n is u_working_threads(threads) or fewer when a thread
// cannot be started; returns once every call has returned. An exception out
// of a call is thrown again here once every call has returned (the first
// one, when several throw).
void u_run_threads(int threads, const std::function<void(int)>& work);
