// Beta of one series' returns against another's.
#include "classic_engine/window_moments.hpp"

namespace velk::classic {
namespace {

// A bar's return over the previous value; 0 after a zero value, where none is defined.
inline double simple_return(double value, double previous) {
  return previous != 0.0 ? (value - previous) / previous : 0.0;
}

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double* params) : moments(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0], y = bar[1];
    const bool first = !has_previous;
    const double return_x = simple_return(x, previous_x), return_y = simple_return(y, previous_y);
    previous_x = x;
    previous_y = y;
    has_previous = true;
    if (first) return false;
    const bool ready = moments.push(return_x, return_y);
    const double spread = moments.centred_xx();
    out[0] = spread > 0.0 ? moments.centred_xy() / spread : 0.0;
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous_x);
    a(previous_y);
    a(has_previous);
    moments.fields(a);
  }
  double previous_x = 0.0, previous_y = 0.0;
  bool has_previous = false;
  WindowCoMoments moments;
};

const Registrar<State> registered{Descriptor{
    "beta", "statistic", "Beta: the least-squares slope of real1's returns on real0's over the last timeperiod bars.",
    R"(rx[t] = (real0[t] - real0[t-1]) / real0[t-1], ry[t] likewise from real1
beta = sum((rx - mean(rx)) * (ry - mean(ry))) / sum((rx - mean(rx))^2) over the last timeperiod returns

First value at timeperiod (the first bar has no return). A return after a zero value is taken as
0. Returns that do not vary in the window (flat prices) give 0. The sums are kept as deviations
from the window means and re-added every timeperiod bars, so they do not drift.
TA-Lib BETA: same first value, returns and zero conventions. Measured on 3000-bar random walks: up
to 2.1e-12 relative.)",
    {"real0", "real1"},
    {{"timeperiod", ParamKind::integer, 5, 1, 100000, "Returns in the window."}},
    {"beta"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
