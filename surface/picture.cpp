#include "surface/picture.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <tuple>

#include "errors/errors.h"
#include "platform/output_file.h"
#include "platform/threads.h"

// PNG files are written by stb_image_write, to memory (no file of its own),
// its deflate replaced by zlib's at its fastest level: a picture of 2048 x
// 2048 pixels takes a few tens of milliseconds instead of a second.
//
// The data are deflated in pieces of a fixed size, on every processor: each
// piece a raw deflate stream with the 32 KiB before it as its dictionary,
// ended on a byte boundary (a sync flush) but for the last, and the pieces
// joined under one zlib header and Adler-32. The bytes depend only on the
// data, never on the number of threads.
namespace {
constexpr std::size_t kDeflatePiece = std::size_t{1} << 21;
constexpr std::size_t kDictionary = std::size_t{1} << 15;

// One piece's deflated bytes: only as much of the room as they take is
// ever touched.
struct Deflated {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;
  uLong adler = 0;  // of the piece's data
};

// Deflates piece `k` of `data` into `out`; false on failure.
bool deflate_piece(const unsigned char* data, std::size_t size, std::size_t k, Deflated& out) {
  const std::size_t at = k * kDeflatePiece, n = std::min(kDeflatePiece, size - at);
  const bool last = at + n == size;
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = true;
  if (at > 0) {
    const std::size_t d = std::min(kDictionary, at);
    ok = deflateSetDictionary(&z, data + at - d, static_cast<uInt>(d)) == Z_OK;
  }
  const std::size_t room = deflateBound(&z, static_cast<uLong>(n)) + 16;
  out.bytes.reset(new (std::nothrow) unsigned char[room]);
  ok = ok && out.bytes;
  if (ok) {
    z.next_in = const_cast<unsigned char*>(data + at);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out.bytes.get();
    z.avail_out = static_cast<uInt>(room);
    ok = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH) == (last ? Z_STREAM_END : Z_OK) &&
         z.avail_in == 0;
    out.size = z.total_out;
    out.adler = adler32_z(adler32(0, nullptr, 0), data + at, n);
  }
  deflateEnd(&z);
  return ok;
}

// stb_image_write calls this from its own C code: nothing may be thrown
// through it, so every failure is a null result.
unsigned char* png_deflate(unsigned char* data, int size, int* out_size, int) {
  try {
    const auto total = static_cast<std::size_t>(size);
    const std::size_t pieces =
        std::max<std::size_t>(1, (total + kDeflatePiece - 1) / kDeflatePiece);
    std::vector<Deflated> parts(pieces);
    std::vector<char> done(pieces, 0);
    std::atomic<std::size_t> next{0};
    u_run_threads(static_cast<int>(std::min<std::size_t>(
                      pieces, static_cast<std::size_t>(u_working_threads(0)))),
                  [&](int) {
                    for (std::size_t k; (k = next.fetch_add(1)) < pieces;)
                      done[k] = deflate_piece(data, total, k, parts[k]);
                  });
    std::size_t length = 2 + 4;
    uLong sum = adler32(0, nullptr, 0);
    for (std::size_t k = 0; k < pieces; ++k) {
      if (!done[k]) return nullptr;
      length += parts[k].size;
      const std::size_t n = std::min(kDeflatePiece, total - k * kDeflatePiece);
      sum = adler32_combine(sum, parts[k].adler, static_cast<z_off_t>(n));
    }
    auto* out = static_cast<unsigned char*>(std::malloc(length));
    if (!out) return nullptr;
    unsigned char* p = out;
    *p++ = 0x78;  // deflate, 32 KiB window, the fastest level
    *p++ = 0x01;
    for (const Deflated& part : parts)
      p = std::copy(part.bytes.get(), part.bytes.get() + part.size, p);
    for (int shift = 24; shift >= 0; shift -= 8) *p++ = static_cast<unsigned char>(sum >> shift);
    *out_size = static_cast<int>(length);
    return out;
  } catch (...) {
    return nullptr;
  }
}
}  // namespace
#define STBIW_ZLIB_COMPRESS png_deflate
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
// The digits and letters of the colour bar: stb_easy_font's segments.
#include <stb/stb_easy_font.h>

