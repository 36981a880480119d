// Per-bar arithmetic that combines stages and pairs of series (the EMA chain's
// combinations, spreads, window midpoints and candles, the ADXR mean), for every
// loop that computes them: the batch kernels and the live ones.
#pragma once

#include <cmath>

namespace velk::indicators {

// 2a - b in double: 2a is exact, so the difference is the one rounding before float32.
inline float dema_of(double a, double b) { return static_cast<float>(2.0 * a - b); }

// 3a and 3b are exact in double: the difference and the sum round once each.
inline float tema_of(double a, double b, double c) { return static_cast<float>((3.0 * a - 3.0 * b) + c); }

// The relative step from b to a; a zero b takes 1e-9 in double, and a NaN b
// compares unequal to 0 and passes through.
inline float trix_ratio(float a, float b) {
  const float numerator = a - b;
  const double guard = b != 0.0f ? 0.0 : 1e-9;
  return static_cast<float>(static_cast<double>(numerator) / (static_cast<double>(b) + guard));
}

// A zero reference is replaced by 1e-9 in double, so the result stays finite.
inline float relative_difference(float left, float reference) {
  const float difference = left - reference;
  if (reference != 0.0f) return difference / reference;
  return static_cast<float>(static_cast<double>(difference) / (static_cast<double>(reference) + 1e-9));
}

// Midpoint of the window's highest high and lowest low, in double; the caller
// rounds it once, or its deviation from the close (midpoint_deviation).
inline double window_midpoint(float highest_high, float lowest_low) {
  const double half_range = static_cast<double>(highest_high - lowest_low) * 0.5;
  return half_range + lowest_low;
}
// The numerator of the relative deviation; the caller divides by the close.
inline float midpoint_deviation(double midpoint, float close) {
  return static_cast<float>(midpoint - static_cast<double>(close));
}

// Top wick minus bottom wick of a synthetic candle from `open` to `close` whose
// high and low are the window's extremes. A NaN on either side fails the
// comparison and the open takes the upper side.
inline float wick_balance(float open, float close, float max_high, float min_low) {
  const bool rising = close > open;
  const float upper = rising ? close : open;
  const float lower = rising ? open : close;
  const float top_wick = max_high - upper;
  const float bottom_wick = lower - min_low;
  return top_wick - bottom_wick;
}

// The mean of an ADX value and the one `period` bars earlier: two NaNs yield the
// earlier one, whichever operand order the compiler picks.
inline float adxr_mean(float earlier, float current) {
  const float addend = std::isnan(earlier) ? earlier : current;
  return (earlier + addend) * 0.5f;
}

}  // namespace velk::indicators
