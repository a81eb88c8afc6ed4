#include "datafile/records.h"

#include <cstdint>
#include <limits>

#include "errors/errors.h"

std::int32_t phase_record_alloc(PhaseRecord* record) {
  std::int64_t n = std::int64_t{record->width} * record->height;
  if (n <= 0) return ERR_PARAM_OUT_OF_RANGE;
  record->count = 0;
  if (!record->data.allocate(static_cast<std::size_t>(n))) return ERR_NO_MEM;
  record->count = static_cast<std::int32_t>(n);
  return ERR_NONE;
}

std::int32_t intensity_record_alloc(IntensityRecord* record) {
  std::int64_t n = std::int64_t{record->n_buckets} * record->width * record->height;
  if (n <= 0 || n > std::numeric_limits<std::int32_t>::max()) return ERR_PARAM_OUT_OF_RANGE;
  if (!record->data.allocate(static_cast<std::size_t>(n))) {
    record->count = 0;
    record->n_buckets = 0;
    record->width = 0;
    record->height = 0;
    return ERR_NO_MEM;
  }
  record->count = static_cast<std::int32_t>(n);
  return ERR_NONE;
}

void phase_record_free(PhaseRecord* record) {
  record->data.reset();
  record->count = 0;
  record->width = 0;
  record->height = 0;
}

void intensity_record_free(IntensityRecord* record) {
  record->data.reset();
  record->count = 0;
  record->width = 0;
  record->height = 0;
  record->n_buckets = 0;
}
