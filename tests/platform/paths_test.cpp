// File names in the library's path convention: 8-bit names, and UTF-16 names
// behind a byte-order mark (0xFEFF: units low byte first, 0xFFFE: high byte
// first), on Windows through the wide-character calls, elsewhere converted
// to UTF-8. The same tests run natively and under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "datafile/data_writer.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/file_io.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// "Größe_测试" with a character beyond the 16-bit plane (a surrogate pair).
const std::u16string kName = u"Gr\u00F6\u00DFe_\u6D4B\u8BD5_\U0001D538";

std::string wide_path(const std::u16string& units, bool big_endian = false) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : units) {
    char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  out.append(2, '\0');
  return out;
}

// The UTF-16 units of a file in `dir`.
std::u16string in_dir(const ScratchDir& dir, const std::u16string& name) {
  return (dir.path() / fs::path(name)).u16string();
}

bool same_records(const Measurement& a, const Measurement& b) {
  return std::memcmp(&a.header, &b.header, sizeof(Header)) == 0 && a.phase.count == b.phase.count &&
         std::memcmp(a.phase.data.get(), b.phase.data.get(), 4 * a.phase.count) == 0 &&
         a.intensity.count == b.intensity.count &&
         std::memcmp(a.intensity.data.get(), b.intensity.data.get(), 2 * a.intensity.count) == 0;
}

// SDF text without its ModDate line (the time of writing).
std::string without_mod_date(std::string text) {
  std::size_t at = text.find("ModDate = ");
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

}  // namespace

TEST(WidePaths, MarkIsRecognisedOnlyAtTheStart) {
  EXPECT_TRUE(
      u_path_is_wide("\xFF\xFE"
                     "a"));
  EXPECT_TRUE(
      u_path_is_wide("\xFE\xFF"
                     "a"));
  EXPECT_FALSE(u_path_is_wide(""));
  EXPECT_FALSE(u_path_is_wide(nullptr));
  EXPECT_FALSE(u_path_is_wide("\xFF"));  // one byte: the second is the ending 0
  EXPECT_FALSE(u_path_is_wide("a\xFF\xFE"));
  EXPECT_FALSE(
      u_path_is_wide("\xEF\xBB\xBF"
                     "a"));  // UTF-8 signature
  // u_wide_path_from_utf8 gives the little-endian form and refuses bad UTF-8.
  EXPECT_EQ(u_wide_path_from_utf8("a\xC3\xB6"), wide_path(u"a\u00F6"));
  EXPECT_EQ(u_wide_path_from_utf8("\xF0\x9D\x94\xB8"), wide_path(u"\U0001D538"));
  EXPECT_EQ(u_wide_path_from_utf8("\xC3"), "");          // cut short
  EXPECT_EQ(u_wide_path_from_utf8("\xC0\xAF"), "");      // overlong
  EXPECT_EQ(u_wide_path_from_utf8("\xED\xA0\x80"), "");  // a surrogate
}

TEST(WidePaths, DataFileRoundTripsThroughANonAsciiName) {
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 9, 5);
  const std::u16string name = in_dir(dir, kName + u".dat");
  ASSERT_EQ(write_data_file(wide_path(name).c_str(), m.header, &m.intensity, &m.phase), 0);
  // The file carries exactly that name.
  ASSERT_TRUE(fs::is_regular_file(fs::path(name)));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  for (bool big_endian : {false, true}) {
    const std::string path = wide_path(name, big_endian);
    EXPECT_TRUE(u_is_regular_file(path.c_str())) << big_endian;
    Measurement back;
    ASSERT_EQ(read_data_file(path.c_str(), &back.header, &back.intensity, &back.phase), 0)
        << big_endian;
    EXPECT_TRUE(same_records(m, back)) << big_endian;
  }
  // A wide name of a directory is not a regular file.
  EXPECT_FALSE(u_is_regular_file(wide_path(dir.path().u16string()).c_str()));
}

