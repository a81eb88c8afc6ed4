// Allocation failure injection: the 1st, 2nd, ... allocation that a read, an
// import or a conversion asks of the allocation hooks is refused in turn.
// Each run must give ERR_NO_MEM (or, where a failure is specified to be
// silent, the specified fallback), leave the caller's records released and
// give back every block it took. LeakSanitizer (sanitize preset) checks the
// allocations that do not go through the hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/driver.h"
#include "cli/info.h"
#include "datafile/data_writer.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "fuzz/seed_files.h"
#include "platform/file_io.h"
#include "platform/threads.h"
#include "sdf/date_text.h"
#include "sdf/sdf_convert.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"
#include "tools/synthetic.h"

using namespace testing_support;

namespace {

// Hooks that count the allocations asked for, refuse the `fail_at`-th (1 is
// the first; 0 refuses none), and keep track of the blocks not yet released.
struct Injection {
  static inline int fail_at = 0;
  static inline int calls = 0;
  static inline long live = 0;

  static bool refuse() { return ++calls == fail_at; }
  static void* allocate(std::size_t n) {
    if (refuse()) return nullptr;
    void* p = u_default_alloc_hooks.allocate(n);
    if (p) ++live;
    return p;
  }
  static void* reallocate(void* block, std::size_t n) {
    if (refuse()) return nullptr;
    void* p = u_default_alloc_hooks.reallocate(block, n);
    if (p && !block) ++live;
    return p;
  }
  static void* zero_allocate(std::size_t count, std::size_t n) {
    if (refuse()) return nullptr;
    void* p = u_default_alloc_hooks.zero_allocate(count, n);
    if (p) ++live;
    return p;
  }
  static void release(void* block) {
    if (block) --live;
    u_default_alloc_hooks.release(block);
  }
};

// Installs the injecting hooks for one run and restores the default ones.
class InjectedRun {
 public:
  explicit InjectedRun(int fail_at) {
    Injection::fail_at = fail_at;
    Injection::calls = 0;
    u_alloc_hooks = {Injection::allocate, Injection::reallocate, Injection::zero_allocate,
                     Injection::release};
  }
  ~InjectedRun() { u_alloc_hooks = u_default_alloc_hooks; }
  static constexpr int kMaxRuns = 64;
  InjectedRun(const InjectedRun&) = delete;
  InjectedRun& operator=(const InjectedRun&) = delete;
  // True when the run asked for the refused allocation.
  bool refused() const { return Injection::calls >= Injection::fail_at; }
};

// The C++ heap, for what the library takes outside the hooks (strings,
// vectors): while `armed`, the `fail_at`-th operator new throws bad_alloc.
struct HeapInjection {
  static inline bool armed = false;
  static inline int fail_at = 0;
  static inline int calls = 0;
};

class HeapRun {
 public:
  explicit HeapRun(int fail_at) {
    HeapInjection::fail_at = fail_at;
    HeapInjection::calls = 0;
    HeapInjection::armed = true;
  }
  ~HeapRun() { HeapInjection::armed = false; }
  static constexpr int kMaxRuns = 5000;
  HeapRun(const HeapRun&) = delete;
  HeapRun& operator=(const HeapRun&) = delete;
  bool refused() const { return HeapInjection::calls >= HeapInjection::fail_at; }
};

// Runs `operation(result)` with its 1st, 2nd, ... allocation refused, through
// the hooks (`Run` = InjectedRun) or the C++ heap (`Run` = HeapRun), until a
// run no longer asks for the refused allocation. `check(result, n, refused)`
// examines each run: the n-th allocation was refused, or (the last run)
// none was. With the hooks, `result` is made, checked and released while
// they are installed, and after a refused run no block may be left; with the
// heap, only the operation runs armed. Returns the number of refused runs.
template <class Run, class Result, class Operation, class Check>
int for_each_refused_allocation(Operation operation, Check check) {
  int refused_runs = 0;
  for (int n = 1; n <= Run::kMaxRuns; ++n) {
    Injection::live = 0;
    bool refused = false;
    if constexpr (std::is_same_v<Run, InjectedRun>) {
      InjectedRun run(n);  // outlives the result, whose records release through it
      Result result;
      operation(result);
      refused = run.refused();
      check(result, n, refused);
    } else {
      Result result;
      {
        HeapRun run(n);
        operation(result);
        refused = run.refused();
      }
      check(result, n, refused);
    }
    if (!refused || ::testing::Test::HasFatalFailure()) break;
    ++refused_runs;
    EXPECT_EQ(Injection::live, 0) << "allocation " << n;
  }
  return refused_runs;
}

// A read of a data file (and possibly more) and what it returned.
struct DataRead {
  std::int32_t code = -1;
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
};

// An import of an SDF file into blocks marked 0xA5, so that a change is seen.
struct SdfRead {
  std::int32_t code = -1;
  int open_errno = 0;
  std::vector<std::uint8_t> swinfo = std::vector<std::uint8_t>(kSoftwareInfoSize, 0xA5);
  std::vector<std::uint8_t> tail = std::vector<std::uint8_t>(kHeaderTailSize, 0xA5);
  IntensityRecord intensity;
  PhaseRecord phase;
};

std::string write_synthetic(const ScratchDir& dir, int format, bool with_intensity) {
  Header h;
  IntensityRecord intensity;
  PhaseRecord phase;
  SyntheticOptions o;
  o.format = format;
  o.width = 7;
  o.height = 5;
  o.intensity = with_intensity;
  make_synthetic(o, &h, &intensity, &phase);
  std::string path = dir.file("in" + std::to_string(format) + ".dat");
  EXPECT_EQ(write_data_file(path.c_str(), h, &intensity, &phase), ERR_NONE);
  return path;
}

bool released(const IntensityRecord& r) { return !r.data && r.count == 0 && r.width == 0; }
bool released(const PhaseRecord& r) {
  return !r.data && r.count == 0 && r.width == 0 && r.height == 0;
}

// The CreateDate value of an SDF file.
std::string create_date(const std::string& path) {
  std::string text = read_text(path);
  std::size_t at = text.find("CreateDate = ");
  if (at == std::string::npos) return {};
  at += 13;
  std::string value = text.substr(at, text.find('\n', at) - at);
  if (!value.empty() && value.back() == '\r') value.pop_back();  // text mode on Windows
  return value;
}

}  // namespace

