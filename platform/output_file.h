// Writing an output file so that it is either complete or not there.
//
// The text goes into a new temporary file beside the output (created
// exclusively, under a name no existing file or link holds) and is put in
// place in one step once every write and the close have succeeded. Until
// then the old output, if any, is untouched; a failure, or an abandoned
// OutputFile, removes the temporary file. A process that wants the same on
// SIGINT, SIGTERM and SIGHUP (console control events on Windows) calls
// u_remove_temporaries_on_signals() once: then a signal at any moment leaves
// no temporary of up to kMaxThreads (threads.h) OutputFiles open at once.
//
// An output that exists and is no regular file (a device, a FIFO) is written
// directly. When the output is a symbolic link, the file it points to is
// replaced and the link stays. A replaced file keeps its permission bits.
// When the directory cannot take a new file but an existing output may be
// replaced, the output is written in place instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

enum class OutputMode : std::uint8_t {
  kReplace,    // an existing file is replaced
  kCreateNew,  // the output must not exist when it is put in place
};

class OutputFile {
 public:
#ifdef _WIN32
  using Name = std::wstring;
#else
  using Name = std::string;
#endif

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { abandon(); }

  // Opens a stream for `path` (library path convention, see file_io.h), in
  // text mode unless `binary`. 0, or ERR_CANT_CREATE_FILE with errno telling
  // why (ENOMEM when a name could not be made for lack of memory).
  [[nodiscard]] std::int32_t open(const char* path, OutputMode mode, bool binary = false);

  std::FILE* stream() const { return stream_; }

  // Closes the stream and puts the file in place. 0; ERR_CANT_WRITE_FILE when
  // a write, the flush, the close or the final step failed (the old output
  // stays as it was); with kCreateNew, ERR_CANT_CREATE_FILE when a file of
  // that name appeared meanwhile (it is left alone; commit gives this code
  // for nothing else, and sets errno to EEXIST with it).
  [[nodiscard]] std::int32_t commit();

  // Closes the stream and removes the temporary file (a direct write stays
  // as far as it got).
  void abandon();

 private:
  // The system's part (output_file_posix.cpp, output_file_windows.cpp): open
  // the stream for a non-empty path, as open() reports it (it may throw
  // std::bad_alloc, and may leave a temporary for open() to remove); put the
  // closed temporary file in place, as commit() reports it; and remove it.
  // The last two leave no temporary behind and release its slot.
  std::int32_t open_native(const char* path, bool binary);
  std::int32_t put_in_place();
  void remove_temporary();

  std::FILE* stream_ = nullptr;
  OutputMode mode_ = OutputMode::kReplace;
  bool direct_ = false;
  int slot_ = -1;  // where the temporary is registered for signal clean-up
  Name temp_;      // native name of the temporary file
  Name final_;     // native name it is put in place as
  // The stream's buffer (POSIX): declared last, so that it outlives the
  // stream, which the destructor closes.
  static constexpr std::size_t kBufferSize = 64 * 1024;
  std::unique_ptr<char[]> buffer_;
};

// Installs handlers that remove the temporary files of open OutputFiles and
// then end the process as the signal would have (POSIX: SIGINT, SIGTERM,
// SIGHUP; Windows: console control events).
void u_remove_temporaries_on_signals();
