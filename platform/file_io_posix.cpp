// Files on POSIX systems: a wide path is converted to UTF-8 for the system
// calls.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "platform/file_io_native.h"

namespace {

// Strict UTF-16 to UTF-8: false on a lone surrogate.
bool utf16_to_utf8(const std::u16string& in, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::uint32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    u_append_utf8(out, c);
  }
  // A 0 unit cannot occur inside; the name is complete.
  return true;
}

}  // namespace

bool u_posix_name(const char* path, std::string& out) {
  if (!u_path_is_wide(path)) {
    out = path;
    return true;
  }
  return utf16_to_utf8(u_wide_units(path), out);
}

namespace {

bool stat_path(const char* path, struct stat& st) {
  std::string name;
  if (!u_posix_name(path, name)) return false;
  return ::stat(name.c_str(), &st) == 0;
}

}  // namespace

std::FILE* u_native_fopen(const char* path, const char* mode) {
  std::string name;
  if (!u_posix_name(path, name)) {
    errno = EILSEQ;
    return nullptr;
  }
  return std::fopen(name.c_str(), mode);
}

bool u_native_is_regular_file(const char* path) {
  struct stat st {};
  return stat_path(path, st) && S_ISREG(st.st_mode);
}

bool u_native_is_directory(const char* path) {
  struct stat st {};
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool u_native_same_file(const char* a, const char* b) {
  struct stat sa {
  }, sb{};
  if (!stat_path(a, sa) || !stat_path(b, sb)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::int64_t u_file_size(std::FILE* file) {
  struct stat st {};
  if (::fstat(fileno(file), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

int u_fseek(std::FILE* file, std::int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
}

bool u_read_at(std::FILE* file, void* buffer, std::size_t size, std::int64_t offset) {
  auto* p = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::pread(fileno(file), p, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}
