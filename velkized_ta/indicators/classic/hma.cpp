// Hull moving average.
#include <cmath>

#include "classic_engine/sums.hpp"

namespace velk::classic {
namespace {

int64_t root_period(int64_t period) {
  int64_t root = static_cast<int64_t>(std::sqrt(static_cast<double>(period)));
  while (root * root > period) --root;
  while ((root + 1) * (root + 1) <= period) ++root;
  return root;
}

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool vex_loop = true;
  static constexpr int vex_lane_width = 4;
  explicit State(const double* params)
      : half(int_param(params, 0) / 2), full(int_param(params, 0)), smooth(root_period(int_param(params, 0))) {}
  bool step(const double* bar, double* out) {
    half.push(bar[0]);
    if (!full.push(bar[0])) return false;
    if (!smooth.push(2.0 * half.value() - full.value())) return false;
    out[0] = smooth.value();
    return true;
  }
  // Each average in its own pass over the run, with its sums in locals (three averages' sums do
  // not fit the registers at once): the closes leaving are read off the input (bars up to the
  // slow period back), the lag-corrected values leaving off a scratch span that starts with the
  // smooth average's window.
  static constexpr ptrdiff_t run_span = 2048;
  static constexpr int64_t max_root = 316;  // isqrt of the largest period
  template <class Out, int Width = 2>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const ptrdiff_t start = from;
    const ptrdiff_t reach = static_cast<ptrdiff_t>(full.period());
    for (; from < to && !(smooth.full() && real_before + (from - start) >= reach); ++from) step_at(*this, in, from, out);
    if (from == to) return;
    const ptrdiff_t count = to - from;
    const double* x = in[0] + from;
    double halves[run_span];
    double corrected[max_root + run_span];
    smooth.copy_window(corrected);
    double* lagged = corrected + smooth.period();  // the value for bar from + i at lagged[i]
    auto half_sums = half.sums(), full_sums = full.sums(), smooth_sums = smooth.sums();
    // Each pass's values arrive a bar at a time or as lanes of bars its period apart.
    const ptrdiff_t half_apart = static_cast<ptrdiff_t>(half.period()), smooth_apart = static_cast<ptrdiff_t>(smooth.period());
    half.run_full<Width>(half_sums, x, count, [&](ptrdiff_t i, auto value) { store_across_spans(halves, i, half_apart, value); });
    full.run_full<Width>(full_sums, x, count, [&](ptrdiff_t i, auto value) {
      store_across_spans(lagged, i, reach, 2.0 * across_spans_of<decltype(value)>(halves, i, reach) - value);
    });
    Out* target = out[0] + from;
    smooth.run_full<Width>(smooth_sums, lagged, count, [&](ptrdiff_t i, auto value) { store_across_spans(target, i, smooth_apart, value); });
    half.end_run(half_sums, x, static_cast<size_t>(count));
    full.end_run(full_sums, x, static_cast<size_t>(count));
    smooth.end_run(smooth_sums, lagged, static_cast<size_t>(count));
  }
  template <class Archive>
  void fields(Archive& a) {
    half.fields(a);
    full.fields(a);
    smooth.fields(a);
  }
  GuardedWeightedAverage half, full, smooth;
};

const Registrar<State> registered{Descriptor{
    "hma", "overlap", "Hull moving average: a weighted average of the lag-corrected weighted averages.",
    R"(hma = wma(2 * wma(close, timeperiod // 2) - wma(close, timeperiod), isqrt(timeperiod))

Alan Hull's definition, with the periods rounded down (as pandas-ta's hma). First value at
timeperiod + isqrt(timeperiod) - 2 (22 with the default 20). The weighted sums are re-added
every period bars and after a collapse of their size, so they do not drift. Flat prices give the
price.
TA-Lib HMA: same definition, default, first value and period rounding. TA-Lib's weighted sums
are never re-added, so after a level drop they keep the old level's rounding (2.8e-9 relative on
3000 bars falling from 1e5 to 1, where this stays within 1e-13 of exact sums). TA-Lib accepts
timeperiod 1 (no smoothing); the range starts at 2 here.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 4.3e-14 on a 10^6-bar random walk, 6.2e-14 on a level drop 1e5 -> 1.
pandas-ta's hma calls TA-Lib's WMA when it is installed: the same values.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 20, 2, 100000, "Period of the slow average."}},
    {"hma"},
    [](const double* p) { return int_param(p, 0) + root_period(int_param(p, 0)) - 2; }}};

}  // namespace
}  // namespace velk::classic
