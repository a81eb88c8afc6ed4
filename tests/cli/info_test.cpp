// tovrel-info: the same text for a data file and the SDF file tovrel made of
// it, both SDF forms, and broken files.
#include "cli/info.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "datafile/data_writer.h"
#include "errors/errors.h"
#include "fuzz/seed_files.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "sdf/attributes.h"
#include "sdf/sdf_import.h"
#include "surface/map_cache.h"
#include "surface/picture.h"
#include "tests/support/test_support.h"
#include "tools/synthetic.h"
#include "x3p/zip_reader.h"
#include "x3p/zip_writer.h"

namespace {

using testing_support::attribute_listing;
using testing_support::read_bytes;
using testing_support::run_program;
using testing_support::RunResult;
using testing_support::ScratchDir;
using testing_support::write_bytes;
using testing_support::write_text;

std::string info_exe() { return TOVREL_INFO_EXE; }

// A generated measurement written as a data file and converted by tovrel.
struct Converted {
  Header header{};
  PhaseRecord phase;
  std::string dat, sdf;
};

Converted convert(const ScratchDir& dir, int format, std::int16_t w, std::int16_t h,
                  std::uint32_t seed) {
  Converted c;
  IntensityRecord intensity;
  make_synthetic({format, w, h, true, seed}, &c.header, &intensity, &c.phase);
  c.dat = dir.file("m" + std::to_string(format) + ".dat");
  c.sdf = dir.file("m" + std::to_string(format) + ".sdf");
  EXPECT_EQ(write_data_file(c.dat.c_str(), c.header, &intensity, &c.phase), ERR_NONE);
  RunResult r = run_program(testing_support::tovrel_exe(), {c.dat, c.sdf});
  EXPECT_EQ(r.status, 0) << r.err;
  return c;
}

TEST(TovrelInfo, DataFileAndItsSdfPrintTheSameText) {
  ScratchDir dir;
  for (int format : {1, 2, 3}) {
    Converted c = convert(dir, format, 61, 47, 7u + format);
    RunResult from_dat = run_program(info_exe(), {c.dat});
    RunResult from_sdf = run_program(info_exe(), {c.sdf});
    ASSERT_EQ(from_dat.status, INFO_OK) << from_dat.err;
    ASSERT_EQ(from_sdf.status, INFO_OK) << from_sdf.err;
    EXPECT_EQ(from_dat.out, from_sdf.out) << "format " << format;
    EXPECT_EQ(from_dat.err, "");
    // The listing is the one the SDF trailer holds, then the summary.
    std::string listing = attribute_listing(c.header);
    EXPECT_EQ(from_dat.out.substr(0, listing.size()), listing);
    PhaseSummary s = summarize_phase(c.header, c.phase);
    EXPECT_GT(s.valid, 0);
    EXPECT_LT(s.valid, 61 * 47);  // the ring of invalid points
    std::string summary = from_dat.out.substr(listing.size());
    EXPECT_NE(summary.find("width:        61\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("height:       47\n"), std::string::npos);
    EXPECT_NE(summary.find("valid points: " + std::to_string(s.valid) + "\n"), std::string::npos);
    EXPECT_NE(summary.find("smallest:     " + std::to_string(s.smallest) + " counts = "),
              std::string::npos);
    EXPECT_NE(summary.find("largest:      " + std::to_string(s.largest) + " counts = "),
              std::string::npos);

    // --json: the same attributes, typed, in listing order, and the summary.
    RunResult json = run_program(info_exe(), {"--json", c.sdf});
    ASSERT_EQ(json.status, INFO_OK) << json.err;
    const auto doc = nlohmann::ordered_json::parse(json.out);
    EXPECT_EQ(doc["kind"], "sdf ascii");
    std::istringstream lines(listing);
    auto attribute = doc["attributes"].begin();
    for (std::string line; std::getline(lines, line); ++attribute) {
      ASSERT_NE(attribute, doc["attributes"].end());
      const std::string key = line.substr(0, line.find('=')), text = line.substr(key.size() + 1);
      EXPECT_EQ(attribute.key(), key);
      const auto& v = attribute.value();
      if (v.is_string() && text.front() == '"') {
        EXPECT_EQ('"' + v.get<std::string>() + '"', text) << key;
      } else if (v.is_string()) {
        EXPECT_EQ(v.get<std::string>(), text.substr(text.find_first_not_of(' '))) << key;
      } else if (v.is_number_float()) {
        EXPECT_EQ(v.get<float>(), std::strtof(text.c_str(), nullptr)) << key;
      } else {
        EXPECT_EQ(v.dump(), text) << key;
      }
    }
    EXPECT_EQ(attribute, doc["attributes"].end());
    EXPECT_EQ(doc["phase"]["valid_points"], s.valid);
    EXPECT_EQ(doc["phase"]["smallest"]["counts"], s.smallest);
    EXPECT_EQ(doc["phase"]["largest"]["counts"], s.largest);

    // Its x3p file: the records, then the same listing and summary.
    const std::string x3p = c.sdf + ".x3p";
    ASSERT_EQ(run_program(TOVREL_EXE, {"-x", c.dat, x3p}).status, 0);
    RunResult from_x3p = run_program(info_exe(), {x3p});
    ASSERT_EQ(from_x3p.status, INFO_OK) << from_x3p.err;
    EXPECT_EQ(from_x3p.err, "");
    EXPECT_EQ(from_x3p.out.rfind("x3p records\n", 0), 0u);
    EXPECT_EQ(from_x3p.out.substr(from_x3p.out.find("\n\n") + 2), from_dat.out);
    RunResult x3p_json = run_program(info_exe(), {"--json", x3p});
    const auto x3p_doc = nlohmann::ordered_json::parse(x3p_json.out);
    EXPECT_EQ(x3p_doc["kind"], "x3p");
    EXPECT_EQ(x3p_doc["attributes"], doc["attributes"]);
    EXPECT_EQ(x3p_doc["phase"], doc["phase"]);
    EXPECT_EQ(x3p_doc["md5"]["point_data"], "agrees");
    EXPECT_EQ(x3p_doc["records"]["MatrixDimension"]["SizeX"], 61);
  }
}

TEST(TovrelInfo, KindIsToldByContentNotName) {
  ScratchDir dir;
  Converted c = convert(dir, 1, 12, 9, 3);
  std::string dat_named_sdf = dir.file("data.sdf"), sdf_named_dat = dir.file("surface.dat");
  write_bytes(dat_named_sdf, read_bytes(c.dat));
  write_bytes(sdf_named_dat, read_bytes(c.sdf));
  RunResult a = run_program(info_exe(), {dat_named_sdf});
  RunResult b = run_program(info_exe(), {sdf_named_dat});
  EXPECT_EQ(a.status, INFO_OK);
  EXPECT_EQ(a.out, b.out);
}

TEST(TovrelInfo, BinarySdfForm) {
  // Binary SDF: 3 x 1 LONGINT values, z resolution 0 (632.8 nm), one invalid.
  // Zscale is the step of 632.8 nm, as a writer prints it.
  std::vector<std::uint8_t> bytes =
      seeds::binary_sdf(6, 3, 1, seeds::le_values<std::int32_t>({-40, 0x7FFFFFFF, 1234}),
                        {.z_scale = 7.724609147e-11,
                         .z_resolution = 0,
                         .xy_scale = 2e-6,
                         .maker = "",
                         .mod_date = ""});
  ScratchDir dir;
  std::string path = dir.file("binary.sdf");
  write_bytes(path, bytes);
  RunResult r = run_program(info_exe(), {path});
  ASSERT_EQ(r.status, INFO_OK) << r.err;
  EXPECT_NE(r.out.find("swinfo.date=\"Mar 02 10:22:00 2011          \"\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("wavelength_in=6.327999813e-07\n"), std::string::npos);
  EXPECT_NE(r.out.find("width:        3\n  height:       1\n  valid points: 2\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("smallest:     -40 counts = -3.089843659e-09 m\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("largest:      1234 counts = 9.532167687e-08 m\n"), std::string::npos);
}

TEST(TovrelInfo, BrokenFilesGiveTheErrorName) {
  ScratchDir dir;
  Converted c = convert(dir, 2, 20, 10, 5);
  std::string text = testing_support::read_text(c.sdf);
  // Only the intensity geometry damaged: tovrel refuses the file, and so must
  // tovrel-info, with the same error name.
  std::string bad_intensity = testing_support::read_text(c.dat);
  for (const FieldDesc& f : kHeaderFields)
    if (std::string_view(f.name) == "intens_width") bad_intensity.replace(f.offset, 2, "\xFF\xFB");
  write_text(dir.file("bad-intensity"), bad_intensity);
  RunResult conversion =
      run_program(testing_support::tovrel_exe(), {dir.file("bad-intensity"), dir.file("x.sdf")});
  EXPECT_EQ(conversion.status, 4);
  const std::string tovrel_error =
      conversion.err.substr(conversion.err.rfind('\t') + 1, std::string::npos);
  struct Case {
    std::string name;
    std::string content;
    std::string error;
  };
  const Case cases[] = {
      {"empty", "", "ERR_PREMATURE_EOF"},
      {"binary-junk", std::string("\x01\x02\x03\x04junk", 8), "ERR_NOT_A_DATA_FILE"},
      {"cut-sdf", text.substr(0, text.find("Data Offset") - 40), "ERR_PREMATURE_EOF"},
      {"bad-type", "aBCR-1.0\nNumPoints = 1\nNumProfiles = 1\nDataType = QUAD\n*\n",
       "ERR_BAD_PARAM"},
      {"short-dat", testing_support::read_text(c.dat).substr(0, 500), "ERR_PREMATURE_EOF"},
      {"bad-intensity", bad_intensity, tovrel_error.substr(0, tovrel_error.size() - 1)},
      {"cut-zip", "PK\x03\x04 and no more", "ERR_CORRUPT_DATA_FILE"},
  };
  for (const Case& k : cases) {
    std::string path = dir.file(k.name);
    write_text(path, k.content);
    RunResult r = run_program(info_exe(), {path});
    EXPECT_EQ(r.status, INFO_READ_FAILED) << k.name;
    const std::string named = "tovrel-info: \"" + path + "\": ";
    if (!k.error.empty()) {
      EXPECT_EQ(r.err, named + k.error + "\n") << k.name;
    }
    EXPECT_EQ(r.err.rfind(named + "ERR_", 0), 0u) << k.name << ": " << r.err;
  }
  // The system's reason comes with a file that cannot be opened.
  const std::string nowhere = dir.file("no-such-file");
  RunResult missing = run_program(info_exe(), {nowhere});
  EXPECT_EQ(missing.status, INFO_READ_FAILED);
  EXPECT_EQ(missing.err, "tovrel-info: \"" + nowhere + "\": ERR_CANT_OPEN_FILE (" +
                             std::strerror(ENOENT) + ")\n");

  // An x3p file whose sums are both wrong: listed, with a warning each.
  const std::string x3p = dir.file("a.x3p"), wrong = dir.file("wrong.x3p");
  ASSERT_EQ(run_program(testing_support::tovrel_exe(), {"-x", c.dat, x3p}).status, 0);
  {
    File in(u_fopen(x3p.c_str(), "rb")), out(u_fopen(wrong.c_str(), "wb"));
    ZipReader zip;
    ASSERT_EQ(zip.open(in.get()), ERR_NONE);
    ZipWriter copy(out.get());
    for (const ZipEntry& e : zip.entries()) {
      std::string content;
      ASSERT_EQ(zip.read_all(e, content, 1 << 20), ERR_NONE);
      if (e.name == "md5checksum.hex") content[0] = content[0] == '0' ? '1' : '0';
      if (e.name == "bindata/data.bin") content[7] ^= 1;
      ASSERT_TRUE(copy.begin(e.name, content.size()));
      ASSERT_TRUE(copy.write(content.data(), content.size()));
    }
    ASSERT_TRUE(copy.finish());
  }
  RunResult listed = run_program(info_exe(), {wrong});
  EXPECT_EQ(listed.status, INFO_OK);
  EXPECT_EQ(listed.err, "tovrel-info: \"" + wrong +
                            "\": warning: the MD5 sum in md5checksum.hex is not the sum of "
                            "main.xml\ntovrel-info: \"" +
                            wrong +
                            "\": warning: MD5ChecksumPointData in main.xml is not the sum of the "
                            "point data\n");
  EXPECT_NE(listed.out.find("phase data\n"), std::string::npos);

  // A trailer without the required fields is a note in the listing, not an
  // error (the import refuses it with its own message).
  std::string cut = text.substr(0, text.find("intf_scale_factor")) + "*\n";
  write_text(dir.file("no-required"), cut);
  RunResult r = run_program(info_exe(), {dir.file("no-required")});
  EXPECT_EQ(r.status, INFO_OK) << r.err;
  EXPECT_NE(r.out.find("  trailer:      tovrel's, missing required fields\n  note: Missing"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  valid points: 128\n"), std::string::npos);
  Header h{};
  PhaseRecord p;
  EXPECT_EQ(read_sdf_header(dir.file("no-required").c_str(), &h, &p), ERR_CORRUPT_DATA_FILE);
}

// SDF files as other programs write them: the ISO dialect, no trailer, BAD
// for a missing point, unequal scales, sizes beyond the import's. The import
// keeps refusing what it refused.
TEST(TovrelInfo, SdfFromOtherSoftware) {
  auto header = [](const std::string& version, int points, int profiles, int type,
                   const char* yscale = "2e-6") {
    return version + "\nManufacID = Other\nCreateDate = 010120250000\nModDate = 000000000000" +
           "\nNumPoints = " + std::to_string(points) +
           "\nNumProfiles = " + std::to_string(profiles) + "\nXscale = 1e-6\nYscale = " + yscale +
           "\nZscale = 1e-9\nZresolution = -1\nCompression = 0" +
           "\nDataType = " + std::to_string(type) + "\nCheckType = 0\n*\n";
  };
  std::string wide;
  for (int i = 0; i < 40000; ++i) wide += std::to_string(i % 7) + "\n";
  struct Case {
    std::string name, content;
    std::int32_t import_code;  // what read_sdf_header says
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"iso",
       header("aISO-1.0", 3, 2, 5) + "1 BAD 3\r\n4 5 -6\r\n*\r\n \r\n*\r\n",
       ERR_BAD_PARAM,
       {"  valid points: 5\n  smallest:     -6e-09 m\n  largest:      5e-09 m\n",
        "  version:      aISO-1.0\n", "  Yscale:       2e-06 m\n", "  Zresolution:  -1 (unknown)\n",
        "  DataType:     5 (INTEGER)\n", "  trailer:      no trailer\n"}},
      {"float",
       header("aBCR-1.0", 3, 2, 3, "1e-6") + "1.5 2.25 BAD\n-0.5 1e1 0\n*\n",
       ERR_PREMATURE_EOF,
       {"  valid points: 5\n  smallest:     -5e-10 m\n  largest:      1e-08 m\n"}},
      {"wide",
       header("aBCR-1.0", 40000, 1, 0, "1e-6") + wide + "*\n",
       ERR_DATASET_DIM_TOO_LARGE,
       {"  width:        40000\n  height:       1\n  valid points: 40000\n",
        "  largest:      6e-09 m\n"}},
  };
  ScratchDir dir;
  for (const Case& k : cases) {
    const std::string path = dir.file(k.name + ".sdf");
    write_text(path, k.content);
    RunResult r = run_program(info_exe(), {path});
    EXPECT_EQ(r.status, INFO_OK) << k.name << ": " << r.err;
    for (const std::string& line : k.lines)
      EXPECT_NE(r.out.find(line), std::string::npos) << k.name << ": " << line << r.out;
    Header h{};
    PhaseRecord p;
    EXPECT_EQ(read_sdf_header(path.c_str(), &h, &p), k.import_code) << k.name;
  }
  // Binary ISO: a signed type's smallest value is a missing point.
  const std::string path = dir.file("biso.sdf");
  write_bytes(path,
              seeds::binary_sdf(5, 2, 2, seeds::le_values<std::int16_t>({-32768, 10, 20, 32767}),
                                {.z_scale = 1e-9, .z_resolution = -1}));
  std::vector<std::uint8_t> bytes = read_bytes(path);
  std::memcpy(bytes.data(), "bISO-1.0", 8);
  write_bytes(path, bytes);
  RunResult r = run_program(info_exe(), {path});
  EXPECT_NE(r.out.find("  valid points: 2\n  smallest:     1e-08 m\n  largest:      2e-08 m\n"),
            std::string::npos)
      << r.out;
}

// The parameters of a plane with a checkerboard of +-1 on it, which the
// plane fit cannot see: every one is known. A missing row and a missing
// point on the edge of it leave the checkerboard balanced.
TEST(TovrelInfo, HeightParameters) {
  std::string data = "BAD BAD BAD BAD\n";
  for (int y = 1; y < 5; ++y) {
    for (int x = 0; x < 4; ++x)
      data += std::to_string(1000 + 2 * x - y + ((x + y) % 2 ? -1 : 1)) + " ";
    data += "\n";
  }
  seeds::AsciiHeader header;
  header.type = "7";
  header.z_scale = "1e-06";
  ScratchDir dir;
  const std::string path = dir.file("plane.sdf"), few = dir.file("few.sdf");
  write_text(path, seeds::ascii_sdf(4, 5, data, "", header));
  write_text(few, seeds::ascii_sdf(3, 1, "1 BAD 2\n", "", header));
  RunResult r = run_program(info_exe(), {"--json", path, few});
  ASSERT_EQ(r.status, INFO_OK) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  const auto doc = nlohmann::json::parse(line);
  const auto& p = doc["parameters"];
  EXPECT_EQ(p["valid_points"], 16);
  for (const char* name : {"Sa", "Sq", "Sp", "Sv"}) EXPECT_NEAR(p[name], 1e-6, 1e-18) << name;
  EXPECT_NEAR(p["Sz"], 2e-6, 1e-18);
  EXPECT_NEAR(p["Ssk"], 0, 1e-12);
  EXPECT_NEAR(p["Sku"], 1, 1e-12);
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_TRUE(nlohmann::json::parse(line)["parameters"]["Sa"].is_null());
  EXPECT_FALSE(std::getline(lines, line));
  RunResult text = run_program(info_exe(), {few});
  EXPECT_NE(text.out.find("  Sa:           undefined\n"), std::string::npos) << text.out;
  // Heights whose powers overflow a double, and beyond single precision for
  // the picture's scale: no parameters, a picture of one colour, no crash.
  const std::string huge = dir.file("huge.sdf");
  write_text(huge, seeds::ascii_sdf(3, 2, "1e200 -1e200 3e200\n2 5e199 -7e200\n", "", header));
  RunResult over = run_program(info_exe(), {"--json", "--image", dir.file("huge.png"), huge});
  ASSERT_EQ(over.status, INFO_OK) << over.err;
  EXPECT_TRUE(nlohmann::json::parse(over.out)["parameters"]["Sq"].is_null());
  EXPECT_TRUE(std::filesystem::exists(dir.file("huge.png")));

  // A map too large to keep is read twice, and one given up half-way (its
  // values not the whole numbers it promised) once more: the same
  // parameters and scale. The picture's data are deflated in several
  // pieces, which inflate as one stream to the whole of them.
  Converted c = convert(dir, 2, 1000, 800, 11);
  MeasurementView view;
  ASSERT_EQ(open_measurement(c.sdf.c_str(), &view), ERR_NONE);
  InfoReport kept, read_again, given_up;
  InfoOptions options;
  options.image = dir.file("kept.png");
  ASSERT_EQ(inspect_measurement(view, options, &kept), ERR_NONE);
  MeasurementView broken = view;
  broken.read = [&view](surface::HeightSink& sink) {
    struct Halves final : surface::HeightSink {
      surface::HeightSink* to;
      void begin(const surface::MapGeometry& map) override { to->begin(map); }
      void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override {
        std::vector<double> v(values, values + 1000);
        if (y == 400) v[0] += 0.5;
        to->row(y, v.data(), missing);
      }
    } halves;
    halves.to = &sink;
    return view.read(halves);
  };
  options.image = dir.file("given_up.png");
  ASSERT_EQ(inspect_measurement(broken, options, &given_up), ERR_NONE);
  options.keep_bytes = 0;
  options.image = dir.file("read_again.png");
  ASSERT_EQ(inspect_measurement(view, options, &read_again), ERR_NONE);
  for (auto member : {&surface::HeightParameters::sa, &surface::HeightParameters::sq,
                      &surface::HeightParameters::ssk, &surface::HeightParameters::sku,
                      &surface::HeightParameters::sz}) {
    EXPECT_NEAR(kept.parameters.*member, read_again.parameters.*member,
                1e-12 * std::fabs(kept.parameters.*member));
    EXPECT_NEAR(kept.parameters.*member, given_up.parameters.*member,
                1e-6 * std::fabs(kept.parameters.*member));
  }
  EXPECT_EQ(kept.picture.low, read_again.picture.low);
  EXPECT_EQ(kept.picture.high, read_again.picture.high);
  EXPECT_EQ(kept.picture.low, given_up.picture.low);
  EXPECT_EQ(kept.picture.high, given_up.picture.high);
  const std::vector<std::uint8_t> png = read_bytes(dir.file("kept.png"));
  EXPECT_EQ(png, read_bytes(dir.file("read_again.png")));
  EXPECT_EQ(png, read_bytes(dir.file("given_up.png")));
  std::vector<std::uint8_t> deflated;
  std::uint32_t png_w = 0, png_h = 0;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t n = load_be32(&png[at]);
    if (std::memcmp(&png[at + 4], "IHDR", 4) == 0)
      png_w = load_be32(&png[at + 8]), png_h = load_be32(&png[at + 12]);
    if (std::memcmp(&png[at + 4], "IDAT", 4) == 0)
      deflated.insert(deflated.end(), png.begin() + at + 8, png.begin() + at + 8 + n);
    at += 12 + n;
  }
  uLongf inflated = (png_w * 3 + 1) * png_h;
  ASSERT_GT(inflated, 2u << 20);  // more than one piece
  std::vector<std::uint8_t> pixels(inflated + 1);
  uLongf room = pixels.size();
  EXPECT_EQ(uncompress(pixels.data(), &room, deflated.data(), deflated.size()), Z_OK);
  EXPECT_EQ(room, inflated);

  // The kept map gives every row back as it came, in pieces of 512 points:
  // each row's first piece a ramp, its last three points a piece kept in
  // 16 bits (span 65534), one in 32, one with no valid point; a fraction
  // gives up.
  constexpr std::size_t kW = 515;
  struct Rows final : surface::HeightSink {
    std::vector<double> v;
    std::vector<std::uint8_t> m;
    void begin(const surface::MapGeometry&) override {}
    void row(std::uint64_t, const double* values, const std::uint8_t* missing) override {
      v.insert(v.end(), values, values + kW);
      m.insert(m.end(), missing, missing + kW);
    }
  };
  surface::MapGeometry g;
  g.width = kW;
  g.height = 3;
  g.integral = true;
  const double last[] = {-7, 0, 65527, -2147483647, 0, 2147483647, 0, 0, 0};
  const std::uint8_t last_gone[] = {0, 1, 0, 0, 1, 0, 1, 1, 1};
  std::vector<double> in;
  std::vector<std::uint8_t> gone;
  for (std::size_t y = 0; y < 3; ++y) {
    for (std::size_t x = 0; x < kW - 3; ++x) in.push_back(1e6 + static_cast<double>(x * y));
    gone.resize(in.size(), 0);
    in.insert(in.end(), last + 3 * y, last + 3 * y + 3);
    gone.insert(gone.end(), last_gone + 3 * y, last_gone + 3 * y + 3);
  }
  surface::MapCache cache(1 << 20);
  cache.begin(g);
  for (std::size_t y = 0; y < 3; ++y) cache.row(y, &in[kW * y], &gone[kW * y]);
  ASSERT_TRUE(cache.complete());
  Rows out;
  cache.replay_rows(0, 3, out);
  EXPECT_EQ(out.v, in);
  EXPECT_EQ(out.m, gone);
  in[kW - 1] = 0.5;
  cache.begin(g);
  cache.row(0, in.data(), gone.data());
  EXPECT_FALSE(cache.keeping());

  // The scale's percentiles from the brackets of a sample agree with the
  // histogram's; a sample that misleads (the sampled points, every fourth
  // of a row, lie above all the others) finds nothing, and the histogram
  // takes over.
  g.width = 4096;
  g.height = 64;
  for (const bool misleading : {false, true}) {
    std::vector<double> row(4096);
    const std::vector<std::uint8_t> none(4096, 0);
    cache = surface::MapCache(1 << 21);
    surface::Percentiles histogram(0.005, 0.995);
    surface::HeightFanout both;
    both.add(cache);
    both.add(histogram);
    both.begin(g);
    for (std::uint64_t y = 0; y < 64; ++y) {
      for (std::size_t x = 0; x < 4096; ++x)
        row[x] = misleading && x % 4 ? -1e6 - static_cast<double>(x + y) : (x * 7 + y * 3) % 5000;
      both.row(y, row.data(), none.data());
    }
    ASSERT_TRUE(cache.complete());
    ASSERT_TRUE(histogram.second_pass());
    histogram = surface::replay_counting<surface::Percentiles>(cache, 3, [&] { return histogram; });
    SCOPED_TRACE(misleading);
    const surface::RankBrackets brackets(cache, 0.005, 0.995, 64 * 4096);
    surface::RankBrackets ranks = surface::replay_in_blocks<surface::RankBrackets>(
        cache, 3, [&brackets] { return brackets; });
    ASSERT_EQ(ranks.finish(), !misleading);
    if (misleading) continue;
    EXPECT_EQ(ranks.low(), histogram.low());
    EXPECT_EQ(ranks.high(), histogram.high());
  }
}

// The text chunks of a PNG file, and its size.
std::map<std::string, std::string> png_texts(const std::string& path, int* w = nullptr) {
  const std::vector<std::uint8_t> d = read_bytes(path);
  std::map<std::string, std::string> texts;
  EXPECT_GT(d.size(), 33u);
  EXPECT_EQ(std::memcmp(d.data(), "\x89PNG\r\n\x1a\n", 8), 0);
  if (w) *w = d[16] << 24 | d[17] << 16 | d[18] << 8 | d[19];
  for (std::size_t at = 8; at + 12 <= d.size();) {
    const std::size_t n = std::size_t{d[at]} << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
    const std::string type(d.begin() + at + 4, d.begin() + at + 8);
    if (type == "tEXt") {
      const std::string body(d.begin() + at + 8, d.begin() + at + 8 + n);
      texts[body.substr(0, body.find('\0'))] = body.substr(body.find('\0') + 1);
    }
    at += 12 + n;
  }
  return texts;
}

// Pictures: one file to a name, several into a folder, the map's true
// aspect, the scale's range in the listing and the text chunks alike; a
// failure in the middle leaves the rest done and gives the exit status.
TEST(TovrelInfo, Pictures) {
  ScratchDir dir;
  seeds::AsciiHeader tall;  // rows twice as far apart as the points (the last Yscale counts)
  tall.xy_scale = "1e-06\nYscale = 2e-06";
  std::string data;
  for (int i = 0; i < 200; ++i) data += std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
  const std::string a = dir.file("a.sdf"), b = dir.file("b.sdf"), bad = dir.file("bad.sdf");
  write_text(a, seeds::ascii_sdf(20, 10, data, seeds::unit_trailer()));
  write_text(b, seeds::ascii_sdf(20, 10, data, "", tall));
  write_text(bad, "aBCR-1.0\nNumPoints = 2\nNumProfiles = 1\n*\n1\n*\n");
  RunResult one = run_program(info_exe(), {"--image", dir.file("one.png"), a});
  ASSERT_EQ(one.status, INFO_OK) << one.err;
  EXPECT_NE(one.out.find("\npicture\n  file:         " + dir.file("one.png") +
                         "\n  pixels:       20 x 10\n  colour scale: 1 m to 198 m (0.5 to 99.5"),
            std::string::npos)
      << one.out;
  const auto texts = png_texts(dir.file("one.png"));
  EXPECT_EQ(texts.at("Scale low (m)"), "1");
  EXPECT_EQ(texts.at("Scale high (m)"), "198");
  EXPECT_EQ(texts.at("Title"), a);

  const std::string folder = dir.file("pictures");
  std::filesystem::create_directory(folder);
  RunResult many = run_program(info_exe(), {"--json", "--image", folder, a, bad, b});
  EXPECT_EQ(many.status, INFO_READ_FAILED);
  EXPECT_EQ(many.err, "tovrel-info: \"" + bad + "\": ERR_PREMATURE_EOF\n");
  std::istringstream lines(many.out);
  std::string line;
  std::vector<nlohmann::json> docs;
  while (std::getline(lines, line)) docs.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[1]["picture"]["file"], folder + "/b.png");
  EXPECT_EQ(docs[1]["picture"]["width"], 20);
  EXPECT_EQ(docs[1]["picture"]["height"], 20);
  EXPECT_TRUE(std::filesystem::exists(folder + "/a.png"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/bad.png"));
  // Never over a file being read; never two files to one picture.
  EXPECT_EQ(run_program(info_exe(), {"--image", a, a}).status, INFO_USAGE);
  EXPECT_EQ(run_program(info_exe(), {"--image", folder, a, a}).status, INFO_USAGE);
  EXPECT_EQ(read_bytes(a).size(), seeds::ascii_sdf(20, 10, data, seeds::unit_trailer()).size());

  // Beyond 2048 points a side, a pixel is the mean of its run of points over
  // its rows; missing points take no part, and a run of none is no height.
  surface::PictureGrid grid;
  surface::MapGeometry g;
  g.width = 5000;
  g.height = 2;
  g.dx = g.dy = 1e-6;
  std::vector<double> v(5000);
  std::vector<std::uint8_t> m(5000, 0);
  for (std::size_t x = 0; x < 5000; ++x) v[x] = static_cast<double>(x % 7);
  m[0] = m[1] = m[2] = m[4] = 1;
  grid.begin(g);
  grid.row(0, v.data(), m.data());
  v[4] = 0;  // valid in the second row only
  m[4] = 0;
  grid.row(1, v.data(), m.data());
  ASSERT_EQ(grid.width(), 2048u);
  ASSERT_EQ(grid.grid_rows(), 1u);
  EXPECT_TRUE(std::isnan(grid.cell(0, 0)));  // points 0 to 2
  std::vector<double> sum(2048, 0);
  std::vector<int> count(2048, 0);
  for (std::size_t y = 0; y < 2; ++y)
    for (std::size_t x = 3; x < 5000; ++x) {
      if (x == 4 && y == 0) continue;
      sum[x * 2048 / 5000] += x == 4 ? 0 : static_cast<double>(x % 7);
      ++count[x * 2048 / 5000];
    }
  for (std::size_t c = 1; c < 2048; ++c)
    ASSERT_EQ(grid.cell(c, 0), static_cast<float>(sum[c] / count[c])) << c;
  // A block of whole grid rows summed apart gives the same cells (3000 rows
  // on 2048 grid rows do not break into blocks of 64 so).
  surface::PictureGrid apart;
  surface::MapGeometry narrow = g;
  narrow.width = 10;
  narrow.height = 3000;
  EXPECT_FALSE(surface::PictureGrid::whole_rows_in(narrow, 64));
  ASSERT_TRUE(surface::PictureGrid::whole_rows_in(g, 64));
  apart.begin(g);
  surface::PictureGrid::Part part(apart);
  m[4] = 1;
  part.row(0, v.data(), m.data());
  m[4] = 0;
  part.row(1, v.data(), m.data());
  for (std::size_t c = 0; c < 2048; ++c)
    ASSERT_EQ(std::isnan(apart.cell(c, 0)) ? -1.0f : apart.cell(c, 0),
              std::isnan(grid.cell(c, 0)) ? -1.0f : grid.cell(c, 0));
}

TEST(TovrelInfo, UsageErrors) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"--bogus", "a"},
        std::vector<std::string>{"--json", "--image"}}) {
    RunResult r = run_program(info_exe(), args);
    EXPECT_EQ(r.status, INFO_USAGE);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Usage"), std::string::npos);
  }
  RunResult help = run_program(info_exe(), {"--help"});
  EXPECT_EQ(help.status, INFO_OK);
  EXPECT_EQ(
      help.out.rfind("Usage:  tovrel-info [--json] [--no-parameters] [--image out.png] file\n", 0),
      0u);
  EXPECT_EQ(help.err, "");
  RunResult version = run_program(info_exe(), {"--version"});
  EXPECT_EQ(version.status, INFO_OK);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("tovrel-info [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  EXPECT_EQ(version.err, "");
}

TEST(PhaseSummaryTest, CountsOnlyValidPoints) {
  Header h{};
  h.intf_scale_factor = 0.5f;
  h.obliquity_factor = 1.0f;
  h.wavelength_in = 8192.0f;  // one count is 1 m
  PhaseRecord p = testing_support::make_phase(2, 2, {kInvalidPhase, -7, 2147483647, 5});
  PhaseSummary s = summarize_phase(h, p);
  EXPECT_EQ(s.valid, 2);
  EXPECT_EQ(s.smallest, -7);
  EXPECT_EQ(s.largest, 5);
  EXPECT_DOUBLE_EQ(s.step, 1.0);
  PhaseRecord none = testing_support::make_phase(1, 1, {kInvalidPhase});
  EXPECT_EQ(summarize_phase(h, none).valid, 0);
  PhaseRecord empty;
  EXPECT_EQ(summarize_phase(h, empty).valid, 0);
}

}  // namespace
