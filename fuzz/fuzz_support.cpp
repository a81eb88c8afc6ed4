#include "fuzz/fuzz_support.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace fuzz {

namespace {

// Removes the scratch files when the process ends normally.
struct ScratchFiles {
  std::map<std::string, std::string> by_tag;
  ~ScratchFiles() {
    for (const auto& [tag, path] : by_tag) std::remove(path.c_str());
  }
};

ScratchFiles& scratch_files() {
  static ScratchFiles files;
  return files;
}

int process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return getpid();
#endif
}

std::string temp_dir() {
  std::error_code ec;
#ifndef _WIN32
  // A memory file system keeps the per-input write cheap where there is one.
  if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
#endif
  return std::filesystem::temp_directory_path(ec).string();
}

}  // namespace

const std::string& scratch_file(const char* tag) {
  auto& files = scratch_files().by_tag;
  auto it = files.find(tag);
  if (it == files.end()) {
    static const std::string dir = temp_dir();
    std::string path = dir + "/tovrel-fuzz-" + std::to_string(process_id()) + "-" + tag;
    it = files.emplace(tag, std::move(path)).first;
  }
  return it->second;
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) check_failed(__FILE__, __LINE__, "scratch file cannot be created");
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) check_failed(__FILE__, __LINE__, "scratch file cannot be written");
}

std::string read_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) check_failed(__FILE__, __LINE__, "file cannot be opened for reading");
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) check_failed(__FILE__, __LINE__, "file cannot be read");
  return text;
}

void check_failed(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: expectation failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
