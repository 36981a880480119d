// Rate of change as a ratio.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : window(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    const bool was_full = window.full();
    const double previous = window.push(x);
    if (!was_full) return false;
    out[0] = previous != 0.0 ? x / previous : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
  }
  Ring window;  // the last timeperiod values; the one pushed out is timeperiod bars back
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
