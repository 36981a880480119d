// The entries of many/columns.hpp: the columns of a row-major table in lanes, one
// series per lane, each lane doing its series' scalar step (indicators/ema.hpp,
// indicators/momentum.hpp, indicators/directional_steps.hpp, indicators/wilder.hpp,
// indicators/combination_steps.hpp, indicators/oscillator_steps.hpp) in the same order.

#include "many/columns.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/fma.hpp"
#include "frame/numpy_interface.hpp"
#include "indicators/ema.hpp"

namespace velk::indicators {

namespace {

template <class L>
typename L::Floats unwritten_lanes() {
  return splat<L>(kUnwritten);
}

// ---------------------------------------------------------------------------
// The EMA chain. A stage is velk_ema fed one row at a time, as the one-pass form of
// the composites feeds it (`StreamedEma`, smoothing.cpp), each lane seeded at its
// own first present value. Stage 1 reads the prices; a later stage reads the
// elements of the stage below or, for MACD's second average, the prices again.

// What a stage is: its alpha and first written position, from the period and n_values.
struct StagePlan {
  float alpha = 0.0f;
  int32_t first_written = 0;
};

// A stage's period and, when `limited`, n_values (else the whole series). False where
// the one-pass form would leave the work to the calls.
bool plan_stage(StagePlan& stage, int32_t period, bool limited, int32_t n_values, int32_t n) {
  if (!ema_alpha(period, stage.alpha)) return false;
  if (limited && n_values < 0) return false;
  stage.first_written = sub32(n, limited ? n_values : kWholeSeries);
  return true;
}

template <class L>
struct LaneEma {
  using F = typename L::Floats;
  using M = typename L::Mask;

  int32_t first_written = 0;
  F alpha{};
  typename L::Doubles keep{};  // 1 - alpha in double
  F value{};
  M seeded{};

  explicit LaneEma(const StagePlan& plan)
      : first_written(plan.first_written),
        alpha(splat<L>(plan.alpha)),
        keep(splat_double<L>(1.0 - static_cast<double>(plan.alpha))) {}

  // EmaState::step in every lane: the float32 product, one fused step in double.
  F stepped(F x) const { return narrow<L>(fused_lanes<L>(keep, widen<L>(value), widen<L>(alpha * x))); }

  // Until every lane is seeded and written: the element each lane's stage gives at row i.
  template <bool kNormalize>
  F feed(int64_t i, F v, M& failing) {
    const M newly = ~seeded & ~missing<L>(v);
    // A seed is stepped again only when it is written.
    const M stepping = i >= first_written ? (seeded | newly) : seeded;
    value = choose<L>(newly, v, value);
    seeded |= newly;
    value = choose<L>(stepping, stepped(v), value);
    if (i < first_written) return unwritten_lanes<L>();
    F element = value;
    if constexpr (kNormalize) {
      failing |= seeded & equal(v, F{});
      element = (value - v) / v;
    }
    return choose<L>(seeded, element, unwritten_lanes<L>());
  }
  // Every lane seeded and written.
  template <bool kNormalize>
  F feed_written(F v, M& failing) {
    value = stepped(v);
    if constexpr (!kNormalize) {
      return value;
    } else {
      failing |= equal(v, F{});
      return (value - v) / v;
    }
  }
};

// Stage j (1 .. kStages) reads the prices where bit j of kFromPrices is set, else
// stage j - 1; it is normalized where bit j of kNormalized is set.
template <int kStages, unsigned kFromPrices, unsigned kNormalized>
struct ChainShape {
  static constexpr int stages = kStages;
  static constexpr int source(int j) { return (kFromPrices >> j) & 1u ? 0 : j - 1; }
  static constexpr bool normalized(int j) { return (kNormalized >> j) & 1u; }
};

// The stages of `Shape` over one lane group: out row i = combine(i, levels) (levels[0]
// the prices, levels[j] stage j's element).
template <class L, class Shape, class Combine>
class ChainKernel {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  static constexpr int kStages = Shape::stages;

  ChainKernel(const ColumnGroup& prices, const ColumnGroup& out, const StagePlan* plans, Combine combine)
      : prices_(prices), out_(out), stages_{make_stages(plans, std::make_index_sequence<kStages>{})}, combine_(combine) {
    for (const LaneEma<L>& stage : stages_) written_ = std::max<int64_t>(written_, stage.first_written);
  }

  void rows(int64_t r0, int64_t r1) {
    F level[kStages + 1];
    int64_t i = r0;
    // Until every stage of every lane is seeded and written, each row tests which are.
    for (; i < r1 && !steady_; ++i) {
      if (i >= written_ && all_seeded()) {
        steady_ = true;
        break;
      }
      level[0] = prices_.load<L>(i);
      advance<1, false>(i, level);
      out_.store<L>(i, combine_(i, level));
    }
    for (; i < r1; ++i) {
      prices_.prefetch(i);
      out_.prefetch_for_store(i);
      level[0] = prices_.load<L>(i);
      advance<1, true>(i, level);
      out_.store<L>(i, combine_(i, level));
    }
  }
  int64_t rows_per_turn(int columns) const { return turn_for_small_states(columns); }
  // The lanes whose stages would fail or never find a seed.
  uint32_t failed() const {
    M unseeded{};
    for (const LaneEma<L>& stage : stages_) unseeded |= ~stage.seeded;
    return lanes_set<L>(failing_ | unseeded, out_.count);
  }

 private:
  template <size_t... J>
  static std::array<LaneEma<L>, kStages> make_stages(const StagePlan* plans, std::index_sequence<J...>) {
    return {LaneEma<L>(plans[J])...};
  }

  bool all_seeded() const {
    M all = stages_[0].seeded;
    for (const LaneEma<L>& stage : stages_) all &= stage.seeded;
    return lanes_set<L>(~all, L::kWidth) == 0;
  }

  template <int J, bool kWritten>
  void advance(int64_t i, F* level) {
    if constexpr (J <= kStages) {
      constexpr bool kNormalize = Shape::normalized(J);
      LaneEma<L>& stage = stages_[J - 1];
      const F v = level[Shape::source(J)];
      level[J] = kWritten ? stage.template feed_written<kNormalize>(v, failing_)
                          : stage.template feed<kNormalize>(i, v, failing_);
      advance<J + 1, kWritten>(i, level);
    }
  }

  ColumnGroup prices_, out_;
  std::array<LaneEma<L>, kStages> stages_;
  Combine combine_;
  M failing_{};
  int64_t written_ = 0;
  bool steady_ = false;
};

// Runs the chain of `Shape` over every lane group of the call; positions before `k` stay
// unwritten, from there on combine(lanes, i, levels) (lanes: the LaneTypes).
template <class Shape, class Combine>
void run_chain(const ColumnGroup& prices, const ColumnGroup& out, const StagePlan* plans, int32_t n, int32_t k,
               uint8_t* failed, Combine combine) {
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    auto combined = [k, combine](int64_t i, const typename L::Floats* level) {
      return i >= k ? combine(L{}, i, level) : unwritten_lanes<L>();
    };
    return ChainKernel<L, Shape, decltype(combined)>(prices.part(s, L::kWidth), out.part(s, L::kWidth), plans,
                                                     combined);
  });
}

// Stage 3 of the prices, limited to the trailing `n_values`: velk_ema3 and the
// stages of velk_tema and velk_trix.
bool plan_three_stages(StagePlan* plans, int32_t period, int32_t n_values, int32_t n) {
  return plan_stage(plans[0], period, false, 0, n) && plan_stage(plans[1], period, false, 0, n) &&
         plan_stage(plans[2], period, true, n_values, n);
}

