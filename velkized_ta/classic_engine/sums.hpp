// Sums that ratios and weighted averages can rely on: a window sum that also re-adds after a
// collapse in magnitude and knows when its window holds only zeros, a linearly weighted window
// average, and a compensated running sum for cumulative totals.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "classic_engine/indicator.hpp"

namespace velk::classic {

#if defined(VELK_CLASSIC_LANES)
// select_greater in each lane (maxpd; the scalar form's semantics per lane).
inline Lanes select_greater(Lanes a, Lanes b) {
#if defined(__SSE2__)
  return _mm_max_pd(a, b);
#else
  return a > b ? a : b;
#endif
}
#if defined(__x86_64__) && !defined(__clang__)
// The same in each of four lanes (vmaxpd), for the span kernels of the AVX2 copy.
__attribute__((target("avx2,fma"))) inline DoubleLanes<4> select_greater(DoubleLanes<4> a, DoubleLanes<4> b) {
  return (DoubleLanes<4>)_mm256_max_pd((__m256d)a, (__m256d)b);
}
__attribute__((target("avx2,fma"))) inline DoubleLanes<4> or_less_avx2(DoubleLanes<4> mask, DoubleLanes<4> a, DoubleLanes<4> b) {
  return (DoubleLanes<4>)_mm256_or_pd((__m256d)mask, _mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_LT_OQ));
}
#endif
// y[i], y[i + apart], ... in the W lanes of a vector: bar i of W spans laid side by side.
template <int W>
inline DoubleLanes<W> across_spans(const double* y, ptrdiff_t i, ptrdiff_t apart) {
  if constexpr (W == 2)
    return DoubleLanes<2>{y[i], y[i + apart]};
  else
    return DoubleLanes<4>{y[i], y[i + apart], y[i + 2 * apart], y[i + 3 * apart]};
}
// {first, v[0], .., v[W - 2]}: the lanes' bars `apart` earlier, given v = across_spans(y, i,
// apart) and first = y[i - apart] (one load and a lane shift instead of W loads).
template <int W>
inline DoubleLanes<W> spans_before(DoubleLanes<W> v, double first) {
  if constexpr (W == 2)
    return __builtin_shufflevector(v, DoubleLanes<2>{first, first}, 2, 0);
  else
    return __builtin_shufflevector(v, DoubleLanes<4>{first, first, first, first}, 4, 0, 1, 2);
}
// across_spans for the value type of a span kernel's outputs (a double: y[i] alone).
template <class V>
inline V across_spans_of(const double* y, ptrdiff_t i, ptrdiff_t apart) {
  if constexpr (std::is_same_v<V, double>)
    return y[i];
  else
    return across_spans<lane_width<V>>(y, i, apart);
}
// values[k] into out[at + k * apart] for each lane k (a double into out[at]).
template <class Out, class V>
inline void store_across_spans(Out* out, ptrdiff_t at, ptrdiff_t apart, V values) {
  if constexpr (std::is_same_v<V, double>) {
    out[at] = static_cast<Out>(values);
  } else {
    out[at] = static_cast<Out>(values[0]);
    out[at + apart] = static_cast<Out>(values[1]);
    if constexpr (lane_width<V> == 4) {
      out[at + 2 * apart] = static_cast<Out>(values[2]);
      out[at + 3 * apart] = static_cast<Out>(values[3]);
    }
  }
}
// The plain sums of the windows ending at bars t, t + period, ..., in the W lanes, each oldest
// first from 0 (as a re-adding at its end takes it), the W chains side by side.
template <int W>
inline DoubleLanes<W> windows_ending(const double* y, ptrdiff_t t, ptrdiff_t period) {
  DoubleLanes<W> sums = {};
  for (ptrdiff_t i = 1 - period; i <= 0; ++i) sums += across_spans<W>(y, t + i, period);
  return sums;
}
// mask | (a < b) in each lane, as one compare and one or.
template <class V>
inline V or_less(V mask, V a, V b) {
#if defined(__x86_64__) && !defined(__clang__)
  if constexpr (lane_width<V> == 4)
    return or_less_avx2(mask, a, b);
  else
    return (V)_mm_or_pd((__m128d)mask, _mm_cmplt_pd((__m128d)a, (__m128d)b));
#else
  using Mask = typename LaneVectors<lane_width<V>>::Mask;
  return (V)((Mask)mask | (Mask)(a < b));
#endif
}
// A run kernel's choice at a scheduled re-adding: took.template operator()<W>() runs the block of
// W spans side by side (false if it had to give up), four where Width allows and `left` bars
// hold them, else two; true once a block was taken.
template <int Width, class Took>
inline bool took_side_by_side(ptrdiff_t left, ptrdiff_t period, Took& took) {
  if constexpr (Width == 4) {
    if (left >= 4 * period && took.template operator()<4>()) return true;
  }
  return left >= 2 * period && took.template operator()<2>();
}
inline bool any_lane_set(Lanes mask) {
#if defined(__SSE2__)
  return _mm_movemask_pd(mask) != 0;
#else
  return (((LaneMask)mask)[0] | ((LaneMask)mask)[1]) != 0;
#endif
}
// The plain sum of the window y[t + 1 .. t + period], oldest first, for the span pair from t;
// each call also sums the next pair's, so that its chain of additions runs beside this pair's
// instead of before the next one.
struct AheadSum {
  double sum = 0.0;
  ptrdiff_t pair = -1;  // the pair's first bar that `sum` belongs to

