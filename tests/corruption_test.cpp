// Damaged files: every prefix of a valid file, and single-byte changes at
// every header offset, give a defined error code or a correct result (the
// same from the reader and from the streamed conversion), never
// a crash, a hang or a read outside the arrays (run these under the sanitize
// preset to have the last one checked).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "datafile/data_writer.h"
#include "datafile/header.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "fuzz/seed_files.h"
#include "platform/byte_order.h"
#include "sdf/sdf_convert.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// The sweeps write tens of thousands of small files; on a disk that takes
// minutes, in a memory file system (where there is one) seconds.
std::unique_ptr<ScratchDir> fast_scratch() {
#ifndef _WIN32
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
#endif
  return std::make_unique<ScratchDir>();
}

// One read of `bytes` through a file, with the result kept for checks.
struct DataRead {
  std::int32_t code = -1;
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
};

// The text of an SDF file without its ModDate line (the time of writing).
std::string without_mod_date(const std::string& path) {
  std::string text = read_text(path);
  const std::size_t at = text.find("ModDate = ");
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

// Also converts the file as tovrel does (streamed, never holding the
// blocks), in both forms: it must refuse exactly what the reader refuses,
// with the same code and no output, and write what the reader and the
// writer would.
void read_bytes_as_data_file(const ScratchDir& dir, const std::vector<std::uint8_t>& bytes,
                             DataRead& r) {
  std::string path = dir.file("damaged.dat");
  write_bytes(path, bytes);
  r.code = read_data_file(path.c_str(), &r.header, &r.intensity, &r.phase);

  const std::string streamed = dir.file("streamed.sdf"), written = dir.file("written.sdf");
  for (SdfForm form : {SdfForm::kBinary, SdfForm::kAscii}) {  // the ASCII one kept
    std::remove(streamed.c_str());
    ConvertStage stage = ConvertStage::kNone;
    EXPECT_EQ(
        convert_data_file(path.c_str(), streamed.c_str(), OutputMode::kReplace, &stage, 0, form),
        r.code);
    if (r.code != ERR_NONE) {
      EXPECT_EQ(stage, ConvertStage::kRead);
      EXPECT_FALSE(std::filesystem::exists(streamed));
    }
  }
  if (r.code == ERR_NONE &&
      sdf_export(written.c_str(), &r.header, &r.intensity, &r.phase) == ERR_NONE) {
    EXPECT_EQ(without_mod_date(streamed), without_mod_date(written));
  }
}

bool released(const DataRead& r) {
  return !r.intensity.data && r.intensity.count == 0 && !r.phase.data && r.phase.count == 0 &&
         r.phase.width == 0 && r.phase.height == 0;
}

bool same_phase(const PhaseRecord& a, const PhaseRecord& b) {
  return a.width == b.width && a.height == b.height && a.count == b.count &&
         std::memcmp(a.data.get(), b.data.get(), static_cast<std::size_t>(a.count) * 4) == 0;
}

// Offsets of the header bytes that steer reading: the magic number and the
// geometry and byte counts of both blocks. A change anywhere else must not
// change what is read from the blocks.
bool steers_reading(std::size_t offset) { return offset < 4 || (offset >= 48 && offset < 76); }

const std::set<std::int32_t> kReaderCodes = {ERR_PREMATURE_EOF,         ERR_NOT_A_DATA_FILE,
                                             ERR_DATASET_DIM_TOO_LARGE, ERR_PARAM_OUT_OF_RANGE,
                                             ERR_CORRUPT_DATA_FILE,     ERR_NO_MEM};

}  // namespace

TEST(DataFileTruncation, EveryPrefixGivesTheCodeOfWhereItIsCut) {
  auto scratch = fast_scratch();
  const ScratchDir& dir = *scratch;
  for (int format : {1, 3}) {
    SCOPED_TRACE(format);
    Measurement m = synthetic_measurement(format, 5, 3);
    std::vector<std::uint8_t> full = encode_data_file(m.header, &m.intensity, &m.phase);
    const std::size_t header_length = format == 3 ? kHeaderSizeLong : kHeaderSizeShort;
    const std::size_t phase_start = header_length + 2 * 15;
    ASSERT_EQ(full.size(), phase_start + 4 * 15);

    for (std::size_t len = 0; len <= full.size(); ++len) {
      DataRead r;
      read_bytes_as_data_file(dir, std::vector<std::uint8_t>(full.begin(), full.begin() + len), r);
      std::int32_t expected = len < header_length ? ERR_PREMATURE_EOF
                              : len < full.size() ? ERR_CORRUPT_DATA_FILE
                                                  : ERR_NONE;
      ASSERT_EQ(r.code, expected) << "prefix of " << len << " bytes";
      if (expected != ERR_NONE) {
        ASSERT_TRUE(released(r)) << "prefix of " << len << " bytes";
      } else {
        EXPECT_TRUE(same_phase(r.phase, m.phase));
      }
    }
  }
}

