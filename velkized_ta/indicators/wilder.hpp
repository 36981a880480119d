// Wilder's running average, shared by the directional movement and true range
// indicators: x = (x * (period - 1) + v) / period, with the multiply-add fused.
// Loops that step it belong inside with_fma.
#pragma once

#include <cstdint>

#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk::indicators {

// Several averages advanced side by side: one vector division costs what one
// scalar division does, and the divisions, not the multiply-adds, are what a
// step of three averages waits for.
using Lanes = float __attribute__((vector_size(16)));

using velk::fused;

// Lane by lane, so each lane rounds exactly as the scalar step does.
inline Lanes fused(Lanes a, Lanes b, Lanes c) {
  return Lanes{fused(a[0], b[0], c[0]), fused(a[1], b[1], c[1]), fused(a[2], b[2], c[2]), fused(a[3], b[3], c[3])};
}

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
    return fused(average, Lanes{weight_, weight_, weight_, weight_}, value) / Lanes{period_, period_, period_, period_};
  }

 private:
  float weight_;
  float period_;
};

}  // namespace velk::indicators
