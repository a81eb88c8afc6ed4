// Files on Windows: wide paths go through the wide-character calls, and the
// same-file check asks the system for file identities.
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <wchar.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/file_io.h"
#include "platform/file_io_native.h"
#include "platform/windows_api.h"

namespace {

std::wstring wide_name(const char* path) {
  std::u16string units = u_wide_units(path);
  return std::wstring(units.begin(), units.end());
}
std::wstring wide_mode(const char* mode) {
  std::wstring m;
  for (const char* p = mode; *p; ++p) m += static_cast<wchar_t>(*p);
  return m;
}

bool stat_path(const char* path, struct _stat64& st) {
  std::wstring name;
  return u_windows_name(path, name) && u_windows_stat(name, st) == 0;
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

bool u_windows_name(const char* path, std::wstring& out) {
  if (u_path_is_wide(path)) {
    out = wide_name(path);
  } else {
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, out.data(), n) != n) return false;
    out.resize(static_cast<std::size_t>(n - 1));
  }
  // The classic calls stop at MAX_PATH units, less for a folder's name, and
  // an output's temporary name is a few units longer than the output's.
  // Shorter names stay as given, so that device names such as NUL keep
  // their meaning.
  if (out.size() < MAX_PATH - 40 || out.starts_with(L"\\\\?\\")) return true;
  const std::wstring full = full_name(out);
  if (full.empty()) return true;
  if (full.starts_with(L"\\\\"))
    out = L"\\\\?\\UNC" + full.substr(1);  // \\server\share -> \\?\UNC\server\share
  else
    out = L"\\\\?\\" + full;
  return true;
}

int u_windows_stat(const std::wstring& name, struct _stat64& st) {
  if (!name.starts_with(L"\\\\?\\")) return _wstat64(name.c_str(), &st);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
    errno = ENOENT;
    return -1;
  }
  st = {};
  st.st_mode = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? S_IFDIR : S_IFREG;
  st.st_size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const auto ticks = (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
  st.st_mtime = (ticks - 116444736000000000LL) / 10000000;
  return 0;
}

std::FILE* u_native_fopen(const char* path, const char* mode) {
  std::wstring name;
  if (!u_windows_name(path, name)) {
    errno = EILSEQ;
    return nullptr;
  }
  return _wfopen(name.c_str(), wide_mode(mode).c_str());
}

bool u_native_is_regular_file(const char* path) {
  struct _stat64 st {};
  return stat_path(path, st) && (st.st_mode & S_IFMT) == S_IFREG;
}

bool u_native_is_directory(const char* path) {
  struct _stat64 st {};
  return stat_path(path, st) && (st.st_mode & S_IFMT) == S_IFDIR;
}

bool u_native_same_file(const char* a, const char* b) {
  struct _stat64 sa {
  }, sb{};
  if (!stat_path(a, sa) || !stat_path(b, sb)) return false;
  // The C runtime's stat gives no file number on Windows; ask the system for
  // the file identity, which also sees through hard links, 8.3 short names,
  // differing case and other spellings of one path.
  std::wstring wa, wb;
  if (!u_windows_name(a, wa) || !u_windows_name(b, wb)) return false;
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
}

std::int64_t u_file_size(std::FILE* file) {
  struct _stat64 st {};
  if (_fstat64(_fileno(file), &st) != 0) return -1;
  if ((st.st_mode & S_IFMT) != S_IFREG) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

int u_fseek(std::FILE* file, std::int64_t offset) { return _fseeki64(file, offset, SEEK_SET); }

bool u_read_at(std::FILE* file, void* buffer, std::size_t size, std::int64_t offset) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return false;
  // A read with an offset moves the handle's position all the same: it is
  // put back afterwards, one read at a time, so that the stream reads on
  // where it was.
  static std::mutex one_at_a_time;
  const std::lock_guard<std::mutex> lock(one_at_a_time);
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT)) return false;
  auto* p = static_cast<char*>(buffer);
  bool ok = true;
  while (ok && size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    ok = ReadFile(handle, p, want, &got, &at) && got > 0;
    p += got;
    size -= got;
    offset += got;
  }
  return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && ok;
}
