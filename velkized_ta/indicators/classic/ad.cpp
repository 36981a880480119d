// Chaikin's accumulation/distribution line.
#include "classic_engine/accumulation.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 4, outputs = 1;
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double*) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    out[0] = line.push(bar[0], bar[1], bar[2], bar[3]);
    return flag_of<T>(true);
  }
  static constexpr bool vex_loop = true;
  static constexpr int vex_lane_width = 4;
  static constexpr ptrdiff_t run_span = 256;  // the length of the scratch array in run_mixed
  template <class Out, int Width = 2>
  void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    const size_t n = static_cast<size_t>(to - from);
    const double* const columns[4] = {in[0] + from, in[1] + from, in[2] + from, in[3] + from};
    double scratch[std::is_same_v<Out, double> ? 1 : run_span];
    double* const lines = std::is_same_v<Out, double> ? reinterpret_cast<double*>(out[0] + from) : scratch;
    const auto stepped = [&](size_t at, size_t count) {
      for (size_t i = at; i < at + count; ++i) {
        const double bar[4] = {columns[0][i], columns[1][i], columns[2][i], columns[3][i]};
        step_bar(*this, bar, lines + i);
      }
    };
    line.template push_run<Width>(columns, n, [&](size_t i, double value) { lines[i] = value; }, stepped);
    if constexpr (!std::is_same_v<Out, double>) {
      for (size_t i = 0; i < n; ++i) out[0][from + static_cast<ptrdiff_t>(i)] = static_cast<Out>(lines[i]);
    }
  }
  template <class Archive>
  void fields(Archive& a) {
    line.fields(a);
  }
  AccumulationLineOf<T> line;
};

const Registrar<State<double>> registered{Descriptor{
    "ad", "volume", "Accumulation/distribution line: the running total of volume weighted by where the close sits in the bar's range.",
    R"(clv = ((close - low) - (high - close)) / (high - low)   (-1 at the low, 1 at the high)
ad[t] = ad[t-1] + clv * volume[t], starting from 0 before the first bar

First value at 0. A bar with no range (flat prices) or zero volume adds nothing. The total is kept
with a compensation term, so it equals the exactly rounded sum of the bar terms on any length.
TA-Lib AD: same first value and bar terms; TA-Lib adds them into a plain running total, whose
rounding grows with the series: measured on 3000-bar random walks, up to 4e-13 relative.)",
    {"high", "low", "close", "volume"},
    {},
    {"ad"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
