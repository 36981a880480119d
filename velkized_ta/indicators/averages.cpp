// Simple averages and regression: moving average, regression slope, midpoint.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/lanes.hpp"
#include "driver/loop.hpp"
#include "frame/fma.hpp"
#include "indicators/combination_steps.hpp"
#include "indicators/declarations/sma.hpp"
#include "indicators/declarations/lin.hpp"
#include "indicators/declarations/mid.hpp"
#include "indicators/position_queue.hpp"
#include "indicators/regression_steps.hpp"
#include "indicators/route.hpp"

namespace velk::indicators {

namespace {

// `value`, or +0 for a missing value. Adding or subtracting +0 leaves a window
// sum unchanged, as skipping would, because the sum is never -0: it starts at +0,
// and a float sum or difference is -0 only when its first operand already is.
inline float present_or_zero(float value) { return is_missing(value) ? 0.0f : value; }


// Steps from `begin` in groups of four, while a whole group fits before `end`,
// every read and write of which is in range; returns the first step not taken.
// The running sum is stepped one value at a time as always; what surrounds it
// (the missing-value masks, the counts, the divisions, the stores) is done for
// four steps at once. A zero value stops the call as it would at its own step
// (checked once per stretch: what was written meanwhile goes with the failed call).
template <bool kNormalize, bool kContiguous>
int64_t sma_groups(const FloatView x, const FloatView out, int64_t period, int64_t begin, int64_t end,
                   float& running_sum, int32_t& running_count) {
  constexpr int64_t kStretch = 256;
  float sum = running_sum;
  int32_t count = running_count;
  const Mask none = {0, 0, 0, 0};
  int64_t i = begin;
  while (end - i >= 4) {
    const int64_t stretch_end = i + std::min(kStretch, end - i);
    Mask zero_divisor = none;
    for (; stretch_end - i >= 4; i += 4) {
      const Lanes in = load_lanes<kContiguous>(x, i);
      const Lanes gone = load_lanes<kContiguous>(x, i - period);
      const Mask in_present = in == in;
      const Mask gone_present = gone == gone;
      const Lanes add = from_bits(bits_of(in) & in_present);
      const Lanes sub = from_bits(bits_of(gone) & gone_present);
      const float s0 = (sum + add[0]) - sub[0];
      const float s1 = (s0 + add[1]) - sub[1];
      const float s2 = (s1 + add[2]) - sub[2];
      const float s3 = (s2 + add[3]) - sub[3];
      sum = s3;
      // Comparisons give -1 for true; the counts after each step are a prefix sum.
      Mask counts = gone_present - in_present;
#if defined(__clang__)  // the same shuffles; GCC's builtin is spelled differently
      counts += __builtin_shufflevector(counts, none, 4, 0, 1, 2);
      counts += __builtin_shufflevector(counts, none, 4, 4, 0, 1);
#else
      counts += __builtin_shuffle(counts, none, Mask{4, 0, 1, 2});
      counts += __builtin_shuffle(counts, none, Mask{4, 4, 0, 1});
#endif
      counts += count;
      count = counts[3];
      const Mask written = counts >= 1;
      Lanes result = Lanes{s0, s1, s2, s3} / __builtin_convertvector(counts, Lanes);
      if constexpr (kNormalize) {
        zero_divisor |= (in == 0.0f) & written;
        result = (result - in) / in;
      }
      // Lanes with an empty window keep what the output holds.
      if (out.contiguous()) {
        result = written ? result : load_lanes<true>(out, i);
        store_lanes<true>(out, i, result);
      } else {
        for (int k = 0; k < 4; ++k)
          if (written[k]) out.set_unchecked(i + k, result[k]);
      }
    }
    if (any(zero_divisor)) throw FloatDivision{};
  }
  running_sum = sum;
  running_count = count;
  return i;
}

template <bool kNormalize>
int64_t sma_groups(const FloatView& x, const FloatView& out, int64_t period, int64_t begin, int64_t end, float& sum,
                   int32_t& count) {
  return x.contiguous() ? sma_groups<kNormalize, true>(x, out, period, begin, end, sum, count)
                        : sma_groups<kNormalize, false>(x, out, period, begin, end, sum, count);
}

// Mean of the last `period` values, skipping missing ones; optionally as the
// relative deviation (mean - value) / value.
void sma_kernel(const FloatView x, const FloatView out, int32_t period, bool normalize, int32_t start, int32_t n) {
  float sum = 0.0f;
  int32_t count = 0;
  // The first pre-fill position is start - period: with the default window that is
  // -1, the last element, which the first main step removes again.
  for (int64_t k = int64_t{start} - period; k < start; ++k) {
    const float v = x[k];
    sum += present_or_zero(v);
    count += !is_missing(v);
  }
  auto step = [&](auto at, int64_t i) {
    const float entering = at.get(x, i);
    const float leaving = at.get(x, i - period);
    sum += present_or_zero(entering);
    sum -= present_or_zero(leaving);
    count += int32_t{!is_missing(entering)} - int32_t{!is_missing(leaving)};
    if (count < 1) return;
    const float mean = sum / static_cast<float>(count);
    at.put(out, i, normalize ? divide(mean - entering, entering) : mean);
  };
  const auto reaches = {reach(x, {0, -int64_t{period}}), reach(out)};
  const Stretch grouped = unchecked_stretch(start, n, reaches);
  run_steps(start, grouped.begin, reaches, step);
  const int64_t reached = normalize ? sma_groups<true>(x, out, period, grouped.begin, grouped.end, sum, count)
                                    : sma_groups<false>(x, out, period, grouped.begin, grouped.end, sum, count);
  run_steps(reached, n, reaches, step);
}

// Least-squares slope over the last `period` values, with coordinates 1 .. period
// inside the window, moved one position per step through running sums.
// `deduction` is the window's sum without its first value, so the weighted sum
// shifts by one coordinate without a loop.
void lin_kernel(const FloatView x, const FloatView out, int32_t period, int32_t first, int32_t n,
                int32_t n_values) {
  const float p = static_cast<float>(period);
  const int32_t tail = sub32(n, n_values);
  const int32_t start_index = std::max(first, sub32(tail, period));

  RegressionSums sums;
  for (int64_t step = 1; step <= period; ++step) {
    const int32_t y = static_cast<int32_t>(step);
    sums.enter(y, x[int64_t{start_index} + y - 1]);
  }
  // Zero for a period of 1 or less: then no slope is defined and nothing is written.
  const float d = sums.denominator(p);
  const int64_t first_end = int64_t{start_index} + period - 1;
  if (d != 0.0f && first_end >= tail) out.set(first_end, sums.slope(p, d));

  const int64_t begin = start_index;
  const int64_t end = int64_t{n} - period;
  // Each step reads x[i + period], x[i] and x[i + 1] before it writes.
  auto slide = [&](auto at, int64_t i) {
    const float entering = at.get(x, i + period);
    const float leaving = at.get(x, i);
    const float second = at.get(x, i + 1);
    sums.slide(entering, leaving, p);
    if (d != 0.0f) at.put(out, i + period, sums.slope(p, d));
    sums.shift_deduction(entering, second);
  };
  const auto reaches = {reach(x, {0, 1, period}), reach(out, {period})};
  const Stretch fast = unchecked_stretch(begin, end, reaches);
  run_steps(begin, fast.begin, reaches, slide);
  // Here no read can fail, and one step's second value is the next one's leaving value.
  if (fast.begin < fast.end) {
    RegressionSums local = sums;  // in registers for the unchecked stretch
    float leaving = x.get_unchecked(fast.begin);
    for (int64_t i = fast.begin; i < fast.end; ++i) {
      const float entering = x.get_unchecked(i + period);
      const float second = x.get_unchecked(i + 1);
      local.slide(entering, leaving, p);
      if (d != 0.0f) out.set_unchecked(i + period, local.slope(p, d));
      local.shift_deduction(entering, second);
      leaving = second;
    }
    sums = local;
  }
  run_steps(fast.end, end, reaches, slide);
}

// Midpoint of the window's highest high and lowest low, or its relative
// deviation from the close (indicators/combination_steps.hpp).
template <class A>
inline void write_mid(A at, const FloatView& close, const FloatView& out, int64_t i, float hh, float ll,
                      bool normalize) {
  const double midpoint = window_midpoint(hh, ll);
  if (normalize) {
    const float v = at.get(close, i);
    if (v == 0.0f) throw FloatDivision{};
    at.put(out, i, midpoint_deviation(midpoint, v) / v);
  } else {
    at.put(out, i, static_cast<float>(midpoint));
  }
}

// write_mid at positions from .. from + count - 1, eight at a time where close and out are
// contiguous, each lane the scalar operation; a block holding a zero close goes position by
// position, so the positions before the zero are written when it raises.
inline void write_mid_run(const FloatView& close, const FloatView& out, int64_t from, int64_t count,
                          const float* highest, const float* lowest, bool normalize) {
  using Floats = float __attribute__((vector_size(8 * sizeof(float))));
  using Doubles = double __attribute__((vector_size(8 * sizeof(double))));
  int64_t u = 0;
  if (close.contiguous() && out.contiguous()) {
    const float* closes = reinterpret_cast<const float*>(close.data()) + from;
    float* outs = reinterpret_cast<float*>(out.data()) + from;
    for (; u + 8 <= count; u += 8) {
      Floats hh, ll, v;
      std::memcpy(&hh, highest + u, sizeof hh);
      std::memcpy(&ll, lowest + u, sizeof ll);
      const Doubles midpoint = __builtin_convertvector(hh - ll, Doubles) * 0.5 + __builtin_convertvector(ll, Doubles);
      Floats values;
      if (normalize) {
        std::memcpy(&v, closes + u, sizeof v);
        bool zero = false;
        for (int k = 0; k < 8; ++k) zero |= v[k] == 0.0f;
        if (zero) break;  // the rest position by position
        values = __builtin_convertvector(midpoint - __builtin_convertvector(v, Doubles), Floats) / v;
      } else {
        values = __builtin_convertvector(midpoint, Floats);
      }
      std::memcpy(outs + u, &values, sizeof values);
    }
  }
  for (; u < count; ++u) write_mid(Access<false>{}, close, out, from + u, highest[u], lowest[u], normalize);
}

// The bodies, one per function for both routes (indicators/route.hpp).
template <class Route>
void sma_body(Route& route, const Sma::Args& args) {
  const int32_t n = route.length(args.input_array);
  const FloatView out = route.output(n);
  const int32_t start = trailing_start(sub32(args.timeperiod, 1), n, args.n_values);
  route.run(n, [&] { sma_kernel(args.input_array.view, out, args.timeperiod, args.normalize, start, n); });
}

template <class Route>
void lin_body(Route& route, const Lin::Args& args) {
  const FloatView& x = args.input_array.view;
  const int32_t n = route.length(args.input_array);
  const FloatView out = route.output(n);
  // Leading missing values are skipped: the first window starts at the first
  // value found within the search bounds. Nothing is written if there is none.
  const int32_t a = sub32(n, mul32(2, args.timeperiod));
  const int32_t lo = sub32(a, std::min(a, args.n_values));
  const int32_t hi = sub32(n, args.timeperiod);
  for (int64_t k = lo; k < hi; ++k) {
    if (!is_missing(x[k])) {
      route.run(n, [&] { lin_kernel(x, out, args.timeperiod, static_cast<int32_t>(k), n, args.n_values); });
      return;
    }
  }
}

template <class Route>
void mid_body(Route& route, const Mid::Args& args) {
  const int32_t n = route.length(args.close);
  const int32_t start = trailing_start(sub32(args.timeperiod, 1), n, args.n_values);
  const FloatView out = route.output_written_from(n, start);
  const IntView high_slots = route.positions(n);
  const IntView low_slots = route.positions(n);
  route.run(n, [&] {
    window_extremes<Expiry::Wrapping32>(
        args.high.view, args.low.view, args.close.view, out, high_slots, low_slots, args.timeperiod, start, n,
        {reach(args.close.view), reach(out)},
        [normalize = args.normalize](auto at, const FloatView& close, const FloatView& midpoint, int64_t i, float hh,
                                     float ll) { write_mid(at, close, midpoint, i, hh, ll, normalize); },
        [normalize = args.normalize](const FloatView& close, const FloatView& midpoint, int64_t from, int64_t count,
                                     const float* hh, const float* ll) {
          write_mid_run(close, midpoint, from, count, hh, ll, normalize);
        });
  });
}

}  // namespace

PyObject* Sma::run(Call& call, const Args& args) { return exact_entry(call, args, sma_body<ExactRoute>); }
PyObject* Lin::run(Call& call, const Args& args) { return exact_entry(call, args, lin_body<ExactRoute>); }
PyObject* Mid::run(Call& call, const Args& args) { return exact_entry(call, args, mid_body<ExactRoute>); }

template <>
void compute_series<Sma>(const Sma::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, sma_body<SeriesRoute>);
}
template <>
void compute_series<Lin>(const Lin::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, lin_body<SeriesRoute>);
}
template <>
void compute_series<Mid>(const Mid::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, mid_body<SeriesRoute>);
}

}  // namespace velk::indicators
