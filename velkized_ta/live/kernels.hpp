// Live kernels: one state struct per indicator that consumes a bar and yields
// the value the batch function gives at that bar's position.
//
// Every kernel has:
//   static constexpr bool kFull   - follows the full call (else the call with n_values=1)
//   explicit K(const Params&)     - parameters in the order the handle's factory lists them
//   int arity() const             - floats per bar
//   Status step(const float* bar, float& out)  - commits the bar only when it returns ok
//   template <class Ar> void fields(Ar&)       - the state, for pickling, field by field
//   bool valid() const (optional)              - a restored state fits the parameters
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/fma.hpp"
#include "indicators/combination_steps.hpp"
#include "indicators/directional_steps.hpp"
#include "indicators/ema.hpp"
#include "indicators/momentum.hpp"
#include "indicators/oscillator_steps.hpp"
#include "indicators/position_queue.hpp"
#include "indicators/regression_steps.hpp"
#include "indicators/wilder.hpp"
#include "live/ring.hpp"

namespace velk::live {

using indicators::CmoState;
using indicators::DirectionalMove;
using indicators::EmaState;
using indicators::RsiState;
using indicators::WilderSmoothing;

enum class Status { ok, zero_division, python_error };

using Params = std::vector<int32_t>;

constexpr float kNaN = __builtin_nanf("");
constexpr int kMaxArity = 4;

// The series of a run of bars: element i of series k is at data[k] + i * stride[k].
struct Columns {
  const char* data[kMaxArity];
  ptrdiff_t stride[kMaxArity];
  int arity;
  float at(int k, int64_t i) const {
    float v;
    std::memcpy(&v, data[k] + i * stride[k], sizeof v);
    return v;
  }
  // Series k on its own, for loops that also store floats: a store may alias the columns'
  // fields, which `at` would then read again.
  struct Series {
    const char* data;
    ptrdiff_t stride;
    float operator[](int64_t i) const {
      float v;
      std::memcpy(&v, data + i * stride, sizeof v);
      return v;
    }
  };
  Series series(int k) const { return {data[k], stride[k]}; }
  void bar(int64_t i, float* out) const {
    for (int k = 0; k < arity; ++k) out[k] = at(k, i);
  }
};

// numpy's nanmean of a float32 window, rounded to float32 (defined by the module).
bool numpy_nanmean(const float* values, int64_t n, float& mean);
// numpy's square root of a double (for a negative variance: NaN and numpy's warning).
bool numpy_sqrt(double v, double& root);

// ---------------------------------------------------------------- averages

// The call with n_values=1 sums the window afresh from the bar `period` back;
// at n == period that bar is position -1, the newest.
struct SmaKernel {
  static constexpr bool kFull = false;
  int32_t period;
  bool normalize;
  Ring x;
  explicit SmaKernel(const Params& p) : period(p[0]), normalize(p[1] != 0), x(int64_t{p[0]} + 1) {}
  int arity() const { return 1; }
  int64_t memory() const { return x.capacity(); }
  void skip(int64_t bars) { x.pushed += bars; }
  void absorb(const float* bar) { x.push(bar[0]); }

  Status step(const float* bar, float& out) {
    const float v = bar[0];
    const int64_t n = x.pushed + 1;
    out = kNaN;
    if (n >= period) {
      auto at = [&](int64_t pos) {
        if (pos < 0) pos += n;
        return pos == n - 1 ? v : x.at(pos);
      };
      float sum = 0.0f;
      int32_t count = 0;
      for (int64_t k = n - 1 - period; k < n - 1; ++k) {
        const float e = at(k);
        if (!std::isnan(e)) sum += e, ++count;
      }
      if (!std::isnan(v)) sum += v, ++count;
      const float leaving = at(n - 1 - period);
      if (!std::isnan(leaving)) sum -= leaving, --count;
      if (count >= 1) {
        if (normalize) {
          if (v == 0.0f) return Status::zero_division;
          out = ((sum / static_cast<float>(count)) - v) / v;
        } else {
          out = sum / static_cast<float>(count);
        }
      }
    }
    x.push(v);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    x.fields(ar);
  }
};

// The regression sums of the first window, as the batch call forms them before
// its sliding loop: outside the FMA-unit dispatch, so its fused steps take the
// C library's fmaf whichever path the handle runs on.
[[gnu::noinline]] inline indicators::RegressionSums lin_first_window(const Ring& x, int64_t from, int32_t period,
                                                                     float& denom) {
  indicators::RegressionSums w;
  for (int32_t y = 1; y <= period; ++y) w.enter(y, x.at(from + y - 1));
  denom = w.denominator(static_cast<float>(period));
  return w;
}

// The call with n_values=1: the window of `period` bars before the newest, summed
// afresh and slid once onto the newest bar. It writes only when the bars
// max(0, n - 2 * period - 1) .. n - period - 1 hold a non-NaN value.
struct LinKernel {
  static constexpr bool kFull = false;
  int32_t period;
  Ring x;
  explicit LinKernel(const Params& p) : period(p[0]), x(2 * int64_t{p[0]} + 1) {}
  int arity() const { return 1; }
  int64_t memory() const { return x.capacity(); }
  void skip(int64_t bars) { x.pushed += bars; }
  void absorb(const float* bar) { x.push(bar[0]); }

