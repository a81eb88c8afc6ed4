// Reading x3p files (ISO 25178-72) from any writer: main.xml, the point
// data stored or deflated under any PointDataLink, or listed inline in
// DataList; the data types I, L, F and D with CZ's increment and offset; a
// validity bit array; NaN for missing points. Both MD5 sums are checked, and
// a mismatch is reported, not refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "datafile/header.h"
#include "datafile/records.h"
#include "surface/height_sink.h"

struct X3pAxis {
  std::string axis_type;  // I or A
  std::string data_type;  // I, L, F or D ("" when not given)
  double increment = 1;
  double offset = 0;
};

// What main.xml says.
struct X3pRecords {
  std::string revision, feature_type;
  X3pAxis x, y, z;
  bool has_record2 = false;
  std::string date, creator, manufacturer, model, serial, version, calibration_date;
  std::string probing_type, probing_id, comment;
  std::uint64_t size_x = 0, size_y = 0, size_z = 0;
  bool inline_data = false;  // DataList instead of DataLink
  std::string point_data_link, point_data_md5, valid_points_link, valid_points_md5;
  std::string checksum_file;
  std::vector<std::string> vendor_ids;
};

// Where a sum was checked and whether it agreed.
enum class SumCheck : std::uint8_t { kNotChecked, kAgrees, kDiffers };
struct X3pSums {
  SumCheck main_xml = SumCheck::kNotChecked;  // against md5checksum.hex
  SumCheck point_data = SumCheck::kNotChecked;
  SumCheck valid_points = SumCheck::kNotChecked;
};

// The heights in metres.
struct HeightSummary {
  std::uint64_t points = 0;
  std::uint64_t valid = 0;
  double smallest = 0;
  double largest = 0;
};

// Everything read from an x3p file.
struct X3pContent {
  X3pRecords records;
  X3pSums sums;
  HeightSummary heights;
  // With the attributes entry that tovrel writes: the header and the phase
  // counts, restored as the SDF import restores them.
  bool has_attributes = false;
  Header header{};
  PhaseRecord phase;
};

// True when the bytes begin as a ZIP archive does.
bool x3p_magic(const unsigned char* head, std::size_t size);

// Reads the x3p file at `path` (library path convention). 0, or:
//   ERR_CANT_OPEN_FILE, ERR_NO_MEM;
//   ERR_CORRUPT_DATA_FILE: no ZIP archive, or a damaged one (headers, data,
//     a CRC-32), or a damaged attributes entry;
//   ERR_DATASET_DIM_TOO_LARGE: a ZIP bomb, or dimensions beyond any memory;
//   ERR_NO_DATA: main.xml, the point data or the validity array missing;
//   ERR_UNKNOWN_ASCII_FORMAT_TYPE: main.xml is no ISO5436_2 document (bad
//     XML, another root, a required element missing or not a number);
//   ERR_NOT_ENOUGH_DATA: point data or validity array of another size than
//     MatrixDimension asks for;
//   ERR_NOT_IMPLEMENTED: a feature other than an areal map with incremental
//     x and y axes, or an unknown data type;
//   ERR_PARAM_OUT_OF_RANGE: a height of tovrel's own file that no phase
//     count can hold.
//
// With `rows`, the heights also go to it row by row, in metres (a missing
// point flagged), as the file is read; a row longer than 2^20 points is then
// ERR_DATASET_DIM_TOO_LARGE.
[[nodiscard]] std::int32_t read_x3p_file(const char* path, X3pContent& content,
                                         surface::HeightSink* rows = nullptr);
