// What a classic indicator file includes: its descriptor, the building blocks of its state,
// and the registrar that lists it. An indicator is one file in indicators/classic/ holding
//
//   struct State {
//     static constexpr int inputs = 1, outputs = 1;     // as many as the descriptor names
//     explicit State(const double* params);             // parameters in descriptor order
//     bool step(const double* bar, double* out);        // one real bar; true once out holds values
//     template <class Archive> void fields(Archive& a); // every member, for pickling
//   };
//   const Registrar<State> registered{Descriptor{...}};
//
// The driver (driver.hpp) applies the NaN rule around step: a bar with any NaN input gives NaN
// outputs and never reaches the state, so a state sees real bars only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classic_engine/driver.hpp"
#include "classic_engine/lanes.hpp"

namespace velk::classic {

enum class ParamKind { integer, real };

struct ParamSpec {
  const char* name;
  ParamKind kind;
  double default_value;
  double min;
  double max;
  const char* doc;
};

// An input series, by name. An optional input (declared with `optional_input`, after the
// others) may be left out by the caller: a series left out reads 0 on every bar, and a live
// handle's bar left without it repeats the value the handle was last given (0 before any).
struct InputSpec {
  InputSpec(const char* input_name, bool may_be_left_out = false)  // NOLINT: a plain name converts
      : name(input_name), optional(may_be_left_out) {}
  const char* name;
  bool optional;
};
inline InputSpec optional_input(const char* name) { return InputSpec(name, true); }

struct Descriptor {
  const char* name;
  const char* group;
  const char* summary;
  const char* doc;  // formula, first value, NaN and flat behaviour, comparison with TA-Lib
  std::vector<InputSpec> inputs;
  std::vector<ParamSpec> params;
  std::vector<const char*> outputs;
  // From this position on NaN-free input every output has a value.
  int64_t (*lookback)(const double* params);
  // Each output's first position on NaN-free input, for states whose outputs start apart (step
  // returns true from the earliest and leaves the others NaN until theirs); nullptr: all at lookback.
  void (*first_positions)(const double* params, int64_t* positions) = nullptr;
};

// One registry row: the descriptor and the driver's entry points for its state type.
struct Entry {
  Descriptor descriptor;
  Operations ops;
};

std::vector<Entry>& registry_rows();

template <class State>
struct Registrar {
  explicit Registrar(Descriptor descriptor) {
    registry_rows().push_back(Entry{std::move(descriptor), operations_of<State>()});
  }
};

inline constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------- state building blocks

// The last `capacity` values; `push` returns the value it replaces (0 until the ring is full).
// Every indexed access of a state goes through a ring, whose position is validated on load.
class Ring {
 public:
  Ring() = default;
  explicit Ring(int64_t capacity)
      : values_(static_cast<size_t>(capacity), 0.0), capacity_(static_cast<size_t>(capacity)) {}

  double push(double value) {
    double& slot = values_[position_];
    const double leaving = slot;
    slot = value;
    position_ = position_ + 1 == capacity_ ? 0 : position_ + 1;
    filled_ += filled_ < capacity_;
    return leaving;
  }
  bool full() const { return filled_ == capacity_; }
  size_t size() const { return filled_; }
  size_t capacity() const { return capacity_; }
  // Storage order: the slot the next push writes, and the value in slot i.
  size_t position() const { return position_; }
  double slot(size_t i) const { return values_[i]; }
  // For loops that keep the position in a local: the storage, and moving the position on by
  // `count` slots written directly (a full ring, count <= capacity - position).
  double* slots() { return values_.data(); }
  void advance_full(size_t count) {
    position_ += count;
    if (position_ == capacity_) position_ = 0;
  }
  // i-th oldest value held (0 <= i < size()).
  double oldest(size_t i) const {
    size_t at = filled_ < capacity_ ? i : position_ + i;
    if (at >= capacity_) at -= capacity_;
    return values_[at];
  }
  // Calls visit(value) for each value held, oldest first, as two contiguous runs (no index
  // wrapping per value: re-adding and rescanning loops stay short and predictable).
  template <class Visit>
  void each_oldest(Visit&& visit) const {
    const double* data = values_.data();
    const size_t start = filled_ < capacity_ ? 0 : position_;
    for (size_t at = start; at < filled_; ++at) visit(data[at]);
    for (size_t at = 0; at < start; ++at) visit(data[at]);
  }
  // The newest of the largest values held (`higher`) or of the smallest, and its age in pushes
  // (0: the newest). Scans storage in its two contiguous spans, oldest first.
  template <bool higher>
  void newest_extreme(double& extreme, int64_t& age) const {
    const size_t start = filled_ < capacity_ ? 0 : position_;
    const double* data = values_.data();
    double best = data[start];
    size_t best_at = 0;  // index from the oldest
    size_t i = 0;
    auto scan = [&](size_t from, size_t to) {
      for (size_t at = from; at < to; ++at, ++i) {
        const double v = data[at];
        if (higher ? v >= best : v <= best) {
          best = v;
          best_at = i;
        }
      }
    };
    if (filled_ < capacity_) {
      scan(0, filled_);
    } else {
      scan(position_, capacity_);
      scan(0, position_);
    }
    extreme = best;
    age = static_cast<int64_t>(filled_ - 1 - best_at);
  }
  // The ring after push(values[i]) for i = 0 .. count - 1 (only the last `capacity` are written).
  // Copied in at most two contiguous pieces: a run kernel ends with it after every run.
  void push_many(const double* values, size_t count) {
    if (capacity_ == 0) return;
    const size_t kept = count < capacity_ ? count : capacity_;
    position_ = (position_ + (count - kept)) % capacity_;
    filled_ = filled_ + count < capacity_ ? filled_ + count : capacity_;
    const double* from = values + (count - kept);
    const size_t before_wrap = std::min(kept, capacity_ - position_);
    std::memcpy(values_.data() + position_, from, before_wrap * sizeof(double));
    std::memcpy(values_.data(), from + before_wrap, (kept - before_wrap) * sizeof(double));
    position_ += kept;
    if (position_ >= capacity_) position_ -= capacity_;
  }
  // The position and fill after `count` pushes whose values the next `capacity` pushes overwrite
  // (a run that pushes only its last window's values leaves the ring as stepping would).
  void pass_over(size_t count) {
    if (capacity_ == 0) return;
    position_ = (position_ + count % capacity_) % capacity_;
    filled_ = filled_ + count < capacity_ ? filled_ + count : capacity_;
  }
  // Calls visit(value) for the newest `count` values held (all if fewer), oldest first.
  template <class Visit>
  void each_newest(int64_t count, Visit&& visit) const {
    const size_t n = count < 0 ? 0 : static_cast<size_t>(count) < filled_ ? static_cast<size_t>(count) : filled_;
    for (size_t i = filled_ - n; i < filled_; ++i) visit(oldest(i));
  }
  // Sum of the values held, oldest first (a fixed order, so every route rounds alike).
  double sum() const {
    double total = 0.0;
    each_oldest([&](double value) { total += value; });
    return total;
  }

