// Balance of power.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 1;
  explicit State(const double*) {}
  bool step(const double* bar, double* out) {
    const double open = bar[0], high = bar[1], low = bar[2], close = bar[3];
    out[0] = high - low > 0.0 ? (close - open) / (high - low) : 0.0;
    return true;
  }
  template <class Archive>
  void fields(Archive&) {}
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
