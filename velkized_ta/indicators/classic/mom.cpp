// Momentum.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// window: the last timeperiod + 1 closes.
struct State : LagFormula<State> {
  explicit State(const double* params) : LagFormula(params, 1) {}
  static constexpr bool stream_outputs = true;  // a light formula: bound by memory on long series
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T now, T then) { return now - then; }
  bool step(const double* bar, double* out) {
    window.push(bar[0]);
    if (!window.full()) return false;
    out[0] = value(bar[0], window.oldest(0));
    return true;
  }
};

const Registrar<State> registered{Descriptor{
    "mom", "momentum", "Momentum: the change of the close over timeperiod bars.",
    R"(mom = close[t] - close[t - timeperiod]

First value at timeperiod. Flat prices give 0.
TA-Lib MOM: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Bars back."}},
    {"mom"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
