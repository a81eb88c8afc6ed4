// SDF import from hand-written files: both forms, every data type, the
// trailer, rescaling, and bad input of every kind.
#include "sdf/sdf_import.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "fuzz/seed_files.h"
#include "log/log.h"
#include "platform/byte_order.h"
#include "platform/memory.h"
#include "sdf/sdf_reading.h"
#include "tests/support/test_support.h"

namespace {

using seeds::ascii_sdf;
using seeds::binary_sdf;
using seeds::le_values;
using seeds::unit_trailer;
using testing_support::ScratchDir;
using testing_support::write_bytes;
using testing_support::write_text;

struct Imported {
  std::int32_t code = -1;
  Header header{};
  PhaseRecord phase;
  std::vector<std::int32_t> values() const {
    return std::vector<std::int32_t>(phase.data.get(), phase.data.get() + phase.count);
  }
};

Imported import_file(const std::string& path) {
  Imported r;
  r.code = read_sdf_header(path.c_str(), &r.header, &r.phase);
  return r;
}

// Notices of the import are collected in `notices_` instead of reaching
// standard output.
class SdfImport : public ::testing::Test {
 protected:
  void SetUp() override {
    u_set_notice_sink(
        [](const char* text, void* self) { static_cast<SdfImport*>(self)->notices_ += text; },
        this);
  }
  void TearDown() override { u_set_notice_sink(nullptr, nullptr); }
  Imported import_text(const std::string& text) {
    write_text(path_, text);
    return import_file(path_);
  }
  Imported import_bytes(const std::vector<std::uint8_t>& bytes) {
    write_bytes(path_, bytes);
    return import_file(path_);
  }
  ScratchDir dir_;
  std::string path_ = dir_.file("in.sdf");
  std::string notices_;
};

constexpr std::int32_t kInv = kInvalidPhase;

// ---------------------------------------------------------------------------

TEST_F(SdfImport, AsciiFileGivesHeaderAndValues) {
  Imported r =
      import_text(ascii_sdf(3, 2, "0 5 7 1\n2 4294967295\n",
                            unit_trailer("cn_org_x=12\ncn_org_y=-3\ncomment=\"a note\"\n", -3)));
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.phase.width, 3);
  EXPECT_EQ(r.phase.height, 2);
  EXPECT_EQ(r.phase.org_x, 12);
  EXPECT_EQ(r.phase.org_y, -3);
  EXPECT_EQ(r.values(), (std::vector<std::int32_t>{-3, 2, 4, -2, -1, kInv}));
  EXPECT_EQ(r.header.cn_width, 3);
  EXPECT_EQ(r.header.cn_height, 2);
  EXPECT_EQ(r.header.cn_n_bytes, 24);
  EXPECT_EQ(r.header.magic_number, kMagicFormat1);
  EXPECT_EQ(r.header.header_size, 834);
  EXPECT_STREQ(r.header.comment, "a note");
  EXPECT_EQ(r.header.camera_width, 640);
  EXPECT_FLOAT_EQ(r.header.wavelength_in, 8192.0f);
  EXPECT_EQ(std::string(r.header.swinfo.date, 30), "Mar 02 10:22:00 2011          ");
}

TEST_F(SdfImport, VersionLetterDecidesTheForm) {
  // 'A' is ASCII like 'a'; any other letter is the binary form.
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "9\n", unit_trailer(), {.version = "ABCR-1.0"})).code,
            ERR_NONE);
  Imported r = import_text(ascii_sdf(1, 1, "9\n", unit_trailer(), {.version = "bBCR-1.0"}));
  EXPECT_NE(r.code, ERR_NONE);
}

