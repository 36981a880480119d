// Heikin-Ashi candles.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 4;
  explicit State(const double*) {}
  bool step(const double* bar, double* out) {
    const double open = bar[0], high = bar[1], low = bar[2], close = bar[3];
    const double ha_close = 0.25 * (open + high + low + close);
    const double ha_open = started ? 0.5 * (previous_open + previous_close) : 0.5 * (open + close);
    started = true;
    previous_open = ha_open;
    previous_close = ha_close;
    out[0] = ha_open;
    out[1] = std::max(std::max(ha_open, ha_close), high);
    out[2] = std::min(std::min(ha_open, ha_close), low);
    out[3] = ha_close;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(started);
    a(previous_open);
    a(previous_close);
  }
  bool started = false;
  double previous_open = 0.0, previous_close = 0.0;
};

const Registrar<State> registered{Descriptor{
    "heikin_ashi", "price", "Heikin-Ashi candles: averaged open, high, low and close.",
    R"(ha_close = (open + high + low + close) / 4
ha_open  = (previous ha_open + previous ha_close) / 2, the first (open + close) / 2
ha_high  = max(high, ha_open, ha_close), ha_low = min(low, ha_open, ha_close)

The usual definition (as pandas-ta's ha). First value at 0. Flat prices give the price.
TA-Lib has no Heikin-Ashi; the tests compare with a direct evaluation of these formulas;
pandas-ta's ha gives identical values.)",
    {"open", "high", "low", "close"},
    {},
    {"ha_open", "ha_high", "ha_low", "ha_close"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
