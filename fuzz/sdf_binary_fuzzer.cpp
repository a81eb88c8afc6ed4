// Fuzzes the SDF import with files of the binary form (first byte not 'a').
#include "fuzz/sdf_import_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::check_sdf_import(data, size, fuzz::SdfForm::Binary);
  return 0;
}
