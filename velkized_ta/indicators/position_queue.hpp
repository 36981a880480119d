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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <type_traits>
#include <utility>
#include <memory>
#include <new>

#include "driver/loop.hpp"
#include "frame/view.hpp"

namespace velk::indicators {

enum class Extreme { Highest, Lowest };

template <Extreme kind>
inline bool outranked(float older, float newer) {
  if constexpr (kind == Extreme::Highest) {
    return older <= newer;
  } else {
    return older >= newer;
  }
}

template <Extreme kind>
class PositionQueue {
 public:
  PositionQueue(const IntView& slots, const FloatView& values) : slots_(slots), values_(values) {}

  // Drops the newest entries the value at position i outranks (or ties), then appends i.
  // values_[i] is read only when there is an entry to compare it with.
  void push(int32_t i) {
    if (end_ > start_) {
      const float value = values_[i];
      while (end_ > start_ && outranked<kind>(values_[slots_[end_ - 1]], value)) --end_;
    }
    slots_.set(end_, i);
    ++end_;
  }

  // One position enters the window per step, so at most one leaves: the front
  // expires when it is at or before `oldest_expired` (i - period). That bound is
  // taken in 64 bits: with a large negative period it lies beyond the int32 range.
  void expire(int64_t oldest_expired) {
    if (start_ < end_ && slots_[start_] <= oldest_expired) ++start_;
  }

  float front_value() const { return values_[slots_[start_]]; }

 private:
  IntView slots_;
  FloatView values_;
  int32_t start_ = 0;
  int32_t end_ = 0;
};

using HighQueue = PositionQueue<Extreme::Highest>;
using LowQueue = PositionQueue<Extreme::Lowest>;

// ---------------------------------------------------------------------------
// The same queues for a run in which no access can fail (see extremes_in_range).
// An entry never outlives its window, so a ring of `period` entries suffices, and
// each entry keeps its value beside its position: a comparison reads one
// neighbouring slot instead of a slot and then the price series.

struct RingEntry {
  float value;
  int32_t position;
};

template <Extreme kind>
class RingQueue {
 public:
  RingQueue(RingEntry* ring, uint32_t mask) : ring_(ring), mask_(mask) {}

  void push(int32_t i, float value) {
    while (back_ != front_ && outranked<kind>(ring_[(back_ - 1) & mask_].value, value)) --back_;
    ring_[back_ & mask_] = {value, i};
    ++back_;
  }
  void expire(int64_t oldest_expired) {
    if (back_ != front_ && ring_[front_ & mask_].position <= oldest_expired) ++front_;
  }
  float front_value() const { return ring_[front_ & mask_].value; }

 private:
  RingEntry* ring_;
  uint32_t mask_;
  uint32_t front_ = 0;  // entry counters; only their difference and low bits matter
  uint32_t back_ = 0;
};

// True when a run that pushes positions start - period + 1 .. n - 1 onto queues
// over `high` and `low`, reads the extremes at start .. n - 1 and stores them in
// `slots_high` / `slots_low` cannot fail: every position is non-negative and
// within each series, and no queue can run past its slot series.
inline bool extremes_in_range(const FloatView& high, const FloatView& low, const IntView& slots_high,
                              const IntView& slots_low, int32_t period, int32_t start, int32_t n) {
  const int64_t first = int64_t{start} - period + 1;
  return period >= 1 && first >= 0 && start <= n && high.size() >= n && low.size() >= n &&
         slots_high.size() >= n - first && slots_low.size() >= n - first;
}

// Address interval of a view's elements: views whose spans do not meet share no element.
struct Span {
  uintptr_t lo = 0;
  uintptr_t hi = 0;  // one past the last byte; lo == hi for an empty view

