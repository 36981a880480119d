// TRIX: rate of change of a triple exponential average.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params)
      : first(int_param(params, 0)), second(int_param(params, 0)), third(int_param(params, 0)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> first_ready = first.push(bar[0]);
    const FlagOf<T> second_ready = push_where(first_ready, second, first.value());
    const FlagOf<T> smoothed_ready = push_where(second_ready, third, second.value());
    if (!any_set(smoothed_ready)) return smoothed_ready;
    const T smoothed = third.value();
    const FlagOf<T> ready = smoothed_ready & has_previous;
    const T before = previous;
    previous = choose(smoothed_ready, smoothed, previous);
    has_previous = has_previous | smoothed_ready;
    out[0] = choose(not_equal(before, splat<T>(0.0)), (smoothed / before - 1.0) * 100.0, splat<T>(0.0));
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    first.fields(a);
    second.fields(a);
    third.fields(a);
    a(previous);
    a(has_previous);
  }
  SeededEmaOf<T> first, second, third;
  T previous = splat<T>(0.0);
  FlagOf<T> has_previous = flag_of<T>(false);
};

const Registrar<State<double>> registered{Descriptor{
    "trix", "momentum", "TRIX: the one-bar rate of change, in percent, of a triple exponential average.",
    R"(e1 = ema(close, timeperiod), e2 = ema(e1, timeperiod), e3 = ema(e2, timeperiod), each seeded
with the simple average of its first timeperiod inputs (as the ema indicator)
trix = (e3[t] / e3[t-1] - 1) * 100

First value at 3 * (timeperiod - 1) + 1. A zero e3 on the previous bar gives 0; flat prices give 0.
TA-Lib TRIX: same first value and seeds; each EMA's step is the ema indicator's fused one (a
rounding apart).)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Period of each exponential average."}},
    {"trix"},
    [](const double* p) { return 3 * (int_param(p, 0) - 1) + 1; }}};

}  // namespace
}  // namespace velk::classic
