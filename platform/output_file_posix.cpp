// Output files on POSIX systems: the temporary file is put in place with
// rename() (replacing) or renameat2(RENAME_NOREPLACE), with link() where that
// is refused (never replacing).
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "errors/errors.h"
#include "platform/file_io_native.h"
#include "platform/output_file.h"
#include "platform/output_file_calls.h"
#include "platform/output_file_shared.h"

OutputFileCalls u_output_file_calls = {
    [](const char* name, int flags, mode_t mode) { return ::open(name, flags, mode); },
    [](const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
      return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
      static_cast<void>(from);
      static_cast<void>(to);
      errno = ENOSYS;
      return -1;
#endif
    },
    [](const char* from, const char* to) { return ::link(from, to); },
    [](const char* from, const char* to) { return std::rename(from, to); },
    [](std::FILE* stream) { return std::fclose(stream); },
};

namespace {

using Temporaries = TemporaryTable<char>;

extern "C" void remove_temporaries_and_reraise(int sig) {
  Temporaries::remove_all([](const char* name) { ::unlink(name); });
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// The signals whose handler removes the temporaries.
sigset_t termination_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

bool can_fall_back_in_place(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC ||
         error == EDQUOT || error == ENAMETOOLONG;
}

}  // namespace

std::int32_t OutputFile::open_native(const char* path, bool binary) {
  const char* stream_mode = binary ? "wb" : "w";
  std::string name;
  if (!u_posix_name(path, name)) {
    errno = EILSEQ;
    return ERR_CANT_CREATE_FILE;
  }
  struct stat st {};
  const bool exists = ::stat(name.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or FIFO: there is nothing to put in place.
    direct_ = true;
    stream_ = std::fopen(name.c_str(), stream_mode);
    return stream_ ? ERR_NONE : ERR_CANT_CREATE_FILE;
  }
  final_ = name;
  if (exists) {
    // Through a symbolic link: replace the file it points to.
    const std::unique_ptr<char, void (*)(void*)> real(::realpath(name.c_str(), nullptr), std::free);
    if (real) final_ = real.get();
  }
  int fd = -1;
  int error = 0;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    error = EINTR;  // unless made: a handler has started, nothing is made any more
    temp_ = temporary_name(final_, "/", static_cast<unsigned long long>(::getpid()), attempt);
    // The signals are held back on this thread from before the temporary is
    // made until it is registered; on another thread, the handler waits.
    const sigset_t held = termination_signals();
    sigset_t old;
    ::pthread_sigmask(SIG_BLOCK, &held, &old);
    Temporaries::make_registered(temp_, slot_, [&] {
      fd = u_output_file_calls.open(temp_.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      error = errno;
      return fd >= 0;
    });
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (fd < 0 && error != EEXIST) break;
  }
  if (fd < 0) {
    temp_.clear();
    if (exists && mode_ == OutputMode::kReplace && can_fall_back_in_place(error)) {
      // The directory takes no new file, but the output itself may be
      // written.
      direct_ = true;
      stream_ = std::fopen(name.c_str(), stream_mode);
      return stream_ ? ERR_NONE : ERR_CANT_CREATE_FILE;
    }
    errno = error;
    return ERR_CANT_CREATE_FILE;
  }
  if (exists) static_cast<void>(::fchmod(fd, st.st_mode & 07777));  // best effort
  stream_ = ::fdopen(fd, stream_mode);
  if (!stream_) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return ERR_CANT_CREATE_FILE;  // open() removes the temporary
  }
  // A buffer that holds a small output whole: one write for it, and no
  // fstat() to choose the buffer's size.
  buffer_ = std::make_unique<char[]>(kBufferSize);
  static_cast<void>(std::setvbuf(stream_, buffer_.get(), _IOFBF, kBufferSize));
  return ERR_NONE;
}

std::int32_t OutputFile::put_in_place() {
  std::int32_t result = ERR_NONE;
  bool renamed = false;
  if (mode_ == OutputMode::kReplace) {
    renamed = u_output_file_calls.rename(temp_.c_str(), final_.c_str()) == 0;
    if (!renamed) result = ERR_CANT_WRITE_FILE;
  } else if (u_output_file_calls.rename_new(temp_.c_str(), final_.c_str()) == 0) {
    // One call that never replaces: it fails with EEXIST when the name was
    // taken meanwhile.
    renamed = true;
  } else if (errno == EEXIST) {
    result = ERR_CANT_CREATE_FILE;
  } else if (u_output_file_calls.link(temp_.c_str(), final_.c_str()) != 0) {
    // Where that call is refused: link() never replaces either. File systems
    // without hard links get a check and a rename.
    struct stat st {};
    if (errno == EEXIST || ::lstat(final_.c_str(), &st) == 0) {
      result = ERR_CANT_CREATE_FILE;
    } else {
      renamed = u_output_file_calls.rename(temp_.c_str(), final_.c_str()) == 0;
      if (!renamed) result = ERR_CANT_WRITE_FILE;
    }
  }
  // After a rename no file has the temporary's name any more.
  if (renamed) temp_.clear();
  remove_temporary();
  return result;
}

void OutputFile::remove_temporary() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  Temporaries::remove(slot_);
  slot_ = -1;
}

void u_remove_temporaries_on_signals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = remove_temporaries_and_reraise;
    // One handler at a time on a thread.
    action.sa_mask = termination_signals();
    // An ignored signal (nohup) stays ignored.
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
}
