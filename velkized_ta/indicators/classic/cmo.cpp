// Chande momentum oscillator.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : gains(int_param(params, 0)), losses(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    const bool first = !has_previous;
    const double change = x - previous;
    previous = x;
    has_previous = true;
    if (first) return false;
    const bool ready = gains.push(change > 0.0 ? change : 0.0);
    losses.push(change < 0.0 ? -change : 0.0);
    if (!ready) return false;
    const double total = gains.value() + losses.value();
    out[0] = total != 0.0 ? 100.0 * ((gains.value() - losses.value()) / total) : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous);
    a(has_previous);
    gains.fields(a);
    losses.fields(a);
  }
  double previous = 0.0;
  bool has_previous = false;
  WilderAverage gains, losses;
};

const Registrar<State> registered{Descriptor{
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