TEST(WidePaths, SdfExportAndImportThroughANonAsciiName) {
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 9, 5);
  const std::u16string name = in_dir(dir, kName + u".sdf");
  const std::string path = wide_path(name);
  ASSERT_EQ(sdf_export(path.c_str(), &m.header, &m.intensity, &m.phase), 0);
  ASSERT_TRUE(fs::is_regular_file(fs::path(name)));
  // The same as the export to a plain name.
  const std::string plain = dir.file("plain.sdf");
  ASSERT_EQ(sdf_export(plain.c_str(), &m.header, &m.intensity, &m.phase), 0);
  std::ifstream in(fs::path(name), std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(without_mod_date(text), without_mod_date(read_text(plain)));

  // Writing again over the wide name replaces the file.
  ASSERT_EQ(sdf_export(wide_path(name, true).c_str(), &m.header, &m.intensity, &m.phase), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

  // It reads back through the same kind of name, as the plain file does.
  Header back{}, plain_back{};
  PhaseRecord phase, plain_phase;
  ASSERT_EQ(read_sdf_header(path.c_str(), &back, &phase), 0);
  ASSERT_EQ(read_sdf_header(plain.c_str(), &plain_back, &plain_phase), 0);
  EXPECT_EQ(std::memcmp(&back, &plain_back, sizeof(Header)), 0);
  ASSERT_EQ(phase.count, m.phase.count);
  EXPECT_EQ(std::memcmp(phase.data.get(), plain_phase.data.get(), 4 * phase.count), 0);
}

TEST(WidePaths, NamesThatAreNotUtf16FailCleanly) {
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 9, 5);
  const std::u16string base = in_dir(dir, u"x");
  const std::vector<std::u16string> bad = {
      base + u'\xD800',              // high surrogate at the end
      base + u'\xD83D' + u"y.dat",   // high surrogate before an ordinary unit
      base + u'\xDC00' + u".dat",    // low surrogate alone
      base + u'\xDC00' + u'\xD800',  // pair in the wrong order
  };
  for (const std::u16string& name : bad) {
    const std::string path = wide_path(name);
    Measurement back;
    EXPECT_EQ(read_data_file(path.c_str(), &back.header, &back.intensity, &back.phase),
              ERR_CANT_OPEN_FILE);
    EXPECT_FALSE(back.phase.data);
    EXPECT_FALSE(u_is_regular_file(path.c_str()));
    EXPECT_FALSE(u_same_file(path.c_str(), path.c_str()));
#ifndef _WIN32
    // Windows names may hold any 16-bit units, so there such a name can be
    // created; elsewhere it names no file at all.
    EXPECT_EQ(sdf_export(path.c_str(), &m.header, &m.intensity, &m.phase), ERR_CANT_CREATE_FILE);
    EXPECT_EQ(u_fopen(path.c_str(), "wb"), nullptr);
#endif
  }
#ifndef _WIN32
  EXPECT_TRUE(fs::is_empty(dir.path()));
#endif
}

TEST(WidePaths, EightBitNamesAreTheBytesGiven) {
  ScratchDir dir;
  Measurement m = synthetic_measurement(1, 9, 5);
  const std::string name = dir.file("plain name with spaces.dat");
  ASSERT_EQ(write_data_file(name.c_str(), m.header, &m.intensity, &m.phase), 0);
  Measurement back;
  ASSERT_EQ(read_data_file(name.c_str(), &back.header, &back.intensity, &back.phase), 0);
  EXPECT_TRUE(same_records(m, back));
  // The wide form of the same name reaches the same file.
  EXPECT_TRUE(u_same_file(name.c_str(), u_wide_path_from_utf8(name).c_str()));
  EXPECT_EQ(read_data_file("", &back.header, nullptr, nullptr), ERR_CANT_OPEN_FILE);
}

TEST(SameFile, IdentityNotSpelling) {
  ScratchDir dir;
  const std::string a = dir.file("a.dat"), b = dir.file("b.dat");
  write_text(a, "same bytes");
  write_text(b, "same bytes");
  const std::string wa = wide_path(in_dir(dir, u"a.dat"));
  EXPECT_TRUE(u_same_file(a.c_str(), a.c_str()));
  EXPECT_TRUE(u_same_file(a.c_str(), wa.c_str()));
  // Another spelling of the path.
  const std::string dotted = (dir.path() / "." / "a.dat").string();
  EXPECT_TRUE(u_same_file(dotted.c_str(), wa.c_str()));
  // A copy with the same size and times is another file.
  fs::copy_file(fs::path(a), dir.path() / "copy.dat");
  fs::last_write_time(dir.path() / "copy.dat", fs::last_write_time(fs::path(a)));
  EXPECT_FALSE(u_same_file(a.c_str(), dir.file("copy.dat").c_str()));
  EXPECT_FALSE(u_same_file(a.c_str(), b.c_str()));
  // A second name of one file is the same file.
  fs::create_hard_link(fs::path(a), dir.path() / fs::path(kName + u".link"));
  EXPECT_TRUE(u_same_file(wide_path(in_dir(dir, kName + u".link")).c_str(), a.c_str()));
  // A missing name is never the same as anything.
  EXPECT_FALSE(u_same_file(a.c_str(), dir.file("missing").c_str()));
  EXPECT_FALSE(u_same_file(dir.file("missing").c_str(), dir.file("missing").c_str()));
#ifdef _WIN32
  // Windows names ignore case.
  EXPECT_TRUE(u_same_file(dir.file("A.DAT").c_str(), a.c_str()));
#endif
}

TEST(WidePaths, ACopyKeepsTheWholePath) {
  const std::string wide = u_wide_path_from_utf8("scans/Größe.dat");
  EXPECT_EQ(u_path_copy(wide.c_str()), wide);
  EXPECT_EQ(u_path_copy("scans/a.dat"), "scans/a.dat");
  EXPECT_EQ(u_path_copy(nullptr), "");
}
