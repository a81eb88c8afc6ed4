// The SDF writer: header lines, data section layout, trailer, height step,
// and what happens when the file cannot be created or written.
#include "sdf/sdf_writer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "platform/file_io.h"
#include "sdf/attributes.h"
#include "sdf/text_out.h"
#include "tests/support/test_support.h"
#include "tools/synthetic.h"

using namespace testing_support;

namespace {

std::string data_section(const std::vector<std::int32_t>& values) {
  return captured([&](std::FILE* f) {
    auto n = static_cast<std::int32_t>(values.size());
    EXPECT_TRUE(sdf_write_data_section(f, values.data(), n, sdf_data_offset(values.data(), n)));
  });
}

Header plain_header() {
  Header h{};
  h.swinfo.vers.maj = 8;
  h.swinfo.vers.min = 3;
  h.swinfo.vers.bug = -5;
  std::strcpy(h.swinfo.date, "Wed Mar 02 10:22:32 2011");
  h.intf_scale_factor = 0.5f;
  h.obliquity_factor = 1.0f;
  h.wavelength_in = 6.328e-07f;
  h.lateral_res = 2.2e-6f;
  h.cn_width = 3;
  h.cn_height = 1;
  return h;
}

// An SDF file's text with the line ends of text mode (CR LF on Windows)
// turned back into LF.
std::string read_sdf(const std::string& path) {
  std::string text = read_text(path);
#ifdef _WIN32
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lf += text[i];
  }
  text = lf;
#endif
  return text;
}

// The value of the "Key = value" header line, or "<missing>".
std::string header_value(const std::string& text, const std::string& key) {
  std::size_t at = text.find("\n" + key + " = ");
  if (at == std::string::npos) return "<missing>";
  at += key.size() + 4;
  return text.substr(at, text.find('\n', at) - at);
}

bool is_stamp_of_now(const std::string& stamp) {
  if (stamp.size() != 12 || stamp.find_first_not_of("0123456789") != std::string::npos)
    return false;
  std::time_t t = std::time(nullptr);
  std::tm now{};
#ifdef _WIN32
  localtime_s(&now, &t);
#else
  localtime_r(&t, &now);
#endif
  int year = std::stoi(stamp.substr(4, 4));
  return year == now.tm_year + 1900 || year == now.tm_year + 1899;  // around New Year
}

}  // namespace

TEST(DataSection, TenNumbersALineRegardlessOfProfiles) {
  struct Case {
    std::vector<std::int32_t> values;
    std::string text;
  } cases[] = {
      {{5, 0, 7}, "5 0 7 \n"},
      {{-3, 2, 2147483640}, "0 5 4294967295 \n"},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "1 2 3 4 5 6 7 8 9 10 \n"},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, "1 2 3 4 5 6 7 8 9 10 \n11 \n"},
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(data_section(c.values), c.text);

  // 7 x 3 points: lines do not follow the profiles.
  std::vector<std::int32_t> v21(21);
  for (int i = 0; i < 21; ++i) v21[i] = i * 100;
  EXPECT_EQ(data_section(v21),
            "0 100 200 300 400 500 600 700 800 900 \n"
            "1000 1100 1200 1300 1400 1500 1600 1700 1800 1900 \n"
            "2000 \n");
}

TEST(DataSection, OffsetAndDifferencesCoverTheWhole32BitRange) {
  std::vector<std::int32_t> v = {INT32_MIN, 2147483639, 2147483647, -1, 0, kInvalidPhase};
  EXPECT_EQ(sdf_data_offset(v.data(), 6), INT32_MIN);
  EXPECT_EQ(data_section(v), "0 4294967287 4294967295 2147483647 2147483648 4294967295 \n");
  // Invalid points never lower the offset, positive values never raise it.
  std::vector<std::int32_t> w = {2147483647, kInvalidPhase, 12, 7};
  EXPECT_EQ(sdf_data_offset(w.data(), 4), 0);
  EXPECT_EQ(data_section(w), "4294967295 4294967295 12 7 \n");
  EXPECT_EQ(sdf_data_offset(w.data(), 0), 0);
  EXPECT_EQ(sdf_data_offset(v.data(), -5), 0);
}

TEST(DataSection, BufferedNumbersMatchPrintfAcrossBufferRefills) {
  std::vector<std::uint32_t> values = {0u, 4294967295u, 4294967294u, 2147483648u};
  for (std::uint32_t v = 0; v < 100000; ++v) values.push_back(v);
  for (std::uint32_t v = 100000; v < 100000000; v += 997) values.push_back(v);
  std::mt19937 rng(7);
  for (int i = 0; i < 100000; ++i) values.push_back(rng() >> (rng() % 32));
  for (std::uint32_t p = 1; p <= 1000000000u; p *= 10) {
    values.insert(values.end(), {p - 1, p, p + 1});
  }
  std::string expected;
  char buf[16];
  for (std::uint32_t v : values) {
    std::snprintf(buf, sizeof buf, "%u ", v);
    expected += buf;
  }
  std::string got = captured([&](std::FILE* f) {
    NumberWriter out(f);
    for (std::uint32_t v : values) out.put_number_space(v);
    EXPECT_TRUE(out.flush());
  });
  ASSERT_GT(got.size(), 2 * NumberWriter::kBufferSize);
  EXPECT_EQ(got, expected);
}

