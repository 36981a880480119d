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
#include <limits>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classic_engine/driver.hpp"

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

// A window sum that never drifts: the running sum is re-added from the ring every `capacity`
// bars, so rounding from values that have left the window lasts at most one window.
class WindowSum {
 public:
  WindowSum() = default;
  explicit WindowSum(int64_t period) : ring_(period) {}

  // Adds `value`, drops the value leaving the window; returns the sum of the window.
  double push(double value) {
    const double leaving = ring_.push(value);  // 0 while the ring fills: subtracting it is exact
    if (++since_resum_ >= static_cast<int64_t>(ring_.capacity())) {
      since_resum_ = 0;
      sum_ = ring_.sum();
    } else {
      sum_ += value;
      sum_ -= leaving;
    }
    return sum_;
  }
  bool full() const { return ring_.full(); }
  double sum() const { return sum_; }
  const Ring& ring() const { return ring_; }

  template <class Archive>
  void fields(Archive& a) {
    ring_.fields(a);
    a(sum_);
    a(since_resum_);
  }

 private:
  Ring ring_;
  double sum_ = 0.0;
  int64_t since_resum_ = 0;
};

// Highest and lowest of the last `period` values, by rescanning the ring only when the extreme
// leaves the window (amortised O(1) on price series).
class WindowExtremes {
 public:
  WindowExtremes() = default;
  explicit WindowExtremes(int64_t period) : ring_(period) {}

  // Selects rather than branches: on price series which value wins is a coin toss, and a
  // mispredicted branch costs more than the whole update.
  [[gnu::always_inline]] void push(double value) {
    ring_.push(value);
    const int64_t span = static_cast<int64_t>(ring_.capacity());
    const bool new_high = value >= highest_;
    const bool new_low = value <= lowest_;
    highest_ = new_high ? value : highest_;
    lowest_ = new_low ? value : lowest_;
    highest_age_ = new_high ? 0 : highest_age_ + 1;
    lowest_age_ = new_low ? 0 : lowest_age_ + 1;
    if (highest_age_ >= span) rescan_highest();
    if (lowest_age_ >= span) rescan_lowest();
  }
  bool full() const { return ring_.full(); }
  double highest() const { return highest_; }
  double lowest() const { return lowest_; }
  // Bars since the extreme (0: the newest value); the newest of equal extremes counts.
  int64_t highest_age() const { return highest_age_; }
  int64_t lowest_age() const { return lowest_age_; }

  template <class Archive>
  void fields(Archive& a) {
    ring_.fields(a);
    a(highest_);
    a(lowest_);
    a(highest_age_);
    a(lowest_age_);
  }

 private:
  // The newest of equal extremes is kept, so it stays in the window longest.
  // Rare and long: kept out of line so that push stays small enough to inline into the loop.
  [[gnu::noinline]] void rescan_highest() { ring_.newest_extreme<true>(highest_, highest_age_); }
  [[gnu::noinline]] void rescan_lowest() { ring_.newest_extreme<false>(lowest_, lowest_age_); }

  Ring ring_;
  double highest_ = -std::numeric_limits<double>::infinity();  // below every real value
  double lowest_ = std::numeric_limits<double>::infinity();
  int64_t highest_age_ = 0;
  int64_t lowest_age_ = 0;
};

// Exponential average seeded with the simple average of its first `period` values (TA-Lib's
// default): value += k * (x - value) with k = 2 / (period + 1) unless given.
class SeededEma {
 public:
  SeededEma() = default;
  explicit SeededEma(int64_t period) : SeededEma(period, 2.0 / (static_cast<double>(period) + 1.0)) {}
  SeededEma(int64_t period, double k) : period_(period), k_(k) {}

  // Returns true once the value is defined (from the period-th value on).
  bool push(double x) {
    if (seen_ < period_) {
      seed_sum_ += x;
      if (++seen_ < period_) return false;
      value_ = seed_sum_ / static_cast<double>(period_);
      return true;
    }
    value_ = (x - value_) * k_ + value_;
    return true;
  }
  double value() const { return value_; }

  template <class Archive>
  void fields(Archive& a) {
    a(seed_sum_);
    a(value_);
    a(seen_);
  }

 private:
  int64_t period_ = 1;
  double k_ = 1.0;
  double seed_sum_ = 0.0;
  double value_ = 0.0;
  int64_t seen_ = 0;
};

