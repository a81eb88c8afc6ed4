// Small SDF files and date texts written from the file format's description,
// for the fuzzers' seed corpora and for the tests that damage files on
// purpose. The binary data file seeds come from tools/synthetic.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace seeds {

// Data type codes of an SDF file: 0 UCHAR, 1 UINTEGER, 2 ULONGINT, 3 FLOAT,
// 4 CHAR, 5 INTEGER, 6 LONGINT, 7 DOUBLE.
inline constexpr int kSdfTypeCount = 8;
const char* sdf_type_name(int type);
std::size_t sdf_type_width(int type);

// The value stored at point `i` of a seed file: small non-negative counts,
// except point 1, which holds the type's invalid-point marker. Every seed
// has Zscale equal to Zresolution, so the import gives these counts back
// unchanged (and the phase invalid marker for point 1).
double sdf_seed_value(std::size_t i);
inline constexpr std::size_t kSeedInvalidPoint = 1;

// A binary SDF file of `type` with `points` x `profiles` values.
std::vector<std::uint8_t> binary_sdf(int type, std::uint16_t points, std::uint16_t profiles);

// An ASCII SDF file of `type` (DATATYPE given by name or by digit) with
// `points` x `profiles` values as decimal text and a trailer holding the
// required fields. ULONGINT data carries a negative data offset.
std::string ascii_sdf(int type, bool type_by_name, std::uint32_t points, std::uint32_t profiles);

// The data offset that ascii_sdf writes for ULONGINT data.
inline constexpr int kSeedDataOffset = -3;

// Date texts as measuring software writes them, and awkward ones.
std::vector<std::string> date_texts();

}  // namespace seeds