using OneStage = ChainShape<1, 0b10, 0b10>;
using OneStageRaw = ChainShape<1, 0b10, 0b00>;
using TwoStages = ChainShape<2, 0b010, 0b010>;
using ThreeStages = ChainShape<3, 0b0010, 0b0010>;
using TwoAverages = ChainShape<2, 0b110, 0b110>;

// trix_ratio in every lane, from stage 3 of each row and of the row before.
template <class L>
struct TrixRatio {
  using F = typename L::Floats;
  int32_t start;
  F previous = unwritten_lanes<L>();

  F operator()(int64_t i, const F* level) {
    const F current = level[3];
    const F before = previous;
    previous = current;
    if (i < start) return unwritten_lanes<L>();
    // A float compares with zero as its double does; 1 x 1e-9 and 0 x 1e-9 are exact.
    const typename L::Doubles guard =
        widen<L>(choose<L>(equal(before, F{}), splat<L>(1.0f), F{})) * splat_double<L>(1e-9);
    return narrow<L>(widen<L>(current - before) / (widen<L>(before) + guard));
  }
};

}  // namespace

template <>
bool columns_in_lanes<Ema>(const Ema::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[1];
  if (!group_of(args.input_array, tables, n, prices) || !plan_stage(plans[0], args.timeperiod, true, args.n_values, n))
    return false;
  const auto value = [](auto, int64_t, const auto* level) { return level[1]; };
  if (args.normalize) {
    run_chain<OneStage>(prices, out, plans, n, 0, failed, value);
  } else {
    run_chain<OneStageRaw>(prices, out, plans, n, 0, failed, value);
  }
  return true;
}

template <>
bool columns_in_lanes<Ema2>(const Ema2::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[2];
  if (args.input_is_ema1 || !group_of(args.input_array, tables, n, prices) ||
      !plan_stage(plans[0], args.timeperiod, false, 0, n) ||
      !plan_stage(plans[1], args.timeperiod, true, args.n_values, n))
    return false;
  const int32_t k = std::max(sub32(n, args.n_values), 0);
  run_chain<TwoStages>(prices, out, plans, n, k, failed, [](auto, int64_t, const auto* level) { return level[2]; });
  return true;
}

template <>
bool columns_in_lanes<Ema3>(const Ema3::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[3];
  if (args.input_is_ema2 || args.input_is_ema1 == Py_True || !group_of(args.input_array, tables, n, prices) ||
      !plan_three_stages(plans, args.timeperiod, args.n_values, n))
    return false;
  const int32_t k = std::max(sub32(n, args.n_values), 0);
  run_chain<ThreeStages>(prices, out, plans, n, k, failed, [](auto, int64_t, const auto* level) { return level[3]; });
  return true;
}

template <>
bool columns_in_lanes<Dema>(const Dema::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[2];
  if (args.input1_is_ema1 || args.input2_is_ema2 || !group_of(args.input1, tables, n, prices) ||
      !plan_stage(plans[0], args.timeperiod, false, 0, n) ||
      !plan_stage(plans[1], args.timeperiod, true, args.n_values, n))
    return false;
  // dema_of in every lane: 2a is exact in double, the difference rounds once.
  run_chain<TwoStages>(prices, out, plans, n, trailing_start(0, n, args.n_values), failed,
                       [](auto lanes, int64_t, const auto* level) {
                         using L = decltype(lanes);
                         return narrow<L>(2.0 * widen<L>(level[1]) - widen<L>(level[2]));
                       });
  return true;
}

template <>
bool columns_in_lanes<Tema>(const Tema::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[3];
  if (args.input1_is_ema1 || args.input2_is_ema2 || args.input3_is_ema3 || !group_of(args.input1, tables, n, prices) ||
      !plan_three_stages(plans, args.timeperiod, args.n_values, n))
    return false;
  // tema_of in every lane.
  run_chain<ThreeStages>(prices, out, plans, n, trailing_start(0, n, args.n_values), failed,
                         [](auto lanes, int64_t, const auto* level) {
                           using L = decltype(lanes);
                           return narrow<L>((3.0 * widen<L>(level[1]) - 3.0 * widen<L>(level[2])) + widen<L>(level[3]));
                         });
  return true;
}

template <>
bool columns_in_lanes<Trix>(const Trix::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[3];
  // One position more than is written: each output reads the previous stage 3 value.
  if (args.input_is_ema1 || args.input_is_ema2 || args.input_is_ema3 || args.n_values < 0 ||
      !group_of(args.arr, tables, n, prices) || !plan_three_stages(plans, args.timeperiod, add32(args.n_values, 1), n))
    return false;
  const int32_t start = trailing_start(1, n, args.n_values);
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return ChainKernel<L, ThreeStages, TrixRatio<L>>(prices.part(s, L::kWidth), out.part(s, L::kWidth), plans,
                                                     TrixRatio<L>{start});
  });
  return true;
}

template <>
bool columns_in_lanes<Macd>(const Macd::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  ColumnGroup prices;
  StagePlan plans[2];
  const int32_t k = trailing_start(args.long_period, n, args.n_values);
  if (args.input1_is_fast_ema || args.input2_is_slow_ema || k < 0 || !group_of(args.input0, tables, n, prices) ||
      !plan_stage(plans[0], args.short_period, true, args.n_values, n) ||
      !plan_stage(plans[1], args.long_period, true, args.n_values, n))
    return false;
  run_chain<TwoAverages>(prices, out, plans, n, k, failed,
                         [](auto, int64_t, const auto* level) { return level[1] - level[2]; });
  return true;
}

// ---------------------------------------------------------------------------
// RSI and CMO: every series starts at the same row, so the lanes step in lockstep.

namespace {

// RsiState in every lane; gain_of and loss_of leave NaN and zero changes out.
template <class L>
class RsiKernel {
 public:
  using F = typename L::Floats;
  RsiKernel(const ColumnGroup& close, const ColumnGroup& out, int32_t period, int32_t start)
      : close_(close), out_(out), period_(period), start_(start), p_(splat<L>(static_cast<float>(period))) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      close_.prefetch(i);
      out_.prefetch_for_store(i);
      const F current = close_.load<L>(i);
      const F change = current - previous_;
      previous_ = current;
      if (i == 0) {
      } else if (i <= period_) {
        total_gain_ += gain(change);
        total_loss_ += loss(change);
      } else {
        total_gain_ = total_gain_ + (gain(change) - total_gain_ / p_);
        total_loss_ = total_loss_ + (loss(change) - total_loss_ / p_);
      }
      if (i < start_) {
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      const F r = total_gain_ / total_loss_ + 1.0f;
      const F value = narrow<L>(100.0 - 100.0 / widen<L>(r));
      out_.store<L>(i, choose<L>(equal(total_loss_, F{}), splat<L>(100.0f), value));
    }
  }
  uint32_t failed() const { return 0; }

 private:
  static F gain(F change) { return choose<L>(greater(change, F{}), change, F{}); }
  static F loss(F change) { return choose<L>(less(change, F{}), -change, F{}); }

  ColumnGroup close_, out_;
  int64_t period_, start_;
  F p_;
  F total_gain_{}, total_loss_{}, previous_{};
};

