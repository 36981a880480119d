// Typical price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double*) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1], close = bar[2];
    out[0] = (high + low + close) / 3.0;
    return true;
  }
  template <class Archive>
  void fields(Archive&) {}
};

const Registrar<State> registered{Descriptor{
    "typprice", "price_transform", "Typical price: the mean of high, low and close.",
    R"(typprice = (high + low + close) / 3

First value at 0; each bar on its own, so no state.
TA-Lib TYPPRICE: same first value, identical values.)",
    {"high", "low", "close"},
    {},
    {"typprice"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
