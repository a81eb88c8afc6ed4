// What differs between Windows and the POSIX systems, held to exactly that:
// text files end their lines with CR LF on Windows and LF elsewhere, dates
// are local time on both, and file sizes and positions go beyond 32 bits.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <numeric>
#include <stdexcept>

#include "errors/errors.h"
#include "platform/chunk_pipeline.h"
#include "platform/file_io.h"
#include "platform/output_file.h"
#include "platform/output_file_calls.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

std::string value_of(const std::string& text, const std::string& key) {
  std::size_t at = text.find("\n" + key + " = ");
  if (at == std::string::npos) return {};
  at += key.size() + 4;
  return text.substr(at, text.find_first_of("\r\n", at) - at);
}

// Sets TZ for the life of the object, for the C runtime of this platform.
class ZoneFor {
 public:
  explicit ZoneFor(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    set(zone);
  }
  ~ZoneFor() { set(had_ ? saved_.c_str() : nullptr); }

 private:
  static void set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone ? zone : "");
    _tzset();
#else
    if (zone)
      setenv("TZ", zone, 1);
    else
      unsetenv("TZ");
    tzset();
#endif
  }
  std::string saved_;
  bool had_ = false;
};

// DDMMYYYYHHMM of UTC time `t` moved by `offset` seconds.
std::string stamp_at(std::time_t t, long offset) {
  std::time_t shifted = t + offset;
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &shifted);
#else
  gmtime_r(&shifted, &tm);
#endif
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%04d%02d%02d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
  return buf;
}

}  // namespace

TEST(TextMode, SdfLinesEndAsThePlatformWantsAndNothingElse) {
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 23, 6);
  const std::string path = dir.file("lines.sdf");
  ASSERT_EQ(sdf_export(path.c_str(), &m.header, &m.intensity, &m.phase), 0);
  const std::string bytes = read_text(path);
  std::size_t lf = 0, cr = 0, crlf = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    lf += bytes[i] == '\n';
    cr += bytes[i] == '\r';
    crlf += bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
  }
  ASSERT_GT(lf, 100u);
  ASSERT_EQ(bytes.substr(bytes.size() - 1), "\n");
#ifdef _WIN32
  EXPECT_EQ(crlf, lf) << "every line ends with CR LF";
  EXPECT_EQ(cr, lf) << "and no CR stands elsewhere";
#else
  EXPECT_EQ(cr, 0u);
  (void)crlf;
#endif
}

TEST(LocalTime, ModDateIsTheLocalClockOnEveryPlatform) {
  // A zone both C runtimes read the same way: UTC+5:30, no summer time.
  ZoneFor zone("XYZ-5:30");
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 23, 6);
  const std::string path = dir.file("now.sdf");
  std::time_t before = std::time(nullptr);
  ASSERT_EQ(sdf_export(path.c_str(), &m.header, &m.intensity, &m.phase), 0);
  std::time_t after = std::time(nullptr);
  const std::string mod = value_of(read_text(path), "ModDate");
  const long offset = 5 * 3600 + 30 * 60;
  EXPECT_TRUE(mod == stamp_at(before, offset) || mod == stamp_at(after, offset))
      << mod << " vs " << stamp_at(before, offset);
}

TEST(LargeFiles, SizesAndPositionsBeyondFourGigabytes) {
  ScratchDir dir;
  const std::string path = dir.file("big.bin");
  const std::int64_t beyond = (std::int64_t{5} << 30) + 3;
  {
    File f(u_fopen(path.c_str(), "wb"));
    ASSERT_TRUE(f);
    ASSERT_EQ(u_fseek(f.get(), beyond), 0);
    ASSERT_EQ(std::fputc(0x5A, f.get()), 0x5A);
    ASSERT_TRUE(f.close());
  }
  // The holes cost no disk space where the file system is sparse.
  EXPECT_TRUE(u_is_regular_file(path.c_str()));
  File f(u_fopen(u_wide_path_from_utf8(path).c_str(), "rb"));
  ASSERT_TRUE(f);
  // Unbuffered, every read of the stream starts at the file's own position.
  ASSERT_EQ(std::setvbuf(f.get(), nullptr, _IONBF, 0), 0);
  EXPECT_EQ(u_file_size(f.get()), beyond + 1);
  ASSERT_EQ(u_fseek(f.get(), beyond), 0);
  EXPECT_EQ(std::fgetc(f.get()), 0x5A);
  EXPECT_EQ(std::fgetc(f.get()), EOF);
  ASSERT_EQ(u_fseek(f.get(), beyond - 1), 0);
  EXPECT_EQ(std::fgetc(f.get()), 0);
  // Reads at a place leave the stream where it was, and fail when the file
  // ends first.
  unsigned char bytes[2] = {1, 1};
  EXPECT_TRUE(u_read_at(f.get(), bytes, 2, beyond - 1));
  EXPECT_EQ(bytes[0] * 256 + bytes[1], 0x5A);
  EXPECT_FALSE(u_read_at(f.get(), bytes, 2, beyond));
  EXPECT_FALSE(u_read_at(f.get(), bytes, 1, beyond + 1));
  EXPECT_EQ(std::fgetc(f.get()), 0x5A);
}

namespace {

// The output file's branches that a race reaches only now and then, reached
// through the system calls it makes. The replacements act on `target`.
OutputFileCalls real_calls;
std::string target;

std::int32_t write_output(OutputMode mode) {
  OutputFile f;
  if (std::int32_t err = f.open(target.c_str(), mode)) return err;
  std::fputs("new", f.stream());
  return f.commit();
}

}  // namespace

