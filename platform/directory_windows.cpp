// Folders on Windows: the wide-character calls, with names beyond MAX_PATH
// in the extended-length form (see u_windows_name).
#include <cerrno>
#include <string>

#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/file_io_native.h"
#include "platform/windows_api.h"

namespace {

// 100-nanosecond ticks since 1601 as nanoseconds since 1970.
std::int64_t unix_nanoseconds(const FILETIME& t) {
  const auto ticks = (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return (ticks - 116444736000000000LL) * 100;
}

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// Strict UTF-16 to UTF-8: false on a lone surrogate.
bool to_utf8(const wchar_t* units, std::string& out) {
  const int n =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.assign(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return true;
}

// What a name refers to in the end, through links: opened for queries only.
EntryInfo followed_info(const std::wstring& name) {
  HANDLE h = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION bh{};
  const bool ok = GetFileInformationByHandle(h, &bh);
  CloseHandle(h);
  if (!ok) return {};
  EntryInfo info;
  info.kind =
      (bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kDirectory : EntryKind::kFile;
  info.size = (static_cast<std::int64_t>(bh.nFileSizeHigh) << 32) | bh.nFileSizeLow;
  info.mtime = unix_nanoseconds(bh.ftLastWriteTime);
  return info;
}

}  // namespace

int u_list_directory(const char* dir, std::vector<DirEntry>& out) {
  std::wstring name;
  if (!u_windows_name(dir, name)) return EILSEQ;
  if (!name.empty() && name.back() != L'\\' && name.back() != L'/') name += L'\\';
  const std::wstring base = name;
  name += L'*';
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileExW(name.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : errno_of(error);  // an empty drive
  }
  int result = 0;
  do {
    const wchar_t* n = found.cFileName;
    if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
    DirEntry entry;
    entry.bad_name = !to_utf8(n, entry.name);
    const DWORD a = found.dwFileAttributes;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A symbolic link or junction: to a folder never followed, to a file
      // taken as the file.
      if (a & FILE_ATTRIBUTE_DIRECTORY) {
        entry.info.kind = EntryKind::kLink;
      } else {
        entry.info = followed_info(base + n);
        if (entry.info.kind == EntryKind::kMissing) entry.info.kind = EntryKind::kOther;
      }
    } else {
      entry.info.kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kDirectory : EntryKind::kFile;
      entry.info.size = (static_cast<std::int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      entry.info.mtime = unix_nanoseconds(found.ftLastWriteTime);
    }
    out.push_back(std::move(entry));
  } while (FindNextFileW(h, &found));
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) result = errno_of(error);
  FindClose(h);
  return result;
}

EntryInfo u_entry_info(const char* path) {
  std::wstring name;
  if (!u_windows_name(path, name)) return {};
  EntryInfo info = followed_info(name);
  if (info.kind == EntryKind::kMissing &&
      GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES)
    info.kind = EntryKind::kOther;  // a device such as NUL
  return info;
}

int u_make_directory(const char* path) {
  std::wstring name;
  if (!u_windows_name(path, name)) return EILSEQ;
  if (CreateDirectoryW(name.c_str(), nullptr)) return 0;
  const DWORD error = GetLastError();
  const DWORD a = GetFileAttributesW(name.c_str());
  if (error == ERROR_ALREADY_EXISTS && a != INVALID_FILE_ATTRIBUTES &&
      (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))
    return 0;
  return errno_of(error);
}
