// Average price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 1;
  explicit State(const double*) {}
  bool step(const double* bar, double* out) {
    const double open = bar[0], high = bar[1], low = bar[2], close = bar[3];
    out[0] = (open + high + low + close) / 4.0;
    return true;
  }
  template <class Archive>
  void fields(Archive&) {}
};

const Registrar<State> registered{Descriptor{
    "avgprice", "price_transform", "Average price: the mean of open, high, low and close.",
    R"(avgprice = (open + high + low + close) / 4

First value at 0; each bar on its own, so no state.
TA-Lib AVGPRICE: same first value; it adds in another order, so the two differ by rounding only.)",
    {"open", "high", "low", "close"},
    {},
    {"avgprice"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
