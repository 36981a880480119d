// Ultimate oscillator.
#include <algorithm>
#include <array>
#include <cstring>

#include "classic_engine/window_sums.hpp"

namespace velk::classic {
namespace {

// The three periods sorted, shortest first (weights 4, 2, 1 go with the shortest to the longest).
struct Periods {
  int64_t p[3];
  explicit Periods(const double* params) : p{int_param(params, 0), int_param(params, 1), int_param(params, 2)} {
    std::sort(p, p + 3);
  }
};

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double* params) : State(Periods(params)) {}
  explicit State(const Periods& sorted)
      : sums({sorted.p[0], sorted.p[1], sorted.p[2], sorted.p[0], sorted.p[1], sorted.p[2]}) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1], close = bar[2];
    const bool first = !has_previous;
    const double previous = previous_close;
    previous_close = close;
    has_previous = true;
    if (first) return false;
    const double true_low = std::min(low, previous);
    const double buying = close - true_low;
    const double tr = true_range(high, low, previous);
    const double values[6] = {buying, buying, buying, tr, tr, tr};
    double totals[6];
    sums.push(values, totals);
    if (!sums.full(5)) return false;
    out[0] = oscillator({totals[0], totals[1], totals[2]}, {totals[3], totals[4], totals[5]});
    return true;
  }
  static constexpr ptrdiff_t run_span = 256;  // the bars of the scratch arrays in run_real
  // Inside the AVX2 copy the passes before and after the sums take four bars at a time (the
  // divisions' share of a bar halves).
  static constexpr bool vex_loop = true;
  static constexpr int vex_lane_width = 4;
  // Each bar's buying pressure and true range side by side, and each period's two sums likewise
  // (GuardedWindowSums::push_run_pairs: one load and one store a period and bar in the sums' loop).
  template <class Out, int Width = 2>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    from = step_while(*this, in, from, to, out, [&] { return !sums.full(5); });
    const ptrdiff_t n = to - from;
    if (n <= 0) return;
    const double *high = in[0] + from, *low = in[1] + from, *close = in[2] + from;
    double moves[2 * run_span], windows[3][2 * run_span];
    // Bar 0's previous close is the state's; the others' is in the span.
    moves[0] = close[0] - std::min(low[0], previous_close);
    moves[1] = true_range(high[0], low[0], previous_close);
    ptrdiff_t i = 1;
#if defined(VELK_CLASSIC_LANES)
    using V = DoubleLanes<Width>;
    for (; i + Width <= n; i += Width) {
      const V now_low = load_as<V>(low + i), previous = load_as<V>(close + i - 1);
      const V buying = load_as<V>(close + i) - (previous < now_low ? previous : now_low);  // std::min's choice
      interleave(moves + 2 * i, buying, true_range(load_as<V>(high + i), now_low, previous));
    }
#endif
    for (; i < n; ++i) {
      moves[2 * i] = close[i] - std::min(low[i], close[i - 1]);
      moves[2 * i + 1] = true_range(high[i], low[i], close[i - 1]);
    }
    previous_close = close[n - 1];
    const double* const values[3] = {moves, moves, moves};
    double* const totals[3] = {windows[0], windows[1], windows[2]};
    sums.push_run_pairs(values, static_cast<size_t>(n), totals);
    i = 0;
#if defined(VELK_CLASSIC_LANES)
    for (; i + Width <= n; i += Width) {
      prefetch_inputs<inputs>(in, to, i);  // the next span's
      const V none{};
      V total{};
      for (int k = 0; k < 3; ++k) {
        V p, r;
        deinterleave(windows[k] + 2 * i, p, r);
        // Adding +0 where the range is 0 leaves the total as the step's skip does (never -0).
        total += r != none ? weights[k] * (p / r) : none;
      }
      store_as(out[0] + from + i, bar_order(100.0 * (total / 7.0)));
    }
#endif
    for (; i < n; ++i) {
      out[0][from + i] = static_cast<Out>(oscillator({windows[0][2 * i], windows[1][2 * i], windows[2][2 * i]},
                                                     {windows[0][2 * i + 1], windows[1][2 * i + 1], windows[2][2 * i + 1]}));
    }
  }
