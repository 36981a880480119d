// Window statistics for the classic indicators: the mean and variance of one series, the
// co-moments of two, and the least-squares line through one. Sums are kept as deviations from a
// shift (the window mean when last re-added), so the variance does not cancel at high price
// levels, and they are re-added from the window every period bars so they never drift. When the
// variance has become a tiny part of the largest sum of squares seen since (a level change whose
// large values have left the window), the sums are re-added about the new mean at once. The
// window's plain sum, which the scheduled re-adding needs for the new mean, is accumulated as the
// values arrive (`fresh_`: from 0, oldest first, the bits of a pass over the window).
#pragma once

#include <array>

#include "classic_engine/sums.hpp"

namespace velk::classic {

// A variance below this share of the largest recent sum of squares is re-added from the window:
// rounding left by the large values then stays below 1e-6 * 1e-16 of the peak, far under 1e-9
// of the variance.
inline constexpr double kRedoShare = 1e-6;

#if defined(VELK_CLASSIC_LANES)
// sqrt in each lane (correctly rounded, as std::sqrt).
inline Lanes square_root(Lanes v) {
#if defined(__SSE2__)
  return _mm_sqrt_pd(v);
#else
  return Lanes{std::sqrt(v[0]), std::sqrt(v[1])};
#endif
}
#endif
#if defined(__x86_64__) && !defined(__clang__)
// sqrt in each of four lanes (vsqrtpd, correctly rounded as std::sqrt), for the AVX2 copy.
__attribute__((target("avx2,fma"))) inline DoubleLanes<4> square_root(DoubleLanes<4> v) {
  return (DoubleLanes<4>)_mm256_sqrt_pd((__m256d)v);
}
#endif
inline double square_root(double v) { return std::sqrt(v); }

inline bool variance_has_cancelled(double squares_now, double peak, double shift, double count) {
  return squares_now < peak * kRedoShare && peak > 1e-20 * count * shift * shift;
}

// Mean and population variance of the last `period` values.
class WindowMoments {
 public:
  WindowMoments() = default;
  explicit WindowMoments(int64_t period)
      : window_(period), period_(period), reciprocal_(1.0 / static_cast<double>(period)) {}

  // Adds x and drops the value leaving; true once the window is full.
  bool push(double x) {
    const bool was_full = window_.full();
    const double leaving = window_.push(x);
    fresh_ += x;
    if (++since_resum_ >= period_ || window_.size() == 1) {
      resum(fresh_);
    } else {
      const double d = x - shift_;
      deviations_ += d;
      squares_ += d * d;
      if (was_full) {
        const double l = leaving - shift_;
        deviations_ -= l;
        squares_ -= l * l;
      }
      peak_ = select_greater(squares_, peak_);  // a select: a new peak is a coin toss
    }
    if (!window_.full()) return false;
    if (variance_has_cancelled(centred_squares(), peak_, shift_, static_cast<double>(period_))) resum(window_.sum());
    return true;
  }
  // The sums the moments are read from: the state's, or a run kernel's locals (V: a double, or
  // lanes of two windows).
  template <class V>
  struct SumsOf {
    V shift, deviations, squares;
  };
  using Sums = SumsOf<double>;
  Sums sums() const { return {shift_, deviations_, squares_}; }
  template <class V>
  V mean(const SumsOf<V>& m) const {
    return m.shift + m.deviations * reciprocal_;
  }
  double mean() const { return mean(sums()); }
  // x - mean, formed from x - shift so that it keeps its digits at high price levels.
  double deviation_from_mean(double x) const { return (x - shift_) - deviations_ * reciprocal_; }
  // Population variance (divided by the period), never negative.
  template <class V>
  V variance(const SumsOf<V>& m) const {
    const V v = (m.squares - m.deviations * (m.deviations * reciprocal_)) * reciprocal_;
    const V zero{};
    return v > zero ? v : zero;
  }
  double variance() const { return variance(sums()); }