  template <class Archive>
  void fields(Archive& a) {
    a.ring(values_, position_, filled_);
  }

 private:
  std::vector<double> values_;
  size_t capacity_ = 0;
  size_t position_ = 0;
  size_t filled_ = 0;
};

// A window sum that never drifts: every `capacity` bars the running sum is replaced by the sum
// of the window, so rounding from values that have left the window lasts at most one window.
// That sum is accumulated as the window's values arrive (`fresh_`, from 0, oldest first: the
// bits of adding up the ring), so no bar pays for a pass over the window.
struct WindowSum {
  WindowSum() = default;
  explicit WindowSum(int64_t period) : ring(period) {}

  // Adds `value`, drops the value leaving the window; returns the sum of the window.
  double push(double value) {
    const double leaving = ring.push(value);  // 0 while the ring fills: subtracting it is exact
    fresh += value;
    if (++since_resum >= static_cast<int64_t>(ring.capacity())) {
      since_resum = 0;
      sum = fresh;
      fresh = 0.0;
    } else {
      sum += value;
      sum -= leaving;
    }
    return sum;
  }
  bool full() const { return ring.full(); }

  template <class Archive>
  void fields(Archive& a) {
    ring.fields(a);
    a(sum);
    a(since_resum);
    if (Archive::loading) {
      fresh = 0.0;
      ring.each_newest(since_resum, [&](double value) { fresh += value; });
    }
  }

