// Linear regression angle.
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
  // In degrees; lanes take atan one at a time.
  template <class V>
  V value(const WindowRegression::LineOf<V>& line) const {
    constexpr double degrees = 180.0 / 3.14159265358979323846;
    const V slope = regression.slope(line);
    if constexpr (std::is_same_v<V, double>) {
      return std::atan(slope) * degrees;
    } else {
      V angle;
      for (int k = 0; k < lane_width<V>; ++k) angle[k] = std::atan(slope[k]);
      return angle * degrees;
    }
  }
  template <class Archive>
  void fields(Archive& a) {
    regression.fields(a);
  }
  int64_t period;
  WindowRegression regression;
};

const Registrar<State> registered{Descriptor{
    "linearreg_angle", "statistic", "Angle in degrees of the least-squares line through the last timeperiod values (one bar against one price unit).",
    R"(The least-squares line y = b + m * i through the last timeperiod values, i = 0 at the oldest
and timeperiod - 1 at the newest:
m = (n * sum(i * y) - sum(i) * sum(y)) / (n * sum(i^2) - sum(i)^2), b = mean(y) - m * (n - 1) / 2
linearreg_angle = atan(m) * 180 / pi

First value at timeperiod - 1. The sums are kept as deviations from the window mean and updated
per bar (a new bar adds the window's sum to the age-weighted sum), re-added every timeperiod bars
and at once after a level change, so they neither drift nor cancel at high price levels. Flat
prices give 0.
TA-Lib LINEARREG_ANGLE: same first value; its slope carries rounding at the price level: measured on
3000-bar random walks at level 1000, up to 2.4e-7 relative where the angle is near 0 (5e-9 degrees),
where this is within 1e-20 of the exact slope.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars in the window."}},
    {"linearreg_angle"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
