// True range.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 3, outputs = 1;
  // No lanes across series (no OnLanes): with no recurrence, each column's vector kernel already
  // runs at the speed of memory, and a wide table's columns in lanes measured no faster.
  explicit State(const double*) {}
  static constexpr bool stream_outputs = true;  // a light formula: bound by memory on long series
  FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> first = flag_not(has_previous);
    const T previous = previous_close;
    previous_close = bar[2];
    has_previous = flag_of<T>(true);
    if (all_set(first)) return flag_of<T>(false);
    out[0] = true_range(bar[0], bar[1], previous);
    return flag_not(first);
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
  T previous_close = splat<T>(0.0);
  FlagOf<T> has_previous = flag_of<T>(false);
};

const Registrar<State<double>> registered{Descriptor{
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
