// The moving averages as blocks of a state, and MovingAverage, the one selected at run time by
// TA-Lib's matype number (0 SMA, 1 EMA, 2 WMA, 3 DEMA, 4 TEMA, 5 TRIMA, 6 KAMA, 7 MAMA, 8 T3).
// The single-average indicators (ema.cpp, wma.cpp, ...) use the same blocks, so an average picked
// by matype gives the bits of the indicator of that name.
#pragma once

#include "classic_engine/sums.hpp"

namespace velk::classic {

// Linear weights, the newest value weighing `period`. Weighted sum W = sum (i + 1) * x (oldest
// weight 1) and plain sum S: a new value x gives W' = W - S + n * x, S' = S - leaving + x. Both
// are re-added from the window every `period` values so they do not drift.
class WeightedAverage {
 public:
  WeightedAverage() = default;
  explicit WeightedAverage(int64_t period)
      : period_(period),
        divisor_(static_cast<double>(period) * static_cast<double>(period + 1) / 2.0),
        window_(period) {}

  bool push(double x) {
    const bool was_full = window_.full();
    const double leaving = window_.push(x);
    const double n = static_cast<double>(window_.size());
    // The sums of the window as they would be re-added from it, accumulated as values arrive.
    fresh_weighted_ += static_cast<double>(since_resum_ + 1) * x;
    fresh_plain_ += x;
    if (++since_resum_ >= period_) {
      since_resum_ = 0;
      weighted_ = fresh_weighted_;
      plain_ = fresh_plain_;
      fresh_weighted_ = 0.0;
      fresh_plain_ = 0.0;
    } else {
      // Once full, every held value's weight drops by one and the leaving one's reaches zero.
      weighted_ = (was_full ? weighted_ - plain_ : weighted_) + n * x;
      if (was_full) plain_ -= leaving;
      plain_ += x;
    }
    return window_.full();
  }
  double value() const { return weighted_ / divisor_; }
  bool full() const { return window_.full(); }

  // push(x[i]) for i < count on a full window, with value() after each into out[i]: the
  // arithmetic of push with the sums in registers; the value leaving is read from the ring for
  // the first `period` bars and from x afterwards, and the ring takes the bars at the end.
  template <class Out>
  void run(const double* x, ptrdiff_t count, Out* out) {
    double weighted = weighted_, plain = plain_, fresh_weighted = fresh_weighted_, fresh_plain = fresh_plain_;
    int64_t since_resum = since_resum_;
    const int64_t period = period_;
    const double n = static_cast<double>(period), divisor = divisor_;
    const auto bar = [&](ptrdiff_t i, double leaving) {
      const double value = x[i];
      fresh_weighted += static_cast<double>(since_resum + 1) * value;
      fresh_plain += value;
      if (++since_resum >= period) {
        since_resum = 0;
        weighted = fresh_weighted;
        plain = fresh_plain;
        fresh_weighted = 0.0;
        fresh_plain = 0.0;
      } else {
        weighted = (weighted - plain) + n * value;
        plain -= leaving;
        plain += value;
      }
      out[i] = static_cast<Out>(weighted / divisor);
    };
    const ptrdiff_t from_ring = count < period ? count : static_cast<ptrdiff_t>(period);
    for (ptrdiff_t i = 0; i < from_ring; ++i) bar(i, window_.oldest(static_cast<size_t>(i)));
    for (ptrdiff_t i = from_ring; i < count; ++i) bar(i, x[i - period]);
    window_.push_many(x, static_cast<size_t>(count));
    weighted_ = weighted;
    plain_ = plain;
    fresh_weighted_ = fresh_weighted;
    fresh_plain_ = fresh_plain;
    since_resum_ = since_resum;
  }

  // run's arithmetic once the window's values are also x[-period .. -1] (the ring is not read;
  // it takes the bars at the end), the re-adding schedule split into spans, and where lanes exist
  // Width (2, or 4 inside the AVX2 copy) spans between re-addings side by side (run_spans).
  template <int Width = 2, class Out>
  void run_full(const double* x, ptrdiff_t count, Out* out) {
    const int64_t period = period_;
    const double n = static_cast<double>(period), divisor = divisor_;
    double weighted = weighted_, plain = plain_, fresh_weighted = fresh_weighted_, fresh_plain = fresh_plain_;
    int64_t since_resum = since_resum_;
    ptrdiff_t i = 0;
    while (i < count) {
      if (since_resum + 1 >= period) {  // the scheduled re-adding at i
#if defined(VELK_CLASSIC_LANES)
        const auto took_spans = [&]<int W>() {
          run_spans<W>(x, i, out, weighted, plain, fresh_weighted, fresh_plain);
          since_resum = period - 1;
          i += W * period;
          return true;
        };
        if (took_side_by_side<Width>(count - i, period, took_spans)) continue;
#endif
        fresh_weighted += n * x[i];  // its weight since_resum + 1 is the period
        fresh_plain += x[i];
        since_resum = 0;
        weighted = fresh_weighted;
        plain = fresh_plain;
        fresh_weighted = fresh_plain = 0.0;
        out[i] = static_cast<Out>(weighted / divisor);
        ++i;
        continue;
      }
      const ptrdiff_t plain_end = std::min<ptrdiff_t>(count, i + (period - 1 - since_resum));
      double weight = static_cast<double>(since_resum + 1);
      since_resum += plain_end - i;
      for (; i < plain_end; ++i) {
        const double value = x[i];
        fresh_weighted += weight * value;
        weight += 1.0;
        fresh_plain += value;
        weighted = (weighted - plain) + n * value;
        plain -= x[i - period];
        plain += value;
        out[i] = static_cast<Out>(weighted / divisor);
      }
    }
    weighted_ = weighted, plain_ = plain, fresh_weighted_ = fresh_weighted, fresh_plain_ = fresh_plain;
    since_resum_ = since_resum;
    window_.push_many(x, static_cast<size_t>(count));
  }
  int64_t period() const { return period_; }

