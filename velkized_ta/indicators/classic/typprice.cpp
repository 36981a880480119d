// Typical price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double*) {}
  static double value(const double* bar) {
    const double high = bar[0], low = bar[1], close = bar[2];
    return (high + low + close) / 3.0;
  }
  bool step(const double* bar, double* out) {
    out[0] = value(bar);
    return true;
  }
  // Batch kernel: each bar on its own.
  int64_t kernel_lag() const { return 0; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    double bar[inputs];
    unrolled<inputs>([&](int k) { bar[k] = in[k][t]; });
    out[0] = value(bar);
  }
  void absorb(const double* const*, ptrdiff_t, ptrdiff_t) {}
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
