// Tillson's T3 moving average.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// T3's own EMA form, k * x + (1 - k) * e, as TA-Lib writes it, seeded with the mean of the
// first `period` values.
struct Stage {
  bool push(double x, int64_t period, double k, double rest) {
    if (seen < period) {
      value += x;
      if (++seen < period) return false;
      value /= static_cast<double>(period);
      return true;
    }
    value = k * x + rest * value;
    return true;
  }
  double value = 0.0;
  int64_t seen = 0;
};

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params)
      : period(int_param(params, 0)), k(2.0 / (static_cast<double>(period) + 1.0)), rest(1.0 - k) {
    const double v = params[1];
    const double squared = v * v;
    c1 = -(squared * v);
    c2 = 3.0 * (squared - c1);
    c3 = -6.0 * squared - 3.0 * (v - c1);
    c4 = 1.0 + 3.0 * v - c1 + 3.0 * squared;
  }
  bool step(const double* bar, double* out) {
    double x = bar[0];
    for (Stage& stage : stages) {
      if (!stage.push(x, period, k, rest)) return false;
      x = stage.value;
    }
    out[0] = c1 * stages[5].value + c2 * stages[4].value + c3 * stages[3].value + c4 * stages[2].value;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    for (Stage& stage : stages) {
      a(stage.value);
      a(stage.seen);
    }
  }
  int64_t period;
  double k, rest;
  double c1, c2, c3, c4;
  Stage stages[6];
};

const Registrar<State> registered{Descriptor{
    "t3", "overlap", "Tillson's T3: six chained EMAs combined with the volume factor's coefficients.",
    R"(e1 .. e6: EMAs chained on the close, e = k * x + (1 - k) * e with k = 2 / (timeperiod + 1), each
seeded with the mean of its first timeperiod values
t3 = c1 e6 + c2 e5 + c3 e4 + c4 e3 with v = vfactor: c1 = -v^3, c2 = 3 v^2 + 3 v^3,
c3 = -6 v^2 - 3 v - 3 v^3, c4 = 1 + 3 v + v^3 + 3 v^2

First value at 6 * (timeperiod - 1). Flat prices give the price.
TA-Lib T3: same first value and the same operations.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 4.2e-15 on a 10^6-bar random walk, 5.5e-15 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 5, 1, 100000, "Period of the six EMAs."},
     {"vfactor", ParamKind::real, 0.7, 0.0, 1.0, "Volume factor: 0 gives e3, 1 the most lead."}},
    {"t3"},
    [](const double* p) { return 6 * (int_param(p, 0) - 1); }}};

}  // namespace
}  // namespace velk::classic
