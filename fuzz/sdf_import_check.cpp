#include "fuzz/sdf_import_check.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "datafile/header.h"
#include "datafile/records.h"
#include "errors/errors.h"
#include "fuzz/fuzz_support.h"
#include "platform/byte_order.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_inspect.h"

namespace fuzz {

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

bool all_bytes(const std::vector<std::uint8_t>& block, std::uint8_t value) {
  for (std::uint8_t b : block)
    if (b != value) return false;
  return true;
}

bool defined_import_code(std::int32_t code) {
  switch (code) {
    case ERR_BAD_PARAM:
    case ERR_PREMATURE_EOF:
    case ERR_CORRUPT_DATA_FILE:
    case ERR_DATASET_DIM_TOO_LARGE:
    case ERR_PARAM_OUT_OF_RANGE:
    case ERR_NO_MEM:
      return true;
    default:
      return false;
  }
}

// The binary form's header: what the values are checked against.
struct BinaryHeader {
  std::uint16_t points, profiles;
  double x_scale, z_scale, z_resolution;
  std::uint8_t type;
};
constexpr std::size_t kBinaryHeaderSize = 81;
constexpr std::size_t kWidths[8] = {1, 2, 4, 4, 1, 2, 4, 8};

double load_double(const std::uint8_t* p) {
  std::uint64_t bits = std::uint64_t{load_le32(p)} | (std::uint64_t{load_le32(p + 4)} << 32);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

BinaryHeader binary_header(const std::uint8_t* p) {
  BinaryHeader h;
  h.points = load_le16(p + 42);
  h.profiles = load_le16(p + 44);
  h.x_scale = load_double(p + 46);
  h.z_scale = load_double(p + 62);
  h.z_resolution = load_double(p + 70);
  h.type = p[79];
  return h;
}

// Whether value `i` of a binary file is the invalid-point marker (or a NaN),
// and its value otherwise.
bool binary_value(const BinaryHeader& h, const std::uint8_t* p, double& v) {
  switch (h.type) {
    case 0:
      v = p[0];
      return p[0] != 255;
    case 1:
      v = load_le16(p);
      return load_le16(p) != 0xFFFF;
    case 2:
      v = load_le32(p);
      return load_le32(p) != 0xFFFFFFFFu;
    case 3: {
      std::uint32_t bits = load_le32(p);
      float f;
      std::memcpy(&f, &bits, 4);
      v = f;
      return bits != 0x7F7FFFFFu && !std::isnan(f);
    }
    case 4:
      v = static_cast<std::int8_t>(p[0]);
      return p[0] != 127;
    case 5:
      v = static_cast<std::int16_t>(load_le16(p));
      return load_le16(p) != 0x7FFF;
    case 6:
      v = static_cast<std::int32_t>(load_le32(p));
      return load_le32(p) != 0x7FFFFFFFu;
    default:
      v = load_double(p);
      return v != 1.7976931348623157e308 && !std::isnan(v);
  }
}

// A successful binary import holds exactly the file's geometry, marks every
// invalid point, and gives small counts back unchanged when each count is
// one Zresolution.
void check_binary_values(const std::uint8_t* data, std::size_t size, const PhaseRecord& phase) {
  FUZZ_CHECK(size >= kBinaryHeaderSize);
  BinaryHeader h = binary_header(data);
  FUZZ_CHECK(phase.width == h.points && phase.height == h.profiles);
  FUZZ_CHECK(h.type < 8);
  const std::size_t width = kWidths[h.type];
  FUZZ_CHECK(kBinaryHeaderSize + width * static_cast<std::size_t>(phase.count) <= size);
  double z_res = h.z_resolution > 0 ? h.z_resolution : 7.724609375e-11;
  bool one_to_one = h.z_scale == z_res && z_res > 1e-30 && z_res < 1e30;
  for (std::int32_t i = 0; i < phase.count; ++i) {
    double v = 0;
    if (!binary_value(h, data + kBinaryHeaderSize + width * static_cast<std::size_t>(i), v)) {
      FUZZ_CHECK(phase.data[i] == kInvalidPhase);
      continue;
    }
    if (one_to_one && v >= 0 && v < (1 << 20) && v == std::floor(v))
      FUZZ_CHECK(phase.data[i] == static_cast<std::int32_t>(v));
  }
}

}  // namespace

void check_sdf_import(const std::uint8_t* data, std::size_t size, SdfForm form) {
  std::vector<std::uint8_t> bytes(data, data + size);
  if (!bytes.empty()) {
    bool ascii = bytes[0] == 'a' || bytes[0] == 'A';
    if (form == SdfForm::Ascii && !ascii) bytes[0] = 'a';
    if (form == SdfForm::Binary && ascii) bytes[0] = 'b';
  }
  const std::string& path = scratch_file("in.sdf");
  write_file(path, bytes.data(), bytes.size());

  std::vector<std::uint8_t> swinfo(kSoftwareInfoSize, kUntouched);
  std::vector<std::uint8_t> tail(kHeaderTailSize, kUntouched);
  IntensityRecord intensity;
  intensity.width = 3;  // cleared on success only
  PhaseRecord phase;
  std::int32_t code = read_sdf_file(path.c_str(), swinfo.data(), tail.data(), &intensity, &phase);

  // tovrel-info's inspection reads what the import reads (and more), with no
  // more valid points; anything else gets a defined code.
  SdfInspection look;
  surface::RangeSink range;
  std::int32_t seen = look.open(path.c_str());
  if (seen == ERR_NONE) seen = look.read(range);
  FUZZ_CHECK(seen == ERR_NONE || defined_import_code(seen));
  if (code == ERR_NONE) {
    FUZZ_CHECK(seen == ERR_NONE);
    std::uint64_t valid = 0;
    for (std::int32_t i = 0; i < phase.count; ++i) valid += phase.data[i] != kInvalidPhase;
    FUZZ_CHECK(range.valid() <= valid);
  }

  if (code != ERR_NONE) {
    FUZZ_CHECK(defined_import_code(code));
    // Nothing the caller gave is changed and nothing stays allocated.
    FUZZ_CHECK(all_bytes(swinfo, kUntouched) && all_bytes(tail, kUntouched));
    FUZZ_CHECK(intensity.width == 3);
    FUZZ_CHECK(!phase.data && phase.count == 0 && phase.width == 0 && phase.height == 0);
    return;
  }

  FUZZ_CHECK(!bytes.empty());
  FUZZ_CHECK(!intensity.data && intensity.width == 0);
  FUZZ_CHECK(phase.width >= 0 && phase.height >= 0);
  FUZZ_CHECK(std::int64_t{phase.count} == std::int64_t{phase.width} * phase.height);
  FUZZ_CHECK((phase.count > 0) == static_cast<bool>(phase.data));
  for (std::int32_t i = 0; i < phase.count; ++i) FUZZ_CHECK(phase.data[i] <= kInvalidPhase);
  if (form == SdfForm::Binary) check_binary_values(bytes.data(), bytes.size(), phase);

  // Exported with the header it came with, the measurement imports back to
  // the same phase values: the export writes counts in the header's own
  // height step.
  if (phase.count == 0) return;
  const std::string& again = scratch_file("again.sdf");
  FUZZ_CHECK(write_sdf_file(again.c_str(), swinfo.data(), tail.data(), nullptr, &phase) ==
             ERR_NONE);
  Header header{};
  PhaseRecord back;
  std::int32_t back_code = read_sdf_header(again.c_str(), &header, &back);
  // A text field holding a line break spills into the next listing line,
  // which may set any field; then only a defined code is asked for.
  bool breaks = false;
  Header from_tail{};
  std::memcpy(reinterpret_cast<unsigned char*>(&from_tail) + kHeaderTailOffset, tail.data(),
              kHeaderTailSize);
  std::memcpy(reinterpret_cast<unsigned char*>(&from_tail) + kSoftwareInfoOffset, swinfo.data(),
              kSoftwareInfoSize);
  for (const FieldDesc& f : kHeaderFields) {
    if (f.type != FieldType::TEXT) continue;
    const char* p = static_cast<const char*>(header_field_ptr(from_tail, f));
    for (std::size_t k = 0; k < f.width() && p[k] != '\0'; ++k) breaks |= p[k] == '\n';
  }
  if (breaks) {
    FUZZ_CHECK(back_code == ERR_NONE || defined_import_code(back_code));
    return;
  }
  FUZZ_CHECK(back_code == ERR_NONE);
  FUZZ_CHECK(back.width == phase.width && back.height == phase.height);
  FUZZ_CHECK(std::memcmp(back.data.get(), phase.data.get(),
                         static_cast<std::size_t>(phase.count) * 4) == 0);
}

}  // namespace fuzz
