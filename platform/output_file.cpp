// What both systems' output files share: closing the stream and telling a
// failed write from a failed last step.
#include "platform/output_file.h"

#include <cerrno>

#include "errors/errors.h"
#include "platform/file_io.h"
#include "platform/output_file_calls.h"

std::int32_t OutputFile::open(const char* path, OutputMode mode, bool binary) {
  abandon();
  mode_ = mode;
  if (u_path_is_empty(path)) {  // also a wide name without units
    errno = ENOENT;
    return ERR_CANT_CREATE_FILE;
  }
  // Making the names takes memory; running out of it is a failure to
  // create, never an exception out of the library.
  std::int32_t result = ERR_CANT_CREATE_FILE;
  int error = ENOMEM;
  try {
    result = open_native(path, binary);
    error = errno;
  } catch (const std::bad_alloc&) {
  }
  if (result != ERR_NONE) {
    abandon();
    errno = error;
  }
  return result;
}

std::int32_t OutputFile::commit() {
  if (!stream_) return ERR_CANT_WRITE_FILE;
  bool ok = !std::ferror(stream_);
  ok = u_output_file_calls.fclose(stream_) == 0 && ok;
  stream_ = nullptr;
  if (direct_) {
    direct_ = false;
    return ok ? ERR_NONE : ERR_CANT_WRITE_FILE;
  }
  if (!ok) {
    remove_temporary();
    return ERR_CANT_WRITE_FILE;
  }
  const std::int32_t result = put_in_place();
  if (result == ERR_CANT_CREATE_FILE) errno = EEXIST;
  return result;
}

void OutputFile::abandon() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  direct_ = false;
  remove_temporary();
}