TEST(SdfExport, WholeFileLineByLine) {
  ScratchDir dir;
  std::string path = dir.file("out.sdf");
  Header h = plain_header();
  PhaseRecord p = make_phase(3, 1, {5, 0, 7});
  ASSERT_EQ(sdf_export(path.c_str(), &h, nullptr, &p), 0);
  std::string text = read_sdf(path);
  std::string mod = header_value(text, "ModDate");
  EXPECT_TRUE(is_stamp_of_now(mod)) << mod;
  std::string expected =
      "aBCR-1.0\n"
      "ManufacID = KV8.3.-5\n"
      "CreateDate = 020320111022\n"
      "ModDate = " +
      mod +
      "\n"
      "NumPoints = 3\n"
      "NumProfiles = 1\n"
      "Xscale = 2.199999926e-06\n"
      "Yscale = 2.199999926e-06\n"
      "Zscale = 7.724609147e-11\n"
      "Zresolution = 7.724609147e-11\n"
      "Compression = 0\n"
      "DataType = 2\n"
      "CheckType = 0\n"
      "*\n"
      "5 0 7 \n"
      "*\n"
      "Data Offset = 0\n" +
      captured([&](std::FILE* f) { EXPECT_GE(write_header_attributes(f, &h), 0); }) + "*\n";
  EXPECT_EQ(text, expected);
}

TEST(SdfExport, HeightStepIsSinglePrecisionInTheGivenOrder) {
  auto step_text = [](float isf, float obl, float wl, std::int16_t res) {
    Header h{};
    h.intf_scale_factor = isf;
    h.obliquity_factor = obl;
    h.wavelength_in = wl;
    h.phase_res = res;
    char buf[kFloatTextSize];
    return std::string(format_float_g(sdf_height_step(h), buf));
  };
  EXPECT_EQ(step_text(0.5f, 1.0f, 6.328e-07f, 0), "7.724609147e-11");
  EXPECT_EQ(step_text(0.5f, 1.0f, 6.328e-07f, 1), "9.655761433e-12");
  EXPECT_EQ(step_text(0.5f, 1.0f, 6.328e-07f, -1), "9.655761433e-12");
  // Double arithmetic would give 1.329345652e-10.
  EXPECT_EQ(step_text(1.1f, 0.9f, 5.5e-07f, 0), "1.329345661e-10");
  // Multiplying the wavelength in first would give 2.547576317e-10.
  EXPECT_EQ(step_text(1.7f, 0.97f, 6.328e-07f, 0), "2.547576039e-10");
  EXPECT_EQ(step_text(0.0f, 1.0f, 6.328e-07f, 0), "           0");
}

TEST(SdfExport, DatesEmptyGeometryAndNegativeSizes) {
  ScratchDir dir;
  std::string path = dir.file("out.sdf");
  Header h = plain_header();
  h.swinfo.date[0] = '\0';
  PhaseRecord empty;
  ASSERT_EQ(sdf_export(path.c_str(), &h, nullptr, &empty), 0);
  std::string text = read_sdf(path);
  // An empty date text is stamped with the time of writing.
  EXPECT_EQ(header_value(text, "CreateDate"), header_value(text, "ModDate"));
  EXPECT_EQ(header_value(text, "NumPoints"), "0");
  EXPECT_EQ(header_value(text, "NumProfiles"), "0");
  EXPECT_NE(text.find("CheckType = 0\n*\n*\nData Offset = 0\nmagic_number=0\n"), std::string::npos);

  // A 30-byte date without a NUL is read no further than its field.
  std::memcpy(h.swinfo.date, "Mar 02 10:22:00 2011          ", 30);
  h.swinfo.vers.maj = 99;  // right behind the date field
  PhaseRecord negative;
  negative.width = -1;
  negative.height = 1;
  ASSERT_EQ(sdf_export(path.c_str(), &h, nullptr, &negative), 0);
  text = read_sdf(path);
  EXPECT_EQ(header_value(text, "CreateDate"), "020320111022");
  EXPECT_EQ(header_value(text, "NumPoints"), "4294967295");
  EXPECT_NE(text.find("CheckType = 0\n*\n*\nData Offset = 0\n"), std::string::npos);
}

