// The live values of the functions whose handles follow the call with n_values=1 (live/kernels.hpp,
// `kFull` false) for the columns of a row-major table, one series per lane: every bar's window is
// summed afresh in the order of that call, as the live kernel sums it bar by bar, so each lane
// gives its handle's bits (float32 rounding, NaN and the bars before the first value included).
// A lane whose bar would fail in its handle (a zero divisor, numpy's root of a negative variance)
// is named in `failed`; the live route recomputes those columns.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "frame/fma.hpp"
#include "indicators/regression_steps.hpp"
#include "many/columns.hpp"

namespace velk::indicators {

namespace {

template <class L>
typename L::Floats live_nan() {
  return splat<L>(kUnwritten);  // the handles' NaN, __builtin_nanf("")
}

// Lanes whose window sums need `period` rows each bar read the table's rows again: where a block's
// windows exceed the L1 cache, several rows a turn keep one group's window there between them.
int64_t turn_for_windows(int columns, int64_t window_rows) {
  const int64_t window_bytes = int64_t{columns} * window_rows * int64_t{sizeof(float)};
  return window_bytes > (int64_t{32} << 10) ? 8 : 1;
}

// The last `size` rows' terms of one lane group, kTerms vectors of W floats a row; row j at slot
// j % size.
template <class L, int kTerms = 1>
class LaneRing {
 public:
  using F = typename L::Floats;
  explicit LaneRing(int64_t size) : size_(size), data_(static_cast<size_t>(size) * kTerms * L::kWidth) {}
  void put(int64_t j, const F (&terms)[kTerms]) {
    std::memcpy(data_.data() + slot(j) * kTerms * L::kWidth, terms, sizeof terms);
  }
  F get(int64_t j, int term = 0) const {
    F v;
    std::memcpy(&v, data_.data() + (slot(j) * kTerms + term) * L::kWidth, sizeof v);
    return v;
  }
  // Calls visit(j, terms) for rows j = from .. to - 1 in order (to - from at most size).
  template <class Visit>
  void each(int64_t from, int64_t to, Visit&& visit) const {
    int64_t s = slot(from);
    for (int64_t j = from; j < to; ++j) {
      F terms[kTerms];
      std::memcpy(terms, data_.data() + s * kTerms * L::kWidth, sizeof terms);
      visit(j, terms);
      s = s + 1 == size_ ? 0 : s + 1;
    }
  }

 private:
  int64_t slot(int64_t j) const { return j % size_; }
  int64_t size_;
  std::vector<float> data_;
};

// ---------------------------------------------------------------------------
// SmaKernel::step in every lane: the present values of bars i - period .. i - 1 (bar -1 being the
// newest, bar i), then bar i added and bar i - period taken out again.

template <class L, bool kNormalize>
class LiveSma {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  LiveSma(const ColumnGroup& x, const ColumnGroup& out, int32_t period) : x_(x), out_(out), period_(period) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      x_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i < period_ - 1) {
        out_.store<L>(i, live_nan<L>());
        continue;
      }
      const F v = x_.load<L>(i);
      const int64_t first = i - period_;
      const F oldest = first < 0 ? v : x_.load<L>(first);
      F sum{};
      M count{};
      enter(sum, count, oldest);
      for (int64_t k = first + 1; k < i; ++k) enter(sum, count, x_.load<L>(k));
      enter(sum, count, v);
      // Taken out as entered: a present value subtracted, the count one less (comparisons give -1).
      const M oldest_present = ~missing<L>(oldest);
      sum -= choose<L>(oldest_present, oldest, F{});
      count += oldest_present;
      const F counted = __builtin_convertvector(count, F);
      const M written = greater(counted, F{});
      F mean = sum / counted;
      if constexpr (kNormalize) {
        failing_ |= written & equal(v, F{});
        mean = (mean - v) / v;
      }
      out_.store<L>(i, choose<L>(written, mean, live_nan<L>()));
    }
  }
  uint32_t failed() const { return lanes_set<L>(failing_, out_.count); }
  int64_t rows_per_turn(int columns) const { return turn_for_windows(columns, period_ + 1); }

 private:
  // The sum never becomes -0 (it starts at +0), so adding +0 for a NaN leaves it as it is.
  static void enter(F& sum, M& count, F e) {
    const M present = ~missing<L>(e);
    sum += choose<L>(present, e, F{});
    count -= present;
  }

  ColumnGroup x_, out_;
  int64_t period_;
  M failing_{};
};

