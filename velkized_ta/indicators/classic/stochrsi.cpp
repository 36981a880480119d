// Stochastic RSI.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 2;
  explicit State(const double* params)
      : strength(int_param(params, 0)), window(int_param(params, 1)), fastd(int_param(params, 2)) {}
  bool step(const double* bar, double* out) {
    if (!strength.push(bar[0])) return false;
    const double rsi = strength.value();
    window.push(rsi);
    if (!window.full()) return false;
    const double fastk = range_percent(rsi, window.highest(), window.lowest());
    if (!fastd.push(fastk)) return false;
    out[0] = fastk;
    out[1] = fastd.value();
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    strength.fields(a);
    window.fields(a);
    fastd.fields(a);
  }
  RelativeStrength strength;
  WindowExtremes window;
  SimpleAverage fastd;
};

const Registrar<State> registered{Descriptor{
    "stochrsi", "momentum", "Stochastic RSI: the fast stochastic of the RSI.",
    R"(r = rsi(close, timeperiod)
fastk = 100 * (r - lowest r) / (highest r - lowest r) over fastk_period values
fastd = sma(fastk, fastd_period)

First value (both outputs) at timeperiod + fastk_period + fastd_period - 2. A zero range of the
RSI (flat prices) gives fastk = 0, as TA-Lib does.
TA-Lib STOCHRSI (matype 0): same first value and the same operations.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 1.5e-13 on a 10^6-bar random walk, 7.4e-10 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Period of the RSI."},
     {"fastk_period", ParamKind::integer, 5, 1, 100000, "RSI values of the highest and lowest."},
     {"fastd_period", ParamKind::integer, 3, 1, 100000, "Simple average of fastk."}},
    {"fastk", "fastd"},
    [](const double* p) { return int_param(p, 0) + int_param(p, 1) + int_param(p, 2) - 2; }}};

}  // namespace
}  // namespace velk::classic