  template <typename T>
  explicit Span(const View<T>& v) {
    if (v.size() == 0) return;
    const uintptr_t base = reinterpret_cast<uintptr_t>(v.data());
    const uintptr_t last = base + static_cast<uintptr_t>((v.size() - 1) * v.stride());
    lo = std::min(base, last);
    hi = std::max(base, last) + sizeof(T);
  }
  bool meets(const Span& other) const { return lo < other.hi && other.lo < hi && lo < hi && other.lo < other.hi; }
};

// True when no written view shares memory with another written view or with a read
// one. A run that keeps values it read, or reads a series once where the plain
// loop reads it again, needs this to see what the plain loop sees.
inline bool separate(std::initializer_list<Span> written, std::initializer_list<Span> read) {
  for (auto w = written.begin(); w != written.end(); ++w) {
    for (auto other = w + 1; other != written.end(); ++other)
      if (w->meets(*other)) return false;
    for (const Span& r : read)
      if (w->meets(r)) return false;
  }
  return true;
}

// Buffer of `count` elements: on the stack when small, else on the heap; empty if
// the heap refuses (callers then fall back to the slot queues).
template <typename T, size_t kInline>
class ScratchBuffer {
 public:
  explicit ScratchBuffer(uint64_t count) {
    if (count <= kInline) {
      data_ = inline_;
    } else if (count <= SIZE_MAX / sizeof(T)) {
      heap_.reset(new (std::nothrow) T[count]);
      data_ = heap_.get();
    }
  }
  T* get() const { return data_; }

