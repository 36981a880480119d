// Fast stochastic oscillator.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 2;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params)
      : period(int_param(params, 0)), highs(period), lows(period), fastd(int_param(params, 2), int_param(params, 1)) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    return from_window(bar[2], highs.highest(), lows.lowest(), out);
  }
  bool from_window(double close, double highest, double lowest, double* out) {
    const double fastk = range_percent(close, highest, lowest);
    if (!fastd.push(fastk)) return false;
    out[0] = fastk;
    out[1] = fastd.value();
    return true;
  }
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    run_close_in_window(*this, in, from, to, out, real_before);
  }
  // Columns of a table in lanes (window_lanes.hpp): range_percent's operations per lane, and
  // fastd as a simple average (or fastk itself for a period of 1); other averages per series.
  template <class V>
  struct WindowLanes : WindowOfFirstParam<0, 1> {
    static bool simple(const double* params) { return int_param(params, 2) == static_cast<int64_t>(MaType::sma); }
    static bool covers(const double* params) {
      return int_param(params, 1) <= (simple(params) ? kWindowLanesMaxPeriod : 1);
    }
    explicit WindowLanes(const double* params)
        : WindowOfFirstParam<0, 1>(params), fastd(simple(params) ? int_param(params, 1) : 1), identity(!simple(params)) {}
    static int64_t lane_history(const double* params) {
      return SimpleAverageLanes<V>::slots(simple(params) ? int_param(params, 1) : 1);
    }
    void attach(double* slots) { fastd.attach(slots); }
    VELK_LANE_INLINE FlagOf<V> finish(FlagOf<V> full, V highest, V lowest, const V* bar, V* out) {
      const V scale = (highest - lowest) / splat<V>(100.0);
      const V fastk = choose(not_equal(scale, splat<V>(0.0)), (bar[2] - lowest) / scale, splat<V>(0.0));
      out[0] = fastk;
      if (identity) {
        out[1] = fastk;
        return full;
      }
      const FlagOf<V> ready = fastd.push_where(full, fastk);
      out[1] = fastd.value();
      return ready;
    }
    SimpleAverageLanes<V> fastd;
    bool identity;
  };
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
    fastd.fields(a);
  }
  int64_t period;
  WindowHighest highs;
  WindowLowest lows;
  MovingAverage fastd;
  std::vector<double> scratch;  // the run kernel's block suffixes, not part of the state
};

const Registrar<State> registered{Descriptor{
    "stochf", "momentum", "Fast stochastic: %K and its simple average %D.",
    R"(fastk = 100 * (close - lowest low) / (highest high - lowest low) over fastk_period bars
fastd = ma(fastk, fastd_period, fastd_matype)

First value (both outputs) at fastk_period - 1 plus the average's first-value position
(fastk_period + fastd_period - 2 for the SMA). A zero range gives fastk = 0, as
TA-Lib does.
TA-Lib STOCHF: same first value for every matype and the same operations; with fastd_matype 5
(TRIMA) TA-Lib's running sums drift: 1.2e-8 relative on a 10^6-bar random walk.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 8.6e-14 on a 10^6-bar random walk, 1.6e-14 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"fastk_period", ParamKind::integer, 5, 1, 100000, "Bars of the highest high and lowest low."},
     {"fastd_period", ParamKind::integer, 3, 1, 100000, "Average of fastk."},
     matype_param("fastd_matype", 0)},
    {"fastk", "fastd"},
    [](const double* p) { return int_param(p, 0) - 1 + moving_average_lookback(int_param(p, 2), int_param(p, 1)); }}};

}  // namespace
}  // namespace velk::classic
