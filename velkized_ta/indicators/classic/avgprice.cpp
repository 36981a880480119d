// Average price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 1;
  explicit State(const double*) {}
  static double value(const double* bar) {
    const double open = bar[0], high = bar[1], low = bar[2], close = bar[3];
    return (open + high + low + close) / 4.0;
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
