// The one stream every reader of a height map feeds: rows of values with a
// missing flag each. The summary, the parameters and the picture take the
// map from it, so a map of any size passes through in bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace surface {

// What a map is before its rows arrive.
struct MapGeometry {
  std::uint64_t width = 0;   // points per row
  std::uint64_t height = 0;  // rows
  double dx = 0;             // metres from one point to the next in a row (0: unknown)
  double dy = 0;             // metres from one row to the next (0: unknown)
  double unit = 1;           // metres per value
  bool integral = false;     // every valid value is a whole number of 32 bits
};

// Receives the rows of one pass over a map, row 0 first. A missing point's
// value is 0, so that a consumer may weigh values by their flag instead of
// branching on it.
class HeightSink {
 public:
  virtual void begin(const MapGeometry& map) = 0;
  // Row `y`: map.width values, missing[i] != 0 where point i has none.
  virtual void row(std::uint64_t y, const double* values, const std::uint8_t* missing) = 0;

 protected:
  ~HeightSink() = default;
};

// Hands the same rows on to several sinks.
class HeightFanout final : public HeightSink {
 public:
  void add(HeightSink& sink) { sinks_.push_back(&sink); }
  bool empty() const { return sinks_.empty(); }
  void begin(const MapGeometry& map) override {
    for (HeightSink* s : sinks_) s->begin(map);
  }
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override {
    for (HeightSink* s : sinks_) s->row(y, values, missing);
  }

 private:
  std::vector<HeightSink*> sinks_;
};

// The smallest and largest of the `n` values that `missing` does not mark;
// +infinity and -infinity when there is none.
void valid_extremes(const double* values, const std::uint8_t* missing, int n, double& lo,
                    double& hi);

// Valid points, and the smallest and largest value among them.
class RangeSink final : public HeightSink {
 public:
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  std::uint64_t valid() const { return valid_; }
  double smallest() const { return smallest_; }
  double largest() const { return largest_; }

 private:
  std::uint64_t width_ = 0;
  std::uint64_t valid_ = 0;
  double smallest_ = 0;
  double largest_ = 0;
};

}  // namespace surface
