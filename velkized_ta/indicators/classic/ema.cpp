// Exponential moving average.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params) : ema(int_param(params, 0)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> ready = ema.push(bar[0]);
    out[0] = ema.value();
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    ema.fields(a);
  }
  SeededEmaOf<T> ema;
};

const Registrar<State<double>> registered{Descriptor{
    "ema", "overlap", "Exponential moving average seeded with the simple average of the first timeperiod closes.",
    R"(k = 2 / (timeperiod + 1)
ema[first] = mean of the first timeperiod closes
ema[t] = (x[t] - ema[t-1]) * k + ema[t-1]

First value at timeperiod - 1. Flat prices give the price (once the seed, their mean, is the
price: the step's two weights sum to exactly 1).
TA-Lib EMA (its default compatibility, SMA seed): same first value and seed; the step is one fused multiply-add, ema * (1 - k) + k * x with
1 - k rounded and k = 1 - (1 - k), where TA-Lib's is (x - ema) * k + ema; a rounding apart.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 1.9e-16 on a 10^6-bar random walk, 1.0e-15 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Bars of the seed; sets k = 2 / (timeperiod + 1)."}},
    {"ema"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