TEST(DataFileCorruption, EveryHeaderByteChangedGivesACodeOrTheSameBlocks) {
  auto scratch = fast_scratch();
  const ScratchDir& dir = *scratch;
  for (int format : {1, 3}) {
    SCOPED_TRACE(format);
    Measurement m = synthetic_measurement(format, 4, 3);
    const std::vector<std::uint8_t> good = encode_data_file(m.header, &m.intensity, &m.phase);
    const std::size_t header_length = format == 3 ? kHeaderSizeLong : kHeaderSizeShort;
    std::size_t changed_geometry_reads = 0;

    for (std::size_t offset = 0; offset < header_length; ++offset) {
      // Past the 834-byte header the long header holds only carried fields:
      // one change per byte is enough there.
      const bool extended = offset >= kHeaderSizeShort;
      int tried = 0;
      for (std::uint8_t value : {static_cast<std::uint8_t>(good[offset] ^ 0xFF), std::uint8_t{0x00},
                                 std::uint8_t{0x7F}, std::uint8_t{0x80}}) {
        if (value == good[offset] || (extended && tried > 0)) continue;
        ++tried;
        std::vector<std::uint8_t> bytes = good;
        bytes[offset] = value;
        DataRead r;
        read_bytes_as_data_file(dir, bytes, r);
        const std::string where =
            "offset " + std::to_string(offset) + " = " + std::to_string(static_cast<int>(value));
        if (r.code != ERR_NONE) {
          ASSERT_TRUE(kReaderCodes.count(r.code)) << where << ": code " << r.code;
          ASSERT_TRUE(steers_reading(offset)) << where << " made a good file fail";
          ASSERT_TRUE(released(r)) << where;
          continue;
        }
        // A successful read holds the header as the bytes say, and blocks
        // whose counts match their dimensions.
        Header expected{};
        header_decode(bytes.data(), header_length, expected);
        for (const FieldDesc& f : kHeaderFields)
          ASSERT_EQ(
              std::memcmp(header_field_ptr(r.header, f), header_field_ptr(expected, f), f.width()),
              0)
              << where << ": field " << f.name;
        ASSERT_EQ(std::int64_t{r.phase.count}, std::int64_t{r.phase.width} * r.phase.height);
        ASSERT_EQ(std::int64_t{r.intensity.count},
                  std::int64_t{r.intensity.n_buckets} * r.intensity.width * r.intensity.height);
        if (!steers_reading(offset)) {
          ASSERT_TRUE(same_phase(r.phase, m.phase)) << where;
          ASSERT_EQ(std::memcmp(r.intensity.data.get(), m.intensity.data.get(), 2 * 12), 0)
              << where;
        } else {
          ++changed_geometry_reads;
        }
      }
    }
    // Some geometry changes still read (a smaller block, another origin).
    EXPECT_GT(changed_geometry_reads, 0u);
  }
}

TEST(DataFileCorruption, AnnouncedArraysLargerThanTheFileAreRefusedBeforeAllocating) {
  // A damaged header in a tiny file: the intensity dimensions ask for about
  // 2.4 GB while the block itself claims a single byte.
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 4, 3, /*intensity=*/false);
  m.header.intens_width = 6;
  m.header.intens_height = 28675;
  m.header.intens_n_buckets = 7043;
  m.header.intens_n_bytes = 1;
  m.header.cn_n_bytes = 0;
  std::vector<std::uint8_t> bytes = encode_data_file(m.header, nullptr, nullptr);
  bytes.push_back(0);

  std::size_t largest;
  DataRead r;
  {
    AllocationWatch watch;
    read_bytes_as_data_file(dir, bytes, r);
    largest = watch.largest();
  }
  EXPECT_EQ(r.code, ERR_CORRUPT_DATA_FILE);
  EXPECT_TRUE(released(r));
  EXPECT_LT(largest, 4096u);

  // The same dimensions with a file that holds the whole block read fine:
  // the bound is the file's size, not a fixed limit.
  m.header.intens_height = 3;
  m.header.intens_n_buckets = 2;
  m.header.intens_n_bytes = 2 * 6 * 3 * 2;
  bytes = encode_data_file(m.header, nullptr, nullptr);
  bytes.resize(bytes.size() + 2 * 6 * 3 * 2, 0x11);
  read_bytes_as_data_file(dir, bytes, r);
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.intensity.count, 36);
  EXPECT_EQ(r.intensity.data[35], 0x1111);
}