  template <class Archive>
  void fields(Archive& a) {
    window_.fields(a);
    a(weighted_);
    a(plain_);
    a(since_resum_);
    if (Archive::loading) {
      fresh_weighted_ = fresh_plain_ = 0.0;
      double weight = 0.0;
      window_.each_newest(since_resum_, [&](double value) {
        weight += 1.0;
        fresh_weighted_ += weight * value;
        fresh_plain_ += value;
      });
    }
  }

 private:
#if defined(VELK_CLASSIC_LANES)
  // Bars i .. i + W * period - 1 of run_full from a scheduled re-adding at i: the span from the
  // re-adding at i + k * period to the next in lane k, each lane the scalar operations in their
  // order. A re-adding takes the sums of its window, from 0 and oldest first (the bits of the
  // sums accumulated since the one before), so every lane starts from the input alone. The sums
  // after the last span are left in the last four arguments.
  template <int W, class Out>
  void run_spans(const double* x, ptrdiff_t i, Out* __restrict out, double& last_weighted, double& last_plain,
                 double& last_fresh_weighted, double& last_fresh_plain) const {
    using V = DoubleLanes<W>;
    const ptrdiff_t period = static_cast<ptrdiff_t>(period_);
    const double n = static_cast<double>(period), divisor = divisor_;
    V weighteds = {}, plains = {}, weight = {};
    for (ptrdiff_t v = i + 1 - period; v <= i; ++v) {
      const V value = across_spans<W>(x, v, period);
      weight += 1.0;
      weighteds += weight * value;
      plains += value;
    }
    V fresh_weighteds = {}, fresh_plains = {};
    store_across_spans(out, i, period, weighteds / divisor);
    weight = V{} + 1.0;
    for (ptrdiff_t j = i + 1; j < i + period; ++j) {
      const V value = across_spans<W>(x, j, period), leaving = spans_before<W>(value, x[j - period]);
      fresh_weighteds += weight * value;
      weight += 1.0;
      fresh_plains += value;
      weighteds = (weighteds - plains) + n * value;
      plains -= leaving;
      plains += value;
      store_across_spans(out, j, period, weighteds / divisor);
    }
    last_weighted = weighteds[W - 1], last_plain = plains[W - 1];
    last_fresh_weighted = fresh_weighteds[W - 1], last_fresh_plain = fresh_plains[W - 1];
  }
#endif

  int64_t period_ = 1;
  double divisor_ = 1.0;
  Ring window_;
  double weighted_ = 0.0;
  double plain_ = 0.0;
  double fresh_weighted_ = 0.0;  // the re-added sums of the values since the last re-adding
  double fresh_plain_ = 0.0;
  int64_t since_resum_ = 0;
};

// 2 EMA - EMA(EMA), each EMA seeded with the mean of its first `period` values. T: one series
// (double) or lanes of series (lanes.hpp); the second EMA steps in the lanes whose first is ready.
template <class T>
class DoubleEmaOf {
 public:
  DoubleEmaOf() = default;
  explicit DoubleEmaOf(int64_t period) : first_(period), second_(period) {}

  VELK_LANE_INLINE FlagOf<T> push(T x) {
    const FlagOf<T> first = first_.push(x);
    return push_where(first, second_, first_.value());
  }
  VELK_LANE_INLINE T value() const { return 2.0 * first_.value() - second_.value(); }

  template <class Archive>
  void fields(Archive& a) {
    first_.fields(a);
    second_.fields(a);
  }

 private:
  SeededEmaOf<T> first_, second_;
};
using DoubleEma = DoubleEmaOf<double>;

// EMA(EMA(EMA)) + 3 EMA - 3 EMA(EMA), each EMA seeded with the mean of its first `period` values.
template <class T>
class TripleEmaOf {
 public:
  TripleEmaOf() = default;
  explicit TripleEmaOf(int64_t period) : first_(period), second_(period), third_(period) {}

  VELK_LANE_INLINE FlagOf<T> push(T x) {
    const FlagOf<T> first = first_.push(x);
    const FlagOf<T> second = push_where(first, second_, first_.value());
    return push_where(second, third_, second_.value());
  }
  VELK_LANE_INLINE T value() const { return third_.value() + (3.0 * first_.value() - 3.0 * second_.value()); }

