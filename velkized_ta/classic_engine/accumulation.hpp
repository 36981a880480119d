// The accumulation/distribution line shared by AD and ADOSC: a running total over the whole
// series, kept with a compensation term (Neumaier's) so that a million bars add no more rounding
// than a few.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "classic_engine/indicator.hpp"

namespace velk::classic {

// T: one series (double) or lanes of series (lanes.hpp), each lane the same operations in the
// same order; `push_run` is the one series' loop.
template <class T>
class AccumulationLineOf {
 public:
  // Adds the bar's money flow volume; returns the line's value.
  VELK_LANE_INLINE T push(T high, T low, T close, T volume) {
    return push_term(total_, compensation_, high, low, close, volume);
  }

  // The line over bars 0 .. count - 1 of the columns high, low, close, volume (`in`), which may
  // hold NaN bars. A block of bars at a time: the bar terms and the additions' errors in vectors,
  // and one loop carrying both 4-cycle chains, the totals of this block beside the compensation of
  // the previous one (whose errors are known by then), so the two overlap; the NaN test rides
  // along, and so does `line(i, value)`, which gets the line at each real bar i of the previous
  // block in order (a caller's own recurrence on the line then overlaps these chains too). A
  // block holding a NaN bar is undone (its total restored) and handed to `stepped(at, n)` with the
  // line's members current, for the caller to step bars at .. at + n - 1 under the NaN rule; so
  // are the bars after the last whole block.
  // W: the lanes of the bar terms and errors (4 inside the AVX2 copy of a run kernel, whose
  // divider then takes four bars at a time; the chains are the same scalar additions).
  template <int W = 2, class Line, class Stepped>
  void push_run(const double* const* in, size_t count, Line&& line, Stepped&& stepped) {
    const double *high = in[0], *low = in[1], *close = in[2], *volume = in[3];
    size_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    double total = total_, compensation = compensation_;
    constexpr size_t kBlock = 32;
    constexpr size_t kAhead = 1024;
    struct Block {
      double terms[kBlock];
      double totals[kBlock + 1];  // totals[0]: the total before the block
      double errors[kBlock];
    } blocks[2];
    const Block* pending = nullptr;  // a block whose compensation and lines are still to come
    size_t pending_at = 0;
    using V = DoubleLanes<W>;
    for (; i + kBlock <= count; i += kBlock) {
      Block& b = blocks[(i / kBlock) & 1];
      b.totals[0] = total;
      NanTest missing;
      FlagOf<V> absent = flag_of<V>(false);
      const auto add_block = [&](auto with_pending) {
        for (size_t j = 0; j < kBlock; j += W) {
          const size_t t = i + j;
          // Bars further on, on their way while the chains wait (a prefetch past the end is dropped).
          if (j % 8 == 0) unrolled<4>([&](int k) { __builtin_prefetch(in[k] + t + kAhead); });
          const V h = load_as<V>(high + t), l = load_as<V>(low + t), c = load_as<V>(close + t),
                  v = load_as<V>(volume + t);
          V terms;
          if constexpr (W == 2) {
            missing.add(h, l, c, v);
            const V range = h - l, none{};
            terms = range > none ? ((c - l) - (h - c)) / range * v : none;
          } else {
            absent = absent | not_equal(h, h) | not_equal(l, l) | not_equal(c, c) | not_equal(v, v);
            const V range = h - l, none{};
            terms = choose(greater(range, none), ((c - l) - (h - c)) / range * v, none);
          }
          store_as(b.terms + j, terms);
          unrolled<W>([&](int k) VELK_LANE_INLINE {
            total += terms[k];
            b.totals[j + k + 1] = total;
            if constexpr (decltype(with_pending)::value) {
              compensation += pending->errors[j + k];
              line(pending_at + j + k, pending->totals[j + k + 1] + compensation);
            }
          });
        }
      };
      if (pending != nullptr)
        add_block(std::true_type{});
      else
        add_block(std::false_type{});
      pending = nullptr;
      if (missing.any() || any_set(absent)) [[unlikely]] {
        total_ = b.totals[0];
        compensation_ = compensation;
        stepped(i, kBlock);
        total = total_;
        compensation = compensation_;
        continue;
      }
      // Each addition's error, two-sum as in add(), summed into the compensation with the next block.
      for (size_t j = 0; j < kBlock; j += W) {
        const V before = load_as<V>(b.totals + j), sum = load_as<V>(b.totals + j + 1);
        const V value = load_as<V>(b.terms + j), value_part = sum - before;
        store_as(b.errors + j, (before - (sum - value_part)) + (value - value_part));
      }
      pending = &b;
      pending_at = i;
    }
    if (pending != nullptr) {
      for (size_t j = 0; j < kBlock; ++j) {
        compensation += pending->errors[j];
        line(pending_at + j, pending->totals[j + 1] + compensation);
      }
    }
    total_ = total;
    compensation_ = compensation;
#endif
    if (i < count) stepped(i, count - i);
  }

  template <class Archive>
  void fields(Archive& a) {
    a(total_);
    a(compensation_);
  }

 private:
  VELK_LANE_INLINE static T push_term(T& total, T& compensation, T high, T low, T close, T volume) {
    const T range = high - low;
    add(total, compensation,
        choose(greater(range, splat<T>(0.0)), ((close - low) - (high - close)) / range * volume, splat<T>(0.0)));
    return total + compensation;
  }
  // total += value, its rounding error (exact, by Knuth's branch-free two-sum: the error
  // Neumaier's test of magnitudes picks, without a branch that mispredicts as the total crosses
  // the size of the terms) into the compensation. A bar without range adds +0, which leaves both
  // as they are: neither is ever -0.
  VELK_LANE_INLINE static void add(T& total, T& compensation, T value) {
    const T sum = total + value;
    const T value_part = sum - total;
    compensation += (total - (sum - value_part)) + (value - value_part);
    total = sum;
  }

  T total_ = splat<T>(0.0);
  T compensation_ = splat<T>(0.0);  // what the rounded total has lost
};
using AccumulationLine = AccumulationLineOf<double>;

}  // namespace velk::classic
