// Momentum.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : window(int_param(params, 0) + 1) {}
  bool step(const double* bar, double* out) {
    window.push(bar[0]);
    if (!window.full()) return false;
    out[0] = bar[0] - window.oldest(0);
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
  }
  Ring window;  // the last timeperiod + 1 closes
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