  template <class Archive>
  void fields(Archive& a) {
    first_.fields(a);
    second_.fields(a);
    third_.fields(a);
  }

 private:
  SeededEmaOf<T> first_, second_, third_;
};
using TripleEma = TripleEmaOf<double>;

// A SimpleAverage's push with its sums in locals (registers, in a loop), written back by
// `store`; the ring stays in the block.
class SimpleAverageRun {
 public:
  explicit SimpleAverageRun(SimpleAverage& average)
      : block_(average), capacity_(static_cast<int64_t>(average.sum.ring.capacity())), period_(average.period),
        sum_(average.sum.sum), fresh_(average.sum.fresh), value_(average.average), since_resum_(average.sum.since_resum) {}

  double push(double x) {
    const double leaving = block_.sum.ring.push(x);
    fresh_ += x;
    if (++since_resum_ >= capacity_) {
      since_resum_ = 0;
      sum_ = fresh_;
      fresh_ = 0.0;
    } else {
      sum_ += x;
      sum_ -= leaving;
    }
    value_ = sum_ / period_;
    return value_;
  }
  void store() const {
    block_.sum.sum = sum_;
    block_.sum.fresh = fresh_;
    block_.sum.since_resum = since_resum_;
    block_.average = value_;
  }

 private:
  SimpleAverage& block_;
  int64_t capacity_;
  double period_;
  double sum_, fresh_, value_;
  int64_t since_resum_;
};

// A simple average of a simple average: windows of period / 2 + 1 and the rest give the
// triangular weights 1, 2, ..., 2, 1 over `period` values.
class TriangularAverage {
 public:
  TriangularAverage() = default;
  explicit TriangularAverage(int64_t period) : inner_(period / 2 + 1), outer_(period + 1 - (period / 2 + 1)) {}

  bool push(double x) { return inner_.push(x) && outer_.push(inner_.value()); }
  double value() const { return outer_.value(); }
  bool full() const { return outer_.full(); }

  // Bars a run reads before its first (the inner window), and whether `run` takes this period
  // (the outer window has to fit a scratch span beside the run).
  ptrdiff_t reach() const { return static_cast<ptrdiff_t>(inner_.sum.ring.capacity()); }
  static constexpr ptrdiff_t run_span = 2048, max_outer = 2048;
  bool runs() const { return static_cast<ptrdiff_t>(outer_.sum.ring.capacity()) <= max_outer; }
  // push(x[i]) and value() into out[i] for i < count (at most run_span) once full, when x[-reach()
  // .. -1] are the values before: the inner averages into a scratch span after the outer window,
  // then the outer average over them (run_simple_average each).
  template <class Out>
  void run(const double* x, ptrdiff_t count, Out* out) {
    double inner[max_outer + run_span];
    double* values = inner;
    outer_.sum.ring.each_oldest([&](double value) { *values++ = value; });
    run_simple_average(inner_, x, count, values);
    run_simple_average(outer_, values, count, out);
  }

  template <class Archive>
  void fields(Archive& a) {
    inner_.fields(a);
    outer_.fields(a);
  }

 private:
  SimpleAverage inner_, outer_;
};

// Kaufman's adaptive average: an EMA whose k follows the efficiency ratio over `period` changes,
// starting from the previous value; period 1 is the value itself. Each step is one fused
// multiply-add, as the EMA's (`next`).
class AdaptiveAverage {
 public:
  AdaptiveAverage() = default;
  explicit AdaptiveAverage(int64_t period)
      : identity_(period == 1), period_(period), prices_(period + 1), path_(period) {}

  bool push(double x) {
    if (identity_) {
      kama_ = x;
      return true;
    }
    const bool first = prices_.size() == 0;
    const double previous = first ? x : prices_.oldest(prices_.size() - 1);
    prices_.push(x);
    if (first) return false;
    const double path_length = path_.push(std::fabs(x - previous));
    if (!prices_.full()) return false;
    if (!started_) {
      kama_ = previous;
      started_ = true;
    }
    kama_ = next(kama_, x, x - prices_.oldest(0), path_length);
    return true;
  }
  double value() const { return kama_; }
  int64_t period() const { return period_; }
  bool started() const { return started_; }