  bool searched_value_present(int64_t n) const {
    for (int64_t k = std::max<int64_t>(0, n - 2 * int64_t{period} - 1); k <= n - period - 1; ++k)
      if (!std::isnan(x.at(k))) return true;
    return false;
  }

  Status step(const float* bar, float& out) {
    const float entering = bar[0];
    const int64_t n = x.pushed + 1;
    out = kNaN;
    if (n > period && searched_value_present(n)) {
      const int64_t from = n - 1 - period;
      float denom;
      indicators::RegressionSums w = lin_first_window(x, from, period, denom);
      const float p = static_cast<float>(period);
      w.slide(entering, x.at(from), p);
      if (denom != 0.0f) out = w.slope(p, denom);
    }
    x.push(entering);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    x.fields(ar);
  }
};

// Window extremes of high and low, as the position queues of the batch functions keep them.
struct WindowExtremes {
  int32_t period;
  int64_t n = 0;
  ExtremeQueue<true> highs;
  ExtremeQueue<false> lows;
  explicit WindowExtremes(int32_t p) : period(p), highs(p), lows(p) {}
  // Pushes the bar at position n; true when its window is complete.
  bool push(float high, float low) {
    make_room();
    const int64_t i = n++;
    highs.expire(i - period + 1);
    lows.expire(i - period + 1);
    highs.push(i, high);
    lows.push(i, low);
    return i >= int64_t{period} - 1;
  }
  void make_room() { highs.make_room(), lows.make_room(); }
  // emit(i, window complete, highest high, lowest low) for bars i of `cols` (high, low first), as
  // push() gives them. Once every window lies in `cols`, the batch functions' window folds
  // (indicators/position_queue.hpp) give the extremes; the queues are then rebuilt from the
  // last window, which is all their state depends on.
  template <class Emit>
  void run(const Columns& cols, int64_t count, Emit emit) {
    const int64_t p = period;
    const bool folded = p >= 1 && count >= 2 * p && count <= INT32_MAX;
    const int64_t queued = folded ? p - 1 : count;
    for (int64_t i = 0; i < queued; ++i) {
      const bool complete = push(cols.at(0, i), cols.at(1, i));
      emit(i, complete, highs.extreme(), lows.extreme());
    }
    if (!folded) return;
    const FloatView high(const_cast<char*>(cols.data[0]), count, cols.stride[0]);
    const FloatView low(const_cast<char*>(cols.data[1]), count, cols.stride[1]);
    const bool scanned = indicators::scan_extremes(high, low, period, period - 1, static_cast<int32_t>(count),
                                                   [&](int64_t i, float hh, float ll) { emit(i, true, hh, ll); });
    if (!scanned) {  // no scratch memory: the queues carry on
      for (int64_t i = queued; i < count; ++i) {
        push(cols.at(0, i), cols.at(1, i));
        emit(i, true, highs.extreme(), lows.extreme());
      }
      return;
    }
    const int64_t start = n - (p - 1);  // the position of this run's first bar
    n = start + count;
    highs.clear(), lows.clear();
    for (int64_t i = count - p; i < count; ++i) {
      highs.push(start + i, cols.at(0, i));
      lows.push(start + i, cols.at(1, i));
    }
  }
  template <class Ar>
  void fields(Ar& ar) {
    ar(n);
    highs.fields(ar);
    lows.fields(ar);
  }
  bool valid() const {
    return n >= 0 && n <= kMaxPosition && period >= 1 && highs.valid(n, period) && lows.valid(n, period);
  }
};

struct MidKernel {
  static constexpr bool kFull = true;
  bool normalize;
  WindowExtremes w;
  explicit MidKernel(const Params& p) : normalize(p[1] != 0), w(p[0]) {}
  int arity() const { return 3; }
  Status step(const float* bar, float& out) {
    const float close = bar[2];
    out = kNaN;
    if (normalize && close == 0.0f && w.n >= int64_t{w.period} - 1) return Status::zero_division;
    if (!w.push(bar[0], bar[1])) return Status::ok;
    const double mid = indicators::window_midpoint(w.highs.extreme(), w.lows.extreme());
    out = normalize ? indicators::midpoint_deviation(mid, close) / close : static_cast<float>(mid);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    w.fields(ar);
  }
  bool valid() const { return w.valid(); }
};

// ---------------------------------------------------------------- exponential smoothing

// The batch EMA bar by bar: seeded with the first non-NaN value, which is itself stepped once.
struct SeededEma {
  EmaState state{0.0f, 0.0f};
  bool seeded = false;

