// Aroon oscillator: Aroon up minus Aroon down.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double* params)
      : factor(100.0 / static_cast<double>(int_param(params, 0))), highs(int_param(params, 0) + 1),
        lows(int_param(params, 0) + 1) {}
  bool step(const double* bar, double* out) {
    highs.push(bar[0]);
    lows.push(bar[1]);
    if (!highs.full()) return false;
    out[0] = factor * static_cast<double>(lows.lowest_age() - highs.highest_age());
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
  }
  double factor;
  WindowExtremesOf<true, false, true> highs;  // with ages
  WindowExtremesOf<false, true, true> lows;
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
