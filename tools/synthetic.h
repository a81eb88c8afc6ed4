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