// ---------------------------------------------------------------------------
// LinKernel::step in every lane: the regression sums of bars i - period .. i - 1 entered afresh
// (RegressionSums::enter), slid once onto bar i; written where bars max(0, i - 2 period) ..
// i - period hold a present value (a count of them slides with the rows).

template <class L>
class LiveLin {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  LiveLin(const ColumnGroup& x, const ColumnGroup& out, int32_t period)
      : x_(x), out_(out), period_(period), p_(static_cast<float>(period)), p_lanes_(splat<L>(p_)) {
    // The coordinates' sums, and so the denominator, are the same in every lane and every window.
    RegressionSums coordinates;
    for (int32_t y = 1; y <= period; ++y) coordinates.enter(y, 0.0f);
    sum_x_lanes_ = splat<L>(coordinates.sum_x);
    denominator_ = splat<L>(coordinates.denominator(p_));
    defined_ = coordinates.denominator(p_) != 0.0f;
  }

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      x_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i >= period_) searched_ -= ~missing<L>(x_.load<L>(i - period_));
      if (i >= 2 * period_ + 1) searched_ += ~missing<L>(x_.load<L>(i - 2 * period_ - 1));
      if (i < period_ || !defined_) {
        out_.store<L>(i, live_nan<L>());
        continue;
      }
      F sum_y{}, sum_xy{}, deduction{};
      const int64_t from = i - period_;
      for (int64_t y = 1; y <= period_; ++y) {
        const F v = x_.load<L>(from + y - 1);
        if (y >= 2) deduction += v;
        sum_y += v;
        sum_xy = fused_lanes<L>(v, splat<L>(static_cast<float>(y)), sum_xy);
      }
      const F entering = x_.load<L>(i);
      const F leaving = x_.load<L>(from);
      sum_y += entering - leaving;
      sum_xy += fused_minus_lanes<L>(entering, p_lanes_, leaving) - deduction;
      const F slope = fused_minus_lanes<L>(p_lanes_, sum_xy, sum_x_lanes_ * sum_y) / denominator_;
      out_.store<L>(i, choose<L>(greater(__builtin_convertvector(searched_, F), F{}), slope, live_nan<L>()));
    }
  }
  uint32_t failed() const { return 0; }
  int64_t rows_per_turn(int columns) const { return turn_for_windows(columns, period_ + 1); }

 private:
  ColumnGroup x_, out_;
  int64_t period_;
  float p_;
  F p_lanes_;
  F sum_x_lanes_{}, denominator_{};
  bool defined_ = false;
  M searched_{};  // present values among bars max(0, i - 2 period) .. i - period
};

// ---------------------------------------------------------------------------
// CmoKernel::step in every lane: the gains and losses of the last `period` changes summed afresh
// (CmoState::enter_seed), each change's two terms kept in a ring as its row arrives.

template <class L>
class LiveCmo {
 public:
  using F = typename L::Floats;
  LiveCmo(const ColumnGroup& close, const ColumnGroup& out, int32_t period)
      : close_(close), out_(out), period_(period), terms_(period) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      close_.prefetch(i);
      out_.prefetch_for_store(i);
      const F current = close_.load<L>(i);
      const F change = current - previous_;
      previous_ = current;
      if (i >= 1) {
        // kept(change >= 0, change) and kept(change < 0, -change): +0 where not kept.
        terms_.put(i, {choose<L>(greater_equal(change, F{}), change, F{}), choose<L>(less(change, F{}), -change, F{})});
      }
      if (i < period_) {
        out_.store<L>(i, live_nan<L>());
        continue;
      }
      F gains{}, losses{};
      terms_.each(i - period_ + 1, i + 1, [&](int64_t, const F* t) {
        gains += t[0];
        losses += t[1];
      });
      const F total = gains + losses;
      out_.store<L>(i, choose<L>(not_equal(total, F{}), (gains - losses) / total, F{}));
    }
  }
  uint32_t failed() const { return 0; }

 private:
  ColumnGroup close_, out_;
  int64_t period_;
  LaneRing<L, 2> terms_;  // each change's gain and loss
  F previous_{};
};

