// Median price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double*) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1];
    out[0] = (high + low) / 2.0;
    return true;
  }
  template <class Archive>
  void fields(Archive&) {}
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