  // push(x[i]) and value() into out[i] for i < count, once started, where x[-period - 1 .. -1]
  // are the previous values: the prices and changes leaving the windows are read from x, and the
  // rings take the bars at the end.
  template <class Out>
  void run(const double* x, ptrdiff_t count, Out* out) {
    const int64_t period = period_;
    double kama = kama_, path_length = path_.sum, fresh = path_.fresh;
    int64_t since_resum = path_.since_resum;
    const auto step = [&](ptrdiff_t i) {
      const double value = x[i], oldest = x[i - period];
      const double move = std::fabs(value - x[i - 1]);
      fresh += move;
      if (++since_resum >= period) {
        since_resum = 0;
        path_length = fresh;
        fresh = 0.0;
      } else {
        path_length += move;
        path_length -= std::fabs(oldest - x[i - period - 1]);
      }
      kama = next(kama, value, value - oldest, path_length);
      out[i] = static_cast<Out>(kama);
    };
    ptrdiff_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    // The path length's chain (an add and a subtract a bar) is twice the average's: from a
    // scheduled re-adding on, a window's worth of path lengths depends only on the moves since
    // the one before, so two such spans (a pair) run side by side in lanes, each lane the step's
    // operations in order. The loop over a pair also sums the next pair's moves from 0 (the
    // lengths its re-addings take) and steps the average over the previous pair's bars, so that
    // the three chains overlap.
    // A chunk of pairs at a time, the next starting right after the last's final re-adding.
    const LaneMask magnitude_bits = {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()};
    while (period <= kLongestPaired && since_resum < period) {
      // The bar re-adding next (none to step to where the last bar re-added).
      const ptrdiff_t first_resum = since_resum == 0 ? i - 1 : i + period - 1 - since_resum;
      if (first_resum + 1 + 2 * period > count) break;
      for (; i <= first_resum; ++i) step(i);
      double moves_from[kLongestPaired + kPairedRun];  // the moves of bars i - period on
      double paths[kPairedRun];                          // the path lengths of bars i on
      const ptrdiff_t start = i;
      double* const moves = moves_from + period - start;  // moves[t]: bar t's
      ptrdiff_t end = start;
      while (end + 2 * period <= count && end + 2 * period - start <= kPairedRun) end += 2 * period;
      ptrdiff_t t = start - period;
      for (; t + lane_count <= end; t += lane_count) {
        store_as(moves + t, (Lanes)((LaneMask)(load_as<Lanes>(x + t) - load_as<Lanes>(x + t - 1)) & magnitude_bits));
      }
      for (; t < end; ++t) moves[t] = std::fabs(x[t] - x[t - 1]);
      double* const path = paths - start;
      // The average at bars t and t + 1: their weights in lanes (next()'s operations), then the
      // two fused steps.
      const auto average_pair = [&](ptrdiff_t t) {
        const Lanes value = load_as<Lanes>(x + t), length = load_as<Lanes>(path + t), none{}, one = none + 1.0;
        const Lanes change = value - load_as<Lanes>(x + t - period), ratio = change / length;
        const LaneMask whole = (length <= change) | (length == none);
        const Lanes efficiency = whole ? one : (Lanes)((LaneMask)ratio & magnitude_bits);
        Lanes smoothing = efficiency * span + slowest;
        smoothing *= smoothing;
        const Lanes kept = one - smoothing, share = (one - kept) * value;
        // The bars a span later toward the caches (into L2): the loop waits on its chains, not
        // on memory, while the next span's first pass would wait on nothing else.
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(x + t) + kPrefetchAhead), 0, 1);
        kama = fused(kama, kept[0], share[0]);
        out[t] = static_cast<Out>(kama);
        kama = fused(kama, kept[1], share[1]);
        out[t + 1] = static_cast<Out>(kama);
      };
      // The sums from 0 of the moves of the pair from s: its lanes' re-added lengths.
      const auto fresh_of = [&](ptrdiff_t s, ptrdiff_t k) { return Lanes{moves[s + k], moves[s + period + k]}; };
      Lanes fresh_sums{};
      for (ptrdiff_t k = 0; k < period; ++k) fresh_sums += fresh_of(start, k);
      for (ptrdiff_t s = start; s < end; s += 2 * period) {
        const bool has_next = s + 2 * period < end, has_previous = s > start;
        const ptrdiff_t previous = s - 2 * period;
        Lanes lengths{path_length, fresh_sums[0]}, next_fresh{};
        for (ptrdiff_t k = 0; k + 1 < period; ++k) {
          lengths += fresh_of(s, k);
          lengths -= Lanes{moves[s + k - period], moves[s + k]};
          path[s + k] = lengths[0];
          path[s + period + k] = lengths[1];
          if (has_next) next_fresh += fresh_of(s + 2 * period, k);
          if (has_previous) average_pair(previous + 2 * k);
        }
        if (has_next) next_fresh += fresh_of(s + 2 * period, period - 1);
        path[s + period - 1] = fresh_sums[0];
        path[s + 2 * period - 1] = fresh_sums[1];
        path_length = fresh_sums[1];
        fresh_sums = next_fresh;
        if (has_previous) average_pair(s - 2);
      }
      for (i = end - 2 * period; i < end; i += 2) average_pair(i);
      since_resum = 0;
      fresh = 0.0;
    }
#endif
    for (; i < count; ++i) step(i);
    prices_.push_many(x, static_cast<size_t>(count));
    const ptrdiff_t last_window = count > period ? count - period : 0;
    path_.ring.pass_over(static_cast<size_t>(last_window));
    for (ptrdiff_t t = last_window; t < count; ++t) path_.ring.push(std::fabs(x[t] - x[t - 1]));
    kama_ = kama;
    path_.sum = path_length;
    path_.fresh = fresh;
    path_.since_resum = since_resum;
  }

  template <class Archive>
  void fields(Archive& a) {
    prices_.fields(a);
    path_.fields(a);
    a(kama_);
    a(started_);
  }

 private:
  // The step from the change over the window and the path length (sum of |moves|) along it.
  static constexpr double slowest = 2.0 / (30.0 + 1.0);
  static constexpr double span = 2.0 / (2.0 + 1.0) - slowest;
  static double next(double kama, double x, double change, double path_length) {
    const double efficiency = path_length <= change || path_length == 0.0 ? 1.0 : std::fabs(change / path_length);
    double smoothing = efficiency * span + slowest;
    smoothing *= smoothing;
    // The EMA's fused step (SeededEmaOf): the value alone on the chain, weights summing to 1
    // exactly (smoothing <= 4/9, so 1 - kept is exact), so flat prices keep the value.
    const double kept = 1.0 - smoothing;
    return fused(kama, kept, (1.0 - kept) * x);
  }

  // Windows paired in lanes by run(): at most this long, within this many bars at a time.
  static constexpr ptrdiff_t kLongestPaired = 512, kPairedRun = 2048;
  static constexpr uintptr_t kPrefetchAhead = 8192 * sizeof(double);  // bytes

  bool identity_ = false;
  int64_t period_ = 1;
  Ring prices_;         // the last period + 1 values
  WindowSum path_;  // sum of |x - previous x| over period changes
  double kama_ = 0.0;
  bool started_ = false;
};

