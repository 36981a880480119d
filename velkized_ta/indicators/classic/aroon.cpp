// Aroon: how recent the window's highest high and lowest low are.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 2;
  explicit State(const double* params)
      : period(int_param(params, 0)), factor(100.0 / static_cast<double>(period)), highs(period + 1),
        lows(period + 1) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    out[0] = factor * static_cast<double>(period - lows.lowest_age());
    out[1] = factor * static_cast<double>(period - highs.highest_age());
    return true;
  }
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    run_window_kernel(*this, in, from, to, out, real_before, period + 1, in[0], in[1], highs, lows, [&](ptrdiff_t begin) {
      window_extreme_ages_along(in[0], in[1], period + 1, begin, to, scratch, positions,
                                [&](ptrdiff_t t, ptrdiff_t highest_age, ptrdiff_t lowest_age) {
                                  out[0][t] = static_cast<Out>(factor * static_cast<double>(period - lowest_age));
                                  out[1][t] = static_cast<Out>(factor * static_cast<double>(period - highest_age));
                                });
    });
  }
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
  }
  int64_t period;
  double factor;
  WindowExtremesOf<true, false, true> highs;  // with ages
  WindowExtremesOf<false, true, true> lows;
  // The run kernel's block suffixes and their positions, not part of the state.
  std::vector<double> scratch;
  std::vector<ptrdiff_t> positions;
};

const Registrar<State> registered{Descriptor{
    "aroon", "momentum", "Aroon down and up: how many bars ago the lowest low and highest high of the window were.",
    R"(window = the last timeperiod + 1 bars
aroondown = (100 / timeperiod) * (timeperiod - bars since the lowest low)
aroonup   = (100 / timeperiod) * (timeperiod - bars since the highest high)

Tushar Chande's definition. Of equal extremes the newest counts. First value at timeperiod. Both
run on 0...100; flat prices give 100 (the newest bar holds both extremes).
TA-Lib AROON: same first value, the same tie rule and the same operations (identical values).)",
    {"high", "low"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars looked back (the window holds one more)."}},
    {"aroondown", "aroonup"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
