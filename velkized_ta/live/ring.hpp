// Small containers of the live kernels: the last few bars of a series, and the
// monotonic queue of a window's highest high or lowest low.
#pragma once

#include <cstdint>
#include <vector>

namespace velk::live {

// Slots for at least `wanted` entries, a power of two so positions map by a mask.
inline size_t slots_for(int64_t wanted) {
  size_t size = 1;
  while (static_cast<int64_t>(size) < wanted) size <<= 1;
  return size;
}

// At least the last `capacity` values pushed, addressed by their position in the whole series.
struct Ring {
  std::vector<float> slots;
  int64_t pushed = 0;

  Ring() = default;
  explicit Ring(int64_t capacity) : slots(slots_for(capacity), 0.0f) {}

  int64_t capacity() const { return static_cast<int64_t>(slots.size()); }
  int64_t mask() const { return capacity() - 1; }
  void push(float v) { slots[static_cast<size_t>(pushed++ & mask())] = v; }
  // Position `pos` of the series; the caller keeps it among the last `capacity` pushed.
  float at(int64_t pos) const { return slots[static_cast<size_t>(pos & mask())]; }
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
  explicit ExtremeQueue(int64_t period) : slots(slots_for(period + 2)) {}

  int64_t mask() const { return static_cast<int64_t>(slots.size()) - 1; }
  Entry& slot(int64_t k) { return slots[static_cast<size_t>(k & mask())]; }
  const Entry& slot(int64_t k) const { return slots[static_cast<size_t>(k & mask())]; }

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