// CmoState in every lane; a dropped value is the +0 `kept` gives.
template <class L>
class CmoKernel {
 public:
  using F = typename L::Floats;
  CmoKernel(const ColumnGroup& close, const ColumnGroup& out, int32_t period, int32_t start)
      : close_(close), out_(out), period_(period), start_(start) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      close_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i < start_ - period_ + 1) {
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      const F entering = close_.load<L>(i) - close_.load<L>(i - 1);
      gains_ += at_least_zero(entering, entering);
      losses_ += below_zero(entering, -entering);
      if (i > start_) {
        const F leaving = close_.load<L>(i - period_) - close_.load<L>(i - period_ - 1);
        gains_ += at_least_zero(leaving, -leaving);
        losses_ += below_zero(leaving, leaving);
      }
      if (i < start_) {
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      const F total = gains_ + losses_;
      out_.store<L>(i, choose<L>(not_equal(total, F{}), (gains_ - losses_) / total, F{}));
    }
  }
  int64_t rows_per_turn(int columns) const { return turn_for_small_states(columns); }
  uint32_t failed() const { return 0; }

 private:
  static F at_least_zero(F v, F taken) { return choose<L>(greater_equal(v, F{}), taken, F{}); }
  static F below_zero(F v, F taken) { return choose<L>(less(v, F{}), taken, F{}); }

  ColumnGroup close_, out_;
  int64_t period_, start_;
  F gains_{}, losses_{};
};

}  // namespace

template <>
bool columns_in_lanes<Rsi>(const Rsi::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  ColumnGroup close;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(add32(period, 1), n, args.n_values);
  // A zero or negative period, or a start past the end, raises or reads from the end.
  if (!group_of(args.close, tables, n, close) || period < 1 || start > n) return false;
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return RsiKernel<L>(close.part(s, L::kWidth), out.part(s, L::kWidth), period, start);
  });
  return true;
}

template <>
bool columns_in_lanes<Cmo>(const Cmo::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  ColumnGroup close;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(args.timeperiod, n, args.n_values);
  if (!group_of(args.close_arr, tables, n, close) || period < 1 || start >= n) return false;
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return CmoKernel<L>(close.part(s, L::kWidth), out.part(s, L::kWidth), period, start);
  });
  return true;
}

// ---------------------------------------------------------------------------
// The directional movement and true range family: Wilder's averages of each series
// in its lane.

namespace {

// true_range in every lane: strict comparisons, so a NaN candidate never wins.
template <class L>
typename L::Floats true_range_lanes(typename L::Floats high, typename L::Floats low, typename L::Floats previous_close) {
  using F = typename L::Floats;
  F range = high - low;
  const F from_high = magnitude<L>(high - previous_close);
  range = choose<L>(greater(from_high, range), from_high, range);
  const F from_low = magnitude<L>(low - previous_close);
  return choose<L>(greater(from_low, range), from_low, range);
}

// WilderSmoothing::step in every lane.
template <class L>
struct LaneWilder {
  typename L::Floats weight;
  typename L::Floats period;
  explicit LaneWilder(int32_t timeperiod)
      : weight(splat<L>(static_cast<float>(sub32(timeperiod, 1)))), period(splat<L>(static_cast<float>(timeperiod))) {}
  typename L::Floats step(typename L::Floats average, typename L::Floats value) const {
    return fused_lanes<L>(average, weight, value) / period;
  }
};

// The prices of one lane group, read row by row; each row's prices are kept for the
// next bar, which reads them as the previous ones.
template <class L>
struct LanePrices {
  using F = typename L::Floats;
  ColumnGroup high, low, close;
  F previous_high{}, previous_low{}, previous_close{};

  LanePrices(const PriceGroups& groups, int s)
      : high(groups.high.part(s, L::kWidth)), low(groups.low.part(s, L::kWidth)), close(groups.close.part(s, L::kWidth)) {}

  void start_at(int64_t i) {
    previous_high = high.load<L>(i);
    previous_low = low.load<L>(i);
    previous_close = close.load<L>(i);
  }
  void prefetch(int64_t i) const {
    high.prefetch(i);
    low.prefetch(i);
    close.prefetch(i);
  }
};

template <class L>
struct LaneBar {
  typename L::Floats plus, minus, range;
};

// velk_dx's bars and averages of each lane: the sums of bars 1 .. timeperiod, then
// Wilder's averages of every later bar.
template <class L>
struct LaneDirectional {
  using F = typename L::Floats;
  using M = typename L::Mask;
  LanePrices<L> prices;
  LaneWilder<L> wilder;
  int64_t period;
  LaneBar<L> averages{};

  LaneDirectional(const LanePrices<L>& p, int32_t timeperiod) : prices(p), wilder(timeperiod), period(timeperiod) {}

  // Row i of the prices; false until the averages exist (i > timeperiod).
  bool advance(int64_t i) {
    prices.prefetch(i);
    if (i == 0) {
      prices.start_at(0);
      return false;
    }
    const LaneBar<L> b = bar(i);
    if (i < period) {
      averages = {averages.plus + b.plus, averages.minus + b.minus, averages.range + b.range};
      return false;
    }
    if (i == period) {
      averages = {(averages.plus + b.plus) / wilder.period, (averages.minus + b.minus) / wilder.period,
                  (averages.range + b.range) / wilder.period};
      return false;
    }
    averages = {wilder.step(averages.plus, b.plus), wilder.step(averages.minus, b.minus),
                wilder.step(averages.range, b.range)};
    return true;
  }
  // directional_index in every lane; lanes that divide by zero are added to `failing`.
  F index(M& failing) const {
    const F plus_di = averages.plus / averages.range;
    const F minus_di = averages.minus / averages.range;
    const F sum = plus_di + minus_di;
    failing |= equal(averages.range, F{}) | equal(sum, F{});
    return magnitude<L>(plus_di - minus_di) / sum;
  }

 private:
  // directional_move and true_range of bar i (the previous row having been read).
  LaneBar<L> bar(int64_t i) {
    const F h = prices.high.template load<L>(i);
    const F l = prices.low.template load<L>(i);
    const F up = h - prices.previous_high;
    const F down = prices.previous_low - l;
    const LaneBar<L> b{choose<L>(greater(up, down) & greater(up, F{}), up, F{}),
                       choose<L>(greater(down, up) & greater(down, F{}), down, F{}),
                       true_range_lanes<L>(h, l, prices.previous_close)};
    prices.previous_high = h;
    prices.previous_low = l;
    prices.previous_close = prices.close.template load<L>(i);
    return b;
  }
};

// float(np.nanmean) of each lane over the rows of `window` (row after row, W floats
// each); lanes without a value (numpy would warn) are added to `failing`.
template <class L>
typename L::Floats lane_nanmeans(const std::vector<float>& window, typename L::Mask& failing) {
  typename L::Floats means{};
  const int64_t rows = static_cast<int64_t>(window.size()) / L::kWidth;
  for (int k = 0; k < L::kWidth; ++k) {
    double mean = 0.0;
    if (!nanmean_of_elements(reinterpret_cast<const char*>(window.data() + k), rows, L::kWidth * sizeof(float), &mean)) {
      failing[k] = -1;
      mean = 0.0;
    }
    means[k] = static_cast<float>(mean);
  }
  return means;
}

template <class L>
class DxKernel {
 public:
  using F = typename L::Floats;
  DxKernel(const LanePrices<L>& prices, const ColumnGroup& out, int32_t period, int32_t start)
      : directional_(prices, period), out_(out), start_(start) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      out_.prefetch_for_store(i);
      directional_.advance(i);
      out_.store<L>(i, i < start_ ? unwritten_lanes<L>() : directional_.index(failing_));
    }
  }
  uint32_t failed() const { return lanes_set<L>(failing_, out_.count); }

 private:
  LaneDirectional<L> directional_;
  ColumnGroup out_;
  int64_t start_;
  typename L::Mask failing_{};
};

