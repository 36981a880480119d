// Williams' %R.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double* params) : highs(int_param(params, 0)), lows(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    const double highest = highs.highest();
    const double scale = (highest - lows.lowest()) / -100.0;
    out[0] = scale != 0.0 ? (highest - bar[2]) / scale : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
  }
  WindowHighest highs;
  WindowLowest lows;
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