// Wilder's average: the simple average of the first `period` values, then
// value = (value * (period - 1) + x) / period, computed as value * ((period - 1) / period) +
// x * (1 / period) so no division sits on the bar-to-bar chain (a rounding apart, and the
// error does not grow: each step shrinks the previous one's).
class WilderAverage {
 public:
  WilderAverage() = default;
  explicit WilderAverage(int64_t period)
      : period_(period),
        kept_(static_cast<double>(period - 1) / static_cast<double>(period)),
        share_(1.0 / static_cast<double>(period)) {}

  bool push(double x) {
    if (seen_ < period_) {
      value_ += x;
      if (++seen_ < period_) return false;
      value_ /= static_cast<double>(period_);
      return true;
    }
    value_ = value_ * kept_ + x * share_;
    return true;
  }
  double value() const { return value_; }

  template <class Archive>
  void fields(Archive& a) {
    a(value_);
    a(seen_);
  }

 private:
  int64_t period_ = 1;
  double kept_ = 0.0;
  double share_ = 1.0;
  double value_ = 0.0;
  int64_t seen_ = 0;
};

// Simple average of the last `period` values; true once the window is full.
class SimpleAverage {
 public:
  SimpleAverage() = default;
  explicit SimpleAverage(int64_t period) : sum_(period), period_(static_cast<double>(period)) {}

  bool push(double x) {
    value_ = sum_.push(x) / period_;
    return sum_.full();
  }
  double value() const { return value_; }

  template <class Archive>
  void fields(Archive& a) {
    sum_.fields(a);
    a(value_);
  }

 private:
  WindowSum sum_;
  double period_ = 1.0;
  double value_ = 0.0;
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

// Wilder's sums of +DM, -DM and the true range (TA-Lib's form of the directional system):
// bars 1 .. period-1 add up, then each bar S = S - S / period + x, here S * ((period - 1) / period)
// + x. Ready from bar `period` on.
class DirectionalSums {
 public:
  DirectionalSums() = default;
  explicit DirectionalSums(int64_t period)
      : period_(period), kept_(static_cast<double>(period - 1) / static_cast<double>(period)) {}

  bool push(double high, double low, double close) {
    if (seen_ == 0) {
      seen_ = 1;
      remember(high, low, close);
      return false;
    }
    const double up = high - previous_high_;
    const double down = previous_low_ - low;
    const double plus_move = up > 0.0 && up > down ? up : 0.0;
    const double minus_move = down > 0.0 && down > up ? down : 0.0;
    const double range = true_range(high, low, previous_close_);
    remember(high, low, close);
    if (seen_ < period_) {
      ++seen_;
      plus_ += plus_move;
      minus_ += minus_move;
      range_ += range;
      return false;
    }
    plus_ = plus_ * kept_ + plus_move;
    minus_ = minus_ * kept_ + minus_move;
    range_ = range_ * kept_ + range;
    return true;
  }
  // +DI and -DI in percent; 0 where the summed range is 0 (flat bars), as TA-Lib does.
  double plus_di() const { return range_ != 0.0 ? 100.0 * (plus_ / range_) : 0.0; }
  double minus_di() const { return range_ != 0.0 ? 100.0 * (minus_ / range_) : 0.0; }
  double plus_dm() const { return plus_; }
  double minus_dm() const { return minus_; }
  double range() const { return range_; }

  template <class Archive>
  void fields(Archive& a) {
    a(previous_high_);
    a(previous_low_);
    a(previous_close_);
    a(plus_);
    a(minus_);
    a(range_);
    a(seen_);
  }

 private:
  void remember(double high, double low, double close) {
    previous_high_ = high;
    previous_low_ = low;
    previous_close_ = close;
  }
  int64_t period_ = 1;
  double kept_ = 0.0;
  double previous_high_ = 0.0, previous_low_ = 0.0, previous_close_ = 0.0;
  double plus_ = 0.0, minus_ = 0.0, range_ = 0.0;
  int64_t seen_ = 0;
};

// Wilder's average of DX (ADX and ADXR): DX values of bars period .. 2 * period - 1 are averaged,
// then adx = (adx * (period - 1) + dx) / period. A bar without direction (zero summed range, or
// +DI + -DI = 0) adds 0 to the seed and later leaves ADX as it was, as TA-Lib does.
class AverageDirectional {
 public:
  AverageDirectional() = default;
  explicit AverageDirectional(int64_t period)
      : period_(period), sums_(period), kept_(static_cast<double>(period - 1)), size_(static_cast<double>(period)) {}