  // Open to run loops that keep these in registers (SimpleAverageRun, AdaptiveAverage::run).
  Ring ring;
  double sum = 0.0;
  double fresh = 0.0;  // sum of the values since the last re-adding
  int64_t since_resum = 0;
};

// a > b ? a : b and a < b ? a : b as selects (maxsd/minsd): in the flattened bar loops GCC turns
// the ternaries into branches, which mispredict on price data.
inline double select_greater(double a, double b) {
#if defined(__SSE2__)
  return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
  return a > b ? a : b;
#endif
}
inline double select_less(double a, double b) {
#if defined(__SSE2__)
  return _mm_cvtsd_f64(_mm_min_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
  return a < b ? a : b;
#endif
}
inline size_t select_index(bool first, size_t a, size_t b) {
  const size_t mask = size_t{0} - static_cast<size_t>(first);
  return (a & mask) | (b & ~mask);
}

// x through an empty asm: GCC cannot evaluate it ahead of its branch, so a rarely taken branch
// stays a branch instead of becoming a select whose latency joins the bar-to-bar chain.
inline double keep_in_register(double x) {
#if defined(__x86_64__)
  asm volatile("" : "+x"(x));
#elif defined(__aarch64__)
  asm volatile("" : "+w"(x));
#endif
  return x;
}

// Highest and/or lowest of the last `period` values in a few selects per value, never a rescan
// of the window. Ring slots split the window in two: the slots written since the ring's position
// last wrapped (a prefix, whose extremes run along with each push) and the older slots from the
// position on (a suffix, whose extremes for every start were computed once when the position
// wrapped). Ties go to the newest value, so the value (and with `Ages`, its age) is that of the
// newest equal extreme. `Highs`/`Lows` select the sides kept up to date; the pickled fields hold
// both sides (an untracked one is scanned when saving), so every variant saves the same bytes.
template <bool Highs, bool Lows, bool Ages = false>
class WindowExtremesOf {
 public:
  WindowExtremesOf() = default;
  explicit WindowExtremesOf(int64_t period)
      : ring_(period), high_suffix_(Highs ? static_cast<size_t>(period) : 0),
        low_suffix_(Lows ? static_cast<size_t>(period) : 0) {}

  [[gnu::always_inline]] void push(double value) {
    const size_t at = ring_.position();
    ring_.push(value);
    if (ring_.position() == 0) {
      suffixes_from(0);  // every `period` pushes
      return;
    }
    // Ties take the new value: select_greater(old, new) is new unless old is strictly beyond.
    if constexpr (Highs) {
      if constexpr (Ages) high_prefix_.at = select_index(value >= high_prefix_.value, at, high_prefix_.at);
      high_prefix_.value = select_greater(high_prefix_.value, value);
    }
    if constexpr (Lows) {
      if constexpr (Ages) low_prefix_.at = select_index(value <= low_prefix_.value, at, low_prefix_.at);
      low_prefix_.value = select_less(low_prefix_.value, value);
    }
  }
  bool full() const { return ring_.full(); }
  size_t size() const { return ring_.size(); }
  // Calls visit(value) for the newest `count` values held (all if fewer), oldest first.
  template <class Visit>
  void each_newest(int64_t count, Visit&& visit) const {
    ring_.each_newest(count, visit);
  }
  // The window after push(values[i]) for i = 0 .. count - 1.
  void push_many(const double* values, size_t count) {
    ring_.push_many(values, count);
    rebuild();
  }
  double highest() const {
    static_assert(Highs);
    return extreme<true>(high_prefix_, high_suffix_).value;
  }
  double lowest() const {
    static_assert(Lows);
    return extreme<false>(low_prefix_, low_suffix_).value;
  }
  // Bars since the extreme (0: the newest value); the newest of equal extremes counts.
  int64_t highest_age() const {
    static_assert(Highs && Ages);
    return age_of(extreme<true>(high_prefix_, high_suffix_));
  }
  int64_t lowest_age() const {
    static_assert(Lows && Ages);
    return age_of(extreme<false>(low_prefix_, low_suffix_));
  }

  // Ring, highest, lowest and their ages. Loading keeps the ring and derives the rest from it
  // (the stored extremes are a function of the ring).
  template <class Archive>
  void fields(Archive& a) {
    ring_.fields(a);
    double highest = -std::numeric_limits<double>::infinity(), lowest = std::numeric_limits<double>::infinity();
    int64_t highest_age = 0, lowest_age = 0;
    if (!Archive::loading && ring_.size() > 0) {
      ring_.newest_extreme<true>(highest, highest_age);
      ring_.newest_extreme<false>(lowest, lowest_age);
    }
    a(highest);
    a(lowest);
    a(highest_age);
    a(lowest_age);
    if (Archive::loading) rebuild();
  }

 private:
  struct Extreme {
    double value;
    size_t at;  // ring slot (kept only with Ages)
  };
  static constexpr Extreme none(bool higher) {
    return {higher ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity(), 0};
  }

  // The prefix (newer) wins ties; the suffix only when strictly beyond it or when there is no
  // prefix (the position has just wrapped; the prefix is then empty at +-infinity).
  template <bool higher>
  [[gnu::always_inline]] Extreme extreme(const Extreme& prefix, const std::vector<Extreme>& suffix) const {
    const size_t position = ring_.position();
    if (!ring_.full()) return prefix;
    const Extreme& older = suffix[position];
    Extreme e;
    e.value = higher ? select_greater(older.value, prefix.value) : select_less(older.value, prefix.value);
    if constexpr (Ages) {
      const bool beyond = higher ? older.value > prefix.value : older.value < prefix.value;
      e.at = select_index(position == 0 || beyond, older.at, prefix.at);
    }
    return e;
  }
  int64_t age_of(const Extreme& e) const {
    if (ring_.size() == 0) return 0;
    const int64_t position = static_cast<int64_t>(ring_.position());
    const int64_t at = static_cast<int64_t>(e.at);
    return at < position ? position - 1 - at : static_cast<int64_t>(ring_.capacity()) + position - 1 - at;
  }

  // Extremes of every suffix of slots from `from` on, newest slot first (an older value wins
  // only when strictly beyond); the prefix restarts empty.
  void suffixes_from(size_t from) {
    const size_t capacity = ring_.capacity();
    if constexpr (Highs) {
      Extreme best{ring_.slot(capacity - 1), capacity - 1};
      for (size_t i = capacity; i-- > from;) {
        const double v = ring_.slot(i);
        if constexpr (Ages) best.at = select_index(v > best.value, i, best.at);
        best.value = select_greater(v, best.value);
        high_suffix_[i] = best;
      }
      high_prefix_ = none(true);
    }
    if constexpr (Lows) {
      Extreme best{ring_.slot(capacity - 1), capacity - 1};
      for (size_t i = capacity; i-- > from;) {
        const double v = ring_.slot(i);
        if constexpr (Ages) best.at = select_index(v < best.value, i, best.at);
        best.value = select_less(v, best.value);
        low_suffix_[i] = best;
      }
      low_prefix_ = none(false);
    }
  }
  // After loading a ring: the suffix from the position on (if full) and the prefix before it.
  void rebuild() {
    const size_t position = ring_.position();
    if (ring_.full()) suffixes_from(position);
    high_prefix_ = none(true);
    low_prefix_ = none(false);
    for (size_t i = 0; i < position; ++i) {
      const double v = ring_.slot(i);
      if (Highs && v >= high_prefix_.value) high_prefix_ = {v, i};
      if (Lows && v <= low_prefix_.value) low_prefix_ = {v, i};
    }
  }

  Ring ring_;
  Extreme high_prefix_ = none(true);
  Extreme low_prefix_ = none(false);
  std::vector<Extreme> high_suffix_;
  std::vector<Extreme> low_suffix_;
};
// select_greater and select_less for the kernel below: on x86-64 one maxsd/minsd on the
// registers as they are (the intrinsics' forms add a register copy per operand there).
[[gnu::always_inline]] inline double greater_in_place(double a, double b) {
#if defined(__x86_64__) && defined(__GNUC__)
  asm("maxsd %1, %0" : "+x"(a) : "xm"(b));
  return a;
#else
  return select_greater(a, b);
#endif
}
[[gnu::always_inline]] inline double less_in_place(double a, double b) {
#if defined(__x86_64__) && defined(__GNUC__)
  asm("minsd %1, %0" : "+x"(a) : "xm"(b));
  return a;
#else
  return select_less(a, b);
#endif
}

// The same extremes read off arrays: emit(t, highest of high[t - period + 1 .. t], lowest of
// low[t - period + 1 .. t]) for t = from .. to - 1 (from >= period - 1; one array may serve as
// both), the newest of equal extremes as above. The arrays are cut into blocks of `period` from
// the first window on: a window is a suffix of one block (computed once per block, into
// `scratch`) and a prefix of the next (running along).
template <class Emit>
[[gnu::always_inline]] inline void window_extremes_along(const double* high, const double* low, ptrdiff_t period,
                                                         ptrdiff_t from, ptrdiff_t to, std::vector<double>& scratch,
                                                         Emit&& emit) {
  const size_t n = static_cast<size_t>(period);
  scratch.resize(2 * (n + 1));
  double* high_suffix = scratch.data();
  double* low_suffix = high_suffix + n + 1;
  high_suffix[n] = -std::numeric_limits<double>::infinity();  // the empty suffix
  low_suffix[n] = std::numeric_limits<double>::infinity();
  ptrdiff_t block = from - (period - 1);
  double high_prefix = -std::numeric_limits<double>::infinity(), low_prefix = std::numeric_limits<double>::infinity();
  for (ptrdiff_t i = block; i < from; ++i) {
    high_prefix = greater_in_place(high_prefix, high[i]);
    low_prefix = less_in_place(low_prefix, low[i]);
  }
  ptrdiff_t t = from;
  while (true) {
    const double* older_high = high_suffix + 1 - block;  // older_high[t]: the suffix from t - period + 1
    const double* older_low = low_suffix + 1 - block;
    for (const ptrdiff_t end = std::min(to, block + period); t < end; ++t) {
      high_prefix = greater_in_place(high_prefix, high[t]);
      low_prefix = less_in_place(low_prefix, low[t]);
      emit(t, greater_in_place(older_high[t], high_prefix), less_in_place(older_low[t], low_prefix));
    }
    if (t == to) return;
    // The block just finished becomes the older one: its suffixes, newest value first.
    const double* h = high + block;
    const double* l = low + block;
    double high_best = h[n - 1], low_best = l[n - 1];
    for (size_t i = n; i-- > 1;) {
      high_best = greater_in_place(h[i], high_best);
      low_best = less_in_place(l[i], low_best);
      high_suffix[i] = high_best;
      low_suffix[i] = low_best;
    }
    block += period;
    high_prefix = -std::numeric_limits<double>::infinity();
    low_prefix = std::numeric_limits<double>::infinity();
  }
}

// window_extremes_along with the extremes' ages instead: emit(t, bars since the highest high,
// bars since the lowest low), the newest of equal extremes counting. `scratch` holds the block
// suffixes' values and the positions they were found at.
template <class Emit>
[[gnu::always_inline]] inline void window_extreme_ages_along(const double* high, const double* low, ptrdiff_t period,
                                                             ptrdiff_t from, ptrdiff_t to, std::vector<double>& scratch,
                                                             std::vector<ptrdiff_t>& positions, Emit&& emit) {
  const size_t n = static_cast<size_t>(period);
  scratch.resize(2 * (n + 1));
  positions.resize(2 * (n + 1));
  double* high_suffix = scratch.data();
  double* low_suffix = high_suffix + n + 1;
  ptrdiff_t* high_suffix_at = positions.data();
  ptrdiff_t* low_suffix_at = high_suffix_at + n + 1;
  high_suffix[n] = -std::numeric_limits<double>::infinity();  // the empty suffix: never strictly beyond
  low_suffix[n] = std::numeric_limits<double>::infinity();
  high_suffix_at[n] = low_suffix_at[n] = 0;
  ptrdiff_t block = from - (period - 1);
  double high_prefix = -std::numeric_limits<double>::infinity(), low_prefix = std::numeric_limits<double>::infinity();
  ptrdiff_t high_prefix_at = block, low_prefix_at = block;
  const auto extend_prefix = [&](ptrdiff_t t) {
    const double h = high[t], l = low[t];
    high_prefix_at = h >= high_prefix ? t : high_prefix_at;
    low_prefix_at = l <= low_prefix ? t : low_prefix_at;
    high_prefix = greater_in_place(high_prefix, h);
    low_prefix = less_in_place(low_prefix, l);
  };
  for (ptrdiff_t i = block; i < from; ++i) extend_prefix(i);
  ptrdiff_t t = from;
  while (true) {
    const ptrdiff_t offset = 1 - block;  // suffix index of the window starting at t - period + 1
    for (const ptrdiff_t end = std::min(to, block + period); t < end; ++t) {
      extend_prefix(t);
      const ptrdiff_t at = t + offset;
      const ptrdiff_t highest_at = high_suffix[at] > high_prefix ? high_suffix_at[at] : high_prefix_at;
      const ptrdiff_t lowest_at = low_suffix[at] < low_prefix ? low_suffix_at[at] : low_prefix_at;
      emit(t, t - highest_at, t - lowest_at);
    }
    if (t == to) return;
    const double* h = high + block;
    const double* l = low + block;
    double high_best = h[n - 1], low_best = l[n - 1];
    ptrdiff_t high_best_at = block + period - 1, low_best_at = high_best_at;
    for (size_t i = n; i-- > 1;) {
      high_best_at = h[i] > high_best ? block + static_cast<ptrdiff_t>(i) : high_best_at;
      low_best_at = l[i] < low_best ? block + static_cast<ptrdiff_t>(i) : low_best_at;
      high_best = greater_in_place(h[i], high_best);
      low_best = less_in_place(l[i], low_best);
      high_suffix[i] = high_best, high_suffix_at[i] = high_best_at;
      low_suffix[i] = low_best, low_suffix_at[i] = low_best_at;
    }
    block += period;
    high_prefix = -std::numeric_limits<double>::infinity();
    low_prefix = std::numeric_limits<double>::infinity();
  }
}

// The same around any kernel(begin) that emits bars begin .. to - 1 off the arrays.
template <class State, class Out, class Highs, class Lows, class Kernel>
[[gnu::always_inline]] inline void run_window_kernel(State& state, const double* const* in, ptrdiff_t from,
                                                     ptrdiff_t to, Out* const* out, ptrdiff_t real_before,
                                                     ptrdiff_t period, const double* high, const double* low,
                                                     Highs& highs, Lows& lows, Kernel&& kernel) {
  ptrdiff_t t = from;
  for (const ptrdiff_t step_end = std::min(to, from + std::max<ptrdiff_t>(0, period - 1 - real_before)); t < step_end;
       ++t) {
    double bar[State::inputs], values[State::outputs];
    for (int k = 0; k < State::inputs; ++k) bar[k] = in[k][t];
    if (!state.step(bar, values)) std::fill(values, values + State::outputs, nan_value);
    for (int k = 0; k < State::outputs; ++k) out[k][t] = static_cast<Out>(values[k]);
  }
  if (t == to) return;
  kernel(t);
  highs.push_many(high + t, static_cast<size_t>(to - t));
  if (static_cast<void*>(&lows) != static_cast<void*>(&highs)) lows.push_many(low + t, static_cast<size_t>(to - t));
}

// The run kernel of a state over a high/low window (run_real of driver.hpp): bars until the
// window lies in the arrays take `step`; the others give emit(t, highest, lowest), which writes
// their outputs; then `highs` and `lows` (one object may serve as both) take the kernel's bars.
template <class State, class Out, class Highs, class Lows, class Emit>
[[gnu::always_inline]] inline void run_window_extremes(State& state, const double* const* in, ptrdiff_t from,
                                                       ptrdiff_t to, Out* const* out, ptrdiff_t real_before,
                                                       ptrdiff_t period, const double* high, const double* low,
                                                       Highs& highs, Lows& lows, std::vector<double>& scratch,
                                                       Emit&& emit) {
  run_window_kernel(state, in, from, to, out, real_before, period, high, low, highs, lows, [&](ptrdiff_t begin) {
    window_extremes_along(high, low, period, begin, to, scratch, emit);
  });
}

// run_window_extremes for a state whose outputs come from the close and the window's high and low
// (`from_window(close, highest, lowest, out)`, false while it warms up): stoch, stochf.
template <class State, class Out>
inline void run_close_in_window(State& state, const double* const* in, ptrdiff_t from, ptrdiff_t to,
                                Out* const* out, ptrdiff_t real_before) {
  const double* close = in[2];
  run_window_extremes(state, in, from, to, out, real_before, state.period, in[0], in[1], state.highs, state.lows,
                      state.scratch, [&](ptrdiff_t t, double highest, double lowest) {
                        double values[State::outputs];
                        if (!state.from_window(close[t], highest, lowest, values)) {
                          for (int k = 0; k < State::outputs; ++k) values[k] = nan_value;
                        }
                        for (int k = 0; k < State::outputs; ++k) out[k][t] = static_cast<Out>(values[k]);
                      });
}

using WindowExtremes = WindowExtremesOf<true, true>;
using WindowHighest = WindowExtremesOf<true, false>;
using WindowLowest = WindowExtremesOf<false, true>;

// Wilder's smoothing weight of the previous value, (period - 1) / period rounded; 1 - it is exact.
inline double wilder_kept(int64_t period) {
  return static_cast<double>(period - 1) / static_cast<double>(period);
}

// Exponential average seeded with the simple average of its first `period` values (TA-Lib's
// default), with k = 2 / (period + 1) unless given. Each step is one fused multiply-add with the
// value alone on the bar-to-bar chain: value = fused(value, c, k' * x), where c = 1 - k rounded and
// k' = 1 - c (exact), so c + k' == 1 exactly and flat prices keep the value at the price (see
// `ema_step`). T: one series (double) or lanes of series (lanes.hpp).
template <class T>
class SeededEmaOf {
 public:
  SeededEmaOf() = default;
  explicit SeededEmaOf(int64_t period) : SeededEmaOf(period, 2.0 / (static_cast<double>(period) + 1.0)) {}
  SeededEmaOf(int64_t period, double k)
      : period_(count_of<T>(period)),
        kept_(splat<T>(1.0 - k)),
        rate_(splat<T>(1.0 - (1.0 - k))),
        size_(splat<T>(static_cast<double>(period))) {}

  // True once the value is defined (from the period-th value on).
  VELK_LANE_INLINE FlagOf<T> push(T x) {
    if (all_set(not_less(seen_, period_))) {
      value_ = fused(value_, kept_, rate_ * x);
      return flag_of<T>(true);
    }
    const FlagOf<T> seeding = less(seen_, period_);
    seed_sum_ = choose(seeding, seed_sum_ + x, seed_sum_);
    seen_ = choose(seeding, seen_ + count_of<T>(1), seen_);
    const T seeded = choose(equal(seen_, period_), seed_sum_ / size_, value_);
    value_ = choose(seeding, seeded, fused(value_, kept_, rate_ * x));
    return not_less(seen_, period_);
  }
  VELK_LANE_INLINE T value() const { return value_; }
  // The step's constants: c (the previous value's weight) and k' = 1 - c (the input's).
  VELK_LANE_INLINE T kept() const { return kept_; }
  VELK_LANE_INLINE T rate() const { return rate_; }
  // Whether push is the step alone (the seed is taken).
  bool seeded() const { return all_set(not_less(seen_, period_)); }
  // The value a seeded average reached through steps taken outside (a run kernel's locals).
  VELK_LANE_INLINE void take(T value) { value_ = value; }

  template <class Archive>
  void fields(Archive& a) {
    a(seed_sum_);
    a(value_);
    a(seen_);
  }

 private:
  CountOf<T> period_ = count_of<T>(1);
  T kept_ = splat<T>(0.0);
  T rate_ = splat<T>(1.0);
  T size_ = splat<T>(1.0);
  T seed_sum_ = splat<T>(0.0);
  T value_ = splat<T>(0.0);
  CountOf<T> seen_ = count_of<T>(0);
};
using SeededEma = SeededEmaOf<double>;

// Wilder's average: the simple average of the first `period` values, then
// value = (value * (period - 1) + x) / period, computed as one fused multiply-add,
// fused(value, kept, share * x) with kept = (period - 1) / period rounded and share = 1 - kept
// (exact): no division on the bar-to-bar chain, the value alone on it, and kept + share == 1
// exactly, so flat inputs keep the value at the input (0 stays exactly 0).
// One step of an average seeded with the mean of its first `period` values (summed into `value`,
// divided by `size`, the period as a double, at the period-th) and then stepped by
// value = fused(value, kept, share * x): Wilder's average, and T3's stages with the EMA's weights.
// True once seeded.
template <class T>
VELK_LANE_INLINE inline FlagOf<T> summed_seed_step(T& value, CountOf<T>& seen, CountOf<T> period, T size, T kept,
                                                   T share, T x) {
  if (all_set(not_less(seen, period))) {
    value = fused(value, kept, share * x);
    return flag_of<T>(true);
  }
  const FlagOf<T> seeding = less(seen, period);
  const T summed = value + x;
  seen = choose(seeding, seen + count_of<T>(1), seen);
  const T seeded = choose(equal(seen, period), summed / size, summed);
  value = choose(seeding, seeded, fused(value, kept, share * x));
  return not_less(seen, period);
}

template <class T>
class WilderAverageOf {
 public:
  WilderAverageOf() = default;
  explicit WilderAverageOf(int64_t period)
      : period_(count_of<T>(period)),
        kept_(splat<T>(wilder_kept(period))),
        share_(splat<T>(1.0 - wilder_kept(period))),
        size_(splat<T>(static_cast<double>(period))) {}

  VELK_LANE_INLINE FlagOf<T> push(T x) { return summed_seed_step(value_, seen_, period_, size_, kept_, share_, x); }
  VELK_LANE_INLINE T value() const { return value_; }
  VELK_LANE_INLINE T kept() const { return kept_; }
  VELK_LANE_INLINE T share() const { return share_; }
  // Whether push is the Wilder step alone (the seed is taken).
  bool seeded() const { return all_set(not_less(seen_, period_)); }
  // The value a seeded average reached through steps taken outside (a run kernel's locals).
  VELK_LANE_INLINE void take(T value) { value_ = value; }

  template <class Archive>
  void fields(Archive& a) {
    a(value_);
    a(seen_);
  }

 private:
  CountOf<T> period_ = count_of<T>(1);
  T kept_ = splat<T>(0.0);
  T share_ = splat<T>(1.0);
  T size_ = splat<T>(1.0);
  T value_ = splat<T>(0.0);
  CountOf<T> seen_ = count_of<T>(0);
};
using WilderAverage = WilderAverageOf<double>;

// Simple average of the last `period` values; true once the window is full.
struct SimpleAverage {
  SimpleAverage() = default;
  explicit SimpleAverage(int64_t period) : sum(period), period(static_cast<double>(period)) {}

  bool push(double x) {
    average = sum.push(x) / period;
    return sum.full();
  }
  double value() const { return average; }
  bool full() const { return sum.full(); }

  template <class Archive>
  void fields(Archive& a) {
    sum.fields(a);
    a(average);
  }

  WindowSum sum;
  double period = 1.0;
  double average = 0.0;
};

// The bar's range extended to the previous close.
inline double true_range(double high, double low, double previous_close) {
  // Selects (maxsd), not branches: which term wins is unpredictable on price data.
  const double range = high - low;
  const double to_high = std::fabs(high - previous_close);
  const double to_low = std::fabs(low - previous_close);
#if defined(__SSE2__)
  // maxsd(a, b) is exactly a > b ? a : b; written as a ternary, GCC still branches on the second
  // comparison in some flattened loops (trange).
  const __m128d greater = _mm_max_sd(_mm_set_sd(to_high), _mm_set_sd(range));
  return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(to_low), greater));
#else
  const double greater = to_high > range ? to_high : range;
  return to_low > greater ? to_low : greater;
#endif
}

