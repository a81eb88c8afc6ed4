// Reading binary data files: success paths, every failure code, and the
// records left behind.
#include "datafile/reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "datafile/data_writer.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "tests/support/test_support.h"
#include "tools/synthetic.h"

using namespace testing_support;

namespace {

Measurement synthetic(int format, std::int16_t w = 23, std::int16_t h = 17, bool intensity = true) {
  return synthetic_measurement(format, w, h, intensity);
}

std::vector<std::uint8_t> encode(const Measurement& m) {
  return encode_data_file(m.header, &m.intensity, &m.phase);
}

class ReaderTest : public ::testing::Test {
 protected:
  // Reads `bytes` from a file; the records start filled with junk geometry
  // so that clearing is visible.
  std::int32_t read(const std::vector<std::uint8_t>& bytes, bool with_intensity = true) {
    std::string path = dir.file("in.dat");
    write_bytes(path, bytes);
    intensity = IntensityRecord{};
    phase = PhaseRecord{};
    intensity.width = phase.width = 99;
    return read_data_file(path.c_str(), &header, with_intensity ? &intensity : nullptr, &phase);
  }
  void expect_released() {
    EXPECT_FALSE(intensity.data);
    EXPECT_EQ(intensity.count, 0);
    EXPECT_EQ(intensity.width, 0);
    EXPECT_FALSE(phase.data);
    EXPECT_EQ(phase.count, 0);
    EXPECT_EQ(phase.width, 0);
    EXPECT_EQ(phase.height, 0);
  }

  ScratchDir dir;
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
};

}  // namespace

TEST_F(ReaderTest, ReadsEveryFormatWithBothBlocks) {
  for (int format : {1, 2, 3}) {
    Measurement m = synthetic(format);
    ASSERT_EQ(read(encode(m)), 0) << format;
    EXPECT_EQ(std::memcmp(&header, &m.header, sizeof header), 0);
    ASSERT_EQ(phase.count, 23 * 17);
    EXPECT_EQ(phase.width, 23);
    EXPECT_EQ(phase.height, 17);
    EXPECT_EQ(std::memcmp(phase.data.get(), m.phase.data.get(), 4 * 23 * 17), 0);
    ASSERT_EQ(intensity.count, 23 * 17);
    EXPECT_EQ(intensity.range, 4095);
    EXPECT_EQ(std::memcmp(intensity.data.get(), m.intensity.data.get(), 2 * 23 * 17), 0);
  }
}

TEST_F(ReaderTest, PhaseBlockFollowsTheIntensityBlockEvenWhenItIsNotRead) {
  Measurement m = synthetic(1);
  ASSERT_EQ(read(encode(m), /*with_intensity=*/false), 0);
  EXPECT_EQ(std::memcmp(phase.data.get(), m.phase.data.get(), 4 * 23 * 17), 0);
}

TEST_F(ReaderTest, HeaderAloneReadsWithEmptyRecords) {
  Header h = distinct_header(1);
  std::vector<std::uint8_t> bytes = encode_data_file(h, nullptr, nullptr);
  ASSERT_EQ(bytes.size(), 834u);
  ASSERT_EQ(read(bytes), 0);
  EXPECT_EQ(std::memcmp(&header, &h, offsetof(Header, unused_834)), 0);
  expect_released();
  EXPECT_EQ(intensity.width, 0);  // cleared, not left at 99
}

TEST_F(ReaderTest, MagicAloneDecidesTheHeaderLength) {
  Measurement m = synthetic(1);
  m.header.header_size = 4096;
  m.header.header_format = 3;
  ASSERT_EQ(read(encode(m)), 0);
  EXPECT_EQ(std::memcmp(phase.data.get(), m.phase.data.get(), 4 * 23 * 17), 0);
}

TEST_F(ReaderTest, ShortOrForeignFilesAreRefused) {
  EXPECT_EQ(read({}), ERR_PREMATURE_EOF);
  EXPECT_EQ(read({0x88, 0x1B, 0x03}), ERR_PREMATURE_EOF);
  EXPECT_EQ(read({0x88, 0x1B, 0x03, 0x6F}), ERR_PREMATURE_EOF);
  EXPECT_EQ(read({0x6F, 0x03, 0x1B, 0x88, 0, 0, 0, 0}), ERR_NOT_A_DATA_FILE);
  EXPECT_EQ(read({'a', 'B', 'C', 'R', '-', '1', '.', '0'}), ERR_NOT_A_DATA_FILE);
  std::vector<std::uint8_t> f3 = encode(synthetic(3));
  f3.resize(4095);
  EXPECT_EQ(read(f3), ERR_PREMATURE_EOF);
  expect_released();
  std::string missing = dir.file("missing.dat");
  EXPECT_EQ(read_data_file(missing.c_str(), &header, &intensity, &phase), ERR_CANT_OPEN_FILE);
  EXPECT_EQ(read_data_file("", &header, &intensity, &phase), ERR_CANT_OPEN_FILE);
}

