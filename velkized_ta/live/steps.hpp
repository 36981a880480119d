// Per-bar arithmetic shared by several live kernels, in the batch functions'
// exact order of operations and precisions.
#pragma once

#include <cmath>
#include <cstdint>

namespace velk::live {

inline float fused(float a, float b, float c) { return __builtin_fmaf(a, b, c); }
inline double fused(double a, double b, double c) { return __builtin_fma(a, b, c); }

// EMA: seeded with the first non-NaN value, which is itself stepped once.
struct EmaStep {
  float alpha = 0.0f;
  float value = 0.0f;
  bool seeded = false;

  EmaStep() = default;
  explicit EmaStep(int32_t period)
      : alpha(static_cast<float>(2.0 / static_cast<double>(static_cast<int32_t>(
                                          static_cast<uint32_t>(period) + 1u)))) {}

  // The average after x, without committing it; NaN before the seed.
  float next(float x) const {
    float v = value;
    if (!seeded) {
      if (std::isnan(x)) return x;
      v = x;
    }
    const float q = alpha * x;
    const double c = 1.0 - static_cast<double>(alpha);
    return static_cast<float>(fused(c, static_cast<double>(v), static_cast<double>(q)));
  }
  void commit(float x, float next_value) {
    if (!seeded && std::isnan(x)) return;
    seeded = true;
    value = next_value;
  }

  template <class Archive>
  void fields(Archive& ar) {
    ar(alpha);
    ar(value);
    ar(seeded);
  }
};

// Wilder's average: x = fma(x, period - 1, v) / period in float32.
struct Wilder {
  float weight = 0.0f;
  float period = 1.0f;
  Wilder() = default;
  explicit Wilder(int32_t p)
      : weight(static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(p) - 1u))),
        period(static_cast<float>(p)) {}
  float step(float average, float v) const { return fused(average, weight, v) / period; }
};

inline float true_range(float high, float low, float previous_close) {
  float r = high - low;
  const float b = std::fabs(high - previous_close);
  if (b > r) r = b;
  const float c = std::fabs(low - previous_close);
  if (c > r) r = c;
  return r;
}

struct DirectionalMove {
  float plus;
  float minus;
};

inline DirectionalMove directional_move(float high, float low, float previous_high, float previous_low) {
  const float up = high - previous_high;
  const float down = previous_low - low;
  return {(up > down && up > 0.0f) ? up : 0.0f, (down > up && down > 0.0f) ? down : 0.0f};
}

}  // namespace velk::live