TEST_F(SdfImport, CreateDateConversion) {
  auto date_of = [&](const std::string& stamp) {
    std::string text = ascii_sdf(1, 1, "1\n");
    text.replace(text.find("020320111022"), 12, stamp);
    Imported r = import_text(text);
    EXPECT_EQ(r.code, ERR_NONE) << stamp;
    return std::string(r.header.swinfo.date, 30);
  };
  EXPECT_EQ(date_of("311219992359"), "Dec 31 23:59:00 1999          ");
  EXPECT_EQ(date_of("01012011000"), std::string(30, ' '));    // 11 characters
  EXPECT_EQ(date_of("0101201100001"), std::string(30, ' '));  // 13 characters
  EXPECT_EQ(date_of("-1-1-001-1-1"), std::string(30, ' '));   // stamp of an unreadable date
  EXPECT_EQ(date_of("011320110000"), std::string(30, ' '));   // month 13
}

TEST_F(SdfImport, DataTypesByNameOrDigit) {
  for (const char* type : {"7", "DOUBLE", "double"}) {
    Imported r = import_text(
        ascii_sdf(3, 1, "1.5 -2 1.7976931348623157e308\n", unit_trailer(), {.type = type}));
    ASSERT_EQ(r.code, ERR_NONE) << type;
    EXPECT_EQ(r.values(), (std::vector<std::int32_t>{2, -2, kInv})) << type;
  }
  struct Case {
    const char* type;
    const char* data;
    long offset;
    std::vector<std::int32_t> expect;
  };
  const Case cases[] = {
      {"UCHAR", "0 254 255", 0, {0, 254, kInv}},
      {"1", "65534 65535 7", 0, {65534, kInv, 7}},
      {"ULONGINT", "2147483646 4294967295 2147483648", INT32_MIN, {-2, kInv, 0}},
      {"FLOAT", "-2.25 3.4028235e38 nan", 0, {-2, kInv, kInv}},
      {"CHAR", "-128 127 -1", 0, {-128, kInv, -1}},
      {"5", "-32768 32767 12", 0, {-32768, kInv, 12}},
      {"LONGINT", "-2147483648 2147483647 2147483639", 0, {INT32_MIN, kInv, 2147483639}},
  };
  for (const Case& c : cases) {
    Imported r = import_text(
        ascii_sdf(3, 1, std::string(c.data) + "\n", unit_trailer("", c.offset), {.type = c.type}));
    ASSERT_EQ(r.code, ERR_NONE) << c.type;
    EXPECT_EQ(r.values(), c.expect) << c.type;
  }
  for (const char* bad : {"8", "QUAD", "", "-1", "07"}) {
    EXPECT_EQ(import_text(ascii_sdf(1, 1, "1\n", unit_trailer(), {.type = bad})).code,
              ERR_BAD_PARAM)
        << bad;
  }
}

TEST_F(SdfImport, RoundsHalfAwayFromZeroOnBothPaths) {
  // Zscale 2.5 with a unit of 1: 1 -> 2.5 -> 3, and with the offset -2,
  // (-2 + 1) x 2.5 = -2.5 -> -3.
  Imported a = import_text(ascii_sdf(2, 1, "1 3\n", unit_trailer("", -2), {.z_scale = "2.5"}));
  ASSERT_EQ(a.code, ERR_NONE);
  EXPECT_EQ(a.values(), (std::vector<std::int32_t>{-3, 3}));
  // Binary: z resolution 1 makes the unit 1; -2.7 goes to -3, not -2.
  Imported b =
      import_bytes(binary_sdf(4, 4, 1, le_values<std::int8_t>({-1, 1, -127, 0}), {.z_scale = 2.5}));
  ASSERT_EQ(b.code, ERR_NONE);
  EXPECT_EQ(b.values(), (std::vector<std::int32_t>{-3, 3, -318, 0}));
  Imported c = import_bytes(binary_sdf(7, 1, 1, le_values<double>({-1.0}), {.z_scale = 2.7}));
  ASSERT_EQ(c.code, ERR_NONE);
  EXPECT_EQ(c.values(), (std::vector<std::int32_t>{-3}));
}

