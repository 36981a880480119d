// The exponential moving average's state and step, shared by every loop that
// smooths: the batch kernel here, and any loop over many series or one bar at a time.
#pragma once

#include <cstdint>

#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk::indicators {

// alpha = 2 / (period + 1), the divisor formed in 32 bits; false for a zero divisor.
inline bool ema_alpha(int32_t timeperiod, float& alpha) {
  const int32_t divisor = add32(timeperiod, 1);
  if (divisor == 0) return false;
  alpha = static_cast<float>(2.0 / static_cast<double>(divisor));
  return true;
}

// The float32 rounding of a double, kept as a float: GCC's build of a loop
// without the FMA unit (the C library's fma) otherwise lets a stage's value
// reach a combination in double unrounded, which changes TEMA's bits there.
inline float as_float(double d) {
  float f = static_cast<float>(d);
#if defined(__x86_64__)
  asm("" : "+x"(f));
#endif
  return f;
}

// Running EMA state, seeded with the first present value. The product is a
// float32 operation; the update is one fused multiply-add in double, rounded to
// float32 afterwards.
struct EmaState {
  float alpha;
  float value;

  void step(float x) { step(x, static_cast<double>(value)); }
  // The same step for a loop that holds the value widened already (exactly `value`),
  // so that a widening it also needs elsewhere is done once.
  void step(float x, double widened_value) {
    const float q = alpha * x;
    const double c = 1.0 - static_cast<double>(alpha);
    value = as_float(fused(c, widened_value, static_cast<double>(q)));
  }
  // The normalized output: the average's relative distance from the value.
  float normalized(float x) const { return divide(value - x, x); }
};

}  // namespace velk::indicators
