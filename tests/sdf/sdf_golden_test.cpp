// Golden files: binary data files in tests/golden/*.dat are converted and
// compared byte for byte with tests/golden/*.sdf. Two differences are
// allowed: the ModDate line (the time of writing), and CR LF for every line
// break, which text mode writes on Windows.
//
// To regenerate after a deliberate change of the output, run the test with
// TOVREL_UPDATE_GOLDEN=1 in the environment, for example
//   TOVREL_UPDATE_GOLDEN=1 build/default/tests/sdf_golden_test
// It rebuilds every input from the cases below (write_data_file), converts
// it, writes both files into tests/golden/ of the source tree, and fails so
// that a regenerating run is never mistaken for a check. Review the diff
// before committing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "datafile/data_writer.h"
#include "datafile/reader.h"
#include "sdf/sdf_convert.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"
#include "tools/synthetic.h"

using namespace testing_support;

namespace {

const std::string kGoldenDir = std::string(TOVREL_SOURCE_DIR) + "/tests/golden/";

struct Input {
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
};

template <std::size_t N>
void put_text(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

void synthetic(Input& in, int format, std::int16_t w, std::int16_t h, bool intensity) {
  SyntheticOptions o;
  o.format = format;
  o.width = w;
  o.height = h;
  o.intensity = intensity;
  o.seed = static_cast<std::uint32_t>(format * 1000 + w);
  make_synthetic(o, &in.header, &in.intensity, &in.phase);
}

// The inputs, built in code; used only when regenerating.
void build_input(const std::string& name, Input& in) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  if (name == "format1") {
    synthetic(in, 1, 23, 11, true);
  } else if (name == "format2") {
    synthetic(in, 2, 16, 9, false);
  } else if (name == "format3") {
    synthetic(in, 3, 14, 5, true);
  } else if (name == "no_phase") {
    // A header that announces no phase block: 0 x 0 points.
    synthetic(in, 1, 8, 4, true);
    phase_record_free(&in.phase);
    in.header.cn_n_bytes = 0;
    put_text(in.header.swinfo.date, "14 July 1999");
  } else if (name == "awkward") {
    // Texts that fill their field without a NUL, quotes and line breaks,
    // an out-of-range date, non-finite floats, extreme values.
    synthetic(in, 2, 7, 3, false);
    Header& h = in.header;
    put_text(h.swinfo.date, "3/45/11 30:99 PM  (edited by hand)");
    put_text(h.comment, std::string(82, 'c'));
    put_text(h.part_name, "say \"hi\"\nsecond line\tand a tab");
    put_text(h.obj_name, "ABCDEFGHIJKL");
    put_text(h.sys_err_file_name, std::string(200, 'e'));
    put_text(h.wavelen_select, "12345678");
    h.swinfo.vers.bug = -7;
    h.sign = -32768;
    h.coords_state = 0xFFFFFFFFu;
    h.num_aperture = nan;
    h.magnification = -nan;
    h.part_thickness = inf;
    h.target_range = -inf;
    h.fiducials_a[0] = -0.0f;
    h.fiducials_a[13] = std::numeric_limits<float>::denorm_min();
    h.coords.x_rot = std::numeric_limits<float>::max();
    h.lateral_res = nan;
    h.sys_serial2 = 0;
    const std::int32_t v[21] = {-2147483647 - 1,
                                2147483639,
                                2147483640,
                                2147483647,
                                -1,
                                0,
                                1,
                                9,
                                10,
                                99,
                                100,
                                999,
                                1000,
                                99999,
                                100000,
                                999999999,
                                1000000000,
                                -5,
                                2147483645,
                                42,
                                -1000000000};
    for (int i = 0; i < 21; ++i) in.phase.data[i] = v[i];
  } else if (name == "high_res_negative") {
    // Every value negative, phase_res other than 0, an empty date text
    // would stamp the current time, so a short one is used instead.
    synthetic(in, 2, 10, 2, false);
    for (std::int32_t i = 0; i < in.phase.count; ++i) in.phase.data[i] = -100 * (i + 1);
    in.header.phase_res = -1;
    in.header.intf_scale_factor = 1.7f;
    in.header.obliquity_factor = 0.97f;
    put_text(in.header.swinfo.date, "99");
  }
}

const std::vector<std::string> kCases = {"format1",  "format2", "format3",
                                         "no_phase", "awkward", "high_res_negative"};

std::string mask_mod_date(std::string text) {
  std::size_t at = text.find("\nModDate = ");
  if (at != std::string::npos) {
    at += 11;
    std::size_t end = text.find_first_of("\r\n", at);
    text.replace(at, end - at, "<time of writing>");
  }
  return text;
}

std::string with_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

// Text mode writes the platform's own line end: CR LF on Windows, LF
// elsewhere. The golden files hold LF.
#ifdef _WIN32
constexpr bool kCrLfLines = true;
#else
constexpr bool kCrLfLines = false;
#endif

// Accepts `actual` when it equals `expected` apart from ModDate, with the
// platform's line end throughout; otherwise explains the first difference.
::testing::AssertionResult SameSdf(const std::string& expected, const std::string& actual) {
  const std::string a = mask_mod_date(actual);
  const std::string ref = kCrLfLines ? with_crlf(mask_mod_date(expected)) : mask_mod_date(expected);
  if (a == ref) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < ref.size() && i < a.size() && ref[i] == a[i]) ++i;
  std::size_t from = i < 40 ? 0 : i - 40;
  return ::testing::AssertionFailure()
         << "first difference at byte " << i << "\nexpected: ..." << ref.substr(from, 80)
         << "\nactual:   ..." << a.substr(from, 80);
}