  // push(y[t]) for t = from .. to - 1 (the `real_before` values before `from` were pushed last),
  // writing values(sums) (an array, one per output) where the window is full and NaN before;
  // the same operations as push, with the sums in locals and the window read off y wherever it
  // lies there. `values` takes SumsOf<double> and, where lanes exist, SumsOf<Lanes>.
  // Width 4 (inside the AVX2 copy): four spans side by side where they fit, `values` then also
  // taking SumsOf<DoubleLanes<4>>.
  template <int Width = 2, class Out, class Values>
  void run_real(const double* y, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before, Values&& values) {
    const ptrdiff_t period = static_cast<ptrdiff_t>(period_);
    const auto write = [&](ptrdiff_t at, const auto& outputs) {
      for (size_t k = 0; k < outputs.size(); ++k) out[k][at] = static_cast<Out>(outputs[k]);
    };
    ptrdiff_t t = from;
    for (const ptrdiff_t ring_end = std::min(to, from + std::max<ptrdiff_t>(0, period - real_before)); t < ring_end; ++t) {
      if (push(y[t])) {
        write(t, values(sums()));
      } else {
        decltype(values(sums())) none;
        none.fill(nan_value);
        write(t, none);
      }
    }
    if (t == to) return;
    const ptrdiff_t kernel_from = t;
    const double n = static_cast<double>(period_);
    double shift = shift_, deviations = deviations_, squares = squares_, peak = peak_, fresh = fresh_;
    int64_t since_resum = since_resum_;
#if defined(VELK_CLASSIC_LANES)
    // The spans from a scheduled re-adding at t side by side; true (the state after them taken
    // over) unless a lane cancelled.
    const auto took_spans = [&]<int W>() {
      Sums last;
      double last_peak, last_fresh;
      if (!run_spans<W>(y, t, out, values, last, last_peak, last_fresh)) return false;
      shift = last.shift, deviations = last.deviations, squares = last.squares, peak = last_peak;
      fresh = last_fresh;
      since_resum = period_ - 1;
      t += W * period - 1;
      return true;
    };
#endif
    // Re-adds the sums about the mean of the window y[at + 1 - period .. at], oldest first.
    const auto resum_at = [&](ptrdiff_t at, double window_sum) {
      since_resum = 0;
      fresh = 0.0;
      shift = window_sum / n;
      deviations = squares = 0.0;
      for (const double* v = y + at + 1 - period; v <= y + at; ++v) {
        const double d = *v - shift;
        deviations += d;
        squares += d * d;
      }
      peak = squares;
    };
    for (; t < to; ++t) {
      const double x = y[t];
#if defined(VELK_CLASSIC_LANES)
      if (since_resum + 1 >= period_ && took_side_by_side<Width>(to - t, period, took_spans)) continue;
#endif
      fresh += x;
      if (++since_resum >= period_) {
        resum_at(t, fresh);
      } else {
        const double d = x - shift;
        deviations += d;
        squares += d * d;
        const double l = y[t - period] - shift;
        deviations -= l;
        squares -= l * l;
        peak = select_greater(squares, peak);
      }
      if (variance_has_cancelled(squares - deviations * (deviations * reciprocal_), peak, shift, n)) [[unlikely]] {
        double window_sum = 0.0;
        for (const double* v = y + t + 1 - period; v <= y + t; ++v) window_sum += *v;
        resum_at(t, window_sum);
      }
      write(t, values(Sums{shift, deviations, squares}));
    }
    shift_ = shift, deviations_ = deviations, squares_ = squares, peak_ = peak, fresh_ = fresh;
    since_resum_ = since_resum;
    window_.push_many(y + kernel_from, static_cast<size_t>(to - kernel_from));
  }

