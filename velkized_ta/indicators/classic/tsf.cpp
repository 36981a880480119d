// Time series forecast.
#include "classic_engine/window_moments.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool vex_loop = true;
  static constexpr int vex_lane_width = 4;
  explicit State(const double* params) : period(int_param(params, 0)), regression(period) {}
  bool step(const double* bar, double* out) {
    const bool ready = regression.push(bar[0]);
    out[0] = value(regression.line());
    return ready;
  }
  template <class Out, int Width = 2>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    regression.run_real<Width>(in[0], from, to, out[0], real_before, [this](const auto& line) { return value(line); });
  }
  template <class V>
  V value(const WindowRegression::LineOf<V>& line) const {
    return regression.value_at(line, 1.0);
  }
  template <class Archive>
  void fields(Archive& a) {
    regression.fields(a);
  }
  int64_t period;
  WindowRegression regression;
};

const Registrar<State> registered{Descriptor{
    "tsf", "statistic", "Time series forecast: the least-squares line through the last timeperiod values, one bar ahead.",
    R"(The least-squares line y = b + m * i through the last timeperiod values, i = 0 at the oldest
and timeperiod - 1 at the newest:
m = (n * sum(i * y) - sum(i) * sum(y)) / (n * sum(i^2) - sum(i)^2), b = mean(y) - m * (n - 1) / 2
tsf = b + m * timeperiod

First value at timeperiod - 1. The sums are kept as deviations from the window mean and updated
per bar (a new bar adds the window's sum to the age-weighted sum), re-added every timeperiod bars
and at once after a level change, so they neither drift nor cancel at high price levels. Flat
prices give the price.
TA-Lib TSF: same first value; measured on 3000-bar random walks at level 1000, up to 2e-13 relative.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars in the window."}},
    {"tsf"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
