// Supertrend.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 2;
  explicit State(const double* params) : multiplier(params[1]), atr(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1], close = bar[2];
    const bool first = !has_previous;
    const double previous = previous_close;
    previous_close = close;
    has_previous = true;
    if (first || !atr.push(true_range(high, low, previous))) return false;
    const double middle = 0.5 * (high + low);
    const double width = multiplier * atr.value();
    const double basic_upper = middle + width, basic_lower = middle - width;
    if (!started) {
      started = true;
      upper = basic_upper;
      lower = basic_lower;
      rising = false;
    } else {
      // A band only tightens while the previous close stayed inside it.
      upper = (basic_upper < upper || previous > upper) ? basic_upper : upper;
      lower = (basic_lower > lower || previous < lower) ? basic_lower : lower;
      rising = rising ? !(close < lower) : close > upper;
    }
    out[0] = rising ? lower : upper;
    out[1] = rising ? 1.0 : -1.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    atr.fields(a);
    a(previous_close);
    a(has_previous);
    a(started);
    a(rising);
    a(upper);
    a(lower);
  }
  double multiplier;
  WilderAverage atr;
  double previous_close = 0.0;
  bool has_previous = false;
  bool started = false;
  bool rising = false;
  double upper = 0.0, lower = 0.0;
};

const Registrar<State> registered{Descriptor{
    "supertrend", "overlap", "Supertrend: an ATR band below the price in an uptrend, above it in a downtrend.",
    R"(basic upper/lower = (high + low) / 2 +/- multiplier * atr(high, low, close, timeperiod)
upper = basic upper if it is below the previous upper or the previous close was above the previous
        upper, else the previous upper (lower alike, mirrored)
direction: an uptrend turns down when close < lower, a downtrend turns up when close > upper
trend = lower in an uptrend, upper in a downtrend; direction = 1 (up) or -1 (down)

Olivier Seban's definition as charting platforms compute it (TradingView's ta.supertrend, with its
direction sign reversed: 1 here means up), Wilder's ATR seeded with the simple average. The first
value, at timeperiod (the ATR's), starts a downtrend on the basic bands, as TradingView does. Flat
prices give the price and direction -1.
TA-Lib has no Supertrend; the tests compare with a direct evaluation of these rules over TA-Lib's
ATR. pandas-ta's supertrend differs: it ratchets a band only on bars where the close stays between
the previous bands (on a 20000-bar random walk 282 trend values and 61 directions differ).)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Period of the ATR."},
     {"multiplier", ParamKind::real, 3.0, 0.0, 3e37, "ATRs between the bar's midpoint and a band."}},
    {"trend", "direction"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