// ---------------------------------------------------------------------------
// SDF files, both forms.

namespace {

struct SdfRead {
  std::int32_t code = -1;
  PhaseRecord phase;
};

void read_bytes_as_sdf(const ScratchDir& dir, const std::vector<std::uint8_t>& bytes, SdfRead& r) {
  std::string path = dir.file("damaged.sdf");
  write_bytes(path, bytes);
  std::vector<std::uint8_t> swinfo(kSoftwareInfoSize), tail(kHeaderTailSize);
  r.code = read_sdf_file(path.c_str(), swinfo.data(), tail.data(), nullptr, &r.phase);
}

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

const std::set<std::int32_t> kImportCodes = {ERR_BAD_PARAM,          ERR_PREMATURE_EOF,
                                             ERR_CORRUPT_DATA_FILE,  ERR_DATASET_DIM_TOO_LARGE,
                                             ERR_PARAM_OUT_OF_RANGE, ERR_NO_MEM};

// A successful import: counts match the dimensions, values are phase values.
::testing::AssertionResult consistent(const SdfRead& r) {
  if (std::int64_t{r.phase.count} != std::int64_t{r.phase.width} * r.phase.height)
    return ::testing::AssertionFailure() << "count does not match the dimensions";
  if ((r.phase.count > 0) != static_cast<bool>(r.phase.data))
    return ::testing::AssertionFailure() << "array and count disagree";
  for (std::int32_t i = 0; i < r.phase.count; ++i)
    if (r.phase.data[i] > kInvalidPhase) return ::testing::AssertionFailure() << "bad value";
  return ::testing::AssertionSuccess();
}

// The seed values the generated files hold (point 1 invalid).
::testing::AssertionResult holds_seed_values(const PhaseRecord& phase, int points, int profiles) {
  if (phase.width != points || phase.height != profiles)
    return ::testing::AssertionFailure() << "dimensions " << phase.width << "x" << phase.height;
  for (std::size_t i = 0; i < static_cast<std::size_t>(phase.count); ++i) {
    std::int32_t expected = i == seeds::kSeedInvalidPoint
                                ? kInvalidPhase
                                : static_cast<std::int32_t>(seeds::sdf_seed_value(i));
    if (phase.data[i] != expected)
      return ::testing::AssertionFailure()
             << "value " << i << " is " << phase.data[i] << ", not " << expected;
  }
  return ::testing::AssertionSuccess();
}

// A valid ASCII file from the SDF writer, for a synthetic measurement.
std::vector<std::uint8_t> writer_sdf(const ScratchDir& dir, PhaseRecord& original) {
  Measurement m = synthetic_measurement(1, 6, 4);
  std::string path = dir.file("writer.sdf");
  EXPECT_EQ(sdf_export(path.c_str(), &m.header, &m.intensity, &m.phase), ERR_NONE);
  original = std::move(m.phase);
  return read_bytes(path);
}

// Where the section that starts at `from` ends: just after its "*" line
// (written with "\n" or, in text mode on Windows, "\r\n").
std::size_t after_section_end(const std::string& text, std::size_t from) {
  for (std::size_t at = text.find("\n*", from); at != std::string::npos;
       at = text.find("\n*", at + 1)) {
    if (text.compare(at + 2, 1, "\n") == 0) return at + 3;
    if (text.compare(at + 2, 2, "\r\n") == 0) return at + 4;
  }
  return text.size();
}

// Where the value of the trailer's last required attribute starts: a prefix
// that ends before it lacks a required attribute.
std::size_t last_required_value(const std::string& text, std::size_t trailer_start) {
  std::size_t last = trailer_start;
  for (const std::string key :
       {"intf_scale_factor", "obliquity_factor", "wavelength_in", "num_aperture", "lateral_res",
        "camera_width", "camera_height", "phase_res"}) {
    for (std::size_t at = text.find("\n" + key, trailer_start - 1); at != std::string::npos;
         at = text.find("\n" + key, at + 1)) {
      const std::size_t end = at + 1 + key.size();
      if (text[end] != '=' && text[end] != ' ') continue;  // a longer name
      last = std::max(last, text.find_first_not_of(" =", end));
      break;
    }
  }
  return last;
}

bool same_values(const PhaseRecord& a, const PhaseRecord& b) {
  if (a.width != b.width || a.height != b.height || a.count != b.count) return false;
  for (std::int32_t i = 0; i < a.count; ++i)
    if (std::min(a.data[i], kInvalidPhase) != std::min(b.data[i], kInvalidPhase)) return false;
  return true;
}

}  // namespace

