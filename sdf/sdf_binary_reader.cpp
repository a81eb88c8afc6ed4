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
  s.z_resolution_written = s.z_resolution;
  if (!(s.z_resolution > 0)) s.z_resolution = kDefaultZResolution;
  return ERR_NONE;
}

std::int32_t read_binary_values(std::FILE* f, int type, std::size_t n, ValueSink& sink) {
  const std::size_t width = kDataTypes[type].width;
  constexpr std::size_t kChunk = 1 << 14;
  const std::size_t chunk = std::min(kChunk, n);
  std::vector<std::uint8_t> buf(chunk * width);
  std::vector<std::int32_t> patterns(type == DT_DOUBLE ? 0 : chunk);
  std::vector<double> doubles(type == DT_DOUBLE ? chunk : 0);
  for (std::size_t at = 0; at < n;) {
    const std::size_t take = std::min(chunk, n - at);
    if (std::fread(buf.data(), width, take, f) != take) return ERR_PREMATURE_EOF;
    if (type == DT_DOUBLE) {
      for (std::size_t k = 0; k < take; ++k) doubles[k] = binary_double(buf.data() + k * 8);
    } else {
      for (std::size_t k = 0; k < take; ++k)
        patterns[k] = binary_pattern(type, buf.data() + k * width);
    }
    if (std::int32_t err = sink.take(patterns.data(), doubles.data(), take)) return err;
    at += take;
  }
  return ERR_NONE;
}

namespace {

// The import's values: in phase counts of `h`, put in place.
class BinaryPhaseValues final : public ValueSink {
 public:
  BinaryPhaseValues(const SdfHeader& s, const Header& h, std::int64_t data_offset,
                    std::int32_t* out)
      : type_(s.data_type),
        unit_(sdf_phase_unit(h)),
        z_(s.z_scale),
        offset_(data_offset),
        out_(out) {}
  std::int32_t take(const std::int32_t* patterns, const double* doubles,
                    std::size_t count) override {
    for (std::size_t k = 0; k < count; ++k, ++at_) {
      double v = 0;
      const bool valid =
          type_ == DT_DOUBLE ? double_value(doubles[k], v) : stored_value(type_, patterns[k], v);
      if (!valid) {
        out_[at_] = kInvalidPhase;
        continue;
      }
      v += static_cast<double>(offset_);
      const double x = z_ == unit_ ? v : v * z_ / unit_;
      if (!to_phase(x, out_[at_])) return ERR_PARAM_OUT_OF_RANGE;
    }
    return ERR_NONE;
  }

 private:
  int type_;
  double unit_, z_;
  std::int64_t offset_;
  std::int32_t* out_;
  std::size_t at_ = 0;
};

}  // namespace

std::int32_t read_binary_data(std::FILE* f, const SdfHeader& s, const Header& h,
                              std::int64_t data_offset, PhaseRecord& phase) {
  BinaryPhaseValues values(s, h, data_offset, phase.data.get());
  return read_binary_values(f, s.data_type, static_cast<std::size_t>(phase.count), values);
}

}  // namespace sdf_detail
