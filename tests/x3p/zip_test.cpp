// The ZIP writer and reader: what one writes the other reads back, with and
// without the ZIP64 records, deflated entries too; damaged archives and ZIP
// bombs are refused with their codes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "tests/support/test_support.h"
#include "x3p/checksums.h"
#include "x3p/zip_reader.h"
#include "x3p/zip_writer.h"

using namespace testing_support;

namespace {

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed) ^ (i >> 7));
  return s;
}

// Reads every entry of the archive at `path`: its name and content, or the
// code of the first failure.
std::int32_t read_archive(const std::string& path,
                          std::vector<std::pair<std::string, std::string>>& out) {
  File f(u_fopen(path.c_str(), "rb"));
  ZipReader zip;
  if (std::int32_t err = zip.open(f.get())) return err;
  for (const ZipEntry& e : zip.entries()) {
    std::string content;
    if (std::int32_t err = zip.read_all(e, content, 1 << 30)) return err;
    out.emplace_back(e.name, content);
  }
  return ERR_NONE;
}

// A one-entry archive written by hand: `data` as it is stored, with the
// method, the sizes and the CRC-32 given.
std::string one_entry(std::uint16_t method, const std::string& data, std::uint64_t size,
                      std::uint32_t crc, std::uint16_t flags = 0) {
  auto u16 = [](std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8 & 0xFF);
  };
  auto u32 = [&](std::string& s, std::uint64_t v) {
    u16(s, static_cast<unsigned>(v & 0xFFFF));
    u16(s, static_cast<unsigned>(v >> 16 & 0xFFFF));
  };
  std::string z;
  u32(z, 0x04034b50);
  u16(z, 20), u16(z, flags), u16(z, method), u16(z, 0), u16(z, 0x21);
  u32(z, crc), u32(z, data.size()), u32(z, size), u16(z, 1), u16(z, 0);
  z += "a" + data;
  const std::size_t dir = z.size();
  u32(z, 0x02014b50);
  u16(z, 20), u16(z, 20), u16(z, flags), u16(z, method), u16(z, 0), u16(z, 0x21);
  u32(z, crc), u32(z, data.size()), u32(z, size), u16(z, 1), u16(z, 0), u16(z, 0), u16(z, 0);
  u16(z, 0), u32(z, 0), u32(z, 0);
  z += "a";
  const std::size_t dir_size = z.size() - dir;
  u32(z, 0x06054b50), u16(z, 0), u16(z, 0), u16(z, 1), u16(z, 1);
  u32(z, dir_size), u32(z, dir), u16(z, 0);
  return z;
}

std::string deflated(const std::string& data) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

TEST(Zip, WrittenEntriesReadBackWithAndWithoutZip64) {
  ScratchDir dir;
  const std::string first = pattern(1000, 1), big = pattern(700000, 2), last = "tail\n";
  for (std::uint64_t zip64_from : {std::uint64_t{0xFFFFFFFF}, std::uint64_t{1}}) {
    SCOPED_TRACE(zip64_from);
    const std::string path = dir.file("a.zip");
    {
      File f(u_fopen(path.c_str(), "wb"));
      ZipWriter zip(f.get(), zip64_from);
      ASSERT_TRUE(zip.begin("first.txt", first.size()));
      ASSERT_TRUE(zip.write(std::string(first.size(), 'x').data(), first.size()));
      // In pieces, one with a CRC-32 computed elsewhere.
      ASSERT_TRUE(zip.begin("dir/big.bin", big.size()));
      ASSERT_TRUE(zip.write(big.data(), 300000));
      ASSERT_TRUE(
          zip.write(big.data() + 300000, 400000, crc32_update(0, big.data() + 300000, 400000)));
      ASSERT_TRUE(zip.end());
      ASSERT_TRUE(zip.rewrite(0, first.data(), first.size()));
      EXPECT_FALSE(zip.rewrite(0, first.data(), 3));  // another size
      ASSERT_TRUE(zip.begin("last", last.size()));
      EXPECT_FALSE(zip.write(big.data(), last.size() + 1));  // more than announced
      ASSERT_TRUE(zip.write(last.data(), last.size()));
      ASSERT_TRUE(zip.finish());
    }
    std::vector<std::pair<std::string, std::string>> entries;
    ASSERT_EQ(read_archive(path, entries), ERR_NONE);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], std::make_pair(std::string("first.txt"), first));
    EXPECT_EQ(entries[1], std::make_pair(std::string("dir/big.bin"), big));
    EXPECT_EQ(entries[2], std::make_pair(std::string("last"), last));
  }
  // An entry that does not get the size it announced fails at its end.
  File f(u_fopen(dir.file("short.zip").c_str(), "wb"));
  ZipWriter zip(f.get());
  ASSERT_TRUE(zip.begin("short", 10));
  ASSERT_TRUE(zip.write("abc", 3));
  EXPECT_FALSE(zip.end());
}

TEST(Zip, ReaderTakesDeflatedEntriesAndRefusesDamage) {
  const std::string text = pattern(200000, 3) + std::string(300000, 'z');
  const std::string packed = deflated(text);
  const std::uint32_t crc = crc32_update(0, text.data(), text.size());
  const std::string good = one_entry(8, packed, text.size(), crc);
  std::string cut_data = good;
  cut_data[40] ^= 0x55;  // inside the deflated data
  std::string cut_directory = good;
  cut_directory.resize(good.size() - 30);
  std::string bad_end = good;
  bad_end[bad_end.size() - 6] = 0x7F;  // the directory's offset
  struct Case {
    const char* what;
    std::string archive;
    std::int32_t code;
  } cases[] = {
      {"deflated", good, ERR_NONE},
      {"stored", one_entry(0, text, text.size(), crc), ERR_NONE},
      {"wrong CRC-32", one_entry(8, packed, text.size(), crc ^ 1), ERR_CORRUPT_DATA_FILE},
      {"size claimed too small", one_entry(8, packed, text.size() - 1, crc), ERR_CORRUPT_DATA_FILE},
      {"size claimed too large", one_entry(8, packed, text.size() + 1, crc), ERR_CORRUPT_DATA_FILE},
      {"stored sizes differ", one_entry(0, text, text.size() + 1, crc), ERR_CORRUPT_DATA_FILE},
      {"damaged deflate data", cut_data, ERR_CORRUPT_DATA_FILE},
      {"cut before its end record", cut_directory, ERR_CORRUPT_DATA_FILE},
      {"directory offset out of the file", bad_end, ERR_CORRUPT_DATA_FILE},
      {"not a ZIP file", std::string(100, 'P'), ERR_CORRUPT_DATA_FILE},
      {"empty", "", ERR_CORRUPT_DATA_FILE},
      {"encrypted", one_entry(0, text, text.size(), crc, 1), ERR_CORRUPT_DATA_FILE},
      {"another method", one_entry(12, packed, text.size(), crc), ERR_CORRUPT_DATA_FILE},
      {"bomb", one_entry(8, packed, 0xFFFFFFFEull, crc), ERR_DATASET_DIM_TOO_LARGE},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir.file("z.zip"), c.archive);
    std::vector<std::pair<std::string, std::string>> entries;
    EXPECT_EQ(read_archive(dir.file("z.zip"), entries), c.code);
    if (c.code == ERR_NONE) {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].second, text);
    }
  }
}

}  // namespace
