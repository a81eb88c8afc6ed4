// Writing a measurement as an SDF file (ASCII form).
#pragma once

#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"

// Writes `header` and `phase` to `path` as an SDF file; `intensity` is
// accepted and not used. Returns 0 or an error code.
std::int32_t sdf_export(const char* path, const Header* header, const IntensityRecord* intensity,
                        const PhaseRecord* phase);