  double take(const double* y, ptrdiff_t t, ptrdiff_t period, ptrdiff_t to) {
    double now = sum;
    if (pair != t) now = window_after(y, t, period);
    pair = -1;
    if (to - t > 3 * period) {
      sum = window_after(y, t + 2 * period, period);
      pair = t + 2 * period;
    }
    return now;
  }
  static double window_after(const double* y, ptrdiff_t t, ptrdiff_t period) {
    double total = 0.0;
    for (const double* v = y + t + 1; v <= y + t + period; ++v) total += *v;
    return total;
  }
};

#endif

// window.push(x[i]) for i < count on a full window whose values are also x[-capacity .. -1] (the
// ring is not read; it takes the bars at the end), calling emit(i, sum) after each push: the
// push's operations in its order with the sums in locals and the re-adding schedule in spans.
// Where lanes exist, two spans between re-addings run side by side (the second starting from
// the plain sum of the first's values, as its re-adding takes it), each lane the scalar
// operations: emit(i, Lanes) then gives the sums at bars i and i + capacity.
template <class Emit>
inline void run_window_sum(WindowSum& window, const double* x, ptrdiff_t count, Emit&& emit) {
  const ptrdiff_t period = static_cast<ptrdiff_t>(window.ring.capacity());
  double sum = window.sum, fresh = window.fresh;
  ptrdiff_t since_resum = static_cast<ptrdiff_t>(window.since_resum);
#if defined(VELK_CLASSIC_LANES)
  AheadSum ahead;
#endif
  ptrdiff_t i = 0;
  while (i < count) {
    if (since_resum + 1 < period) {
      const ptrdiff_t plain_end = std::min(count, i + (period - 1 - since_resum));
      since_resum += plain_end - i;
      for (; i < plain_end; ++i) {
        const double value = x[i];
        fresh += value;
        sum += value;
        sum -= x[i - period];
        emit(i, sum);
      }
      continue;
    }
#if defined(VELK_CLASSIC_LANES)
    if (count - i >= 2 * period) {
      Lanes sums = {fresh + x[i], ahead.take(x, i, period, count)};
      Lanes fresh_sums = {0.0, 0.0};
      emit(i, sums);
      for (ptrdiff_t j = i + 1; j < i + period; ++j) {
        const Lanes value = {x[j], x[j + period]};
        const Lanes leaving = {x[j - period], x[j]};
        fresh_sums += value;
        sums += value;
        sums -= leaving;
        emit(j, sums);
      }
      sum = sums[1];
      fresh = fresh_sums[1];
      since_resum = period - 1;
      i += 2 * period;
      continue;
    }
#endif
    fresh += x[i];  // the scheduled re-adding
    sum = fresh;
    fresh = 0.0;
    since_resum = 0;
    emit(i, sum);
    ++i;
  }
  window.sum = sum;
  window.fresh = fresh;
  window.since_resum = static_cast<int64_t>(since_resum);
  window.ring.push_many(x, static_cast<size_t>(count));
}

