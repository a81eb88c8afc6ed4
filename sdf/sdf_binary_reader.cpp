// The binary form: header fields and data values, little-endian.
#include <algorithm>
#include <vector>

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "sdf/sdf_reading.h"
#include "sdf/sdf_writer.h"

namespace sdf_detail {

// Reads the binary header fields, each with one read, little-endian.
std::int32_t read_binary_header(std::FILE* f, SdfHeader& s) {
  auto read = [f](void* dst, std::size_t n) { return std::fread(dst, 1, n, f) == n; };
  std::uint8_t b16[2], b64[8];
  if (!read(s.manufacturer, 10) || !read(s.create_date, 12) || !read(s.modify_date, 12))
    return ERR_PREMATURE_EOF;
  s.create_date_complete = std::memchr(s.create_date, 0, 12) == nullptr;
  if (!read(b16, 2)) return ERR_PREMATURE_EOF;
  s.points = load_le16(b16);
  if (!read(b16, 2)) return ERR_PREMATURE_EOF;
  s.profiles = load_le16(b16);
  for (double* d : {&s.x_scale, &s.y_scale, &s.z_scale, &s.z_resolution}) {
    if (!read(b64, 8)) return ERR_PREMATURE_EOF;
    *d = binary_double(b64);
  }
  if (!read(&s.compression, 1) || !read(&s.data_type, 1) || !read(&s.check_type, 1))
    return ERR_PREMATURE_EOF;
  if (s.data_type >= kDataTypes.size()) return ERR_BAD_PARAM;
  if (!(s.z_resolution > 0)) s.z_resolution = kDefaultZResolution;
  return ERR_NONE;
}

std::int32_t read_binary_data(std::FILE* f, const SdfHeader& s, const Header& h,
                              std::int64_t data_offset, PhaseRecord& phase) {
  const int type = s.data_type;
  const std::size_t width = kDataTypes[type].width;
  const double unit = sdf_phase_unit(h);
  const double z = s.z_scale;
  constexpr std::size_t kChunk = 1 << 14;
  std::vector<std::uint8_t> buf(kChunk * width);
  const std::size_t n = static_cast<std::size_t>(phase.count);
  for (std::size_t at = 0; at < n;) {
    std::size_t take = std::min(kChunk, n - at);
    if (std::fread(buf.data(), width, take, f) != take) return ERR_PREMATURE_EOF;
    for (std::size_t k = 0; k < take; ++k, ++at) {
      const std::uint8_t* p = buf.data() + k * width;
      double v = 0;
      bool valid = type == DT_DOUBLE ? double_value(binary_double(p), v)
                                     : stored_value(type, binary_pattern(type, p), v);
      if (!valid) {
        phase.data[at] = kInvalidPhase;
        continue;
      }
      v += static_cast<double>(data_offset);
      double x = z == unit ? v : v * z / unit;
      if (!to_phase(x, phase.data[at])) return ERR_PARAM_OUT_OF_RANGE;
    }
  }
  return ERR_NONE;
}

}  // namespace sdf_detail
