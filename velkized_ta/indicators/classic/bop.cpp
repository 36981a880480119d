// Balance of power.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State : BarFormula<State, 4> {
  using BarFormula::BarFormula;
  static constexpr bool stream_outputs = true;  // four inputs read per output: bound by memory on long series
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T open, T high, T low, T close) {
    const T range = high - low;
    return range > T() ? (close - open) / range : T();
  }
};

const Registrar<State> registered{Descriptor{
    "bop", "momentum", "Balance of power: the bar's body as a share of its range, -1 to 1 on consistent bars.",
    R"(bop = (close - open) / (high - low), 0 when high - low <= 0

First value at 0; each bar on its own, so no state. A zero range (flat prices) gives 0.
TA-Lib BOP: same first value, identical values (a zero range gives 0 there too).)",
    {"open", "high", "low", "close"},
    {},
    {"bop"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
