// x3p files: what the conversion writes reads back to the same measurement
// (heights in x-fastest order, every phase count, every attribute); files
// of other writers (other data types, CZ scaling, a validity array, inline
// data, any entry name); wrong sums are reported, damaged archives refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datafile/data_writer.h"
#include "errors/errors.h"
#include "platform/file_io.h"
#include "sdf/attributes.h"
#include "sdf/sdf_writer.h"
#include "tests/support/test_support.h"
#include "x3p/checksums.h"
#include "x3p/x3p_reader.h"
#include "x3p/x3p_writer.h"
#include "x3p/zip_reader.h"
#include "x3p/zip_writer.h"

using namespace testing_support;

namespace {

// An archive of stored entries, in the order given.
void write_zip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& e) {
  File f(u_fopen(path.c_str(), "wb"));
  ZipWriter zip(f.get());
  for (const auto& [name, content] : e) {
    ASSERT_TRUE(zip.begin(name, content.size()));
    ASSERT_TRUE(zip.write(content.data(), content.size()));
  }
  ASSERT_TRUE(zip.finish());
}

std::string entry(const std::string& path, const std::string& name) {
  File f(u_fopen(path.c_str(), "rb"));
  ZipReader zip;
  std::string out;
  EXPECT_EQ(zip.open(f.get()), ERR_NONE);
  const ZipEntry* e = zip.find(name);
  EXPECT_NE(e, nullptr) << name;
  if (e) {
    EXPECT_EQ(zip.read_all(*e, out, 1 << 30), ERR_NONE);
  }
  return out;
}

// main.xml of another writer: a 3 x 2 map of `type` under `link`.
std::string foreign_xml(const char* type, const char* z_scale, const std::string& data_link) {
  return std::string(
             "<?xml version=\"1.0\"?>\n<q:ISO5436_2 xmlns:q=\"x\"><Record1><Revision>"
             "ISO5436 - 2000</Revision><FeatureType>SUR</FeatureType><Axes>"
             "<CX><AxisType>I</AxisType><Increment>1e-6</Increment></CX>"
             "<CY><AxisType>I</AxisType><Increment>2e-6</Increment></CY>"
             "<CZ><AxisType>A</AxisType><DataType>") +
         type + "</DataType>" + z_scale +
         "</CZ></Axes></Record1><Record3><MatrixDimension><SizeX>3</SizeX><SizeY>2</SizeY>"
         "<SizeZ>1</SizeZ></MatrixDimension>" +
         data_link +
         "</Record3><Record4><ChecksumFile>md5checksum.hex</ChecksumFile></Record4>"
         "</q:ISO5436_2>";
}

}  // namespace

