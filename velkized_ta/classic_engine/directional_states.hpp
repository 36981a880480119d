// States of plus_dm/minus_dm and plus_di/minus_di: one template each over the direction of the
// move, so the two sides cannot drift apart.
#pragma once

#include "classic_engine/indicator.hpp"

namespace velk::classic {

enum class MoveDirection { plus, minus };

// Wilder's sum of one direction's moves from the high and low (the low stands in for the close:
// the true range is not used). First value at period - 1, or 1 for period 1.
template <MoveDirection direction>
struct DirectionalMovementState {
  static constexpr int inputs = 2, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit DirectionalMovementState(const double* params)
      : sums(int_param(params, 0)), first(int_param(params, 0) > 1 ? int_param(params, 0) - 1 : 1) {}
  bool step(const double* bar, double* out) {
    sums.push(bar[0], bar[1], bar[1]);
    if (seen < first) {
      ++seen;
      return false;
    }
    out[0] = direction == MoveDirection::plus ? sums.plus_dm() : sums.minus_dm();
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    sums.fields(a);
    a(seen);
  }
  DirectionalSums sums;
  int64_t first;  // position of the first value
  int64_t seen = 0;
};

// One direction's smoothed moves over the smoothed true range, in percent.
template <MoveDirection direction>
struct DirectionalIndicatorState {
  static constexpr int inputs = 3, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit DirectionalIndicatorState(const double* params) : sums(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    if (!sums.push(bar[0], bar[1], bar[2])) return false;
    out[0] = direction == MoveDirection::plus ? sums.plus_di() : sums.minus_di();
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    sums.fields(a);
  }
  DirectionalSums sums;
};

}  // namespace velk::classic
