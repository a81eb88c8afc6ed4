#include "surface/map_cache.h"

#include <cmath>
#include <limits>

namespace surface {

void MapCache::begin(const MapGeometry& map) {
  map_ = map;
  rows_ = 0;
  whole_ = map.integral;
  whole_values_.reset();
  values_.reset();
  const std::uint64_t points = map.width * map.height;
  const std::uint64_t bytes = whole_ ? 4 : 8;
  keeping_ = map.width > 0 && points / map.width == map.height && points <= budget_ / bytes;
  if (keeping_) {
    const std::size_t n = static_cast<std::size_t>(points);
    keeping_ = whole_ ? whole_values_.allocate(n) : values_.allocate(n);
  }
}

void MapCache::row(std::uint64_t y, const double* values, const std::uint8_t* missing) {
  if (!keeping_) return;
  if (y != rows_) {
    keeping_ = false;
    return;
  }
  const int w = static_cast<int>(map_.width);  // rows hold at most 2^20 points
  if (whole_) {
    std::int32_t* out = whole_values_.get() + y * map_.width;
    int fits = 1;
#pragma omp simd reduction(& : fits)
    for (int i = 0; i < w; ++i) {
      // A whole number strictly inside the 32-bit range (its lowest value
      // marks a missing point).
      const double v = values[i];
      const auto k = static_cast<std::int32_t>(std::clamp(v, -2147483647.0, 2147483647.0));
      fits &= static_cast<double>(k) == v;
      out[i] = missing[i] ? kMissing : k;
    }
    if (!fits) {
      // Not whole after all: the next pass reads the file again.
      keeping_ = false;
      whole_values_.reset();
      return;
    }
  } else {
    double* out = values_.get() + y * map_.width;
    for (int i = 0; i < w; ++i)
      out[i] = missing[i] ? std::numeric_limits<double>::quiet_NaN() : values[i];
  }
  ++rows_;
}

void MapCache::replay_rows(std::uint64_t first, std::uint64_t last, HeightSink& sink) const {
  const int w = static_cast<int>(map_.width);
  std::vector<double> values(map_.width);
  std::vector<std::uint8_t> missing(map_.width);
  double* v = values.data();
  std::uint8_t* m = missing.data();
  for (std::uint64_t y = first; y < last; ++y) {
    if (whole_) {
      const std::int32_t* in = whole_values_.get() + y * map_.width;
#pragma omp simd
      for (int i = 0; i < w; ++i) {
        m[i] = in[i] == kMissing;
        v[i] = in[i] == kMissing ? 0.0 : in[i];
      }
    } else {
      const double* in = values_.get() + y * map_.width;
      for (int i = 0; i < w; ++i) {
        m[i] = std::isnan(in[i]);
        v[i] = m[i] ? 0.0 : in[i];
      }
    }
    sink.row(y, v, m);
  }
}

}  // namespace surface
