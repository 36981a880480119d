// The directional family's blocks (DirectionalSumsOf: +DM, -DM and the true range summed;
// AverageDirectionalOf: ADX) and the states of plus_dm/minus_dm and plus_di/minus_di, one template
// each over the direction of the move, so the two sides cannot drift apart. All are templates over
// the value type T: one series (double) or lanes of series (lanes.hpp).
#pragma once

#include "classic_engine/indicator.hpp"

namespace velk::classic {

// Wilder's sums of +DM, -DM and the true range (TA-Lib's form of the directional system):
// bars 1 .. period-1 add up, then each bar S = S - S / period + x, here S * ((period - 1) / period)
// + x as one fused multiply-add (the sum alone on the chain). Ready from bar `period` on.
// T: one series (double) or lanes of series (lanes.hpp).
template <class T>
class DirectionalSumsOf {
 public:
  DirectionalSumsOf() = default;
  explicit DirectionalSumsOf(int64_t period)
      : period_(count_of<T>(period)), kept_(splat<T>(wilder_kept(period))) {}

  VELK_LANE_INLINE FlagOf<T> push(T high, T low, T close) {
    // The first bar only sets the previous bar: its moves are computed and dropped.
    const T up = high - previous_high_;
    const T down = previous_low_ - low;
    const T plus_move = move_beyond(up, down);
    const T minus_move = move_beyond(down, up);
    const T range = true_range(high, low, previous_close_);
    previous_high_ = high;
    previous_low_ = low;
    previous_close_ = close;
    if (all_set(not_less(seen_, period_))) {
      plus_ = fused(plus_, kept_, plus_move);
      minus_ = fused(minus_, kept_, minus_move);
      range_ = fused(range_, kept_, range);
      return flag_of<T>(true);
    }
    const FlagOf<T> ready = not_less(seen_, period_);
    const FlagOf<T> started = not_equal(seen_, count_of<T>(0));
    const FlagOf<T> adding = flag_not(ready) & started;
    plus_ = choose(ready, fused(plus_, kept_, plus_move), choose(adding, plus_ + plus_move, plus_));
    minus_ = choose(ready, fused(minus_, kept_, minus_move), choose(adding, minus_ + minus_move, minus_));
    range_ = choose(ready, fused(range_, kept_, range), choose(adding, range_ + range, range_));
    seen_ = choose(ready, seen_, seen_ + count_of<T>(1));
    return ready;
  }
  // +DI and -DI in percent; 0 where the summed range is 0 (flat bars), as TA-Lib does.
  VELK_LANE_INLINE T plus_di() const { return percent_of_range(plus_); }
  VELK_LANE_INLINE T minus_di() const { return percent_of_range(minus_); }
  VELK_LANE_INLINE T plus_dm() const { return plus_; }
  VELK_LANE_INLINE T minus_dm() const { return minus_; }
  // DX, 100 * |-DI - +DI| / (+DI + -DI), where the bar has a direction (`moved`: a nonzero summed
  // range and +DI + -DI != 0), else 0.
  VELK_LANE_INLINE T index(FlagOf<T>& moved) const {
    const T zero = splat<T>(0.0);
    const T plus = plus_di(), minus = minus_di();
    const T total = plus + minus;
    const FlagOf<T> ranged = not_equal(range_, zero);
    moved = ranged & not_equal(total, zero);
    return choose(moved, 100.0 * (magnitude(minus - plus) / total), zero);
  }

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
  VELK_LANE_INLINE T percent_of_range(T part) const {
    const T zero = splat<T>(0.0);
    return choose(not_equal(range_, zero), 100.0 * (part / range_), zero);
  }
  // move > 0 && move > other ? move : 0 as masks: which side moved further is a coin toss on
  // price data, and as branches it mispredicted every other bar.
  VELK_LANE_INLINE static T move_beyond(T move, T other) {
    if constexpr (LaneValues<T>) {
      const T zero = splat<T>(0.0);
      return choose(greater(move, zero) & greater(move, other), move, zero);
    } else {
#if defined(__SSE2__)
      const __m128d m = _mm_set_sd(move);
      const __m128d beyond = _mm_and_pd(_mm_cmpgt_sd(m, _mm_setzero_pd()), _mm_cmpgt_sd(m, _mm_set_sd(other)));
      return _mm_cvtsd_f64(_mm_and_pd(beyond, m));
#else
      return move > 0.0 && move > other ? move : 0.0;
#endif
    }
  }
  CountOf<T> period_ = count_of<T>(1);
  T kept_ = splat<T>(0.0);
  T previous_high_ = splat<T>(0.0), previous_low_ = splat<T>(0.0), previous_close_ = splat<T>(0.0);
  T plus_ = splat<T>(0.0), minus_ = splat<T>(0.0), range_ = splat<T>(0.0);
  CountOf<T> seen_ = count_of<T>(0);
};
using DirectionalSums = DirectionalSumsOf<double>;

// Wilder's average of DX (ADX and ADXR): DX values of bars period .. 2 * period - 1 are averaged,
// then adx = (adx * (period - 1) + dx) / period, in Wilder's average's fused form (WilderAverageOf).
// A bar without direction (zero summed range, or
// +DI + -DI = 0) adds 0 to the seed and later leaves ADX as it was, as TA-Lib does.
template <class T>
class AverageDirectionalOf {
 public:
  AverageDirectionalOf() = default;
  explicit AverageDirectionalOf(int64_t period)
      : period_(count_of<T>(period)),
        sums_(period),
        kept_(splat<T>(wilder_kept(period))),
        share_(splat<T>(1.0 - wilder_kept(period))),
        size_(splat<T>(static_cast<double>(period))) {}