// velk_adx as its one-pass form computes it (directional.cpp, adx_in_one_pass): DX from
// timeperiod + 1 on, the mean of DX over timeperiod .. seed_end - 1 as the seed. With
// kRated, velk_adxr's one-pass form: each ADX rated with the one `timeperiod` rows
// earlier (adxr_mean), from a ring of the last `timeperiod` values, unwritten at first.
template <class L, bool kRated = false>
class AdxKernel {
 public:
  using F = typename L::Floats;
  AdxKernel(const LanePrices<L>& prices, const ColumnGroup& out, int32_t period, int64_t seed_end, int64_t k)
      : directional_(prices, period), out_(out), period_(period), seed_end_(seed_end), k_(k),
        window_(static_cast<size_t>((seed_end - period) * L::kWidth), kUnwritten),
        ring_(kRated ? static_cast<size_t>(period) * L::kWidth : 0, kUnwritten) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      out_.prefetch_for_store(i);
      if (directional_.advance(i)) {
        const F dx = directional_.index(failing_);
        if (i < seed_end_) {
          std::memcpy(window_.data() + (i - period_) * L::kWidth, &dx, sizeof dx);
        } else {
          if (i == seed_end_) seed();
          average_ = directional_.wilder.step(average_, dx);
          if constexpr (kRated) rate();
        }
      }
      out_.store<L>(i, i < k_ ? unwritten_lanes<L>() : kRated ? rated_ : average_);
    }
  }
  uint32_t failed() {
    if (!seeded_) seed();  // the mean is taken even when no row follows it
    return lanes_set<L>(failing_, out_.count);
  }

 private:
  void seed() {
    average_ = lane_nanmeans<L>(window_, failing_);
    seeded_ = true;
  }
  // adxr_mean in every lane: two NaNs give the earlier one.
  void rate() {
    F earlier;
    std::memcpy(&earlier, ring_.data() + slot_ * L::kWidth, sizeof earlier);
    const F addend = choose<L>(missing<L>(earlier), earlier, average_);
    rated_ = (earlier + addend) * 0.5f;
    std::memcpy(ring_.data() + slot_ * L::kWidth, &average_, sizeof average_);
    slot_ = slot_ + 1 == period_ ? 0 : slot_ + 1;
  }

  LaneDirectional<L> directional_;
  ColumnGroup out_;
  int64_t period_, seed_end_, k_;
  std::vector<float> window_;
  std::vector<float> ring_;
  int64_t slot_ = 0;
  F rated_{};
  F average_{};
  bool seeded_ = false;
  typename L::Mask failing_{};
};

// velk_natr as its body computes it: the seed is the mean of the first timeperiod true
// ranges, the first of which counts as 0.
template <class L>
class NatrKernel {
 public:
  using F = typename L::Floats;
  NatrKernel(const LanePrices<L>& prices, const ColumnGroup& out, int32_t period, int32_t k)
      : prices_(prices), wilder_(period), out_(out), period_(period), k_(k),
        window_(static_cast<size_t>(period) * L::kWidth, 0.0f) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      prices_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i == 0) {
        prices_.start_at(0);
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      const F close = prices_.close.template load<L>(i);
      const F range = true_range_lanes<L>(prices_.high.template load<L>(i), prices_.low.template load<L>(i),
                                          prices_.previous_close);
      prices_.previous_close = close;
      if (i < period_) {
        std::memcpy(window_.data() + i * L::kWidth, &range, sizeof range);
      } else {
        if (i == period_) average_ = lane_nanmeans<L>(window_, failing_);
        average_ = wilder_.step(average_, range);
      }
      if (i < k_) {
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      failing_ |= equal(close, F{});
      out_.store<L>(i, average_ / close);
    }
  }
  uint32_t failed() const { return lanes_set<L>(failing_, out_.count); }

 private:
  LanePrices<L> prices_;
  LaneWilder<L> wilder_;
  ColumnGroup out_;
  int64_t period_, k_;
  std::vector<float> window_;
  F average_{};
  typename L::Mask failing_{};
};

}  // namespace

template <>
bool columns_in_lanes<Dx>(const Dx::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                          uint8_t* failed) {
  PriceGroups groups;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(add32(period, 1), n, args.n_values);
  if (!groups_of(args.high, args.low, args.close, tables, n, groups) || period < 1 || start > n) return false;
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return DxKernel<L>(LanePrices<L>(groups, s), out.part(s, L::kWidth), period, start);
  });
  return true;
}

template <>
bool columns_in_lanes<Adx>(const Adx::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  PriceGroups groups;
  const int32_t period = args.timeperiod;
  const int32_t k = trailing_start(mul32(2, period), n, args.n_values);
  // Period 1 seeds from one NaN, which numpy warns about.
  if (args.close_arr_is_dx || !groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) ||
      period < 2 || period >= n || period >= (1 << 29) || k > n)
    return false;
  const int64_t seed_end = std::min<int64_t>(2 * int64_t{period}, n);
  return declining_on_memory([&] {
    for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      return AdxKernel<L>(LanePrices<L>(groups, s), out.part(s, L::kWidth), period, seed_end, k);
    });
  });
}

template <>
bool columns_in_lanes<Adxr>(const Adxr::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  PriceGroups groups;
  const int32_t period = args.timeperiod;
  if (args.close_arr_is_adx || !groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) ||
      period < 2 || period >= n || period >= (1 << 29))
    return false;
  const int64_t seed_end = std::min<int64_t>(2 * int64_t{period}, n);
  // Rated from two NaNs before 2 timeperiod, which gives the NaN np.full leaves.
  const int64_t k = std::max<int64_t>(trailing_start(period, n, args.n_values), 2 * int64_t{period});
  return declining_on_memory([&] {
    for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      return AdxKernel<L, true>(LanePrices<L>(groups, s), out.part(s, L::kWidth), period, seed_end, k);
    });
  });
}

template <>
bool columns_in_lanes<Natr>(const Natr::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  PriceGroups groups;
  const int32_t period = args.timeperiod;
  const int32_t k = trailing_start(period, n, args.n_values);
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) || period < 1 || period > n || k > n)
    return false;
  return declining_on_memory([&] {
    for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      return NatrKernel<L>(LanePrices<L>(groups, s), out.part(s, L::kWidth), period, k);
    });
  });
}

// ---------------------------------------------------------------------------
// Williams %R and the fast stochastic: the window extremes as scan_extremes folds them
// (indicators/position_queue.hpp), in blocks of `period` rows from the first pushed one,
// each window the suffix of one block and the prefix of the next, combined with
// later_high and later_low. Without NaN this is what the queues give, the newest of
// equal extremes included; a lane whose rows hold a NaN takes the per-series path.

namespace {

// Longer windows take the per-series path: the kernels' rows grow with the period.
constexpr int32_t kLongestFoldedWindow = 4096;

// Row i from `start` on is finish(prices, i, highest high, lowest low, failing).
template <class L, class Finish>
class WindowExtremesKernel {
 public:
  using F = typename L::Floats;
  WindowExtremesKernel(const LanePrices<L>& prices, const ColumnGroup& out, int32_t period, int32_t start,
                       Finish finish)
      : prices_(prices), out_(out), finish_(finish), period_(period), start_(start), first_(int64_t{start} - period + 1),
        block_(static_cast<size_t>(2 * period) * L::kWidth),
        suffix_(static_cast<size_t>(2 * (period + 1)) * L::kWidth) {
    // Before the first block ends, the suffixes of the block before it are empty.
    for (int64_t t = 0; t <= period_; ++t) put(suffix_, t, splat<L>(-kInfinity), splat<L>(kInfinity));
  }

