// Chande momentum oscillator.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params) : gains(int_param(params, 0)), losses(int_param(params, 0)) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const T x = bar[0];
    const FlagOf<T> first = flag_not(has_previous);
    const T change = x - previous;
    previous = x;
    has_previous = flag_of<T>(true);
    if (all_set(first)) return flag_of<T>(false);
    const T zero = splat<T>(0.0);
    const FlagOf<T> ready = push_where(flag_not(first), gains, choose(greater(change, zero), change, zero));
    push_where(flag_not(first), losses, choose(less(change, zero), -change, zero));
    if (!any_set(ready)) return ready;
    const T total = gains.value() + losses.value();
    out[0] = choose(not_equal(total, zero), 100.0 * ((gains.value() - losses.value()) / total), zero);
    return ready;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous);
    a(has_previous);
    gains.fields(a);
    losses.fields(a);
  }
  T previous = splat<T>(0.0);
  FlagOf<T> has_previous = flag_of<T>(false);
  WilderAverageOf<T> gains, losses;
};

const Registrar<State<double>> registered{Descriptor{
    "cmo", "momentum", "Chande momentum oscillator: smoothed gains minus losses over their sum, -100 to 100.",
    R"(gain = max(x[t] - x[t-1], 0), loss = max(x[t-1] - x[t], 0)
avg_gain, avg_loss: the mean of the first timeperiod changes, then
avg = (avg * (timeperiod - 1) + change) / timeperiod (Wilder, as TA-Lib smooths them)
cmo = 100 * (avg_gain - avg_loss) / (avg_gain + avg_loss)

First value at timeperiod (the first close has no change). Flat prices (no gain and no loss) give 0.
TA-Lib CMO: same first value and the same smoothing (not the plain window sums of Chande's
original); identical values on the tests' series.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Wilder's smoothing period."}},
    {"cmo"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