// average.push(x[i]) and value() into out[i] for i < count on a full window whose values are
// also x[-period .. -1] (run_window_sum).
template <class Out>
inline void run_simple_average(SimpleAverage& average, const double* x, ptrdiff_t count, Out* out) {
  if (count <= 0) return;
  const double period = average.period;
  const ptrdiff_t apart = static_cast<ptrdiff_t>(average.sum.ring.capacity());
  run_window_sum(average.sum, x, count, [&](ptrdiff_t i, auto sum) {
    if constexpr (std::is_same_v<decltype(sum), double>) {
      out[i] = static_cast<Out>(sum / period);
    } else {
      const auto values = sum / period;
      out[i] = static_cast<Out>(values[0]);
      out[i + apart] = static_cast<Out>(values[1]);
    }
  });
  average.average = average.sum.sum / period;
}

// A window sum for the numerator or denominator of a ratio. Besides re-adding from the window
// every `capacity` bars (as WindowSum), it re-adds when the window's magnitude (sum of |x|) has
// fallen far below its peak since the last re-adding: after a large value leaves (a level drop),
// the rounding it left behind would otherwise be a large part of a small sum until the next
// scheduled re-adding. A window holding only zeros sums to exactly 0.
class GuardedWindowSum {
 public:
  GuardedWindowSum() = default;
  explicit GuardedWindowSum(int64_t period) : ring_(period) {}

  double push(double value) {
    const bool was_full = ring_.full();
    const double pushed_out = ring_.push(value);
    // +0 while filling: x - +0 is x exactly (also for x = -0), so the subtraction needs no branch.
    const double leaving = was_full ? pushed_out : 0.0;
    nonzero_ += (value != 0.0) - (leaving != 0.0);
    fresh_sum_ += value;
    fresh_magnitude_ += std::fabs(value);
    if (++since_resum_ >= static_cast<int64_t>(ring_.capacity())) {
      take_fresh();
    } else {
      sum_ += value;
      magnitude_ += std::fabs(value);
      sum_ -= leaving;
      magnitude_ -= std::fabs(leaving);
      peak_ = select_greater(magnitude_, peak_);  // a select: a new peak is a coin toss
      if (magnitude_ < peak_ * kCollapse) resum();
    }
    return sum();
  }
  bool full() const { return ring_.full(); }
  double sum() const { return nonzero_ == 0 ? 0.0 : sum_; }

