// Reading SDF files (ASCII and binary form) back into a header and phase data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"
// The export entry point, write_sdf_file, is declared beside the writer.
#include "sdf/sdf_writer.h"

// Imports the SDF file at `path`. On success copies kSoftwareInfoSize bytes
// (swinfo) into `software_info_out` and kHeaderTailSize bytes (time_stamp to
// the end of the header record) into `header_tail_out`; `phase_out` receives
// the geometry and the phase array, `intensity_out` (optional) is cleared.
// ERR_INVALID_PARAM when an output block or `phase_out` is missing. On any
// error nothing the caller gave is changed and nothing stays allocated.
//
// Values are restored in phase counts of the header (the trailer's header when
// the file has one). A restored value that no valid phase value can hold
// (below INT32_MIN, or at or above kInvalidPhase after rounding) gives
// ERR_PARAM_OUT_OF_RANGE; it is never wrapped. A trailer without the eight
// required fields sends "Missing required fields." to the notice sink (log.h) and
// gives ERR_CORRUPT_DATA_FILE.
[[nodiscard]] std::int32_t read_sdf_file(const char* path, void* software_info_out,
                                         void* header_tail_out, IntensityRecord* intensity_out,
                                         PhaseRecord* phase_out);

// The same import, handing out the whole header record (magic number, format,
// size and phase geometry included). Both outputs are required.
[[nodiscard]] std::int32_t read_sdf_header(const char* path, Header* header_out,
                                           PhaseRecord* phase_out);
