// Triple exponential moving average.
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
  TripleEmaOf<T> average;
};

const Registrar<State<double>> registered{Descriptor{
    "tema", "overlap", "Triple exponential moving average: 3 EMA - 3 EMA(EMA) + EMA(EMA(EMA)).",
    R"(e1 = ema(close), e2 = ema(e1), e3 = ema(e2), each seeded with the mean of its first timeperiod
values
tema = e3 + (3 * e1 - 3 * e2)

First value at 3 * (timeperiod - 1). Flat prices give the price.
TA-Lib TEMA: same first value and seeds; each EMA's step is the ema indicator's fused one (a
rounding apart from TA-Lib's).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 2.1e-15 on a 10^6-bar random walk, 4.5e-14 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Period of the three EMAs."}},
    {"tema"},
    [](const double* p) { return 3 * (int_param(p, 0) - 1); }}};

}  // namespace
}  // namespace velk::classic
