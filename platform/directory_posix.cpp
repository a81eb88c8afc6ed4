// Folders on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/directory.h"
#include "platform/file_io_native.h"

namespace {

EntryInfo info_of(const struct stat& st) {
  EntryInfo info;
  info.kind = S_ISREG(st.st_mode)   ? EntryKind::kFile
              : S_ISDIR(st.st_mode) ? EntryKind::kDirectory
                                    : EntryKind::kOther;
  info.size = static_cast<std::int64_t>(st.st_size);
  info.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return info;
}

}  // namespace

int u_list_directory(const char* dir, std::vector<DirEntry>& out) {
  std::string name;
  if (!u_posix_name(dir, name)) return EILSEQ;
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> owner(d, ::closedir);
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(d);
    if (!e) return errno;
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    DirEntry entry;
    entry.name = e->d_name;
    struct stat st {};
    if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      entry.info.kind = EntryKind::kMissing;  // gone meanwhile
    } else if (S_ISLNK(st.st_mode)) {
      // A link to a file counts as the file; a link to a folder is never
      // followed.
      struct stat target {};
      if (::fstatat(fd, e->d_name, &target, 0) != 0)
        entry.info.kind = EntryKind::kOther;
      else if (S_ISDIR(target.st_mode))
        entry.info.kind = EntryKind::kLink;
      else
        entry.info = info_of(target);
    } else {
      entry.info = info_of(st);
    }
    out.push_back(std::move(entry));
  }
}

EntryInfo u_entry_info(const char* path) {
  std::string name;
  struct stat st {};
  if (!u_posix_name(path, name) || ::stat(name.c_str(), &st) != 0) return {};
  return info_of(st);
}

int u_make_directory(const char* path) {
  std::string name;
  if (!u_posix_name(path, name)) return EILSEQ;
  if (::mkdir(name.c_str(), 0777) == 0) return 0;
  const int error = errno;
  struct stat st {};
  if (error == EEXIST && ::lstat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return error;
}