 private:
#if defined(VELK_CLASSIC_LANES)
  // Bars t .. t + W * period - 1 of run_real's loop from a scheduled re-adding at t: the span
  // from the re-adding at t + k * period to the next in lane k, each lane run_real's operations in
  // its order; a re-adding takes the plain sum of its window from 0, oldest first (the bits of the
  // sum accumulated since the one before), so every lane starts from the input alone. False, the
  // outputs to be rewritten, where a lane cancelled (the peak condition taken after the spans:
  // the peak only grows between re-addings).
  template <int W, class Out, class Values>
  bool run_spans(const double* y, ptrdiff_t t, Out* const* out, Values& values, Sums& last, double& last_peak,
                 double& last_fresh) const {
    using V = DoubleLanes<W>;
    const ptrdiff_t p = static_cast<ptrdiff_t>(period_);
    const double n = static_cast<double>(period_), reciprocal = reciprocal_;
    const V shift = windows_ending<W>(y, t, p) / n;
    V deviations = {}, squares = deviations, fresh = deviations;
    for (ptrdiff_t i = 1 - p; i <= 0; ++i) {
      const V d = across_spans<W>(y, t + i, p) - shift;
      deviations += d;
      squares += d * d;
    }
    V peak = squares;
    const V limit = 1e-20 * n * shift * shift;
    V dipped = {};  // a lane mask: the variance fell below its share of the peak
    for (ptrdiff_t j = 0; j < p; ++j) {
      if (j > 0) {
        const V x = across_spans<W>(y, t + j, p);
        const V leaving = spans_before<W>(x, y[t + j - p]);
        fresh += x;
        const V d = x - shift;
        deviations += d;
        squares += d * d;
        const V l = leaving - shift;
        deviations -= l;
        squares -= l * l;
        peak = select_greater(squares, peak);
      }
      dipped = or_less(dipped, squares - deviations * (deviations * reciprocal), peak * kRedoShare);
      const auto outputs = values(SumsOf<V>{shift, deviations, squares});
      for (size_t k = 0; k < outputs.size(); ++k) store_across_spans(out[k], t + j, p, outputs[k]);
    }
    if (any_set((FlagOf<V>)dipped & greater(peak, limit))) [[unlikely]] return false;
    last = {shift[W - 1], deviations[W - 1], squares[W - 1]};
    last_peak = peak[W - 1];
    last_fresh = fresh[W - 1];
    return true;
  }
#endif

 public:

  template <class Archive>
  void fields(Archive& a) {
    window_.fields(a);
    a(shift_);
    a(deviations_);
    a(squares_);
    a(peak_);
    a(since_resum_);
    if (Archive::loading) {
      fresh_ = 0.0;
      window_.each_newest(since_resum_, [&](double value) { fresh_ += value; });
    }
  }

 private:
  // Sum of squared deviations from the window mean.
  double centred_squares() const { return squares_ - deviations_ * (deviations_ * reciprocal_); }
  // `window_sum`: the plain sum of the window, oldest first.
  void resum(double window_sum) {
    since_resum_ = 0;
    fresh_ = 0.0;
    const size_t n = window_.size();
    shift_ = window_sum / static_cast<double>(n);
    deviations_ = 0.0;
    squares_ = 0.0;
    window_.each_oldest([&](double value) {
      const double d = value - shift_;
      deviations_ += d;
      squares_ += d * d;
    });
    peak_ = squares_;
  }

  Ring window_;
  int64_t period_ = 1;
  double reciprocal_ = 1.0;  // 1 / period: the per-bar divisions become products
  double shift_ = 0.0;
  double deviations_ = 0.0;
  double squares_ = 0.0;
  double peak_ = 0.0;  // largest sum of squares since the last re-adding
  double fresh_ = 0.0;  // plain sum of the values since the last re-adding
  int64_t since_resum_ = 0;
};

// Variances and covariance of the last `period` pairs (x, y).
class WindowCoMoments {
 public:
  WindowCoMoments() = default;
  explicit WindowCoMoments(int64_t period)
      : xs_(period), ys_(period), period_(period), reciprocal_(1.0 / static_cast<double>(period)) {}

  // Adds the pair and drops the pair leaving; true once the window is full.
  bool push(double x, double y) {
    const bool was_full = xs_.full();
    const double leaving_x = xs_.push(x);
    const double leaving_y = ys_.push(y);
    fresh_x_ += x;
    fresh_y_ += y;
    if (++since_resum_ >= period_ || xs_.size() == 1) {
      resum(fresh_x_, fresh_y_);
    } else {
      add(x - shift_x_, y - shift_y_, 1.0);
      if (was_full) add(leaving_x - shift_x_, leaving_y - shift_y_, -1.0);
      peak_x_ = select_greater(sxx_, peak_x_);
      peak_y_ = select_greater(syy_, peak_y_);
    }
    if (!xs_.full()) return false;
    const double n = static_cast<double>(period_);
    if (variance_has_cancelled(centred_xx(), peak_x_, shift_x_, n) ||
        variance_has_cancelled(centred_yy(), peak_y_, shift_y_, n)) {
      resum(xs_.sum(), ys_.sum());
    }
    return true;
  }
  // Sums of squared and crossed deviations from the window means (n times the population
  // moments); the squared ones never negative.
  double centred_xx() const { return sxx_ - sx_ * (sx_ * reciprocal_); }
  double centred_yy() const { return syy_ - sy_ * (sy_ * reciprocal_); }
  double centred_xy() const { return sxy_ - sx_ * (sy_ * reciprocal_); }
  int64_t period() const { return period_; }
  bool full() const { return xs_.full(); }

