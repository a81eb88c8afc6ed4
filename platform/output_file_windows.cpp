// Output files on Windows: the temporary file is put in place with
// MoveFileExW, which replaces only when told to.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "errors/errors.h"
#include "platform/file_io_native.h"
#include "platform/output_file.h"
#include "platform/output_file_calls.h"
#include "platform/output_file_shared.h"
#include "platform/windows_api.h"

OutputFileCalls u_output_file_calls = {
    CreateFileW,
    MoveFileExW,
    [](std::FILE* stream) { return std::fclose(stream); },
};

namespace {

// Temporary files that the console control handler removes. The handler runs
// on a thread of its own (so it waits for a temporary being made, see
// TemporaryTable); a file still open is deleted once its handle closes, since
// it is opened with delete sharing.
using Temporaries = TemporaryTable<wchar_t>;

BOOL WINAPI remove_temporaries(DWORD) {
  Temporaries::remove_all([](const wchar_t* name) { DeleteFileW(name); });
  return FALSE;  // the default handler ends the process
}

// The file a name finally refers to (through symbolic links), or the name
// itself when that cannot be told.
std::wstring final_name(const std::wstring& name) {
  HANDLE h = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return name;
  std::wstring out(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()), 0);
  if (n >= out.size()) {
    out.assign(n + 1, L'\0');
    n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()), 0);
  }
  CloseHandle(h);
  if (n == 0 || n >= out.size()) return name;
  out.resize(n);
  return out;
}

}  // namespace

std::int32_t OutputFile::open_native(const char* path, bool binary) {
  std::wstring name;
  if (!u_windows_name(path, name)) {
    errno = EILSEQ;
    return ERR_CANT_CREATE_FILE;
  }
  struct _stat64 st {};
  const bool exists = u_windows_stat(name, st) == 0;
  if (exists && (st.st_mode & S_IFMT) != S_IFREG) {
    direct_ = true;
    stream_ = _wfopen(name.c_str(), binary ? L"wb" : L"w");
    return stream_ ? ERR_NONE : ERR_CANT_CREATE_FILE;
  }
  // Only a symbolic link needs its target's name; any other name is used
  // as given.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  final_ = exists && attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
               ? final_name(name)
               : name;
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (unsigned attempt = 0; h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    error = ERROR_OPERATION_ABORTED;  // unless made: the handler has started
    temp_ = temporary_name(final_, L"\\/:", GetCurrentProcessId(), attempt);
    Temporaries::make_registered(temp_, slot_, [&] {
      h = u_output_file_calls.create_file(temp_.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      return h != INVALID_HANDLE_VALUE;
    });
    if (h == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    temp_.clear();
    if (exists && mode_ == OutputMode::kReplace &&
        (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT || error == ERROR_DISK_FULL ||
         error == ERROR_FILENAME_EXCED_RANGE)) {
      direct_ = true;
      stream_ = _wfopen(name.c_str(), binary ? L"wb" : L"w");
      return stream_ ? ERR_NONE : ERR_CANT_CREATE_FILE;
    }
    errno = error == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
    return ERR_CANT_CREATE_FILE;
  }
  int fd =
      _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | (binary ? _O_BINARY : _O_TEXT));
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
    return ERR_CANT_CREATE_FILE;  // open() removes the temporary
  }
  stream_ = _fdopen(fd, binary ? "wb" : "w");
  if (!stream_) {
    _close(fd);
    errno = EMFILE;
    return ERR_CANT_CREATE_FILE;  // open() removes the temporary
  }
  return ERR_NONE;
}

std::int32_t OutputFile::put_in_place() {
  std::int32_t result = ERR_NONE;
  DWORD flags = mode_ == OutputMode::kReplace ? MOVEFILE_REPLACE_EXISTING : 0;
  if (u_output_file_calls.move_file(temp_.c_str(), final_.c_str(), flags)) {
    temp_.clear();  // no file has the temporary's name any more
  } else {
    DWORD error = GetLastError();
    if (mode_ == OutputMode::kReplace &&
        (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
        CopyFileW(temp_.c_str(), final_.c_str(), FALSE)) {
      // Another program holds the old output open, which Windows lets
      // nobody replace; its contents can still be written over, now that
      // the new ones are complete.
    } else {
      result = mode_ == OutputMode::kCreateNew &&
                       (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                   ? ERR_CANT_CREATE_FILE
                   : ERR_CANT_WRITE_FILE;
    }
  }
  remove_temporary();
  return result;
}

void OutputFile::remove_temporary() {
  if (!temp_.empty()) DeleteFileW(temp_.c_str());
  temp_.clear();
  Temporaries::remove(slot_);
  slot_ = -1;
}

void u_remove_temporaries_on_signals() { SetConsoleCtrlHandler(remove_temporaries, TRUE); }