#if defined(VELK_CLASSIC_LANES)
// The same for two bars at once: each lane the scalar operations above, in the same order.
inline Lanes true_range(Lanes high, Lanes low, Lanes previous_close) {
  const LaneMask magnitude_bits = {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()};
  const Lanes range = high - low;
  const Lanes to_high = (Lanes)((LaneMask)(high - previous_close) & magnitude_bits);
  const Lanes to_low = (Lanes)((LaneMask)(low - previous_close) & magnitude_bits);
  const Lanes greater = to_high > range ? to_high : range;
  return to_low > greater ? to_low : greater;
}
#endif

// The same for the lanes of series (lanes.hpp), any width.
template <LaneValues T>
VELK_LANE_INLINE inline T true_range(T high, T low, T previous_close) {
  const T range = high - low;
  const T to_high = magnitude(high - previous_close);
  const T to_low = magnitude(low - previous_close);
  const T greater_one = choose(greater(to_high, range), to_high, range);
  return choose(greater(to_low, greater_one), to_low, greater_one);
}

// Wilder's average of the true range (ATR, NATR); true ranges start at the second bar.
template <class T>
class AverageTrueRangeOf {
 public:
  AverageTrueRangeOf() = default;
  explicit AverageTrueRangeOf(int64_t period) : average_(period) {}

