#include "surface/map_cache.h"

#include <cmath>
#include <limits>

namespace surface {

bool MapCache::fits(const MapGeometry& map) const {
  const std::uint64_t points = map.width * map.height;
  const std::uint64_t bytes = map.integral ? 4 : 8;
  return map.width > 0 && points / map.width == map.height && points <= budget_ / bytes;
}

void MapCache::begin(const MapGeometry& map) {
  map_ = map;
  rows_ = 0;
  whole_ = map.integral;
  whole_values_.reset();
  values_.reset();
  used_ = 0;
  kept_.clear();
  keeping_ = fits(map);
  if (keeping_) {
    const auto n = static_cast<std::size_t>(map.width * map.height);
    keeping_ = whole_ ? whole_values_.allocate(n) : values_.allocate(n);
    if (keeping_ && whole_) {
      pieces_ = (map.width + kPiece - 1) / kPiece;
      kept_.reserve(static_cast<std::size_t>(map.height * pieces_));
      row_.resize(static_cast<std::size_t>(std::min(map.width, kPiece)));
    }
  }
}

bool MapCache::keep_piece(std::uint64_t x0, std::uint64_t x1, const double* values,
                          const std::uint8_t* missing) {
  // The piece's span decides its width; every value must be a whole number
  // strictly inside the 32-bit range (its lowest value marks a missing
  // point), else the next pass reads the file again. The loops keep each to
  // one width of lanes (the flags as doubles, the conversions through a row
  // of 32-bit numbers), which the compiler vectorises.
  const int w = static_cast<int>(x1 - x0);
  values += x0;
  missing += x0;
  double lo = 0, hi = 0;
  valid_extremes(values, missing, w, lo, hi);
  if (lo > hi) lo = hi = 0;  // no valid point
  if (!(lo >= -2147483647.0 && hi <= 2147483647.0)) return false;
  KeptPiece r;
  r.at = (used_ + 1) & ~std::uint64_t{1};  // 32-bit aligned
  r.narrow = hi - lo < kNarrowMissing;
  // Each value less the base, as a whole number (a missing point's 0 too:
  // the base is whole when the piece is), and how far any was from one.
  r.base = r.narrow ? static_cast<std::int32_t>(lo) : 0;
  const double base = r.base;
  std::int32_t* whole = row_.data();
  double off = 0;
#pragma omp simd reduction(max : off)
  for (int i = 0; i < w; ++i) {
    const double d = values[i] - base;
    const auto k = static_cast<std::int32_t>(d);
    const double e = std::fabs(static_cast<double>(k) - d);
    off = off > e ? off : e;
    whole[i] = k;
  }
  if (off != 0) return false;
  auto* units = reinterpret_cast<std::uint16_t*>(whole_values_.get());
  if (r.narrow) {
    std::uint16_t* out = units + r.at;
#pragma omp simd
    for (int i = 0; i < w; ++i)
      out[i] = static_cast<std::uint16_t>(whole[i] | -static_cast<std::int32_t>(missing[i] != 0));
    used_ = r.at + static_cast<std::uint64_t>(w);
  } else {
    std::int32_t* out = reinterpret_cast<std::int32_t*>(units + r.at);
#pragma omp simd
    for (int i = 0; i < w; ++i) out[i] = missing[i] ? kMissing : whole[i];
    used_ = r.at + 2 * static_cast<std::uint64_t>(w);
  }
  kept_.push_back(r);
  return true;
}

void MapCache::row(std::uint64_t y, const double* values, const std::uint8_t* missing) {
  if (!keeping_) return;
  if (y != rows_) {
    keeping_ = false;
    return;
  }
  if (whole_) {
    for (std::uint64_t x = 0; x < map_.width; x += kPiece) {
      if (!keep_piece(x, std::min(map_.width, x + kPiece), values, missing)) {
        keeping_ = false;
        whole_values_.reset();
        kept_.clear();
        return;
      }
    }
  } else {
    double* out = values_.get() + y * map_.width;
    for (std::uint64_t i = 0; i < map_.width; ++i)
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
      for (std::uint64_t p = 0; p < pieces_; ++p) {
        const KeptPiece& r = kept_[static_cast<std::size_t>(y * pieces_ + p)];
        const auto* units = reinterpret_cast<const std::uint16_t*>(whole_values_.get()) + r.at;
        const std::uint64_t x0 = p * kPiece;
        const int n = static_cast<int>(std::min(kPiece, map_.width - x0));
        double* pv = v + x0;
        std::uint8_t* pm = m + x0;
        // A missing point's value comes out as 0 times its value plus 0,
        // which keeps the loops in lanes of doubles (and the 0 unsigned).
        if (r.narrow) {
          const double base = r.base;
#pragma omp simd
          for (int i = 0; i < n; ++i) {
            const std::int32_t u = units[i];
            const double keep = static_cast<double>(u != kNarrowMissing);
            pv[i] = (base + static_cast<double>(u)) * keep + 0.0;
          }
#pragma omp simd
          for (int i = 0; i < n; ++i) pm[i] = units[i] == kNarrowMissing;
        } else {
          const auto* in = reinterpret_cast<const std::int32_t*>(units);
#pragma omp simd
          for (int i = 0; i < n; ++i) {
            const double keep = static_cast<double>(in[i] != kMissing);
            pv[i] = static_cast<double>(in[i]) * keep + 0.0;
          }
#pragma omp simd
          for (int i = 0; i < n; ++i) pm[i] = in[i] == kMissing;
        }
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
