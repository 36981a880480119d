// Keltner channels.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 3;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params)
      : multiplier(params[1]), middle(int_param(params, 0)), range(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const bool middle_ready = middle.push(bar[2]);
    const bool first = !has_previous;
    const double previous = previous_close;
    previous_close = bar[2];
    has_previous = true;
    const bool range_ready = !first && range.push(true_range(bar[0], bar[1], previous));
    if (!middle_ready) return false;
    if (!range_ready) {  // the middle line starts a bar before the ATR that sets the bands
      out[0] = out[2] = nan_value;
      out[1] = middle.value();
      return true;
    }
    const double width = multiplier * range.value();
    out[0] = middle.value() + width;
    out[1] = middle.value();
    out[2] = middle.value() - width;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    middle.fields(a);
    range.fields(a);
    a(previous_close);
    a(has_previous);
  }
  double multiplier;
  SeededEma middle;
  WilderAverage range;
  double previous_close = 0.0;
  bool has_previous = false;
};

const Registrar<State> registered{Descriptor{
    "keltner", "volatility", "Keltner channels: the EMA of the close plus and minus a multiple of the ATR.",
    R"(middle = ema(close, timeperiod)            (seeded with the simple average, as ema)
upper  = middle + multiplier * atr(high, low, close, timeperiod)
lower  = middle - multiplier * atr(high, low, close, timeperiod)

The ATR form of the channels (Linda Raschke's revision of Chester Keltner's bands, as described
by StockCharts), with one period for the average and Wilder's ATR. The middle line starts at
timeperiod - 1 (the EMA's first value), the bands at timeperiod (the ATR's). Flat prices give
three equal lines at the price.
TA-Lib has no Keltner channels; the values equal TA-Lib's EMA and ATR combined (the tests check
1e-9 relative). pandas-ta's kc differs: its band is an EMA of the true range, not Wilder's ATR
(about 6e-4 relative apart on a random walk).)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 20, 1, 100000, "Period of the EMA and of the ATR."},
     {"multiplier", ParamKind::real, 2.0, -3e37, 3e37, "ATRs between the middle line and a band."}},
    {"upper", "middle", "lower"},
    [](const double* p) { return int_param(p, 0); },
    [](const double* p, int64_t* positions) {
      positions[0] = positions[2] = int_param(p, 0);
      positions[1] = int_param(p, 0) - 1;
    }}};

}  // namespace
}  // namespace velk::classic