TEST(SdfExport, BadRecordsAreRefusedBeforeTheFileIsCreated) {
  ScratchDir dir;
  std::string path = dir.file("out.sdf");
  std::string nowhere = dir.file("missing/out.sdf");
  Header h = plain_header();
  PhaseRecord p = make_phase(3, 1, {5, 0, 7});
  EXPECT_EQ(sdf_export(path.c_str(), &h, nullptr, nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(sdf_export(nowhere.c_str(), &h, nullptr, nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(sdf_export(path.c_str(), nullptr, nullptr, &p), ERR_INVALID_PARAM);
  // Geometry that promises more values than the array holds.
  PhaseRecord no_array;
  no_array.width = 4;
  no_array.height = 2;
  EXPECT_EQ(sdf_export(path.c_str(), &h, nullptr, &no_array), ERR_INVALID_PARAM);
  p.width = 2;
  p.height = 2;
  EXPECT_EQ(sdf_export(path.c_str(), &h, nullptr, &p), ERR_INVALID_PARAM);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SdfExport, OpenFailuresAndOverwriting) {
  ScratchDir dir;
  Header h = plain_header();
  PhaseRecord p = make_phase(3, 1, {5, 0, 7});
  EXPECT_EQ(sdf_export(dir.file("missing/out.sdf").c_str(), &h, nullptr, &p), ERR_CANT_CREATE_FILE);
  EXPECT_EQ(sdf_export(dir.path().string().c_str(), &h, nullptr, &p), ERR_CANT_CREATE_FILE);
  EXPECT_EQ(sdf_export("", &h, nullptr, &p), ERR_CANT_CREATE_FILE);

  // An existing file is truncated, not partly overwritten.
  std::string path = dir.file("out.sdf");
  write_text(path, std::string(100000, 'x'));
  ASSERT_EQ(sdf_export(path.c_str(), &h, nullptr, &p), 0);
  std::string text = read_sdf(path);
  EXPECT_EQ(text.rfind("aBCR-1.0\n", 0), 0u);
  EXPECT_EQ(text.find("xxx"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\nsurface_filter=0\n*\n"));

  // A UTF-16 name behind the byte-order mark.
  const std::string name = dir.file(
      "gr\xC3\xBC\xC3\x9F"
      "e \xE2\x9C\x93.sdf");
  ASSERT_EQ(sdf_export(u_wide_path_from_utf8(name).c_str(), &h, nullptr, &p), 0);
  std::string wide_text = read_sdf(name);
  EXPECT_EQ(wide_text.rfind("aBCR-1.0\n", 0), 0u);
  EXPECT_EQ(wide_text.size(), text.size());
}

TEST(SdfExport, AFullDiskIsNeverSuccess) {
#ifndef __linux__
  GTEST_SKIP() << "needs /dev/full";
#else
  Header h = plain_header();
  // Small enough to sit in the stream's buffer until the close.
  PhaseRecord empty;
  EXPECT_EQ(sdf_export("/dev/full", &h, nullptr, &empty), ERR_CANT_WRITE_FILE);
  // Large enough to fail inside the data section.
  PhaseRecord big;
  big.width = 400;
  big.height = 300;
  ASSERT_EQ(phase_record_alloc(&big), 0);
  for (std::int32_t i = 0; i < big.count; ++i) big.data[i] = i * 37 - 5000;
  EXPECT_EQ(sdf_export("/dev/full", &h, nullptr, &big), ERR_CANT_WRITE_FILE);
#endif
}

TEST(SdfExport, SyntheticMeasurementReadsBack) {
  ScratchDir dir;
  std::string path = dir.file("out.sdf");
  Header h;
  IntensityRecord intensity;
  PhaseRecord p;
  SyntheticOptions o;
  o.format = 2;
  o.width = 37;
  o.height = 23;
  make_synthetic(o, &h, &intensity, &p);
  ASSERT_EQ(sdf_export(path.c_str(), &h, &intensity, &p), 0);
  std::string text = read_sdf(path);
  EXPECT_EQ(header_value(text, "NumPoints"), "37");
  EXPECT_EQ(header_value(text, "NumProfiles"), "23");
  EXPECT_EQ(header_value(text, "Zscale"), "9.655761433e-12");  // format 2: 32768 per wave

  std::size_t begin = text.find("\n*\n") + 3;
  std::size_t end = text.find("*\nData Offset = ");
  long long offset = std::stoll(text.substr(end + 16));
  std::size_t invalid = 0, i = 0;
  char* cursor = text.data() + begin;
  for (; cursor < text.data() + end; ++i) {
    unsigned long long n = std::strtoull(cursor, &cursor, 10);
    while (*cursor == ' ' || *cursor == '\n') ++cursor;
    ASSERT_LT(i, static_cast<std::size_t>(p.count));
    if (p.data[i] >= kInvalidPhase) {
      EXPECT_EQ(n, 4294967295ull);
      ++invalid;
    } else {
      EXPECT_EQ(static_cast<long long>(n) + offset, p.data[i]) << i;
    }
  }
  EXPECT_EQ(i, static_cast<std::size_t>(p.count));
  EXPECT_GT(invalid, 0u);
  EXPECT_LT(offset, 0);
}
