// Weighted close price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double*) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T high, T low, T close) {
    return (high + low + close * 2.0) / 4.0;
  }
  bool step(const double* bar, double* out) {
    out[0] = value(bar[0], bar[1], bar[2]);
    return true;
  }
  // Batch kernels: each bar on its own.
  int64_t kernel_lag() const { return 0; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    out[0] = value(in[0][t], in[1][t], in[2][t]);
  }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = value(load_as<V>(in[0] + t), load_as<V>(in[1] + t), load_as<V>(in[2] + t));
  }
  void absorb(const double* const*, ptrdiff_t, ptrdiff_t) {}
  template <class Archive>
  void fields(Archive&) {}
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
