// Median price.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double*) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T high, T low) {
    return (high + low) / 2.0;
  }
  bool step(const double* bar, double* out) {
    out[0] = value(bar[0], bar[1]);
    return true;
  }
  // Batch kernels: each bar on its own.
  int64_t kernel_lag() const { return 0; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    out[0] = value(in[0][t], in[1][t]);
  }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = value(load_as<V>(in[0] + t), load_as<V>(in[1] + t));
  }
  void absorb(const double* const*, ptrdiff_t, ptrdiff_t) {}
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
