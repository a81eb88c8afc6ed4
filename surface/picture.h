// A false-colour picture of a map: the heights averaged down to at most
// about 2048 pixels on the longer side, in the map's true aspect, on a
// viridis-like scale over the 0.5 to 99.5 percentiles of the valid heights,
// with a colour bar that says the range; written as PNG.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "surface/height_sink.h"
#include "surface/map_cache.h"

namespace surface {

// Where a value falls among the valid values: a histogram of the values as
// single-precision numbers, first of their upper 16 bits, then, in a second
// pass, of the lower 16 bits within the two bins that hold the ranks asked
// for. The values at those ranks come out to single precision.
class Percentiles final : public HeightSink {
 public:
  // The ranks of fractions `low` and `high` of the valid values.
  Percentiles(double low, double high) : fraction_{low, high} {}
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  // After the first pass: prepares the second (false when there is no valid
  // value, and so nothing to find).
  bool second_pass();
  // Adds the counts of the same pass over another part of the same map
  // (counts add up in any order).
  void merge(const Percentiles& other);
  // After the second pass: the two values.
  double low() const { return value(0); }
  double high() const { return value(1); }

 private:
  double value(int k) const;
  std::array<double, 2> fraction_;
  std::uint64_t width_ = 0;
  int pass_ = 0;
  std::uint64_t valid_ = 0;
  std::vector<std::uint64_t> coarse_;
  std::array<std::uint32_t, 2> bin_{};     // the upper 16 bits of the two ranks' values
  std::array<std::uint64_t, 2> within_{};  // their ranks within those bins
  std::array<std::vector<std::uint64_t>, 2> fine_;
  std::vector<std::uint32_t> keys_;  // the sort keys of the row at hand
};

// The same two values as Percentiles, in one pass over a kept map when a
// sample tells where they lie: each rank gets a bracket of sort keys from
// the sample, wide enough to hold it with a margin; the pass counts the
// values below each bracket and keeps the keys inside, and the rank is then
// selected among those. A bracket that turns out not to hold its rank (or
// more keys than a bound) makes finish() false, and Percentiles finds the
// values instead. The values do not depend on how the rows were split.
class RankBrackets final : public HeightSink {
 public:
  // Brackets for fractions `low` and `high` of `valid` valid values, from a
  // sample of rows spread over `cache` (complete).
  RankBrackets(const MapCache& cache, double low, double high, std::uint64_t valid);
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  // Adds the counts and keys of another part of the same map.
  void merge(const RankBrackets& other);
  // After the pass: whether both values were found, and then the two
  // values (to single precision, as Percentiles gives them).
  bool finish();
  double low() const { return value_[0]; }
  double high() const { return value_[1]; }

 private:
  std::array<std::uint64_t, 2> rank_{};
  std::array<std::uint32_t, 2> from_{}, to_{};  // the brackets, keys at both ends included
  std::array<std::uint64_t, 2> below_{};
  std::array<std::vector<std::uint32_t>, 2> inside_;
  std::uint64_t width_ = 0;
  bool overflow_ = false;
  // The keys kept by every part together, against their bound.
  std::shared_ptr<std::atomic<std::uint64_t>> kept_;
  std::uint64_t bound_ = 0;
  std::vector<std::uint32_t> keys_;
  std::array<double, 2> value_{};
};

// The map averaged down to the picture's grid. Rows are finished as they
// arrive, so it holds one row of sums and the finished grid (four bytes a
// pixel).
class PictureGrid final : public HeightSink {
 public:
  static constexpr std::uint64_t kLongestSide = 2048;
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  // Pixels of the picture; the grid's rows are stretched to `height` when
  // the rows lie further apart than the points.
  std::uint64_t width() const { return width_; }
  std::uint64_t height() const { return height_; }
  std::uint64_t grid_rows() const { return grid_rows_; }
  // The averaged value of grid cell (x, row), NaN when it has no valid point.
  float cell(std::uint64_t x, std::uint64_t row) const { return cells_[row * width_ + x]; }
  const MapGeometry& map() const { return map_; }
  // Whether every block of `block_rows` rows of `map` ends where a grid row
  // ends, so that blocks can be summed apart (Part).
  static bool whole_rows_in(const MapGeometry& map, std::uint64_t block_rows);

  // Sums the rows of one block of whole grid rows into the grid's cells,
  // apart from the grid and from other blocks, so that blocks run on
  // several threads: the cells come out as the grid's own rows make them.
  // The grid must have begun.
  class Part final : public HeightSink {
   public:
    explicit Part(PictureGrid& grid)
        : grid_(&grid), sums_(grid.width_, 0.0), counts_(grid.width_, 0) {}
    void begin(const MapGeometry&) override {}
    void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;

   private:
    PictureGrid* grid_;
    std::vector<double> sums_;
    std::vector<std::uint32_t> counts_;
  };

 private:
  // Adds a row's runs to `sums` and `counts`; the last row of grid row
  // `g` then writes its cells and clears them.
  void add(std::uint64_t y, const double* values, const std::uint8_t* missing, double* sums,
           std::uint32_t* counts);
  // The picture's width and height and the grid's rows for a map.
  struct Layout {
    std::uint64_t width = 1, height = 1, grid_rows = 1;
  };
  static Layout layout(const MapGeometry& map);
  MapGeometry map_;
  std::uint64_t width_ = 0, height_ = 0, grid_rows_ = 0;
  std::vector<double> sums_;
  std::vector<std::uint32_t> counts_;
  std::vector<std::uint64_t> starts_;  // each grid column's first point, then the row's width
  std::vector<float> cells_;
};

// The picture's colour scale in the map's values.
struct PictureScale {
  bool any = false;  // false: no valid point
  double low = 0, high = 0;
};

// Draws the picture of `grid` with `scale` (values times `unit` are metres)
// and writes it as a PNG file at `path` (library path convention), complete
// or not at all, with `texts` as its text chunks (Latin-1 keywords and
// texts). 0, or ERR_CANT_CREATE_FILE / ERR_CANT_WRITE_FILE (errno tells why),
// ERR_NO_MEM.
[[nodiscard]] std::int32_t write_picture(
    const char* path, const PictureGrid& grid, const PictureScale& scale, double unit,
    const std::vector<std::pair<std::string, std::string>>& texts);

// A height in metres as the colour bar writes it: four significant digits in
// nm, µm or mm (UTF-8), whichever suits `magnitude` (the largest height
// shown), or m beyond.
std::string height_label(double metres, double magnitude);

}  // namespace surface
