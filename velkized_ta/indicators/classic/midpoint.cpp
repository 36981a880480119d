// Midpoint of the window.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : window(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    window.push(bar[0]);
    if (!window.full()) return false;
    out[0] = (window.highest() + window.lowest()) / 2.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
  }
  WindowExtremes window;
};

const Registrar<State> registered{Descriptor{
    "midpoint", "overlap", "Midpoint: halfway between the highest and lowest close of the window.",
    R"(midpoint = (highest close + lowest close) / 2 over timeperiod bars

First value at timeperiod - 1. Flat prices give the price.
TA-Lib MIDPOINT: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars in the window."}},
    {"midpoint"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