namespace surface {
namespace {

// A value as a key that sorts as the value does: the bits of its
// single-precision number, the sign bit flipped for positive numbers and
// every bit for negative ones.
inline std::uint32_t sort_key(double v) {
  const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v));
  return bits & 0x80000000u ? ~bits : bits | 0x80000000u;
}

// Above every valid value's key: a missing point's, in RankBrackets.
constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;

inline double key_value(std::uint32_t key) {
  const std::uint32_t bits = key & 0x80000000u ? key & 0x7FFFFFFFu : ~key;
  return std::bit_cast<float>(bits);
}

// The bin of the histogram that holds `rank` (counted from 0), and the rank
// within it.
std::pair<std::uint32_t, std::uint64_t> find_rank(const std::vector<std::uint64_t>& bins,
                                                  std::uint64_t rank) {
  std::uint64_t below = 0;
  for (std::size_t b = 0; b < bins.size(); ++b) {
    if (rank < below + bins[b]) return {static_cast<std::uint32_t>(b), rank - below};
    below += bins[b];
  }
  return {static_cast<std::uint32_t>(bins.size() - 1), 0};
}

}  // namespace

void Percentiles::begin(const MapGeometry& map) {
  width_ = map.width;
  if (pass_ == 0) {
    valid_ = 0;
    coarse_.assign(std::size_t{1} << 16, 0);
  } else {
    for (auto& f : fine_) f.assign(std::size_t{1} << 16, 0);
  }
}

void Percentiles::row(std::uint64_t, const double* values, const std::uint8_t* missing) {
  // The keys first, all at once (a missing point's key is never looked at).
  keys_.resize(width_);
  std::uint32_t* keys = keys_.data();
  const int w = static_cast<int>(width_);  // rows hold at most 2^20 points
#pragma omp simd
  for (int i = 0; i < w; ++i) keys[i] = sort_key(values[i]);
  if (pass_ == 0) {
    // Neighbours mostly share a bin: counted as runs, a bin is touched once
    // a run.
    std::uint32_t bin = 0;
    std::uint64_t run = 0;
    for (int i = 0; i < w; ++i) {
      if (missing[i]) continue;
      const std::uint32_t b = keys[i] >> 16;
      if (b != bin) {
        coarse_[bin] += run;
        bin = b;
        run = 0;
      }
      ++run;
      ++valid_;
    }
    coarse_[bin] += run;
    return;
  }
  for (int i = 0; i < w; ++i) {
    const std::uint32_t key = keys[i];
    if ((key >> 16 == bin_[0] || key >> 16 == bin_[1]) && !missing[i]) {
      for (int k = 0; k < 2; ++k)
        if (key >> 16 == bin_[k]) ++fine_[k][key & 0xFFFF];
    }
  }
}

bool Percentiles::second_pass() {
  if (valid_ == 0) return false;
  for (int k = 0; k < 2; ++k) {
    const auto rank =
        static_cast<std::uint64_t>(std::llround(fraction_[k] * static_cast<double>(valid_ - 1)));
    std::tie(bin_[k], within_[k]) = find_rank(coarse_, rank);
  }
  pass_ = 1;
  return true;
}

void Percentiles::merge(const Percentiles& other) {
  if (pass_ == 0) {
    valid_ += other.valid_;
    for (std::size_t i = 0; i < coarse_.size() && i < other.coarse_.size(); ++i)
      coarse_[i] += other.coarse_[i];
    return;
  }
  for (int k = 0; k < 2; ++k)
    for (std::size_t i = 0; i < fine_[k].size() && i < other.fine_[k].size(); ++i)
      fine_[k][i] += other.fine_[k][i];
}

double Percentiles::value(int k) const {
  if (pass_ == 0 || fine_[k].empty()) return 0;
  return key_value(bin_[k] << 16 | find_rank(fine_[k], within_[k]).first);
}