  bool push(double high, double low, double close) {
    if (!sums_.push(high, low, close)) return false;
    const double plus = sums_.plus_di(), minus = sums_.minus_di();
    const double total = plus + minus;
    const bool moved = sums_.range() != 0.0 && total != 0.0;
    const double dx = moved ? 100.0 * (std::fabs(minus - plus) / total) : 0.0;
    if (seeded_ < period_) {
      adx_ += dx;
      if (++seeded_ < period_) return false;
      adx_ /= size_;
    } else if (moved) {
      adx_ = (adx_ * kept_ + dx) / size_;
    }
    return true;
  }
  double value() const { return adx_; }

  template <class Archive>
  void fields(Archive& a) {
    sums_.fields(a);
    a(adx_);
    a(seeded_);
  }

 private:
  int64_t period_ = 1;
  DirectionalSums sums_;
  double kept_ = 0.0, size_ = 1.0;
  double adx_ = 0.0;
  int64_t seeded_ = 0;
};

// Wilder's average of the true range (ATR, NATR); true ranges start at the second bar.
class AverageTrueRange {
 public:
  AverageTrueRange() = default;
  explicit AverageTrueRange(int64_t period) : average_(period) {}

  bool push(double high, double low, double close) {
    const bool first = !has_previous_;
    const double previous = previous_close_;
    previous_close_ = close;
    has_previous_ = true;
    if (first) return false;
    return average_.push(true_range(high, low, previous));
  }
  double value() const { return average_.value(); }

  template <class Archive>
  void fields(Archive& a) {
    a(previous_close_);
    a(has_previous_);
    average_.fields(a);
  }

 private:
  double previous_close_ = 0.0;
  bool has_previous_ = false;
  WilderAverage average_;
};

// Wilder's relative strength in percent; 0 when there is neither gain nor loss (TA-Lib's
// convention). Ready from the period-th change on.
class RelativeStrength {
 public:
  RelativeStrength() = default;
  explicit RelativeStrength(int64_t period) : gains_(period), losses_(period) {}

  bool push(double x) {
    const bool first = !has_previous_;
    const double change = x - previous_;
    previous_ = x;
    has_previous_ = true;
    if (first) return false;
    const bool ready = gains_.push(change > 0.0 ? change : 0.0);
    losses_.push(change < 0.0 ? -change : 0.0);
    return ready;
  }
  double value() const {
    const double total = gains_.value() + losses_.value();
    return total != 0.0 ? 100.0 * (gains_.value() / total) : 0.0;
  }

  template <class Archive>
  void fields(Archive& a) {
    a(previous_);
    a(has_previous_);
    gains_.fields(a);
    losses_.fields(a);
  }

 private:
  double previous_ = 0.0;
  bool has_previous_ = false;
  WilderAverage gains_, losses_;
};

// The fast and slow EMAs of MACD, APO and PPO: both seeded at the bar where the slow seed window
// ends (the fast one with the mean of the fast period's closes ending there), as TA-Lib does; a
// fast period above the slow one is swapped with it. Ready from bar slow - 1 on.
class AlignedEmaPair {
 public:
  AlignedEmaPair() = default;
  AlignedEmaPair(int64_t a, int64_t b)
      : fast_period_(std::min(a, b)), slow_period_(std::max(a, b)), fast_(fast_period_), slow_(slow_period_) {}

  bool push(double x) {
    const bool ready = slow_.push(x);
    if (++seen_ > slow_period_ - fast_period_) fast_.push(x);
    return ready;
  }
  double fast() const { return fast_.value(); }
  double slow() const { return slow_.value(); }

  template <class Archive>
  void fields(Archive& a) {
    a(seen_);
    fast_.fields(a);
    slow_.fields(a);
  }

 private:
  int64_t fast_period_ = 1, slow_period_ = 1;
  SeededEma fast_, slow_;
  int64_t seen_ = 0;
};

// Fast %K: where the close sits in the window's range, in percent; 0 for a zero range, as TA-Lib.
inline double range_percent(double close, double highest, double lowest) {
  const double scale = (highest - lowest) / 100.0;
  return scale != 0.0 ? (close - lowest) / scale : 0.0;
}

// An integer parameter (the module has checked its range).
inline int64_t int_param(const double* params, int i) { return static_cast<int64_t>(params[i]); }

}  // namespace velk::classic
