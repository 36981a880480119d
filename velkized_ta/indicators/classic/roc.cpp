// Rate of change.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// window: the last timeperiod + 1 closes.
struct State : LagFormula<State> {
  explicit State(const double* params) : LagFormula(params, 1) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T now, T before) { return before != T() ? (now / before - 1.0) * 100.0 : T(); }
  bool step(const double* bar, double* out) {
    window.push(bar[0]);
    if (!window.full()) return false;
    out[0] = value(bar[0], window.oldest(0));
    return true;
  }
};

const Registrar<State> registered{Descriptor{
    "roc", "momentum", "Rate of change: the percentage change of the close over timeperiod bars.",
    R"(roc = (close[t] / close[t - timeperiod] - 1) * 100

First value at timeperiod. A zero earlier close gives 0, as TA-Lib does; flat prices give 0.
TA-Lib ROC: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Bars back."}},
    {"roc"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