TEST_F(ReaderTest, DimensionsAreChecked) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<std::uint8_t>&);
    std::int32_t code;
  } cases[] = {
      {"phase height 40000", [](auto& b) { store_be16(&b[70], 40000); }, ERR_DATASET_DIM_TOO_LARGE},
      {"phase width -1", [](auto& b) { store_be16(&b[68], 0xFFFF); }, ERR_DATASET_DIM_TOO_LARGE},
      {"intensity width 40000", [](auto& b) { store_be16(&b[52], 40000); },
       ERR_DATASET_DIM_TOO_LARGE},
      {"phase width 0", [](auto& b) { store_be16(&b[68], 0); }, ERR_PARAM_OUT_OF_RANGE},
      {"intensity buckets 0", [](auto& b) { store_be16(&b[56], 0); }, ERR_PARAM_OUT_OF_RANGE},
      // More intensity bytes than buckets x width x height can hold.
      {"intensity bytes too many", [](auto& b) { store_be32(&b[60], 2 * 23 * 17 + 2); },
       ERR_CORRUPT_DATA_FILE},
      // A bucket count that makes the product overflow 32 bits.
      {"intensity product overflow",
       [](auto& b) {
         store_be16(&b[52], 32767);
         store_be16(&b[54], 32767);
         store_be16(&b[56], 32767);
       },
       ERR_CORRUPT_DATA_FILE},
      {"negative buckets", [](auto& b) { store_be16(&b[56], 0xFFFE); }, ERR_CORRUPT_DATA_FILE},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = encode(synthetic(1));
    c.damage(bytes);
    EXPECT_EQ(read(bytes), c.code) << c.what;
    expect_released();
  }
}

TEST_F(ReaderTest, ShortBlocksAreCorrupt) {
  std::vector<std::uint8_t> bytes = encode(synthetic(2));
  bytes.resize(bytes.size() - 4);  // one phase value short
  EXPECT_EQ(read(bytes), ERR_CORRUPT_DATA_FILE);
  expect_released();
  bytes.resize(834 + 10);  // inside the intensity block
  EXPECT_EQ(read(bytes), ERR_CORRUPT_DATA_FILE);
  expect_released();
  // Huge dimensions announced by a tiny file fail without a huge allocation.
  store_be16(&bytes[68], 32767);
  store_be16(&bytes[70], 32767);
  EXPECT_EQ(read(bytes, false), ERR_CORRUPT_DATA_FILE);
}

TEST_F(ReaderTest, NegativeByteCountsMeanNoBlock) {
  Measurement m = synthetic(1, 5, 4, /*intensity=*/false);
  m.header.intens_n_bytes = -100;
  std::vector<std::uint8_t> bytes = encode(m);
  ASSERT_EQ(read(bytes), 0);
  EXPECT_FALSE(intensity.data);
  // The phase block starts right after the header, not 100 bytes before its end.
  EXPECT_EQ(std::memcmp(phase.data.get(), m.phase.data.get(), 4 * 20), 0);
  m.header.cn_n_bytes = -1;
  ASSERT_EQ(read(encode(m)), 0);
  expect_released();
}

TEST_F(ReaderTest, SmallerIntensityBlockLeavesTheRestZero) {
  Measurement m = synthetic(1, 4, 3);
  m.header.intens_n_bytes = 2 * 5;  // five of twelve values
  std::vector<std::uint8_t> bytes = encode_data_file(m.header, nullptr, nullptr);
  for (int i = 0; i < 5; ++i) bytes.insert(bytes.end(), {0x12, static_cast<std::uint8_t>(i)});
  std::vector<std::uint8_t> phase_bytes = encode_data_file(m.header, nullptr, &m.phase);
  bytes.insert(bytes.end(), phase_bytes.begin() + 834, phase_bytes.end());
  ASSERT_EQ(read(bytes), 0);
  ASSERT_EQ(intensity.count, 12);
  EXPECT_EQ(intensity.data[4], 0x1204);
  EXPECT_EQ(intensity.data[5], 0);
  EXPECT_EQ(intensity.data[11], 0);
  EXPECT_EQ(std::memcmp(phase.data.get(), m.phase.data.get(), 4 * 12), 0);
}

TEST_F(ReaderTest, GeneratedFilesStreamTheSameBytesAndSaturateHugeByteCounts) {
  // tovrel-gen writes row by row what make_synthetic and the writer would
  // encode at once; 3000 x 100 points take more than one batch of rows.
  struct Case {
    int format;
    std::int16_t w, h;
    bool intensity;
  } cases[] = {{1, 23, 17, true}, {2, 7, 5, false}, {3, 3000, 100, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    std::string path = dir.file("gen.dat");
    SyntheticOptions o{c.format, c.w, c.h, c.intensity, 7};
    ASSERT_EQ(write_synthetic_file(o, path.c_str()), ERR_NONE);
    Measurement m;
    make_synthetic(o, &m.header, &m.intensity, &m.phase);
    EXPECT_TRUE(read_bytes(path) == encode(m));
  }
  // A block of 2^31 bytes or more keeps a positive (saturated) count, which
  // is all a reader needs: the values come from the dimensions.
  EXPECT_EQ(data_block_byte_count(4LL * 32767 * 32767), 2147483647);
  EXPECT_EQ(data_block_byte_count(2LL * 32767 * 32767), 2147352578);
  Measurement m = synthetic(1, 5, 4, /*intensity=*/false);
  m.header.cn_n_bytes = data_block_byte_count(1LL << 31);
  ASSERT_EQ(read(encode(m)), 0);
  EXPECT_EQ(std::memcmp(phase.data.get(), m.phase.data.get(), 4 * 20), 0);
}
