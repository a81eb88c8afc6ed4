// Synthetic measurements for the generator, the tests, the benchmarks and the
// fuzzing corpora.
#pragma once

#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"

struct SyntheticOptions {
  int format = 1;             // 1, 2 or 3
  std::int16_t width = 320;   // phase points per row
  std::int16_t height = 240;  // phase rows
  bool intensity = true;      // add an intensity block
  std::uint32_t seed = 1;     // noise
};

// A plausible measurement: a tilted spherical cap with ripple and noise, in
// phase counts that go below and above 0, with a ring of invalid points, an
// intensity frame of fringes, and header values as an instrument writes them
// (632.8 nm, 2.2 um lateral resolution, a date, a comment, a part name).
void make_synthetic(const SyntheticOptions& options, Header* header, IntensityRecord* intensity,
                    PhaseRecord* phase);

// The byte-count field of a data block of `bytes` bytes: the count itself,
// or 2147483647 when it does not fit in the signed 32-bit field. A reader
// takes the number of values from the dimensions and the count only as "a
// block is present", so a saturated count still announces every value.
std::int32_t data_block_byte_count(std::int64_t bytes);

// Writes the same file as make_synthetic followed by write_data_file, one
// row at a time: memory stays a few rows whatever the size of the map.
// Returns 0, ERR_CANT_CREATE_FILE or ERR_CANT_WRITE_FILE; a failed write
// leaves a partial file behind.
[[nodiscard]] std::int32_t write_synthetic_file(const SyntheticOptions& options, const char* path);
