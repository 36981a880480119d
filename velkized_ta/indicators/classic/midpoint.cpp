// Midpoint of the window.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : period(int_param(params, 0)), window(period) {}
  bool step(const double* bar, double* out) {
    window.push(bar[0]);
    if (!window.full()) return false;
    out[0] = value(window.highest(), window.lowest());
    return true;
  }
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    run_window_extremes(*this, in, from, to, out, real_before, period, in[0], in[0], window, window, scratch,
                        [&](ptrdiff_t t, double highest, double lowest) { out[0][t] = static_cast<Out>(value(highest, lowest)); });
  }
  static double value(double highest, double lowest) { return (highest + lowest) / 2.0; }
  // Columns of a table in lanes (window_lanes.hpp): `value`'s operations per lane.
  template <class V>
  using WindowLanes = WindowMidpointLanes<V, 0, 0>;
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
  }
  int64_t period;
  WindowExtremes window;
  std::vector<double> scratch;  // the run kernel's block suffixes, not part of the state
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
