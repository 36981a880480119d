// Bollinger bands.
#include "classic_engine/moving_average.hpp"
#include "classic_engine/window_moments.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 3;
  static constexpr bool fused_steps = true;  // an EMA-based matype steps by fused multiply-adds
  static constexpr bool vex_loop = true;
  explicit State(const double* params)
      : period(int_param(params, 0)), up(params[1]), down(params[2]), matype(int_param(params, 3)), moments(period),
        average(matype != 0 ? MovingAverage(matype, period) : MovingAverage()) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    const bool average_ready = matype == 0 || average.push(x);
    if (!moments.push(x) || !average_ready) return false;
    const auto bands = of_middle(matype == 0 ? moments.mean() : average.value(), moments.sums());
    for (int k = 0; k < outputs; ++k) out[k] = bands[k];
    return true;
  }
  // The window's own mean as the middle band: whole runs in the moments' kernel.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    if (matype == 0) {
      moments.run_real(in[0], from, to, out, real_before, [this](const auto& sums) { return of_middle(moments.mean(sums), sums); });
      return;
    }
    for (ptrdiff_t t = from; t < to; ++t) {
      double bar[inputs] = {in[0][t]}, values[outputs];
      if (!step(bar, values)) std::fill(values, values + outputs, nan_value);
      for (int k = 0; k < outputs; ++k) out[k][t] = static_cast<Out>(values[k]);
    }
  }
  // Upper, middle and lower band.
  template <class V>
  std::array<V, 3> of_middle(V middle, const WindowMoments::SumsOf<V>& sums) const {
    const V deviation = square_root(moments.variance(sums));
    return {middle + up * deviation, middle, middle - down * deviation};
  }
  template <class Archive>
  void fields(Archive& a) {
    moments.fields(a);
    if (matype != 0) average.fields(a);
  }
  int64_t period;
  double up, down;
  int64_t matype;
  WindowMoments moments;
  MovingAverage average;  // the middle band unless it is the window's own mean (matype 0)
};

const Registrar<State> registered{Descriptor{
    "bbands", "overlap", "Bollinger bands: the simple average plus and minus multiples of the standard deviation.",
    R"(middle = ma(close, timeperiod, matype) (the window mean for the default SMA)
sd = population standard deviation of the same window (divided by timeperiod)
upper = middle + nbdevup * sd, lower = middle - nbdevdn * sd

First value at the average's first-value position, or timeperiod - 1 if later. The sums are kept as deviations from the window mean and re-added
every timeperiod bars (and when the variance has become a tiny part of the sums, after a level
change), so neither drift nor the cancellation of sum(x^2) - n mean^2 at high price
levels spoils the deviation. Flat prices give sd = 0: all three bands at the price.
The default timeperiod is 5; TA-Lib's Python package 0.8 defaults to 20 (pass timeperiod to compare).
TA-Lib BBANDS: same first value for every matype; TA-Lib computes sum(x^2)/n - mean^2, which at a
price level L loses about L^2 * 1e-16 of the variance, and sets sd = 0 when the variance is below
1e-14.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 4.9e-14 on a 10^6-bar random walk, 1.1e-14 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 5, 2, 100000, "Bars in the window."},
     {"nbdevup", ParamKind::real, 2.0, -3e37, 3e37, "Standard deviations above the middle band."},
     {"nbdevdn", ParamKind::real, 2.0, -3e37, 3e37, "Standard deviations below the middle band."},
     matype_param("matype", 0)},
    {"upperband", "middleband", "lowerband"},
    [](const double* p) { return std::max(moving_average_lookback(int_param(p, 3), int_param(p, 0)), int_param(p, 0) - 1); }}};

}  // namespace
}  // namespace velk::classic
