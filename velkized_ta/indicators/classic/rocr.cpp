// Rate of change as a ratio.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : lag(int_param(params, 0)), window(lag) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T x, T previous) { return previous != T() ? x / previous : T(); }
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    const bool was_full = window.full();
    const double previous = window.push(x);
    if (!was_full) return false;
    out[0] = value(x, previous);
    return true;
  }
  // Batch kernel: the value timeperiod bars back is read off the input.
  int64_t kernel_lag() const { return lag; }
  void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const { out[0] = value(in[0][t], in[0][t - lag]); }
  template <class V>
  void kernel_lanes(const double* const* in, ptrdiff_t t, V* out) const {
    out[0] = value(load_as<V>(in[0] + t), load_as<V>(in[0] + t - lag));
  }
  void absorb(const double* const* in, ptrdiff_t from, ptrdiff_t to) {
    window.push_many(in[0] + from, static_cast<size_t>(to - from));
  }
  template <class Archive>
  void fields(Archive& a) {
    window.fields(a);
  }
  int64_t lag;
  Ring window;  // the last timeperiod values; the one pushed out is timeperiod bars back
};

const Registrar<State> registered{Descriptor{
    "rocr", "momentum", "Rate of change as a ratio: close / close timeperiod bars back.",
    R"(rocr = x[t] / x[t-timeperiod]

First value at timeperiod. A zero value timeperiod bars back gives 0 (no ratio is defined); flat
prices give 1.
TA-Lib ROCR: same first value, the same operations and the same zero convention.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Bars back to compare with."}},
    {"rocr"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