// ---------------------------------------------------------------------------
// UltKernel::step in every lane: the buying pressure and true range of every bar kept in rings
// as its row arrives (bar 0's previous close is the newest close, so it is formed at bar long,
// the one bar that reads it), the three windows summed afresh and slid once onto bar i.

template <class L>
class LiveUlt {
 public:
  using F = typename L::Floats;
  LiveUlt(const PriceGroups& groups, int part, const ColumnGroup& out, int32_t s, int32_t m, int32_t l,
          int32_t weights)
      : high_(groups.high.part(part, L::kWidth)), low_(groups.low.part(part, L::kWidth)),
        close_(groups.close.part(part, L::kWidth)), out_(out), periods_{s, m, l},
        lanes_{splat<L>(static_cast<float>(s)), splat<L>(static_cast<float>(m)), splat<L>(static_cast<float>(l))},
        weights_(splat<L>(static_cast<float>(weights))), terms_(int64_t{l} + 1) {}

  void rows(int64_t r0, int64_t r1) {
    const int64_t s = periods_[0], m = periods_[1], l = periods_[2];
    for (int64_t i = r0; i < r1; ++i) {
      high_.prefetch(i), low_.prefetch(i), close_.prefetch(i);
      out_.prefetch_for_store(i);
      const F close = close_.load<L>(i);
      F bp{}, tr{};  // set from bar 1 on, before the first value reads them
      if (i >= 1) {
        pressure_and_range_lanes<L>(close_.load<L>(i - 1), low_.load<L>(i), high_.load<L>(i), close, bp, tr);
        terms_.put(i, {bp, tr});
      }
      if (i < l) {
        out_.store<L>(i, live_nan<L>());
        continue;
      }
      if (i == l)
        pressure_and_range_lanes<L>(close, low_.load<L>(0), high_.load<L>(0), close_.load<L>(0), first_bp_, first_tr_);
      F sum_bp[3] = {}, sum_tr[3] = {};
      terms_.each(i - l, i, [&](int64_t j, const F* terms) {
        const F b = j == 0 ? first_bp_ : terms[0], t = j == 0 ? first_tr_ : terms[1];
        sum_bp[2] += b, sum_tr[2] += t;
        if (j >= i - m) sum_bp[1] += b, sum_tr[1] += t;
        if (j >= i - s) sum_bp[0] += b, sum_tr[0] += t;
      });
      for (int k = 0; k < 3; ++k) {
        const int64_t gone = i - periods_[k];
        sum_bp[k] = sum_bp[k] + (bp - (gone == 0 ? first_bp_ : terms_.get(gone, 0)));
        sum_tr[k] = sum_tr[k] + (tr - (gone == 0 ? first_tr_ : terms_.get(gone, 1)));
        sum_tr[k] = guarded_range<L>(sum_tr[k]);
      }
      out_.store<L>(i, ultimate_lanes<L>(sum_bp[0], sum_tr[0], sum_bp[1], sum_tr[1], sum_bp[2], sum_tr[2], lanes_[0],
                                         lanes_[1], lanes_[2], weights_));
    }
  }
  uint32_t failed() const { return 0; }
  int64_t rows_per_turn(int columns) const { return turn_for_windows(columns, 2 * (int64_t{periods_[2]} + 1)); }

 private:
  ColumnGroup high_, low_, close_, out_;
  int64_t periods_[3];
  F lanes_[3];
  F weights_;
  LaneRing<L, 2> terms_;  // each bar's buying pressure and true range from bar 1 on
  F first_bp_{}, first_tr_{};
};

// ---------------------------------------------------------------------------
// CciKernel::step in every lane: the typical prices (typical_price, formed natively as the handle
// forms them) kept in a ring, the window's sums formed afresh and slid once onto bar i (at bar
// period - 1, all of them, not slid); a negative variance takes numpy's root in the handle.