TEST_F(SdfImport, BinaryFormAllTypesAndMarkers) {
  Imported u8 = import_bytes(binary_sdf(0, 3, 1, {0, 200, 255}));
  ASSERT_EQ(u8.code, ERR_NONE);
  EXPECT_EQ(u8.values(), (std::vector<std::int32_t>{0, 200, kInv}));
  Imported u16 = import_bytes(binary_sdf(1, 2, 1, le_values<std::uint16_t>({0xFFFF, 40000})));
  EXPECT_EQ(u16.values(), (std::vector<std::int32_t>{kInv, 40000}));
  Imported u32 = import_bytes(binary_sdf(2, 2, 1, le_values<std::uint32_t>({0xFFFFFFFFu, 123456})));
  EXPECT_EQ(u32.values(), (std::vector<std::int32_t>{kInv, 123456}));
  Imported f32 = import_bytes(binary_sdf(3, 3, 1, le_values<float>({FLT_MAX, -4.5f, NAN})));
  EXPECT_EQ(f32.values(), (std::vector<std::int32_t>{kInv, -5, kInv}));
  Imported i16 = import_bytes(binary_sdf(5, 2, 1, le_values<std::int16_t>({0x7FFF, -300})));
  EXPECT_EQ(i16.values(), (std::vector<std::int32_t>{kInv, -300}));
  Imported i32 = import_bytes(binary_sdf(6, 2, 1, le_values<std::int32_t>({0x7FFFFFFF, -70000})));
  EXPECT_EQ(i32.values(), (std::vector<std::int32_t>{kInv, -70000}));
  Imported f64 = import_bytes(binary_sdf(7, 2, 1, le_values<double>({DBL_MAX, 8.0})));
  EXPECT_EQ(f64.values(), (std::vector<std::int32_t>{kInv, 8}));
  EXPECT_EQ(import_bytes(binary_sdf(8, 1, 1, {0})).code, ERR_BAD_PARAM);
}

TEST_F(SdfImport, BinaryHeaderRecord) {
  // z resolution 0 stands for 632.8 nm at 4096 counts per wave.
  const double z = 7.724609375e-11;
  Imported r = import_bytes(binary_sdf(
      6, 2, 1, le_values<std::int32_t>({1000, -4096}),
      {.z_scale = z, .z_resolution = 0, .xy_scale = 2e-6, .create_date = "150620231405"}));
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_FLOAT_EQ(r.header.wavelength_in, 632.8e-9f);
  EXPECT_EQ(r.values(), (std::vector<std::int32_t>{1000, -4096}));
  EXPECT_FLOAT_EQ(r.header.intf_scale_factor, 0.5f);
  EXPECT_FLOAT_EQ(r.header.obliquity_factor, 1.0f);
  EXPECT_FLOAT_EQ(r.header.lateral_res, 2e-6f);
  EXPECT_FLOAT_EQ(r.header.pixel_width, 1e-6f);
  EXPECT_FLOAT_EQ(r.header.pixel_height, 1e-6f);
  EXPECT_EQ(r.header.magic_number, kMagicFormat1);
  EXPECT_EQ(r.header.cn_n_bytes, 8);
  EXPECT_EQ(std::string(r.header.swinfo.date, 30), "Jun 15 14:05:00 2023          ");
  // A create date of 12 bytes without a NUL is read whole.
  Imported negative_res = import_bytes(
      binary_sdf(6, 1, 1, le_values<std::int32_t>({7}), {.z_scale = z, .z_resolution = -1}));
  EXPECT_FLOAT_EQ(negative_res.header.wavelength_in, 632.8e-9f);
}