  void rows(int64_t r0, int64_t r1) {
    const F unwritten = unwritten_lanes<L>();
    // Locals, so the state stays in registers across the stores to the table.
    F prefix_high = prefix_high_, prefix_low = prefix_low_;
    typename L::Mask failing = failing_;
    int64_t position = position_;
    for (int64_t i = r0; i < r1; ++i) {
      prices_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i < first_) {
        out_.store<L>(i, unwritten);
        continue;
      }
      const F h = prices_.high.template load<L>(i);
      const F l = prices_.low.template load<L>(i);
      failing |= missing<L>(h) | missing<L>(l);
      const int64_t t = position;
      position = position + 1 == period_ ? 0 : position + 1;
      if (t == 0) {
        if (i > first_) fold_suffixes();
        prefix_high = h;
        prefix_low = l;
      } else {
        prefix_high = later(prefix_high, h);
        prefix_low = earlier_low(prefix_low, l);
      }
      put(block_, t, h, l);
      if (i < start_) {
        out_.store<L>(i, unwritten);
        continue;
      }
      F suffix_high, suffix_low;
      get(suffix_, t + 1, suffix_high, suffix_low);
      out_.store<L>(i, finish_(prices_, i, later(suffix_high, prefix_high), earlier_low(suffix_low, prefix_low),
                               failing));
    }
    prefix_high_ = prefix_high;
    prefix_low_ = prefix_low;
    failing_ = failing;
    position_ = position;
  }
  uint32_t failed() const { return lanes_set<L>(failing_, out_.count); }
  // Two rows a turn on blocks of kWideBlockColumns or more (8-20 % faster on 1,000-4,000
  // columns), one on narrower blocks (two measured 40 % slower on 200); four rows a turn, three
  // tables' rows and the output's side by side, measured slower on every width.
  int64_t rows_per_turn(int columns) const { return columns >= kWideBlockColumns ? 2 : 1; }

 private:
  static constexpr float kInfinity = __builtin_inff();
  // later_high and later_low in every lane: the older value only where it is strictly beyond.
  static F later(F older, F newer) { return greater_of(older, newer); }
  static F earlier_low(F older, F newer) { return less_of(older, newer); }

  // The suffixes of the block just completed, folded backwards from its last row.
  void fold_suffixes() {
    F high = splat<L>(-kInfinity), low = splat<L>(kInfinity);
    put(suffix_, period_, high, low);
    for (int64_t t = period_ - 1; t >= 0; --t) {
      F h, l;
      get(block_, t, h, l);
      high = later(h, high);
      low = earlier_low(l, low);
      put(suffix_, t, high, low);
    }
  }
  static void put(std::vector<float>& rows, int64_t t, F high, F low) {
    std::memcpy(rows.data() + 2 * t * L::kWidth, &high, sizeof high);
    std::memcpy(rows.data() + (2 * t + 1) * L::kWidth, &low, sizeof low);
  }
  static void get(const std::vector<float>& rows, int64_t t, F& high, F& low) {
    std::memcpy(&high, rows.data() + 2 * t * L::kWidth, sizeof high);
    std::memcpy(&low, rows.data() + (2 * t + 1) * L::kWidth, sizeof low);
  }

  LanePrices<L> prices_;
  ColumnGroup out_;
  Finish finish_;
  int64_t period_, start_, first_;
  std::vector<float> block_;   // the current block's rows, high and low
  std::vector<float> suffix_;  // the previous block's suffix extremes, period + 1 of them
  int64_t position_ = 0;  // of row i in its block
  F prefix_high_{}, prefix_low_{};
  typename L::Mask failing_{};
};

// The window extremes of every row from `start` on, written by finish(lanes, prices, i,
// highest, lowest, failing).
template <class Finish>
bool window_extremes_in_lanes(const PriceGroups& groups, const ColumnGroup& out, int32_t period, int32_t start,
                              int32_t n, uint8_t* failed, Finish finish) {
  const int64_t first = int64_t{start} - period + 1;
  if (period < 1 || period > kLongestFoldedWindow || first < 0 || start > n) return false;
  return declining_on_memory([&] {
    for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      auto finish_lanes = [finish](const LanePrices<L>& prices, int64_t i, typename L::Floats highest,
                                   typename L::Floats lowest, typename L::Mask& failing) {
        return finish(L{}, prices, i, highest, lowest, failing);
      };
      return WindowExtremesKernel<L, decltype(finish_lanes)>(LanePrices<L>(groups, s), out.part(s, L::kWidth), period,
                                                            start, finish_lanes);
    });
  });
}

// The close's place in the window's range (range_fraction); a range of width 0 leaves NaN.
template <bool kFromHigh>
bool range_fractions_in_lanes(const PriceGroups& groups, const ColumnGroup& out, int32_t period, int32_t start,
                              int32_t n, uint8_t* failed) {
  return window_extremes_in_lanes(groups, out, period, start, n, failed,
                                  [](auto lanes, const auto& prices, int64_t i, auto highest, auto lowest, auto&) {
                                    using L = decltype(lanes);
                                    const auto close = prices.close.template load<L>(i);
                                    const auto fraction = kFromHigh ? (highest - close) / (highest - lowest)
                                                                    : (close - lowest) / (highest - lowest);
                                    return choose<L>(equal(highest, lowest), unwritten_lanes<L>(), fraction);
                                  });
}

}  // namespace

template <>
bool columns_in_lanes<Willr>(const Willr::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                             uint8_t* failed) {
  PriceGroups groups;
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups)) return false;
  const int32_t start = trailing_start(sub32(args.timeperiod, 1), n, args.n_values);
  return range_fractions_in_lanes<true>(groups, out, args.timeperiod, start, n, failed);
}

template <>
bool columns_in_lanes<Stochf>(const Stochf::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                              uint8_t* failed) {
  PriceGroups groups;
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups)) return false;
  return range_fractions_in_lanes<false>(groups, out, args.timeperiod, sub32(args.timeperiod, 1), n, failed);
}

// The window's midpoint, or its relative deviation from the close (write_mid, averages.cpp).
template <>
bool columns_in_lanes<Mid>(const Mid::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  PriceGroups groups;
  if (!groups_of(args.high, args.low, args.close, tables, n, groups)) return false;
  const bool normalize = args.normalize;
  return window_extremes_in_lanes(
      groups, out, args.timeperiod, trailing_start(sub32(args.timeperiod, 1), n, args.n_values), n, failed,
      [normalize](auto lanes, const auto& prices, int64_t i, auto highest, auto lowest, auto& failing) {
        using L = decltype(lanes);
        using F = typename L::Floats;
        // window_midpoint in every lane: half the float range in double, plus the low.
        const typename L::Doubles midpoint = widen<L>(highest - lowest) * 0.5 + widen<L>(lowest);
        if (!normalize) return narrow<L>(midpoint);
        const F close = prices.close.template load<L>(i);
        failing |= equal(close, F{});
        return narrow<L>(midpoint - widen<L>(close)) / close;
      });
}

// The wick balance of a candle from the close `period` rows back to this one (write_wick, candles.cpp).
template <>
bool columns_in_lanes<Wick>(const Wick::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t* failed) {
  PriceGroups groups;
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups)) return false;
  const int64_t period = args.timeperiod;
  return window_extremes_in_lanes(
      groups, out, args.timeperiod, trailing_start(sub32(args.timeperiod, 1), n, args.n_values), n, failed,
      [period](auto lanes, const auto& prices, int64_t i, auto highest, auto lowest, auto& failing) {
        using L = decltype(lanes);
        using F = typename L::Floats;
        if (i < period) return splat<L>(__builtin_nanf(""));
        const F open = prices.close.template load<L>(i - period);
        const F close = prices.close.template load<L>(i);
        // wick_balance in every lane: a NaN on either side takes the open as the upper side.
        const typename L::Mask rising = greater(close, open);
        const F upper = choose<L>(rising, close, open);
        const F lower = choose<L>(rising, open, close);
        failing |= equal(close, F{});
        return ((highest - upper) - (lower - lowest)) / close;
      });
}

