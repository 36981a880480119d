// The entries of many/columns.hpp: the columns of a row-major table in lanes, one
// series per lane, each lane doing its series' scalar step (indicators/ema.hpp,
// indicators/momentum.hpp, indicators/combination_steps.hpp) in the same order.

#include "many/columns.hpp"

#include <algorithm>
#include <cstdint>

#include "frame/fma.hpp"
#include "indicators/ema.hpp"

namespace velk::indicators {

namespace {

Wide unwritten_lanes() { return wide_splat(kUnwritten); }

// ---------------------------------------------------------------------------
// The EMA chain. A stage is velk_ema fed one row at a time, as the one-pass form of
// the composites feeds it (`StreamedEma`, smoothing.cpp), each lane seeded at its
// own first present value. Stage 1 reads the prices; a later stage reads the
// elements of the stage below or, for MACD's second average, the prices again.

struct LaneEma {
  float alpha = 0.0f;
  int32_t first_written = 0;
  Wide value{};
  WideMask seeded{};
  Wide alpha_lanes{};
  WideDoubles keep_lanes{};  // 1 - alpha in double

  void set_alpha(float a) {
    alpha = a;
    alpha_lanes = wide_splat(a);
    for (int k = 0; k < kWide; ++k) keep_lanes[k] = 1.0 - static_cast<double>(a);
  }
  // EmaState::step in every lane: the float32 product, one fused step in double.
  Wide stepped(Wide x) const {
    const Wide q = alpha_lanes * x;
    return narrow(fused(keep_lanes, widen(value), widen(q)));
  }

  // Until every lane is seeded and written: the element each lane's stage gives at row i.
  template <bool kNormalize>
  Wide feed(int64_t i, Wide v, WideMask& failed) {
    const WideMask newly = ~seeded & ~missing(v);
    // A seed is stepped again only when it is written.
    const WideMask stepping = i >= first_written ? (seeded | newly) : seeded;
    value = choose(newly, v, value);
    seeded |= newly;
    value = choose(stepping, stepped(v), value);
    if (i < first_written) return unwritten_lanes();
    Wide element = value;
    if constexpr (kNormalize) {
      failed |= seeded & (v == 0.0f);
      element = (value - v) / v;
    }
    return choose(seeded, element, unwritten_lanes());
  }
  // Every lane seeded and written.
  template <bool kNormalize>
  Wide feed_written(Wide v, WideMask& failed) {
    value = stepped(v);
    if constexpr (!kNormalize) {
      return value;
    } else {
      failed |= v == 0.0f;
      return (value - v) / v;
    }
  }
};

// Stage j (1 .. kStages) reads the prices where bit j of kFromPrices is set, else
// stage j - 1; it is normalized where bit j of kNormalized is set.
template <int kStages, unsigned kFromPrices, unsigned kNormalized>
struct Chain {
  LaneEma stages[kStages + 1];

  static constexpr int source(int j) { return (kFromPrices >> j) & 1u ? 0 : j - 1; }

  bool all_seeded() const {
    WideMask all = all_lanes();
    for (int j = 1; j <= kStages; ++j) all &= stages[j].seeded;
    return lanes_set(all, kColumnLanes) == (uint32_t{1} << kColumnLanes) - 1;
  }
  int64_t last_first_written() const {
    int64_t last = 0;
    for (int j = 1; j <= kStages; ++j) last = std::max<int64_t>(last, stages[j].first_written);
    return last;
  }

  template <int J, bool kWritten>
  void advance(int64_t i, Wide* level, WideMask& failed) {
    if constexpr (J <= kStages) {
      constexpr bool kNormalize = (kNormalized >> J) & 1u;
      const Wide v = level[source(J)];
      level[J] = kWritten ? stages[J].template feed_written<kNormalize>(v, failed)
                          : stages[J].template feed<kNormalize>(i, v, failed);
      advance<J + 1, kWritten>(i, level, failed);
    }
  }

