// The least-squares slope's running sums (velk_lin), for every loop that computes
// it: the batch kernel in averages.cpp and the live one. Coordinates run 1 .. period
// inside the window; `deduction` is the window's sum without its first value, so
// the weighted sum shifts by one coordinate without a loop.
#pragma once

#include <cstdint>

#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk::indicators {

struct RegressionSums {
  float sum_y = 0.0f;
  float sum_xy = 0.0f;
  float sum_x = 0.0f;
  float sum_x2 = 0.0f;
  float deduction = 0.0f;

  // Value v at coordinate y of the first window, y = 1 .. period in order.
  void enter(int32_t y, float v) {
    if (y >= 2) deduction += v;
    const float fy = static_cast<float>(y);
    sum_y += v;
    sum_x += fy;
    sum_x2 += static_cast<float>(mul32(y, y));
    sum_xy = fused(v, fy, sum_xy);
  }
  // Zero for a period of 1 or less: then no slope is defined.
  float denominator(float p) const { return fused_minus(p, sum_x2, sum_x * sum_x); }
  // One position on: `entering` joins at coordinate period, `leaving` drops out.
  void slide(float entering, float leaving, float p) {
    sum_y += entering - leaving;
    sum_xy += fused_minus(entering, p, leaving) - deduction;
  }
  // After a slide whose window's second value was `second`: the new window's sum without its first.
  void shift_deduction(float entering, float second) { deduction += entering - second; }
  float slope(float p, float denom) const { return fused_minus(p, sum_xy, sum_x * sum_y) / denom; }
};

}  // namespace velk::indicators
