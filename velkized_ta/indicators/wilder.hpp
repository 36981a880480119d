// Wilder's running average, shared by the directional movement and true range
// indicators: x = (x * (period - 1) + v) / period, with the multiply-add fused.
#pragma once

#include <cmath>
#include <cstdint>

#include "frame/view.hpp"

namespace velk::indicators {

class WilderSmoothing {
 public:
  // The weight is formed as an integer first, so it wraps for the most negative period.
  explicit WilderSmoothing(int32_t timeperiod)
      : weight_(static_cast<float>(sub32(timeperiod, 1))), period_(static_cast<float>(timeperiod)) {}

  float period() const { return period_; }

  // One update. A single rounding of the multiply-add is part of the result's
  // bit pattern: a separate multiply and add can differ in the last place.
  // The caller rules out a zero period before the first step.
  float step(float average, float value) const { return std::fmaf(average, weight_, value) / period_; }

 private:
  float weight_;
  float period_;
};

}  // namespace velk::indicators
