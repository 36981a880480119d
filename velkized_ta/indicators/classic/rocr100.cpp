// Rate of change as a ratio times 100.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// window: the last timeperiod values; the one pushed out is timeperiod bars back.
struct State : LagFormula<State> {
  explicit State(const double* params) : LagFormula(params, 0) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T x, T previous) { return previous != T() ? x / previous * 100.0 : T(); }
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
    "rocr100", "momentum", "Rate of change as a ratio times 100: 100 * close / close timeperiod bars back.",
    R"(rocr100 = 100 * x[t] / x[t-timeperiod]

First value at timeperiod. A zero value timeperiod bars back gives 0 (no ratio is defined); flat
prices give 100.
TA-Lib ROCR100: same first value, the same operations and the same zero convention.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Bars back to compare with."}},
    {"rocr100"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
