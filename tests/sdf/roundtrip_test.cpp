// Binary data file -> tovrel -> SDF import gives back every listed header
// field and every phase value, over many generated files; and the export
// entry point writes what the import reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datafile/data_writer.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "sdf/attributes.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"
#include "tools/synthetic.h"

namespace {

using testing_support::attribute_listing;
using testing_support::run_program;
using testing_support::RunResult;
using testing_support::ScratchDir;

// A finite float from random bits (any exponent, subnormals and zeros
// included); `nonzero` keeps it away from 0.
float random_float(std::mt19937& rng, bool nonzero = false) {
  for (;;) {
    std::uint32_t bits = rng();
    float f;
    std::memcpy(&f, &bits, 4);
    if (!std::isfinite(f) || (nonzero && f == 0.0f)) continue;
    return f;
  }
}

// Every listed field of `h` set at random through the field table. Texts
// hold no double quote, line break or other control character (the listing
// does not escape them); some fill their whole array without a NUL.
void randomize_listed_fields(Header& h, std::mt19937& rng) {
  for (const FieldDesc& f : kHeaderFields) {
    if (f.list_kind == ListKind::NONE) continue;
    for (std::size_t e = 0; e < f.elements(); ++e) {
      void* p = header_field_ptr(h, f, e);
      switch (f.type) {
        case FieldType::TEXT: {
          auto* text = static_cast<char*>(p);
          std::memset(text, 0, f.width());
          std::size_t len = rng() % 4 == 0 ? f.width() : rng() % f.width();
          for (std::size_t i = 0; i < len; ++i) {
            char c;
            do {
              c = static_cast<char>(0x20 + rng() % 0xE0);
            } while (c == '"' || c == 0x7F);
            text[i] = c;
          }
          break;
        }
        case FieldType::F32: {
          float v = rng() % 3 == 0 ? static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 8
                                   : random_float(rng, true);
          std::memcpy(p, &v, 4);
          break;
        }
        case FieldType::I16: {
          auto v = static_cast<std::uint16_t>(rng());
          std::memcpy(p, &v, 2);
          break;
        }
        default: {
          std::uint32_t v = rng();
          std::memcpy(p, &v, 4);
          break;
        }
      }
    }
  }
  if (rng() % 4 == 0) h.sys_serial2 = 0;  // listed as sys_serial then
}

// Phase values: small and full-range valid values, negatives, invalid
// markers anywhere in 2147483640..2147483647.
std::vector<std::int32_t> random_values(std::mt19937& rng, std::size_t n) {
  std::vector<std::int32_t> v(n);
  const int mode = static_cast<int>(rng() % 3);
  for (auto& x : v) {
    std::uint32_t r = rng();
    if (r % 10 == 0) {
      x = kInvalidPhase + static_cast<std::int32_t>(r % 8);
    } else if (mode == 0) {
      x = static_cast<std::int32_t>(r % 20001) - 10000;
    } else {
      auto s = static_cast<std::int32_t>(rng());
      x = s >= kInvalidPhase ? s - 8 : s;
    }
  }
  if (mode == 2 && n > 1) {
    v[0] = INT32_MIN;  // the largest written number: 2147483639 - INT32_MIN
    v[1] = kInvalidPhase - 1;
  }
  return v;
}

// Compares every line of the listing of `want` with the field it shows in
// `got`. Texts compare up to their first NUL or the array's end.
void expect_listed_fields_equal(const Header& want, const Header& got, const std::string& what) {
  for (std::size_t line = 1; line <= kListingLines; ++line) {
    ListedField w = header_listed_field(want, line);
    ListedField g = header_listed_field(got, line);
    ASSERT_EQ(w.field, g.field) << what << " line " << line;
    const void* a = header_field_ptr(want, *w.field, w.element);
    const void* b = header_field_ptr(got, *g.field, g.element);
    if (w.field->type == FieldType::TEXT) {
      auto n = w.field->width();
      std::string ta(static_cast<const char*>(a), strnlen(static_cast<const char*>(a), n));
      std::string tb(static_cast<const char*>(b), strnlen(static_cast<const char*>(b), n));
      EXPECT_EQ(ta, tb) << what << " " << w.field->name;
    } else {
      EXPECT_EQ(std::memcmp(a, b, w.field->elem_size()), 0)
          << what << " " << w.field->name << "[" << w.element << "]";
    }
  }
}

void expect_values_restored(const PhaseRecord& want, const PhaseRecord& got,
                            const std::string& what) {
  ASSERT_EQ(got.width, want.width) << what;
  ASSERT_EQ(got.height, want.height) << what;
  ASSERT_EQ(got.count, want.count) << what;
  std::size_t mismatches = 0;
  for (std::int32_t i = 0; i < want.count; ++i) {
    std::int32_t expect = want.data[i] >= kInvalidPhase ? kInvalidPhase : want.data[i];
    if (got.data[i] != expect && ++mismatches <= 5)
      ADD_FAILURE() << what << " value " << i << ": " << got.data[i] << " != " << expect;
  }
}

TEST(RoundTrip, GeneratedFilesComeBackExactly) {
  ScratchDir dir;
  std::mt19937 rng(20261208);
  const std::string dat = dir.file("in.dat"), sdf = dir.file("out.sdf");
  for (int iteration = 0; iteration < 90; ++iteration) {
    const int format = 1 + iteration % 3;
    const auto w = static_cast<std::int16_t>(1 + rng() % 70);
    const auto h = static_cast<std::int16_t>(1 + rng() % 40);
    const std::string what = "iteration " + std::to_string(iteration) + " format " +
                             std::to_string(format) + " " + std::to_string(w) + "x" +
                             std::to_string(h);
    Header header{};
    IntensityRecord intensity;
    PhaseRecord phase;
    make_synthetic({format, w, h, iteration % 2 == 0, static_cast<std::uint32_t>(rng())}, &header,
                   &intensity, &phase);
    if (iteration % 4 != 0) {
      // Random header fields and values; the ones that make the file a data
      // file with a phase block stay consistent.
      randomize_listed_fields(header, rng);
      header.magic_number = format == 3   ? kMagicFormat3
                            : format == 2 ? kMagicFormat2
                                          : kMagicFormat1;
      header.cn_width = w;
      header.cn_height = h;
      header.cn_n_bytes = 1 + static_cast<std::int32_t>(rng() % 0x7FFFFFFF);
      std::vector<std::int32_t> values = random_values(rng, static_cast<std::size_t>(w) * h);
      for (std::int32_t i = 0; i < phase.count; ++i) phase.data[i] = values[i];
    }
    ASSERT_EQ(write_data_file(dat.c_str(), header, &intensity, &phase), ERR_NONE);
    // Every other file in the binary form, which carries the same trailer.
    const std::string form = iteration % 2 == 1 ? "-b" : "-f";
    RunResult run = run_program(testing_support::tovrel_exe(), {"-f", form, dat, sdf});
    ASSERT_EQ(run.status, 0) << what << run.err;

    // What the data file reader sees is the reference.
    Header want{};
    PhaseRecord want_phase;
    ASSERT_EQ(read_data_file(dat.c_str(), &want, nullptr, &want_phase), ERR_NONE);

    Header got{};
    PhaseRecord got_phase;
    ASSERT_EQ(read_sdf_header(sdf.c_str(), &got, &got_phase), ERR_NONE) << what;
    expect_listed_fields_equal(want, got, what);
    expect_values_restored(want_phase, got_phase, what);
    EXPECT_EQ(got_phase.org_x, want_phase.org_x) << what;
    EXPECT_EQ(got_phase.org_y, want_phase.org_y) << what;
    EXPECT_EQ(attribute_listing(got), attribute_listing(want)) << what;

    // The block form hands out the same header bytes.
    std::vector<unsigned char> sw(kSoftwareInfoSize), tail(kHeaderTailSize);
    PhaseRecord block_phase;
    ASSERT_EQ(read_sdf_file(sdf.c_str(), sw.data(), tail.data(), nullptr, &block_phase), ERR_NONE);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&got);
    EXPECT_EQ(std::memcmp(sw.data(), bytes + kSoftwareInfoOffset, sw.size()), 0) << what;
    EXPECT_EQ(std::memcmp(tail.data(), bytes + kHeaderTailOffset, tail.size()), 0) << what;
    if (HasFailure()) return;
  }
}

