// Average price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State : BarFormula<State, 4> {
  using BarFormula::BarFormula;
  static constexpr bool stream_outputs = true;  // a light formula: bound by memory on long series
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T open, T high, T low, T close) {
    return (open + high + low + close) / 4.0;
  }
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
