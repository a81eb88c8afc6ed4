// Fuzzes the binary data file reader. Besides "no crash" it checks that a
// failed read leaves both records released, and that a successful one gives
// exactly what the bytes say: the decoded header, records whose counts match
// their dimensions, and block values taken from the right file offsets.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "datafile/header.h"
#include "datafile/reader.h"
#include "datafile/records.h"
#include "errors/errors.h"
#include "fuzz/fuzz_support.h"
#include "platform/byte_order.h"

namespace {

bool is_released(const IntensityRecord& r) {
  return !r.data && r.count == 0 && r.width == 0 && r.height == 0 && r.n_buckets == 0;
}
bool is_released(const PhaseRecord& r) {
  return !r.data && r.count == 0 && r.width == 0 && r.height == 0;
}

bool same_fields(const Header& a, const Header& b) {
  for (const FieldDesc& f : kHeaderFields)
    if (std::memcmp(header_field_ptr(a, f), header_field_ptr(b, f), f.width()) != 0) return false;
  return true;
}

std::size_t header_length(const std::uint8_t* data, std::size_t size) {
  return size < 4 ? 0 : header_length_for_magic(load_be32(data));
}

void check_success(const std::uint8_t* data, std::size_t size, const Header& header,
                   const IntensityRecord& intensity, const PhaseRecord& phase) {
  std::size_t hl = header_length(data, size);
  FUZZ_CHECK(hl != 0 && size >= hl);

  // The header is the plain decoding of the file's first bytes, and encodes
  // back to them: nothing is lost or invented.
  Header expected{};
  header_decode(data, hl, expected);
  FUZZ_CHECK(same_fields(header, expected));
  std::vector<std::uint8_t> again(hl);
  header_encode(header, again.data(), hl);
  FUZZ_CHECK(std::memcmp(again.data(), data, hl) == 0);

  if (header.intens_n_bytes > 0) {
    FUZZ_CHECK(intensity.data);
    FUZZ_CHECK(intensity.width == header.intens_width && intensity.height == header.intens_height);
    FUZZ_CHECK(intensity.n_buckets == header.intens_n_buckets);
    FUZZ_CHECK(intensity.width >= 0 && intensity.height >= 0);
    FUZZ_CHECK(std::int64_t{intensity.count} ==
               std::int64_t{intensity.n_buckets} * intensity.width * intensity.height);
    std::size_t supplied = static_cast<std::size_t>(header.intens_n_bytes / 2);
    FUZZ_CHECK(supplied <= static_cast<std::size_t>(intensity.count));
    FUZZ_CHECK(hl + supplied * 2 <= size);
    for (std::size_t i = 0; i < supplied; ++i)
      FUZZ_CHECK(intensity.data[i] == load_be16(data + hl + 2 * i));
    for (std::size_t i = supplied; i < static_cast<std::size_t>(intensity.count); ++i)
      FUZZ_CHECK(intensity.data[i] == 0);
  } else {
    FUZZ_CHECK(is_released(intensity));
  }

  if (header.cn_n_bytes > 0) {
    FUZZ_CHECK(phase.data);
    FUZZ_CHECK(phase.width == header.cn_width && phase.height == header.cn_height);
    FUZZ_CHECK(phase.org_x == header.cn_org_x && phase.org_y == header.cn_org_y);
    FUZZ_CHECK(phase.width >= 0 && phase.height >= 0);
    FUZZ_CHECK(std::int64_t{phase.count} == std::int64_t{phase.width} * phase.height);
    std::size_t start = hl + static_cast<std::size_t>(std::max(header.intens_n_bytes, 0));
    FUZZ_CHECK(start + std::size_t{4} * static_cast<std::size_t>(phase.count) <= size);
    for (std::size_t i = 0; i < static_cast<std::size_t>(phase.count); ++i)
      FUZZ_CHECK(static_cast<std::uint32_t>(phase.data[i]) == load_be32(data + start + 4 * i));
  } else {
    FUZZ_CHECK(is_released(phase));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzz::scratch_file("dat");
  fuzz::write_file(path, data, size);

  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  std::int32_t err = read_data_file(path.c_str(), &header, &intensity, &phase);
  switch (err) {
    case ERR_NONE:
      check_success(data, size, header, intensity, phase);
      break;
    case ERR_PREMATURE_EOF:
    case ERR_NOT_A_DATA_FILE:
    case ERR_DATASET_DIM_TOO_LARGE:
    case ERR_PARAM_OUT_OF_RANGE:
    case ERR_NO_MEM:
    case ERR_CORRUPT_DATA_FILE:
      FUZZ_CHECK(is_released(intensity));
      FUZZ_CHECK(is_released(phase));
      break;
    default:
      FUZZ_CHECK(!"read_data_file returned a code it never should for an existing file");
  }

  // Without an intensity record the phase block is still found at the same
  // place, so a good file reads to the same phase values.
  if (err == ERR_NONE) {
    Header header2{};
    PhaseRecord phase2;
    FUZZ_CHECK(read_data_file(path.c_str(), &header2, nullptr, &phase2) == ERR_NONE);
    FUZZ_CHECK(phase2.count == phase.count);
    if (phase.count > 0)
      FUZZ_CHECK(std::memcmp(phase2.data.get(), phase.data.get(),
                             static_cast<std::size_t>(phase.count) * 4) == 0);
  }
  return 0;
}
