// Chaikin money flow.
#include <cmath>
#include <cstring>
#include <limits>

#include "classic_engine/window_sums.hpp"

namespace velk::classic {
namespace {

// The bar's money flow volume (a double, or lanes of bars).
template <class V>
V money_flow(V high, V low, V close, V volume) {
  const V range = high - low;
  const V none{};
  // A bar without range has no location within it: it moves no money.
  if constexpr (lane_width<V> > 2) {  // the comparison compiled for the unit that runs it
    return choose(not_equal(range, none), ((close - low) - (high - close)) / range, none) * volume;
  } else {
    const V location = range != none ? ((close - low) - (high - close)) / range : none;
    return location * volume;
  }
}

// Zero volume over the window moves no money.
inline double share(double flows, double total) { return total != 0.0 ? flows / total : 0.0; }

struct State {
  static constexpr int inputs = 4, outputs = 1;
  using Sums = GuardedWindowSums<2>;
  explicit State(const double* params) : State(int_param(params, 0)) {}
  explicit State(int64_t period) : sums({period, period}) {}
  bool step(const double* bar, double* out) {
    const double values[2] = {money_flow(bar[0], bar[1], bar[2], bar[3]), bar[3]};
    double totals[2];
    sums.push(values, totals);
    if (!sums.full(1)) return false;
    out[0] = share(totals[0], totals[1]);
    return true;
  }
  static constexpr bool vex_loop = true;
  // Inside the AVX2 copy the money flows and shares take four lanes: two divides a bar, which
  // four lanes run about twice as fast as two.
  static constexpr int vex_lane_width = 4;
#if !defined(__SANITIZE_ADDRESS__)
  // The fused loop holds more vectors than AVX2's 16 registers. (Not in the sanitizer's build:
  // the same source as the AVX2 copy, which that build checks, at twice its compile time.)
  static constexpr bool evex_loop = true;
#endif
  static constexpr ptrdiff_t run_span = 256;  // the length of the scratch arrays
  // A span once the window is full, with the NaN test in the pass computing the money flows; a
  // span holding a NaN bar (or the warm-up) goes through run_real between its NaN bars.
  template <class Out, int Width = 2>
  void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
#if defined(VELK_CLASSIC_LANES)
    if constexpr (Width == 4) {
      if (sums.full(1) && run_fused<Out, Width>(in, from, to, out)) return;
    }
#endif
    if (sums.full(1)) {
      double flows[run_span];
      // The window sums' facts of the flows and volumes, taken as they are computed, so that
      // push_run does not read them again.
      Sums::RunFacts facts{};
#if defined(VELK_CLASSIC_LANES)
      using V = DoubleLanes<Width>;
      using Flag = FlagOf<V>;
      NanTest missing;
      Flag absent = flag_of<V>(false), finite = flag_of<V>(true), below_flow = flag_of<V>(false),
           below_volume = flag_of<V>(false);
      const V largest = splat<V>(std::numeric_limits<double>::max()), none{};
      const ptrdiff_t n = to - from;
      ptrdiff_t i = 0;
      for (; i + Width <= n; i += Width) {
        const ptrdiff_t t = from + i;
        const V high = load_as<V>(in[0] + t), low = load_as<V>(in[1] + t), close = load_as<V>(in[2] + t),
                volume = load_as<V>(in[3] + t);
        if constexpr (Width == 2)
          missing.add(high, low, close, volume);
        else
          absent = absent | not_equal(high, high) | not_equal(low, low) | not_equal(close, close) |
                   not_equal(volume, volume);
        const V lanes = money_flow(high, low, close, volume);
        std::memcpy(flows + i, &lanes, sizeof lanes);
        finite &= not_less(largest, magnitude(lanes)) & not_less(largest, magnitude(volume));
        below_flow |= less(lanes, none);
        below_volume |= less(volume, none);
      }
      bool real = !missing.any() && !any_set(absent);
      facts.finite[0] = facts.finite[1] = all_set(finite);
      facts.negative[0] = any_set(below_flow);
      facts.negative[1] = any_set(below_volume);
      for (; i < n; ++i) {
        const ptrdiff_t t = from + i;
        real &= all_real_at<inputs>(in, t);
        flows[i] = money_flow(in[0][t], in[1][t], in[2][t], in[3][t]);
        note(facts, 0, flows[i]);
        note(facts, 1, in[3][t]);
      }
#else
      bool real = false;
#endif
      if (real) return run_flows<Out, Width>(in, from, to, out, flows, &facts);
    }
    run_real_spans(*this, in, from, to, out);
  }
#if defined(VELK_CLASSIC_LANES)
  // A span once the window is full, every bar real: the money flows computed and the shares
  // divided inside the sums' loop (GuardedWindowSums::run_fused), the divisions in the shadow of
  // the sums' chains. False where the span is to be taken another way.
  template <class Out, int Width>
  bool run_fused(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    using V = DoubleLanes<Width>;
    const auto produce = [&](size_t i, V(&values)[2]) {
      const ptrdiff_t t = from + static_cast<ptrdiff_t>(i);
      const V high = load_as<V>(in[0] + t), low = load_as<V>(in[1] + t), close = load_as<V>(in[2] + t);
      values[0] = money_flow(high, low, close, load_as<V>(in[3] + t));
      values[1] = load_as<V>(in[3] + t);
      // A NaN high, low or volume gives a NaN flow or volume, which the sums' scan refuses; a NaN
      // close may not (a bar without range).
      return all_set(equal(close, close));
    };
    const auto consume = [&](size_t i, const V(&windows)[2]) {
      const V none{}, total = windows[1];
      store_as(out[0] + from + i, choose(not_equal(total, none), windows[0] / total, none));
    };
    return sums.template run_fused<V>(static_cast<size_t>(to - from), produce, consume);
  }
#endif
  // What GuardedWindowSums' scan would note of `value` in sum k's facts.
  static void note(Sums::RunFacts& facts, int k, double value) {
    facts.finite[k] &= std::fabs(value) <= std::numeric_limits<double>::max();
    facts.negative[k] |= value < 0.0;
  }
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    from = step_while(*this, in, from, to, out, [&] { return !sums.full(1); });
    const ptrdiff_t n = to - from;
    if (n <= 0) return;
    double flows[run_span];
    ptrdiff_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    for (; i + lane_count <= n; i += lane_count) {
      const ptrdiff_t t = from + i;
      const Lanes lanes = money_flow(load_as<Lanes>(in[0] + t), load_as<Lanes>(in[1] + t),
                                     load_as<Lanes>(in[2] + t), load_as<Lanes>(in[3] + t));
      std::memcpy(flows + i, &lanes, sizeof lanes);
    }
#endif
    for (; i < n; ++i) flows[i] = money_flow(in[0][from + i], in[1][from + i], in[2][from + i], in[3][from + i]);
    run_flows(in, from, to, out, flows);
  }
  // Bars from .. to - 1 (real, the window full) from their money flows.
  template <class Out, int Width = 2>
  void run_flows(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, const double* flows,
                 const Sums::RunFacts* facts = nullptr) {
    const ptrdiff_t n = to - from;
    double flow_sums[run_span], volume_sums[run_span];
    const double* const values[2] = {flows, in[3] + from};
    double* const windows[2] = {flow_sums, volume_sums};
    sums.push_run(values, static_cast<size_t>(n), windows, facts);
    ptrdiff_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    using V = DoubleLanes<Width>;
    for (; i + Width <= n; i += Width) {
      const V none{}, total = load_as<V>(volume_sums + i);
      if constexpr (Width == 2)
        store_as(out[0] + from + i, total != none ? load_as<V>(flow_sums + i) / total : none);
      else
        store_as(out[0] + from + i, choose(not_equal(total, none), load_as<V>(flow_sums + i) / total, none));
    }
#endif
    for (; i < n; ++i) out[0][from + i] = static_cast<Out>(share(flow_sums[i], volume_sums[i]));
  }
  template <class Archive>
  void fields(Archive& a) {
    sums.fields(0, a);  // money flow volume
    sums.fields(1, a);  // volume
  }
  Sums sums;  // of the money flow volume and of the volume
};