  VELK_LANE_INLINE FlagOf<T> push(T high, T low, T close) {
    const FlagOf<T> summed = sums_.push(high, low, close);
    if (!any_set(summed)) return summed;
    FlagOf<T> moved;
    const T dx = sums_.index(moved);
    if (all_set(not_less(seeded_, period_))) {
      adx_ = choose(moved, fused(adx_, kept_, share_ * dx), adx_);
      return flag_of<T>(true);
    }
    // Lanes still seeding add their DX (the last one divides by the period); lanes past the seed
    // step where the bar moved; lanes without their sums yet stay.
    const FlagOf<T> seeding = summed & less(seeded_, period_);
    const FlagOf<T> stepping = summed & flag_not(seeding) & moved;
    const CountOf<T> count = choose(seeding, seeded_ + count_of<T>(1), seeded_);
    const T added = adx_ + dx;
    const T seed = choose(equal(count, period_), added / size_, added);
    adx_ = choose(seeding, seed, choose(stepping, fused(adx_, kept_, share_ * dx), adx_));
    seeded_ = count;
    return summed & not_less(seeded_, period_);
  }
  VELK_LANE_INLINE T value() const { return adx_; }

  template <class Archive>
  void fields(Archive& a) {
    sums_.fields(a);
    a(adx_);
    a(seeded_);
  }

 private:
  CountOf<T> period_ = count_of<T>(1);
  DirectionalSumsOf<T> sums_;
  T kept_ = splat<T>(0.0), share_ = splat<T>(1.0), size_ = splat<T>(1.0);
  T adx_ = splat<T>(0.0);
  CountOf<T> seeded_ = count_of<T>(0);
};
using AverageDirectional = AverageDirectionalOf<double>;

enum class MoveDirection { plus, minus };

// Wilder's sum of one direction's moves from the high and low (the low stands in for the close:
// the true range is not used). First value at period - 1, or 1 for period 1.
template <MoveDirection direction, class T = double>
struct DirectionalMovementState {
  static constexpr int inputs = 2, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = DirectionalMovementState<direction, V>;
  explicit DirectionalMovementState(const double* params)
      : sums(int_param(params, 0)),
        first(count_of<T>(int_param(params, 0) > 1 ? int_param(params, 0) - 1 : 1)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    sums.push(bar[0], bar[1], bar[1]);
    const FlagOf<T> ready = not_less(seen, first);
    if (!all_set(ready)) {
      seen = choose(ready, seen, seen + count_of<T>(1));
      if (!any_set(ready)) return ready;
    }
    out[0] = direction == MoveDirection::plus ? sums.plus_dm() : sums.minus_dm();
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    sums.fields(a);
    a(seen);
  }
  DirectionalSumsOf<T> sums;
  CountOf<T> first;  // position of the first value
  CountOf<T> seen = count_of<T>(0);
};

// One direction's smoothed moves over the smoothed true range, in percent.
template <MoveDirection direction, class T = double>
struct DirectionalIndicatorState {
  static constexpr int inputs = 3, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = DirectionalIndicatorState<direction, V>;
  explicit DirectionalIndicatorState(const double* params) : sums(int_param(params, 0)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> ready = sums.push(bar[0], bar[1], bar[2]);
    if (!any_set(ready)) return ready;
    out[0] = direction == MoveDirection::plus ? sums.plus_di() : sums.minus_di();
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    sums.fields(a);
  }
  DirectionalSumsOf<T> sums;
};

}  // namespace velk::classic