void* operator new(std::size_t n) {
  if (HeapInjection::armed && ++HeapInjection::calls == HeapInjection::fail_at)
    throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// The replacement operator new above takes its memory from malloc, so free is
// the matching release; GCC cannot see that once it inlines both.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

TEST(AllocationFailure, EachAllocationOfAReadFailsInTurn) {
  ScratchDir dir;
  struct Case {
    int format;
    bool with_intensity;
    bool ask_intensity;
    int allocations;  // what a successful read takes
  } cases[] = {{3, true, true, 2}, {1, true, false, 1}, {2, false, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    std::string path = write_synthetic(dir, c.format, c.with_intensity);
    int refused = for_each_refused_allocation<InjectedRun, DataRead>(
        [&](DataRead& r) {
          // Junk geometry, so that clearing it is visible.
          if (c.ask_intensity) r.intensity.width = 99;
          r.phase.width = 99;
          r.code = read_data_file(path.c_str(), &r.header, c.ask_intensity ? &r.intensity : nullptr,
                                  &r.phase);
        },
        [&](const DataRead& r, int n, bool refused) {
          if (!refused) {
            ASSERT_EQ(r.code, ERR_NONE);
            EXPECT_EQ(r.phase.count, 35);
            return;
          }
          EXPECT_EQ(r.code, ERR_NO_MEM) << "allocation " << n;
          EXPECT_TRUE(released(r.intensity)) << "allocation " << n;
          EXPECT_TRUE(released(r.phase)) << "allocation " << n;
          EXPECT_EQ(Injection::live, 0) << "allocation " << n;
        });
    EXPECT_EQ(refused, c.allocations);
  }
}

TEST(AllocationFailure, EachAllocationOfAConversionFailsInTurn) {
  // The conversion the tovrel command runs: read, then write the SDF file.
  // The reader's two arrays give ERR_NO_MEM; the date stamp's working copy
  // failing is silent by design and gives the unknown stamp.
  ScratchDir dir;
  std::string in = write_synthetic(dir, 3, true);
  std::string out = dir.file("out.sdf");
  int refused = for_each_refused_allocation<InjectedRun, DataRead>(
      [&](DataRead& r) {
        r.code = read_data_file(in.c_str(), &r.header, &r.intensity, &r.phase);
        if (r.code == ERR_NONE) r.code = sdf_export(out.c_str(), &r.header, &r.intensity, &r.phase);
      },
      [&](const DataRead& r, int n, bool refused) {
        if (!refused) {
          ASSERT_EQ(r.code, ERR_NONE);
          EXPECT_EQ(create_date(out), "020320111022");
        } else if (n <= 2) {
          EXPECT_EQ(r.code, ERR_NO_MEM) << "allocation " << n;
          EXPECT_TRUE(released(r.intensity));
          EXPECT_TRUE(released(r.phase));
        } else {
          EXPECT_EQ(r.code, ERR_NONE) << "allocation " << n;
          EXPECT_EQ(create_date(out), "-1-1-001-1-1") << "allocation " << n;
        }
      });
  EXPECT_EQ(refused, 3);

  // The streamed conversion tovrel runs: its text and value buffers give
  // ERR_NO_MEM as a read failure, before any output exists.
  {
    std::string streamed = dir.file("streamed.sdf");
    ConvertStage stage = ConvertStage::kNone;
    refused = for_each_refused_allocation<InjectedRun, DataRead>(
        [&](DataRead& r) {
          std::remove(streamed.c_str());
          r.code = convert_data_file(in.c_str(), streamed.c_str(), OutputMode::kCreateNew, &stage);
        },
        [&](const DataRead& r, int n, bool refused) {
          if (refused && n <= 4) {  // two slots' values and text
            EXPECT_EQ(r.code, ERR_NO_MEM) << "allocation " << n;
            EXPECT_EQ(stage, ConvertStage::kRead);
            EXPECT_FALSE(std::filesystem::exists(streamed));
          } else {
            EXPECT_EQ(r.code, ERR_NONE) << "allocation " << n;
            EXPECT_EQ(create_date(streamed), refused ? "-1-1-001-1-1" : "020320111022");
          }
        });
    EXPECT_EQ(refused, 5);
  }
}

TEST(AllocationFailure, TheCommandReportsARefusedAllocation) {
  ScratchDir dir;
  std::string in = write_synthetic(dir, 1, true);
  std::string out = dir.file("out.sdf");
  Injection::live = 0;
  int status;
  std::string err;
  {
    InjectedRun run(2);
    testing::internal::CaptureStderr();
    status = run_tovrel({{in, in}, {out, out}});
    err = testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(status, EXIT_READ_FAILED);
  EXPECT_NE(err.find("\tERR_NO_MEM\n"), std::string::npos) << err;
  EXPECT_EQ(Injection::live, 0);
}

TEST(AllocationFailure, EachAllocationOfAnImportFailsInTurn) {
  ScratchDir dir;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    int allocations;  // what a successful import takes through the hooks
  } cases[] = {
      {"binary LONGINT", seeds::binary_sdf(6, 4, 3), 1},
      // The text is read through two slots, each with a buffer for its
      // characters and one for their values.
      {"ASCII ULONGINT", {}, 5},
      {"ASCII DOUBLE", {}, 6},  // the values are kept as doubles until rescaled
  };
  std::string ulong_text = seeds::ascii_sdf(2, true, 4, 3);
  std::string double_text = seeds::ascii_sdf(7, true, 4, 3);
  cases[1].bytes.assign(ulong_text.begin(), ulong_text.end());
  cases[2].bytes.assign(double_text.begin(), double_text.end());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir.file("in.sdf");
    write_bytes(path, c.bytes);
    int refused = for_each_refused_allocation<InjectedRun, SdfRead>(
        [&](SdfRead& r) {
          r.code =
              read_sdf_file(path.c_str(), r.swinfo.data(), r.tail.data(), &r.intensity, &r.phase);
        },
        [&](const SdfRead& r, int n, bool refused) {
          if (!refused) {
            ASSERT_EQ(r.code, ERR_NONE);
            EXPECT_EQ(r.phase.count, 12);
            return;
          }
          EXPECT_EQ(r.code, ERR_NO_MEM) << "allocation " << n;
          EXPECT_TRUE(released(r.phase)) << "allocation " << n;
          // Nothing is handed out on failure.
          EXPECT_EQ(r.tail[0], 0xA5);
          EXPECT_EQ(r.swinfo[0], 0xA5);
        });
    EXPECT_EQ(refused, c.allocations);
  }
}

TEST(AllocationFailure, TheExportEntryPointWritesTheUnknownStampWhenItsDateCopyFails) {
  ScratchDir dir;
  std::string in = dir.file("in.sdf");
  std::string text = seeds::ascii_sdf(2, true, 4, 3);
  write_text(in, text);
  std::vector<std::uint8_t> swinfo(kSoftwareInfoSize), tail(kHeaderTailSize);
  PhaseRecord phase;
  ASSERT_EQ(read_sdf_file(in.c_str(), swinfo.data(), tail.data(), nullptr, &phase), ERR_NONE);

  std::string out = dir.file("out.sdf");
  Injection::live = 0;
  {
    InjectedRun run(1);
    EXPECT_EQ(write_sdf_file(out.c_str(), swinfo.data(), tail.data(), nullptr, &phase), ERR_NONE);
    EXPECT_TRUE(run.refused());
  }
  EXPECT_EQ(create_date(out), "-1-1-001-1-1");
  EXPECT_EQ(Injection::live, 0);
}

TEST(AllocationFailure, EachHeapAllocationOfAnImportFailsInTurn) {
  // Lines, keys and buffers of the import come from the C++ heap; running out
  // of it is reported as ERR_NO_MEM like a refused data array, and nothing is
  // left allocated (LeakSanitizer) or handed out.
  ScratchDir dir;
  std::string path = dir.file("in.sdf");
  std::string text = seeds::ascii_sdf(2, true, 4, 3);
  write_text(path, text);
  int refused = for_each_refused_allocation<HeapRun, SdfRead>(
      [&](SdfRead& r) {
        errno = 0;
        r.code = read_sdf_file(path.c_str(), r.swinfo.data(), r.tail.data(), nullptr, &r.phase);
        r.open_errno = errno;
      },
      [&](const SdfRead& r, int n, bool refused) {
        if (!refused) {
          ASSERT_EQ(r.code, ERR_NONE);
          return;
        }
        // The file name converted for opening may be what runs out; then the
        // file cannot be opened, for lack of memory.
        ASSERT_TRUE(r.code == ERR_NO_MEM ||
                    (r.code == ERR_CANT_OPEN_FILE && r.open_errno == ENOMEM))
            << "heap allocation " << n << ": code " << r.code;
        ASSERT_TRUE(released(r.phase));
        ASSERT_EQ(r.tail[0], 0xA5);
      });
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, HeapRun::kMaxRuns);
}