  VELK_LANE_INLINE FlagOf<T> push(T high, T low, T close) {
    const FlagOf<T> first = flag_not(has_previous_);
    const T previous = previous_close_;
    previous_close_ = close;
    has_previous_ = flag_of<T>(true);
    if (all_set(first)) return flag_of<T>(false);
    return push_where(flag_not(first), average_, true_range(high, low, previous));
  }
  VELK_LANE_INLINE T value() const { return average_.value(); }
  // Whether push is the Wilder step of the true range alone.
  bool seeded() const { return all_set(has_previous_) && average_.seeded(); }

  // push on bars from .. to - 1 once seeded, real or not, with the value and the previous close in
  // locals: emit(t, value) after a real bar, missing(t) at a bar with a NaN input (which leaves the
  // state alone). Bars are tested for NaN in the pass that reads them for their true ranges, so
  // long series are read once rather than scanned first and read again.
  template <class Emit, class Missing>
  void run_seeded(const double* high, const double* low, const double* close, ptrdiff_t from, ptrdiff_t to,
                  Emit&& emit, Missing&& missing) {
    const double kept = average_.kept(), share = average_.share();
    double value = average_.value(), previous = previous_close_;
    const auto bar_at = [&](ptrdiff_t at) {
      if (high[at] == high[at] && low[at] == low[at] && close[at] == close[at]) {
        value = fused(value, kept, share * true_range(high[at], low[at], previous));
        previous = close[at];
        emit(at, value);
      } else {
        missing(at);
      }
    };
    ptrdiff_t t = from;
#if defined(VELK_CLASSIC_LANES)
    // Two bars' shares of the true range at once (each lane the scalar operations), then their
    // steps: off the chain, and without the scalar form's moves into and out of vector registers.
    const auto pair_at = [&](ptrdiff_t at, Lanes previous_closes) {
      const Lanes shares = true_range(load_as<Lanes>(high + at), load_as<Lanes>(low + at), previous_closes) * share;
      value = fused(value, kept, shares[0]);
      emit(at, value);
      value = fused(value, kept, shares[1]);
      emit(at + 1, value);
    };
    // A cache line of each input at a time; a line holding a NaN bar goes bar by bar (the previous
    // close is then the last real bar's, not the input's). No software prefetch: the hardware
    // follows three sequential streams, and asking for lines 16 KB on made 10^6 bars 5 % slower.
    const double* const columns[3] = {high, low, close};
    constexpr ptrdiff_t line = 4 * lane_count;
    for (; t + line <= to; t += line) {
      if (block_real_at<3>(columns, t) && block_real_at<3>(columns, t + 2 * lane_count)) {
        pair_at(t, Lanes{previous, close[t]});
        for (ptrdiff_t k = lane_count; k < line; k += lane_count) pair_at(t + k, load_as<Lanes>(close + t + k - 1));
        previous = close[t + line - 1];
      } else {
        for (ptrdiff_t k = 0; k < line; ++k) bar_at(t + k);
      }
    }
#endif
    for (; t < to; ++t) bar_at(t);
    average_.take(value);
    previous_close_ = previous;
  }

