// Median price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State : BarFormula<State, 2> {
  using BarFormula::BarFormula;
  static constexpr bool stream_outputs = true;  // a light formula: bound by memory on long series
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T high, T low) {
    return (high + low) / 2.0;
  }
};

const Registrar<State> registered{Descriptor{
    "medprice", "price_transform", "Median price: the midpoint of high and low.",
    R"(medprice = (high + low) / 2

First value at 0; each bar on its own, so no state.
TA-Lib MEDPRICE: same first value, identical values.)",
    {"high", "low"},
    {},
    {"medprice"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
