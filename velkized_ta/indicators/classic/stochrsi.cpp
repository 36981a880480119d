// Stochastic RSI.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 2;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params)
      : period(int_param(params, 1)), strength(int_param(params, 0)), window(period),
        fastd(int_param(params, 3), int_param(params, 2)) {}
  bool step(const double* bar, double* out) {
    if (!strength.push(bar[0])) return false;
    const double rsi = strength.value();
    window.push(rsi);
    if (!window.full()) return false;
    return from_window(rsi, window.highest(), window.lowest(), out);
  }
  bool from_window(double rsi, double highest, double lowest, double* out) {
    const double fastk = range_percent(rsi, highest, lowest);
    if (!fastd.push(fastk)) return false;
    out[0] = fastk;
    out[1] = fastd.value();
    return true;
  }
  // Once the window holds all but one RSI value, every real bar adds one: a chunk's RSI
  // values go after the window's in `scratch`, and their window extremes are read off it.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    constexpr ptrdiff_t chunk = 2048;
    const ptrdiff_t n = static_cast<ptrdiff_t>(period);
    const auto write = [&](ptrdiff_t t, bool ready, const double* values) {
      for (int k = 0; k < outputs; ++k) out[k][t] = static_cast<Out>(ready ? values[k] : nan_value);
    };
    ptrdiff_t t = from;
    // (A window holding a value also means the RSI is ready.)
    for (; t < to && static_cast<ptrdiff_t>(window.size()) < std::max<ptrdiff_t>(n - 1, 1); ++t) {
      double values[outputs];
      write(t, step(in[0] + t, values), values);
    }
    rsi_values.resize(static_cast<size_t>(n - 1 + chunk));
    for (ptrdiff_t begin = t; begin < to; begin += chunk) {
      const ptrdiff_t end = std::min(to, begin + chunk);
      double* held = rsi_values.data();
      window.each_newest(n - 1, [&](double value) { *held++ = value; });
      for (ptrdiff_t b = begin; b < end; ++b) {
        strength.push(in[0][b]);
        held[b - begin] = strength.value();
      }
      const double* rsi = held - begin;  // rsi[b]: bar b's
      window_extremes_along(rsi, rsi, n, begin, end, extremes_scratch, [&](ptrdiff_t b, double highest, double lowest) {
        double values[outputs];
        write(b, from_window(rsi[b], highest, lowest, values), values);
      });
      window.push_many(held, static_cast<size_t>(end - begin));
    }
  }
  template <class Archive>
  void fields(Archive& a) {
    strength.fields(a);
    window.fields(a);
    fastd.fields(a);
  }
  int64_t period;
  RelativeStrength strength;
  WindowExtremes window;
  MovingAverage fastd;
  // The run kernel's RSI values and block suffixes, not part of the state.
  std::vector<double> rsi_values, extremes_scratch;
};

const Registrar<State> registered{Descriptor{
    "stochrsi", "momentum", "Stochastic RSI: the fast stochastic of the RSI.",
    R"(r = rsi(close, timeperiod)
fastk = 100 * (r - lowest r) / (highest r - lowest r) over fastk_period values
fastd = ma(fastk, fastd_period, fastd_matype)

First value (both outputs) at timeperiod + fastk_period - 1 plus the average's first-value
position (timeperiod + fastk_period + fastd_period - 2 for the SMA). A zero range of the
RSI (flat prices) gives fastk = 0, as TA-Lib does.
TA-Lib STOCHRSI: same first value for every matype and the same operations (the RSI's Wilder step
as rsi's).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 7.6e-14 on a 10^6-bar random walk, 9.0e-11 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Period of the RSI."},
     {"fastk_period", ParamKind::integer, 5, 1, 100000, "RSI values of the highest and lowest."},
     {"fastd_period", ParamKind::integer, 3, 1, 100000, "Average of fastk."},
     matype_param("fastd_matype", 0)},
    {"fastk", "fastd"},
    [](const double* p) { return int_param(p, 0) + int_param(p, 1) - 1 + moving_average_lookback(int_param(p, 3), int_param(p, 2)); }}};

}  // namespace
}  // namespace velk::classic