TEST(AllocationFailure, EachHeapAllocationOfAConversionFailsInTurn) {
  // A read and an SDF export with wide file names, whose conversion for the
  // system's open call takes heap memory on every platform.
  ScratchDir dir;
  const std::string long_name(40, 'n');
  std::string in_utf8 = dir.file(long_name + ".dat");
  std::string in = u_wide_path_from_utf8(in_utf8);
  std::string out = u_wide_path_from_utf8(dir.file(long_name + ".sdf"));
  ASSERT_FALSE(in.empty());
  {
    Header h;
    IntensityRecord intensity;
    PhaseRecord phase;
    make_synthetic({1, 6, 4, true, 1}, &h, &intensity, &phase);
    ASSERT_EQ(write_data_file(in_utf8.c_str(), h, &intensity, &phase), ERR_NONE);
  }
  int refused = for_each_refused_allocation<HeapRun, DataRead>(
      [&](DataRead& r) {
        r.code = read_data_file(in.c_str(), &r.header, &r.intensity, &r.phase);
        if (r.code == ERR_NONE) r.code = sdf_export(out.c_str(), &r.header, &r.intensity, &r.phase);
      },
      [&](const DataRead& r, int n, bool refused) {
        if (!refused) {
          ASSERT_EQ(r.code, ERR_NONE);
          return;
        }
        // The date stamp falls back to the unknown stamp by design; the output
        // name that cannot be converted is a file that cannot be created;
        // anything else that runs out reports ERR_NO_MEM.
        ASSERT_TRUE(r.code == ERR_NO_MEM || r.code == ERR_NONE || r.code == ERR_CANT_CREATE_FILE)
            << "heap allocation " << n << ": code " << r.code;
        if (r.code == ERR_NO_MEM) {
          ASSERT_TRUE(released(r.intensity));
          ASSERT_TRUE(released(r.phase));
        }
      });
  EXPECT_GT(refused, 0);
}