 private:
  T inline_[kInline];
  std::unique_ptr<T[]> heap_;
  T* data_ = nullptr;
};

// Ring-queue run: pushes start - period + 1 .. start - 1, then for each i in
// start .. n - 1 expires, pushes i and calls emit(i, highest high, lowest low).
// The ring capacity (a power of two) for windows of `period` over positions start - period + 1 .. n - 1.
inline uint64_t ring_capacity(int32_t period, int64_t start, int64_t n) {
  const int64_t first = start - period + 1;
  const int64_t most = std::max<int64_t>(1, std::min<int64_t>(period, n - first));
  uint64_t capacity = 1;
  while (capacity < static_cast<uint64_t>(most)) capacity *= 2;
  return capacity;
}

// The ring-queue run over `rings`, 2 * capacity entries of at least ring_capacity(period, start, n).
template <class Emit>
void run_ring_queues(RingEntry* rings, uint64_t capacity, const FloatView& high, const FloatView& low,
                     int32_t period, int64_t start, int64_t n, Emit& emit) {
  const int64_t first = start - period + 1;
  const uint32_t mask = static_cast<uint32_t>(capacity - 1);
  RingQueue<Extreme::Highest> highs(rings, mask);
  RingQueue<Extreme::Lowest> lows(rings + capacity, mask);

  for (int64_t i = first; i < start; ++i) {
    highs.push(static_cast<int32_t>(i), high.get_unchecked(i));
    lows.push(static_cast<int32_t>(i), low.get_unchecked(i));
  }
  for (int64_t i = start; i < n; ++i) {
    highs.expire(i - period);
    lows.expire(i - period);
    highs.push(static_cast<int32_t>(i), high.get_unchecked(i));
    lows.push(static_cast<int32_t>(i), low.get_unchecked(i));
    emit(i, highs.front_value(), lows.front_value());
  }
}

template <class Emit>
bool scan_extremes_by_queue(const FloatView high, const FloatView low, int32_t period, int64_t start, int64_t n,
                            Emit emit) {
  const uint64_t capacity = ring_capacity(period, start, n);
  ScratchBuffer<RingEntry, 512> rings(2 * capacity);
  if (!rings.get()) return false;
  run_ring_queues(rings.get(), capacity, high, low, period, start, n, emit);
  return true;
}

// Without NaN the queue's front is the window's extreme, and among equal extremes
// (+0 and -0 are the only distinguishable ones) the newest. `later_high(older,
// newer)` picks exactly that and is associative, so the window can be folded from
// block-wise suffixes and prefixes instead: blocks of `period` positions starting
// at the first pushed one, each window being a suffix of one block and a prefix
// of the next. This has no data-dependent branches. A block holding a NaN hands
// the rest of the run to the ring queue, whose state at any step depends only on
// the positions in that step's window.
inline float later_high(float older, float newer) { return older > newer ? older : newer; }
inline float later_low(float older, float newer) { return older < newer ? older : newer; }

// The block folds for i = start .. n - 1, as scan_extremes describes them.
template <class Emit>
bool scan_extremes_by_fold(const FloatView high, const FloatView low, int32_t period, int32_t start_, int32_t n_,
                           Emit emit) {
  const int64_t start = start_, n = n_, p = period;
  if (start >= n) return true;
  constexpr float kLowest = -std::numeric_limits<float>::infinity();
  constexpr float kHighest = std::numeric_limits<float>::infinity();

  // Suffix folds of the current and the next block, plus an identity past the end.
  ScratchBuffer<float, 1024> scratch(4 * static_cast<uint64_t>(p + 1));
  if (!scratch.get()) return scan_extremes_by_queue(high, low, period, start, n, emit);
  float* suffix_high = scratch.get();
  float* suffix_low = suffix_high + (p + 1);
  float* next_high = suffix_low + (p + 1);
  float* next_low = next_high + (p + 1);
  suffix_high[p] = next_high[p] = kLowest;
  suffix_low[p] = next_low[p] = kHighest;

  // Folds block [from, from + length) backwards; false if it holds a NaN.
  const auto fold_suffixes = [&](int64_t from, int64_t length, float* sh, float* sl) {
    bool missing = false;
    float h = kLowest, l = kHighest;
    for (int64_t t = length - 1; t >= 0; --t) {
      const float vh = high.get_unchecked(from + t);
      const float vl = low.get_unchecked(from + t);
      missing |= (vh != vh) | (vl != vl);
      h = later_high(vh, h);
      l = later_low(vl, l);
      sh[t] = h;
      sl[t] = l;
    }
    return !missing;
  };

  // The first window is exactly the first block.
  if (!fold_suffixes(start - p + 1, p, suffix_high, suffix_low)) {
    return scan_extremes_by_queue(high, low, period, start, n, emit);
  }
  emit(start, suffix_high[0], suffix_low[0]);
  for (int64_t from = start + 1; from < n; from += p) {
    const int64_t length = std::min(p, n - from);
    if (!fold_suffixes(from, length, next_high, next_low)) {
      return scan_extremes_by_queue(high, low, period, from, n, emit);
    }
    float prefix_high = kLowest, prefix_low = kHighest;
    for (int64_t t = 0; t < length; ++t) {
      prefix_high = later_high(prefix_high, high.get_unchecked(from + t));
      prefix_low = later_low(prefix_low, low.get_unchecked(from + t));
      emit(from + t, later_high(suffix_high[t + 1], prefix_high), later_low(suffix_low[t + 1], prefix_low));
    }
    std::swap(suffix_high, next_high);
    std::swap(suffix_low, next_low);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Windows of up to kDoublingPeriod positions by doubling, eight positions per
// operation. With M_s[j] the extreme of the s positions ending at j, M_2s[j] =
// later(M_s[j - s], M_s[j]); a window of p positions is the union of the windows
// of w positions (w the largest power of two up to p) ending at i - p + w and at
// i. The two overlap unless p == w, which changes nothing: `later_*` keeps the
// newest of equal extremes, and an element met twice is equal to itself. A chunk
// whose positions hold a NaN runs on the ring queue, as the folds' blocks do.

constexpr int64_t kDoublingPeriod = 2048;
constexpr int64_t kDoublingChunk = 4096;

using ExtremeOctet = float __attribute__((vector_size(8 * sizeof(float))));
using ExtremeOctetMask = int32_t __attribute__((vector_size(8 * sizeof(int32_t))));

template <Extreme kind>
inline float later(float older, float newer) {
  return kind == Extreme::Highest ? later_high(older, newer) : later_low(older, newer);
}
template <Extreme kind>
inline ExtremeOctet later(ExtremeOctet older, ExtremeOctet newer) {
  if constexpr (kind == Extreme::Highest) {
    return older > newer ? older : newer;
  } else {
    return older < newer ? older : newer;
  }
}

// out[t] = later(older[t], newer[t]) for t in [0, count).
template <Extreme kind>
inline void later_of(const float* older, const float* newer, float* out, int64_t count) {
  int64_t t = 0;
  for (; t + 8 <= count; t += 8) {
    ExtremeOctet a, b;
    std::memcpy(&a, older + t, sizeof a);
    std::memcpy(&b, newer + t, sizeof b);
    const ExtremeOctet r = later<kind>(a, b);
    std::memcpy(out + t, &r, sizeof r);
  }
  for (; t < count; ++t) out[t] = later<kind>(older[t], newer[t]);
}

// Positions base .. base + count - 1 of `v` as contiguous floats: in place when `v` is
// contiguous and aligned (the run is read as floats), else copied to `copy`; nullptr if one of
// them is NaN.
inline const float* present_run(const FloatView& v, int64_t base, int64_t count, float* copy) {
  const float* run = copy;
  if (v.contiguous() && reinterpret_cast<uintptr_t>(v.data()) % alignof(float) == 0) {
    run = reinterpret_cast<const float*>(v.data()) + base;
  } else {
    for (int64_t t = 0; t < count; ++t) copy[t] = v.get_unchecked(base + t);
  }
  // Four masks, so that no one OR waits for the previous one.
  ExtremeOctetMask missing{}, missing_1{}, missing_2{}, missing_3{};
  int64_t t = 0;
  for (; t + 32 <= count; t += 32) {
    ExtremeOctet x[4];
    std::memcpy(x, run + t, sizeof x);
    missing |= x[0] != x[0];
    missing_1 |= x[1] != x[1];
    missing_2 |= x[2] != x[2];
    missing_3 |= x[3] != x[3];
  }
  missing |= missing_1 | missing_2 | missing_3;
  for (; t + 8 <= count; t += 8) {
    ExtremeOctet x;
    std::memcpy(&x, run + t, sizeof x);
    missing |= x != x;
  }
  bool any_missing = false;
  for (int k = 0; k < 8; ++k) any_missing |= missing[k] != 0;
  for (; t < count; ++t) any_missing |= run[t] != run[t];
  return any_missing ? nullptr : run;
}

// M_w of one series over a chunk, from `run` (M_1, which may be `a`) through the buffers `a` and `b`; returns
// the buffer or run holding it. Entry t stands for position base + t; the step to span 2s
// fills M_2s from t = 2s - 1 on, the entries it reads being those of M_s from t = s - 1 on.
template <Extreme kind>
const float* doubled(const float* run, float* a, float* b, int64_t w, int64_t length) {
  const float* span = run;
  float* next = run == a ? b : a;
  for (int64_t s = 1; s < w; s *= 2) {
    later_of<kind>(span + s - 1, span + 2 * s - 1, next + 2 * s - 1, length - 2 * s + 1);
    span = next;
    next = next == a ? b : a;
  }
  return span;
}

// Without a run writer each position of a chunk goes through `emit`.
struct EmitEach {};

// emit_run(from, count, highest, lowest), when given, stands for emit(from + u, highest[u], lowest[u])
// for u = 0 .. count - 1 in order.
template <class Emit, class EmitRun = EmitEach>
bool scan_extremes_by_doubling(const FloatView high, const FloatView low, int32_t period, int64_t start, int64_t n,
                               Emit emit, EmitRun emit_run = {}) {
  const int64_t p = period, history = p - 1;
  int64_t w = 1;
  while (2 * w <= p) w *= 2;
  const int64_t chunk = std::min(kDoublingChunk, n - start);
  const int64_t room = history + chunk;
  // The ring for chunks holding a NaN is taken up front, so nothing fails once emitting began.
  const uint64_t capacity = ring_capacity(period, start, std::min(n, start + chunk));
  ScratchBuffer<float, 1024> scratch(4 * static_cast<uint64_t>(room));
  ScratchBuffer<RingEntry, 512> rings(2 * capacity);
  if (!scratch.get() || !rings.get()) return scan_extremes_by_queue(high, low, period, start, n, emit);
  float* const buffers = scratch.get();

  for (int64_t from = start; from < n; from += chunk) {
    const int64_t count = std::min(chunk, n - from), length = history + count, base = from - history;
    float* const high_a = buffers;
    float* const high_b = buffers + room;
    float* const low_a = buffers + 2 * room;
    float* const low_b = buffers + 3 * room;
    const float* high_run = present_run(high, base, length, high_a);
    const float* low_run = high_run ? present_run(low, base, length, low_a) : nullptr;
    if (!high_run || !low_run) {
      run_ring_queues(rings.get(), capacity, high, low, period, from, from + count, emit);
      continue;
    }
    const float* high_span = doubled<Extreme::Highest>(high_run, high_a, high_b, w, length);
    const float* low_span = doubled<Extreme::Lowest>(low_run, low_a, low_b, w, length);
    // Position from + u: the older half ends at entry u + w - 1, the newer at u + history.
    float* const highest = high_span == high_a ? high_b : high_a;
    float* const lowest = low_span == low_a ? low_b : low_a;
    later_of<Extreme::Highest>(high_span + w - 1, high_span + history, highest, count);
    later_of<Extreme::Lowest>(low_span + w - 1, low_span + history, lowest, count);
    if constexpr (std::is_same_v<EmitRun, EmitEach>) {
      for (int64_t u = 0; u < count; ++u) emit(from + u, highest[u], lowest[u]);
    } else {
      emit_run(from, count, static_cast<const float*>(highest), static_cast<const float*>(lowest));
    }
  }
  return true;
}

// Calls emit(i, highest high, lowest low) for i = start .. n - 1 as the queues
// would produce them. The caller has checked extremes_in_range. Returns false,
// having emitted nothing, when no scratch memory could be had.
// Views and `emit` (which should capture by value) are copied so that output
// stores cannot alias them.
template <class Emit, class EmitRun = EmitEach>
bool scan_extremes(const FloatView high, const FloatView low, int32_t period, int32_t start, int32_t n, Emit emit,
                   EmitRun emit_run = {}) {
  if (start >= n) return true;
  if (period <= kDoublingPeriod) return scan_extremes_by_doubling(high, low, period, start, n, emit, emit_run);
  return scan_extremes_by_fold(high, low, period, start, n, emit);
}

// How a slot-queue run computes the oldest expired position i - period: in 32
// bits, wrapping (the midpoint and the wick), or exactly (%R and the stochastic).
// They differ only for periods near the most negative int, where the results differ too.
enum class Expiry { Wrapping32, Exact };

// The window extremes of every position: for i = start .. n - 1 calls
// write(access, close, out, i, highest high, lowest low) for the window
// i - period + 1 .. i, the positions before start having been pushed first. This
// is the one place that chooses how: window folds and ring queues when no access
// can fail and nothing written shares memory with anything read, else the slot
// queues over `high_slots` and `low_slots`, as the plain loop runs them.
// `write` touches `close` and `out` only, as `write_reaches` states; the fold and
// ring runs require period >= 1, so there it touches nothing outside 0 .. n - 1.
// `write_run(close, out, from, count, highest, lowest)`, when given, must do what `write`
// does for positions from .. from + count - 1 in order (it may write several at once, with
// a lane being the scalar operation); the scans then hand it whole chunks.
template <Expiry kExpiry, class Write, class WriteRun = EmitEach>
void window_extremes(const FloatView& high, const FloatView& low, const FloatView& close, const FloatView& out,
                     const IntView& high_slots, const IntView& low_slots, int32_t period, int32_t start, int32_t n,
                     std::initializer_list<Reach> write_reaches, Write write, WriteRun write_run = {}) {
  if (extremes_in_range(high, low, high_slots, low_slots, period, start, n) && close.size() >= n &&
      out.size() >= n &&
      separate({Span(out), Span(high_slots), Span(low_slots)}, {Span(high), Span(low), Span(close)})) {
    const auto emit = [close, out, write](int64_t i, float hh, float ll) {
      write(Access<false>{}, close, out, i, hh, ll);
    };
    bool done;
    if constexpr (std::is_same_v<WriteRun, EmitEach>) {
      done = scan_extremes(high, low, period, start, n, emit);
    } else {
      done = scan_extremes(high, low, period, start, n, emit,
                           [close, out, write_run](int64_t from, int64_t count, const float* hh, const float* ll) {
                             write_run(close, out, from, count, hh, ll);
                           });
    }
    if (done) return;
  }
  HighQueue highs(high_slots, high);
  LowQueue lows(low_slots, low);
  for (int64_t i = int64_t{start} - period + 1; i < start; ++i) {
    highs.push(static_cast<int32_t>(i));
    lows.push(static_cast<int32_t>(i));
  }
  run_steps(start, n, write_reaches, [&](auto access, int64_t i) {
    // Both fronts are checked before either queue takes the new position.
    const int64_t expired = kExpiry == Expiry::Exact ? i - period : sub32(static_cast<int32_t>(i), period);
    highs.expire(expired);
    lows.expire(expired);
    highs.push(static_cast<int32_t>(i));
    lows.push(static_cast<int32_t>(i));
    write(access, close, out, i, highs.front_value(), lows.front_value());
  });
}

}  // namespace velk::indicators