  // push(xs[i], ys[i]) for i < count on a full window whose pairs are also xs, ys[-period .. -1]
  // (the rings are not read; they take the bars at the end), calling emit(i, xx, yy, xy) with
  // the centred sums after each: push's operations with the sums in locals, the re-adding
  // schedule in spans, and where lanes exist Width (2, or 4 inside the AVX2 copy) spans between
  // re-addings side by side (run_spans), emit then taking DoubleLanes<W> for bars i, i + period, ...
  template <int Width = 2, class Emit>
  void run_full(const double* xs, const double* ys, ptrdiff_t count, Emit&& emit) {
    const ptrdiff_t period = static_cast<ptrdiff_t>(period_);
    const double n = static_cast<double>(period_), reciprocal = reciprocal_;
    double shift_x = shift_x_, shift_y = shift_y_, sx = sx_, sy = sy_, sxx = sxx_, syy = syy_, sxy = sxy_;
    double peak_x = peak_x_, peak_y = peak_y_, fresh_x = fresh_x_, fresh_y = fresh_y_;
    ptrdiff_t since_resum = static_cast<ptrdiff_t>(since_resum_);
    // resum about the means of the window ending at bar `at`, whose plain sums are given.
    const auto resum_at = [&](ptrdiff_t at, double sum_x, double sum_y) {
      since_resum = 0;
      fresh_x = fresh_y = 0.0;
      shift_x = sum_x / n;
      shift_y = sum_y / n;
      sx = sy = sxx = syy = sxy = 0.0;
      for (ptrdiff_t k = at + 1 - period; k <= at; ++k) {
        const double dx = xs[k] - shift_x, dy = ys[k] - shift_y;
        sx += dx;
        sy += dy;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
      }
      peak_x = sxx;
      peak_y = syy;
    };
    ptrdiff_t i = 0;
    while (i < count) {
      if (since_resum + 1 >= period) {  // the scheduled re-adding at i
#if defined(VELK_CLASSIC_LANES)
        const auto took_spans = [&]<int W>() {
          CoSumsOf<double> last;
          if (!run_spans<W>(xs, ys, i, emit, last)) return false;
          shift_x = last.shift_x, shift_y = last.shift_y, sx = last.sx, sy = last.sy;
          sxx = last.sxx, syy = last.syy, sxy = last.sxy, peak_x = last.peak_x, peak_y = last.peak_y;
          fresh_x = last.fresh_x, fresh_y = last.fresh_y;
          since_resum = period - 1;
          i += W * period;
          return true;
        };
        if (took_side_by_side<Width>(count - i, period, took_spans)) continue;
#endif
        fresh_x += xs[i];
        fresh_y += ys[i];
        resum_at(i, fresh_x, fresh_y);
      } else {
        const double x = xs[i], y = ys[i];
        fresh_x += x;
        fresh_y += y;
        ++since_resum;
        const double dx = x - shift_x, dy = y - shift_y;
        sx += dx;
        sy += dy;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
        const double lx = xs[i - period] - shift_x, ly = ys[i - period] - shift_y;
        sx -= lx;
        sy -= ly;
        sxx -= lx * lx;
        syy -= ly * ly;
        sxy -= lx * ly;
        peak_x = select_greater(sxx, peak_x);
        peak_y = select_greater(syy, peak_y);
      }
      const double xx = sxx - sx * (sx * reciprocal), yy = syy - sy * (sy * reciprocal);
      if (variance_has_cancelled(xx, peak_x, shift_x, n) || variance_has_cancelled(yy, peak_y, shift_y, n)) [[unlikely]] {
        double sum_x = 0.0, sum_y = 0.0;
        for (ptrdiff_t k = i + 1 - period; k <= i; ++k) sum_x += xs[k];
        for (ptrdiff_t k = i + 1 - period; k <= i; ++k) sum_y += ys[k];
        resum_at(i, sum_x, sum_y);
        emit(i, sxx - sx * (sx * reciprocal), syy - sy * (sy * reciprocal), sxy - sx * (sy * reciprocal));
      } else {
        emit(i, xx, yy, sxy - sx * (sy * reciprocal));
      }
      ++i;
    }
    shift_x_ = shift_x, shift_y_ = shift_y, sx_ = sx, sy_ = sy, sxx_ = sxx, syy_ = syy, sxy_ = sxy;
    peak_x_ = peak_x, peak_y_ = peak_y, fresh_x_ = fresh_x, fresh_y_ = fresh_y;
    since_resum_ = static_cast<int64_t>(since_resum);
    xs_.push_many(xs, static_cast<size_t>(count));
    ys_.push_many(ys, static_cast<size_t>(count));
  }

