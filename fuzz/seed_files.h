// Small SDF files and date texts written from the file format's description,
// for the fuzzers' seed corpora and for the tests that read SDF files. The
// binary data file seeds come from tools/synthetic.h.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace seeds {

// Data type codes of an SDF file: 0 UCHAR, 1 UINTEGER, 2 ULONGINT, 3 FLOAT,
// 4 CHAR, 5 INTEGER, 6 LONGINT, 7 DOUBLE.
inline constexpr int kSdfTypeCount = 8;
const char* sdf_type_name(int type);
std::size_t sdf_type_width(int type);

// The bytes of `values` in the binary form's byte order (little-endian, as
// the host is).
template <class T>
std::vector<std::uint8_t> le_values(const std::vector<T>& values) {
  std::vector<std::uint8_t> out(values.size() * sizeof(T));
  if (!values.empty()) std::memcpy(out.data(), values.data(), out.size());
  return out;
}

// ---------------------------------------------------------------------------
// Files of any content.

// The fields of a binary SDF header besides the geometry and the data type.
struct BinaryHeader {
  double z_scale = 1;
  double z_resolution = 1;
  double xy_scale = 1e-6;  // Xscale and Yscale
  const char* create_date = "020320111022";
  const char* maker = "KV8.3.5";
  const char* mod_date = "010120240000";
};

// A binary SDF file of `type` (any byte, valid or not) with `points` x
// `profiles` and `data` as the data section, byte for byte.
std::vector<std::uint8_t> binary_sdf(int type, std::uint16_t points, std::uint16_t profiles,
                                     const std::vector<std::uint8_t>& data,
                                     const BinaryHeader& header = {});

// A trailer: the data offset line, `attributes` (name=value lines) and the
// closing "*" line.
std::string sdf_trailer(long offset, const std::string& attributes);

// A trailer holding `extra` and then the attributes the import requires,
// with values that make one phase count exactly 1.0 (0.5 x 1 x 8192 / 4096),
// so that Zscale is the factor the values are multiplied by.
std::string unit_trailer(const std::string& extra = "", long offset = 0);

// The header lines of an ASCII SDF file besides the geometry, as text.
struct AsciiHeader {
  std::string type = "2";     // DataType: a digit or a name
  std::string z_scale = "1";  // Zscale and Zresolution
  std::string version = "aBCR-1.0";
  std::string maker = "KV8.3.5";  // ManufacID
  std::string mod_date = "010120240000";
  std::string xy_scale = "1e-06";  // Xscale and Yscale
};

// An ASCII SDF file of `points` x `profiles`: the header section, `data` as
// the data section's lines, and `trailer` as given (it ends with its own "*"
// line; empty for a file without a trailer).
std::string ascii_sdf(std::uint32_t points, std::uint32_t profiles, const std::string& data,
                      const std::string& trailer = unit_trailer(), const AsciiHeader& header = {});

// ---------------------------------------------------------------------------
// Seed files of every data type, holding the seed values.

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
