// Per-bar arithmetic of the oscillators (rate of change, Williams %R and the fast
// stochastic, the ultimate oscillator, the commodity channel index), for every loop
// that computes them: the batch kernels in oscillators.cpp and the live ones.
#pragma once

#include <cmath>

namespace velk::indicators {

// A zero base would divide by zero; the tiny substitute keeps the sign of the
// change. The quotient is taken in double, which for a non-zero base rounds to
// the same float as the float quotient.
inline float zero_base_quotient(float change) { return static_cast<float>(static_cast<double>(change) / 1e-9); }

inline float relative_change(float current, float base) {
  const float change = current - base;
  return base != 0.0f ? change / base : zero_base_quotient(change);
}

// The close's place in the window's range, from the highest high (Williams %R) or
// the lowest low (fast stochastic); false for a range of width 0, which leaves NaN.
template <bool kFromHigh>
inline bool range_fraction(float close, float highest_high, float lowest_low, float& fraction) {
  if (highest_high == lowest_low) return false;
  fraction = kFromHigh ? (highest_high - close) / (highest_high - lowest_low)
                       : (close - lowest_low) / (highest_high - lowest_low);
  return true;
}

// Buying pressure and true range of a bar against the previous close; a NaN
// previous close falls back to the bar's own low and high.
struct PressureAndRange {
  float bp;
  float tr;
};
inline PressureAndRange pressure_and_range(float previous_close, float low, float high, float close) {
  const float lower = previous_close < low ? previous_close : low;
  const float upper = previous_close > high ? previous_close : high;
  return {close - lower, upper - lower};
}

// A window without any range would divide by zero; the substitute stays in the sum.
inline void guard_range(float& tr) {
  if (tr == 0.0f) tr += 1e-10f;
}

// Crosswise weights: the shortest window counts most. s, m, l are the periods and
// w their 32-bit sum, as floats.
inline float ultimate_value(float bp_short, float tr_short, float bp_medium, float tr_medium, float bp_long,
                            float tr_long, float s, float m, float l, float w) {
  return ((bp_short * l / tr_short + bp_medium * m / tr_medium) + bp_long * s / tr_long) / w;
}

// The typical price of a bar, as numpy evaluates (high + low + close) / 3 in float32.
inline float typical_price(float high, float low, float close) { return ((high + low) + close) / 3.0f; }

// Mean and population variance of a window from its running sums.
inline void window_moments(float sum, float sum_squared, float p, float& mean, float& variance) {
  mean = sum / p;
  variance = sum_squared / p - mean * mean;
}

inline float cci_scaled(float deviation, double root) {
  return static_cast<float>(static_cast<double>(deviation) / (root * 0.015));
}

}  // namespace velk::indicators