// Tillson's T3: six chained EMAs, each seeded with the mean of its first `period` values and
// stepped as the EMA block steps (SeededEmaOf: e = fused(e, c, k' * x), c = 1 - k rounded,
// k' = 1 - c), combined with the volume factor's coefficients. T: one series (double) or lanes of
// series (lanes.hpp: each stage steps in the lanes whose stage before it is ready); `run` is the
// one series' loop.
template <class T>
class TillsonT3Of {
 public:
  TillsonT3Of() = default;
  TillsonT3Of(int64_t period, double vfactor)
      : period_(count_of<T>(period)), size_(splat<T>(static_cast<double>(period))) {
    const double k = 1.0 - (1.0 - 2.0 / (static_cast<double>(period) + 1.0));
    const double v = vfactor;
    const double squared = v * v;
    const double c1 = -(squared * v);
    k_ = splat<T>(k);
    rest_ = splat<T>(1.0 - k);
    c1_ = splat<T>(c1);
    c2_ = splat<T>(3.0 * (squared - c1));
    c3_ = splat<T>(-6.0 * squared - 3.0 * (v - c1));
    c4_ = splat<T>(1.0 + 3.0 * v - c1 + 3.0 * squared);
  }

  VELK_LANE_INLINE FlagOf<T> push(T x) {
    FlagOf<T> ready = stages_[0].push(x, period_, size_, k_, rest_);
    for (int s = 1; s < 6; ++s)
      ready = push_where(ready, stages_[s], stages_[s - 1].value, period_, size_, k_, rest_);
    return ready;
  }
  VELK_LANE_INLINE T value() const {
    return c1_ * stages_[5].value + c2_ * stages_[4].value + c3_ * stages_[3].value + c4_ * stages_[2].value;
  }
  bool seeded() const { return all_set(not_less(stages_[5].seen, period_)); }

  // push(x[i]) and value() into out[i] for i < count, once seeded: the six stages in registers.
  template <class Out>
  void run(const double* x, ptrdiff_t count, Out* out) {
    const double k = k_, rest = rest_, c1 = c1_, c2 = c2_, c3 = c3_, c4 = c4_;
    double e1 = stages_[0].value, e2 = stages_[1].value, e3 = stages_[2].value;
    double e4 = stages_[3].value, e5 = stages_[4].value, e6 = stages_[5].value;
    ptrdiff_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    // Two bars at a time, the first stage's shares (k * x) and the combination in Lanes (each
    // lane the scalar operations): fewer multiplies and adds on a loop bound by them rather than
    // by its chains. The stages stay bar by bar, so a bar's six steps overlap the next bar's.
    for (; i + lane_count <= count; i += lane_count) {
      const Lanes shares = k * load_as<Lanes>(x + i);
      const auto stages = [&](double share) {
        e1 = fused(e1, rest, share);
        e2 = fused(e2, rest, k * e1);
        e3 = fused(e3, rest, k * e2);
        e4 = fused(e4, rest, k * e3);
        e5 = fused(e5, rest, k * e4);
        e6 = fused(e6, rest, k * e5);
      };
      stages(shares[0]);
      const double f3 = e3, f4 = e4, f5 = e5, f6 = e6;
      stages(shares[1]);
      const Lanes v3 = {f3, e3}, v4 = {f4, e4}, v5 = {f5, e5}, v6 = {f6, e6};
      store_as<Out>(out + i, c1 * v6 + c2 * v5 + c3 * v4 + c4 * v3);
    }
#endif
    for (; i < count; ++i) {
      e1 = fused(e1, rest, k * x[i]);
      e2 = fused(e2, rest, k * e1);
      e3 = fused(e3, rest, k * e2);
      e4 = fused(e4, rest, k * e3);
      e5 = fused(e5, rest, k * e4);
      e6 = fused(e6, rest, k * e5);
      out[i] = static_cast<Out>(c1 * e6 + c2 * e5 + c3 * e4 + c4 * e3);
    }
    stages_[0].value = e1;
    stages_[1].value = e2;
    stages_[2].value = e3;
    stages_[3].value = e4;
    stages_[4].value = e5;
    stages_[5].value = e6;
  }

