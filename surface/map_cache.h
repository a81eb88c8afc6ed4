// Keeps the rows of one pass in memory, when they fit a budget, so that the
// next passes need not read the file again and can run on every processor.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/memory.h"
#include "platform/threads.h"
#include "surface/height_sink.h"

namespace surface {

class MapCache final : public HeightSink {
 public:
  // Keeps a map whose values take at most `budget_bytes`: four bytes a point
  // for a map of whole numbers, eight otherwise.
  explicit MapCache(std::size_t budget_bytes) : budget_(budget_bytes) {}
  // Whether a map of this size fits the budget (it may still be given up:
  // memory refused, or values that are not what the map promised).
  bool fits(const MapGeometry& map) const;
  void begin(const MapGeometry& map) override;
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override;
  // Whether the map is being kept (it may still be given up, see complete).
  bool keeping() const { return keeping_; }
  // Every row was kept.
  bool complete() const { return keeping_ && rows_ == map_.height; }
  const MapGeometry& map() const { return map_; }
  // Hands rows [first, last) of a complete map to `sink` (without begin).
  void replay_rows(std::uint64_t first, std::uint64_t last, HeightSink& sink) const;

 private:
  static constexpr std::int32_t kMissing = INT32_MIN;
  static constexpr std::uint16_t kNarrowMissing = 0xFFFF;
  // A row of whole numbers is kept in pieces of kPiece points (the last may
  // be shorter), each where it lies in whole_values_: 16 bits a point above
  // `base` when the piece's values span less than 65535 (kNarrowMissing:
  // none), else 32 bits a point (kMissing: none). Pieces rather than whole
  // rows, so that a tilt or a deep pit across a row costs 32 bits a point
  // only where the values are far apart.
  static constexpr std::uint64_t kPiece = 512;
  struct KeptPiece {
    std::uint64_t at = 0;
    std::int32_t base = 0;
    bool narrow = false;
  };
  // Keeps points [x0, x1) of the row at hand; false when a value is not a
  // whole number of the promised range.
  bool keep_piece(std::uint64_t x0, std::uint64_t x1, const double* values,
                  const std::uint8_t* missing);
  std::size_t budget_;
  MapGeometry map_;
  bool keeping_ = false;
  bool whole_ = false;  // kept as whole numbers, row by row
  std::uint64_t rows_ = 0;
  // Sized for 32 bits a point but filled only as far as the rows need, so
  // that the pages of the narrow rows' unused part are never touched.
  HookArray<std::int32_t> whole_values_;
  std::uint64_t used_ = 0;    // 16-bit units of whole_values_ filled
  std::uint64_t pieces_ = 0;  // pieces a row
  std::vector<KeptPiece> kept_;
  std::vector<std::int32_t> row_;  // the row at hand as whole numbers
  HookArray<double> values_;       // NaN: none
};

// The rows of a block that the replays below hand to one sink in turn.
inline constexpr std::uint64_t kReplayBlockRows = 64;

// Runs a sink of type S over a complete map on `threads` threads (see
// threads.h): the rows in blocks of kReplayBlockRows, a sink each, `make()`
// making them, merged in block order (S::merge), so the result does not
// depend on the threads.
template <class S, class Make>
S replay_in_blocks(const MapCache& cache, int threads, Make make) {
  const std::uint64_t rows = cache.map().height;
  const std::size_t blocks =
      static_cast<std::size_t>((rows + kReplayBlockRows - 1) / kReplayBlockRows);
  std::vector<S> parts;
  parts.reserve(blocks);
  for (std::size_t b = 0; b < blocks; ++b) parts.push_back(make());
  std::atomic<std::size_t> next{0};
  const auto threads_used = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(u_working_threads(threads)), blocks));
  u_run_threads(threads_used, [&](int) {
    for (std::size_t b; (b = next.fetch_add(1)) < blocks;) {
      parts[b].begin(cache.map());
      cache.replay_rows(b * kReplayBlockRows, std::min(rows, (b + 1) * kReplayBlockRows), parts[b]);
    }
  });
  S all = make();
  all.begin(cache.map());
  for (const S& part : parts) all.merge(part);
  return all;
}

// Runs a sink of type S over a complete map on `threads` threads, one sink a
// thread, `make()` making them, merged in thread order: for sinks whose
// merge does not depend on how the rows were split (counts).
template <class S, class Make>
S replay_counting(const MapCache& cache, int threads, Make make) {
  const std::uint64_t rows = cache.map().height;
  const int n = u_working_threads(threads);
  std::vector<S> parts;
  parts.reserve(static_cast<std::size_t>(n));
  for (int t = 0; t < n; ++t) parts.push_back(make());
  for (S& part : parts) part.begin(cache.map());
  std::atomic<std::uint64_t> next{0};
  u_run_threads(n, [&](int t) {
    for (std::uint64_t b; (b = next.fetch_add(1)) * kReplayBlockRows < rows;)
      cache.replay_rows(b * kReplayBlockRows, std::min(rows, (b + 1) * kReplayBlockRows),
                        parts[static_cast<std::size_t>(t)]);
  });
  for (std::size_t t = 1; t < parts.size(); ++t) parts[0].merge(parts[t]);
  return std::move(parts[0]);
}

}  // namespace surface
