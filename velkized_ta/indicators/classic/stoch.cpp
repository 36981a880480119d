// Slow stochastic oscillator.
#include <algorithm>
#include <cstring>

#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 2;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params)
      : period(int_param(params, 0)), highs(period), lows(period), slowk(int_param(params, 3), int_param(params, 1)),
        slowd(int_param(params, 4), int_param(params, 2)) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    return from_window(bar[2], highs.highest(), lows.lowest(), out);
  }
  bool from_window(double close, double highest, double lowest, double* out) {
    if (!slowk.push(range_percent(close, highest, lowest))) return false;
    if (!slowd.push(slowk.value())) return false;
    out[0] = slowk.value();
    out[1] = slowd.value();
    return true;
  }
  static constexpr ptrdiff_t run_span = 1024;  // the length of the scratch arrays in run_real
  // With simple averages (the defaults): the window's extremes into scratch arrays, fastk from
  // them two bars at a time in lanes (its two divisions off the bar-by-bar path), then both
  // averages with their sums in registers. Other types take from_window per bar.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    SimpleAverage *k_block = slowk.simple(), *d_block = slowd.simple();
    if (!k_block || !d_block) return run_close_in_window(*this, in, from, to, out, real_before);
    double highest[run_span], lowest[run_span], fastk[run_span];
    ptrdiff_t begin = to;  // the first bar of the extremes
    run_window_extremes(*this, in, from, to, out, real_before, period, in[0], in[1], highs, lows, scratch,
                        [&](ptrdiff_t t, double high, double low) {
                          begin = std::min(begin, t);
                          highest[t - from] = high;
                          lowest[t - from] = low;
                        });
    const ptrdiff_t first = begin - from, last = to - from;
    const double* close = in[2] + from;
    ptrdiff_t i = first;
#if defined(VELK_CLASSIC_LANES)
    for (; i + lane_count <= last; i += lane_count) {
      // range_percent's operations per lane.
      const Lanes low = load_as<Lanes>(lowest + i), scale = (load_as<Lanes>(highest + i) - low) / 100.0;
      const Lanes none{}, percent = (load_as<Lanes>(close + i) - low) / scale;
      const Lanes lanes_fastk = scale != none ? percent : none;
      std::memcpy(fastk + i, &lanes_fastk, sizeof(Lanes));
    }
#endif
    for (; i < last; ++i) fastk[i] = range_percent(close[i], highest[i], lowest[i]);
    SimpleAverageRun k_run(*k_block), d_run(*d_block);
    for (i = first; i < last; ++i) {
      double k = k_run.push(fastk[i]), d = nan_value;
      if (k_block->full()) {
        d = d_run.push(k);
        if (!d_block->full()) k = d = nan_value;
      } else {
        k = nan_value;
      }
      out[0][from + i] = static_cast<Out>(k);
      out[1][from + i] = static_cast<Out>(d);
    }
    k_run.store();
    d_run.store();
  }
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
    slowk.fields(a);
    slowd.fields(a);
  }
  int64_t period;
  WindowHighest highs;
  WindowLowest lows;
  MovingAverage slowk, slowd;
  std::vector<double> scratch;  // the run kernel's block suffixes, not part of the state
};

const Registrar<State> registered{Descriptor{
    "stoch", "momentum", "Slow stochastic: %K smoothed twice (simple averages by default).",
    R"(fastk = 100 * (close - lowest low) / (highest high - lowest low) over fastk_period bars
slowk = ma(fastk, slowk_period, slowk_matype), slowd = ma(slowk, slowd_period, slowd_matype)

First value at fastk_period - 1 plus the two averages' first-value positions (8 with the defaults:
fastk_period + slowk_period + slowd_period - 3 for SMAs). A zero range
(highest high = lowest low) gives fastk = 0, as TA-Lib does.
The matypes follow the periods (TA-Lib puts slowk_matype before slowd_period), so positional
calls written for the three periods keep their meaning.
TA-Lib STOCH: same first value for every matype; fastk computed as (close - lowest) / ((highest -
lowest) / 100) as TA-Lib does.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 1.4e-13 on a 10^6-bar random walk, 1.6e-14 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"fastk_period", ParamKind::integer, 5, 1, 100000, "Bars of the highest high and lowest low."},
     {"slowk_period", ParamKind::integer, 3, 1, 100000, "Average of fastk."},
     {"slowd_period", ParamKind::integer, 3, 1, 100000, "Average of slowk."},
     matype_param("slowk_matype", 0), matype_param("slowd_matype", 0)},
    {"slowk", "slowd"},
    [](const double* p) {
      return int_param(p, 0) - 1 + moving_average_lookback(int_param(p, 3), int_param(p, 1)) +
             moving_average_lookback(int_param(p, 4), int_param(p, 2));
    }}};

}  // namespace
}  // namespace velk::classic
