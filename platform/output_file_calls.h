// The system calls an OutputFile makes to create, put in place and close its
// file, each through a pointer that starts as the call itself, so that a test
// can make one fail or act just before it.
#pragma once

#include <cstdio>

#ifdef _WIN32
#include "platform/windows_api.h"
#else
#include <sys/types.h>
#endif

struct OutputFileCalls {
#ifdef _WIN32
  HANDLE(WINAPI* create_file)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* move_file)(LPCWSTR from, LPCWSTR to, DWORD flags);
#else
  int (*open)(const char* name, int flags, mode_t mode);
  // Renames without replacing (fails with EEXIST when `to` exists; EINVAL,
  // ENOSYS or ENOTSUP where the file system or kernel cannot).
  int (*rename_new)(const char* from, const char* to);
  int (*link)(const char* from, const char* to);
  int (*rename)(const char* from, const char* to);
#endif
  int (*fclose)(std::FILE* stream);
};
extern OutputFileCalls u_output_file_calls;