RankBrackets::RankBrackets(const MapCache& cache, double low, double high, std::uint64_t valid)
    : kept_(std::make_shared<std::atomic<std::uint64_t>>(0)),
      bound_(std::max<std::uint64_t>(std::uint64_t{1} << 20, valid / 16)) {
  // Up to 64 rows spread evenly, every so many points of each: some 65536
  // keys of valid points.
  struct Sample final : HeightSink {
    std::uint64_t step = 1;
    std::vector<std::uint32_t> keys;
    void begin(const MapGeometry&) override {}
    void row(std::uint64_t, const double* values, const std::uint8_t* missing) override {
      for (std::uint64_t i = 0; i < width; i += step)
        if (!missing[i]) keys.push_back(sort_key(values[i]));
    }
    std::uint64_t width = 0;
  } sample;
  const MapGeometry& map = cache.map();
  const std::uint64_t rows = std::min<std::uint64_t>(map.height, 64);
  sample.width = map.width;
  sample.step = std::max<std::uint64_t>(1, map.width * rows / 65536);
  for (std::uint64_t k = 0; k < rows; ++k) {
    const std::uint64_t y = (2 * k + 1) * map.height / (2 * rows);
    cache.replay_rows(y, y + 1, sample);
  }
  std::vector<std::uint32_t>& s = sample.keys;
  const auto n = static_cast<std::int64_t>(s.size());
  if (n == 0 || valid == 0) {
    overflow_ = true;  // nothing to go by
    return;
  }
  // A margin of 0.4 % of the values on either side of the rank.
  const std::int64_t margin = n / 256 + 8;
  const auto at = [&s](std::int64_t i) {
    std::nth_element(s.begin(), s.begin() + i, s.end());
    return s[static_cast<std::size_t>(i)];
  };
  const std::array<double, 2> fraction = {low, high};
  for (int k = 0; k < 2; ++k) {
    rank_[k] =
        static_cast<std::uint64_t>(std::llround(fraction[k] * static_cast<double>(valid - 1)));
    const std::int64_t i = std::llround(fraction[k] * static_cast<double>(n - 1));
    from_[k] = i - margin < 0 ? 0 : at(i - margin);
    // Below the key every missing point gets (no valid value's key comes
    // near it: that would be a NaN).
    to_[k] = i + margin >= n ? kNoKey - 1 : std::min(at(i + margin), kNoKey - 1);
  }
}

void RankBrackets::begin(const MapGeometry& map) {
  width_ = map.width;
  below_ = {};
  for (auto& in : inside_) in.clear();
}

void RankBrackets::row(std::uint64_t, const double* values, const std::uint8_t* missing) {
  if (overflow_) return;
  keys_.resize(width_);
  std::uint32_t* keys = keys_.data();
  const int w = static_cast<int>(width_);  // rows hold at most 2^20 points
#pragma omp simd
  for (int i = 0; i < w; ++i)
    keys[i] = sort_key(values[i]) | (0u - static_cast<std::uint32_t>(missing[i] != 0));
  for (int k = 0; k < 2; ++k) {
    const std::uint32_t from = from_[k], span = to_[k] - from_[k];
    std::uint32_t below = 0, in = 0;
#pragma omp simd reduction(+ : below, in)
    for (int i = 0; i < w; ++i) {
      below += keys[i] < from;
      in += keys[i] - from <= span;
    }
    below_[k] += below;
    if (in == 0) continue;
    if (kept_->fetch_add(in) + in > bound_) {
      overflow_ = true;
      return;
    }
    for (int i = 0; i < w; ++i)
      if (keys[i] - from <= span) inside_[k].push_back(keys[i]);
  }
}

void RankBrackets::merge(const RankBrackets& other) {
  overflow_ = overflow_ || other.overflow_;
  for (int k = 0; k < 2; ++k) {
    below_[k] += other.below_[k];
    inside_[k].insert(inside_[k].end(), other.inside_[k].begin(), other.inside_[k].end());
  }
}

