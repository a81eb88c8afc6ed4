// The height parameters of a map: Sa, Sq, Ssk, Sku, Sp, Sv and Sz over the
// valid points, after the least-squares plane through them is taken away.
// Two passes over the rows: PlaneFit finds the plane, ResidualMoments
// measures the heights above it.
#pragma once

#include <cstdint>

#include "surface/height_sink.h"

namespace surface {

// A sum of many terms that keeps the low-order bits the additions drop
// (Neumaier's compensated summation).
class CompensatedSum {
 public:
  void add(double x);
  void add(const CompensatedSum& other) {
    add(other.sum_);
    add(other.carry_);
  }
  double value() const { return sum_ + carry_; }

 private:
  double sum_ = 0;
  double carry_ = 0;
};

// The plane z = z0 + b (x - x0) + c (y - y0) in value units, x the point's
// index in its row and y the row's index.
struct Plane {
  double z0 = 0, x0 = 0, y0 = 0;
  double b = 0, c = 0;
};

// Pass 1: the least-squares plane through the valid points. Sums are kept
// about the first valid value and the middle of the map, per row and then
// compensated across rows, so that 32767 x 32767 points lose nothing that
// matters to the parameters. When the valid points lie on one line across
// the map, the plane is level across it.
class PlaneFit final : public HeightSink {
 public:
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  std::uint64_t valid() const { return n_; }
  Plane plane() const;

 private:
  std::uint64_t width_ = 0;
  double xc_ = 0, yc_ = 0;  // the middle of the map
  bool have_shift_ = false;
  double shift_ = 0;  // the first valid value
  std::uint64_t n_ = 0;
  CompensatedSum sx_, sy_, sxx_, syy_, sxy_, sz_, sxz_, syz_;
};

// The parameters, in metres (Ssk and Sku have no unit).
struct HeightParameters {
  std::uint64_t valid = 0;
  bool defined = false;        // false with fewer than three valid points
  bool shape_defined = false;  // Ssk and Sku: also false when every height is the same
  double sa = 0, sq = 0, ssk = 0, sku = 0, sp = 0, sv = 0, sz = 0;
};

// Pass 2: the heights above `plane`: their mean absolute value (Sa), root
// mean square (Sq), skewness and kurtosis (Ssk, Sku; moments about their
// mean), highest peak (Sp), deepest valley (Sv, as a positive depth) and
// their sum (Sz).
class ResidualMoments final : public HeightSink {
 public:
  explicit ResidualMoments(const Plane& plane) : plane_(plane) {}
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  HeightParameters parameters() const;
  // Adds the sums of another part of the same map.
  void merge(const ResidualMoments& other);

 private:
  Plane plane_;
  std::uint64_t width_ = 0;
  double unit_ = 1;
  std::uint64_t n_ = 0;
  CompensatedSum s1_, s2_, s3_, s4_, sa_;
  double lowest_ = 0, highest_ = 0;
};

}  // namespace surface