  template <class Archive>
  void fields(Archive& a) {
    for (Stage& stage : stages_) {
      a(stage.value);
      a(stage.seen);
    }
  }

 private:
  // Seeded with the mean of its first `period` values, then the EMA's step (summed_seed_step).
  struct Stage {
    VELK_LANE_INLINE FlagOf<T> push(T x, CountOf<T> period, T size, T k, T rest) {
      return summed_seed_step(value, seen, period, size, rest, k, x);
    }
    T value = splat<T>(0.0);
    CountOf<T> seen = count_of<T>(0);
  };
  CountOf<T> period_ = count_of<T>(1);
  T size_ = splat<T>(1.0);
  T k_ = splat<T>(1.0), rest_ = splat<T>(0.0);
  T c1_ = splat<T>(0.0), c2_ = splat<T>(0.0), c3_ = splat<T>(0.0), c4_ = splat<T>(1.0);
  Stage stages_[6];
};
using TillsonT3 = TillsonT3Of<double>;

// One tap set of Ehlers' Hilbert transformer, 0.0962 u + 0.5769 u[1] - 0.5769 u[2] - 0.0962 u[3]
// over the values of one bar parity (u[1] is two bars back), scaled by 0.075 period + 0.54; the
// sum is formed in TA-Lib's order so the cycle measurements agree with it closely.
struct HilbertTaps {
  static constexpr double a = 0.0962, b = 0.5769;
  double push(double u, double scale) {
    double h = -(a * u3);
    h += a * u;
    h -= b * u2;
    h += b * u1;
    u3 = u2;
    u2 = u1;
    u1 = u;
    return h * scale;
  }
  template <class Archive>
  void fields(Archive& ar) {
    ar(u1);
    ar(u2);
    ar(u3);
  }
  double u1 = 0.0, u2 = 0.0, u3 = 0.0;
};

// The price smoothed by a 4-bar WMA, from a ring of the last 4 prices.
inline double smoothed_price(const Ring& prices) {
  return (4.0 * prices.oldest(3) + 3.0 * prices.oldest(2) + 2.0 * prices.oldest(1) + prices.oldest(0)) * 0.1;
}

// Ehlers' homodyne measurement of the dominant cycle period as TA-Lib computes it for mama and the
// ht_* indicators: the Hilbert transformer's taps run separately over even and odd bars, giving
// the in-phase I1 and quadrature Q1 parts of the smoothed price; the period comes from the phasor
// of I2 = I1 - HT(Q1), Q2 = Q1 + HT(I1), limited and smoothed.
class HomodynePeriod {
 public:
  // The in-phase and quadrature parts of one bar.
  struct Phasor {
    double inphase, quadrature;
  };
  static constexpr double kDegrees = 180.0 / 3.14159265358979323846;

  // Takes the smoothed price of bar `bar` (counted from the measurement's start on, by parity);
  // moves the period on and returns the bar's phasor.
  Phasor push(double smoothed, int64_t bar) {
    // Each parity's filters at fixed places (no pointer chosen per bar): the state's scalars can
    // stay in registers across the loop.
    return bar % 2 == 0 ? push_parity(smoothed, even_, odd_) : push_parity(smoothed, odd_, even_);
  }
  double period() const { return period_; }

  template <class Archive>
  void fields(Archive& a) {
    for (Parity* parity : {&even_, &odd_}) {
      parity->detrender.fields(a);
      parity->q1.fields(a);
      parity->ji.fields(a);
      parity->jq.fields(a);
      a(parity->i1_back1);
      a(parity->i1_back3);
    }
    a(previous_i2_);
    a(previous_q2_);
    a(re_);
    a(im_);
    a(period_);
  }

 private:
  // The filters of one bar parity; i1_back1/back3 hold the other parity's detrenders (1 and 3
  // bars back when this parity's next bar comes).
  struct Parity {
    HilbertTaps detrender, q1, ji, jq;
    double i1_back1 = 0.0, i1_back3 = 0.0;  // shifted by the other parity's bars
  };
  Parity even_, odd_;
  double previous_i2_ = 0.0, previous_q2_ = 0.0, re_ = 0.0, im_ = 0.0;
  double period_ = 0.0;

