// Reading a binary data file into its header, intensity and phase records.
#pragma once

#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"

// Loads the file at `path` (see file_io.h for the path convention). `header`
// is required; `intensity` and `phase` may be nullptr, and a block whose
// record is not given is not read. Returns 0 or an error code; on failure the
// given intensity and phase records end released.
[[nodiscard]] std::int32_t read_data_file(const char* path, Header* header,
                                          IntensityRecord* intensity, PhaseRecord* phase);