TEST(GoldenCompare, OnlyModDateAndThePlatformLineEndMayDiffer) {
  const std::string e = "aBCR-1.0\nModDate = 010120241200\nx=\"a\"\n*\n";
  const std::string native = kCrLfLines ? with_crlf(e) : e;
  const std::string foreign = kCrLfLines ? e : with_crlf(e);
  EXPECT_TRUE(SameSdf(e, native));
  EXPECT_TRUE(SameSdf(e, mask_mod_date(native)));
  EXPECT_FALSE(SameSdf(e, foreign));
  EXPECT_FALSE(SameSdf(e, "aBCR-1.0\r\nModDate = 1\nx=\"a\"\r\n*\r\n"));  // mixed
  std::string changed = native;
  changed[changed.find("\"a\"") + 1] = 'b';
  EXPECT_FALSE(SameSdf(e, changed));
  EXPECT_FALSE(SameSdf(e, native + (kCrLfLines ? "\r\n" : "\n")));
  EXPECT_FALSE(SameSdf(e, native.substr(0, native.size() - 1)));
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, ConvertsByteForByte) {
  const std::string name = GetParam();
  const std::string dat = kGoldenDir + name + ".dat", sdf = kGoldenDir + name + ".sdf";
  ScratchDir dir;
  const std::string out = dir.file(name + ".sdf");

  if (std::getenv("TOVREL_UPDATE_GOLDEN")) {
    Input in;
    build_input(name, in);
    ASSERT_EQ(write_data_file(dat.c_str(), in.header, &in.intensity, &in.phase), 0);
  }

  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  ASSERT_EQ(read_data_file(dat.c_str(), &header, &intensity, &phase), 0) << dat;
  ASSERT_EQ(sdf_export(out.c_str(), &header, &intensity, &phase), 0);

  if (std::getenv("TOVREL_UPDATE_GOLDEN")) {
    write_bytes(sdf, read_bytes(out));
    FAIL() << "regenerated " << dat << " and " << sdf << "; review and commit them";
  }
  ASSERT_TRUE(std::filesystem::exists(sdf)) << sdf;
  EXPECT_TRUE(SameSdf(read_text(sdf), read_text(out))) << name;

  // The streamed conversion tovrel runs writes the same bytes.
  const std::string streamed = dir.file(name + "-streamed.sdf");
  ASSERT_EQ(convert_data_file(dat.c_str(), streamed.c_str(), OutputMode::kCreateNew), 0);
  EXPECT_TRUE(SameSdf(read_text(sdf), read_text(streamed))) << name;
}

TEST(GoldenStreamed, ManyChunksOnAnyNumberOfThreadsGiveTheWritersBytes) {
  // 701 x 999 points: several chunks and a last line of nine values.
  ScratchDir dir;
  Input in;
  synthetic(in, 3, 701, 999, true);
  const std::string dat = dir.file("big.dat"), expected = dir.file("expected.sdf");
  ASSERT_EQ(write_data_file(dat.c_str(), in.header, &in.intensity, &in.phase), 0);
  ASSERT_EQ(sdf_export(expected.c_str(), &in.header, &in.intensity, &in.phase), 0);
  const std::string want = mask_mod_date(read_text(expected));
  const std::string expected_binary = dir.file("expected.bsdf");
  ASSERT_EQ(sdf_export_binary(expected_binary.c_str(), &in.header, &in.intensity, &in.phase), 0);
  const std::vector<std::uint8_t> want_binary = read_bytes(expected_binary);
  for (int threads : {1, 2, 4}) {
    const std::string out = dir.file("streamed" + std::to_string(threads) + ".sdf");
    ConvertStage stage = ConvertStage::kRead;
    ASSERT_EQ(convert_data_file(dat.c_str(), out.c_str(), OutputMode::kReplace, &stage, threads),
              0);
    EXPECT_EQ(stage, ConvertStage::kNone);
    EXPECT_TRUE(mask_mod_date(read_text(out)) == want) << threads << " threads";
    ASSERT_EQ(convert_data_file(dat.c_str(), out.c_str(), OutputMode::kReplace, &stage, threads,
                                SdfForm::kBinary),
              0);
    std::vector<std::uint8_t> got = read_bytes(out);
    ASSERT_EQ(got.size(), want_binary.size());
    // The 12 characters of the binary header's modification stamp.
    std::copy_n(want_binary.begin() + 30, 12, got.begin() + 30);
    EXPECT_TRUE(got == want_binary) << threads << " threads, binary";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Golden, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param; });
