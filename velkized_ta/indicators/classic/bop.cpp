// Balance of power.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 4, outputs = 1;
  explicit State(const double*) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T open, T high, T low, T close) {
    const T range = high - low;
    return range > T() ? (close - open) / range : T();
  }
  bool step(const double* bar, double* out) {
    out[0] = value(bar[0], bar[1], bar[2], bar[3]);
    return true;
  }
  // Batch kernels: each bar on its own.
  int64_t kernel_lag() const { return 0; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    out[0] = value(in[0][t], in[1][t], in[2][t], in[3][t]);
  }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = value(load_as<V>(in[0] + t), load_as<V>(in[1] + t), load_as<V>(in[2] + t), load_as<V>(in[3] + t));
  }
  void absorb(const double* const*, ptrdiff_t, ptrdiff_t) {}
  template <class Archive>
  void fields(Archive&) {}
};

const Registrar<State> registered{Descriptor{
    "bop", "momentum", "Balance of power: the bar's body as a share of its range, -1 to 1 on consistent bars.",
    R"(bop = (close - open) / (high - low), 0 when high - low <= 0

First value at 0; each bar on its own, so no state. A zero range (flat prices) gives 0.
TA-Lib BOP: same first value, identical values (a zero range gives 0 there too).)",
    {"open", "high", "low", "close"},
    {},
    {"bop"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
