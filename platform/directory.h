// Folders by the library's path convention (see file_io.h): what a folder
// holds, what a name is (kind, size, modification time), making a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EntryKind : std::uint8_t {
  kMissing,    // no such name (or it could not be looked at)
  kFile,       // a regular file, also through a symbolic link
  kDirectory,  // a folder (by a name looked up: also through a link)
  kLink,       // a symbolic link (or junction) to a folder, found in a listing
  kOther,      // a device, FIFO, socket, dangling link
};

struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  std::int64_t size = 0;   // bytes, of a file
  std::int64_t mtime = 0;  // last modification, nanoseconds since 1970
};

struct DirEntry {
  // The name as text: UTF-8 on Windows, the name's own bytes elsewhere. Join
  // it to its folder with u_path_join.
  std::string name;
  EntryInfo info;
  // Windows: the name is not valid UTF-16 and cannot be written as text.
  bool bad_name = false;
};

// The entries of folder `dir`, without "." and "..", in no particular order.
// Symbolic links to folders are kLink and never followed; links to files
// are kFile, with the file's size and time. 0, or the errno value of why the
// folder could not be read.
int u_list_directory(const char* dir, std::vector<DirEntry>& out);

// What `path` names, following symbolic links.
EntryInfo u_entry_info(const char* path);

// Makes folder `path` (its parent must exist). 0 also when it is already a
// folder; otherwise the errno value.
int u_make_directory(const char* path);

// `dir` joined with `name` (text as DirEntry::name holds it, which may hold
// '/' between folder names) by '/', in `dir`'s form: a wide path when `dir`
// is one (or on Windows always, so that any name reaches the system intact).
// Empty when `name` cannot be converted.
std::string u_path_join(const char* dir, const std::string& name);
