// Candle and spread measures.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "indicators/declarations.hpp"
#include "indicators/position_queue.hpp"

namespace velk::indicators {

namespace {

// Wick balance of a synthetic candle spanning the last `period` bars: its open is
// the close `period` bars back, its high and low the window's extremes.
template <bool kChecked>
inline void write_wick(const FloatView& close, const FloatView& out, int64_t i, int32_t period, float max_high,
                       float min_low) {
  const int64_t open_at = i - period;
  if (open_at < 0) {
    // Stored explicitly: with a period of zero or below, i itself is negative
    // and addresses the end of the series.
    out.put<kChecked>(i, std::numeric_limits<float>::quiet_NaN());
    return;
  }
  const float open = close.at<kChecked>(open_at);
  const float c = close.at<kChecked>(i);
  // The open side is a float32 value widened to double, so its differences taken in
  // double and rounded once equal the float32 differences. A NaN on either side
  // fails the comparison and the open takes the upper side. Selecting the sides
  // instead of branching keeps a coin-toss branch out of the loop.
  const bool rising = c > open;
  const float upper = rising ? c : open;
  const float lower = rising ? open : c;
  const float top_wick = max_high - upper;
  const float bottom_wick = lower - min_low;
  out.put<kChecked>(i, divide(top_wick - bottom_wick, c));
}

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
    write_wick<true>(close, out, i, period, highs.front_value(), lows.front_value());
  }
}

// The same run without queues in memory, taken when no access can fail and
// nothing written shares memory with anything else used; false, having done
// nothing, otherwise.
bool fast_wick_kernel(const FloatView& high, const FloatView& low, const FloatView& close, const FloatView& out,
                      const IntView& high_slots, const IntView& low_slots, int32_t period, int32_t start, int32_t n) {
  if (!extremes_in_range(high, low, high_slots, low_slots, period, start, n)) return false;
  if (close.size() < n || out.size() < n) return false;
  if (!separate({Span(out), Span(high_slots), Span(low_slots)}, {Span(high), Span(low), Span(close)})) return false;
  return scan_extremes(high, low, period, start, n, [close, out, period](int64_t i, float hh, float ll) {
    write_wick<false>(close, out, i, period, hh, ll);
  });
}

// Four float32 lanes; each lane's arithmetic is the scalar IEEE operation.
using Lanes = float __attribute__((vector_size(16)));

inline Lanes load_lanes(const char* at) {
  Lanes v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
inline void store_lanes(char* at, Lanes v) { std::memcpy(at, &v, sizeof v); }

struct AbsoluteDifference {
  template <typename T>
  T operator()(T left, T reference) const {
    return left - reference;
  }
};

// A zero reference is replaced by 1e-9 in double, so the result stays finite.
struct RelativeDifference {
  float operator()(float left, float reference) const {
    const float difference = left - reference;
    if (reference != 0.0f) return difference / reference;
    return static_cast<float>(static_cast<double>(difference) / (static_cast<double>(reference) + 1e-9));
  }
  Lanes operator()(Lanes left, Lanes reference) const {
    Lanes q = (left - reference) / reference;
    const auto zero = reference == Lanes{};
    if (zero[0] | zero[1] | zero[2] | zero[3]) {
      for (int k = 0; k < 4; ++k) q[k] = (*this)(left[k], reference[k]);
    }
    return q;
  }
};

// out[i] = op(a[i], b[i]) for i = from .. n - 1, a read before b. Positions every
// view holds run unchecked, four at a time when the views are contiguous and the
// output shares no memory with the inputs; the first position some view lacks
// fails as a checked access would.
template <class Op>
void dif_kernel(const FloatView a, const FloatView b, const FloatView out, int32_t from, int32_t n, Op op) {
  const int64_t safe_end = std::min({a.size(), b.size(), out.size()});
  int64_t i = from;
  if (a.contiguous() && b.contiguous() && out.contiguous() && separate({Span(out)}, {Span(a), Span(b)})) {
    const int64_t vector_end = std::min<int64_t>(n, safe_end);
    for (; i + 4 <= vector_end; i += 4) {
      store_lanes(out.data() + i * 4, op(load_lanes(a.data() + i * 4), load_lanes(b.data() + i * 4)));
    }
  }
  split_loop(i, n, 0, safe_end, [&](auto checked, int64_t j) {
    constexpr bool kChecked = decltype(checked)::value;
    const float left = a.at<kChecked>(j);
    out.put<kChecked>(j, op(left, b.at<kChecked>(j)));
  });
}

template <class Args, class Op>
PyObject* dif_body(Call& call, const Args& args, Op op) {
  PyObject* input_array_1 = args.input_array_1.object;
  const FloatView& a = args.input_array_1.view;
  const FloatView& b = args.input_array_2.view;
  const int32_t n_values = args.n_values;

  const int32_t n = call.length(input_array_1);
  auto [dif, out] = call.new_output(n);
  const int32_t m = std::min(n, n_values);
  if (m > 0) run_native(m, [&] { dif_kernel(a, b, out, n - m, n, op); });
  return dif.release();
}

}  // namespace

PyObject* Wick::run(Call& call, const Args& args) {
  const FloatView& high_arr = args.high_arr.view;
  const FloatView& low_arr = args.low_arr.view;
  PyObject* close_obj = args.close_arr.object;
  const FloatView& close_arr = args.close_arr.view;
  const int32_t timeperiod = args.timeperiod;
  const int32_t n_values = args.n_values;

  const int32_t n = call.length(close_obj);
  const int32_t k = trailing_start(sub32(timeperiod, 1), n, n_values);
  auto [wick_arr, out] = call.new_output(n);
  auto [high_indices, high_slots] = call.new_positions(n);
  auto [low_indices, low_slots] = call.new_positions(n);
  run_native(n, [&] {
    if (fast_wick_kernel(high_arr, low_arr, close_arr, out, high_slots, low_slots, timeperiod, k, n)) return;
    HighQueue highs(high_slots, high_arr);
    LowQueue lows(low_slots, low_arr);
    wick_kernel(close_arr, out, highs, lows, timeperiod, k, n);
  });
  return wick_arr.release();
}

PyObject* Adif::run(Call& call, const Args& args) { return dif_body(call, args, AbsoluteDifference{}); }
PyObject* Rdif::run(Call& call, const Args& args) { return dif_body(call, args, RelativeDifference{}); }

}  // namespace velk::indicators