// ---------------------------------------------------------------------------
// CCI as cci_body computes it natively (oscillators.cpp): the typical price of every row in
// float32, then the window's running sums, each lane its series. A lane whose typical price
// the native route would hand to numpy (two NaNs meeting, or a step that may raise a
// floating-point exception) or whose variance is negative (numpy's root) takes the
// per-series path.

namespace {

template <class L>
class CciKernel {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  CciKernel(const LanePrices<L>& prices, const ColumnGroup& out, int32_t period, int32_t start, int32_t scored)
      : prices_(prices), out_(out), period_(period), start_(start), scored_(scored),
        p_(splat<L>(static_cast<float>(period))), ring_(static_cast<size_t>(period) * L::kWidth) {}

  void rows(int64_t r0, int64_t r1) {
    const F unwritten = unwritten_lanes<L>();
    for (int64_t i = r0; i < r1; ++i) {
      prices_.prefetch(i);
      out_.prefetch_for_store(i);
      const F tp = typical_price(i);
      if (i < start_ - period_) {
        out_.store<L>(i, unwritten);
        continue;
      }
      float* slot = ring_.data() + slot_ * L::kWidth;
      slot_ = slot_ + 1 == period_ ? 0 : slot_ + 1;
      if (i < start_) {
        sum_ += tp;
        sum_squared_ += tp * tp;
        std::memcpy(slot, &tp, sizeof tp);
        // The window ending just before start, scored only when start is the warm-up end.
        out_.store<L>(i, i == start_ - 1 && i >= scored_ ? score(tp) : unwritten);
        continue;
      }
      F old_tp;
      std::memcpy(&old_tp, slot, sizeof old_tp);
      std::memcpy(slot, &tp, sizeof tp);
      sum_ = sum_ + (tp - old_tp);
      sum_squared_ = sum_squared_ + (tp * tp - old_tp * old_tp);
      out_.store<L>(i, score(tp));
    }
  }
  uint32_t failed() const { return lanes_set<L>(failing_ | negative_, out_.count); }
  // A negative variance takes numpy's root on the per-series path too: straight to the exported function.
  uint32_t left_to_python() const { return lanes_set<L>(negative_, out_.count); }

 private:
  // ((high + low) + close) / 3 in every lane, marking the lanes numpy may see otherwise: a NaN
  // meeting a NaN (either one's bits may come out), a signaling NaN, an infinity made of finite
  // values (overflow), a NaN made of other values (invalid) and any result near the subnormal
  // range (underflow).
  F typical_price(int64_t i) {
    const F h = prices_.high.template load<L>(i);
    const F l = prices_.low.template load<L>(i);
    const F c = prices_.close.template load<L>(i);
    const F pair = h + l;
    const F total = pair + c;
    const F tp = total / 3.0f;
    failing_ |= (missing<L>(h) & missing<L>(l)) | (missing<L>(pair) & missing<L>(c));
    failing_ |= signaling(h) | signaling(l) | signaling(c);
    failing_ |= raised(pair, h, l) | raised(total, pair, c);
    failing_ |= tiny(pair) | tiny(total) | tiny(tp);
    return tp;
  }
  static M finite(F v) { return less(magnitude<L>(v), splat<L>(__builtin_inff())); }
  // Whether a + b may have raised overflow or invalid.
  static M raised(F result, F a, F b) {
    return (~finite(result) & finite(a) & finite(b)) | (missing<L>(result) & ~missing<L>(a) & ~missing<L>(b));
  }
  static M signaling(F v) {
    M bits;
    std::memcpy(&bits, &v, sizeof bits);
    const M quiet = (bits << 9) >> 31;  // the quiet bit spread over the lane, without a comparison
    return missing<L>(v) & ~quiet;
  }
  static M tiny(F v) {
    const F size = magnitude<L>(v);
    return less(size, splat<L>(2.0f * __FLT_MIN__)) & not_equal(size, F{});
  }
  // cci_score in every lane: a zero variance scores 0, a negative one goes to numpy.
  F score(F tp) {
    const F mean = sum_ / p_;
    const F variance = sum_squared_ / p_ - mean * mean;
    negative_ |= less(variance, F{});
    const typename L::Doubles root = square_root(widen<L>(variance));
    const F scaled = narrow<L>(widen<L>(tp - mean) / (root * 0.015));
    return choose<L>(equal(variance, F{}), F{}, scaled);
  }

  LanePrices<L> prices_;
  ColumnGroup out_;
  int64_t period_, start_, scored_;
  F p_;
  std::vector<float> ring_;  // the last `period` typical prices
  int64_t slot_ = 0;         // of the oldest, which the row replaces
  F sum_{}, sum_squared_{};
  M failing_{}, negative_{};
};

}  // namespace

template <>
bool columns_in_lanes<Cci>(const Cci::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  PriceGroups groups;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(period, n, args.n_values);
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) || period < 1 ||
      int64_t{start} - period < 0 || start > n)
    return false;
  const int32_t scored = sub32(n, args.n_values);
  return declining_on_memory([&] {
    for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      return CciKernel<L>(LanePrices<L>(groups, s), out.part(s, L::kWidth), period, start, scored);
    });
  });
}

// ---------------------------------------------------------------------------
// The least-squares slope as lin_kernel steps it (averages.cpp, indicators/regression_steps.hpp):
// the window starts at a series' first present value, so a lane group runs from its first
// lane's; a lane whose series starts elsewhere (or nowhere) takes the per-series path.

namespace {

template <class L>
class LinKernel {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  LinKernel(const ColumnGroup& x, const ColumnGroup& out, int32_t period, int32_t lo, int32_t hi, int32_t n,
            int32_t n_values)
      : x_(x), out_(out), period_(period), tail_(sub32(n, n_values)), p_(static_cast<float>(period)),
        p_lanes_(splat<L>(p_)) {
    // Each lane's first present value within lo .. hi - 1.
    M found{}, same{};
    int64_t first = -1;
    for (int64_t k = lo; k < hi && lanes_set<L>(~found, L::kWidth) != 0; ++k) {
      const M present = ~missing<L>(x_.load<L>(k)) & ~found;
      if (first < 0 && present[0]) first = k;
      if (first >= 0) same |= present & (k == first ? M{} - 1 : M{});
      found |= present;
    }
    failing_ = ~same;
    if (first < 0) return;  // nothing is written; every lane goes to the per-series path
    start_index_ = std::max<int64_t>(first, sub32(tail_, period));
    // The coordinates' sums and the denominator are the same in every lane.
    float sum_x = 0.0f, sum_x2 = 0.0f;
    for (int32_t y = 1; y <= period; ++y) {
      sum_x += static_cast<float>(y);
      sum_x2 += static_cast<float>(mul32(y, y));
    }
    sum_x_lanes_ = splat<L>(sum_x);
    denominator_ = fused_minus(p_, sum_x2, sum_x * sum_x);
  }

