// Average directional movement index rating.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params) : adx(int_param(params, 0)), recent(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    if (!adx.push(bar[0], bar[1], bar[2])) return false;
    recent.push(adx.value());
    if (!recent.full()) return false;
    out[0] = (adx.value() + recent.oldest(0)) / 2.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    adx.fields(a);
    recent.fields(a);
  }
  AverageDirectional adx;
  Ring recent;  // the last timeperiod ADX values
};

const Registrar<State> registered{Descriptor{
    "adxr", "directional", "Average directional movement rating: the mean of ADX and ADX timeperiod - 1 bars back.",
    R"(adxr = (adx[t] + adx[t - (timeperiod - 1)]) / 2, adx as in adx(high, low, close, timeperiod)

First value at 3 * timeperiod - 2 (40 with the defaults). Bars without direction leave ADX as it
was (see adx); flat prices give 0.
TA-Lib ADXR: same first value and the same ADX; values agree within 1e-12 relative.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 2.1e-15 on a 10^6-bar random walk, 3.9e-15 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Wilder's smoothing period and the ADX lag + 1."}},
    {"adxr"},
    [](const double* p) { return 3 * int_param(p, 0) - 2; }}};

}  // namespace
}  // namespace velk::classic
