// Rolling z-score.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// The window's sums are kept as deviations from a shift (the window mean when last re-added), so
// the variance does not cancel at high price levels. They are re-added every timeperiod bars, and
// when the centred sum of squares has become a tiny part of the sums (after a level change, or a
// drift of the mean away from the shift).
struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : period(int_param(params, 0)), window(period) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    equal_run = (window.size() > 0 && x == latest) ? equal_run + 1 : 1;
    latest = x;
    const bool was_full = window.full();
    const double leaving = window.push(x);
    if (++since_resum >= period || window.size() == 1) {
      resum();
    } else {
      const double d = x - shift;
      deviations += d;
      squares += d * d;
      if (was_full) {
        const double l = leaving - shift;
        deviations -= l;
        squares -= l * l;
      }
      if (squares > peak) peak = squares;
    }
    if (!window.full()) return false;
    const double n = static_cast<double>(period);
    double centred = squares - deviations * deviations / n;
    if (centred < peak * (1.0 / 16384.0)) {
      resum();
      centred = squares - deviations * deviations / n;
    }
    // A window of equal values has no spread: its z-score is 0, not a ratio of roundings.
    if (equal_run >= period || !(centred > 0.0)) {
      out[0] = 0.0;
      return true;
    }
    out[0] = ((x - shift) - deviations / n) / std::sqrt(centred / n);
    return true;
  }
  void resum() {
    since_resum = 0;
    const size_t n = window.size();
    shift = window.sum() / static_cast<double>(n);
    deviations = 0.0;
    squares = 0.0;
    for (size_t i = 0; i < n; ++i) {
      const double d = window.oldest(i) - shift;
      deviations += d;
      squares += d * d;
    }
    peak = squares;
  }
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
    a(shift);
    a(deviations);
    a(squares);
    a(peak);
    a(since_resum);
    a(latest);
    a(equal_run);
  }
  int64_t period;
  Ring window;
  double shift = 0.0, deviations = 0.0, squares = 0.0;
  double peak = 0.0;  // largest sum of squares since the last re-adding
  int64_t since_resum = 0;
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