  template <class Archive>
  void fields(Archive& a) {
    xs_.fields(a);
    ys_.fields(a);
    a(shift_x_);
    a(shift_y_);
    a(sx_);
    a(sy_);
    a(sxx_);
    a(syy_);
    a(sxy_);
    a(peak_x_);
    a(peak_y_);
    a(since_resum_);
    if (Archive::loading) {
      fresh_x_ = fresh_y_ = 0.0;
      xs_.each_newest(since_resum_, [&](double value) { fresh_x_ += value; });
      ys_.each_newest(since_resum_, [&](double value) { fresh_y_ += value; });
    }
  }

 private:
  void add(double dx, double dy, double sign) {
    sx_ += sign * dx;
    sy_ += sign * dy;
    sxx_ += sign * (dx * dx);
    syy_ += sign * (dy * dy);
    sxy_ += sign * (dx * dy);
  }
  template <class V>
  struct CoSumsOf {
    V shift_x, shift_y, sx, sy, sxx, syy, sxy, peak_x, peak_y, fresh_x, fresh_y;
  };
#if defined(VELK_CLASSIC_LANES)
  // Bars i .. i + W * period - 1 of run_full from a scheduled re-adding at i: the span from the
  // re-adding at i + k * period to the next in lane k, each lane the scalar operations in their
  // order; a re-adding takes the plain sums of its window from 0, oldest first (the bits of the
  // sums accumulated since the one before), so every lane starts from the input alone. False if
  // a variance cancels in any lane (run_full then takes these bars again, rewriting their values;
  // the test's peak condition is taken after the spans, the peaks only growing between
  // re-addings); else the sums after the last span in `last`.
  template <int W, class Emit>
  bool run_spans(const double* xs, const double* ys, ptrdiff_t i, Emit& emit, CoSumsOf<double>& last) const {
    using V = DoubleLanes<W>;
    const ptrdiff_t period = static_cast<ptrdiff_t>(period_);
    const double n = static_cast<double>(period_), reciprocal = reciprocal_;
    const V shift_x = windows_ending<W>(xs, i, period) / n, shift_y = windows_ending<W>(ys, i, period) / n;
    V sx = {}, sy = sx, sxx = sx, syy = sx, sxy = sx, fresh_x = sx, fresh_y = sx;
    for (ptrdiff_t k = i + 1 - period; k <= i; ++k) {
      const V dx = across_spans<W>(xs, k, period) - shift_x, dy = across_spans<W>(ys, k, period) - shift_y;
      sx += dx;
      sy += dy;
      sxx += dx * dx;
      syy += dy * dy;
      sxy += dx * dy;
    }
    V peak_x = sxx, peak_y = syy;
    const V limit_x = 1e-20 * n * shift_x * shift_x, limit_y = 1e-20 * n * shift_y * shift_y;
    V dipped_x = {}, dipped_y = {};  // lane masks: a variance fell below its share of the peak
    for (ptrdiff_t j = i; j < i + period; ++j) {
      if (j > i) {
        const V x = across_spans<W>(xs, j, period), y = across_spans<W>(ys, j, period);
        fresh_x += x;
        fresh_y += y;
        const V dx = x - shift_x, dy = y - shift_y;
        sx += dx;
        sy += dy;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
        const V lx = spans_before<W>(x, xs[j - period]) - shift_x, ly = spans_before<W>(y, ys[j - period]) - shift_y;
        sx -= lx;
        sy -= ly;
        sxx -= lx * lx;
        syy -= ly * ly;
        sxy -= lx * ly;
        peak_x = select_greater(sxx, peak_x);
        peak_y = select_greater(syy, peak_y);
      }
      const V xx = sxx - sx * (sx * reciprocal), yy = syy - sy * (sy * reciprocal);
      dipped_x = or_less(dipped_x, xx, peak_x * kRedoShare);
      dipped_y = or_less(dipped_y, yy, peak_y * kRedoShare);
      emit(j, xx, yy, sxy - sx * (sy * reciprocal));
    }
    if (any_set(((FlagOf<V>)dipped_x & greater(peak_x, limit_x)) | ((FlagOf<V>)dipped_y & greater(peak_y, limit_y)))) [[unlikely]]
      return false;
    constexpr int e = W - 1;
    last = {shift_x[e], shift_y[e], sx[e], sy[e], sxx[e], syy[e], sxy[e], peak_x[e], peak_y[e], fresh_x[e], fresh_y[e]};
    return true;
  }
#endif

