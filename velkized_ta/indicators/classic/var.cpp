// Variance over a window.
#include "classic_engine/window_moments.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool vex_loop = true;
  static constexpr int vex_lane_width = 4;
  explicit State(const double* params) : moments(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const bool ready = moments.push(bar[0]);
    out[0] = moments.variance();
    return ready;
  }
  template <class Out, int Width = 2>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    moments.run_real<Width>(in[0], from, to, out, real_before,
                     [this](const auto& sums) { return std::array{moments.variance(sums)}; });
  }
  template <class Archive>
  void fields(Archive& a) {
    moments.fields(a);
  }
  WindowMoments moments;
};

const Registrar<State> registered{Descriptor{
    "var", "statistic", "Population variance of the last timeperiod values.",
    R"(mean = (x[t] + ... + x[t-timeperiod+1]) / timeperiod
var = sum((x[i] - mean)^2) / timeperiod

First value at timeperiod - 1. nbdev is accepted for the familiar signature and, as in TA-Lib, does
not scale the variance. The sums are kept as deviations from the window mean and re-added every
timeperiod bars (and at once after a level change), so they neither drift nor cancel at high price
levels. Flat prices give 0; timeperiod 1 gives 0.
TA-Lib VAR: same first value, nbdev likewise unused. Measured on 3000-bar random walks at level
1000: up to 3.3e-11 relative.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 5, 1, 100000, "Bars in the window."},
     {"nbdev", ParamKind::real, 1.0, -3e37, 3e37, "Accepted and unused, as in TA-Lib."}},
    {"var"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