// tovrel-info's inspection of an SDF file, with the parameters and a picture.
struct Inspected {
  static inline std::string picture;  // set before the runs: nothing allocates in them
  std::int32_t code = -1;
  int reason = 0;
  MeasurementView view;
  InfoOptions options = [] {
    InfoOptions o;
    o.image = picture;
    return o;
  }();
  InfoReport report;
};

TEST(AllocationFailure, EachHeapAllocationOfAnInspectionFailsInTurn) {
  // The rows, the kept map's records, the picture's grid and canvas: running
  // out of any is ERR_NO_MEM (or a file that cannot be opened or created
  // for lack of memory), never an exception out of the library.
  ScratchDir dir;
  const std::string path = dir.file("in.sdf");
  write_text(path, seeds::ascii_sdf(2, true, 4, 3));
  Inspected::picture = dir.file("out.png");
  int refused = for_each_refused_allocation<HeapRun, Inspected>(
      [&](Inspected& r) {
        errno = 0;
        r.code = open_measurement(path.c_str(), &r.view);
        if (r.code == ERR_NONE) r.code = inspect_measurement(r.view, r.options, &r.report);
        r.reason = errno;
      },
      [&](const Inspected& r, int n, bool refused) {
        if (!refused) {
          ASSERT_EQ(r.code, ERR_NONE);
          return;
        }
        ASSERT_TRUE(r.code == ERR_NO_MEM ||
                    ((r.code == ERR_CANT_OPEN_FILE || r.code == ERR_CANT_CREATE_FILE) &&
                     r.reason == ENOMEM))
            << "heap allocation " << n << ": code " << r.code;
      });
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, HeapRun::kMaxRuns);
}