bool RankBrackets::finish() {
  if (overflow_) return false;
  for (int k = 0; k < 2; ++k) {
    std::vector<std::uint32_t>& in = inside_[k];
    if (rank_[k] < below_[k] || rank_[k] - below_[k] >= in.size()) return false;
    const auto at = in.begin() + static_cast<std::ptrdiff_t>(rank_[k] - below_[k]);
    std::nth_element(in.begin(), at, in.end());
    value_[k] = key_value(*at);
  }
  return true;
}

PictureGrid::Layout PictureGrid::layout(const MapGeometry& map) {
  Layout l;
  const std::uint64_t w = map.width, h = map.height;
  if (w == 0 || h == 0) return l;
  // The rows' spacing in units of the points' spacing.
  // (Held within a factor of 4096 either way, so that both sides stay
  // sizes.)
  double aspect = map.dy / map.dx;
  if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 1;
  aspect = std::clamp(aspect, 1.0 / 4096, 4096.0);
  const double natural_w = static_cast<double>(w), natural_h = static_cast<double>(h) * aspect;
  const double scale =
      std::min(1.0, static_cast<double>(kLongestSide) / std::max(natural_w, natural_h));
  l.width = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(natural_w * scale)));
  l.height =
      std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(natural_h * scale)));
  l.width = std::min(l.width, w);
  l.grid_rows = std::min(l.height, h);
  return l;
}

void PictureGrid::begin(const MapGeometry& map) {
  map_ = map;
  const Layout l = layout(map);
  width_ = l.width;
  height_ = l.height;
  grid_rows_ = l.grid_rows;
  cells_.assign(width_ * grid_rows_, std::numeric_limits<float>::quiet_NaN());
  starts_.clear();
  const std::uint64_t w = map.width;
  if (w == 0 || map.height == 0) return;  // one cell, no point
  sums_.assign(width_, 0.0);
  counts_.assign(width_, 0);
  // Point x falls in column x * width_ / w: every column gets a run of
  // neighbouring points (width_ <= w), the first of which is kept here.
  starts_.assign(width_ + 1, w);
  for (std::uint64_t x = w; x-- > 0;) starts_[x * width_ / w] = x;
}

void PictureGrid::row(std::uint64_t y, const double* values, const std::uint8_t* missing) {
  if (!starts_.empty()) add(y, values, missing, sums_.data(), counts_.data());
}

void PictureGrid::Part::row(std::uint64_t y, const double* values, const std::uint8_t* missing) {
  if (!grid_->starts_.empty()) grid_->add(y, values, missing, sums_.data(), counts_.data());
}

bool PictureGrid::whole_rows_in(const MapGeometry& map, std::uint64_t block_rows) {
  const std::uint64_t h = map.height, rows = layout(map).grid_rows;
  for (std::uint64_t end = block_rows; end < h; end += block_rows)
    if ((end - 1) * rows / h == end * rows / h) return false;
  return true;
}

void PictureGrid::add(std::uint64_t y, const double* values, const std::uint8_t* missing,
                      double* sums, std::uint32_t* counts) {
  // A column's run is summed in registers, in the same order as point by
  // point.
  for (std::uint64_t c = 0; c < width_; ++c) {
    double sum = sums[c];
    std::uint32_t count = counts[c];
    for (std::uint64_t x = starts_[c]; x < starts_[c + 1]; ++x) {
      const bool valid = !missing[x];
      sum += valid ? values[x] : 0.0;
      count += valid;
    }
    sums[c] = sum;
    counts[c] = count;
  }
  const std::uint64_t g = y * grid_rows_ / map_.height;
  if (y + 1 < map_.height && (y + 1) * grid_rows_ / map_.height == g) return;
  float* out = cells_.data() + g * width_;
  for (std::uint64_t c = 0; c < width_; ++c) {
    if (counts[c] > 0) out[c] = static_cast<float>(sums[c] / counts[c]);
    sums[c] = 0;
    counts[c] = 0;
  }
}