  // out row i = combine(i, levels) for every row; the lanes whose stages would fail
  // or never find a seed are set in `failed`.
  template <class Combine>
  void run(const ColumnGroup& prices, const ColumnGroup& out, int32_t n, Combine&& combine, uint32_t& failed) {
    WideMask failing{};
    Wide level[kStages + 1];
    const int64_t written = last_first_written();
    int64_t i = 0;
    for (; i < n && !(i >= written && all_seeded()); ++i) {
      level[0] = prices.load(i);
      advance<1, false>(i, level, failing);
      out.store(i, combine(i, level));
    }
    for (; i < n; ++i) {
      prices.prefetch(i);
      out.prefetch_for_store(i);
      level[0] = prices.load(i);
      advance<1, true>(i, level, failing);
      out.store(i, combine(i, level));
    }
    WideMask unseeded{};
    for (int j = 1; j <= kStages; ++j) unseeded |= ~stages[j].seeded;
    failed |= lanes_set(failing | unseeded, out.count);
  }
};

// A stage of the chain: velk_ema's period and, when `limited`, n_values (else the
// whole series). False where the one-pass form would leave the work to the calls.
bool plan_stage(LaneEma& stage, int32_t period, bool limited, int32_t n_values, int32_t n) {
  float alpha = 0.0f;
  if (!ema_alpha(period, alpha)) return false;
  stage.set_alpha(alpha);
  if (limited && n_values < 0) return false;
  stage.first_written = sub32(n, limited ? n_values : kWholeSeries);
  return true;
}

// Positions before `k` stay unwritten; from there on the combination.
template <class Combine>
auto from_position(int32_t k, Combine combine) {
  return [k, combine](int64_t i, const Wide* level) { return i >= k ? combine(level) : unwritten_lanes(); };
}

// Stage 3 of the prices, limited to the trailing `n_values`: velk_ema3 and the
// stages of velk_tema and velk_trix.
bool plan_three_stages(Chain<3, 0b0010, 0b0010>& chain, int32_t period, int32_t n_values, int32_t n) {
  return plan_stage(chain.stages[1], period, false, 0, n) && plan_stage(chain.stages[2], period, false, 0, n) &&
         plan_stage(chain.stages[3], period, true, n_values, n);
}

template <class Run>
bool in_wide_build(Run&& run) {
  bool ran = false;
  with_wide_vectors([&] { ran = run(); });
  return ran;
}

// The prices of a group, when present and the series is not empty.
bool prices_of(const Series& series, const GroupTables& tables, int32_t n, ColumnGroup& group) {
  return n >= 1 && tables.find(series, group);
}

}  // namespace

template <>
bool columns_in_lanes<Ema>(const Ema::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint32_t& failed) {
  ColumnGroup prices;
  if (!prices_of(args.input_array, tables, n, prices)) return false;
  return in_wide_build([&] {
    const auto value = [](int64_t, const Wide* level) { return level[1]; };
    if (args.normalize) {
      Chain<1, 0b10, 0b10> chain;
      if (!plan_stage(chain.stages[1], args.timeperiod, true, args.n_values, n)) return false;
      chain.run(prices, out, n, value, failed);
    } else {
      Chain<1, 0b10, 0b00> chain;
      if (!plan_stage(chain.stages[1], args.timeperiod, true, args.n_values, n)) return false;
      chain.run(prices, out, n, value, failed);
    }
    return true;
  });
}

template <>
bool columns_in_lanes<Ema2>(const Ema2::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint32_t& failed) {
  ColumnGroup prices;
  if (args.input_is_ema1 || !prices_of(args.input_array, tables, n, prices)) return false;
  return in_wide_build([&] {
    Chain<2, 0b010, 0b010> chain;
    if (!plan_stage(chain.stages[1], args.timeperiod, false, 0, n) ||
        !plan_stage(chain.stages[2], args.timeperiod, true, args.n_values, n))
      return false;
    const int32_t k = std::max(sub32(n, args.n_values), 0);
    chain.run(prices, out, n, from_position(k, [](const Wide* level) { return level[2]; }), failed);
    return true;
  });
}


template <>
bool columns_in_lanes<Ema3>(const Ema3::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint32_t& failed) {
  ColumnGroup prices;
  if (args.input_is_ema2 || args.input_is_ema1 == Py_True || !prices_of(args.input_array, tables, n, prices))
    return false;
  return in_wide_build([&] {
    Chain<3, 0b0010, 0b0010> chain;
    if (!plan_three_stages(chain, args.timeperiod, args.n_values, n)) return false;
    const int32_t k = std::max(sub32(n, args.n_values), 0);
    chain.run(prices, out, n, from_position(k, [](const Wide* level) { return level[3]; }), failed);
    return true;
  });
}

template <>
bool columns_in_lanes<Dema>(const Dema::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint32_t& failed) {
  ColumnGroup prices;
  if (args.input1_is_ema1 || args.input2_is_ema2 || !prices_of(args.input1, tables, n, prices)) return false;
  return in_wide_build([&] {
    Chain<2, 0b010, 0b010> chain;
    if (!plan_stage(chain.stages[1], args.timeperiod, false, 0, n) ||
        !plan_stage(chain.stages[2], args.timeperiod, true, args.n_values, n))
      return false;
    const int32_t k = trailing_start(0, n, args.n_values);
    // dema_of in every lane: 2a is exact in double, the difference rounds once.
    chain.run(prices, out, n, from_position(k, [](const Wide* level) {
                return narrow(2.0 * widen(level[1]) - widen(level[2]));
              }),
              failed);
    return true;
  });
}

template <>
bool columns_in_lanes<Tema>(const Tema::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint32_t& failed) {
  ColumnGroup prices;
  if (args.input1_is_ema1 || args.input2_is_ema2 || args.input3_is_ema3 || !prices_of(args.input1, tables, n, prices))
    return false;
  return in_wide_build([&] {
    Chain<3, 0b0010, 0b0010> chain;
    if (!plan_three_stages(chain, args.timeperiod, args.n_values, n)) return false;
    const int32_t k = trailing_start(0, n, args.n_values);
    // tema_of in every lane.
    chain.run(prices, out, n, from_position(k, [](const Wide* level) {
                return narrow((3.0 * widen(level[1]) - 3.0 * widen(level[2])) + widen(level[3]));
              }),
              failed);
    return true;
  });
}

template <>
bool columns_in_lanes<Trix>(const Trix::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint32_t& failed) {
  ColumnGroup prices;
  if (args.input_is_ema1 || args.input_is_ema2 || args.input_is_ema3 || !prices_of(args.arr, tables, n, prices))
    return false;
  if (args.n_values < 0) return false;
  return in_wide_build([&] {
    Chain<3, 0b0010, 0b0010> chain;
    // One position more than is written: each output reads the previous stage 3 value.
    if (!plan_three_stages(chain, args.timeperiod, add32(args.n_values, 1), n)) return false;
    const int32_t start = trailing_start(1, n, args.n_values);
    Wide previous = unwritten_lanes();
    chain.run(prices, out, n,
              [&](int64_t i, const Wide* level) {
                const Wide current = level[3];
                const Wide before = previous;
                previous = current;
                if (i < start) return unwritten_lanes();
                // trix_ratio in every lane: a zero previous value takes 1e-9 in double.
                const WideDoubles divisor = widen(before);
                const WideDoubles guard = divisor != 0.0 ? WideDoubles{} : WideDoubles{} + 1e-9;
                return narrow(widen(current - before) / (divisor + guard));
              },
              failed);
    return true;
  });
}

template <>
bool columns_in_lanes<Macd>(const Macd::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint32_t& failed) {
  ColumnGroup prices;
  if (args.input1_is_fast_ema || args.input2_is_slow_ema || !prices_of(args.input0, tables, n, prices)) return false;
  const int32_t k = trailing_start(args.long_period, n, args.n_values);
  if (k < 0) return false;
  return in_wide_build([&] {
    Chain<2, 0b110, 0b110> chain;
    if (!plan_stage(chain.stages[1], args.short_period, true, args.n_values, n) ||
        !plan_stage(chain.stages[2], args.long_period, true, args.n_values, n))
      return false;
    chain.run(prices, out, n, from_position(k, [](const Wide* level) { return level[1] - level[2]; }), failed);
    return true;
  });
}

// ---------------------------------------------------------------------------
// RSI and CMO: every series starts at the same row, so the lanes step in lockstep.

namespace {

inline Wide gain_lanes(Wide change) { return choose(change > 0.0f, change, Wide{}); }
inline Wide loss_lanes(Wide change) { return choose(change < 0.0f, -change, Wide{}); }

}  // namespace

template <>
bool columns_in_lanes<Rsi>(const Rsi::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint32_t&) {
  ColumnGroup close;
  if (!prices_of(args.close, tables, n, close)) return false;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(add32(period, 1), n, args.n_values);
  // A zero or negative period, or a start past the end, raises or reads from the end.
  if (period < 1 || start > n) return false;
  return in_wide_build([&] {
    // RsiState in every lane.
    Wide total_gain{}, total_loss{};
    Wide previous = close.load(0);
    out.store(0, unwritten_lanes());
    for (int64_t i = 1; i <= period; ++i) {
      const Wide current = close.load(i);
      const Wide change = current - previous;
      previous = current;
      total_gain += gain_lanes(change);
      total_loss += loss_lanes(change);
      out.store(i, unwritten_lanes());
    }
    const Wide p = wide_splat(static_cast<float>(period));
    for (int64_t i = int64_t{period} + 1; i < n; ++i) {
      close.prefetch(i);
      out.prefetch_for_store(i);
      const Wide current = close.load(i);
      const Wide change = current - previous;
      previous = current;
      total_gain = total_gain + (gain_lanes(change) - total_gain / p);
      total_loss = total_loss + (loss_lanes(change) - total_loss / p);
      if (i < start) {
        out.store(i, unwritten_lanes());
        continue;
      }
      const Wide r = total_gain / total_loss + 1.0f;
      const Wide value = narrow(100.0 - 100.0 / widen(r));
      out.store(i, choose(total_loss == 0.0f, wide_splat(100.0f), value));
    }
    return true;
  });
}

template <>
bool columns_in_lanes<Cmo>(const Cmo::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint32_t&) {
  ColumnGroup close;
  if (!prices_of(args.close_arr, tables, n, close)) return false;
  const int64_t period = args.timeperiod;
  const int32_t start = trailing_start(args.timeperiod, n, args.n_values);
  if (period < 1 || start >= n) return false;
  return in_wide_build([&] {
    // CmoState in every lane; a kept +0 is what `kept` gives where it drops a value.
    Wide gains{}, losses{};
    for (int64_t i = 0; i < start; ++i) out.store(i, unwritten_lanes());
    const auto value = [&] {
      const Wide total = gains + losses;
      return choose(total != 0.0f, (gains - losses) / total, Wide{});
    };
    for (int64_t i = start - period + 1; i <= start; ++i) {
      const Wide change = close.load(i) - close.load(i - 1);
      gains += choose(change >= 0.0f, change, Wide{});
      losses += choose(change < 0.0f, -change, Wide{});
    }
    out.store(start, value());
    for (int64_t i = int64_t{start} + 1; i < n; ++i) {
      close.prefetch(i);
      out.prefetch_for_store(i);
      const Wide entering = close.load(i) - close.load(i - 1);
      const Wide leaving = close.load(i - period) - close.load(i - period - 1);
      gains += choose(entering >= 0.0f, entering, Wide{});
      losses += choose(entering < 0.0f, -entering, Wide{});
      gains += choose(leaving >= 0.0f, -leaving, Wide{});
      losses += choose(leaving < 0.0f, leaving, Wide{});
      out.store(i, value());
    }
    return true;
  });
}

}  // namespace velk::indicators