TEST_F(SdfImport, TrailerKeysMatchWholeNames) {
  Imported r = import_text(ascii_sdf(
      1, 1, "1\n",
      unit_trailer(
          "wavelength_in_1=         2.5\nfiducials_a[ 3]=        -1.25\nfiducials_a[13]=7\n"
          "fiducials_a[3]=99\nsys_serial2=1234567\nmagic_number=2283471729\n"
          "header_size=4096\nheader_format=3\ncoords_state=4294967295\n"
          "part_name=\"\"\nscan_descr=\"twenty characters plus more\"\n"
          "unknown_key=5\nsign\t-1\n")));
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_FLOAT_EQ(r.header.wavelength_in, 8192.0f);
  EXPECT_FLOAT_EQ(r.header.wavelength_in_1, 2.5f);
  EXPECT_FLOAT_EQ(r.header.fiducials_a[3], -1.25f);
  EXPECT_FLOAT_EQ(r.header.fiducials_a[13], 7.0f);
  EXPECT_EQ(r.header.sys_serial2, 1234567);
  EXPECT_EQ(r.header.sys_serial, 0);
  EXPECT_EQ(r.header.magic_number, kMagicFormat3);
  EXPECT_EQ(r.header.header_size, 4096);
  EXPECT_EQ(r.header.header_format, 3);
  EXPECT_EQ(r.header.coords_state, 4294967295u);
  EXPECT_EQ(r.header.sign, -1);
  EXPECT_EQ(std::string(r.header.scan_descr, 20), "twenty characters pl");
}

TEST_F(SdfImport, NumbersBeyondTheRangesSaturate) {
  Imported r = import_text(ascii_sdf(
      1, 1, "1\n",
      unit_trailer("part_thickness=1e999\ntarget_range=1" + std::string(400, '0') +
                   "\ndiscon_filter=-1e-999\nrefractive_index=0.0" + std::string(400, '0') +
                   "1\npre_connect_filter=1e39\nwavelength_in_2=-4e38\n")));
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.header.part_thickness, INFINITY);
  EXPECT_EQ(r.header.target_range, INFINITY);
  EXPECT_EQ(r.header.discon_filter, 0.0f);
  EXPECT_EQ(r.header.refractive_index, 0.0f);
  EXPECT_EQ(r.header.pre_connect_filter, INFINITY);
  EXPECT_EQ(r.header.wavelength_in_2, -INFINITY);
}

// Numbers are read the same under a locale whose decimal mark is a comma.
TEST_F(SdfImport, ProcessLocaleDoesNotMatter) {
  const char* saved = std::setlocale(LC_ALL, nullptr);
  std::string restore = saved ? saved : "C";
  bool set = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
    if (std::setlocale(LC_ALL, name)) {
      set = true;
      break;
    }
  if (!set) GTEST_SKIP() << "no locale with a decimal comma installed";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  Imported r = import_text(ascii_sdf(2, 1, "1 3\n", unit_trailer("", -2), {.z_scale = "2.5"}));
  Imported b = import_bytes(binary_sdf(4, 1, 1, le_values<std::int8_t>({-1}),
                                       {.z_scale = 2.5, .create_date = "150620231405"}));
  std::setlocale(LC_ALL, restore.c_str());
  EXPECT_STREQ(probe, "1,5");
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.values(), (std::vector<std::int32_t>{-3, 3}));
  EXPECT_FLOAT_EQ(r.header.lateral_res, 1e-6f);
  EXPECT_EQ(std::string(b.header.swinfo.date, 30), "Jun 15 14:05:00 2023          ");
}

