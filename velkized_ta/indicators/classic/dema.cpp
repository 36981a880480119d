// Double exponential moving average.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params) : average(int_param(params, 0)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> ready = average.push(bar[0]);
    out[0] = average.value();
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    average.fields(a);
  }
  DoubleEmaOf<T> average;
};

const Registrar<State<double>> registered{Descriptor{
    "dema", "overlap", "Double exponential moving average: 2 EMA - EMA(EMA).",
    R"(e1 = ema(close, timeperiod), e2 = ema(e1, timeperiod), each seeded with the mean of its first
timeperiod values
dema = 2 * e1 - e2

First value at 2 * (timeperiod - 1). Flat prices give the price.
TA-Lib DEMA: same first value and seeds; each EMA's step is the ema indicator's fused one (a
rounding apart from TA-Lib's).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 7.6e-16 on a 10^6-bar random walk, 4.5e-15 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Period of both EMAs."}},
    {"dema"},
    [](const double* p) { return 2 * (int_param(p, 0) - 1); }}};

}  // namespace
}  // namespace velk::classic
