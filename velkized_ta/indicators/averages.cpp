// Simple averages and regression: moving average, regression slope, midpoint.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/fma.hpp"
#include "indicators/declarations.hpp"
#include "indicators/position_queue.hpp"

namespace velk::indicators {

namespace {

// `value`, or +0 for a missing value. Adding or subtracting +0 leaves a window
// sum unchanged, as skipping would, because the sum is never -0: it starts at +0,
// and a float sum or difference is -0 only when its first operand already is.
inline float present_or_zero(float value) { return is_missing(value) ? 0.0f : value; }

using Lanes = float __attribute__((vector_size(16)));
using Counts = int32_t __attribute__((vector_size(16)));

inline Lanes as_lanes(Counts bits) { return reinterpret_cast<Lanes>(bits); }
inline Counts as_counts(Lanes values) { return reinterpret_cast<Counts>(values); }

// Elements p .. p+3.
template <bool kContiguous>
inline Lanes lanes_at(const FloatView& x, int64_t p) {
  Lanes v;
  if constexpr (kContiguous) {
    std::memcpy(&v, x.data() + p * int64_t{sizeof(float)}, sizeof v);
  } else {
    v = Lanes{x.get_unchecked(p), x.get_unchecked(p + 1), x.get_unchecked(p + 2), x.get_unchecked(p + 3)};
  }
  return v;
}

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
  const Counts none = {0, 0, 0, 0};
  int64_t i = begin;
  while (end - i >= 4) {
    const int64_t stretch_end = i + std::min(kStretch, end - i);
    Counts zero_divisor = none;
    for (; stretch_end - i >= 4; i += 4) {
      const Lanes in = lanes_at<kContiguous>(x, i);
      const Lanes gone = lanes_at<kContiguous>(x, i - period);
      const Counts in_present = in == in;
      const Counts gone_present = gone == gone;
      const Lanes add = as_lanes(as_counts(in) & in_present);
      const Lanes sub = as_lanes(as_counts(gone) & gone_present);
      const float s0 = (sum + add[0]) - sub[0];
      const float s1 = (s0 + add[1]) - sub[1];
      const float s2 = (s1 + add[2]) - sub[2];
      const float s3 = (s2 + add[3]) - sub[3];
      sum = s3;
      // Comparisons give -1 for true; the counts after each step are a prefix sum.
      Counts counts = gone_present - in_present;
      counts += __builtin_shuffle(counts, none, Counts{4, 0, 1, 2});
      counts += __builtin_shuffle(counts, none, Counts{4, 4, 0, 1});
      counts += count;
      count = counts[3];
      const Counts written = counts >= 1;
      Lanes result = Lanes{s0, s1, s2, s3} / __builtin_convertvector(counts, Lanes);
      if constexpr (kNormalize) {
        zero_divisor |= (in == 0.0f) & written;
        result = (result - in) / in;
      }
      // Lanes with an empty window keep what the output holds.
      if (out.contiguous()) {
        result = written ? result : lanes_at<true>(out, i);
        std::memcpy(out.data() + i * int64_t{sizeof(float)}, &result, sizeof result);
      } else {
        for (int k = 0; k < 4; ++k)
          if (written[k]) out.set_unchecked(i + k, result[k]);
      }
    }
    if (zero_divisor[0] | zero_divisor[1] | zero_divisor[2] | zero_divisor[3]) throw FloatDivision{};
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
void sma_kernel(const FloatView& input, const FloatView& output, int32_t period, bool normalize, int32_t start,
                int32_t n) {
  // Local copies: the views and the running state stay in registers across the output stores.
  const FloatView x = input;
  const FloatView out = output;
  float sum = 0.0f;
  int32_t count = 0;
  // The first pre-fill position is start - period: with the default window that is
  // -1, the last element, which the first main step removes again.
  for (int64_t k = int64_t{start} - period; k < start; ++k) {
    const float v = x[k];
    sum += present_or_zero(v);
    count += !is_missing(v);
  }
  // Reads at positions that may be out of range, one step at a time.
  auto checked_steps = [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) {
      const float entering = x[i];
      const float leaving = x[i - period];
      sum += present_or_zero(entering);
      sum -= present_or_zero(leaving);
      count += int32_t{!is_missing(entering)} - int32_t{!is_missing(leaving)};
      if (count < 1) continue;
      const float mean = sum / static_cast<float>(count);
      out.set(i, normalize ? divide(mean - entering, entering) : mean);
    }
  };
  const int64_t safe_begin = std::max<int64_t>({0, period, start});
  const int64_t safe_end = std::min({x.size(), out.size(), x.size() + period, int64_t{n}});
  if (safe_begin >= safe_end) {
    checked_steps(start, n);
    return;
  }
  checked_steps(start, safe_begin);
  const int64_t reached = normalize ? sma_groups<true>(x, out, period, safe_begin, safe_end, sum, count)
                                    : sma_groups<false>(x, out, period, safe_begin, safe_end, sum, count);
  checked_steps(reached, n);
}

// Least-squares slope over the last `period` values, with coordinates 1 .. period
// inside the window, moved one position per step through running sums.
// `deduction` is the window's sum without its first value, so the weighted sum
// shifts by one coordinate without a loop.
void lin_kernel(const FloatView& x, const FloatView& out, int32_t period, int32_t first, int32_t n,
                int32_t n_values) {
  const float p = static_cast<float>(period);
  const int32_t tail = sub32(n, n_values);
  const int32_t start_index = std::max(first, sub32(tail, period));

  float sum_y = 0.0f, sum_xy = 0.0f, sum_x = 0.0f, sum_x2 = 0.0f, deduction = 0.0f;
  for (int64_t step = 1; step <= period; ++step) {
    const int32_t y = static_cast<int32_t>(step);
    const float v = x[int64_t{start_index} + y - 1];
    if (y >= 2) deduction += v;
    const float fy = static_cast<float>(y);
    sum_y += v;
    sum_x += fy;
    sum_x2 += static_cast<float>(mul32(y, y));
    sum_xy = fused(v, fy, sum_xy);
  }
  // Zero for a period of 1 or less: then no slope is defined and nothing is written.
  const float denom = fused(p, sum_x2, -(sum_x * sum_x));
  const int64_t first_end = int64_t{start_index} + period - 1;
  if (denom != 0.0f && first_end >= tail) out.set(first_end, fused(p, sum_xy, -(sum_x * sum_y)) / denom);

  const int64_t begin = start_index;
  const int64_t end = int64_t{n} - period;
  // In range for i + period, i and i + 1 in x and i + period in the output.
  const int64_t safe_begin = std::max<int64_t>({begin, 0, -int64_t{period}});
  const int64_t safe_end = std::min({end, x.size() - period, x.size() - 1, out.size() - period});
  with_fma([&] {
    // The running sums and views live in this loop's registers, not behind references.
    const FloatView xs = x;
    const FloatView outs = out;
    float sy = sum_y, sxy = sum_xy, ded = deduction;
    const float sx = sum_x, d = denom;
    auto slope = [&] { return fused(p, sxy, -(sx * sy)) / d; };
    // Each step reads x[i + period], x[i] and x[i + 1] before it writes.
    auto checked_slides = [&](int64_t from, int64_t to) {
      for (int64_t i = from; i < to; ++i) {
        const float entering = xs[i + period];
        const float leaving = xs[i];
        const float second = xs[i + 1];
        sy += entering - leaving;
        sxy += fused(entering, p, -leaving) - ded;
        if (d != 0.0f) outs.set(i + period, slope());
        ded += entering - second;
      }
    };
    if (safe_begin >= safe_end) {
      checked_slides(begin, end);
      return;
    }
    checked_slides(begin, safe_begin);
    // Here no read can fail, and one step's second value is the next one's leaving value.
    float leaving = xs.get_unchecked(safe_begin);
    for (int64_t i = safe_begin; i < safe_end; ++i) {
      const float entering = xs.get_unchecked(i + period);
      const float second = xs.get_unchecked(i + 1);
      sy += entering - leaving;
      sxy += fused(entering, p, -leaving) - ded;
      if (d != 0.0f) outs.set_unchecked(i + period, slope());
      ded += entering - second;
      leaving = second;
    }
    checked_slides(safe_end, end);
  });
}

// Midpoint of the window's highest high and lowest low, or its relative
// deviation from the close. Both are evaluated in double and rounded once.
template <bool kChecked>
inline void write_mid(const FloatView& close, const FloatView& out, int64_t i, float hh, float ll, bool normalize) {
  const double half_range = static_cast<double>(hh - ll) * 0.5;
  if (normalize) {
    const float v = close.at<kChecked>(i);
    if (v == 0.0f) throw FloatDivision{};
    const float r = static_cast<float>(half_range + ll - static_cast<double>(v));
    out.put<kChecked>(i, r / v);
  } else {
    out.put<kChecked>(i, static_cast<float>(half_range + ll));
  }
}

void mid_kernel(const FloatView& close, const FloatView& out, HighQueue& highs, LowQueue& lows, int32_t period,
                bool normalize, int32_t start, int32_t n) {
  for (int64_t i = int64_t{start} - period + 1; i < start; ++i) {
    highs.push(static_cast<int32_t>(i));
    lows.push(static_cast<int32_t>(i));
  }
  for (int32_t i = start; i < n; ++i) {
    const int32_t expired = sub32(i, period);
    highs.expire(expired);
    lows.expire(expired);
    highs.push(i);
    lows.push(i);
    write_mid<true>(close, out, i, highs.front_value(), lows.front_value(), normalize);
  }
}

// The same run on ring queues, taken when no access can fail and nothing written
// shares memory with anything else used; false, having done nothing, otherwise.
bool fast_mid_kernel(const FloatView& high, const FloatView& low, const FloatView& close, const FloatView& out,
                     const IntView& high_slots, const IntView& low_slots, int32_t period, bool normalize,
                     int32_t start, int32_t n) {
  if (!extremes_in_range(high, low, high_slots, low_slots, period, start, n)) return false;
  if (close.size() < n || out.size() < n) return false;
  if (!separate({Span(out), Span(high_slots), Span(low_slots)}, {Span(high), Span(low), Span(close)})) return false;
  return scan_extremes(high, low, period, start, n, [close, out, normalize](int64_t i, float hh, float ll) {
    write_mid<false>(close, out, i, hh, ll, normalize);
  });
}

}  // namespace

PyObject* Sma::run(Call& call, const Args& args) {
  PyObject* input_array = args.input_array.object;
  const FloatView& x = args.input_array.view;
  const int32_t timeperiod = args.timeperiod;
  const bool normalize = args.normalize;
  const int32_t n_values = args.n_values;

  const int32_t n = call.length(input_array);
  auto [sma, out] = call.new_output(n);
  const int32_t start = trailing_start(sub32(timeperiod, 1), n, n_values);
  run_native(n, [&] { sma_kernel(x, out, timeperiod, normalize, start, n); });
  return sma.release();
}

PyObject* Lin::run(Call& call, const Args& args) {
  PyObject* input_array = args.input_array.object;
  const FloatView& x = args.input_array.view;
  const int32_t timeperiod = args.timeperiod;
  const int32_t n_values = args.n_values;

  const int32_t n = call.length(input_array);
  auto [lin, out] = call.new_output(n);

  // Leading missing values are skipped: the first window starts at the first
  // value found within the search bounds. Nothing is written if there is none.
  const int32_t a = sub32(n, mul32(2, timeperiod));
  const int32_t lo = sub32(a, std::min(a, n_values));
  const int32_t hi = sub32(n, timeperiod);
  for (int64_t k = lo; k < hi; ++k) {
    if (!is_missing(x[k])) {
      run_native(n, [&] { lin_kernel(x, out, timeperiod, static_cast<int32_t>(k), n, n_values); });
      break;
    }
  }
  return lin.release();
}

PyObject* Mid::run(Call& call, const Args& args) {
  const FloatView& high = args.high.view;
  const FloatView& low = args.low.view;
  PyObject* close_obj = args.close.object;
  const FloatView& close = args.close.view;
  const int32_t timeperiod = args.timeperiod;
  const bool normalize = args.normalize;
  const int32_t n_values = args.n_values;

  const int32_t n = call.length(close_obj);
  const int32_t start = trailing_start(sub32(timeperiod, 1), n, n_values);
  auto [mid, out] = call.new_output(n);
  auto [high_indices, high_slots] = call.new_positions(n);
  auto [low_indices, low_slots] = call.new_positions(n);
  run_native(n, [&] {
    if (fast_mid_kernel(high, low, close, out, high_slots, low_slots, timeperiod, normalize, start, n)) return;
    HighQueue highs(high_slots, high);
    LowQueue lows(low_slots, low);
    mid_kernel(close, out, highs, lows, timeperiod, normalize, start, n);
  });
  return mid.release();
}

}  // namespace velk::indicators
