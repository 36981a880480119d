// States and steps of the momentum oscillators (RSI, CMO), shared by every loop
// that runs them.
#pragma once

#include <cstdint>
#include <cstring>

namespace velk::indicators {

// `value` where `keep` holds, else +0, without a branch the compiler could
// bring back: the signs of successive changes are unpredictable.
inline float kept(bool keep, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits &= 0u - static_cast<uint32_t>(keep);
  std::memcpy(&value, &bits, sizeof bits);
  return value;
}

// NaN and zero changes are neither gain nor loss.
inline float gain_of(float change) { return change > 0.0f ? change : 0.0f; }
inline float loss_of(float change) { return change < 0.0f ? -change : 0.0f; }

// RSI totals: period x the average gain and loss, so the seed is a plain sum of
// the first `period` changes; each later change is a Wilder step of the totals.
struct RsiState {
  float total_gain = 0.0f;
  float total_loss = 0.0f;

  void seed(float change) {
    total_gain += gain_of(change);
    total_loss += loss_of(change);
  }
  // The caller rules out a zero period.
  void step(float change, float period) {
    total_gain = total_gain + (gain_of(change) - total_gain / period);
    total_loss = total_loss + (loss_of(change) - total_loss / period);
  }
  float value() const {
    if (total_loss == 0.0f) return 100.0f;
    // Both totals are non-negative, so r >= 1 (or NaN).
    const float r = total_gain / total_loss + 1.0f;
    return static_cast<float>(100.0 - 100.0 / static_cast<double>(r));
  }
};

// CMO sums of gains and losses over the window. Neither sum can become -0, so
// adding +0 for "no change" leaves it as it is, and adding the negated change
// equals subtracting it.
struct CmoState {
  float gains = 0.0f;
  float losses = 0.0f;

  void enter_seed(float change) {
    gains += kept(change >= 0.0f, change);
    losses += kept(change < 0.0f, -change);
  }
  void slide(float entering, float leaving) {
    gains += entering >= 0.0f ? entering : 0.0f;
    losses += entering < 0.0f ? -entering : 0.0f;
    gains += kept(leaving >= 0.0f, -leaving);
    losses += kept(leaving < 0.0f, leaving);
  }
  float value() const {
    const float total = gains + losses;
    return total != 0.0f ? (gains - losses) / total : 0.0f;
  }
};

}  // namespace velk::indicators
