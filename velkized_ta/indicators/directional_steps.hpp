// Per-bar arithmetic of the directional movement and true range indicators, for
// every loop that computes them (the batch kernels in directional.cpp and the live ones).
#pragma once

#include <cmath>

#include "driver/lanes.hpp"

namespace velk::indicators {

// True range of a bar against the previous close. The comparisons are strict, so a
// NaN candidate never replaces the bar's own range (a NaN previous close is ignored).
inline float true_range(float high, float low, float previous_close) {
  float range = high - low;
  const float from_high = std::fabs(high - previous_close);
  if (from_high > range) range = from_high;
  const float from_low = std::fabs(low - previous_close);
  if (from_low > range) range = from_low;
  return range;
}

struct DirectionalMove {
  float plus;
  float minus;
};

// Only the larger of the two moves counts, and only when it is positive; equal
// moves and NaN prices count as no movement at all.
inline DirectionalMove directional_move(float high, float low, float previous_high, float previous_low) {
  const float up = high - previous_high;
  const float down = previous_low - low;
  return {(up > down && up > 0.0f) ? up : 0.0f, (down > up && down > 0.0f) ? down : 0.0f};
}

// directional_move and true_range of a bar in lanes 0 (+dm), 1 (-dm) and 2 (true range) for
// loops that smooth the three together; lane 3 is 0. The move is chosen lane-wise without
// branches: which move wins is a coin toss on real prices.
inline Lanes directional_lanes(float high, float low, float previous_high, float previous_low, float previous_close) {
  const float up = high - previous_high;
  const float down = previous_low - low;
  const Lanes moves{up, down, 0.0f, 0.0f};
  const Lanes rivals{down, up, 0.0f, 0.0f};
  Lanes bar = (moves > rivals) & (moves > Lanes{}) ? moves : Lanes{};
  bar[2] = true_range(high, low, previous_close);
  return bar;
}

// DX from the smoothed moves and range; false where it would divide by zero.
inline bool directional_index(float plus, float minus, float range, float& dx) {
  if (range == 0.0f) return false;
  const float plus_di = plus / range;
  const float minus_di = minus / range;
  const float sum = plus_di + minus_di;
  if (sum == 0.0f) return false;
  dx = std::fabs(plus_di - minus_di) / sum;
  return true;
}

}  // namespace velk::indicators
