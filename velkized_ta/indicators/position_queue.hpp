// Monotonic queue of input positions that keeps a sliding window's highest high
// (or lowest low) at its front. The positions live in an int32 work series
// (np.zeros(n, dtype=np.int32)) between a front and a back cursor, stored
// linearly: the front only moves forward, the back moves back only by removals.
//
// Comparisons are IEEE float comparisons, so a NaN value never removes an older
// entry and is never removed by a newer one: it leaves only by expiry, and while
// it stays it shields the entries before it. On equal values the older entry is
// removed, so the newest position of equal values stays.
#pragma once

#include <cstdint>

#include "frame/view.hpp"

namespace velk::indicators {

enum class Extreme { Highest, Lowest };

template <Extreme kind>
class PositionQueue {
 public:
  PositionQueue(const IntView& slots, const FloatView& values) : slots_(slots), values_(values) {}

  // Drops the newest entries the value at position i outranks (or ties), then appends i.
  void push(int32_t i) {
    while (end_ > start_ && outranked(values_[slots_[end_ - 1]], values_[i])) --end_;
    slots_.set(end_, i);
    ++end_;
  }

  // One position enters the window per step, so at most one leaves: the front
  // expires when it is at or before `oldest_expired` (i - period). That bound is
  // taken in 64 bits: with a large negative period it lies beyond the int32 range.
  void expire(int64_t oldest_expired) {
    if (start_ < end_ && slots_[start_] <= oldest_expired) ++start_;
  }

  int32_t front() const { return slots_[start_]; }
  float front_value() const { return values_[slots_[start_]]; }

 private:
  static bool outranked(float older, float newer) {
    if constexpr (kind == Extreme::Highest) {
      return older <= newer;
    } else {
      return older >= newer;
    }
  }

  IntView slots_;
  FloatView values_;
  int32_t start_ = 0;
  int32_t end_ = 0;
};

using HighQueue = PositionQueue<Extreme::Highest>;
using LowQueue = PositionQueue<Extreme::Lowest>;

}  // namespace velk::indicators
