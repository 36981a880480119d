// Rate of change as a ratio.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// window: the last timeperiod values; the one pushed out is timeperiod bars back.
struct State : LagFormula<State> {
  explicit State(const double* params) : LagFormula(params, 0) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T x, T previous) { return previous != T() ? x / previous : T(); }
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    const bool was_full = window.full();
    const double previous = window.push(x);
    if (!was_full) return false;
    out[0] = value(x, previous);
    return true;
  }
};

const Registrar<State> registered{Descriptor{
    "rocr", "momentum", "Rate of change as a ratio: close / close timeperiod bars back.",
    R"(rocr = x[t] / x[t-timeperiod]

First value at timeperiod. A zero value timeperiod bars back gives 0 (no ratio is defined); flat
prices give 1.
TA-Lib ROCR: same first value, the same operations and the same zero convention.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Bars back to compare with."}},
    {"rocr"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
