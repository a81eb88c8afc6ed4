// The field table and the packing of the file header.
#include "datafile/header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "datafile/data_writer.h"
#include "datafile/reader.h"
#include "platform/byte_order.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {
const FieldDesc& field(const char* name) {
  for (const FieldDesc& f : kHeaderFields)
    if (std::strcmp(f.name, name) == 0) return f;
  throw std::runtime_error(name);
}
}  // namespace

TEST(HeaderTable, NamedFieldsSitWhereTheFileHasThem) {
  EXPECT_EQ(field("header_size").offset, 6);
  EXPECT_EQ(field("swinfo.vers.bug").offset, 46);
  EXPECT_EQ(field("comment").width(), 82u);
  EXPECT_EQ(field("fiducials_a").offset, 430);
  EXPECT_EQ(field("fiducials_a").count, 14);
  EXPECT_EQ(field("coords.z_rot").order, ByteOrder::LE);
  EXPECT_EQ(field("sys_serial2").offset, 798);
  EXPECT_EQ(field("rem_fringes_mode").offset, 734);
  EXPECT_EQ(offsetof(Header, swinfo.vers.maj), 44u);
  EXPECT_EQ(offsetof(Header, sys_serial2), 816u);
  EXPECT_EQ(offsetof(Header, ext_838), 856u);  // tail position 776
}

TEST(HeaderTable, ListingHas95UniqueNamesInOrder) {
  Header h{};
  std::set<std::string> names;
  char name[64];
  std::vector<std::string> order;
  for (std::size_t line = 1; line <= kListingLines; ++line) {
    ListedField lf = header_listed_field(h, line);
    header_attr_name(*lf.field, lf.element, name, sizeof name);
    order.push_back(name);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 95u);
  EXPECT_EQ(order.front(), "magic_number");
  EXPECT_EQ(order[8], "cn_org_x");
  EXPECT_EQ(order[42], "sys_serial");
  EXPECT_EQ(order[49], "sys_err_file_name");
  EXPECT_EQ(order[54], "rem_fringes_mode");
  EXPECT_EQ(order[68], "fiducials_a[ 0]");
  EXPECT_EQ(order[81], "fiducials_a[13]");
  EXPECT_EQ(order.back(), "surface_filter");
  h.sys_serial2 = 7;
  ListedField lf = header_listed_field(h, 43);
  EXPECT_STREQ(lf.field->name, "sys_serial2");
}

TEST(HeaderPacking, EveryFieldSurvivesEncodeAndDecodeInAllFormats) {
  for (int format : {1, 2, 3}) {
    Header h = distinct_header(format);
    std::size_t len = format == 3 ? kHeaderSizeLong : kHeaderSizeShort;
    std::vector<std::uint8_t> bytes(len);
    header_encode(h, bytes.data(), len);
    Header back{};
    header_decode(bytes.data(), len, back);
    for (const FieldDesc& f : kHeaderFields) {
      bool in_file = f.offset + f.width() <= len;
      std::vector<std::uint8_t> zero(f.width(), 0);
      const void* expect = in_file ? header_field_ptr(h, f) : zero.data();
      EXPECT_EQ(std::memcmp(header_field_ptr(back, f), expect, f.width()), 0)
          << f.name << " format " << format;
    }
  }
}

TEST(HeaderPacking, ByteOrderFollowsTheTable) {
  Header h{};
  h.header_size = 0x01020304;
  h.coherence_mode = 1;
  h.coords_state = 0x0A0B0C0D;
  h.word_816 = 0x1122;
  std::uint8_t b[kHeaderSizeShort] = {};
  header_encode(h, b, sizeof b);
  EXPECT_EQ(b[6], 0x01);  // big-endian, unaligned
  EXPECT_EQ(b[9], 0x04);
  EXPECT_EQ(b[530], 0x01);  // little-endian, stored as it stands
  EXPECT_EQ(b[531], 0x00);
  EXPECT_EQ(load_le32(b + 502), 0x0A0B0C0Du);
  EXPECT_EQ(load_be16(b + 816), 0x1122);
}

TEST(HeaderPacking, FileRoundTripKeepsEveryField) {
  ScratchDir dir;
  for (int format : {1, 2, 3}) {
    Header h = distinct_header(format);
    std::string path = dir.file("h" + std::to_string(format) + ".dat");
    ASSERT_EQ(write_data_file(path.c_str(), h, nullptr, nullptr), 0);
    EXPECT_EQ(read_bytes(path).size(), format == 3 ? 4096u : 834u);
    Header back{};
    ASSERT_EQ(read_data_file(path.c_str(), &back, nullptr, nullptr), 0);
    if (format == 3) {
      EXPECT_EQ(std::memcmp(&back, &h, offsetof(Header, swinfo)), 0);
    }
    for (const FieldDesc& f : kHeaderFields) {
      if (f.offset + f.width() > (format == 3 ? 4096u : 834u)) continue;
      EXPECT_EQ(std::memcmp(header_field_ptr(back, f), header_field_ptr(h, f), f.width()), 0)
          << f.name;
    }
  }
}

TEST(ByteSwap, ReversesTwoFourAndEightBytes) {
  std::uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  u_swap_bytes(a, 2);
  EXPECT_EQ(a[0], 2);
  EXPECT_EQ(a[1], 1);
  std::uint8_t b[4] = {1, 2, 3, 4};
  u_swap_bytes(b, 4);
  EXPECT_EQ(std::memcmp(b, "\x04\x03\x02\x01", 4), 0);
  std::uint8_t c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  u_swap_bytes(c, 8);
  EXPECT_EQ(std::memcmp(c, "\x08\x07\x06\x05\x04\x03\x02\x01", 8), 0);
}

TEST(ByteSwapDeathTest, OtherSizesAbortWithALogLine) {
  std::uint8_t a[3] = {};
  EXPECT_DEATH(u_swap_bytes(a, 3), "u_swap_bytes: n=3");
}