#if defined(VELK_CLASSIC_LANES)
  // Lanes a and b stored as the pairs (a[0], b[0]), (a[1], b[1]), .. at `at`, and back.
  template <class V>
  static void interleave(double* at, V a, V b) {
    if constexpr (lane_width<V> == 2) {
      store_as(at, __builtin_shufflevector(a, b, 0, 2));
      store_as(at + 2, __builtin_shufflevector(a, b, 1, 3));
    } else {
      // In-lane unpacks, then the halves swapped (four shuffles; GCC made six of the direct ones).
      const V low = __builtin_shufflevector(a, b, 0, 4, 2, 6), high = __builtin_shufflevector(a, b, 1, 5, 3, 7);
      store_as(at, __builtin_shufflevector(low, high, 0, 1, 4, 5));
      store_as(at + 4, __builtin_shufflevector(low, high, 2, 3, 6, 7));
    }
  }
  template <class V>
  static void deinterleave(const double* at, V& a, V& b) {
    constexpr int W = lane_width<V>;
    const V first = load_as<V>(at), second = load_as<V>(at + W);
    if constexpr (W == 2) {
      a = __builtin_shufflevector(first, second, 0, 2);
      b = __builtin_shufflevector(first, second, 1, 3);
    } else {
      // In-lane unpacks: bars 0, 2, 1, 3 (bar_order puts a result of them back in order).
      a = __builtin_shufflevector(first, second, 0, 4, 2, 6);
      b = __builtin_shufflevector(first, second, 1, 5, 3, 7);
    }
  }
  template <class V>
  static V bar_order(V v) {
    if constexpr (lane_width<V> == 2)
      return v;
    else
      return __builtin_shufflevector(v, v, 0, 2, 1, 3);
  }
#endif
  static constexpr double weights[3] = {4.0, 2.0, 1.0};
  // From the three periods' sums, shortest first; a window without range contributes 0.
  static double oscillator(const std::array<double, 3>& pressures, const std::array<double, 3>& ranges) {
    double total = 0.0;
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      if (ranges[k] != 0.0) total += weights[k] * (pressures[k] / ranges[k]);
    }
    return 100.0 * (total / 7.0);
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous_close);
    a(has_previous);
    for (int k = 0; k < 3; ++k) {
      sums.fields(k, a);      // buying pressure over period k
      sums.fields(3 + k, a);  // true range over period k
    }
  }
  double previous_close = 0.0;
  bool has_previous = false;
  GuardedWindowSums<6> sums;  // buying pressure over the three periods, then true range
};

const Registrar<State> registered{Descriptor{
    "ultosc", "momentum", "Ultimate oscillator: buying pressure over true range on three horizons, weighted 4:2:1.",
    R"(bp = close - min(low, previous close), tr = true range
a_n = sum(bp, n) / sum(tr, n) for the three periods sorted shortest first
ultosc = 100 * (4 a_short + 2 a_middle + a_long) / 7

Larry Williams' definition. First value at the longest period (the sums start at the second bar).
Runs on 0...100. A window whose true ranges are all zero contributes 0 (flat prices give 0). The
sums are re-added every period bars and after a collapse of their size, so they do not drift.
TA-Lib ULTOSC: same first value and period sorting; identical values on a random walk. TA-Lib's
running sums keep the rounding of a level drop: after prices fall from 1e5 to 1 its values are up
to 1.2e-9 relative from exact sums (these 6e-13). TA-Lib drops a term whose range sum is below
1e-8 in absolute value, where this drops only an exact zero.)",
    {"high", "low", "close"},
    {{"timeperiod1", ParamKind::integer, 7, 1, 100000, "First period (the three are sorted)."},
     {"timeperiod2", ParamKind::integer, 14, 1, 100000, "Second period."},
     {"timeperiod3", ParamKind::integer, 28, 1, 100000, "Third period."}},
    {"ultosc"},
    [](const double* p) { return std::max({int_param(p, 0), int_param(p, 1), int_param(p, 2)}); }}};

}  // namespace
}  // namespace velk::classic
