// Money flow index.
#include <vector>

#include "classic_engine/sums.hpp"

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
  static constexpr bool vex_loop = true;
  static constexpr ptrdiff_t run_span = 512;  // bounds the scratch arrays
  // Once both windows are full and hold fewer bars than the run: the bars' typical prices and
  // rising and falling flows in a pass of lanes, each window's sums by run_window_sum (two spans
  // between re-addings side by side) over its values laid after a copy of its ring, then the
  // ratios in lanes. Every value through the step's operations in its order.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    from = step_while(*this, in, from, to, out, [&] { return !rising.full(); });
    const ptrdiff_t n = to - from;
    const ptrdiff_t period = static_cast<ptrdiff_t>(rising.ring.capacity());
    if (n <= period) {
      for (; from < to; ++from) step_at(*this, in, from, out);
      return;
    }
    // ups and downs: the ring's values (oldest first) then the run's; then the two windows' sums.
    scratch.resize(static_cast<size_t>(4 * n + 2 * period));
    double* const ups = scratch.data() + period;
    double* const downs = ups + n + period;
    double* const up_sums = downs + n;
    double* const down_sums = up_sums + n;
    size_t at = 0;
    rising.ring.each_oldest([&](double value) { scratch[at++] = value; });
    at = static_cast<size_t>(n + period);
    falling.ring.each_oldest([&](double value) { scratch[at++] = value; });
    const double *high = in[0] + from, *low = in[1] + from, *close = in[2] + from, *volume = in[3] + from;
    double before = previous;
    ptrdiff_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    const Lanes none{};
    for (; i + lane_count <= n; i += lane_count) {
      const Lanes typical = (load_as<Lanes>(high + i) + load_as<Lanes>(low + i) + load_as<Lanes>(close + i)) / 3.0;
      const Lanes flow = typical * load_as<Lanes>(volume + i);
      const Lanes earlier = {before, typical[0]};
      store_as(ups + i, typical > earlier ? flow : none);
      store_as(downs + i, typical < earlier ? flow : none);
      before = typical[1];
    }
#endif
    for (; i < n; ++i) {
      const double typical = (high[i] + low[i] + close[i]) / 3.0;
      const double flow = typical * volume[i];
      ups[i] = typical > before ? flow : 0.0;
      downs[i] = typical < before ? flow : 0.0;
      before = typical;
    }
    previous = before;
    const auto into = [&](double* sums) {
      return [sums, period](ptrdiff_t t, auto sum) {
        if constexpr (std::is_same_v<decltype(sum), double>) {
          sums[t] = sum;
        } else {
          sums[t] = sum[0];
          sums[t + period] = sum[1];
        }
      };
    };
    run_window_sum(rising, ups, n, into(up_sums));
    run_window_sum(falling, downs, n, into(down_sums));
    Out* const target = out[0] + from;
    i = 0;
#if defined(VELK_CLASSIC_LANES)
    for (; i + lane_count <= n; i += lane_count) {
      const Lanes up = load_as<Lanes>(up_sums + i), total = up + load_as<Lanes>(down_sums + i);
      store_as(target + i, total != none ? 100.0 * (up / total) : none);
    }
#endif
    for (; i < n; ++i) {
      const double total = up_sums[i] + down_sums[i];
      target[i] = static_cast<Out>(total != 0.0 ? 100.0 * (up_sums[i] / total) : 0.0);
    }
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
  std::vector<double> scratch;  // run_real's arrays (not state)
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
