// TRIX: rate of change of a triple exponential average.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params)
      : first(int_param(params, 0)), second(int_param(params, 0)), third(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    if (!first.push(bar[0]) || !second.push(first.value()) || !third.push(second.value())) return false;
    const double smoothed = third.value();
    const bool had_previous = has_previous;
    const double before = previous;
    previous = smoothed;
    has_previous = true;
    if (!had_previous) return false;
    out[0] = before != 0.0 ? (smoothed / before - 1.0) * 100.0 : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    first.fields(a);
    second.fields(a);
    third.fields(a);
    a(previous);
    a(has_previous);
  }
  SeededEma first, second, third;
  double previous = 0.0;
  bool has_previous = false;
};

const Registrar<State> registered{Descriptor{
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
