// Candle and spread measures.

#include <algorithm>
#include <cmath>
#include <limits>

#include "indicators/bodies.hpp"
#include "indicators/position_queue.hpp"

namespace velk::indicators {

namespace {

// Wick balance of a synthetic candle spanning the last `period` bars: its open is
// the close `period` bars back, its high and low the window's extremes. The open
// side of each wick is taken in double, the close side in float32.
void wick_kernel(const FloatView& close, const FloatView& out, HighQueue& highs, LowQueue& lows, int32_t period,
                 int32_t start, int32_t n) {
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
    const float max_high = highs.front_value();
    const float min_low = lows.front_value();
    const int64_t open_at = int64_t{i} - period;
    if (open_at < 0) {
      // Stored explicitly: with a period of zero or below, i itself is negative
      // and addresses the end of the series.
      out.set(i, std::numeric_limits<float>::quiet_NaN());
      continue;
    }
    const double previous_close = close[open_at];
    const float c = close[i];
    float top_wick, bottom_wick;
    if (static_cast<double>(c) > previous_close) {
      top_wick = max_high - c;
      bottom_wick = static_cast<float>(previous_close - static_cast<double>(min_low));
    } else {
      top_wick = static_cast<float>(static_cast<double>(max_high) - previous_close);
      bottom_wick = c - min_low;
    }
    out.set(i, divide(top_wick - bottom_wick, c));
  }
}

void adif_kernel(const FloatView& a, const FloatView& b, const FloatView& out, int32_t from, int32_t n) {
  for (int32_t i = from; i < n; ++i) {
    const float left = a[i];
    out.set(i, left - b[i]);
  }
}

// A zero reference is replaced by 1e-9 in double, so the result stays finite.
void rdif_kernel(const FloatView& a, const FloatView& b, const FloatView& out, int32_t from, int32_t n) {
  for (int32_t i = from; i < n; ++i) {
    const float reference = b[i];
    const float difference = a[i] - reference;
    if (reference != 0.0f) {
      out.set(i, difference / reference);
    } else {
      out.set(i, static_cast<float>(static_cast<double>(difference) / (static_cast<double>(reference) + 1e-9)));
    }
  }
}

using DifKernel = void (*)(const FloatView&, const FloatView&, const FloatView&, int32_t, int32_t);

PyObject* dif_body(Call& call, DifKernel kernel) {
  PyObject* input_array_1 = call.object(0);
  const FloatView& a = call.array(0);
  const FloatView& b = call.array(1);
  const int32_t n_values = call.integer(2);

  const int32_t n = call.length(input_array_1);
  Ref dif = call.new_series(n);
  const FloatView out = call.float_view(dif.get(), true);
  const int32_t m = std::min(n, n_values);
  if (m > 0) kernel(a, b, out, n - m, n);
  return dif.release();
}

}  // namespace

PyObject* velk_wick(Call& call) {
  const FloatView& high_arr = call.array(0);
  const FloatView& low_arr = call.array(1);
  PyObject* close_obj = call.object(2);
  const FloatView& close_arr = call.array(2);
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);

  const int32_t n = call.length(close_obj);
  const int32_t k = trailing_start(sub32(timeperiod, 1), n, n_values);
  Ref wick_arr = call.new_series(n);
  const FloatView out = call.float_view(wick_arr.get(), true);
  Ref high_indices = call.new_zeros(n, "int32");
  HighQueue highs(call.int_view(high_indices.get()), high_arr);
  Ref low_indices = call.new_zeros(n, "int32");
  LowQueue lows(call.int_view(low_indices.get()), low_arr);
  wick_kernel(close_arr, out, highs, lows, timeperiod, k, n);
  return wick_arr.release();
}

PyObject* velk_adif(Call& call) { return dif_body(call, adif_kernel); }
PyObject* velk_rdif(Call& call) { return dif_body(call, rdif_kernel); }

}  // namespace velk::indicators
