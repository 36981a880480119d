// Aroon oscillator: Aroon up minus Aroon down.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double* params)
      : period(int_param(params, 0)), factor(100.0 / static_cast<double>(period)), highs(period + 1), lows(period + 1) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    out[0] = factor * static_cast<double>(lows.lowest_age() - highs.highest_age());
    return true;
  }
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    run_window_kernel(*this, in, from, to, out, real_before, period + 1, in[0], in[1], highs, lows, [&](ptrdiff_t begin) {
      window_extreme_ages_along(in[0], in[1], period + 1, begin, to, scratch, positions,
                                [&](ptrdiff_t t, ptrdiff_t highest_age, ptrdiff_t lowest_age) {
                                  out[0][t] = static_cast<Out>(factor * static_cast<double>(lowest_age - highest_age));
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
    "aroonosc", "momentum", "Aroon oscillator: Aroon up minus Aroon down.",
    R"(aroonosc = aroonup - aroondown
         = (100 / timeperiod) * (bars since the lowest low - bars since the highest high)
over the last timeperiod + 1 bars (the newest of equal extremes counts).

First value at timeperiod; runs on -100...100. Flat prices give 0.
TA-Lib AROONOSC: same first value and the same operations (the difference of the two ages
scaled once; identical values).)",
    {"high", "low"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars looked back (the window holds one more)."}},
    {"aroonosc"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
