#include "surface/parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace surface {

void CompensatedSum::add(double x) {
  const double t = sum_ + x;
  if (std::fabs(sum_) >= std::fabs(x))
    carry_ += (sum_ - t) + x;
  else
    carry_ += (x - t) + sum_;
  sum_ = t;
}

void RangeSink::begin(const MapGeometry& map) {
  width_ = map.width;
  valid_ = 0;
  smallest_ = largest_ = 0;
}

void valid_extremes(const double* values, const std::uint8_t* missing, int n, double& lo,
                    double& hi) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double low = kInf, high = -kInf;
  // The flag as a double and the selects written out keep the loop in lanes
  // of doubles, which the compiler then vectorises.
#pragma omp simd reduction(min : low) reduction(max : high)
  for (int i = 0; i < n; ++i) {
    const double v = values[i];
    const double m = missing[i];
    const double a = m != 0 ? kInf : v, b = m != 0 ? -kInf : v;
    low = low < a ? low : a;
    high = high > b ? high : b;
  }
  lo = low;
  hi = high;
}

void RangeSink::row(std::uint64_t, const double* values, const std::uint8_t* missing) {
  int gone = 0;
  const int iw = static_cast<int>(width_);  // rows hold at most 2^20 points
#pragma omp simd reduction(+ : gone)
  for (int i = 0; i < iw; ++i) gone += missing[i] != 0;
  double lo = 0, hi = 0;
  valid_extremes(values, missing, iw, lo, hi);
  const std::uint64_t n = width_ - static_cast<std::uint64_t>(gone);
  if (n == 0) return;
  if (valid_ == 0 || lo < smallest_) smallest_ = lo;
  if (valid_ == 0 || hi > largest_) largest_ = hi;
  valid_ += n;
}

void PlaneFit::begin(const MapGeometry& map) {
  *this = PlaneFit{};
  width_ = map.width;
  xc_ = (static_cast<double>(map.width) - 1) / 2;
  yc_ = (static_cast<double>(map.height) - 1) / 2;
}

void PlaneFit::row(std::uint64_t y, const double* values, const std::uint8_t* missing) {
  const std::uint64_t w = width_;
  const int iw = static_cast<int>(w);  // rows hold at most 2^20 points
  int gone = 0;
#pragma omp simd reduction(+ : gone)
  for (int i = 0; i < iw; ++i) gone += missing[i] != 0;
  const std::uint64_t n = w - static_cast<std::uint64_t>(gone);
  if (n == 0) return;
  if (!have_shift_) {
    for (std::uint64_t i = 0; i < w && !have_shift_; ++i)
      if (!missing[i]) shift_ = values[i], have_shift_ = true;
  }
  const double shift = shift_, xc = xc_;
  // The compiler may split the sums into lanes: the same order on every run
  // of one build.
  double rsx = 0, rsxx = 0, rsz = 0, rsxz = 0;
  if (gone == 0) {
    // A whole row: its x sums follow from its width (about the middle, the
    // first is 0).
    double z = 0, xz = 0;
#pragma omp simd reduction(+ : z, xz)
    for (int j = 0; j < iw; ++j) {
      const double d = values[j] - shift;
      z += d;
      xz += (static_cast<double>(j) - xc) * d;
    }
    rsz = z;
    rsxz = xz;
    const double wd = static_cast<double>(w);
    rsxx = wd * (wd * wd - 1) / 12;
  } else {
    double x1 = 0, x2 = 0, z = 0, xz = 0;
#pragma omp simd reduction(+ : x1, x2, z, xz)
    for (int j = 0; j < iw; ++j) {
      const double k = static_cast<double>(missing[j] == 0);
      const double x = static_cast<double>(j) - xc;
      const double d = (values[j] - shift) * k;
      x1 += k * x;
      x2 += k * x * x;
      z += d;
      xz += x * d;
    }
    rsx = x1;
    rsxx = x2;
    rsz = z;
    rsxz = xz;
  }
  const double yd = static_cast<double>(y) - yc_, nd = static_cast<double>(n);
  n_ += n;
  sx_.add(rsx);
  sxx_.add(rsxx);
  sy_.add(yd * nd);
  syy_.add(yd * yd * nd);
  sxy_.add(yd * rsx);
  sz_.add(rsz);
  sxz_.add(rsxz);
  syz_.add(yd * rsz);
}

Plane PlaneFit::plane() const {
  Plane p;
  if (n_ == 0) return p;
  const double n = static_cast<double>(n_);
  const double mx = sx_.value() / n, my = sy_.value() / n, mz = sz_.value() / n;
  const double cxx = sxx_.value() - sx_.value() * mx, cyy = syy_.value() - sy_.value() * my;
  const double cxy = sxy_.value() - sx_.value() * my;
  const double cxz = sxz_.value() - sx_.value() * mz, cyz = syz_.value() - sy_.value() * mz;
  p.z0 = shift_ + mz;
  p.x0 = xc_ + mx;
  p.y0 = yc_ + my;
  const double det = cxx * cyy - cxy * cxy;
  if (cxx > 0 && cyy > 0 && det > 1e-12 * cxx * cyy) {
    p.b = (cxz * cyy - cyz * cxy) / det;
    p.c = (cyz * cxx - cxz * cxy) / det;
  } else if (cxx > 0) {
    p.b = cxz / cxx;
  } else if (cyy > 0) {
    p.c = cyz / cyy;
  }
  return p;
}

