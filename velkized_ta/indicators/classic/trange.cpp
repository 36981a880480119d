// True range.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double*) {}
  bool step(const double* bar, double* out) {
    const bool first = !has_previous;
    const double previous = previous_close;
    previous_close = bar[2];
    has_previous = true;
    if (first) return false;
    out[0] = true_range(bar[0], bar[1], previous);
    return true;
  }
  // Batch kernel: the previous close is read off the input.
  int64_t kernel_lag() const { return 1; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const {
    out[0] = true_range(in[0][t], in[1][t], in[2][t - 1]);
  }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = true_range(load_as<V>(in[0] + t), load_as<V>(in[1] + t), load_as<V>(in[2] + t - 1));
  }
  void absorb(const double* const* in, ptrdiff_t, ptrdiff_t to) {
    previous_close = in[2][to - 1];
    has_previous = true;
  }
  template <class Archive>
  void fields(Archive& a) {
    a(previous_close);
    a(has_previous);
  }
  double previous_close = 0.0;
  bool has_previous = false;
};

const Registrar<State> registered{Descriptor{
    "trange", "volatility", "True range: the bar's range extended to the previous close.",
    R"(trange = max(high - low, |high - close[t-1]|, |low - close[t-1]|)

First value at 1 (the first bar has no previous close). Flat bars give 0.
TA-Lib TRANGE: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"high", "low", "close"},
    {},
    {"trange"},
    [](const double*) { return int64_t{1}; }}};

}  // namespace
}  // namespace velk::classic