namespace {

using Rgb = std::array<unsigned char, 3>;

// The scale: ten colours at equal steps from dark violet through blue and
// green to yellow (viridis), interpolated in between.
constexpr std::array<Rgb, 10> kStops = {{{0x44, 0x01, 0x54},
                                         {0x48, 0x28, 0x78},
                                         {0x3E, 0x4A, 0x89},
                                         {0x31, 0x68, 0x8E},
                                         {0x26, 0x82, 0x8E},
                                         {0x1F, 0x9E, 0x89},
                                         {0x35, 0xB7, 0x79},
                                         {0x6D, 0xCD, 0x59},
                                         {0xB4, 0xDE, 0x2C},
                                         {0xFD, 0xE7, 0x25}}};
// A point without a height: a neutral grey, which the scale never takes.
constexpr Rgb kMissing = {0xC8, 0xC8, 0xC8};
constexpr Rgb kBackground = {0xFF, 0xFF, 0xFF};
constexpr Rgb kInk = {0x00, 0x00, 0x00};

Rgb interpolate(double t) {
  t = std::clamp(t, 0.0, 1.0) * (kStops.size() - 1);
  const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(t), kStops.size() - 2);
  const double f = t - static_cast<double>(i);
  Rgb c;
  for (int k = 0; k < 3; ++k)
    c[k] = static_cast<unsigned char>(
        std::lround(kStops[i][k] + f * (kStops[i + 1][k] - kStops[i][k])));
  return c;
}

// The scale in 1024 steps, finer than the eye tells apart.
constexpr int kSteps = 1024;
const std::array<Rgb, kSteps>& colour_table() {
  static const std::array<Rgb, kSteps> table = [] {
    std::array<Rgb, kSteps> t;
    for (int i = 0; i < kSteps; ++i) t[i] = interpolate(static_cast<double>(i) / (kSteps - 1));
    return t;
  }();
  return table;
}

// t from 0 to 1 (NaN counts as 0, so that no value indexes beyond the table).
inline const Rgb& scale_colour(double t) {
  const double at = (t > 0 ? (t < 1 ? t : 1.0) : 0.0) * (kSteps - 1) + 0.5;
  return colour_table()[static_cast<std::size_t>(at)];
}

class Canvas {
 public:
  // The pixels are left as they come: every one is drawn (see fill).
  Canvas(std::size_t w, std::size_t h) : w_(w), h_(h), pixels_(new unsigned char[w * h * 3]) {}
  // Pixel (x, y), which must lie on the canvas, and those right of it.
  unsigned char* at(std::size_t x, std::size_t y) { return &pixels_[(y * w_ + x) * 3]; }
  void set(std::size_t x, std::size_t y, const Rgb& c) {
    if (x >= w_ || y >= h_) return;
    std::memcpy(&pixels_[(y * w_ + x) * 3], c.data(), 3);
  }
  void fill(std::size_t x, std::size_t y, std::size_t w, std::size_t h, const Rgb& c) {
    for (std::size_t j = y; j < y + h && j < h_; ++j)
      for (std::size_t i = x; i < x + w && i < w_; ++i) set(i, j, c);
  }
  // Text of printable ASCII characters and "µ", `scale` pixels a font unit,
  // its top left corner at (x, y).
  void text(std::size_t x, std::size_t y, const std::string& s, int scale) {
    std::string ascii;
    std::vector<std::size_t> micro;  // characters drawn as 'u' with a stem
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s.compare(i, 2, "\xC2\xB5") == 0) {
        micro.push_back(ascii.size());
        ascii += 'u';
        ++i;
      } else {
        ascii += s[i];
      }
    }
    std::vector<char> quads(ascii.size() * 64 * 16 + 64);
    const int n = stb_easy_font_print(0, 0, ascii.data(), nullptr, quads.data(),
                                      static_cast<int>(quads.size()));
    for (int q = 0; q < n; ++q) {
      float v[4][4];
      std::memcpy(v, quads.data() + q * 64, sizeof v);
      box(x, y, v[0][0], v[0][1], v[2][0], v[2][1], scale);
    }
    for (std::size_t at : micro) {
      // The stem of µ: down the left of the 'u', below the line.
      const float left = static_cast<float>(stb_easy_font_width(ascii.substr(0, at).data()));
      box(x, y, left, 2, left + 1, 9, scale);
    }
  }
  static int text_width(const std::string& s, int scale) {
    std::string ascii;
    for (std::size_t i = 0; i < s.size(); ++i)
      ascii += s.compare(i, 2, "\xC2\xB5") == 0 ? (++i, 'u') : s[i];
    return stb_easy_font_width(ascii.data()) * scale;
  }
  const unsigned char* data() const { return pixels_.get(); }

 private:
  void box(std::size_t x, std::size_t y, float x0, float y0, float x1, float y1, int scale) {
    const auto at = [scale](float f) { return static_cast<std::size_t>(std::lround(f * scale)); };
    fill(x + at(x0), y + at(y0), at(x1) - at(x0), at(y1) - at(y0), kInk);
  }
  std::size_t w_, h_;
  std::unique_ptr<unsigned char[]> pixels_;
};