namespace {

// The sums of a row's residuals (r, r^2, r^3, r^4, |r|) and their extremes.
struct RowSums {
  double s1, s2, s3, s4, sa, lo, hi;
};

// The residuals of the `n` values of a row against the line base + b i.
// With `kMasked`, the points that `missing` marks take no part; without, the
// loop has no test. The compiler may split the sums into lanes: the same
// order on every run of one build.
template <bool kMasked>
RowSums residual_sums(int n, const double* values, const std::uint8_t* missing, double base,
                      double b) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double s1 = 0, s2 = 0, s3 = 0, s4 = 0, sa = 0, lo = kInf, hi = -kInf;
#pragma omp simd reduction(+ : s1, s2, s3, s4, sa) reduction(min : lo) reduction(max : hi)
  for (int i = 0; i < n; ++i) {
    // A missing point's residual is 0 (its value times 0), and the flag a
    // double: every step stays in lanes of doubles.
    const double keep = kMasked ? static_cast<double>(missing[i] == 0) : 1.0;
    const double r = (values[i] - (base + b * static_cast<double>(i))) * keep;
    const double r2 = r * r;
    s1 += r;
    s2 += r2;
    s3 += r2 * r;
    s4 += r2 * r2;
    sa += std::fabs(r);
    const double low = keep != 0 ? r : kInf, high = keep != 0 ? r : -kInf;
    lo = lo < low ? lo : low;
    hi = hi > high ? hi : high;
  }
  return {s1, s2, s3, s4, sa, lo, hi};
}

}  // namespace

void ResidualMoments::begin(const MapGeometry& map) {
  const Plane plane = plane_;
  *this = ResidualMoments(plane);
  width_ = map.width;
  unit_ = map.unit;
}

void ResidualMoments::row(std::uint64_t y, const double* values, const std::uint8_t* missing) {
  const std::uint64_t w = width_;
  // The plane along this row: base + b i.
  const double b = plane_.b;
  const double base = plane_.z0 + plane_.c * (static_cast<double>(y) - plane_.y0) - b * plane_.x0;
  int gone = 0;
  const int iw = static_cast<int>(w);  // rows hold at most 2^20 points
#pragma omp simd reduction(+ : gone)
  for (int i = 0; i < iw; ++i) gone += missing[i] != 0;
  // A whole row needs no masking.
  const auto [s1, s2, s3, s4, sa, lo, hi] = gone == 0
                                                ? residual_sums<false>(iw, values, missing, base, b)
                                                : residual_sums<true>(iw, values, missing, base, b);
  const std::uint64_t n = w - static_cast<std::uint64_t>(gone);
  if (n == 0) return;
  if (n_ == 0) lowest_ = lo, highest_ = hi;
  lowest_ = std::min(lowest_, lo);
  highest_ = std::max(highest_, hi);
  n_ += n;
  s1_.add(s1);
  s2_.add(s2);
  s3_.add(s3);
  s4_.add(s4);
  sa_.add(sa);
}

void ResidualMoments::merge(const ResidualMoments& o) {
  if (o.n_ == 0) return;
  if (n_ == 0) lowest_ = o.lowest_, highest_ = o.highest_;
  lowest_ = std::min(lowest_, o.lowest_);
  highest_ = std::max(highest_, o.highest_);
  n_ += o.n_;
  for (auto [a, b] :
       {std::pair{&s1_, &o.s1_}, {&s2_, &o.s2_}, {&s3_, &o.s3_}, {&s4_, &o.s4_}, {&sa_, &o.sa_}})
    a->add(*b);
}

HeightParameters ResidualMoments::parameters() const {
  HeightParameters p;
  p.valid = n_;
  // Sums that overflowed (heights beyond about 1e77 of their unit) give
  // no parameters rather than wrong ones.
  const double sums[] = {s1_.value(), s2_.value(), s3_.value(), s4_.value(),
                         sa_.value(), lowest_,     highest_};
  if (n_ < 3 ||
      !std::all_of(std::begin(sums), std::end(sums), [](double x) { return std::isfinite(x); }))
    return p;
  p.defined = true;
  const double n = static_cast<double>(n_);
  // Moments about the heights' own mean, which the plane makes 0 but for
  // rounding.
  const double m = s1_.value() / n, e2 = s2_.value() / n, e3 = s3_.value() / n,
               e4 = s4_.value() / n;
  const double m2 = std::max(0.0, e2 - m * m);
  const double m3 = e3 - 3 * m * e2 + 2 * m * m * m;
  const double m4 = e4 - 4 * m * e3 + 6 * m * m * e2 - 3 * m * m * m * m;
  const double u = std::fabs(unit_);
  p.sa = sa_.value() / n * u;
  p.sq = std::sqrt(m2) * u;
  p.shape_defined = m2 > 0;
  if (p.shape_defined) {
    p.ssk = m3 / (m2 * std::sqrt(m2));
    p.sku = m4 / (m2 * m2);
  }
  p.sp = highest_ * u;
  p.sv = -lowest_ * u;
  if (unit_ < 0) {  // heights point the other way
    p.ssk = -p.ssk;
    std::swap(p.sp, p.sv);
  }
  p.sz = p.sp + p.sv;
  // A unit that is no number (a header whose height step is not finite)
  // gives no parameters either.
  for (double v : {p.sa, p.sq, p.sp, p.sv, p.sz}) {
    if (!std::isfinite(v)) {
      HeightParameters none;
      none.valid = n_;
      return none;
    }
  }
  return p;
}

}  // namespace surface
