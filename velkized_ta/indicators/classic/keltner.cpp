// Keltner channels.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 3, outputs = 3;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params)
      : multiplier(splat<T>(params[1])), middle(int_param(params, 0)), range(int_param(params, 0)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> middle_ready = middle.push(bar[2]);
    const FlagOf<T> had_previous = has_previous;
    const T previous = previous_close;
    previous_close = bar[2];
    has_previous = flag_of<T>(true);
    const FlagOf<T> range_ready = push_where(had_previous, range, true_range(bar[0], bar[1], previous));
    // The middle line starts a bar before the ATR that sets the bands.
    const T width = multiplier * range.value(), missing = splat<T>(nan_value);
    out[0] = choose(range_ready, middle.value() + width, missing);
    out[1] = middle.value();
    out[2] = choose(range_ready, middle.value() - width, missing);
    return middle_ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    middle.fields(a);
    range.fields(a);
    a(previous_close);
    a(has_previous);
  }
  T multiplier;
  SeededEmaOf<T> middle;
  WilderAverageOf<T> range;
  T previous_close = splat<T>(0.0);
  FlagOf<T> has_previous = flag_of<T>(false);
};

const Registrar<State<double>> registered{Descriptor{
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
