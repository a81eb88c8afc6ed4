// Opening files by the library's path convention, and an owning file handle.
//
// A path is an 8-bit string, or a UTF-16 string announced by a byte-order
// mark: when its first byte is not 0 and its first two bytes, read as one
// little-endian 16-bit unit, are 0xFEFF (the units that follow are
// little-endian) or 0xFFFE (they are big-endian), the name is the UTF-16
// string after the mark, ended by a 0 unit. Windows opens such names with the
// wide-character calls; elsewhere they are converted to UTF-8 first, and a
// name that is not valid UTF-16 cannot be opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

// True when `path` carries the UTF-16 byte-order mark.
bool u_path_is_wide(const char* path);

// A copy of `path` as a string, the whole of a wide one (its 0 unit
// included), so that c_str() gives the same path back.
std::string u_path_copy(const char* path);

// True when `path` is null or names nothing: "" or a wide path without units.
bool u_path_is_empty(const char* path);

// Appends code point `c` (below 0x110000, not a surrogate) as UTF-8.
void u_append_utf8(std::string& out, std::uint32_t c);

// Builds a library path (mark 0xFEFF, little-endian units, a 0 unit at the
// end) from UTF-8 text; empty when the text is not valid UTF-8.
std::string u_wide_path_from_utf8(const std::string& utf8);

// Opens `path` with a C runtime mode ("rb", "w", ...); nullptr on failure,
// with errno telling why (ENOMEM when the name could not be converted for
// lack of memory).
[[nodiscard]] std::FILE* u_fopen(const char* path, const char* mode);

// True when `path` names an existing regular file.
bool u_is_regular_file(const char* path);

// True when `path` names an existing directory (or a link to one).
bool u_is_directory(const char* path);

// The path of the entry of directory `dir` named after the last component of
// `file`, with its extension (from its last '.', not a leading one) replaced
// by `extension`, or `extension` appended when it has none. Both paths follow
// the library convention; the result is a wide path when either is. Names are
// split at '/' (and at '\\' and a drive's ':' on Windows).
std::string u_path_in_directory(const char* dir, const char* file, const char* extension);

// True when both paths name the same existing file.
bool u_same_file(const char* a, const char* b);

// Size of an open file in bytes, or -1 when it cannot be told.
std::int64_t u_file_size(std::FILE* file);

// Positions an open file at `offset` from its start; 0 on success.
[[nodiscard]] int u_fseek(std::FILE* file, std::int64_t offset);

// Reads exactly `size` bytes at `offset` from the start of an open file,
// past the stream's buffer, without using or moving its position, so that
// several threads may read one file at once (on Windows they take turns).
// false on a read error or when the file ends first.
[[nodiscard]] bool u_read_at(std::FILE* file, void* buffer, std::size_t size, std::int64_t offset);

// A C runtime stream that is closed when its owner goes away.
class File {
 public:
  File() = default;
  explicit File(std::FILE* f) : f_(f) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : f_(std::exchange(other.f_, nullptr)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      // A stream dropped without close() was only read, or its writer has
      // already given up on it: a failing close has nothing left to report.
      static_cast<void>(close());
      f_ = std::exchange(other.f_, nullptr);
    }
    return *this;
  }
  ~File() { static_cast<void>(close()); }  // as in the move assignment

  std::FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  // Closes the stream (flushing what it buffered); false when that fails.
  [[nodiscard]] bool close() {
    if (!f_) return true;
    bool ok = std::fclose(f_) == 0;
    f_ = nullptr;
    return ok;
  }

 private:
  std::FILE* f_ = nullptr;
};