TEST(SdfTruncation, EveryPrefixOfABinaryFileEndsPrematurely) {
  auto scratch = fast_scratch();
  for (int type = 0; type < seeds::kSdfTypeCount; ++type) {
    SCOPED_TRACE(seeds::sdf_type_name(type));
    std::vector<std::uint8_t> full = seeds::binary_sdf(type, 3, 2);
    SdfRead whole;
    read_bytes_as_sdf(*scratch, full, whole);
    ASSERT_EQ(whole.code, ERR_NONE);
    EXPECT_TRUE(holds_seed_values(whole.phase, 3, 2));
    for (std::size_t len = 0; len < full.size(); ++len) {
      SdfRead r;
      read_bytes_as_sdf(*scratch, std::vector<std::uint8_t>(full.begin(), full.begin() + len), r);
      ASSERT_EQ(r.code, ERR_PREMATURE_EOF) << "prefix of " << len << " bytes";
      ASSERT_FALSE(r.phase.data);
    }
  }
}

TEST(SdfTruncation, EveryPrefixOfAnAsciiFileGivesACodeOrTheWholeData) {
  auto scratch = fast_scratch();
  PhaseRecord from_writer;
  struct File {
    const char* what;
    std::vector<std::uint8_t> bytes;
  } files[] = {{"writer output", writer_sdf(*scratch, from_writer)},
               {"ULONGINT 7x3", bytes_of(seeds::ascii_sdf(2, true, 7, 3))},
               {"DOUBLE 3x2", bytes_of(seeds::ascii_sdf(7, false, 3, 2))},
               {"ULONGINT 4x3, unit trailer",
                bytes_of(seeds::ascii_sdf(4, 3, "0 1 2 3 4 5 6 7 8 9\n10 4294967295\n",
                                          seeds::unit_trailer("comment=\"x\"\n", -5)))}};
  for (const File& file : files) {
    SCOPED_TRACE(file.what);
    SdfRead whole;
    read_bytes_as_sdf(*scratch, file.bytes, whole);
    ASSERT_EQ(whole.code, ERR_NONE);
    ASSERT_TRUE(consistent(whole));
    std::string text(file.bytes.begin(), file.bytes.end());
    const std::size_t header_end = after_section_end(text, 0);
    const std::size_t data_end = after_section_end(text, header_end);
    const std::size_t required_end = last_required_value(text, data_end);
    for (std::size_t len = 0; len < file.bytes.size(); ++len) {
      SdfRead r;
      read_bytes_as_sdf(*scratch,
                        std::vector<std::uint8_t>(file.bytes.begin(), file.bytes.begin() + len), r);
      const std::string where = "prefix of " + std::to_string(len) + " bytes";
      if (len < header_end - 2) {
        // No end of the header section; a DataType line cut inside its value
        // names no type.
        ASSERT_TRUE(r.code == ERR_PREMATURE_EOF || r.code == ERR_BAD_PARAM)
            << where << ": code " << r.code;
      } else if (len < data_end) {
        ASSERT_TRUE(r.code == ERR_PREMATURE_EOF || r.code == ERR_CORRUPT_DATA_FILE)
            << where << ": code " << r.code;
      } else if (r.code == ERR_NONE) {
        // Cut after the last required attribute: the whole data.
        ASSERT_TRUE(same_values(r.phase, whole.phase)) << where;
      } else {
        // Required attributes cut off, or a number cut to a bare sign.
        ASSERT_TRUE(r.code == ERR_CORRUPT_DATA_FILE || r.code == ERR_PREMATURE_EOF)
            << where << ": code " << r.code;
      }
      if (len <= required_end) {
        ASSERT_NE(r.code, ERR_NONE) << where << " lacks a required attribute";
      }
      if (r.code != ERR_NONE) {
        ASSERT_FALSE(r.phase.data) << where;
      }
    }
  }
  EXPECT_EQ(from_writer.count, 24);
}