TEST_F(SdfImport, MissingRequiredFields) {
  auto without = [](const std::string& key) {
    std::string t = unit_trailer();
    auto at = t.find(key + "=");
    t.erase(at, t.find('\n', at) + 1 - at);
    return t;
  };
  for (const char* key : {"intf_scale_factor", "obliquity_factor", "wavelength_in", "num_aperture",
                          "lateral_res", "camera_width", "camera_height", "phase_res"}) {
    notices_.clear();
    Imported r = import_text(ascii_sdf(1, 1, "1\n", without(key)));
    EXPECT_EQ(notices_, "Missing required fields.\n") << key;
    EXPECT_EQ(r.code, ERR_CORRUPT_DATA_FILE) << key;
    EXPECT_FALSE(r.phase.data);
  }
  // "#QNAN" sets NaN, which does not count.
  notices_.clear();
  std::string t = unit_trailer("wavelength_in=1.#QNAN\n");
  t.erase(t.find("wavelength_in=        8192\n"), 27);
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "1\n", t)).code, ERR_CORRUPT_DATA_FILE);
  EXPECT_EQ(notices_, "Missing required fields.\n");
  // No trailer at all.
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "1\n", "")).code, ERR_CORRUPT_DATA_FILE);
  // Odd values are read leniently, as the standard conversions read them: a
  // leading number counts, anything else is 0, and only a required field
  // that lacks a number refuses the file.
  const struct {
    const char* from;
    const char* to;
    std::int32_t code;
  } odd[] = {
      {"camera_width=640", "camera_width=abc", ERR_CORRUPT_DATA_FILE},
      {"camera_width=640", "camera_width=", ERR_CORRUPT_DATA_FILE},
      {"camera_width=640", "camera_width=70000", ERR_CORRUPT_DATA_FILE},
      {"camera_width=640", "camera_width=12abc", ERR_NONE},
      {"camera_width=640", "camera_width=640\nmagnification=word\nsource=", ERR_NONE},
      {"Data Offset = 0", "Data Offset = x", ERR_NONE},
  };
  for (const auto& o : odd) {
    std::string text = ascii_sdf(1, 1, "1\n", unit_trailer());
    text.replace(text.find(o.from), std::strlen(o.from), o.to);
    Imported r = import_text(text);
    EXPECT_EQ(r.code, o.code) << o.to;
    if (r.code == ERR_NONE) {
      EXPECT_EQ(r.values(), std::vector<std::int32_t>{1}) << o.to;
    }
  }
}

TEST_F(SdfImport, LinesOfAnyLength) {
  // One data line of 30000 values and a header comment far beyond 254 chars.
  std::string data;
  std::vector<std::int32_t> expect;
  for (int i = 0; i < 30000; ++i) {
    data += std::to_string(1000000 + i) + " ";
    expect.push_back(1000000 + i);
  }
  std::string text =
      ascii_sdf(300, 100, data + "\n", unit_trailer("comment=\"" + std::string(500, 'c') + "\"\n"));
  text.insert(text.find("ManufacID"), "Note = " + std::string(1000, 'x') + "\n");
  Imported r = import_text(text);
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.values(), expect);
  EXPECT_EQ(std::string(r.header.comment, 82), std::string(82, 'c'));
}

