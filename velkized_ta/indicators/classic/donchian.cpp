// Donchian channels.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 3;
  explicit State(const double* params) : highs(int_param(params, 0)), lows(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    out[0] = highs.highest();
    out[1] = 0.5 * (highs.highest() + lows.lowest());
    out[2] = lows.lowest();
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
    "donchian", "volatility", "Donchian channels: the highest high, the lowest low and their midpoint.",
    R"(upper = highest high of the last timeperiod bars (the current one included)
lower = lowest low of the same bars
middle = (upper + lower) / 2

Richard Donchian's channels, the current bar included (as pandas-ta's donchian and most charting
platforms; shift by one bar for a breakout rule against the previous channel). First value at
timeperiod - 1. Flat prices give three equal lines at the price.
TA-Lib has no Donchian channels; middle equals TA-Lib's MIDPRICE and upper/lower its MAX(high)
and MIN(low), identical values; pandas-ta's donchian is identical too.)",
    {"high", "low"},
    {{"timeperiod", ParamKind::integer, 20, 1, 100000, "Bars in the window."}},
    {"upper", "middle", "lower"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