TEST(SdfCorruption, EveryBinaryHeaderByteChangedGivesACodeOrAConsistentResult) {
  auto scratch = fast_scratch();
  for (int type : {0, 3, 5, 7}) {
    SCOPED_TRACE(seeds::sdf_type_name(type));
    const std::vector<std::uint8_t> good = seeds::binary_sdf(type, 3, 2);
    for (std::size_t offset = 0; offset < 81; ++offset) {
      for (std::uint8_t value : {static_cast<std::uint8_t>(good[offset] ^ 0xFF), std::uint8_t{0x00},
                                 std::uint8_t{0x7F}, std::uint8_t{0x80}, std::uint8_t{'a'}}) {
        if (value == good[offset]) continue;
        std::vector<std::uint8_t> bytes = good;
        bytes[offset] = value;
        SdfRead r;
        read_bytes_as_sdf(*scratch, bytes, r);
        const std::string where =
            "offset " + std::to_string(offset) + " = " + std::to_string(static_cast<int>(value));
        if (r.code != ERR_NONE) {
          ASSERT_TRUE(kImportCodes.count(r.code)) << where << ": code " << r.code;
          ASSERT_FALSE(r.phase.data) << where;
          continue;
        }
        ASSERT_TRUE(consistent(r)) << where;
        // The texts before the dimensions (version letters after the first,
        // maker, dates) and the two flag bytes do not touch the data.
        if ((offset >= 1 && offset < 42) || offset == 78 || offset == 80) {
          ASSERT_TRUE(holds_seed_values(r.phase, 3, 2)) << where;
        }
      }
    }
  }
}

TEST(SdfCorruption, EveryAsciiHeaderByteChangedGivesACodeOrAConsistentResult) {
  auto scratch = fast_scratch();
  const std::string good = seeds::ascii_sdf(2, true, 7, 3);
  const std::size_t header_end = after_section_end(good, 0);
  for (std::size_t offset = 0; offset < header_end; ++offset) {
    // The line the byte is in, and whether it is the value of a key that
    // does not touch the data.
    std::size_t line_start = good.rfind('\n', offset == 0 ? 0 : offset - 1);
    line_start = line_start == std::string::npos || offset == 0 ? 0 : line_start + 1;
    const std::string line = good.substr(line_start, good.find('\n', line_start) - line_start);
    const std::size_t eq = line.find('=');
    const bool inert_value = eq != std::string::npos && offset > line_start + eq &&
                             (line.rfind("ManufacID", 0) == 0 || line.rfind("CreateDate", 0) == 0 ||
                              line.rfind("ModDate", 0) == 0 || line.rfind("Compression", 0) == 0 ||
                              line.rfind("CheckType", 0) == 0) &&
                             offset < line_start + line.size();
    for (char value : {'X', '0', '9', '\n', ';', '=', ' ', '*', '-', '\0'}) {
      if (value == good[offset]) continue;
      std::string text = good;
      text[offset] = value;
      SdfRead r;
      read_bytes_as_sdf(*scratch, bytes_of(text), r);
      const std::string where =
          "offset " + std::to_string(offset) + " = " + std::to_string(static_cast<int>(value));
      if (r.code != ERR_NONE) {
        ASSERT_TRUE(kImportCodes.count(r.code)) << where << ": code " << r.code;
        ASSERT_FALSE(r.phase.data) << where;
        ASSERT_FALSE(inert_value) << where << " made a good file fail";
        continue;
      }
      ASSERT_TRUE(consistent(r)) << where;
      if (inert_value) {
        ASSERT_TRUE(holds_seed_values(r.phase, 7, 3)) << where;
      }
    }
  }
}

TEST(ByteOrderDeathTest, ReversingAnItemOfAnUnknownSizeEndsTheProcessWithALogLine) {
  // A size other than 2, 4 or 8 is a programming error, never a silent
  // partial reversal.
  std::uint8_t item[3] = {1, 2, 3};
  EXPECT_DEATH(u_swap_bytes(item, 3), "u_swap_bytes: n=3");
  std::uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  u_swap_bytes(eight, 8);
  EXPECT_EQ(eight[0], 8);
  EXPECT_EQ(eight[7], 1);
}
