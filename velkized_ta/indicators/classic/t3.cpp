// Tillson's T3 moving average.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params) : average(int_param(params, 0), params[1]) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> ready = average.push(bar[0]);
    out[0] = average.value();
    return ready;
  }
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    for (; from < to && !average.seeded(); ++from) step_at(*this, in, from, out);
    average.run(in[0] + from, to - from, out[0] + from);
  }
  template <class Archive>
  void fields(Archive& a) {
    average.fields(a);
  }
  TillsonT3Of<T> average;
};

const Registrar<State<double>> registered{Descriptor{
    "t3", "overlap", "Tillson's T3: six chained EMAs combined with the volume factor's coefficients.",
    R"(e1 .. e6: EMAs chained on the close, e = k * x + (1 - k) * e with k = 2 / (timeperiod + 1), each
seeded with the mean of its first timeperiod values
t3 = c1 e6 + c2 e5 + c3 e4 + c4 e3 with v = vfactor: c1 = -v^3, c2 = 3 v^2 + 3 v^3,
c3 = -6 v^2 - 3 v - 3 v^3, c4 = 1 + 3 v + v^3 + 3 v^2

First value at 6 * (timeperiod - 1). Flat prices give the price within a few units in the last place (the four
coefficients sum to 1 only up to their rounding).
TA-Lib T3: same first value and seeds; each EMA's step is the ema indicator's fused one (a rounding
apart from TA-Lib's k * x + (1 - k) * e).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 3.3e-15 on a 10^6-bar random walk, 1.2e-14 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 5, 1, 100000, "Period of the six EMAs."},
     {"vfactor", ParamKind::real, 0.7, 0.0, 1.0, "Volume factor: 0 gives e3, 1 the most lead."}},
    {"t3"},
    [](const double* p) { return 6 * (int_param(p, 0) - 1); }}};

}  // namespace
}  // namespace velk::classic