TEST(AllocationFailure, ADateStampThatCannotBeAllocatedIsTheUnknownStamp) {
  // Out-of-range parts make a stamp longer than a short string holds; when
  // even that memory is refused the stamp is the unknown one, not an
  // exception.
  const char* text = "1/2/2147483647 99:99";
  std::string whole = sdf_date_stamp(text);
  ASSERT_EQ(whole, "020121474836479999");
  std::string refused;
  {
    HeapRun run(1);
    refused = sdf_date_stamp(text);
    EXPECT_TRUE(run.refused());
  }
  EXPECT_EQ(refused, "-1-1-001-1-1");
}

TEST(AllocationFailure, AThreadThatCannotStartLeavesItsShareToTheOthers) {
  // Starting a thread takes heap memory (its first allocation here);
  // refused, no further thread is started, the calling thread does all the
  // work, and nothing is reported.
  std::atomic<int> calls{0};
  std::atomic<int> items{0};
  {
    HeapRun run(1);
    u_run_threads(3, [&](int self) {
      EXPECT_EQ(self, 0);
      ++calls;
      while (items.fetch_add(1) < 100) {
      }
    });
    EXPECT_TRUE(run.refused());
  }
  EXPECT_EQ(calls.load(), 1);
  EXPECT_GE(items.load(), 100);
}

TEST(AllocationFailure, TheDefaultHooksAreTheCRuntimeHeap) {
  // Restoring the hooks must give working functions for all four entries.
  AllocHooks hooks = u_default_alloc_hooks;
  auto* zeroed = static_cast<unsigned char*>(hooks.zero_allocate(16, 4));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(zeroed[i], 0);
  zeroed[63] = 0x5A;
  auto* grown = static_cast<unsigned char*>(hooks.reallocate(zeroed, 1 << 16));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown[63], 0x5A);  // contents kept
  hooks.release(grown);
  hooks.release(nullptr);  // like free(nullptr)
}

TEST(AllocationFailure, AnIntensityBlockTooLargeForItsByteCountIsRefusedByTheExport) {
  // The header's intensity byte count is 32 bits: 32767 x 32767 x 2 buckets
  // of 2 bytes cannot be described, whatever the record's array holds.
  ScratchDir dir;
  std::string out = dir.file("out.sdf");
  IntensityRecord intensity;
  intensity.width = 1;
  intensity.height = 1;
  intensity.n_buckets = 1;
  ASSERT_EQ(intensity_record_alloc(&intensity), ERR_NONE);
  intensity.width = 32767;
  intensity.height = 32767;
  intensity.n_buckets = 2;
  std::vector<std::uint8_t> swinfo(kSoftwareInfoSize), tail(kHeaderTailSize);
  EXPECT_EQ(write_sdf_file(out.c_str(), swinfo.data(), tail.data(), &intensity, nullptr),
            ERR_DATASET_DIM_TOO_LARGE);
  EXPECT_FALSE(u_is_regular_file(out.c_str()));
}

TEST(AllocationFailure, FileTestsAnswerNoWhenTheNameCannotBeConverted) {
  // The driver asks these before converting; out of memory they must answer,
  // not throw.
  ScratchDir dir;
  std::string utf8 = dir.file(std::string(40, 'f') + ".dat");
  write_text(utf8, "x");
  // A wide name: converting it takes heap memory on every platform.
  std::string path = u_wide_path_from_utf8(utf8);
  ASSERT_TRUE(u_is_regular_file(path.c_str()));
  ASSERT_TRUE(u_same_file(path.c_str(), path.c_str()));
  bool regular, same;
  {
    HeapRun run(1);
    regular = u_is_regular_file(path.c_str());
  }
  {
    HeapRun run(1);
    same = u_same_file(path.c_str(), path.c_str());
  }
  EXPECT_FALSE(regular);
  EXPECT_FALSE(same);
}