  SeededEma() = default;
  // The factories refuse the period whose divisor is 0; were it given, alpha would be 2 / 0.
  explicit SeededEma(int32_t period) {
    if (!indicators::ema_alpha(period, state.alpha)) state.alpha = __builtin_inff();
  }
  // The average after x, without committing it; NaN before the seed.
  float next(float x) const {
    EmaState after = state;
    if (!seeded) {
      if (std::isnan(x)) return x;
      after.value = x;
    }
    after.step(x);
    return after.value;
  }
  void commit(float x, float next_value) {
    if (!seeded && std::isnan(x)) return;
    seeded = true;
    state.value = next_value;
  }

  // alpha follows from the period, which the parameters carry.
  template <class Archive>
  void fields(Archive& ar) {
    ar(state.value);
    ar(seeded);
  }
};

// Stages 1..depth of the EMA chain; a stage handed in comes from the bar instead.
// Stage 1 computed from prices is the relative deviation (EMA - price) / price.
struct EmaChain {
  int depth;
  bool given[4] = {false, false, false, false};
  bool normalize_first;
  SeededEma ema[4];

  EmaChain(int32_t period, int d, bool normalize = true) : depth(d), normalize_first(normalize) {
    for (auto& e : ema) e = SeededEma(period);
  }
  // Bars carry the price (unless stage 1 is handed in) and then each handed-in stage.
  int arity() const {
    int a = given[1] ? 0 : 1;
    for (int k = 1; k <= depth; ++k) a += given[k];
    return a;
  }
  // Fills stage[1..depth]; nothing is committed.
  Status evaluate(const float* bar, float* stage, float* next_value) const {
    int b = 0;
    const float price = given[1] ? kNaN : bar[b++];
    for (int k = 1; k <= depth; ++k) {
      if (given[k]) {
        stage[k] = bar[b++];
        continue;
      }
      const float input = k == 1 ? price : stage[k - 1];
      next_value[k] = ema[k].next(input);
      if (k == 1 && normalize_first) {
        if (!ema[k].seeded && std::isnan(input)) {
          stage[k] = kNaN;
        } else {
          if (input == 0.0f) return Status::zero_division;
          stage[k] = (next_value[k] - input) / input;
        }
      } else {
        stage[k] = next_value[k];
      }
    }
    return Status::ok;
  }
  void commit(const float* bar, const float* stage, const float* next_value) {
    const float price = given[1] ? kNaN : bar[0];
    for (int k = 1; k <= depth; ++k)
      if (!given[k]) ema[k].commit(k == 1 ? price : stage[k - 1], next_value[k]);
  }
  Status step(const float* bar, float* stage) {
    float next_value[4];
    const Status s = evaluate(bar, stage, next_value);
    if (s == Status::ok) commit(bar, stage, next_value);
    return s;
  }
  template <class Ar>
  void fields(Ar& ar) {
    for (auto& e : ema) e.fields(ar);
  }
};

struct EmaKernel {
  static constexpr bool kFull = true;
  EmaChain chain;
  explicit EmaKernel(const Params& p) : chain(p[0], 1, p[1] != 0) {}
  int arity() const { return 1; }
  Status step(const float* bar, float& out) {
    float stage[4];
    const Status s = chain.step(bar, stage);
    out = stage[1];
    return s;
  }
  // Once seeded, the EMA step and the normalisation in one loop with the average in a register.
  Status run(const Columns& cols, int64_t n, float* out, int64_t& done) {
    SeededEma& ema = chain.ema[1];
    for (done = 0; done < n && !ema.seeded; ++done) {
      const float x = cols.at(0, done);
      const Status s = step(&x, out[done]);
      if (s != Status::ok) return s;
    }
    EmaState average = ema.state;
    Status s = Status::ok;
    for (; done < n; ++done) {
      const float x = cols.at(0, done);
      EmaState after = average;
      after.step(x);
      if (chain.normalize_first) {
        if (x == 0.0f) {
          s = Status::zero_division;
          break;
        }
        out[done] = (after.value - x) / x;
      } else {
        out[done] = after.value;
      }
      average = after;
    }
    ema.state = average;
    return s;
  }
  template <class Ar>
  void fields(Ar& ar) {
    chain.fields(ar);
  }
};

// ema2, ema3, dema, tema: params (period, given1, given2, given3, depth, combination).
struct ChainKernel {
  static constexpr bool kFull = true;
  enum Combination { last = 0, dema = 1, tema = 2 };
  EmaChain chain;
  int combination;
  explicit ChainKernel(const Params& p) : chain(p[0], p[4]), combination(p[5]) {
    chain.given[1] = p[1] != 0;
    chain.given[2] = p[2] != 0;
    chain.given[3] = p[3] != 0;
  }
  // ema2 and ema3 take one series, the highest handed-in stage; dema and tema one per stage.
  int arity() const { return combination == last ? 1 : chain.arity(); }
  Status step(const float* bar, float& out) {
    float stage[4];
    const float expanded[3] = {bar[0], bar[0], bar[0]};
    const Status s = chain.step(combination == last ? expanded : bar, stage);
    if (s != Status::ok) return s;
    if (combination == dema) {
      out = indicators::dema_of(stage[1], stage[2]);
    } else if (combination == tema) {
      out = indicators::tema_of(stage[1], stage[2], stage[3]);
    } else {
      out = stage[chain.depth];
    }
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    chain.fields(ar);
  }
};

// params (period, given3, given2, given1); stages from the highest handed-in one.
struct TrixKernel {
  static constexpr bool kFull = true;
  EmaChain chain;
  int64_t n = 0;
  float previous = 0.0f;
  explicit TrixKernel(const Params& p) : chain(p[0], 3) {
    // The highest flag wins and the stages below it are not used.
    if (p[1]) {
      chain.given[1] = chain.given[2] = chain.given[3] = true;
    } else if (p[2]) {
      chain.given[1] = chain.given[2] = true;
    } else if (p[3]) {
      chain.given[1] = true;
    }
  }
  int arity() const { return 1; }
  Status step(const float* bar, float& out) {
    float stage[4];
    // The bar is the highest handed-in stage; the stages below it are never read.
    float expanded[3] = {bar[0], bar[0], bar[0]};
    const Status s = chain.step(expanded, stage);
    if (s != Status::ok) return s;
    const float a = stage[3];
    out = n >= 1 ? indicators::trix_ratio(a, previous) : kNaN;
    previous = a;
    ++n;
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    chain.fields(ar);
    ar(n), ar(previous);
  }
  bool valid() const { return n >= 0 && n <= kMaxPosition; }
};

// params (short, long, fast given, slow given).
struct MacdKernel {
  static constexpr bool kFull = true;
  SeededEma fast, slow;
  int32_t long_period;
  bool fast_given, slow_given;
  int64_t n = 0;
  explicit MacdKernel(const Params& p)
      : fast(p[0]), slow(p[1]), long_period(p[1]), fast_given(p[2] != 0), slow_given(p[3] != 0) {}
  int arity() const { return 1 + fast_given + slow_given; }

