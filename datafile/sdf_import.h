// Reading SDF files (ASCII and binary form) back into a header and phase data,
// and the library's SDF export entry point.
#pragma once

#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"

// Imports the SDF file at `path`. On success copies kSoftwareInfoSize bytes
// (swinfo) into `software_info_out` and kHeaderTailSize bytes (time_stamp to
// the end of the header record) into `header_tail_out`; `phase_out` receives
// the geometry and the phase array, `intensity_out` (optional) is cleared.
std::int32_t read_sdf_file(const char* path, void* software_info_out, void* header_tail_out,
                           IntensityRecord* intensity_out, PhaseRecord* phase_out);

// Builds a header record from the given parts and writes it with `phase` as
// an SDF file.
std::int32_t write_sdf_file(const char* path, const void* software_info, const void* header_tail,
                            const IntensityRecord* intensity, const PhaseRecord* phase);
