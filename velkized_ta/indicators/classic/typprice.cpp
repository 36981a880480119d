// Typical price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State : BarFormula<State, 3> {
  using BarFormula::BarFormula;
  static constexpr bool stream_outputs = true;  // a light formula: bound by memory on long series
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T high, T low, T close) {
    return (high + low + close) / 3.0;
  }
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