  // Relative deviation of one average; NaN before its seed.
  static Status deviation(const SeededEma& e, float x, float& next, float& dev) {
    next = e.next(x);
    if (!e.seeded && std::isnan(x)) {
      dev = kNaN;
      return Status::ok;
    }
    if (x == 0.0f) return Status::zero_division;
    dev = (next - x) / x;
    return Status::ok;
  }
  Status step(const float* bar, float& out) {
    const float x = bar[0];
    float fast_next = 0, slow_next = 0, f, s;
    int b = 1;
    if (fast_given) {
      f = bar[b++];
    } else if (deviation(fast, x, fast_next, f) != Status::ok) {
      return Status::zero_division;
    }
    if (slow_given) {
      s = bar[b++];
    } else if (deviation(slow, x, slow_next, s) != Status::ok) {
      return Status::zero_division;
    }
    if (!fast_given) fast.commit(x, fast_next);
    if (!slow_given) slow.commit(x, slow_next);
    out = n >= long_period ? f - s : kNaN;
    ++n;
    return Status::ok;
  }
  // Once both averages of the prices are seeded, `step` with the averages in registers.
  Status run(const Columns& cols, int64_t count, float* out, int64_t& done) {
    float bar[kMaxArity] = {};
    for (done = 0; done < count && (fast_given || slow_given || !fast.seeded || !slow.seeded); ++done) {
      cols.bar(done, bar);
      const Status s = step(bar, out[done]);
      if (s != Status::ok) return s;
    }
    EmaState fast_average = fast.state, slow_average = slow.state;
    int64_t position = n;
    Status status = Status::ok;
    const Columns::Series price = cols.series(0);
    for (; done < count; ++done, ++position) {
      const float x = price[done];
      if (x == 0.0f) {
        status = Status::zero_division;
        break;
      }
      fast_average.step(x);
      slow_average.step(x);
      const float f = (fast_average.value - x) / x;
      const float s = (slow_average.value - x) / x;
      out[done] = position >= long_period ? f - s : kNaN;
    }
    fast.state = fast_average, slow.state = slow_average;
    n = position;
    return status;
  }
  template <class Ar>
  void fields(Ar& ar) {
    fast.fields(ar), slow.fields(ar), ar(n);
  }
  bool valid() const { return n >= 0 && n <= kMaxPosition; }
};

// ---------------------------------------------------------------- momentum

struct RocKernel {
  static constexpr bool kFull = true;
  int32_t period;
  Ring x;
  explicit RocKernel(const Params& p) : period(p[0]), x(p[0]) {}
  int arity() const { return 1; }
  Status step(const float* bar, float& out) {
    const float v = bar[0];
    out = kNaN;
    if (x.pushed >= period) {
      out = indicators::relative_change(v, x.back(period - 1));
    }
    x.push(v);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    x.fields(ar);
  }
};

struct RsiKernel {
  static constexpr bool kFull = true;
  int32_t period;
  float big_p;
  int64_t n = 0;
  float previous = 0;
  RsiState rsi;
  explicit RsiKernel(const Params& p) : period(p[0]), big_p(static_cast<float>(p[0])) {}
  int arity() const { return 1; }
  // After the warm-up, the smoothing step of `step` with the state in registers.
  Status run(const Columns& cols, int64_t count, float* out, int64_t& done) {
    for (done = 0; done < count && n <= period; ++done) {
      const float v = cols.at(0, done);
      step(&v, out[done]);
    }
    float last = previous;
    RsiState totals = rsi;
    for (int64_t i = done; i < count; ++i) {
      const float v = cols.at(0, i);
      totals.step(v - last, big_p);
      out[i] = totals.value();
      last = v;
    }
    n += count - done;
    previous = last, rsi = totals;
    done = count;
    return Status::ok;
  }
  Status step(const float* bar, float& out) {
    const float v = bar[0];
    out = kNaN;
    if (n >= 1) {
      const float change = v - previous;
      if (n <= period) {
        rsi.seed(change);
      } else {
        rsi.step(change, big_p);
        out = rsi.value();
      }
    }
    previous = v;
    ++n;
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    ar(n), ar(previous), ar(rsi.total_gain), ar(rsi.total_loss);
  }
  bool valid() const { return n >= 0 && n <= kMaxPosition; }
};

// The call with n_values=1: the gains and losses of the last `period` changes, summed afresh.
struct CmoKernel {
  static constexpr bool kFull = false;
  int32_t period;
  Ring x;
  explicit CmoKernel(const Params& p) : period(p[0]), x(int64_t{p[0]} + 1) {}
  int arity() const { return 1; }
  int64_t memory() const { return x.capacity(); }
  void skip(int64_t bars) { x.pushed += bars; }
  void absorb(const float* bar) { x.push(bar[0]); }
  Status step(const float* bar, float& out) {
    const float v = bar[0];
    const int64_t newest = x.pushed;
    out = kNaN;
    if (newest >= period) {
      CmoState cmo;
      for (int64_t i = newest - period + 1; i <= newest; ++i) cmo.enter_seed((i == newest ? v : x.at(i)) - x.at(i - 1));
      out = cmo.value();
    }
    x.push(v);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    x.fields(ar);
  }
};

// Williams %R (from the highest high) and the fast stochastic (from the lowest low):
// the close's place in the window's range; a range of width 0 leaves NaN.
template <bool kFromHigh>
struct RangeKernel {
  static constexpr bool kFull = true;
  WindowExtremes w;
  explicit RangeKernel(const Params& p) : w(p[0]) {}
  int arity() const { return 3; }
  static float place(float close, float hh, float ll) {
    float fraction;
    return indicators::range_fraction<kFromHigh>(close, hh, ll, fraction) ? fraction : kNaN;
  }
  Status run(const Columns& cols, int64_t n, float* out, int64_t& done) {
    w.run(cols, n, [&](int64_t i, bool complete, float hh, float ll) {
      out[i] = complete ? place(cols.at(2, i), hh, ll) : kNaN;
    });
    done = n;
    return Status::ok;
  }
  Status step(const float* bar, float& out) {
    out = w.push(bar[0], bar[1]) ? place(bar[2], w.highs.extreme(), w.lows.extreme()) : kNaN;
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    w.fields(ar);
  }
  bool valid() const { return w.valid(); }
};
using WillrKernel = RangeKernel<true>;
using StochfKernel = RangeKernel<false>;

// The call with n_values=1 seeds the three windows afresh; at n == long + 1 the
// first seeded bar's previous close is position -1, the newest close.
struct UltKernel {
  static constexpr bool kFull = false;
  int32_t periods[3];
  Ring high, low, close;
  explicit UltKernel(const Params& p)
      : periods{p[0], p[1], p[2]}, high(int64_t{p[2]} + 2), low(int64_t{p[2]} + 2), close(int64_t{p[2]} + 2) {}
  int arity() const { return 3; }
  int64_t memory() const { return high.capacity(); }
  void skip(int64_t bars) { high.pushed += bars, low.pushed += bars, close.pushed += bars; }
  void absorb(const float* bar) { high.push(bar[0]), low.push(bar[1]), close.push(bar[2]); }
  Status step(const float* bar, float& out) {
    const int64_t n = high.pushed + 1;
    const int32_t s = periods[0], m = periods[1], l = periods[2];
    out = kNaN;
    if (n > l) {
      const int32_t weight_sum = add32(add32(s, m), l);
      if (weight_sum == 0) return Status::zero_division;
      auto at = [&](const Ring& r, int b, int64_t pos) {
        if (pos < 0) pos += n;
        return pos == n - 1 ? bar[b] : r.at(pos);
      };
      auto bp_tr = [&](int64_t j, float& bp, float& tr) {
        const auto bar_j = indicators::pressure_and_range(at(close, 2, j - 1), at(low, 1, j), at(high, 0, j), at(close, 2, j));
        bp = bar_j.bp, tr = bar_j.tr;
      };
      const int64_t start = n - 1;
      float sbp[3] = {0, 0, 0}, str[3] = {0, 0, 0};
      for (int64_t j = start - l; j < start; ++j) {
        float bp, tr;
        bp_tr(j, bp, tr);
        sbp[2] += bp, str[2] += tr;
        if (j >= start - m) sbp[1] += bp, str[1] += tr;
        if (j >= start - s) sbp[0] += bp, str[0] += tr;
      }
      float bp, tr;
      bp_tr(start, bp, tr);
      for (int k = 0; k < 3; ++k) {
        float old_bp, old_tr;
        bp_tr(start - periods[k], old_bp, old_tr);
        sbp[k] = sbp[k] + (bp - old_bp);
        str[k] = str[k] + (tr - old_tr);
      }
      for (float& t : str) indicators::guard_range(t);
      out = indicators::ultimate_value(sbp[0], str[0], sbp[1], str[1], sbp[2], str[2], static_cast<float>(s),
                                       static_cast<float>(m), static_cast<float>(l), static_cast<float>(weight_sum));
    }
    high.make_room(), low.make_room(), close.make_room();
    high.push(bar[0]), low.push(bar[1]), close.push(bar[2]);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    high.fields(ar), low.fields(ar), close.fields(ar);
  }
  bool valid() const { return high.pushed == low.pushed && low.pushed == close.pushed; }
};

// The call with n_values=1: the sums of the `period` typical prices before the
// newest, formed afresh and slid once onto it (at n == period, all of them, not slid).
// Each call takes numpy's root of a negative variance itself, warning included.
struct CciKernel {
  static constexpr bool kFull = false;
  int32_t period;
  Ring tp;
  explicit CciKernel(const Params& p) : period(p[0]), tp(int64_t{p[0]} + 1) {}
  int arity() const { return 3; }
  int64_t memory() const { return tp.capacity(); }
  void skip(int64_t bars) { tp.pushed += bars; }
  void absorb(const float* bar) { tp.push(typical(bar)); }
  static float typical(const float* bar) { return indicators::typical_price(bar[0], bar[1], bar[2]); }

