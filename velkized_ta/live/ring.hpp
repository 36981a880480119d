// Small containers of the live kernels: the last few bars of a series, and the
// monotonic queue of a window's highest high or lowest low.
#pragma once

#include <cstdint>
#include <vector>

namespace velk::live {

// The last `capacity` values pushed, addressed by their position in the whole series.
struct Ring {
  std::vector<float> slots;
  int64_t pushed = 0;

  Ring() = default;
  explicit Ring(int64_t capacity) : slots(static_cast<size_t>(capacity < 1 ? 1 : capacity), 0.0f) {}

  int64_t capacity() const { return static_cast<int64_t>(slots.size()); }
  void push(float v) { slots[static_cast<size_t>(pushed++ % capacity())] = v; }
  // Position `pos` of the series; the caller keeps it among the last `capacity` pushed.
  float at(int64_t pos) const { return slots[static_cast<size_t>(pos % capacity())]; }
  // `back` positions before the newest (0 is the newest).
  float back(int64_t back) const { return at(pushed - 1 - back); }

  template <class Archive>
  void fields(Archive& ar) {
    ar(pushed);
    ar(slots);
  }
};

// A window's extreme as the batch functions keep it: positions enter at the back,
// popping every older entry that compares <= (or >=) the new value; IEEE
// comparisons, so a NaN neither pops nor is popped. One expiry check per step.
template <bool kHighest>
struct ExtremeQueue {
  struct Entry {
    int64_t pos;
    float value;
  };
  std::vector<Entry> slots;
  int64_t front = 0;
  int64_t end = 0;

  ExtremeQueue() = default;
  explicit ExtremeQueue(int64_t period) : slots(static_cast<size_t>(period + 2)) {}

  Entry& slot(int64_t k) { return slots[static_cast<size_t>(k % static_cast<int64_t>(slots.size()))]; }
  const Entry& slot(int64_t k) const {
    return slots[static_cast<size_t>(k % static_cast<int64_t>(slots.size()))];
  }

  void expire(int64_t oldest_kept) {
    if (end > front && slot(front).pos < oldest_kept) ++front;
  }
  void push(int64_t pos, float v) {
    if constexpr (kHighest) {
      while (end > front && slot(end - 1).value <= v) --end;
    } else {
      while (end > front && slot(end - 1).value >= v) --end;
    }
    slot(end) = Entry{pos, v};
    ++end;
  }
  float extreme() const { return slot(front).value; }

  template <class Archive>
  void fields(Archive& ar) {
    ar(front);
    ar(end);
    ar(slots);
  }
};

}  // namespace velk::live