TEST(OutputFile, KeepsWhatItMustWhenACallFailsOrAFileAppears) {
  ScratchDir dir;
  target = dir.file("out.txt");
  real_calls = u_output_file_calls;
  auto only_target = [&] {
    auto it = std::filesystem::directory_iterator(dir.path());
    return it != std::filesystem::directory_iterator() && it->path().filename() == "out.txt" &&
           ++it == std::filesystem::directory_iterator();
  };
  // A file of the output's name appears just before the new one is put in
  // place: kCreateNew leaves it alone and says so.
#ifdef _WIN32
  u_output_file_calls.move_file = [](LPCWSTR from, LPCWSTR to, DWORD flags) {
    write_text(target, "theirs");
    return real_calls.move_file(from, to, flags);
  };
  EXPECT_EQ(write_output(OutputMode::kCreateNew), ERR_CANT_CREATE_FILE);
  EXPECT_EQ(read_text(target), "theirs");
  EXPECT_TRUE(only_target());
#else
  // Also where renaming without replacing is refused (link() takes over) and
  // where hard links are too (a check and a rename).
  for (int refused : {ENOSYS, EINVAL, 0}) {
    static int refuse;
    refuse = refused;
    std::filesystem::remove(target);
    u_output_file_calls.rename_new = [](const char* from, const char* to) {
      if (refuse == 0) write_text(target, "theirs");
      errno = refuse;
      return refuse ? -1 : real_calls.rename_new(from, to);
    };
    u_output_file_calls.link = [](const char* from, const char* to) {
      if (refuse == EINVAL) write_text(target, "theirs");
      errno = EPERM;
      return refuse == EINVAL ? real_calls.link(from, to) : -1;
    };
    EXPECT_EQ(write_output(OutputMode::kCreateNew),
              refuse == ENOSYS ? ERR_NONE : ERR_CANT_CREATE_FILE);
    EXPECT_EQ(read_text(target), refuse == ENOSYS ? "new" : "theirs") << refused;
    EXPECT_TRUE(only_target());
  }
#endif

  // The last step fails: kReplace keeps the old file.
#ifdef _WIN32
  u_output_file_calls.move_file = [](LPCWSTR, LPCWSTR, DWORD) -> BOOL {
    SetLastError(ERROR_NOT_SAME_DEVICE);
    return FALSE;
  };
#else
  u_output_file_calls.rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
#endif
  EXPECT_EQ(write_output(OutputMode::kReplace), ERR_CANT_WRITE_FILE);
  EXPECT_EQ(read_text(target), "theirs");
  EXPECT_TRUE(only_target());
  u_output_file_calls = real_calls;

  // The close fails: the old file stays.
  u_output_file_calls.fclose = [](std::FILE* f) {
    static_cast<void>(real_calls.fclose(f));
    return EOF;
  };
  EXPECT_EQ(write_output(OutputMode::kReplace), ERR_CANT_WRITE_FILE);
  EXPECT_EQ(read_text(target), "theirs");
  EXPECT_TRUE(only_target());
  u_output_file_calls = real_calls;

  // The directory takes no new file: kReplace writes the output in place,
  // kCreateNew fails.
#ifdef _WIN32
  u_output_file_calls.create_file = [](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                       HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  };
#else
  u_output_file_calls.open = [](const char*, int, mode_t) {
    errno = EACCES;
    return -1;
  };
#endif
  EXPECT_EQ(write_output(OutputMode::kReplace), ERR_NONE);
  EXPECT_EQ(read_text(target), "new");
  EXPECT_EQ(write_output(OutputMode::kCreateNew), ERR_CANT_CREATE_FILE);
  EXPECT_TRUE(only_target());
  u_output_file_calls = real_calls;
}

// Chunks are handed on in order whatever the thread count, each from its
// slot c % slots; an exception out of a callback reaches the caller once
// every thread has stopped.
TEST(ChunkPipeline, HandsOnInOrderAndCarriesExceptions) {
  struct Job final : ChunkJob {
    std::size_t throw_at = 0;
    std::vector<std::size_t> in_slot = std::vector<std::size_t>(kMaxSlots);
    std::vector<std::size_t> handed;
    Take take(int, std::size_t chunk, std::size_t) override {
      return chunk == 100 ? Take::kEnd : Take::kTaken;
    }
    void process(int, std::size_t chunk, std::size_t slot) override {
      if (chunk + 1 == throw_at) throw std::runtime_error("chunk");
      in_slot[slot] = chunk;
    }
    bool hand_on(std::size_t chunk, std::size_t slot) override {
      handed.push_back(in_slot[slot] == chunk && slot == chunk % 5 ? chunk : 1000);
      return true;
    }
  };
  for (int threads : {1, 3, kMaxThreads + 4}) {
    Job job;
    EXPECT_EQ(run_chunks(job, threads, 5), 100u);
    std::vector<std::size_t> order(100);
    std::iota(order.begin(), order.end(), std::size_t{0});
    EXPECT_EQ(job.handed, order) << threads;
    Job failing;
    failing.throw_at = 40;
    EXPECT_THROW(run_chunks(failing, threads, 5), std::runtime_error);
    EXPECT_LT(failing.handed.size(), 40u);
  }
}