  template <class Archive>
  void fields(Archive& a) {
    a(previous_close_);
    a(has_previous_);
    average_.fields(a);
  }

 private:
  T previous_close_ = splat<T>(0.0);
  FlagOf<T> has_previous_ = flag_of<T>(false);
  WilderAverageOf<T> average_;
};
using AverageTrueRange = AverageTrueRangeOf<double>;

// Wilder's relative strength in percent; 0 when there is neither gain nor loss (TA-Lib's
// convention). Ready from the period-th change on.
template <class T>
class RelativeStrengthOf {
 public:
  RelativeStrengthOf() = default;
  explicit RelativeStrengthOf(int64_t period) : gains_(period), losses_(period) {}

  VELK_LANE_INLINE FlagOf<T> push(T x) {
    const FlagOf<T> first = flag_not(has_previous_);
    const T change = x - previous_;
    previous_ = x;
    has_previous_ = flag_of<T>(true);
    if (all_set(first)) return flag_of<T>(false);
    const T zero = splat<T>(0.0);
    const FlagOf<T> ready = push_where(flag_not(first), gains_, choose(greater(change, zero), change, zero));
    push_where(flag_not(first), losses_, choose(less(change, zero), -change, zero));
    return ready;
  }
  VELK_LANE_INLINE T value() const {
    const T total = gains_.value() + losses_.value();
    const T zero = splat<T>(0.0);
    return choose(not_equal(total, zero), 100.0 * (gains_.value() / total), zero);
  }