// The data section read in chunks of a few characters on several threads
// gives what one thread reading it whole gives: the values, the verdict and
// the lines left for the trailer.
TEST(AsciiDataChunks, AnyChunkSizeAndThreadCountReadsAlike) {
  std::string long_line;
  for (int i = 100; i < 160; ++i) long_line += std::to_string(i) + " ";
  const std::string body = "; comment * line\n1 2 3\r\n  4\t5 ;c 6\n" + long_line + "\n\n7 8\n";
  struct Case {
    std::string text;
    int points;
    std::int32_t code;
    const char* next_line;  // what the line reader gives after the section
  } cases[] = {
      {body + " *\r\nData Offset = 0\nmore\n", 67, ERR_NONE, "Data Offset = 0"},
      {body + "*", 67, ERR_NONE, nullptr},                // the end of the file after '*'
      {body, 67, ERR_NONE, nullptr},                      // no '*' at all
      {body + "9\n*\n", 67, ERR_PREMATURE_EOF, nullptr},  // one value too many
      {body + "*\n", 68, ERR_PREMATURE_EOF, nullptr},     // one too few
      {"1 2 x 4\n*\n", 4, ERR_PREMATURE_EOF, nullptr},
  };
  ScratchDir dir;
  const std::string path = dir.file("data.txt");
  for (int type : {sdf_detail::DT_ULONGINT, sdf_detail::DT_DOUBLE}) {
    for (const Case& c : cases) {
      write_text(path, c.text);
      std::vector<std::int32_t> first_values;
      std::vector<double> first_doubles;
      for (auto [threads, chunk] : {std::pair{1, 1 << 20}, {1, 3}, {2, 5}, {3, 8}, {4, 64}}) {
        SCOPED_TRACE(testing::Message() << c.text.size() << " chars, type " << type << ", "
                                        << threads << " threads, chunks of " << chunk);
        sdf_detail::SdfHeader s;
        s.data_type = static_cast<std::uint8_t>(type);
        PhaseRecord phase;
        phase.width = static_cast<std::int16_t>(c.points);
        phase.height = 1;
        ASSERT_EQ(phase_record_alloc(&phase), ERR_NONE);
        HookArray<double> doubles;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        sdf_detail::LineReader lines(f);
        EXPECT_EQ(sdf_detail::read_ascii_data(lines, s, phase, doubles, threads, chunk), c.code);
        std::string next;
        const int r = lines.next(next);
        std::fclose(f);
        if (c.code != ERR_NONE) continue;
        EXPECT_EQ(r, c.next_line ? 1 : 0);
        EXPECT_EQ(next, c.next_line ? c.next_line : "");
        std::vector<std::int32_t> values(phase.data.get(), phase.data.get() + phase.count);
        std::vector<double> ds;
        if (type == sdf_detail::DT_DOUBLE) ds.assign(doubles.get(), doubles.get() + phase.count);
        if (first_values.empty()) {
          first_values = values;
          first_doubles = ds;
          const std::vector<double> expect_head = {1, 2, 3, 4, 5, 100};
          for (std::size_t i = 0; i < expect_head.size(); ++i)
            EXPECT_EQ(type == sdf_detail::DT_DOUBLE ? ds[i] : values[i], expect_head[i]) << i;
        }
        if (type == sdf_detail::DT_DOUBLE)
          EXPECT_EQ(ds, first_doubles);
        else
          EXPECT_EQ(values, first_values);
      }
    }
  }
}

TEST_F(SdfImport, CrLfLinesCommentsAndBlankLines) {
  std::string text = ascii_sdf(3, 1, "; a comment line\n\n1 2 ; the rest\r\n3\r\n");
  Imported r = import_text(text);
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.values(), (std::vector<std::int32_t>{1, 2, 3}));
}

