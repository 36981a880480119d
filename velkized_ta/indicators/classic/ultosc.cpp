// Ultimate oscillator.
#include <algorithm>

#include "classic_engine/sums.hpp"

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
      : pressure{GuardedWindowSum(sorted.p[0]), GuardedWindowSum(sorted.p[1]), GuardedWindowSum(sorted.p[2])},
        range{GuardedWindowSum(sorted.p[0]), GuardedWindowSum(sorted.p[1]), GuardedWindowSum(sorted.p[2])} {}
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
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      pressure[k].push(buying);
      range[k].push(tr);
    }
    if (!range[2].full()) return false;
    static constexpr double weights[3] = {4.0, 2.0, 1.0};
    double total = 0.0;
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      if (range[k].sum() != 0.0) total += weights[k] * (pressure[k].sum() / range[k].sum());
    }
    out[0] = 100.0 * (total / 7.0);
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous_close);
    a(has_previous);
    for (int k = 0; k < 3; ++k) {
      pressure[k].fields(a);
      range[k].fields(a);
    }
  }
  double previous_close = 0.0;
  bool has_previous = false;
  GuardedWindowSum pressure[3], range[3];
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
