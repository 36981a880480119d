// Simple averages and regression: moving average, regression slope, midpoint.

#include <algorithm>
#include <cmath>

#include "frame/fma.hpp"
#include "indicators/bodies.hpp"
#include "indicators/position_queue.hpp"

namespace velk::indicators {

namespace {

// Running sum and count of the non-missing values in a sliding window.
struct WindowSum {
  float sum = 0.0f;
  int32_t count = 0;

  void add(float v) {
    if (is_missing(v)) return;
    sum += v;
    ++count;
  }
  void remove(float v) {
    if (is_missing(v)) return;
    sum -= v;
    --count;
  }
};

// Mean of the last `period` values, skipping missing ones; optionally as the
// relative deviation (mean - value) / value.
void sma_kernel(const FloatView& x, const FloatView& out, int32_t period, bool normalize, int32_t start,
                int32_t n) {
  WindowSum window;
  // The first pre-fill position is start - period: with the default window that is
  // -1, the last element, which the first main step removes again.
  for (int64_t k = int64_t{start} - period; k < start; ++k) window.add(x[k]);
  auto step = [&](auto checked, int64_t i) {
    constexpr bool kChecked = decltype(checked)::value;
    window.add(x.at<kChecked>(i));
    window.remove(x.at<kChecked>(i - period));
    if (window.count < 1) return;
    const float mean = window.sum / static_cast<float>(window.count);
    if (normalize) {
      const float v = x.at<kChecked>(i);
      out.put<kChecked>(i, divide(mean - v, v));
    } else {
      out.put<kChecked>(i, mean);
    }
  };
  const int64_t safe_begin = std::max<int64_t>(0, period);
  const int64_t safe_end = std::min({x.size(), out.size(), x.size() + period});
  split_loop(start, n, safe_begin, safe_end, step);
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
  const auto slope = [&] { return fused(p, sum_xy, -(sum_x * sum_y)) / denom; };

  const int64_t first_end = int64_t{start_index} + period - 1;
  if (denom != 0.0f && first_end >= tail) out.set(first_end, slope());

  auto slide = [&](auto checked, int64_t i) {
    constexpr bool kChecked = decltype(checked)::value;
    const float entering = x.at<kChecked>(i + period);
    const float leaving = x.at<kChecked>(i);
    const float second = x.at<kChecked>(i + 1);
    sum_y += entering - leaving;
    sum_xy += fused(entering, p, -leaving) - deduction;
    if (denom != 0.0f) out.put<kChecked>(i + period, slope());
    deduction += entering - second;
  };
  const int64_t safe_begin = std::max<int64_t>(0, -int64_t{period});
  const int64_t safe_end = std::min({x.size() - period, x.size() - 1, out.size() - period});
  with_fma([&] { split_loop(start_index, int64_t{n} - period, safe_begin, safe_end, slide); });
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

PyObject* velk_sma(Call& call) {
  PyObject* input_array = call.object(0);
  const FloatView& x = call.array(0);
  const int32_t timeperiod = call.integer(1);
  const bool normalize = call.flag(2);
  const int32_t n_values = call.integer(3);

  const int32_t n = call.length(input_array);
  auto [sma, out] = call.new_output(n);
  const int32_t start = trailing_start(sub32(timeperiod, 1), n, n_values);
  run_native(n, [&] { sma_kernel(x, out, timeperiod, normalize, start, n); });
  return sma.release();
}

PyObject* velk_lin(Call& call) {
  PyObject* input_array = call.object(0);
  const FloatView& x = call.array(0);
  const int32_t timeperiod = call.integer(1);
  const int32_t n_values = call.integer(2);

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

PyObject* velk_mid(Call& call) {
  const FloatView& high = call.array(0);
  const FloatView& low = call.array(1);
  PyObject* close_obj = call.object(2);
  const FloatView& close = call.array(2);
  const int32_t timeperiod = call.integer(3);
  const bool normalize = call.flag(4);
  const int32_t n_values = call.integer(5);

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

PyObject* not_implemented(Call& call) {
  PyErr_Format(PyExc_NotImplementedError, "%s is not implemented yet", call.def().name);
  return nullptr;
}

}  // namespace velk::indicators