  // push(values[i]) for i = 0 .. count - 1, writing each push's sum to sums[i]: the step's
  // operations in its order, with the state in locals between the re-addings (which run the step).
  // `sums` may be `values`.
  void push_run(const double* values, size_t count, double* sums) {
    size_t i = 0;
    for (; i < count && !ring_.full(); ++i) sums[i] = push(values[i]);
    const size_t capacity = ring_.capacity();
    while (i < count) {
      // Pushes before the next scheduled re-adding and the ring's wrap.
      size_t stop = count;
      stop = std::min(stop, i + (capacity - 1 - static_cast<size_t>(since_resum_)));
      stop = std::min(stop, i + (capacity - ring_.position()));
      if (stop == i) {
        sums[i] = push(values[i]);
        ++i;
        continue;
      }
      double* slots = ring_.slots() + ring_.position();
      const double* in = values + i;
      double* out = sums + i;
      const size_t n = stop - i;
      double sum = sum_, magnitude = magnitude_, peak = peak_;
      double fresh_sum = fresh_sum_, fresh_magnitude = fresh_magnitude_;
      int64_t nonzero = nonzero_;
      size_t j = 0;
      bool collapsed = false;
      for (; j < n; ++j) {
        const double value = in[j];
        const double leaving = slots[j];
        slots[j] = value;
        nonzero += (value != 0.0) - (leaving != 0.0);
        fresh_sum += value;
        fresh_magnitude += std::fabs(value);
        sum += value;
        magnitude += std::fabs(value);
        sum -= leaving;
        magnitude -= std::fabs(leaving);
        peak = select_greater(magnitude, peak);
        if (magnitude < peak * kCollapse) [[unlikely]] {
          collapsed = true;
          ++j;
          break;
        }
        out[j] = nonzero == 0 ? 0.0 : sum;
      }
      sum_ = sum;
      magnitude_ = magnitude;
      peak_ = peak;
      fresh_sum_ = fresh_sum;
      fresh_magnitude_ = fresh_magnitude;
      nonzero_ = nonzero;
      since_resum_ += static_cast<int64_t>(j);
      ring_.advance_full(j);
      i += j;
      if (collapsed) {
        resum();
        sums[i - 1] = this->sum();
      }
    }
  }

  template <class Archive>
  void fields(Archive& a) {
    ring_.fields(a);
    a(sum_);
    a(magnitude_);
    a(peak_);
    a(nonzero_);
    a(since_resum_);
    if (Archive::loading) {
      fresh_sum_ = fresh_magnitude_ = 0.0;
      ring_.each_newest(since_resum_, [&](double value) {
        fresh_sum_ += value;
        fresh_magnitude_ += std::fabs(value);
      });
    }
  }

 private:
  // 2^-14: rounding from before a collapse stays below 1e-11 of the sum for windows of up to
  // thousands of bars.
  static constexpr double kCollapse = 1.0 / 16384.0;

  // The scheduled re-adding: the window's values arrived since the last one, so their sums,
  // accumulated as they came (from 0, oldest first), are the bits of a pass over the ring.
  void take_fresh() {
    since_resum_ = 0;
    sum_ = fresh_sum_;
    magnitude_ = fresh_magnitude_;
    peak_ = magnitude_;
    fresh_sum_ = fresh_magnitude_ = 0.0;
  }
  // After a collapse (rare): a pass over the ring.
  void resum() {
    since_resum_ = 0;
    sum_ = 0.0;
    magnitude_ = 0.0;
    ring_.each_oldest([&](double value) {
      sum_ += value;
      magnitude_ += std::fabs(value);
    });
    peak_ = magnitude_;
    fresh_sum_ = fresh_magnitude_ = 0.0;
  }

  Ring ring_;
  double sum_ = 0.0;
  double magnitude_ = 0.0;
  double peak_ = 0.0;
  double fresh_sum_ = 0.0;  // sums of the values since the last re-adding
  double fresh_magnitude_ = 0.0;
  int64_t nonzero_ = 0;
  int64_t since_resum_ = 0;
};

// Linearly weighted average of the last `period` values (the newest weighs period, the oldest 1).
// W' = W - S + n * x and S' = S - leaving + x, re-added from the window every period bars and after
// a collapse of the plain sum's magnitude, as GuardedWindowSum.
class GuardedWeightedAverage {
 public:
  GuardedWeightedAverage() = default;
  explicit GuardedWeightedAverage(int64_t period)
      : window_(period), divisor_(static_cast<double>(period) * static_cast<double>(period + 1) / 2.0) {}

