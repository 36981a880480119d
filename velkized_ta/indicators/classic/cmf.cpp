// Chaikin money flow.
#include "classic_engine/sums.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 1;
  explicit State(const double* params) : flow(int_param(params, 0)), volumes(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1], close = bar[2], volume = bar[3];
    const double range = high - low;
    // A bar without range has no location within it: it moves no money.
    const double location = range != 0.0 ? ((close - low) - (high - close)) / range : 0.0;
    const double flows = flow.push(location * volume);
    const double total = volumes.push(volume);
    if (!volumes.full()) return false;
    out[0] = total != 0.0 ? flows / total : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    flow.fields(a);
    volumes.fields(a);
  }
  GuardedWindowSum flow, volumes;
};

const Registrar<State> registered{Descriptor{
    "cmf", "volume", "Chaikin money flow: the volume-weighted close location over the window.",
    R"(clv = ((close - low) - (high - close)) / (high - low), 0 when high = low
cmf = sum(clv * volume, timeperiod) / sum(volume, timeperiod), 0 when the volume sum is 0

Marc Chaikin's definition (as pandas-ta's cmf and the accumulation/distribution line's
multiplier). First value at timeperiod - 1; runs on -1...1. Zero volume over the window or flat
prices give 0. The sums are re-added every timeperiod bars and after a collapse of their size,
so they do not drift.
TA-Lib has no CMF; the tests compare with exact window sums (math.fsum). pandas-ta's cmf agrees
within 2.5e-9 relative (its rolling sums), divides by a range nudged away from zero, and gives NaN
where the volume sum is 0.)",
    {"high", "low", "close", "volume"},
    {{"timeperiod", ParamKind::integer, 20, 1, 100000, "Bars in the window."}},
    {"cmf"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
