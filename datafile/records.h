// The intensity and phase records: a data block with its geometry.
#pragma once

#include <cstdint>

#include "platform/memory.h"

// Values at or above this mark a phase point without a valid measurement.
inline constexpr std::int32_t kInvalidPhase = 2147483640;  // 0x7FFFFFF8

struct IntensityRecord {
  std::int32_t count = 0;  // values in data; 0 when there is no array
  std::int16_t org_x = 0;
  std::int16_t org_y = 0;
  std::int16_t width = 0;
  std::int16_t height = 0;
  std::int16_t n_buckets = 0;
  std::int16_t range = 0;
  HookArray<std::uint16_t> data;  // host order, or none
};

struct PhaseRecord {
  std::int32_t count = 0;  // values in data; 0 when there is no array
  std::int16_t org_x = 0;
  std::int16_t org_y = 0;
  std::int16_t width = 0;        // points per row
  std::int16_t height = 0;       // rows
  HookArray<std::int32_t> data;  // host order, row after row, or none
};

// Allocate `data` for width x height (phase) or n_buckets x width x height
// (intensity) values. ERR_PARAM_OUT_OF_RANGE when that is not a positive
// 32-bit count, ERR_NO_MEM when the hooks refuse. A record given here must
// hold no array.
[[nodiscard]] std::int32_t phase_record_alloc(PhaseRecord* record);
[[nodiscard]] std::int32_t intensity_record_alloc(IntensityRecord* record);

// Release `data` and clear the geometry; the origin (and the intensity range)
// stay as they are.
void phase_record_free(PhaseRecord* record);
void intensity_record_free(IntensityRecord* record);