  // True once the window is full (value() is then the average).
  bool push(double x) {
    const bool was_full = window_.full();
    const double leaving = window_.push(x);
    fresh_weighted_ += static_cast<double>(since_resum_ + 1) * x;
    fresh_plain_ += x;
    fresh_magnitude_ += std::fabs(x);
    if (++since_resum_ >= static_cast<int64_t>(window_.capacity())) {
      since_resum_ = 0;
      weighted_ = fresh_weighted_;
      plain_ = fresh_plain_;
      magnitude_ = peak_ = fresh_magnitude_;
      fresh_weighted_ = fresh_plain_ = fresh_magnitude_ = 0.0;
    } else {
      weighted_ = (was_full ? weighted_ - plain_ : weighted_) + static_cast<double>(window_.size()) * x;
      plain_ += x;
      magnitude_ += std::fabs(x);
      if (was_full) {
        plain_ -= leaving;
        magnitude_ -= std::fabs(leaving);
      }
      peak_ = select_greater(magnitude_, peak_);  // a select: a new peak is a coin toss
      if (magnitude_ < peak_ * (1.0 / 16384.0)) resum();
    }
    return window_.full();
  }
  double value() const { return weighted_ / divisor_; }
  bool full() const { return window_.full(); }
  int64_t period() const { return static_cast<int64_t>(window_.capacity()); }

  // The running sums, for a run kernel to keep in locals (registers) over a run of bars.
  struct Sums {
    double weighted, plain, magnitude, peak, fresh_weighted, fresh_plain, fresh_magnitude;
    int64_t since_resum;
  };
  Sums sums() const {
    return {weighted_, plain_, magnitude_, peak_, fresh_weighted_, fresh_plain_, fresh_magnitude_, since_resum_};
  }
  // push(x[i]) for i < count on a full window, calling emit(i, value()) after each, with the
  // sums in `s` and the window read off the array (x[-period .. -1]: the window before the run):
  // the same operations as push, the re-adding schedule split into spans so the bar loop has no
  // branch but the collapse test. The ring is not touched: end the run with end_run. Where lanes
  // exist, Width (2, or 4 inside the AVX2 copy) spans between re-addings run side by side: emit
  // then takes the values of bars i, i + period, ... in the lanes of a DoubleLanes<W>.
  template <int Width = 2, class Emit>
  void run_full(Sums& s, const double* x, ptrdiff_t count, Emit&& emit) const {
    const int64_t period = static_cast<int64_t>(window_.capacity());
    const double n = static_cast<double>(period), divisor = divisor_;
    double weighted = s.weighted, plain = s.plain, magnitude = s.magnitude, peak = s.peak;
    double fresh_weighted = s.fresh_weighted, fresh_plain = s.fresh_plain, fresh_magnitude = s.fresh_magnitude;
    int64_t since_resum = s.since_resum;
    ptrdiff_t i = 0;
    // After spans, the sums of the values since the last re-adding (x[i + 1 - period .. i - 1]) are
    // owed: only a scalar re-adding or the run's end needs them, so they are taken then, with the
    // operations the bars would have run.
    bool fresh_owed = false;
    const auto settle_fresh = [&] {
      if (!fresh_owed) return;
      fresh_owed = false;
      fresh_weighted = fresh_plain = fresh_magnitude = 0.0;
      double weight = 1.0;
      for (const double* v = x + i + 1 - period; v < x + i; ++v) {
        fresh_weighted += weight * *v;
        weight += 1.0;
        fresh_plain += *v;
        fresh_magnitude += std::fabs(*v);
      }
    };
    while (i < count) {
      if (since_resum + 1 >= period) {  // the scheduled re-adding at i
#if defined(VELK_CLASSIC_LANES)
        const auto took_spans = [&]<int W>() {
          Sums last;
          if (!run_spans<W>(last, x, i, emit)) return false;
          weighted = last.weighted, plain = last.plain, magnitude = last.magnitude, peak = last.peak;
          since_resum = last.since_resum;
          fresh_owed = true;
          i += W * period;
          return true;
        };
        if (took_side_by_side<Width>(count - i, period, took_spans)) continue;
        settle_fresh();
#endif
        const double value = x[i];
        fresh_weighted += n * value;  // its weight since_resum + 1 is the period
        fresh_plain += value;
        fresh_magnitude += std::fabs(value);
        since_resum = 0;
        weighted = fresh_weighted;
        plain = fresh_plain;
        magnitude = peak = fresh_magnitude;
        fresh_weighted = fresh_plain = fresh_magnitude = 0.0;
        emit(i, weighted / divisor);
        ++i;
        continue;
      }
      const ptrdiff_t span_start = i;
      const ptrdiff_t plain_end = std::min<ptrdiff_t>(count, i + (period - 1 - since_resum));
      double weight = static_cast<double>(since_resum + 1);
      bool collapsed = false;
      for (; i < plain_end; ++i) {
        const double value = x[i], leaving = x[i - period];
        fresh_weighted += weight * value;
        weight += 1.0;
        fresh_plain += value;
        fresh_magnitude += std::fabs(value);
        weighted = (weighted - plain) + n * value;
        plain += value;
        magnitude += std::fabs(value);
        plain -= leaving;
        magnitude -= std::fabs(leaving);
        peak = select_greater(magnitude, peak);
        if (magnitude < peak * (1.0 / 16384.0)) [[unlikely]] {
          collapsed = true;
          break;
        }
        emit(i, weighted / divisor);
      }
      if (collapsed) {
        Sums after;
        resum_from(after, x + i + 1 - period);
        weighted = after.weighted, plain = after.plain, magnitude = after.magnitude, peak = after.peak;
        fresh_weighted = fresh_plain = fresh_magnitude = 0.0;
        since_resum = 0;
        emit(i, weighted / divisor);
        ++i;
        continue;
      }
      since_resum += i - span_start;
    }
    settle_fresh();
    s = {weighted, plain, magnitude, peak, fresh_weighted, fresh_plain, fresh_magnitude, since_resum};
  }
  // After run_full over values[0 .. count - 1]: the sums and the ring as push would leave them.
  void end_run(const Sums& s, const double* values, size_t count) {
    weighted_ = s.weighted, plain_ = s.plain, magnitude_ = s.magnitude, peak_ = s.peak;
    fresh_weighted_ = s.fresh_weighted, fresh_plain_ = s.fresh_plain, fresh_magnitude_ = s.fresh_magnitude;
    since_resum_ = s.since_resum;
    window_.push_many(values, count);
  }
  // The ring's values, oldest first, into `to` (period values once full).
  void copy_window(double* to) const {
    window_.each_oldest([&](double value) { *to++ = value; });
  }

