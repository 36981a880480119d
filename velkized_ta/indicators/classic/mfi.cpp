// Money flow index.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 1;
  explicit State(const double* params) : rising(int_param(params, 0)), falling(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double typical = (bar[0] + bar[1] + bar[2]) / 3.0;
    const double flow = typical * bar[3];
    const bool first = !has_previous;
    const double before = previous;
    previous = typical;
    has_previous = true;
    if (first) return false;
    const double up = rising.push(typical > before ? flow : 0.0);
    const double down = falling.push(typical < before ? flow : 0.0);
    if (!rising.full()) return false;
    const double total = up + down;
    out[0] = total != 0.0 ? 100.0 * (up / total) : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous);
    a(has_previous);
    rising.fields(a);
    falling.fields(a);
  }
  double previous = 0.0;
  bool has_previous = false;
  WindowSum rising, falling;
};

const Registrar<State> registered{Descriptor{
    "mfi", "volume", "Money flow index: the share of the window's money flow on rising typical prices, 0 to 100.",
    R"(tp = (high + low + close) / 3, flow = tp * volume
a flow counts as positive when tp rose from the previous bar, negative when it fell, and neither
when unchanged
mfi = 100 * positive / (positive + negative), sums over the last timeperiod bars

First value at timeperiod (the first bar has no change). No flow in the window (flat prices or
zero volume) gives 0. The window sums are re-added every timeperiod bars, so they do not drift.
TA-Lib MFI: same first value, classification and zero result. Once every rising (or falling) flow
has left the window, TA-Lib's sums keep a rounding residue, measured up to 6e-12 on the 0...100
scale on 3000-bar random walks, where this gives exactly 0 (or 100); after a level drop from 1e5 to
1, up to 7e-9.)",
    {"high", "low", "close", "volume"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars in the window."}},
    {"mfi"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
