// Kaufman's adaptive moving average.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params) : average(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    if (!average.push(bar[0])) return false;
    out[0] = average.value();
    return true;
  }
  // Once started, bars whose windows lie in this run go to the block's loop.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    const ptrdiff_t start = from;
    for (; from < to && !(average.started() && from - start > average.period()); ++from) step_at(*this, in, from, out);
    average.run(in[0] + from, to - from, out[0] + from);
  }
  template <class Archive>
  void fields(Archive& a) {
    average.fields(a);
  }
  AdaptiveAverage average;
};

const Registrar<State> registered{Descriptor{
    "kama", "overlap", "Kaufman's adaptive moving average: an EMA whose speed follows the efficiency ratio.",
    R"(er = |close[t] - close[t-timeperiod]| / sum of |close[i] - close[i-1]| over timeperiod changes
sc = (er * (2/3 - 2/31) + 2/31)^2
kama = kama + sc * (close - kama), starting from the previous close

First value at timeperiod; timeperiod 1 gives the close itself from bar 0 (as TA-Lib does, like
every moving average of one bar). No movement at all (a zero path) counts as er = 1; flat prices give the
price.
TA-Lib KAMA: same first value and the same operations, the step fused as the ema indicator's
(kama * (1 - sc) + sc * close, a rounding apart; er = 1 also where the path is not above the
signed change); TA-Lib's running path sum is not re-added, so its values drift on long series (the
path sum here is re-added every window).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 1.9e-16 on a 10^6-bar random walk, 6.5e-13 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Changes in the efficiency ratio."}},
    {"kama"},
    [](const double* p) { return int_param(p, 0) == 1 ? int64_t{0} : int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