template <class L>
class LiveCci {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  LiveCci(const PriceGroups& groups, int part, const ColumnGroup& out, int32_t period)
      : high_(groups.high.part(part, L::kWidth)), low_(groups.low.part(part, L::kWidth)),
        close_(groups.close.part(part, L::kWidth)), out_(out), period_(period), p_(splat<L>(static_cast<float>(period))),
        ring_(int64_t{period} + 1) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      high_.prefetch(i), low_.prefetch(i), close_.prefetch(i);
      out_.prefetch_for_store(i);
      const F v = ((high_.load<L>(i) + low_.load<L>(i)) + close_.load<L>(i)) / splat<L>(3.0f);
      ring_.put(i, {v});
      if (i < period_ - 1) {
        out_.store<L>(i, live_nan<L>());
        continue;
      }
      const bool slid = i >= period_;
      const int64_t first = slid ? i - period_ : 0;
      F sum{}, squares{};
      ring_.each(first, first + period_, [&](int64_t, const F* e) {
        sum += e[0];
        squares += e[0] * e[0];
      });
      if (slid) {
        const F old = ring_.get(i - period_);
        sum = sum + (v - old);
        squares = squares + (v * v - old * old);
      }
      // window_moments, then cci_scaled of the root (the vector root is the scalar one's bits).
      const F mean = sum / p_;
      const F variance = squares / p_ - mean * mean;
      negative_ |= less(variance, F{});
      const typename L::Doubles root = square_root(widen<L>(variance));
      const F scaled = narrow<L>(widen<L>(v - mean) / (root * 0.015));
      out_.store<L>(i, choose<L>(equal(variance, F{}), F{}, scaled));
    }
  }
  uint32_t failed() const { return lanes_set<L>(negative_, out_.count); }
  int64_t rows_per_turn(int columns) const { return turn_for_windows(columns, int64_t{period_} + 1); }

 private:
  ColumnGroup high_, low_, close_, out_;
  int64_t period_;
  F p_;
  LaneRing<L> ring_;
  M negative_{};
};

// Runs make(lanes, s) over the groups of `out` unless a ring cannot be allocated.
template <class Make>
bool live_lanes(const ColumnGroup& out, int32_t n, uint8_t* failed, Make&& make) {
  return declining_on_memory([&] { for_widest_lanes(out.count, n, failed, make); });
}

}  // namespace

// Each entry takes the handle's parameters as its opener checks them; windows longer than the
// series write nothing but NaN, which the live route gives at O(1) a bar without their rings.

template <>
bool live_columns_in_lanes<Sma>(const Sma::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                                uint8_t* failed) {
  ColumnGroup x;
  const int32_t period = args.timeperiod;
  if (!group_of(args.input_array, tables, n, x) || period < 1 || period > n) return false;
  const auto run = [&](auto normalize) {
    return live_lanes(out, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      return LiveSma<L, decltype(normalize)::value>(x.part(s, L::kWidth), out.part(s, L::kWidth), period);
    });
  };
  return args.normalize ? run(std::true_type{}) : run(std::false_type{});
}

template <>
bool live_columns_in_lanes<Lin>(const Lin::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                                uint8_t* failed) {
  ColumnGroup x;
  const int32_t period = args.timeperiod;
  if (!group_of(args.input_array, tables, n, x) || period < 1 || period >= n) return false;
  return live_lanes(out, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return LiveLin<L>(x.part(s, L::kWidth), out.part(s, L::kWidth), period);
  });
}

template <>
bool live_columns_in_lanes<Cmo>(const Cmo::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                                uint8_t* failed) {
  ColumnGroup close;
  const int32_t period = args.timeperiod;
  if (!group_of(args.close_arr, tables, n, close) || period < 1 || period >= n) return false;
  return live_lanes(out, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return LiveCmo<L>(close.part(s, L::kWidth), out.part(s, L::kWidth), period);
  });
}

template <>
bool live_columns_in_lanes<Ult>(const Ult::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                                uint8_t* failed) {
  PriceGroups groups;
  const int32_t s = args.short_period, m = args.medium_period, l = args.long_period;
  const int32_t weights = add32(add32(s, m), l);
  // A weight sum of 0 fails in the handle at every written bar; one wrapped below it is left there too.
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) || s < 1 || m < 1 || s > l ||
      m > l || l >= n || weights <= 0)
    return false;
  return live_lanes(out, n, failed, [&](auto lanes, int part) {
    using L = decltype(lanes);
    return LiveUlt<L>(groups, part, out.part(part, L::kWidth), s, m, l, weights);
  });
}

template <>
bool live_columns_in_lanes<Cci>(const Cci::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                                uint8_t* failed) {
  PriceGroups groups;
  const int32_t period = args.timeperiod;
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) || period < 1 || period > n)
    return false;
  return live_lanes(out, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return LiveCci<L>(groups, s, out.part(s, L::kWidth), period);
  });
}

}  // namespace velk::indicators