  Status step(const float* bar, float& out) {
    const float v = typical(bar);
    const int64_t newest = tp.pushed;
    out = kNaN;
    if (newest >= int64_t{period} - 1) {
      const bool slid = newest >= period;
      const int64_t first = slid ? newest - period : 0;
      float s = 0.0f, sq = 0.0f;
      for (int64_t j = first; j < first + period; ++j) {
        const float e = j == newest ? v : tp.at(j);
        s += e;
        sq += e * e;
      }
      if (slid) {
        const float old_tp = tp.at(newest - period);
        s = s + (v - old_tp);
        sq = sq + (v * v - old_tp * old_tp);
      }
      float mean, variance;
      indicators::window_moments(s, sq, static_cast<float>(period), mean, variance);
      if (variance == 0.0f) {
        out = 0.0f;
      } else {
        double root;
        if (!(variance < 0.0f)) {
          root = std::sqrt(static_cast<double>(variance));
        } else if (!numpy_sqrt(static_cast<double>(variance), root)) {
          return Status::python_error;
        }
        out = indicators::cci_scaled(v - mean, root);
      }
    }
    tp.push(v);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    tp.fields(ar);
  }
};

// ---------------------------------------------------------------- directional movement

struct DxKernel {
  static constexpr bool kFull = true;
  int32_t period;
  WilderSmoothing wilder;
  int64_t n = 0;
  float ph = 0, pl = 0, pc = 0;
  float atr = 0, plus = 0, minus = 0;
  explicit DxKernel(const Params& p) : period(p[0]), wilder(p[0]) {}
  int arity() const { return 3; }
  Status step(const float* bar, float& out) {
    const float h = bar[0], l = bar[1], c = bar[2];
    float a = atr, pdm = plus, mdm = minus;
    out = kNaN;
    if (n >= 1) {
      const float tr = indicators::true_range(h, l, pc);
      const DirectionalMove dm = indicators::directional_move(h, l, ph, pl);
      if (n <= period) {
        a += tr, pdm += dm.plus, mdm += dm.minus;
        if (n == period) a /= wilder.period(), pdm /= wilder.period(), mdm /= wilder.period();
      } else {
        a = wilder.step(a, tr);
        pdm = wilder.step(pdm, dm.plus);
        mdm = wilder.step(mdm, dm.minus);
        if (!indicators::directional_index(pdm, mdm, a, out)) return Status::zero_division;
      }
    }
    atr = a, plus = pdm, minus = mdm;
    ph = h, pl = l, pc = c;
    ++n;
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    ar(n), ar(ph), ar(pl), ar(pc), ar(atr), ar(plus), ar(minus);
  }
  bool valid() const { return n >= 0 && n <= kMaxPosition; }
};

// Wilder average of DX seeded with numpy's nanmean of DX over [period, 2 * period).
struct AdxOfDx {
  int32_t period;
  WilderSmoothing wilder;
  int64_t n = 0;
  float value = 0;
  std::vector<float> seed_window;
  explicit AdxOfDx(int32_t p) : period(p), wilder(p) {}
  bool at_seed() const { return n == int64_t{2} * period; }
  // Room for this bar's DX in the seed window, so DX's commit is never followed by a failed push.
  void make_room() {
    const size_t size = seed_window.size();
    if (n >= period && n < int64_t{2} * period && size == seed_window.capacity())
      seed_window.reserve(std::max<size_t>(16, 2 * size));
  }
  // Commits nothing when it fails (only numpy's nanmean can).
  Status step(float dx, float& out) {
    out = kNaN;
    float v = value;
    if (n >= int64_t{2} * period) {
      if (n == int64_t{2} * period) {
        if (!numpy_nanmean(seed_window.data(), int64_t(seed_window.size()), v)) return Status::python_error;
        seed_window = {};
      }
      v = wilder.step(v, dx);
      out = v;
    } else if (n >= period) {
      seed_window.push_back(dx);
    }
    value = v;
    ++n;
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    ar(n), ar(value), ar(seed_window);
  }
  // The window holds DX from bar `period` on until the seed at bar 2 * period consumes it.
  bool valid() const {
    const int64_t p = period;
    const int64_t window = n > p && n <= 2 * p ? n - p : 0;
    return n >= 0 && n <= kMaxPosition && static_cast<int64_t>(seed_window.size()) == window;
  }
};

// params (period, close is dx).
struct AdxKernel {
  static constexpr bool kFull = true;
  bool dx_given;
  DxKernel dx;
  AdxOfDx adx;
  explicit AdxKernel(const Params& p) : dx_given(p[1] != 0), dx(p), adx(p[0]) {}
  int arity() const { return 3; }
  // Once ADX is seeded, `step` with the three averages in lanes and ADX in a register, as the
  // batch function's one pass carries them.
  Status run(const Columns& cols, int64_t count, float* out, int64_t& done) {
    float bar[kMaxArity] = {};
    for (done = 0; done < count && (dx_given || adx.n <= int64_t{2} * adx.period || dx.n <= dx.period); ++done) {
      cols.bar(done, bar);
      const Status s = step(bar, out[done]);
      if (s != Status::ok) return s;
    }
    Lanes averages{dx.plus, dx.minus, dx.atr, 0.0f};
    float previous_high = dx.ph, previous_low = dx.pl, previous_close = dx.pc, average_dx = adx.value;
    const int64_t first = done;
    Status status = Status::ok;
    const Columns::Series high = cols.series(0), low = cols.series(1), close = cols.series(2);
    for (; done < count; ++done) {
      const float h = high[done], l = low[done], c = close[done];
      const Lanes next =
          dx.wilder.step(averages, indicators::directional_lanes(h, l, previous_high, previous_low, previous_close));
      float d;
      if (!indicators::directional_index(next[0], next[1], next[2], d)) {
        status = Status::zero_division;
        break;
      }
      averages = next;
      previous_high = h, previous_low = l, previous_close = c;
      average_dx = adx.wilder.step(average_dx, d);
      out[done] = average_dx;
    }
    dx.plus = averages[0], dx.minus = averages[1], dx.atr = averages[2];
    dx.ph = previous_high, dx.pl = previous_low, dx.pc = previous_close;
    dx.n += done - first, adx.n += done - first;
    adx.value = average_dx;
    return status;
  }
  Status step(const float* bar, float& out) {
    float d = bar[2];
    if (dx_given) return adx.step(d, out);
    // DX commits only on success; ADX can fail only at its seed, the one bar DX must wait for.
    adx.make_room();
    if (!adx.at_seed()) {
      const Status s = dx.step(bar, d);
      return s != Status::ok ? s : adx.step(d, out);
    }
    DxKernel dx_next = dx;
    Status s = dx_next.step(bar, d);
    if (s == Status::ok) s = adx.step(d, out);
    if (s == Status::ok) dx = dx_next;
    return s;
  }
  template <class Ar>
  void fields(Ar& ar) {
    dx.fields(ar), adx.fields(ar);
  }
  bool valid() const { return dx.valid() && adx.valid(); }
};

// params (period, close is adx).
struct AdxrKernel {
  static constexpr bool kFull = true;
  int32_t period;
  AdxKernel adx;
  Ring history;
  explicit AdxrKernel(const Params& p)
      : period(p[0]), adx(p), history(int64_t{p[0]} < 1 ? 1 : p[0]) {}
  int arity() const { return 3; }
  Status step(const float* bar, float& out) {
    float a = bar[2];
    history.make_room();
    if (!adx.dx_given) {
      const Status s = adx.step(bar, a);
      if (s != Status::ok) return s;
    }
    out = history.pushed >= period ? indicators::adxr_mean(history.back(period - 1), a) : kNaN;
    history.push(a);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    adx.fields(ar);
    history.fields(ar);
  }
  bool valid() const { return adx.valid(); }
};

// Wilder average of the true range seeded with numpy's nanmean of tr[0:period], tr[0] = 0.
struct NatrKernel {
  static constexpr bool kFull = true;
  int32_t period;
  WilderSmoothing wilder;
  int64_t n = 0;
  float pc = 0, atr = 0;
  std::vector<float> seed_window;
  explicit NatrKernel(const Params& p) : period(p[0]), wilder(p[0]) {}
  int arity() const { return 3; }
  Status step(const float* bar, float& out) {
    const float c = bar[2];
    out = kNaN;
    const float tr = n >= 1 ? indicators::true_range(bar[0], bar[1], pc) : 0.0f;
    float a = atr;
    if (n < int64_t{period} - 1) {
      seed_window.push_back(tr);
    } else if (n == int64_t{period} - 1) {
      // The seed may fail (numpy's nanmean): the window is committed only after it.
      std::vector<float> window = seed_window;
      window.push_back(tr);
      if (!numpy_nanmean(window.data(), int64_t(window.size()), a)) return Status::python_error;
      seed_window = {};
    } else {
      a = wilder.step(a, tr);
      if (c == 0.0f) return Status::zero_division;
      out = a / c;
    }
    atr = a;
    pc = c;
    ++n;
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    ar(n), ar(pc), ar(atr), ar(seed_window);
  }
  // The true ranges of the bars before the seed, which bar period - 1 consumes.
  bool valid() const {
    return n >= 0 && n <= kMaxPosition && static_cast<int64_t>(seed_window.size()) == (n < period ? n : 0);
  }
};

// ---------------------------------------------------------------- candles and spreads

struct WickKernel {
  static constexpr bool kFull = true;
  WindowExtremes w;
  Ring close;
  explicit WickKernel(const Params& p) : w(p[0]), close(p[0]) {}
  int arity() const { return 3; }
  Status step(const float* bar, float& out) {
    const float c = bar[2];
    const int32_t period = w.period;
    out = kNaN;
    const bool computed = w.n >= period;
    if (computed && c == 0.0f) return Status::zero_division;
    close.make_room();
    w.push(bar[0], bar[1]);
    if (computed) {
      out = indicators::wick_balance(close.back(period - 1), c, w.highs.extreme(), w.lows.extreme()) / c;
    }
    close.push(c);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar& ar) {
    w.fields(ar);
    close.fields(ar);
  }
  bool valid() const { return w.valid() && close.pushed == w.n; }
};

struct AdifKernel {
  static constexpr bool kFull = true;
  explicit AdifKernel(const Params&) {}
  int arity() const { return 2; }
  Status step(const float* bar, float& out) {
    out = bar[0] - bar[1];
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar&) {}
};

struct RdifKernel {
  static constexpr bool kFull = true;
  explicit RdifKernel(const Params&) {}
  int arity() const { return 2; }
  Status step(const float* bar, float& out) {
    out = indicators::relative_difference(bar[0], bar[1]);
    return Status::ok;
  }
  template <class Ar>
  void fields(Ar&) {}
};

}  // namespace velk::live
