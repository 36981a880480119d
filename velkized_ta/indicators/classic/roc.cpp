// Rate of change.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params) : lag(int_param(params, 0)), window(lag + 1) {}
  // Scalar or lanes of bars alike.
  template <class T>
  static T value(T now, T before) { return before != T() ? (now / before - 1.0) * 100.0 : T(); }
  bool step(const double* bar, double* out) {
    window.push(bar[0]);
    if (!window.full()) return false;
    out[0] = value(bar[0], window.oldest(0));
    return true;
  }
  // Batch kernel: the close timeperiod bars back is read off the input.
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
  Ring window;  // the last timeperiod + 1 closes
};

const Registrar<State> registered{Descriptor{
    "roc", "momentum", "Rate of change: the percentage change of the close over timeperiod bars.",
    R"(roc = (close[t] / close[t - timeperiod] - 1) * 100

First value at timeperiod. A zero earlier close gives 0, as TA-Lib does; flat prices give 0.
TA-Lib ROC: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Bars back."}},
    {"roc"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
