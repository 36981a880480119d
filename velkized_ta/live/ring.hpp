// Small containers of the live kernels: the last few bars of a series, and the
// monotonic queue of a window's highest high or lowest low. Both start small and
// grow as bars arrive, so memory follows the bars seen, not the period.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velk::live {

// Positions and counters of a restored state stay below this, so stepping never overflows.
constexpr int64_t kMaxPosition = int64_t{1} << 62;

// Slots for at least `wanted` entries, a power of two so positions map by a mask.
inline int64_t slots_for(int64_t wanted) {
  int64_t size = 1;
  while (size < wanted) size <<= 1;
  return size;
}

constexpr int64_t kFirstSlots = 16;

// At least the last `capacity` values pushed (rounded up to a power of two), addressed by
// their position in the whole series.
struct Ring {
  std::vector<float> slots;
  int64_t limit = 1;   // the slots it may grow to
  int64_t pushed = 0;  // positions pushed (or skipped) so far
  int64_t held = 0;    // values held: the newest `held` positions

  Ring() : slots(1, 0.0f) {}
  explicit Ring(int64_t capacity)
      : slots(static_cast<size_t>(std::min(slots_for(capacity), kFirstSlots)), 0.0f), limit(slots_for(capacity)) {}

  int64_t capacity() const { return limit; }
  int64_t mask() const { return static_cast<int64_t>(slots.size()) - 1; }
  // Grows now if the next push needs it: a step that pushes to several containers makes room in
  // all of them first, so a failed allocation leaves none of them changed.
  void make_room() {
    if (held == static_cast<int64_t>(slots.size()) && held < limit) resize(held * 2);
  }
  void push(float v) {
    make_room();
    slots[static_cast<size_t>(pushed++ & mask())] = v;
    held = std::min<int64_t>(held + 1, static_cast<int64_t>(slots.size()));
  }
  // Position `pos` of the series; the caller keeps it among the last `capacity` pushed.
  float at(int64_t pos) const { return slots[static_cast<size_t>(pos & mask())]; }
  // `back` positions before the newest (0 is the newest).
  float back(int64_t back) const { return at(pushed - 1 - back); }

  void resize(int64_t size) {
    std::vector<float> wider(static_cast<size_t>(size), 0.0f);
    for (int64_t pos = pushed - held; pos < pushed; ++pos) wider[static_cast<size_t>(pos & (size - 1))] = at(pos);
    slots.swap(wider);
  }

  // The state is the position count and the values held, oldest first; every
  // committed state holds min(pushed, capacity) values.
  template <class Archive>
  void fields(Archive& ar) {
    ar(pushed);
    int64_t count = held;
    ar(count);
    if constexpr (Archive::kReading) {
      if (!ar.ok || pushed < 0 || pushed > kMaxPosition || count != std::min(pushed, limit) ||
          !ar.fits(count, sizeof(float)))
        return ar.fail();
      slots.assign(static_cast<size_t>(std::max(slots_for(count), std::min(limit, kFirstSlots))), 0.0f);
      held = count;
    }
    for (int64_t pos = pushed - count; pos < pushed; ++pos) ar(slots[static_cast<size_t>(pos & mask())]);
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

  explicit ExtremeQueue(int64_t period = 1)
      : slots(static_cast<size_t>(std::min(slots_for(period + 2), kFirstSlots))) {}

  int64_t mask() const { return static_cast<int64_t>(slots.size()) - 1; }
  int64_t size() const { return end - front; }
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
    make_room();
    slot(end) = Entry{pos, v};
    ++end;
  }
  float extreme() const { return slot(front).value; }
  void clear() { front = end = 0; }

  // Room for one more entry before any pops (see Ring::make_room).
  void make_room() {
    if (end - front == static_cast<int64_t>(slots.size())) grow();
  }
  void grow() {
    std::vector<Entry> wider(slots.size() * 2);
    const int64_t wider_mask = static_cast<int64_t>(wider.size()) - 1;
    for (int64_t k = front; k < end; ++k) wider[static_cast<size_t>(k & wider_mask)] = slot(k);
    slots.swap(wider);
  }

  // The entries, oldest first; whether they fit the window is WindowExtremes's to check.
  template <class Archive>
  void fields(Archive& ar) {
    int64_t count = end - front;
    ar(count);
    if constexpr (Archive::kReading) {
      if (!ar.ok || count < 0 || !ar.fits(count, sizeof(int64_t) + sizeof(float))) return ar.fail();
      slots.assign(static_cast<size_t>(std::max(slots_for(count), kFirstSlots)), Entry{0, 0.0f});
      front = 0, end = count;
    }
    for (int64_t k = front; k < end; ++k) {
      ar(slot(k).pos);
      ar(slot(k).value);
    }
  }
  // Positions ascending within the window of `period` bars ending at bar n - 1.
  bool valid(int64_t n, int64_t period) const {
    if (n == 0) return end == front;
    if (end - front < 1 || end - front > period || slot(end - 1).pos != n - 1 || slot(front).pos < n - period)
      return false;
    for (int64_t k = front + 1; k < end; ++k)
      if (slot(k).pos <= slot(k - 1).pos) return false;
    return true;
  }
};

}  // namespace velk::live