TEST(X3p, ConversionReadsBackToTheSameMeasurement) {
  ScratchDir dir;
  // Not square, not symmetric: each point's value tells its place.
  Measurement m = synthetic_measurement(3, 5, 3);
  for (std::int32_t i = 0; i < 15; ++i) m.phase.data[i] = i % 4 == 3 ? kInvalidPhase : i * 7 - 20;
  const std::string in = dir.file("in.dat"), out = dir.file("out.x3p");
  ASSERT_EQ(write_data_file(in.c_str(), m.header, &m.intensity, &m.phase), ERR_NONE);
  ConvertStage stage = ConvertStage::kNone;
  ASSERT_EQ(convert_data_file_to_x3p(in.c_str(), out.c_str(), OutputMode::kCreateNew, &stage, 1),
            ERR_NONE);

  // Row after row, x fastest: the listed value (less the data offset -20)
  // times the Zscale double, NaN where there is no measurement.
  const std::string data = entry(out, kX3pPointData);
  ASSERT_EQ(data.size(), 15u * 8);
  const double unit = sdf_phase_unit(m.header);
  for (std::size_t i = 0; i < 15; ++i) {
    double h;
    std::memcpy(&h, data.data() + 8 * i, 8);
    if (i % 4 == 3)
      EXPECT_TRUE(std::isnan(h)) << i;
    else
      EXPECT_EQ(h, static_cast<double>(i * 7) * unit) << i;
  }
  EXPECT_EQ(entry(out, kX3pAttributes), sdf_trailer_text(m.header, -20));

  X3pContent x;
  ASSERT_EQ(read_x3p_file(out.c_str(), x), ERR_NONE);
  EXPECT_TRUE(x.has_attributes);
  EXPECT_EQ(x.sums.main_xml, SumCheck::kAgrees);
  EXPECT_EQ(x.sums.point_data, SumCheck::kAgrees);
  EXPECT_EQ(header_attributes_text(x.header), header_attributes_text(m.header));
  ASSERT_EQ(x.phase.width, 5);
  ASSERT_EQ(x.phase.height, 3);
  for (std::int32_t i = 0; i < 15; ++i) EXPECT_EQ(x.phase.data[i], m.phase.data[i]) << i;
  EXPECT_EQ(x.records.size_x, 5u);
  EXPECT_EQ(x.records.x.increment, x3p_pixel_size(m.header));
  EXPECT_EQ(x.records.vendor_ids, std::vector<std::string>{kX3pVendorId});

  // More chunks than slots, on one thread and on several (one of which
  // sums, while the others fill the slots again): the same archive but for
  // the time stamps, and it reads back.
  Measurement big = synthetic_measurement(2, 701, 700);
  ASSERT_EQ(write_data_file(in.c_str(), big.header, &big.intensity, &big.phase), ERR_NONE);
  const std::string one = dir.file("one.x3p"), many = dir.file("many.x3p");
  ASSERT_EQ(convert_data_file_to_x3p(in.c_str(), one.c_str(), OutputMode::kReplace, nullptr, 1),
            ERR_NONE);
  for (int threads : {2, 3}) {
    ASSERT_EQ(
        convert_data_file_to_x3p(in.c_str(), many.c_str(), OutputMode::kReplace, nullptr, threads),
        ERR_NONE);
    EXPECT_EQ(entry(one, kX3pPointData), entry(many, kX3pPointData)) << threads;
    EXPECT_EQ(entry(one, kX3pMainXml), entry(many, kX3pMainXml)) << threads;
  }
  ASSERT_EQ(read_x3p_file(many.c_str(), x), ERR_NONE);
  EXPECT_EQ(x.sums.point_data, SumCheck::kAgrees);
  // Every invalid value comes back as the one invalid marker, as from SDF.
  for (std::int32_t i = 0; i < 701 * 700; ++i)
    ASSERT_EQ(x.phase.data[i], std::min(big.phase.data[i], kInvalidPhase)) << i;

  // An existing output stays with kCreateNew.
  EXPECT_EQ(convert_data_file_to_x3p(in.c_str(), out.c_str(), OutputMode::kCreateNew, &stage),
            ERR_CANT_CREATE_FILE);
  EXPECT_EQ(stage, ConvertStage::kTaken);
}

TEST(X3p, OtherWritersFiles) {
  ScratchDir dir;
  const std::string path = dir.file("other.x3p");
  auto sums = [](const std::string& xml) {
    return md5_hex(xml.data(), xml.size()) + "  main.xml\n";
  };
  // 16-bit values scaled by CZ, a validity array (point 4 missing), an
  // entry under another name.
  std::string shorts;
  for (std::int16_t v : {-3, 0, 5, 7, 9, 11}) shorts.append(reinterpret_cast<char*>(&v), 2);
  const std::string bits(1, static_cast<char>(0xEF));
  std::string xml = foreign_xml(
      "I", "<Increment>0.5</Increment><Offset>1</Offset>",
      "<DataLink><PointDataLink>pts/z.raw</PointDataLink><MD5ChecksumPointData>" +
          md5_hex(shorts.data(), shorts.size()) +
          "</MD5ChecksumPointData><ValidPointsLink>pts/v.raw</ValidPointsLink></DataLink>");
  write_zip(path, {{"main.xml", xml},
                   {"pts/z.raw", shorts},
                   {"pts/v.raw", bits},
                   {"md5checksum.hex", sums(xml)}});
  X3pContent x;
  surface::RangeSink rows;  // the same heights as rows, for tovrel-info's inspection
  ASSERT_EQ(read_x3p_file(path.c_str(), x, &rows), ERR_NONE);
  EXPECT_EQ(rows.valid(), 5u);
  EXPECT_EQ(rows.smallest(), -0.5);
  EXPECT_EQ(rows.largest(), 6.5);
  EXPECT_FALSE(x.has_attributes);
  EXPECT_EQ(x.sums.main_xml, SumCheck::kAgrees);
  EXPECT_EQ(x.sums.point_data, SumCheck::kAgrees);
  EXPECT_EQ(x.heights.valid, 5u);
  EXPECT_EQ(x.heights.smallest, -0.5);
  EXPECT_EQ(x.heights.largest, 6.5);
  EXPECT_EQ(x.records.y.increment, 2e-6);

  // Floats with NaN, and both sums wrong: read, and reported.
  std::string floats;
  for (float v : {1.5f, std::numeric_limits<float>::quiet_NaN(), -2.0f, 0.f, 3.f, 4.f})
    floats.append(reinterpret_cast<char*>(&v), 4);
  xml = foreign_xml("F", "",
                    "<DataLink><PointDataLink>d.bin</PointDataLink>"
                    "<MD5ChecksumPointData>00112233445566778899AABBCCDDEEFF"
                    "</MD5ChecksumPointData></DataLink>");
  write_zip(path, {{"main.xml", xml}, {"d.bin", floats}, {"md5checksum.hex", sums("other")}});
  ASSERT_EQ(read_x3p_file(path.c_str(), x), ERR_NONE);
  EXPECT_EQ(x.sums.main_xml, SumCheck::kDiffers);
  EXPECT_EQ(x.sums.point_data, SumCheck::kDiffers);
  EXPECT_EQ(x.heights.valid, 5u);
  EXPECT_EQ(x.heights.smallest, -2.0);

  // Inline: an empty Datum is a missing point.
  xml = foreign_xml("D", "",
                    "<DataList><Datum>1</Datum><Datum/><Datum> 2.5 </Datum><Datum>-4"
                    "</Datum><Datum>0</Datum><Datum>8</Datum></DataList>");
  write_zip(path, {{"main.xml", xml}, {"md5checksum.hex", sums(xml)}});
  ASSERT_EQ(read_x3p_file(path.c_str(), x), ERR_NONE);
  EXPECT_TRUE(x.records.inline_data);
  EXPECT_EQ(x.heights.valid, 5u);
  EXPECT_EQ(x.heights.smallest, -4.0);
  EXPECT_EQ(x.heights.largest, 8.0);
}

