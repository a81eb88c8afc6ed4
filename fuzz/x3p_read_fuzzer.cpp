// Fuzzes the x3p reader (ZIP container, main.xml, checksum and attributes
// entries, point data). Besides "no crash, no hang, no read past a buffer"
// it checks that every failure is one of the reader's documented codes and
// that a success holds a consistent summary: never more valid points than
// points, and a phase record, when there is one, of the matrix's size.
#include <cstdint>

#include "errors/errors.h"
#include "fuzz/fuzz_support.h"
#include "x3p/x3p_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzz::scratch_file("x3p");
  fuzz::write_file(path, data, size);
  X3pContent x;
  const std::int32_t err = read_x3p_file(path.c_str(), x);
  switch (err) {
    case ERR_NONE:
      FUZZ_CHECK(x.heights.valid <= x.heights.points);
      FUZZ_CHECK(x.heights.points == x.records.size_x * x.records.size_y);
      if (x.has_attributes)
        FUZZ_CHECK(static_cast<std::uint64_t>(x.phase.count) == x.heights.points);
      break;
    case ERR_CORRUPT_DATA_FILE:
    case ERR_DATASET_DIM_TOO_LARGE:
    case ERR_NO_DATA:
    case ERR_UNKNOWN_ASCII_FORMAT_TYPE:
    case ERR_NOT_ENOUGH_DATA:
    case ERR_NOT_IMPLEMENTED:
    case ERR_PARAM_OUT_OF_RANGE:
    case ERR_NO_MEM:
      break;
    default:
      FUZZ_CHECK(!"an undocumented error code");
  }
  return 0;
}
