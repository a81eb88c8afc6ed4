// The header attribute listing: order, the four value formats, the
// sys_serial2 / sys_serial choice, and texts that fill their whole field.
#include "sdf/attributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::attribute_listing;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  EXPECT_EQ(start, text.size()) << "the listing must end with a line break";
  return lines;
}

template <std::size_t N>
void fill(char (&field)[N], char c) {
  std::memset(field, c, N);
}

}  // namespace

TEST(AttributeListing, AllZeroHeader) {
  Header h{};
  int result = 0;
  std::vector<std::string> lines = lines_of(attribute_listing(h, &result));
  ASSERT_EQ(lines.size(), 95u);
  EXPECT_EQ(result, static_cast<int>(std::strlen("surface_filter=0\n")));
  EXPECT_EQ(lines[0], "magic_number=0");
  EXPECT_EQ(lines[4], "swinfo.date=\"\"");
  EXPECT_EQ(lines[8], "cn_org_x=0");
  EXPECT_EQ(lines[16], "intf_scale_factor=           0");
  EXPECT_EQ(lines[42], "sys_serial=0");
  EXPECT_EQ(lines[49], "sys_err_file_name=\"\"");
  EXPECT_EQ(lines[54], "rem_fringes_mode=0");
  EXPECT_EQ(lines[68], "fiducials_a[ 0]=           0");
  EXPECT_EQ(lines[78], "fiducials_a[10]=           0");
  EXPECT_EQ(lines[86], "coords_state=0");
  EXPECT_EQ(lines[94], "surface_filter=0");
  // Every line is one of the three zero spellings.
  int numbers = 0, texts = 0, floats = 0;
  for (const std::string& line : lines) {
    std::string value = line.substr(line.find('=') + 1);
    numbers += value == "0";
    texts += value == "\"\"";
    floats += value == "           0";
  }
  EXPECT_EQ(numbers, 48);
  EXPECT_EQ(texts, 8);
  EXPECT_EQ(floats, 39);
}

TEST(AttributeListing, SignedUnsignedAndTheSerialChoice) {
  Header h = testing_support::distinct_header(1);
  h.sign = -1;
  h.header_size = -834;
  h.coords_state = 0xFFFFFFFEu;
  h.sys_serial = -2;
  h.sys_serial2 = 0;
  h.sys_err_file_name[0] = '\0';
  std::string text = attribute_listing(h);
  EXPECT_NE(text.find("\nsign=-1\n"), std::string::npos);
  EXPECT_EQ(text.rfind("magic_number=2283471727\n", 0), 0u);
  EXPECT_NE(text.find("\nheader_size=-834\n"), std::string::npos);
  EXPECT_NE(text.find("\ncoords_state=4294967294\n"), std::string::npos);
  EXPECT_NE(text.find("\nsys_board=" + std::to_string(h.sys_board) + "\nsys_serial=-2\ninst_id="),
            std::string::npos);
  EXPECT_EQ(text.find("sys_serial2"), std::string::npos);

  // A 32-bit serial that is not 0 takes line 43 instead; never both.
  h.sys_serial2 = -1234567;
  text = attribute_listing(h);
  EXPECT_NE(text.find("\nsys_serial2=-1234567\ninst_id="), std::string::npos);
  EXPECT_EQ(text.find("\nsys_serial="), std::string::npos);
  EXPECT_EQ(lines_of(text).size(), 95u);
}

TEST(AttributeListing, TextsAreBoundedByTheirFieldAndStayOnTheirLine) {
  Header h{};
  // Full fields without a NUL, followed by non-zero neighbours that must not
  // leak into the text.
  fill(h.swinfo.date, 'd');
  h.swinfo.vers.maj = 0x4141;
  fill(h.comment, 'c');
  h.source = 0x4242;
  fill(h.sys_err_file_name, 'e');
  h.rem_fringes_mode = 0x4343;
  std::memcpy(h.part_name, "say \"hi\"\nnext\tline\r\n*", 22);
  std::string text = attribute_listing(h);
  EXPECT_NE(text.find("\nswinfo.date=\"" + std::string(30, 'd') + "\"\n"), std::string::npos);
  EXPECT_NE(text.find("\ncomment=\"" + std::string(82, 'c') + "\"\n"), std::string::npos);
  EXPECT_NE(text.find("\nsys_err_file_name=\"" + std::string(200, 'e') + "\"\n"),
            std::string::npos);
  // A line break is the one thing changed: it would start a line of its own.
  EXPECT_NE(text.find("\npart_name=\"say \"hi\" next\tline  *\"\n"), std::string::npos);
  // Bytes after the first NUL are of no meaning.
  std::memcpy(h.obj_name, "ab\0cdefghij", 12);
  EXPECT_NE(attribute_listing(h).find("\nobj_name=\"ab\"\n"), std::string::npos);
}

TEST(AttributeListing, FloatsAsTwelveWideTenDigits) {
  Header h{};
  h.intf_scale_factor = 0.5f;
  h.wavelength_in = 6.328e-07f;
  h.lateral_res = 2.2e-6f;
  h.magnification = 123456789012.0f;
  h.num_aperture = -0.0f;
  h.part_thickness = std::numeric_limits<float>::quiet_NaN();
  h.target_range = -std::numeric_limits<float>::quiet_NaN();
  h.discon_filter = std::numeric_limits<float>::infinity();
  h.refractive_index = -std::numeric_limits<float>::infinity();
  h.fiducials_a[13] = std::numeric_limits<float>::denorm_min();
  h.coords.z_rot = -1.5f;
  std::string text = attribute_listing(h);
  for (const char* line : {
           "\nintf_scale_factor=         0.5\n",
           "\nwavelength_in=6.327999813e-07\n",
           "\nlateral_res=2.199999926e-06\n",
           "\nmagnification=1.234567905e+11\n",
           "\nnum_aperture=          -0\n",
           "\npart_thickness=         nan\n",
           "\ntarget_range=        -nan\n",
           "\ndiscon_filter=         inf\n",
           "\nrefractive_index=        -inf\n",
           "\nfiducials_a[13]=1.401298464e-45\n",
           "\ncoords.z_rot=        -1.5\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST(AttributeListing, FailedWritesAreReportedByTheLastLine) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows C runtime reports a refused write only when the stream is flushed";
#endif
  // A stream open for reading refuses every write.
  testing_support::ScratchDir dir;
  std::string path = dir.file("ro.txt");
  testing_support::write_text(path, "x");
  std::FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  // Unbuffered, so that every line's write meets the refusal at once.
  std::setvbuf(f, nullptr, _IONBF, 0);
  Header h{};
  EXPECT_LT(write_header_attributes(f, &h), 0);
  std::fclose(f);
  EXPECT_EQ(testing_support::read_text(path), "x");
}
