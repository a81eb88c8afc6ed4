// Writing a binary data file: the exact inverse of read_data_file.
#pragma once

#include <cstdint>
#include <vector>

#include "datafile/header.h"
#include "datafile/records.h"

// The file's bytes: the header packed to the length its magic number gives
// (834, or 4096 for format 3; an unknown magic gives the 834-byte form), then,
// when the header announces them (intens_n_bytes, cn_n_bytes above 0) and the
// record holds data, the intensity values and the phase values, big-endian.
std::vector<std::uint8_t> encode_data_file(const Header& header, const IntensityRecord* intensity,
                                           const PhaseRecord* phase);

// Writes encode_data_file's bytes to `path`. Returns 0, ERR_CANT_CREATE_FILE
// or ERR_CANT_WRITE_FILE.
[[nodiscard]] std::int32_t write_data_file(const char* path, const Header& header,
                                           const IntensityRecord* intensity,
                                           const PhaseRecord* phase);