  void resum(double sum_x, double sum_y) {
    since_resum_ = 0;
    fresh_x_ = fresh_y_ = 0.0;
    const size_t n = xs_.size();
    shift_x_ = sum_x / static_cast<double>(n);
    shift_y_ = sum_y / static_cast<double>(n);
    sx_ = sy_ = sxx_ = syy_ = sxy_ = 0.0;
    for (size_t i = 0; i < n; ++i) add(xs_.oldest(i) - shift_x_, ys_.oldest(i) - shift_y_, 1.0);
    peak_x_ = sxx_;
    peak_y_ = syy_;
  }

  Ring xs_, ys_;
  int64_t period_ = 1;
  double reciprocal_ = 1.0;
  double shift_x_ = 0.0, shift_y_ = 0.0;
  double sx_ = 0.0, sy_ = 0.0, sxx_ = 0.0, syy_ = 0.0, sxy_ = 0.0;
  double peak_x_ = 0.0, peak_y_ = 0.0;
  double fresh_x_ = 0.0, fresh_y_ = 0.0;  // plain sums of the values since the last re-adding
  int64_t since_resum_ = 0;
};

// Least-squares line through the last `period` values against their bar positions. Kept as the
// sum S of deviations from the shift and the sum W of age * deviation (age 0 the newest): a new
// bar ages every value by one (W += S) and the value reaching age `period` leaves. The sum of
// squared deviations is kept only to notice a level change, as in WindowMoments.
class WindowRegression {
 public:
  WindowRegression() = default;
  explicit WindowRegression(int64_t period) : window_(period), period_(period) {
    const double n = static_cast<double>(period);
    reciprocal_ = 1.0 / n;
    half_span_ = (n - 1.0) * 0.5;
    sum_age_ = n * half_span_;
    slope_scale_ = 1.0 / (n * (n * (n - 1.0) * (2.0 * n - 1.0) / 6.0) - sum_age_ * sum_age_);
  }

  // Adds y; true once the window is full.
  bool push(double y) {
    const bool was_full = window_.full();
    const double leaving = window_.push(y);
    fresh_ += y;
    if (++since_resum_ >= period_ || window_.size() == 1) {
      resum(fresh_);
    } else {
      weighted_ += sum_;
      if (was_full) {
        const double l = leaving - shift_;
        sum_ -= l;
        squares_ -= l * l;
        weighted_ -= static_cast<double>(period_) * l;
      }
      const double d = y - shift_;
      sum_ += d;
      squares_ += d * d;
      peak_ = select_greater(squares_, peak_);  // a select: a new peak is a coin toss
    }
    if (!window_.full()) return false;
    if (variance_has_cancelled(squares_ - sum_ * (sum_ * reciprocal_), peak_, shift_, static_cast<double>(period_))) {
      resum(window_.sum());
    }
    return true;
  }
  // The sums a line is read from: the state's, or a run kernel's locals (V: a double, or lanes
  // of two windows).
  template <class V>
  struct LineOf {
    V shift, sum, weighted;
  };
  using Line = LineOf<double>;
  Line line() const { return {shift_, sum_, weighted_}; }
  // Slope per bar (positive when values rise with time).
  template <class V>
  V slope(const LineOf<V>& l) const {
    return (sum_age_ * l.sum - static_cast<double>(period_) * l.weighted) * slope_scale_;
  }
  double slope() const { return slope(line()); }
  // The line's value `ahead` bars after the newest (0: at the newest bar, -(period-1): the oldest).
  template <class V>
  V value_at(const LineOf<V>& l, double ahead) const {
    return l.shift + l.sum * reciprocal_ + slope(l) * (half_span_ + ahead);
  }
  double value_at(double ahead) const { return value_at(line(), ahead); }
  // Values in the window (period once full).
  int64_t size() const { return static_cast<int64_t>(window_.size()); }