  template <class Archive>
  void fields(Archive& a) {
    window_.fields(a);
    a(weighted_);
    a(plain_);
    a(magnitude_);
    a(peak_);
    a(since_resum_);
    if (Archive::loading) {
      fresh_weighted_ = fresh_plain_ = fresh_magnitude_ = 0.0;
      double weight = 0.0;
      window_.each_newest(since_resum_, [&](double value) {
        weight += 1.0;
        fresh_weighted_ += weight * value;
        fresh_plain_ += value;
        fresh_magnitude_ += std::fabs(value);
      });
    }
  }

 private:
  // After a collapse (rare); the scheduled re-adding takes the sums accumulated since the last
  // one, which are the bits of this pass.
  void resum() {
    fresh_weighted_ = fresh_plain_ = fresh_magnitude_ = 0.0;
    since_resum_ = 0;
    weighted_ = 0.0;
    plain_ = 0.0;
    magnitude_ = 0.0;
    double weight = 0.0;
    window_.each_oldest([&](double value) {
      weight += 1.0;
      weighted_ += weight * value;
      plain_ += value;
      magnitude_ += std::fabs(value);
    });
    peak_ = magnitude_;
  }

#if defined(VELK_CLASSIC_LANES)
  // Bars i .. i + W * period - 1 of run_full from a scheduled re-adding at i: the span from the
  // re-adding at i + k * period to the next in lane k, each lane the scalar operations in the
  // same order. A re-adding takes the sums of its window, from 0 and oldest first (the bits of
  // the sums accumulated since the one before), so every lane starts from the input alone.
  // False if the magnitude collapses in any lane (run_full then takes these bars again,
  // rewriting their values); else `last`, the sums after the last span but those since its
  // re-adding (run_full takes them if it needs them).
  template <int W, class Emit>
  bool run_spans(Sums& last, const double* x, ptrdiff_t i, Emit& emit) const {
    using V = DoubleLanes<W>;
    const ptrdiff_t period = static_cast<ptrdiff_t>(window_.capacity());
    const double n = static_cast<double>(period), divisor = divisor_;
    V weighted = {}, plain = {}, sizes = {}, weight = {};
    for (ptrdiff_t v = i + 1 - period; v <= i; ++v) {
      const V value = across_spans<W>(x, v, period);
      weight += 1.0;
      weighted += weight * value;
      plain += value;
      sizes += classic::magnitude(value);
    }
    V peak = sizes;
    V collapsed = {};  // a lane mask
    emit(i, weighted / divisor);
    for (ptrdiff_t j = i + 1; j < i + period; ++j) {
      const V value = across_spans<W>(x, j, period), leaving = spans_before<W>(value, x[j - period]);
      weighted = (weighted - plain) + n * value;
      plain += value;
      sizes += classic::magnitude(value);
      plain -= leaving;
      sizes -= classic::magnitude(leaving);
      peak = select_greater(sizes, peak);
      collapsed = or_less(collapsed, sizes, peak * (1.0 / 16384.0));
      emit(j, weighted / divisor);
    }
    if (any_set((FlagOf<V>)collapsed)) [[unlikely]] return false;
    last = {weighted[W - 1], plain[W - 1], sizes[W - 1], peak[W - 1], 0.0, 0.0, 0.0, period - 1};  // the fresh sums owed
    return true;
  }
#endif