  // One bar of parity `own`; `other` is the other parity's filters.
  Phasor push_parity(double smoothed, Parity& own, Parity& other) {
    const double scale = 0.075 * period_ + 0.54;
    const double i1 = own.i1_back3;  // the detrender three bars back
    const double detrender = own.detrender.push(smoothed, scale);
    const double q1 = own.q1.push(detrender, scale);
    const double ji = own.ji.push(i1, scale);
    const double jq = own.jq.push(q1, scale);
    const double q2 = 0.2 * (q1 + ji) + 0.8 * previous_q2_;
    const double i2 = 0.2 * (i1 - jq) + 0.8 * previous_i2_;
    other.i1_back3 = other.i1_back1;
    other.i1_back1 = detrender;

    re_ = 0.2 * (i2 * previous_i2_ + q2 * previous_q2_) + 0.8 * re_;
    im_ = 0.2 * (i2 * previous_q2_ - q2 * previous_i2_) + 0.8 * im_;
    previous_q2_ = q2;
    previous_i2_ = i2;
    const double before = period_;
    if (im_ != 0.0 && re_ != 0.0) period_ = 360.0 / (std::atan(im_ / re_) * kDegrees);
    // Both limits tested on the unlimited period at once (the upper one first, as written in
    // sequence): one select on the chain instead of a min and a max after each other.
    const double upper = 1.5 * before, lower = 0.67 * before;
    const double upper_kept = upper < lower ? lower : upper;
    period_ = period_ > upper ? upper_kept : period_ < lower ? lower : period_;
    if (period_ < 6.0) {
      period_ = 6.0;
    } else if (period_ > 50.0) {
      period_ = 50.0;
    }
    period_ = 0.2 * period_ + 0.8 * before;
    return {i1, q1};
  }
};

// Ehlers' MESA adaptive moving average (MAMA) and its following average (FAMA), as TA-Lib
// computes them: the price smoothed by a 4-bar WMA, the Hilbert transform's in-phase and
// quadrature parts, the phase change setting alpha = fastlimit / dphase within
// [slowlimit, fastlimit]. The cycle measurement starts at bar 12 with MAMA = FAMA = 0; values
// from bar 32 on.
class MesaAdaptive {
 public:
  static constexpr int64_t first_value = 32;

  MesaAdaptive() = default;
  MesaAdaptive(double fastlimit, double slowlimit) : fast_(fastlimit), slow_(slowlimit), prices_(4) {}

  bool push(double x) {
    prices_.push(x);
    const int64_t bar = seen_++;
    if (bar < 12) return false;
    const HomodynePeriod::Phasor phasor = cycle_.push(smoothed_price(prices_), bar);
    const double i1 = phasor.inphase, q1 = phasor.quadrature;
    const double phase = i1 != 0.0 ? std::atan(q1 / i1) * HomodynePeriod::kDegrees : 0.0;

    double alpha = previous_phase_ - phase;
    previous_phase_ = phase;
    if (alpha < 1.0) alpha = 1.0;
    if (alpha > 1.0) {
      alpha = fast_ / alpha;
      if (alpha < slow_) alpha = slow_;
    } else {
      alpha = fast_;
    }
    mama_ = alpha * x + (1.0 - alpha) * mama_;
    alpha *= 0.5;
    fama_ = alpha * mama_ + (1.0 - alpha) * fama_;
    return bar >= first_value;
  }
  double mama() const { return mama_; }
  double fama() const { return fama_; }
  double value() const { return mama_; }

  template <class Archive>
  void fields(Archive& a) {
    prices_.fields(a);
    a(seen_);
    cycle_.fields(a);
    a(previous_phase_);
    a(mama_);
    a(fama_);
  }

 private:
  double fast_ = 0.5, slow_ = 0.05;
  Ring prices_;  // the last 4 prices, for the smoothing WMA
  int64_t seen_ = 0;
  HomodynePeriod cycle_;
  double previous_phase_ = 0.0;
  double mama_ = 0.0, fama_ = 0.0;
};

enum class MaType : int64_t { sma = 0, ema, wma, dema, tema, trima, kama, mama, t3 };

inline constexpr int64_t kMaTypeCount = 9;

// Position of the first value of the `matype` average of `period` on NaN-free input (TA-Lib's).
inline int64_t moving_average_lookback(int64_t matype, int64_t period) {
  if (period <= 1) return 0;
  switch (static_cast<MaType>(matype)) {
    case MaType::dema: return 2 * (period - 1);
    case MaType::tema: return 3 * (period - 1);
    case MaType::kama: return period;
    case MaType::mama: return MesaAdaptive::first_value;
    case MaType::t3: return 6 * (period - 1);
    default: return period - 1;
  }
}

// The average of kind `matype` (checked by the module, 0..8); period 1 is the value itself for
// every kind, as TA-Lib's MA does (SMA keeps its block, exact for one value). MAMA ignores the
// period (fast limit 0.5, slow 0.05) and T3 uses vfactor 0.7, as in TA-Lib's MA. Only the selected
// kind's block is built and pickled, so an SMA or EMA pickles as SimpleAverage or SeededEma does.
class MovingAverage {
 public:
  MovingAverage() = default;
  MovingAverage(int64_t matype, int64_t period)
      : kind_(period <= 1 && matype != static_cast<int64_t>(MaType::sma) ? kIdentity : matype) {
    switch (kind_) {
      case static_cast<int64_t>(MaType::sma): sma_ = SimpleAverage(period); break;
      case static_cast<int64_t>(MaType::ema): ema_ = SeededEma(period); break;
      case static_cast<int64_t>(MaType::wma): wma_ = WeightedAverage(period); break;
      case static_cast<int64_t>(MaType::dema): dema_ = DoubleEma(period); break;
      case static_cast<int64_t>(MaType::tema): tema_ = TripleEma(period); break;
      case static_cast<int64_t>(MaType::trima): trima_ = TriangularAverage(period); break;
      case static_cast<int64_t>(MaType::kama): kama_ = AdaptiveAverage(period); break;
      case static_cast<int64_t>(MaType::mama): mama_ = MesaAdaptive(0.5, 0.05); break;
      case static_cast<int64_t>(MaType::t3): t3_ = TillsonT3(period, 0.7); break;
      default: break;
    }
  }

