// The SDF import fuzz targets: one for each form of the file, sharing the
// checks made on what the import returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

enum class SdfForm { Ascii, Binary };

// Writes the input as an SDF file of `form` (the first byte decides the form;
// it is set to 'a' or 'b' when it names the other one), imports it, and
// checks the outcome: a defined code; on failure the caller's blocks
// untouched and no array; on success a phase record whose count matches its
// dimensions, invalid points marked, and an export of it that imports back
// to the same phase values.
void check_sdf_import(const std::uint8_t* data, std::size_t size, SdfForm form);

}  // namespace fuzz