TEST(RoundTrip, EmptyPhaseBlockReadsBackEmpty) {
  ScratchDir dir;
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  make_synthetic({1, 8, 8, false, 1}, &header, &intensity, &phase);
  header.cn_n_bytes = 0;  // no phase block: the reader leaves the record empty
  std::string dat = dir.file("in.dat"), sdf = dir.file("out.sdf");
  ASSERT_EQ(write_data_file(dat.c_str(), header, nullptr, nullptr), ERR_NONE);
  ASSERT_EQ(run_program(testing_support::tovrel_exe(), {dat, sdf}).status, 0);
  Header got{};
  PhaseRecord got_phase;
  ASSERT_EQ(read_sdf_header(sdf.c_str(), &got, &got_phase), ERR_NONE);
  EXPECT_EQ(got_phase.count, 0);
  EXPECT_FALSE(got_phase.data);
  EXPECT_EQ(attribute_listing(got), attribute_listing(header));
}

TEST(RoundTrip, ExportEntryPointBuildsTheHeaderFromParts) {
  ScratchDir dir;
  std::mt19937 rng(5);
  for (int format : {1, 2, 3}) {
    Header header{};
    IntensityRecord intensity;
    PhaseRecord phase;
    make_synthetic({format, 33, 21, true, 9}, &header, &intensity, &phase);
    phase.org_x = 4;
    phase.org_y = -2;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
    std::string sdf = dir.file("entry" + std::to_string(format) + ".sdf");
    ASSERT_EQ(write_sdf_file(sdf.c_str(), bytes + kSoftwareInfoOffset, bytes + kHeaderTailOffset,
                             &intensity, &phase),
              ERR_NONE);
    Header got{};
    PhaseRecord got_phase;
    ASSERT_EQ(read_sdf_header(sdf.c_str(), &got, &got_phase), ERR_NONE);
    // The synthetic headers follow the same rule: format 3 has extended
    // fields, format 2 a phase resolution of 2.
    EXPECT_EQ(got.magic_number, header.magic_number) << format;
    EXPECT_EQ(got.header_format, format);
    EXPECT_EQ(got.header_size, format == 3 ? 4096 : 834);
    EXPECT_EQ(got.cn_width, 33);
    EXPECT_EQ(got.cn_height, 21);
    EXPECT_EQ(got.cn_n_bytes, 33 * 21 * 4);
    EXPECT_EQ(got_phase.org_x, 4);
    EXPECT_EQ(got_phase.org_y, -2);
    expect_values_restored(phase, got_phase, "format " + std::to_string(format));
    EXPECT_STREQ(got.comment, header.comment);
    EXPECT_EQ(got.sys_serial2, header.sys_serial2);
  }
  // Only an intensity block: the writer refuses the missing phase record.
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  make_synthetic({1, 4, 4, true, 1}, &header, &intensity, &phase);
  EXPECT_EQ(write_sdf_file(dir.file("i.sdf").c_str(), nullptr, nullptr, &intensity, nullptr),
            ERR_INVALID_PARAM);
}

}  // namespace

