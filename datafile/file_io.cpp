#include "datafile/file_io.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#ifdef _WIN32
#include <wchar.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

// The UTF-16 units of a wide path (without the mark and the ending 0).
std::u16string wide_units(const char* path) {
  const auto* b = reinterpret_cast<const unsigned char*>(path);
  bool big_endian = b[0] == 0xFE;  // mark 0xFFFE: units stored high byte first
  std::u16string units;
  for (const unsigned char* p = b + 2;; p += 2) {
    char16_t u = big_endian ? static_cast<char16_t>((p[0] << 8) | p[1])
                            : static_cast<char16_t>(p[0] | (p[1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return units;
}

#ifndef _WIN32
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
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  // A 0 unit cannot occur inside; the name is complete.
  return true;
}

// The name to hand to the POSIX calls; false when a wide name is not valid.
bool native_name(const char* path, std::string& out) {
  if (!u_path_is_wide(path)) {
    out = path;
    return true;
  }
  return utf16_to_utf8(wide_units(path), out);
}
#else
std::wstring wide_name(const char* path) {
  std::u16string units = wide_units(path);
  return std::wstring(units.begin(), units.end());
}
std::wstring wide_mode(const char* mode) {
  std::wstring m;
  for (const char* p = mode; *p; ++p) m += static_cast<wchar_t>(*p);
  return m;
}
#endif

}  // namespace

bool u_path_is_wide(const char* path) {
  if (!path || path[0] == '\0') return false;
  const auto* b = reinterpret_cast<const unsigned char*>(path);
  unsigned unit = b[0] | (b[1] << 8);
  return unit == 0xFEFF || unit == 0xFFFE;
}

std::string u_wide_path_from_utf8(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto put = [&out](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t n = utf8.size();
  for (std::size_t i = 0; i < n;) {
    std::uint32_t c = s[i];
    std::size_t len = c < 0x80           ? 1
                      : (c >> 5) == 0x6  ? 2
                      : (c >> 4) == 0xE  ? 3
                      : (c >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > n) return {};
    if (len > 1) {
      c &= 0x7F >> len;
      for (std::size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return {};
        c = (c << 6) | (s[i + k] & 0x3F);
      }
      static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
    }
    if (c == 0) return {};
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
    i += len;
  }
  out += std::string(2, '\0');
  return out;
}

std::FILE* u_fopen(const char* path, const char* mode) {
  if (!path || path[0] == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  // Converting the name takes memory; running out of it is a failure to
  // open (errno ENOMEM), never an exception out of the library.
  try {
#ifdef _WIN32
    if (u_path_is_wide(path)) return _wfopen(wide_name(path).c_str(), wide_mode(mode).c_str());
    return std::fopen(path, mode);
#else
    std::string name;
    if (!native_name(path, name)) {
      errno = EILSEQ;
      return nullptr;
    }
    return std::fopen(name.c_str(), mode);
#endif
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

namespace {
#ifdef _WIN32
using StatBuf = struct _stat64;
bool stat_path(const char* path, StatBuf& st) {
  if (!path || path[0] == '\0') return false;
  if (u_path_is_wide(path)) return _wstat64(wide_name(path).c_str(), &st) == 0;
  return _stat64(path, &st) == 0;
}
#else
using StatBuf = struct stat;
bool stat_path(const char* path, StatBuf& st) {
  if (!path || path[0] == '\0') return false;
  std::string name;
  if (!native_name(path, name)) return false;
  return ::stat(name.c_str(), &st) == 0;
}
#endif
}  // namespace

bool u_is_regular_file(const char* path) {
  // Out of memory for the converted name: not known to be a file.
  try {
    StatBuf st{};
    return stat_path(path, st) && (st.st_mode & S_IFMT) == S_IFREG;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

#ifdef _WIN32
namespace {

// The name as the wide-character calls take it: a wide path as it is, an
// 8-bit path decoded with the ANSI code page, as the 8-bit calls would.
bool wide_native_name(const char* path, std::wstring& out) {
  if (u_path_is_wide(path)) {
    out = wide_name(path);
    return true;
  }
  int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (n <= 0) return false;
  out.assign(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, out.data(), n) != n) return false;
  out.resize(static_cast<std::size_t>(n - 1));
  return true;
}

// A handle that only queries the file: no read or write access, every
// sharing mode, so that it works while others hold the file open.
// Directories need the backup-semantics flag.
HANDLE open_for_query(const std::wstring& name) {
  return CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

struct FileIdentity {
  unsigned long long volume = 0;
  unsigned char id[16] = {};
};

// The volume and file number of an open file: the 128-bit form where the
// file system gives one, else the 64-bit index of older systems.
bool file_identity(HANDLE h, FileIdentity& out) {
  FILE_ID_INFO info{};
  if (GetFileInformationByHandleEx(h, FileIdInfo, &info, sizeof info)) {
    out.volume = info.VolumeSerialNumber;
    static_assert(sizeof info.FileId == sizeof out.id);
    std::memcpy(out.id, &info.FileId, sizeof out.id);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION bh{};
  if (!GetFileInformationByHandle(h, &bh)) return false;
  out.volume = bh.dwVolumeSerialNumber;
  unsigned long long index =
      (static_cast<unsigned long long>(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
  std::memcpy(out.id, &index, sizeof index);
  return true;
}

// The absolute form of a name, for comparing two names without opening them.
std::wstring full_name(const std::wstring& name) {
  DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  DWORD got = GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return {};
  full.resize(got);
  return full;
}

}  // namespace
#endif

namespace {
bool same_file(const char* a, const char* b) {
  StatBuf sa{}, sb{};
  if (!stat_path(a, sa) || !stat_path(b, sb)) return false;
#ifdef _WIN32
  // The C runtime's stat gives no file number on Windows; ask the system for
  // the file identity, which also sees through hard links, 8.3 short names,
  // differing case and other spellings of one path.
  std::wstring wa, wb;
  if (!wide_native_name(a, wa) || !wide_native_name(b, wb)) return false;
  HANDLE ha = open_for_query(wa);
  HANDLE hb = open_for_query(wb);
  FileIdentity ia, ib;
  bool known = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE && file_identity(ha, ia) &&
               file_identity(hb, ib);
  if (ha != INVALID_HANDLE_VALUE) CloseHandle(ha);
  if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
  if (known) return ia.volume == ib.volume && std::memcmp(ia.id, ib.id, sizeof ia.id) == 0;
  // The identity could not be read: two spellings of one absolute name are
  // still the same file (Windows names ignore case).
  std::wstring fa = full_name(wa), fb = full_name(wb);
  return !fa.empty() && CompareStringOrdinal(fa.c_str(), static_cast<int>(fa.size()), fb.c_str(),
                                             static_cast<int>(fb.size()), TRUE) == CSTR_EQUAL;
#else
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}
}  // namespace

bool u_same_file(const char* a, const char* b) {
  // Out of memory for the converted names: not known to be the same file.
  try {
    return same_file(a, b);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::int64_t u_file_size(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 st {};
  if (_fstat64(_fileno(file), &st) != 0) return -1;
#else
  struct stat st {};
  if (::fstat(fileno(file), &st) != 0) return -1;
#endif
  if ((st.st_mode & S_IFMT) != S_IFREG) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

int u_fseek(std::FILE* file, std::int64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, offset, SEEK_SET);
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}