// Adds tEXt chunks after the IHDR chunk of `png`.
void add_texts(std::vector<unsigned char>& png,
               const std::vector<std::pair<std::string, std::string>>& texts) {
  constexpr std::size_t kAfterHeader = 8 + 25;
  if (png.size() < kAfterHeader) return;
  std::vector<unsigned char> chunks;
  for (const auto& [key, value] : texts) {
    std::vector<unsigned char> body = {'t', 'E', 'X', 't'};
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(0);
    body.insert(body.end(), value.begin(), value.end());
    const auto length = static_cast<std::uint32_t>(body.size() - 4);
    const auto crc =
        static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
    for (int s = 24; s >= 0; s -= 8) chunks.push_back(static_cast<unsigned char>(length >> s));
    chunks.insert(chunks.end(), body.begin(), body.end());
    for (int s = 24; s >= 0; s -= 8) chunks.push_back(static_cast<unsigned char>(crc >> s));
  }
  png.insert(png.begin() + kAfterHeader, chunks.begin(), chunks.end());
}

}  // namespace

std::string height_label(double metres, double magnitude) {
  struct Unit {
    double below, factor;
    const char* name;
  };
  static constexpr Unit kUnits[] = {
      {1e-6, 1e9, "nm"}, {1e-3, 1e6, "\xC2\xB5m"}, {1, 1e3, "mm"}, {INFINITY, 1, "m"}};
  const Unit* u = &kUnits[0];
  for (const Unit& k : kUnits) {
    u = &k;
    if (std::fabs(magnitude) < k.below) break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.4g %s", metres * u->factor, u->name);
  return text;
}

std::int32_t write_picture(const char* path, const PictureGrid& grid, const PictureScale& scale,
                           double unit,
                           const std::vector<std::pair<std::string, std::string>>& texts) {
  try {
    constexpr int kFont = 2;  // pixels a font unit
    constexpr std::size_t kPad = 16, kBar = 20, kGap = 16;
    const std::size_t w = static_cast<std::size_t>(grid.width());
    const std::size_t h = static_cast<std::size_t>(grid.height());
    const std::size_t bar_h = std::max<std::size_t>(h, 200);
    const double lo_m = scale.low * unit, hi_m = scale.high * unit;
    const double magnitude = std::max(std::fabs(lo_m), std::fabs(hi_m));
    std::vector<std::string> labels;
    if (scale.any)
      labels = {height_label(hi_m, magnitude), height_label((lo_m + hi_m) / 2, magnitude),
                height_label(lo_m, magnitude)};
    else
      labels = {"no valid point"};
    labels.push_back("none");
    int label_w = 0;
    for (const std::string& l : labels) label_w = std::max(label_w, Canvas::text_width(l, kFont));
    const std::size_t bar_x = kPad + w + kGap;
    const std::size_t canvas_w = bar_x + kBar + 8 + static_cast<std::size_t>(label_w) + kPad;
    const std::size_t canvas_h = kPad + bar_h + 12 + 16 + kPad;
    // The background where nothing else is drawn: above and below the map
    // here, on either side of it with its rows.
    Canvas canvas(canvas_w, canvas_h);
    canvas.fill(0, 0, canvas_w, kPad, kBackground);
    canvas.fill(0, kPad + h, canvas_w, canvas_h - kPad - h, kBackground);

    // The map, in blocks of rows on every processor.
    // A scale too wide for a double (values beyond single precision at
    // both ends) shows every height in its middle colour, like a flat map.
    const double span = scale.high - scale.low;
    const bool spread = span > 0 && std::isfinite(span);
    constexpr std::size_t kBlockRows = 64;
    const std::size_t blocks = (h + kBlockRows - 1) / kBlockRows;
    std::atomic<std::size_t> next{0};
    u_run_threads(
        static_cast<int>(
            std::min<std::size_t>(blocks, static_cast<std::size_t>(u_working_threads(0)))),
        [&](int) {
          for (std::size_t b; (b = next.fetch_add(1)) < blocks;) {
            for (std::size_t y = b * kBlockRows; y < std::min(h, (b + 1) * kBlockRows); ++y) {
              const std::uint64_t row = y * grid.grid_rows() / h;
              canvas.fill(0, kPad + y, kPad, 1, kBackground);
              canvas.fill(kPad + w, kPad + y, canvas_w - kPad - w, 1, kBackground);
              unsigned char* out = canvas.at(kPad, kPad + y);
              for (std::size_t x = 0; x < w; ++x, out += 3) {
                const float v = grid.cell(x, row);
                const Rgb& c = std::isnan(v) || !scale.any
                                   ? kMissing
                                   : scale_colour(spread ? (v - scale.low) / span : 0.5);
                std::memcpy(out, c.data(), 3);
              }
            }
          }
        });
    // The bar, its labels at the top, the middle and the bottom, and the
    // colour of a missing point below it.
    for (std::size_t y = 0; y < bar_h; ++y) {
      const Rgb c = scale.any ? scale_colour(1.0 - static_cast<double>(y) / (bar_h - 1)) : kMissing;
      canvas.fill(bar_x, kPad + y, kBar, 1, c);
    }
    const std::size_t text_x = bar_x + kBar + 8;
    if (scale.any) {
      canvas.text(text_x, kPad, labels[0], kFont);
      canvas.text(text_x, kPad + bar_h / 2 - 7, labels[1], kFont);
      canvas.text(text_x, kPad + bar_h - 14, labels[2], kFont);
    } else {
      canvas.text(text_x, kPad, labels[0], kFont);
    }
    canvas.fill(bar_x, kPad + bar_h + 12, kBar, 14, kMissing);
    canvas.text(text_x, kPad + bar_h + 12, labels.back(), kFont);

    std::vector<unsigned char> png;
    png.reserve(canvas_w * canvas_h);
    stbi_write_force_png_filter = 1;  // each pixel less the one before: quick, and small enough
    const int ok = stbi_write_png_to_func(
        [](void* context, void* data, int size) {
          auto* out = static_cast<std::vector<unsigned char>*>(context);
          const auto* bytes = static_cast<const unsigned char*>(data);
          out->insert(out->end(), bytes, bytes + size);
        },
        &png, static_cast<int>(canvas_w), static_cast<int>(canvas_h), 3, canvas.data(),
        static_cast<int>(canvas_w * 3));
    if (!ok) return ERR_NO_MEM;
    add_texts(png, texts);

    OutputFile file;
    if (std::int32_t err = file.open(path, OutputMode::kReplace, true)) return err;
    if (std::fwrite(png.data(), 1, png.size(), file.stream()) != png.size()) {
      const int reason = errno;
      file.abandon();
      errno = reason;
      return ERR_CANT_WRITE_FILE;
    }
    return file.commit();
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}

}  // namespace surface