const Registrar<State> registered{Descriptor{
    "cmf", "volume", "Chaikin money flow: the volume-weighted close location over the window.",
    R"(clv = ((close - low) - (high - close)) / (high - low), 0 when high = low
cmf = sum(clv * volume, timeperiod) / sum(volume, timeperiod), 0 when the volume sum is 0

Marc Chaikin's definition (as pandas-ta's cmf and the accumulation/distribution line's
multiplier). First value at timeperiod - 1; runs on -1...1. Zero volume over the window or flat
prices give 0. The sums are re-added every timeperiod bars and after a collapse of their size,
so they do not drift.
TA-Lib CMF: same definition, defaults and first value (0 without range or without volume, as
here). TA-Lib's running sums are never re-added: a window of flat bars gives its leftover rounding
(4e-16 on 3000-bar walks about 1000) where this gives 0. TA-Lib's timeperiod starts at 2 (1 here:
each bar's own location). The tests also compare with exact window sums (math.fsum).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 5.0e-13 on a 10^6-bar random walk, 1.2e-14 on a level drop 1e5 -> 1.
pandas-ta's cmf agrees within 2.5e-9 relative (its rolling sums), divides by a range nudged away
from zero, and gives NaN where the volume sum is 0.)",
    {"high", "low", "close", "volume"},
    {{"timeperiod", ParamKind::integer, 20, 1, 100000, "Bars in the window."}},
    {"cmf"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