  // resum's operations on the window oldest[0 .. period - 1], into `s`.
  void resum_from(Sums& s, const double* oldest) const {
    s.fresh_weighted = s.fresh_plain = s.fresh_magnitude = 0.0;
    s.since_resum = 0;
    s.weighted = s.plain = s.magnitude = 0.0;
    double weight = 0.0;
    for (const double* v = oldest; v < oldest + window_.capacity(); ++v) {
      weight += 1.0;
      s.weighted += weight * *v;
      s.plain += *v;
      s.magnitude += std::fabs(*v);
    }
    s.peak = s.magnitude;
  }

  Ring window_;
  double divisor_ = 1.0;
  double weighted_ = 0.0;
  double plain_ = 0.0;
  double magnitude_ = 0.0;
  double peak_ = 0.0;
  double fresh_weighted_ = 0.0;  // sums of the values since the last re-adding
  double fresh_plain_ = 0.0;
  double fresh_magnitude_ = 0.0;
  int64_t since_resum_ = 0;
};

// A running total with Neumaier's compensation: the rounding of each addition is kept and added
// back, so a total over millions of bars is as exact as a sum of a few terms.
class CompensatedSum {
 public:
  void add(double x) {
    const double total = sum_ + x;
    if (std::fabs(sum_) >= std::fabs(x)) {
      compensation_ += (sum_ - total) + x;
    } else {
      compensation_ += (x - total) + sum_;
    }
    sum_ = total;
  }
  void reset() {
    sum_ = 0.0;
    compensation_ = 0.0;
  }
  double value() const { return sum_ + compensation_; }
  // The rounded total and what it has lost, apart (for a run kernel's locals), and set back.
  double total() const { return sum_; }
  double compensation() const { return compensation_; }
  void set(double total, double compensation) {
    sum_ = total;
    compensation_ = compensation;
  }

  template <class Archive>
  void fields(Archive& a) {
    a(sum_);
    a(compensation_);
  }

 private:
  double sum_ = 0.0;
  double compensation_ = 0.0;
};

}  // namespace velk::classic