  void rows(int64_t r0, int64_t r1) {
    for (int64_t r = r0; r < r1; ++r) {
      x_.prefetch(r);
      out_.prefetch_for_store(r);
      const int64_t first_end = start_index_ + period_ - 1;
      if (start_index_ < 0 || r < start_index_) {
        out_.store<L>(r, unwritten_lanes<L>());
        continue;
      }
      const F v = x_.load<L>(r);
      if (r <= first_end) {
        // RegressionSums::enter at coordinate y.
        const int32_t y = static_cast<int32_t>(r - start_index_ + 1);
        if (y >= 2) deduction_ += v;
        const float fy = static_cast<float>(y);
        sum_y_ += v;
        sum_xy_ = fused_lanes<L>(v, splat<L>(fy), sum_xy_);
        const bool written = r == first_end && denominator_ != 0.0f && first_end >= tail_;
        out_.store<L>(r, written ? slope() : unwritten_lanes<L>());
        continue;
      }
      // RegressionSums::slide and shift_deduction, the window one row on.
      const F leaving = x_.load<L>(r - period_);
      const F second = x_.load<L>(r - period_ + 1);
      sum_y_ += v - leaving;
      sum_xy_ += fused_minus_lanes<L>(v, p_lanes_, leaving) - deduction_;
      out_.store<L>(r, denominator_ != 0.0f ? slope() : unwritten_lanes<L>());
      deduction_ += v - second;
    }
  }
  int64_t rows_per_turn(int columns) const { return turn_for_small_states(columns); }
  uint32_t failed() const { return lanes_set<L>(failing_, out_.count); }

 private:
  F slope() const {
    return fused_minus_lanes<L>(p_lanes_, sum_xy_, sum_x_lanes_ * sum_y_) / splat<L>(denominator_);
  }

  ColumnGroup x_, out_;
  int64_t period_, tail_;
  float p_;
  F p_lanes_;
  int64_t start_index_ = -1;
  F sum_x_lanes_{};
  float denominator_ = 0.0f;
  F sum_y_{}, sum_xy_{}, deduction_{};
  M failing_{};
};

}  // namespace

template <>
bool columns_in_lanes<Lin>(const Lin::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  ColumnGroup x;
  const int32_t period = args.timeperiod;
  const int32_t a = sub32(n, mul32(2, period));
  const int32_t lo = sub32(a, std::min(a, args.n_values));
  const int32_t hi = sub32(n, period);
  // Every read within the series: the window from lo on holds `period` rows.
  if (!group_of(args.input_array, tables, n, x) || period < 2 || period >= (1 << 24) || args.n_values < 0 ||
      lo < 0 || hi > n || lo >= hi)
    return false;
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
    using L = decltype(lanes);
    return LinKernel<L>(x.part(s, L::kWidth), out.part(s, L::kWidth), period, lo, hi, n, args.n_values);
  });
  return true;
}

// ---------------------------------------------------------------------------
// The ultimate oscillator as ult_kernel steps it (oscillators.cpp): window sums of the
// buying pressure and true range over three periods, every lane in lockstep.

namespace {

template <class L>
class UltKernel {
 public:
  using F = typename L::Floats;
  UltKernel(const LanePrices<L>& prices, const ColumnGroup& out, int32_t s, int32_t m, int32_t l, int32_t weights,
            int32_t start, int32_t n)
      : prices_(prices), out_(out), s_(s), m_(m), l_(l), start_(start), n_(n),
        s_lanes_(splat<L>(static_cast<float>(s))), m_lanes_(splat<L>(static_cast<float>(m))),
        l_lanes_(splat<L>(static_cast<float>(l))), w_lanes_(splat<L>(static_cast<float>(weights))) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      prices_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i < start_ - l_) {
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      if (i < start_) {
        // The pre-fill, bars start - long .. start - 1.
        F bp, tr;
        bar(i, bp, tr);
        bp_long_ += bp;
        tr_long_ += tr;
        if (i >= start_ - m_) {
          bp_medium_ += bp;
          tr_medium_ += tr;
        }
        if (i >= start_ - s_) {
          bp_short_ += bp;
          tr_short_ += tr;
        }
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      F bp, tr, gone_bp, gone_tr;
      bar(i, bp, tr);
      bar(i - s_, gone_bp, gone_tr);
      bp_short_ = bp_short_ + (bp - gone_bp);
      tr_short_ = tr_short_ + (tr - gone_tr);
      bar(i - m_, gone_bp, gone_tr);
      bp_medium_ = bp_medium_ + (bp - gone_bp);
      tr_medium_ = tr_medium_ + (tr - gone_tr);
      bar(i - l_, gone_bp, gone_tr);
      bp_long_ = bp_long_ + (bp - gone_bp);
      tr_long_ = tr_long_ + (tr - gone_tr);
      tr_short_ = guarded_range<L>(tr_short_);
      tr_medium_ = guarded_range<L>(tr_medium_);
      tr_long_ = guarded_range<L>(tr_long_);
      out_.store<L>(i, ultimate_lanes<L>(bp_short_, tr_short_, bp_medium_, tr_medium_, bp_long_, tr_long_, s_lanes_,
                                         m_lanes_, l_lanes_, w_lanes_));
    }
  }
  uint32_t failed() const { return 0; }

 private:
  // Row p, a negative p counted from the end as the kernel's checked access does.
  F at(const ColumnGroup& series, int64_t p) const { return series.load<L>(p < 0 ? p + n_ : p); }
  // pressure_and_range of bar j in every lane.
  void bar(int64_t j, F& bp, F& tr) const {
    pressure_and_range_lanes<L>(at(prices_.close, j - 1), at(prices_.low, j), at(prices_.high, j),
                                at(prices_.close, j), bp, tr);
  }

  LanePrices<L> prices_;
  ColumnGroup out_;
  int64_t s_, m_, l_, start_, n_;
  F s_lanes_, m_lanes_, l_lanes_, w_lanes_;
  F bp_short_{}, tr_short_{}, bp_medium_{}, tr_medium_{}, bp_long_{}, tr_long_{};
};

}  // namespace

template <>
bool columns_in_lanes<Ult>(const Ult::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  PriceGroups groups;
  const int32_t s = args.short_period, m = args.medium_period, l = args.long_period;
  const int32_t start = trailing_start(l, n, args.n_values);
  const int32_t weights = add32(add32(s, m), l);
  // The long window the longest: every bar read lies at -1 (the last one) or later.
  if (!groups_of(args.high_arr, args.low_arr, args.close_arr, tables, n, groups) || s < 1 || m < 1 || s > l ||
      m > l || weights <= 0 || start > n)
    return false;
  for_widest_lanes(out.count, n, failed, [&](auto lanes, int part) {
    using L = decltype(lanes);
    return UltKernel<L>(LanePrices<L>(groups, part), out.part(part, L::kWidth), s, m, l, weights, start, n);
  });
  return true;
}

// ---------------------------------------------------------------------------
// Element-wise functions: the rate of change and the differences of two series.

