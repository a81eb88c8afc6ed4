// How many threads the library works on.
//
// Wherever a library function takes a number of threads, it means the
// threads that work, the calling one included: 1 does everything on the
// calling thread, 0 takes one a processor. No task works on more than
// kMaxThreads.
#pragma once

// The most threads one task works on. Also the most output files a process
// of ours writes at once (the folder form converts one file a thread), and so
// the number of temporary files a signal handler removes (output_file.h).
inline constexpr int kMaxThreads = 8;

// `threads` as a number of working threads: 1 to kMaxThreads, one a
// processor for 0 (or a negative number).
int u_working_threads(int threads);
