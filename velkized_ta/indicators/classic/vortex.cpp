// Vortex indicator.
#include "classic_engine/sums.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 2;
  explicit State(const double* params)
      : up(int_param(params, 0)), down(int_param(params, 0)), range(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1], close = bar[2];
    const bool first = !has_previous;
    const double high_before = previous_high, low_before = previous_low, close_before = previous_close;
    previous_high = high;
    previous_low = low;
    previous_close = close;
    has_previous = true;
    if (first) return false;
    const double plus = up.push(std::fabs(high - low_before));
    const double minus = down.push(std::fabs(low - high_before));
    const double total = range.push(true_range(high, low, close_before));
    if (!range.full()) return false;
    out[0] = total != 0.0 ? plus / total : 0.0;
    out[1] = total != 0.0 ? minus / total : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    up.fields(a);
    down.fields(a);
    range.fields(a);
    a(previous_high);
    a(previous_low);
    a(previous_close);
    a(has_previous);
  }
  GuardedWindowSum up, down, range;
  double previous_high = 0.0, previous_low = 0.0, previous_close = 0.0;
  bool has_previous = false;
};

const Registrar<State> registered{Descriptor{
    "vortex", "momentum", "Vortex indicator: upward and downward movement over the true range.",
    R"(vm_plus = |high - previous low|, vm_minus = |low - previous high|, tr = true range
plus = sum(vm_plus, timeperiod) / sum(tr, timeperiod)
minus = sum(vm_minus, timeperiod) / sum(tr, timeperiod)

Etienne Botes' and Douglas Siepman's definition (as pandas-ta's vortex). First value at timeperiod
(the movements start at the second bar). A window whose true ranges are all zero gives 0 (flat
prices). The sums are re-added every timeperiod bars and after a collapse of their size, so they
do not drift.
TA-Lib has no vortex indicator; the tests compare with exact window sums (math.fsum). pandas-ta's
vortex gives the same values where its true-range sum is not 0.)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 14, 1, 100000, "Bars in the window."}},
    {"plus", "minus"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