  template <class Archive>
  void fields(Archive& a) {
    a(previous_);
    a(has_previous_);
    gains_.fields(a);
    losses_.fields(a);
  }

 private:
  T previous_ = splat<T>(0.0);
  FlagOf<T> has_previous_ = flag_of<T>(false);
  WilderAverageOf<T> gains_, losses_;
};
using RelativeStrength = RelativeStrengthOf<double>;

// The fast and slow EMAs of MACD, APO and PPO: both seeded at the bar where the slow seed window
// ends (the fast one with the mean of the fast period's closes ending there), as TA-Lib does; a
// fast period above the slow one is swapped with it. Ready from bar slow - 1 on.
template <class T>
class AlignedEmaPairOf {
 public:
  AlignedEmaPairOf() = default;
  AlignedEmaPairOf(int64_t a, int64_t b)
      : gap_(count_of<T>(std::max(a, b) - std::min(a, b))), fast_(std::min(a, b)), slow_(std::max(a, b)) {}

  VELK_LANE_INLINE FlagOf<T> push(T x) {
    const FlagOf<T> ready = slow_.push(x);
    seen_ = seen_ + count_of<T>(1);
    push_where(greater(seen_, gap_), fast_, x);
    return ready;
  }
  VELK_LANE_INLINE T fast() const { return fast_.value(); }
  VELK_LANE_INLINE T slow() const { return slow_.value(); }
  // Whether push is both averages' steps alone (both seeded).
  bool seeded() const { return fast_.seeded() && slow_.seeded(); }
  // The blocks, for a run kernel that steps them in registers once seeded (then `advance`).
  SeededEmaOf<T>& fast_average() { return fast_; }
  SeededEmaOf<T>& slow_average() { return slow_; }
  void advance(int64_t bars) { seen_ = seen_ + count_of<T>(bars); }

