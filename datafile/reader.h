// Reading a binary data file into its header, intensity and phase records.
#pragma once

#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"
#include "platform/file_io.h"

// Loads the file at `path` (see file_io.h for the path convention). `header`
// is required; `intensity` and `phase` may be nullptr, and a block whose
// record is not given is not read. Returns 0 or an error code; on failure the
// given intensity and phase records end released.
[[nodiscard]] std::int32_t read_data_file(const char* path, Header* header,
                                          IntensityRecord* intensity, PhaseRecord* phase);

// Opens `path` and checks it as read_data_file(path, header, &intensity,
// phase) would, with the same code for every file it refuses, but reads
// neither block: on success `header` is filled, `phase` holds the phase
// block's geometry and no array, `*phase_offset` is where its width x height
// big-endian values start, and `file` holds the open stream. A file without a
// phase block gives a phase record of 0 x 0. What read_data_file would find
// only by reading (a block cut short while the file's size cannot be told, a
// read error) shows when the values are read. On failure the phase record
// ends released.
[[nodiscard]] std::int32_t open_data_file(const char* path, Header* header, PhaseRecord* phase,
                                          std::int64_t* phase_offset, File* file);
