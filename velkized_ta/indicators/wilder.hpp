// Wilder's running average, shared by the directional movement and true range
// indicators: x = (x * (period - 1) + v) / period, with the multiply-add fused.
// Loops that step it run through the driver's `native`, which dispatches the fused step.
#pragma once

#include <cstdint>

#include "driver/lanes.hpp"
#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk::indicators {

// Several averages can be advanced side by side in lanes: one vector division
// costs what one scalar division does, and the divisions, not the multiply-adds,
// are what a step of three averages waits for.

class WilderSmoothing {
 public:
  // The weight is formed as an integer first, so it wraps for the most negative period.
  explicit WilderSmoothing(int32_t timeperiod)
      : weight_(static_cast<float>(sub32(timeperiod, 1))), period_(static_cast<float>(timeperiod)) {}

  float period() const { return period_; }

  // One update. A single rounding of the multiply-add is part of the result's
  // bit pattern: a separate multiply and add can differ in the last place.
  // The caller rules out a zero period before the first step.
  float step(float average, float value) const { return fused(average, weight_, value) / period_; }
  Lanes step(Lanes average, Lanes value) const {
    return fused(average, splat(weight_), value) / splat(period_);
  }

 private:
  float weight_;
  float period_;
};

}  // namespace velk::indicators