  // push(y[t]) for t = from .. to - 1 (the `real_before` values before `from` were pushed last),
  // writing value(line) where the window is full and NaN before; the same operations as push,
  // with the sums in locals and the window read off y wherever it lies there. `value` takes a
  // LineOf<double> and, where lanes exist, a LineOf<Lanes>; width 4 (inside the AVX2 copy) also
  // a LineOf<DoubleLanes<4>>: four spans side by side where they fit.
  template <int Width = 2, class Out, class Value>
  void run_real(const double* y, ptrdiff_t from, ptrdiff_t to, Out* out, ptrdiff_t real_before, Value&& value) {
    const ptrdiff_t period = static_cast<ptrdiff_t>(period_);
    ptrdiff_t t = from;
    for (const ptrdiff_t ring_end = std::min(to, from + std::max<ptrdiff_t>(0, period - real_before)); t < ring_end; ++t) {
      const bool ready = push(y[t]);
      out[t] = static_cast<Out>(ready ? value(line()) : nan_value);
    }
    if (t == to) return;
    const ptrdiff_t kernel_from = t;
    const double n = static_cast<double>(period_);
    double shift = shift_, sum = sum_, weighted = weighted_, squares = squares_, peak = peak_, fresh = fresh_;
    int64_t since_resum = since_resum_;
#if defined(VELK_CLASSIC_LANES)
    AheadSum ahead;
    // The spans from a scheduled re-adding at t side by side; true (the state after them taken
    // over) unless a lane cancelled.
    const auto took_spans = [&]<int W>() {
      DoubleLanes<W> starts;
      if constexpr (W == 2)
        starts = Lanes{fresh + y[t], ahead.take(y, t, period, to)};
      else
        starts = windows_ending<W>(y, t, period);
      SpanEnd last;
      if (!run_spans<W>(y, t, starts, out, value, last)) return false;
      shift = last.shift, sum = last.sum, weighted = last.weighted, squares = last.squares, peak = last.peak;
      fresh = last.fresh;
      since_resum = period_ - 1;
      t += W * period - 1;
      return true;
    };
#endif
    // Re-adds the sums about the mean of the window y[at + 1 - period .. at], oldest first.
    const auto resum_at = [&](ptrdiff_t at, double window_sum) {
      since_resum = 0;
      fresh = 0.0;
      shift = window_sum / n;
      sum = weighted = squares = 0.0;
      double age = n;
      for (const double* v = y + at + 1 - period; v <= y + at; ++v) {
        const double d = *v - shift;
        age -= 1.0;
        sum += d;
        weighted += age * d;
        squares += d * d;
      }
      peak = squares;
    };
    for (; t < to; ++t) {
      const double x = y[t];
#if defined(VELK_CLASSIC_LANES)
      if (since_resum + 1 >= period_ && took_side_by_side<Width>(to - t, period, took_spans)) continue;
#endif
      fresh += x;
      if (++since_resum >= period_) {
        resum_at(t, fresh);
      } else {
        weighted += sum;
        const double l = y[t - period] - shift;
        sum -= l;
        squares -= l * l;
        weighted -= n * l;
        const double d = x - shift;
        sum += d;
        squares += d * d;
        peak = select_greater(squares, peak);
      }
      if (variance_has_cancelled(squares - sum * (sum * reciprocal_), peak, shift, n)) [[unlikely]] {
        double window_sum = 0.0;
        for (const double* v = y + t + 1 - period; v <= y + t; ++v) window_sum += *v;
        resum_at(t, window_sum);
      }
      out[t] = static_cast<Out>(value(Line{shift, sum, weighted}));
    }
    shift_ = shift, sum_ = sum, weighted_ = weighted, squares_ = squares, peak_ = peak, fresh_ = fresh;
    since_resum_ = since_resum;
    window_.push_many(y + kernel_from, static_cast<size_t>(to - kernel_from));
  }

