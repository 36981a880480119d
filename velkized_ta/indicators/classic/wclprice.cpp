// Weighted close price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State : BarFormula<State, 3> {
  using BarFormula::BarFormula;
  static constexpr bool stream_outputs = true;  // a light formula: bound by memory on long series
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T high, T low, T close) {
    return (high + low + close * 2.0) / 4.0;
  }
};

const Registrar<State> registered{Descriptor{
    "wclprice", "price_transform", "Weighted close price: high, low and twice the close, over four.",
    R"(wclprice = (high + low + 2 * close) / 4

First value at 0; each bar on its own, so no state.
TA-Lib WCLPRICE: same first value, identical values.)",
    {"high", "low", "close"},
    {},
    {"wclprice"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