TEST(X3p, DamagedFilesAreRefusedWithTheirCodes) {
  ScratchDir dir;
  const std::string path = dir.file("bad.x3p");
  const std::string doubles(6 * 8, '\0');
  const std::string link =
      "<DataLink><PointDataLink>d.bin</PointDataLink>"
      "<MD5ChecksumPointData>00</MD5ChecksumPointData></DataLink>";
  const std::string good = foreign_xml("D", "", link);
  std::string deep = good;
  deep.insert(deep.find("<Record1>"), std::string(10000, '<') + "a>");
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> entries;
    std::int32_t code;
  } cases[] = {
      {"good", {{"main.xml", good}, {"d.bin", doubles}}, ERR_NONE},
      {"no main.xml", {{"main.xm", good}, {"d.bin", doubles}}, ERR_NO_DATA},
      {"no point data", {{"main.xml", good}, {"d.bi", doubles}}, ERR_NO_DATA},
      {"data shorter than the matrix",
       {{"main.xml", good}, {"d.bin", doubles.substr(8)}},
       ERR_NOT_ENOUGH_DATA},
      {"data longer than the matrix",
       {{"main.xml", good}, {"d.bin", doubles + "12345678"}},
       ERR_NOT_ENOUGH_DATA},
      {"bad XML",
       {{"main.xml", good.substr(0, good.size() - 5)}, {"d.bin", doubles}},
       ERR_UNKNOWN_ASCII_FORMAT_TYPE},
      {"another root",
       {{"main.xml", "<a><Record1/></a>"}, {"d.bin", doubles}},
       ERR_UNKNOWN_ASCII_FORMAT_TYPE},
      {"deep nesting", {{"main.xml", deep}, {"d.bin", doubles}}, ERR_UNKNOWN_ASCII_FORMAT_TYPE},
      {"size not a number",
       {{"main.xml", foreign_xml("D", "", link).replace(good.find("<SizeX>3"), 8, "<SizeX>x")},
        {"d.bin", doubles}},
       ERR_UNKNOWN_ASCII_FORMAT_TYPE},
      {"unknown data type",
       {{"main.xml", foreign_xml("Q", "", link)}, {"d.bin", doubles}},
       ERR_NOT_IMPLEMENTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_zip(path, c.entries);
    X3pContent x;
    EXPECT_EQ(read_x3p_file(path.c_str(), x), c.code);
  }
  // No ZIP archive at all; a cut one.
  write_text(path, "PK\x03\x04 but nothing more");
  X3pContent x;
  EXPECT_EQ(read_x3p_file(path.c_str(), x), ERR_CORRUPT_DATA_FILE);
}