TEST_F(SdfImport, OutOfRangeValuesAreRefusedNotWrapped) {
  // 2147483639 is the largest valid value; 2147483640 would read as invalid.
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "2147483639\n")).code, ERR_NONE);
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "2147483640\n")).code, ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "4294967294\n")).code, ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "0\n", unit_trailer("", INT32_MIN))).code, ERR_NONE);
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "1000\n", unit_trailer("", -3), {.z_scale = "1e7"})).code,
            ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(import_text(ascii_sdf(1, 1, "-1e300\n", unit_trailer(), {.type = "DOUBLE"})).code,
            ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(
      import_bytes(binary_sdf(6, 1, 1, le_values<std::int32_t>({INT32_MIN}), {.z_scale = 4})).code,
      ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(import_bytes(binary_sdf(3, 1, 1, le_values<float>({INFINITY}))).code,
            ERR_PARAM_OUT_OF_RANGE);
}

TEST_F(SdfImport, MalformedHeaderAndData) {
  struct Case {
    std::string text;
    std::int32_t code;
  };
  std::string ok = ascii_sdf(2, 1, "1 2\n");
  auto with = [&](const std::string& from, const std::string& to) {
    std::string t = ok;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const Case cases[] = {
      {with("Xscale = 1e-06", "Xscale = 2e-06"), ERR_BAD_PARAM},
      {with("Xscale = 1e-06", "Xscale = nan"), ERR_BAD_PARAM},
      {with("Yscale = 1e-06", "Yscale = abc"), ERR_PREMATURE_EOF},
      {with("NumPoints = 2", "NumPoints = -2"), ERR_PREMATURE_EOF},
      {with("NumPoints = 2", "NumPoints = 40000"), ERR_DATASET_DIM_TOO_LARGE},
      {with("NumPoints = 2", "NumPoints = 99999999999999999999999"), ERR_DATASET_DIM_TOO_LARGE},
      {with("1 2\n", "1 2x\n"), ERR_PREMATURE_EOF},
      {with("1 2\n", "x 2\n"), ERR_PREMATURE_EOF},
      {with("1 2\n", "1 -2\n"), ERR_PREMATURE_EOF},
      {with("1 2\n", "1\n"), ERR_PREMATURE_EOF},             // too few values
      {with("1 2\n", "1 2 3\n"), ERR_PREMATURE_EOF},         // too many values
      {with("1 2\n", "1 4294967296\n"), ERR_PREMATURE_EOF},  // beyond 32 bits
      {with("*\n1 2", "1 2"), ERR_PREMATURE_EOF},            // no end of header before the data
      {"aBCR-1.0\nNumPoints = 1\n", ERR_PREMATURE_EOF},
      {"", ERR_PREMATURE_EOF},
      {"aBCR", ERR_PREMATURE_EOF},
  };
  for (const Case& c : cases) {
    Imported r = import_text(c.text);
    EXPECT_EQ(r.code, c.code) << c.text.substr(0, 400);
    EXPECT_FALSE(r.phase.data);
  }
  EXPECT_EQ(read_sdf_header(dir_.file("missing.sdf").c_str(), nullptr, nullptr), ERR_INVALID_PARAM);
  Header h{};
  PhaseRecord p;
  EXPECT_EQ(read_sdf_header(dir_.file("missing.sdf").c_str(), &h, &p), ERR_CANT_OPEN_FILE);
}

TEST_F(SdfImport, EmptyDimensionsGiveAnEmptyRecord) {
  Imported r = import_text(ascii_sdf(0, 0, ""));
  ASSERT_EQ(r.code, ERR_NONE);
  EXPECT_EQ(r.phase.count, 0);
  EXPECT_FALSE(r.phase.data);
  EXPECT_EQ(import_text(ascii_sdf(0, 0, "5\n")).code, ERR_PREMATURE_EOF);
}

TEST_F(SdfImport, HugeDimensionsInASmallFileAllocateNothing) {
  testing_support::AllocationWatch watch;
  EXPECT_EQ(import_text(ascii_sdf(32767, 16000, "1 2 3\n")).code, ERR_PREMATURE_EOF);
  EXPECT_EQ(import_bytes(binary_sdf(0, 32767, 16000, {1, 2, 3})).code, ERR_PREMATURE_EOF);
  // Beyond what the header's 32-bit block length can state.
  EXPECT_EQ(import_bytes(binary_sdf(0, 32767, 32767, {1, 2, 3})).code, ERR_DATASET_DIM_TOO_LARGE);
  EXPECT_EQ(import_bytes(binary_sdf(0, 40000, 2, {1, 2, 3})).code, ERR_DATASET_DIM_TOO_LARGE);
  EXPECT_LT(watch.largest(), 1u << 20);
  // A refused allocation is reported and leaves nothing behind.
  watch.refuse_all(true);
  Imported r = import_text(ascii_sdf(2, 1, "1 2\n"));
  EXPECT_EQ(r.code, ERR_NO_MEM);
  r = import_text(ascii_sdf(2, 1, "1 2\n", unit_trailer(), {.type = "DOUBLE"}));
  EXPECT_EQ(r.code, ERR_NO_MEM);
}

TEST_F(SdfImport, FailuresLeaveTheCallersOutputsAlone) {
  std::vector<unsigned char> sw(kSoftwareInfoSize, 0xAB), tail(kHeaderTailSize, 0xCD);
  PhaseRecord phase;
  phase.width = 5;
  phase.org_x = 9;
  IntensityRecord intensity;
  intensity.width = 4;
  for (const std::string& text :
       {ascii_sdf(1, 1, "2147483647\n"), ascii_sdf(1, 1, "1\n", ""), std::string("aBCR")}) {
    write_text(path_, text);
    EXPECT_NE(read_sdf_file(path_.c_str(), sw.data(), tail.data(), &intensity, &phase), ERR_NONE);
    EXPECT_EQ(sw, std::vector<unsigned char>(kSoftwareInfoSize, 0xAB));
    EXPECT_EQ(tail, std::vector<unsigned char>(kHeaderTailSize, 0xCD));
    EXPECT_EQ(phase.width, 5);
    EXPECT_EQ(phase.org_x, 9);
    EXPECT_FALSE(phase.data);
    EXPECT_EQ(intensity.width, 4);
  }
  EXPECT_EQ(read_sdf_file(path_.c_str(), nullptr, tail.data(), nullptr, &phase), ERR_INVALID_PARAM);
  EXPECT_EQ(read_sdf_file(path_.c_str(), sw.data(), nullptr, nullptr, &phase), ERR_INVALID_PARAM);
}

TEST_F(SdfImport, SuccessFillsTheBlocks) {
  write_text(path_, ascii_sdf(2, 1, "1 2\n", unit_trailer("swinfo.type=7\ntime_stamp=99\n")));
  std::vector<unsigned char> sw(kSoftwareInfoSize), tail(kHeaderTailSize);
  PhaseRecord phase;
  IntensityRecord intensity;
  intensity.width = 4;
  ASSERT_EQ(read_sdf_file(path_.c_str(), sw.data(), tail.data(), &intensity, &phase), ERR_NONE);
  Header h{};
  std::memcpy(reinterpret_cast<unsigned char*>(&h) + kSoftwareInfoOffset, sw.data(), sw.size());
  std::memcpy(reinterpret_cast<unsigned char*>(&h) + kHeaderTailOffset, tail.data(), tail.size());
  EXPECT_EQ(h.swinfo.type, 7);
  EXPECT_EQ(h.time_stamp, 99);
  EXPECT_EQ(h.camera_height, 480);
  EXPECT_EQ(intensity.width, 0);
  EXPECT_EQ(phase.count, 2);
}

TEST(SdfFormatRule, TailDecidesTheFormat) {
  std::vector<unsigned char> tail(kHeaderTailSize, 0);
  EXPECT_EQ(sdf_header_format(nullptr), 1);
  EXPECT_EQ(sdf_header_format(tail.data()), 1);
  Header h{};
  h.phase_res = 1;
  std::memcpy(tail.data(), reinterpret_cast<unsigned char*>(&h) + kHeaderTailOffset, tail.size());
  EXPECT_EQ(sdf_header_format(tail.data()), 1);
  h.phase_res = 2;
  std::memcpy(tail.data(), reinterpret_cast<unsigned char*>(&h) + kHeaderTailOffset, tail.size());
  EXPECT_EQ(sdf_header_format(tail.data()), 2);
  // Position 775 is the last byte of the short header's fields; 776 on is
  // format 3 only.
  tail.assign(kHeaderTailSize, 0);
  tail[775] = 1;
  EXPECT_EQ(sdf_header_format(tail.data()), 1);
  tail[776] = 1;
  EXPECT_EQ(sdf_header_format(tail.data()), 3);
  tail[776] = 0;
  tail[kHeaderTailSize - 1] = 1;
  EXPECT_EQ(sdf_header_format(tail.data()), 3);
}

TEST(SdfExportEntry, RefusesMissingOrInconsistentData) {
  ScratchDir dir;
  std::string out = dir.file("out.sdf");
  PhaseRecord empty;
  IntensityRecord no_intensity;
  EXPECT_EQ(write_sdf_file(out.c_str(), nullptr, nullptr, nullptr, nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(write_sdf_file(out.c_str(), nullptr, nullptr, &no_intensity, &empty),
            ERR_INVALID_PARAM);
  PhaseRecord phase = testing_support::make_phase(2, 2, {1, 2, 3, 4});
  phase.width = 3;  // claims more values than the array holds
  EXPECT_EQ(write_sdf_file(out.c_str(), nullptr, nullptr, nullptr, &phase), ERR_INVALID_PARAM);
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