 private:
#if defined(VELK_CLASSIC_LANES)
  // The sums after the last of a run of spans.
  struct SpanEnd {
    double shift, sum, weighted, squares, peak, fresh;
  };
  // Bars t .. t + W * period - 1 of run_real's loop from a scheduled re-adding at t: the span
  // between the re-addings at t + k * period and the next in lane k (a re-adding needs only the
  // input: `starts` holds the plain sums of the windows they take, oldest first), each lane the
  // loop's operations in the same order. A variance that cancels in any lane would move the later
  // re-addings: then false is returned (the scalar loop takes those bars again, rewriting their
  // outputs); else the state after the last span. (The cancellation test's second condition,
  // a peak above the limit, is taken after the spans: the peak only grows between re-addings.)
  template <int W, class Out, class Value>
  bool run_spans(const double* y, ptrdiff_t t, DoubleLanes<W> starts, Out* __restrict out, Value& value, SpanEnd& last) const {
    using V = DoubleLanes<W>;
    const ptrdiff_t period = static_cast<ptrdiff_t>(period_);
    const double n = static_cast<double>(period_), reciprocal = reciprocal_;
    const V shift = starts / n;
    V sum = {}, weighted = sum, squares = sum, fresh = sum;
    V age = sum + n;
    for (ptrdiff_t i = 1 - period; i <= 0; ++i) {
      const V d = across_spans<W>(y, t + i, period) - shift;
      age -= 1.0;
      sum += d;
      weighted += age * d;
      squares += d * d;
    }
    V peak = squares;
    const V limit = 1e-20 * n * shift * shift;
    V dipped = {};  // a lane mask: the variance fell below its share of the peak
    for (ptrdiff_t j = 0; j < period; ++j) {
      if (j > 0) {
        const V x = across_spans<W>(y, t + j, period);
        const V leaving = spans_before<W>(x, y[t + j - period]);
        fresh += x;
        weighted += sum;
        const V l = leaving - shift;
        sum -= l;
        squares -= l * l;
        weighted -= n * l;
        const V d = x - shift;
        sum += d;
        squares += d * d;
        peak = select_greater(squares, peak);
      }
      dipped = or_less(dipped, squares - sum * (sum * reciprocal), peak * kRedoShare);
      store_across_spans(out, t + j, period, value(LineOf<V>{shift, sum, weighted}));
    }
    if (any_set((FlagOf<V>)dipped & greater(peak, limit))) [[unlikely]] return false;
    last = {shift[W - 1], sum[W - 1], weighted[W - 1], squares[W - 1], peak[W - 1], fresh[W - 1]};
    return true;
  }
#endif

 public:
  template <class Archive>
  void fields(Archive& a) {
    window_.fields(a);
    a(shift_);
    a(sum_);
    a(weighted_);
    a(squares_);
    a(peak_);
    a(since_resum_);
    if (Archive::loading) {
      fresh_ = 0.0;
      window_.each_newest(since_resum_, [&](double value) { fresh_ += value; });
    }
  }

 private:
  // `window_sum`: the plain sum of the window, oldest first.
  void resum(double window_sum) {
    since_resum_ = 0;
    fresh_ = 0.0;
    const size_t n = window_.size();
    shift_ = window_sum / static_cast<double>(n);
    sum_ = 0.0;
    weighted_ = 0.0;
    squares_ = 0.0;
    double age = static_cast<double>(n);
    window_.each_oldest([&](double value) {
      const double d = value - shift_;
      age -= 1.0;
      sum_ += d;
      weighted_ += age * d;
      squares_ += d * d;
    });
    peak_ = squares_;
  }

  Ring window_;
  int64_t period_ = 2;
  // From the period: 1 / n, (n - 1) / 2, the sum of the ages and 1 / (n sum(age^2) - sum(age)^2).
  double reciprocal_ = 0.5, half_span_ = 0.5, sum_age_ = 1.0, slope_scale_ = 1.0;
  double shift_ = 0.0;
  double sum_ = 0.0;       // sum of (y - shift)
  double weighted_ = 0.0;  // sum of age * (y - shift)
  double squares_ = 0.0;   // sum of (y - shift)^2
  double peak_ = 0.0;      // largest sum of squares since the last re-adding
  double fresh_ = 0.0;     // plain sum of the values since the last re-adding
  int64_t since_resum_ = 0;
};

}  // namespace velk::classic