namespace {

// `change` over a zero base, as zero_base_quotient takes it: in double, by 1e-9.
template <class L>
typename L::Floats over_tiny_base(typename L::Floats change) {
  return narrow<L>(widen<L>(change) / splat_double<L>(1e-9));
}

// change / base in every lane, a zero base as zero_base_quotient takes it (the division
// in double only when some lane needs it: it costs more than the rest of the row).
template <class L>
typename L::Floats relative_lanes(typename L::Floats change, typename L::Floats base) {
  using F = typename L::Floats;
  const typename L::Mask zero = equal(base, F{});
  const F quotient = change / base;
  return any_lane<L>(zero) ? choose<L>(zero, over_tiny_base<L>(change), quotient) : quotient;
}

// Whether a table's rows follow one another without a gap (a C-ordered table taken whole).
bool dense(const ColumnGroup& g) {
  return g.rows.across == int64_t{sizeof(float)} && g.rows.along == g.count * int64_t{sizeof(float)};
}

// Rows start .. end - 1 of a dense table as one row.
ColumnGroup as_one_row(const ColumnGroup& g, int64_t start, int64_t end) {
  return {Rows{g.rows.base + start * g.rows.along, 0, g.rows.across}, static_cast<int>((end - start) * g.count)};
}

// Out row i = op(lanes, v) from row i + shift[k] of each table from[k], for rows start .. n - 1
// (NaN before). Dense tables are taken as one long row: no row ends a vector short.
template <int kSources, class Op>
void elementwise_rows(const ColumnGroup& out, const std::array<ColumnGroup, kSources>& from,
                      const std::array<int64_t, kSources>& shift, int64_t n, int64_t start, Op op) {
  auto rows = [&op](const ColumnGroup& to, const std::array<ColumnGroup, kSources>& tables,
                    const std::array<int64_t, kSources>& shifts, int64_t rows_count, int64_t first) {
    for_whole_rows(to, rows_count, first, [&](auto lanes, int s, int64_t i) {
      using L = decltype(lanes);
      typename L::Floats v[kSources];
      for (int k = 0; k < kSources; ++k) v[k] = tables[k].part(s, L::kWidth).template load<L>(i + shifts[k]);
      return op(lanes, v);
    });
  };
  bool flat = dense(out) && (n - start) * out.count <= (int64_t{1} << 30);
  for (const ColumnGroup& table : from) flat = flat && dense(table);
  if (!flat) return rows(out, from, shift, n, start);
  rows(out, from, shift, start, start);  // the unwritten rows
  std::array<ColumnGroup, kSources> one_row;
  for (int k = 0; k < kSources; ++k) one_row[k] = as_one_row(from[k], start + shift[k], n + shift[k]);
  const ColumnGroup out_row = as_one_row(out, start, n);
  with_widest_lanes([&](auto lanes) {
    using L = decltype(lanes);
    using F = typename L::Floats;
    constexpr int64_t kStep = L::kWidth;
    if (out_row.count < kStep) return rows(out_row, one_row, {}, 1, 0);
    // Whole vectors straight from the row's bytes; the last one ends at the row's end, computing
    // some elements again (element-wise: to the same bits).
    char* const to = out_row.rows.base;
    const char* sources[kSources];
    for (int k = 0; k < kSources; ++k) sources[k] = one_row[k].rows.base;
    const int64_t count = out_row.count;
    auto at = [&](int64_t j) {
      F v[kSources];
      for (int k = 0; k < kSources; ++k) std::memcpy(&v[k], sources[k] + j * int64_t{sizeof(float)}, sizeof(F));
      const F result = op(lanes, v);
      std::memcpy(to + j * int64_t{sizeof(float)}, &result, sizeof result);
    };
    for (int64_t j = 0; j + kStep <= count; j += kStep) at(j);
    if (count % kStep != 0) at(count - kStep);
  });
}

}  // namespace

// The simple moving average as sma_kernel steps it (averages.cpp): a window sum and count
// of the present values, the mean where the count is at least 1.
template <class L, bool kNormalize>
class SmaKernel {
 public:
  using F = typename L::Floats;
  using M = typename L::Mask;
  SmaKernel(const ColumnGroup& x, const ColumnGroup& out, int32_t period, int32_t start, int32_t n)
      : x_(x), out_(out), period_(period), start_(start), n_(n) {}

  void rows(int64_t r0, int64_t r1) {
    for (int64_t i = r0; i < r1; ++i) {
      x_.prefetch(i);
      out_.prefetch_for_store(i);
      if (i == 0 && start_ - period_ == -1) enter(row(-1));  // the pre-fill from the last element
      if (i < start_) {
        if (i >= start_ - period_) enter(x_.load<L>(i));
        out_.store<L>(i, unwritten_lanes<L>());
        continue;
      }
      const F entering = x_.load<L>(i);
      const F leaving = row(i - period_);
      const M entering_present = ~missing<L>(entering);
      const M leaving_present = ~missing<L>(leaving);
      sum_ += choose<L>(entering_present, entering, F{});
      sum_ -= choose<L>(leaving_present, leaving, F{});
      // Comparisons give -1 for true.
      count_ += leaving_present - entering_present;
      const M written = greater(__builtin_convertvector(count_, F), F{});
      F mean = sum_ / __builtin_convertvector(count_, F);
      if constexpr (kNormalize) {
        failing_ |= written & equal(entering, F{});
        mean = (mean - entering) / entering;
      }
      out_.store<L>(i, choose<L>(written, mean, unwritten_lanes<L>()));
    }
  }
  int64_t rows_per_turn(int columns) const { return turn_for_small_states(columns); }
  uint32_t failed() const { return lanes_set<L>(failing_, out_.count); }

 private:
  // Row p of the series, a negative p counted from the end as the kernel's access does.
  F row(int64_t p) const { return x_.load<L>(p < 0 ? p + n_ : p); }
  void enter(F v) {
    const M present = ~missing<L>(v);
    sum_ += choose<L>(present, v, F{});
    count_ -= present;
  }

  ColumnGroup x_, out_;
  int64_t period_, start_, n_;
  F sum_{};
  M count_{};
  M failing_{};
};

template <>
bool columns_in_lanes<Sma>(const Sma::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed) {
  ColumnGroup x;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(sub32(period, 1), n, args.n_values);
  // Windows reaching further back than the last element read from the end in other ways.
  if (!group_of(args.input_array, tables, n, x) || period < 1 || period >= (1 << 24) ||
      int64_t{start} - period < -1 || start > n)
    return false;
  const auto run = [&](auto normalize) {
    for_widest_lanes(out.count, n, failed, [&](auto lanes, int s) {
      using L = decltype(lanes);
      return SmaKernel<L, decltype(normalize)::value>(x.part(s, L::kWidth), out.part(s, L::kWidth), period, start, n);
    });
  };
  if (args.normalize) {
    run(std::true_type{});
  } else {
    run(std::false_type{});
  }
  return true;
}

template <>
bool columns_in_lanes<Roc>(const Roc::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* /* failed: an element-wise column never fails */) {
  ColumnGroup prices;
  const int32_t period = args.timeperiod;
  const int32_t start = trailing_start(period, n, args.n_values);
  if (!group_of(args.input_array, tables, n, prices) || period < 1 || start > n) return false;
  // relative_change in every lane.
  elementwise_rows<2>(out, {prices, prices}, {0, -int64_t{period}}, n, start, [](auto lanes, const auto* v) {
    using L = decltype(lanes);
    return relative_lanes<L>(v[0] - v[1], v[1]);
  });
  return true;
}

namespace {

// out = op(a, b) over the trailing min(n, n_values) rows, as dif_body writes it.
template <class Op>
bool difference_in_lanes(const Series& left, const Series& right, int32_t n_values, const GroupTables& tables,
                         const ColumnGroup& out, int32_t n, Op op) {
  ColumnGroup a, b;
  if (!group_of(left, tables, n, a) || !group_of(right, tables, n, b)) return false;
  const int32_t m = std::min(n, n_values);
  const int64_t start = m > 0 ? n - m : n;
  elementwise_rows<2>(out, {a, b}, {0, 0}, n, start, [op](auto lanes, const auto* v) { return op(lanes, v[0], v[1]); });
  return true;
}

}  // namespace

template <>
bool columns_in_lanes<Adif>(const Adif::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t*) {
  return difference_in_lanes(args.input_array_1, args.input_array_2, args.n_values, tables, out, n,
                             [](auto, auto left, auto reference) { return left - reference; });
}

template <>
bool columns_in_lanes<Rdif>(const Rdif::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                            uint8_t*) {
  // relative_difference in every lane: a zero reference takes 1e-9 in double.
  return difference_in_lanes(args.input_array_1, args.input_array_2, args.n_values, tables, out, n,
                             [](auto lanes, auto left, auto reference) {
                               using L = decltype(lanes);
                               return relative_lanes<L>(left - reference, reference);
                             });
}

}  // namespace velk::indicators
