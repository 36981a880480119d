// Midpoint price of the window.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double* params) : highs(int_param(params, 0)), lows(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    out[0] = (highs.highest() + lows.lowest()) / 2.0;
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
    "midprice", "overlap", "Midpoint price: halfway between the window's highest high and lowest low.",
    R"(midprice = (highest high + lowest low) / 2 over timeperiod bars

First value at timeperiod - 1. Flat bars give the price.
TA-Lib MIDPRICE: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"high", "low"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars in the window."}},
    {"midprice"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
