// Kaufman's adaptive moving average.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  // Longer than the block loop's chunks: a span's first and last bars step one at a time.
  static constexpr ptrdiff_t run_span = 8192;
  explicit State(const double* params) : average(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    if (!average.push(bar[0])) return false;
    out[0] = average.value();
    return true;
  }
  // Bars whose window's bars were all real go to the block's loop: from `real_before` real bars
  // on (the state took them, so its rings hold the window the loop reads off the input).
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const ptrdiff_t reach = from - real_before;  // the first of the real bars
    for (; from < to && !(average.started() && from - reach > average.period()); ++from) step_at(*this, in, from, out);
    average.run(in[0] + from, to - from, out[0] + from);
  }
#if defined(VELK_CLASSIC_LANES)
  // Spans as they come: where the span is real (one pass over bars the loop reads next, so
  // cached, testing eight at a time) and so were the window's bars before it, straight to the
  // block's loop; otherwise the spans of real bars between the NaN bars, as the driver finds them.
  template <class Out>
  void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    const double* const x = in[0];
    if (from == 0) real_before_span_ = 0;  // a new series: bars before it are not in the input
    if (average.started() && real_before_span_ > average.period()) {
      NanTest test;
      ptrdiff_t t = from;
      for (; t + 4 * lane_count <= to; t += 4 * lane_count) {
        test.add(load_as<Lanes>(x + t), load_as<Lanes>(x + t + lane_count), load_as<Lanes>(x + t + 2 * lane_count),
                 load_as<Lanes>(x + t + 3 * lane_count));
      }
      bool real = !test.any();
      for (; t < to; ++t) real &= x[t] == x[t];
      if (real) {
        average.run(x + from, to - from, out[0] + from);
        real_before_span_ += to - from;
        return;
      }
    }
    run_real_spans<State, Out>(*this, in, from, to, out);
    ptrdiff_t real_at_end = 0;  // at most the window's worth counted: only whether it reaches past it matters
    while (real_at_end <= average.period() && to - real_at_end > from && x[to - real_at_end - 1] == x[to - real_at_end - 1])
      ++real_at_end;
    real_before_span_ = to - real_at_end > from ? real_at_end : real_before_span_ + real_at_end;
  }
#endif
  template <class Archive>
  void fields(Archive& a) {
    average.fields(a);
  }
  AdaptiveAverage average;
  // Real bars in a row before the span run_mixed takes next, within the series being run (so
  // not a field: every series starts with none).
  ptrdiff_t real_before_span_ = 0;
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
