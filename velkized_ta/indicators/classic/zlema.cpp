// Zero-lag exponential moving average.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  explicit State(const double* params)
      : recent((int_param(params, 0) - 1) / 2 + 1), ema(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    recent.push(bar[0]);
    if (!recent.full()) return false;
    // The close lag bars ago is the oldest held; lag 0 leaves the close itself.
    if (!ema.push(2.0 * bar[0] - recent.oldest(0))) return false;
    out[0] = ema.value();
    return true;
  }
  // Once the EMA is seeded and the lag bars before a bar are real ones of this run or just before
  // it, the close lag bars ago is read off the input and the EMA's value stays in a register.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const ptrdiff_t lag = static_cast<ptrdiff_t>(recent.capacity()) - 1, start = from;
    for (; from < to && (!ema.seeded() || from - start + real_before < lag); ++from) step_at(*this, in, from, out);
    if (from >= to) return;
    const double* x = in[0];
    const double kept = ema.kept(), rate = ema.rate();
    double value = ema.value();
    for (ptrdiff_t t = from; t < to; ++t) {
      value = fused(value, kept, rate * (2.0 * x[t] - x[t - lag]));
      out[0][t] = static_cast<Out>(value);
    }
    ema.take(value);
    recent.push_many(x + from, static_cast<size_t>(to - from));
  }
  template <class Archive>
  void fields(Archive& a) {
    recent.fields(a);
    ema.fields(a);
  }
  Ring recent;
  SeededEma ema;
};

const Registrar<State> registered{Descriptor{
    "zlema", "overlap", "Zero-lag EMA: the EMA of the close corrected by its change over half the period.",
    R"(lag = (timeperiod - 1) // 2
zlema = ema(2 * close - close[t - lag], timeperiod)   (seeded with the simple average, as ema)

John Ehlers' and Ric Way's zero-lag EMA in the form pandas-ta's zlma uses. First value at
lag + timeperiod - 1 (28 with the default 20). Flat prices give the price.
TA-Lib ZLEMA: same definition, lag, seed and first value; its default timeperiod is 30.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 0 on a 10^6-bar random walk, 0 on a level drop 1e5 -> 1.
pandas-ta's zlma gives the same values when TA-Lib is installed (without it, pandas-ta seeds the
EMA from the corrected values available by bar timeperiod - 1 and starts there).)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 20, 1, 100000, "Period of the EMA; the lag is half of one less."}},
    {"zlema"},
    [](const double* p) { return (int_param(p, 0) - 1) / 2 + int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
