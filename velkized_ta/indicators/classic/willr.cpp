// Williams' %R.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double* params) : period(int_param(params, 0)), highs(period), lows(period) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    out[0] = value(highs.highest(), lows.lowest(), bar[2]);
    return true;
  }
  // Bars are taken in pairs, the two divisions of both in one lane operation each.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const double* close = in[2];
    Out* target = out[0];
#if defined(VELK_CLASSIC_LANES)
    double first_highest = 0.0, first_lowest = 0.0;
    bool pending = false;  // bar t - 1's extremes wait in first_*
    run_window_extremes(*this, in, from, to, out, real_before, period, in[0], in[1], highs, lows, scratch,
                        [&](ptrdiff_t t, double highest, double lowest) {
                          if (!pending) {
                            first_highest = highest, first_lowest = lowest;
                            pending = true;
                            return;
                          }
                          pending = false;
                          const Lanes values = value(Lanes{first_highest, highest}, Lanes{first_lowest, lowest},
                                                     load_as<Lanes>(close + t - 1));
                          target[t - 1] = static_cast<Out>(values[0]);
                          target[t] = static_cast<Out>(values[1]);
                        });
    if (pending) target[to - 1] = static_cast<Out>(value(first_highest, first_lowest, close[to - 1]));
#else
    run_window_extremes(*this, in, from, to, out, real_before, period, in[0], in[1], highs, lows, scratch,
                        [&](ptrdiff_t t, double highest, double lowest) {
                          target[t] = static_cast<Out>(value(highest, lowest, close[t]));
                        });
#endif
  }
  static double value(double highest, double lowest, double close) {
    const double scale = (highest - lowest) / -100.0;
    return scale != 0.0 ? (highest - close) / scale : 0.0;
  }
#if defined(VELK_CLASSIC_LANES)
  static Lanes value(Lanes highest, Lanes lowest, Lanes close) {
    const Lanes scale = (highest - lowest) / -100.0;
    const Lanes zero = {0.0, 0.0};
    return (Lanes)((LaneMask)((highest - close) / scale) & (scale != zero));
  }
#endif
  // Columns of a table in lanes (window_lanes.hpp): `value`'s operations per lane.
  template <class V>
  struct WindowLanes : WindowOfFirstParam<0, 1> {
    using WindowOfFirstParam<0, 1>::WindowOfFirstParam;
    VELK_LANE_INLINE FlagOf<V> finish(FlagOf<V> full, V highest, V lowest, const V* bar, V* out) {
      const V scale = (highest - lowest) / splat<V>(-100.0);
      out[0] = choose(not_equal(scale, splat<V>(0.0)), (highest - bar[2]) / scale, splat<V>(0.0));
      return full;
    }
  };
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
  }
  int64_t period;
  WindowHighest highs;
  WindowLowest lows;
  std::vector<double> scratch;  // the run kernel's block suffixes, not part of the state
};

const Registrar<State> registered{Descriptor{
    "willr", "momentum", "Williams' %R: the close's distance below the window's high, -100 to 0.",
    R"(willr = -100 * (highest high - close) / (highest high - lowest low) over timeperiod bars

First value at timeperiod - 1. A zero range gives 0, as TA-Lib does.
TA-Lib WILLR: same first value and the same operations ((highest - close) / ((highest - lowest) /
-100)).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 3.0e-16 on a 10^6-bar random walk, 2.8e-16 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars of the highest high and lowest low."}},
    {"willr"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