TEST(RoundTrip, TextsNaNsAndTheLocaleLeaveTheDataAlone) {
  // A Ctrl-Z (0x1A) ends a text-mode read on Windows; the import reads the
  // file as bytes, so a comment holding one comes back whole.
  ScratchDir dir;
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  make_synthetic({1, 4, 3, false, 1}, &header, &intensity, &phase);
  std::memcpy(header.comment,
              "before\x1A"
              "after\x01\x7F",
              14);
  // Line breaks in a text could add or end trailer lines; they are written
  // as spaces. A NaN keeps its sign.
  std::memcpy(header.part_name, "x\nData Offset = 5\r\n*", 21);
  header.magnification = -std::numeric_limits<float>::quiet_NaN();
  // Numbers are spelled the same under a decimal-comma locale.
  const std::string restore = std::setlocale(LC_ALL, nullptr);
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
    if (std::setlocale(LC_ALL, name)) break;
  std::string sdf = dir.file("ctrl.sdf");
  const std::int32_t exported = sdf_export(sdf.c_str(), &header, nullptr, &phase);
  std::setlocale(LC_ALL, restore.c_str());
  ASSERT_EQ(exported, ERR_NONE);
  EXPECT_NE(testing_support::read_text(sdf).find("Xscale = 2.199999926e-06"), std::string::npos);
  Header got{};
  PhaseRecord got_phase;
  ASSERT_EQ(read_sdf_header(sdf.c_str(), &got, &got_phase), ERR_NONE);
  EXPECT_STREQ(got.comment, header.comment);
  EXPECT_STREQ(got.part_name, "x Data Offset = 5  *");
  EXPECT_TRUE(std::isnan(got.magnification) && std::signbit(got.magnification));
  EXPECT_EQ(attribute_listing(got), attribute_listing(header));
  ASSERT_EQ(got_phase.count, 12);
  for (int i = 0; i < 12; ++i)  // every invalid marker reads back as the first one
    EXPECT_EQ(got_phase.data[i], std::min(phase.data[i], kInvalidPhase)) << i;
}
