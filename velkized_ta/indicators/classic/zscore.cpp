// Rolling z-score.
#include "classic_engine/window_moments.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : period(int_param(params, 0)), moments(period) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    equal_run = (equal_run > 0 && x == latest) ? equal_run + 1 : 1;  // 0 before the first bar
    latest = x;
    if (!moments.push(x)) return false;
    const double variance = moments.variance();
    // A window of equal values has no spread: its z-score is 0, not a ratio of roundings.
    if (equal_run >= period || !(variance > 0.0)) {
      out[0] = 0.0;
      return true;
    }
    out[0] = moments.deviation_from_mean(x) / std::sqrt(variance);
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    moments.fields(a);
    a(latest);
    a(equal_run);
  }
  int64_t period;
  WindowMoments moments;
  double latest = 0.0;
  int64_t equal_run = 0;  // bars in a row equal to the latest
};

const Registrar<State> registered{Descriptor{
    "zscore", "statistic", "Rolling z-score: the close's distance from the window mean in standard deviations.",
    R"(mean = sma(close, timeperiod)
sd = population standard deviation of the same window (divided by timeperiod, as stddev and bbands)
zscore = (close - mean) / sd

The population deviation keeps zscore consistent with bbands ((close - middle) / sd) and with
pandas-ta's zscore when TA-Lib is installed (it then takes TA-Lib's STDDEV; without TA-Lib it uses
pandas' sample deviation). For the sample deviation (pandas' rolling std) multiply by
sqrt((timeperiod - 1) / timeperiod). First value at timeperiod - 1. A window of equal values gives
0. The sums are kept about the window mean and re-added every timeperiod bars (and when the spread
has become a tiny part of them), so neither drift nor cancellation at high price levels spoils the
deviation.
TA-Lib has no z-score; the tests compare with exact window sums (math.fsum).)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 20, 2, 100000, "Bars in the window."}},
    {"zscore"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