  template <class Archive>
  void fields(Archive& a) {
    a(seen_);
    fast_.fields(a);
    slow_.fields(a);
  }

 private:
  CountOf<T> gap_ = count_of<T>(0);
  SeededEmaOf<T> fast_, slow_;
  CountOf<T> seen_ = count_of<T>(0);
};
using AlignedEmaPair = AlignedEmaPairOf<double>;

// Fast %K: where the close sits in the window's range, in percent; 0 for a zero range, as TA-Lib.
inline double range_percent(double close, double highest, double lowest) {
  const double scale = (highest - lowest) / 100.0;
  return scale != 0.0 ? (close - lowest) / scale : 0.0;
}

// An integer parameter (the module has checked its range).
inline int64_t int_param(const double* params, int i) { return static_cast<int64_t>(params[i]); }

// States whose value at a bar reads input bars only: the derived state gives `value`, templated on a
// double or on lanes of bars, and these give the batch kernels (and the step where it is the same).

// A value of the bar's own inputs (the price transforms): value(input 0, input 1, ...).
template <class Formula, int Inputs>
struct BarFormula {
  static constexpr int inputs = Inputs, outputs = 1;
  explicit BarFormula(const double*) {}
  bool step(const double* bar, double* out) {
    out[0] = of_columns<double>(bar, 0, std::make_index_sequence<Inputs>{});
    return true;
  }
  int64_t kernel_lag() const { return 0; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    out[0] = of_columns<double>(in, t, std::make_index_sequence<Inputs>{});
  }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = of_columns<V>(in, t, std::make_index_sequence<Inputs>{});
  }
  void absorb(const double* const*, ptrdiff_t, ptrdiff_t) {}
  template <class Archive>
  void fields(Archive&) {}

 private:
  template <class V, size_t... k>
  static V of_columns(const double* const* in, ptrdiff_t t, std::index_sequence<k...>) {
    return Formula::value(load_as<V>(in[k] + t)...);
  }
  template <class V, size_t... k>
  static V of_columns(const double* bar, ptrdiff_t, std::index_sequence<k...>) {
    return Formula::value(bar[k]...);
  }
};

// A value of the input now and timeperiod bars back: value(now, then). The derived state's step
// keeps `window`, whose capacity it chooses (timeperiod plus `kept_beyond_lag`; it is pickled).
template <class Formula>
struct LagFormula {
  static constexpr int inputs = 1, outputs = 1;
  LagFormula(const double* params, int64_t kept_beyond_lag)
      : lag(int_param(params, 0)), window(lag + kept_beyond_lag) {}
  int64_t kernel_lag() const { return lag; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    out[0] = Formula::value(in[0][t], in[0][t - lag]);
  }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = Formula::value(load_as<V>(in[0] + t), load_as<V>(in[0] + t - lag));
  }
  void absorb(const double* const* in, ptrdiff_t from, ptrdiff_t to) {
    window.push_many(in[0] + from, static_cast<size_t>(to - from));
  }
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
  }
  int64_t lag;
  Ring window;
};

}  // namespace velk::classic