  // The simple average's block when this is one (a run loop's fast path), else nullptr.
  SimpleAverage* simple() { return kind_ == static_cast<int64_t>(MaType::sma) ? &sma_ : nullptr; }

  // True once value() holds the average.
  bool push(double x) {
    switch (kind_) {
      case static_cast<int64_t>(MaType::sma): return sma_.push(x);
      case static_cast<int64_t>(MaType::ema): return ema_.push(x);
      case static_cast<int64_t>(MaType::wma): return wma_.push(x);
      case static_cast<int64_t>(MaType::dema): return dema_.push(x);
      case static_cast<int64_t>(MaType::tema): return tema_.push(x);
      case static_cast<int64_t>(MaType::trima): return trima_.push(x);
      case static_cast<int64_t>(MaType::kama): return kama_.push(x);
      case static_cast<int64_t>(MaType::mama): return mama_.push(x);
      case static_cast<int64_t>(MaType::t3): return t3_.push(x);
      default: identity_ = x; return true;
    }
  }
  double value() const {
    switch (kind_) {
      case static_cast<int64_t>(MaType::sma): return sma_.value();
      case static_cast<int64_t>(MaType::ema): return ema_.value();
      case static_cast<int64_t>(MaType::wma): return wma_.value();
      case static_cast<int64_t>(MaType::dema): return dema_.value();
      case static_cast<int64_t>(MaType::tema): return tema_.value();
      case static_cast<int64_t>(MaType::trima): return trima_.value();
      case static_cast<int64_t>(MaType::kama): return kama_.value();
      case static_cast<int64_t>(MaType::mama): return mama_.mama();
      case static_cast<int64_t>(MaType::t3): return t3_.value();
      default: return identity_;
    }
  }

  template <class Archive>
  void fields(Archive& a) {
    switch (kind_) {
      case static_cast<int64_t>(MaType::sma): sma_.fields(a); break;
      case static_cast<int64_t>(MaType::ema): ema_.fields(a); break;
      case static_cast<int64_t>(MaType::wma): wma_.fields(a); break;
      case static_cast<int64_t>(MaType::dema): dema_.fields(a); break;
      case static_cast<int64_t>(MaType::tema): tema_.fields(a); break;
      case static_cast<int64_t>(MaType::trima): trima_.fields(a); break;
      case static_cast<int64_t>(MaType::kama): kama_.fields(a); break;
      case static_cast<int64_t>(MaType::mama): mama_.fields(a); break;
      case static_cast<int64_t>(MaType::t3): t3_.fields(a); break;
      default: a(identity_); break;
    }
  }

 private:
  static constexpr int64_t kIdentity = -1;
  int64_t kind_ = kIdentity;
  double identity_ = 0.0;
  SimpleAverage sma_;
  SeededEma ema_;
  WeightedAverage wma_;
  DoubleEma dema_;
  TripleEma tema_;
  TriangularAverage trima_;
  AdaptiveAverage kama_;
  MesaAdaptive mama_;
  TillsonT3 t3_;
};

// A matype parameter as the descriptors declare it.
inline ParamSpec matype_param(const char* name, double default_value) {
  return ParamSpec{name, ParamKind::integer, default_value, 0, kMaTypeCount - 1,
                   "Moving-average type, TA-Lib's numbers: 0 SMA, 1 EMA, 2 WMA, 3 DEMA, 4 TEMA, 5 TRIMA, "
                   "6 KAMA, 7 MAMA, 8 T3."};
}

// State of apo and ppo: averages of the close over the smaller and the larger of the params 0 and
// 1 (param 2 the matype), joined by Spread::of(fast, slow) from the slow average's first value on.
template <class Spread>
struct PriceOscillatorState {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;
  explicit PriceOscillatorState(const double* params)
      : fast(int_param(params, 2), std::min(int_param(params, 0), int_param(params, 1))),
        slow(int_param(params, 2), std::max(int_param(params, 0), int_param(params, 1))) {}
  bool step(const double* bar, double* out) {
    fast.push(bar[0]);
    if (!slow.push(bar[0])) return false;
    out[0] = Spread::of(fast.value(), slow.value());
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    fast.fields(a);
    slow.fields(a);
  }
  MovingAverage fast, slow;
};

// First value of PriceOscillatorState: the slow average's.
inline int64_t price_oscillator_lookback(const double* params) {
  return moving_average_lookback(int_param(params, 2), std::max(int_param(params, 0), int_param(params, 1)));
}

}  // namespace velk::classic
