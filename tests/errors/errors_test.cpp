#include "errors/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

TEST(ErrorCatalogue, NamesAtTheEdgesAndKnownCodes) {
  EXPECT_STREQ(error_name(0), "NO_ERROR");
  EXPECT_STREQ(error_name(1), "ERR_AC_CANT_AGC");
  EXPECT_STREQ(error_name(462), "ERR_ZOOM_TIMEOUT");
  EXPECT_STREQ(error_name(116), "ERR_CANT_CREATE_FILE");
  EXPECT_STREQ(error_name(ERR_NO_MEM), "ERR_NO_MEM");
  EXPECT_EQ(ERR_BAD_PARAM, 46);
  EXPECT_EQ(ERR_ALL_BAD_DATA, 27);
  EXPECT_EQ(ERR_CAN_AUX_MOTOR_ERROR, 50);
  EXPECT_EQ(ERR_CAN_SDO_AUX_MOTOR_ERROR, 81);
  EXPECT_EQ(ERR_CAN_SDO_ZOOM_ERROR, 96);
  EXPECT_EQ(ERR_CAN_ZOOM_MOTOR_STALL, 105);
  EXPECT_EQ(ERR_EOF, 161);
  EXPECT_EQ(ERR_FILE_IO, 166);
  EXPECT_EQ(ERR_IO, 246);
  EXPECT_EQ(ERR_NO_DATA, 319);
  EXPECT_EQ(ERR_NOT_IMPLEMENTED, 332);
  EXPECT_EQ(ERR_UNKNOWN, 421);
  EXPECT_EQ(ERR_PREMATURE_EOF, 353);
}

TEST(ErrorCatalogue, OutOfRangeCodesAreNamedAsInvalid) {
  EXPECT_STREQ(error_name(463), "invalid error number 463");
  EXPECT_STREQ(error_name(-1), "invalid error number -1");
  EXPECT_STREQ(error_name(INT32_MIN), "invalid error number -2147483648");
}

TEST(ErrorCatalogue, TableMatchesNamesAndHasNoDuplicates) {
  EXPECT_STREQ(error_table[0], "");
  std::set<std::string> seen;
  for (int code = 1; code <= ERR_COUNT; ++code) {
    EXPECT_STREQ(error_table[code], error_name(code));
    EXPECT_EQ(std::string(error_table[code]).rfind("ERR_", 0), 0u) << code;
    EXPECT_TRUE(seen.insert(error_table[code]).second) << error_table[code];
  }
}

TEST(ErrorCatalogue, EachThreadKeepsItsOwnInvalidNumberText) {
  const char* mine = error_name(1000);
  std::string other;
  std::thread t([&] { other = error_name(2000); });
  t.join();
  EXPECT_STREQ(mine, "invalid error number 1000");
  EXPECT_EQ(other, "invalid error number 2000");
}
