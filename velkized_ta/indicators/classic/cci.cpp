// Commodity channel index.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// The mean deviation needs the whole window each bar, so the mean is summed afresh there too
// (O(timeperiod) per bar, as in TA-Lib; nothing can drift).
struct State {
  static constexpr int inputs = 3, outputs = 1;
  explicit State(const double* params) : typical(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double price = typical_price(bar[0], bar[1], bar[2]);
    typical.push(price);
    if (!typical.full()) return false;
    const size_t n = typical.size();
    const double mean = typical.sum() / static_cast<double>(n);
    double deviations = 0.0;
    for (size_t i = 0; i < n; ++i) deviations += std::fabs(typical.oldest(i) - mean);
    out[0] = index(price, mean, deviations / static_cast<double>(n));
    return true;
  }
  // The same over a run, a chunk at a time: the chunk's typical prices after the window's older
  // ones in `scratch` (kept in cache), two bars at a time in lanes, each lane the step's
  // operations in order.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    constexpr ptrdiff_t chunk = 2048;
    const ptrdiff_t n = static_cast<ptrdiff_t>(typical.capacity());
    scratch.resize(static_cast<size_t>(n - 1 + chunk));
    ptrdiff_t older = std::min<ptrdiff_t>(static_cast<ptrdiff_t>(typical.size()), n - 1);
    ptrdiff_t missing = n - static_cast<ptrdiff_t>(typical.size());  // values until the window is full
    double* prices = scratch.data();
    typical.each_newest(older, [&](double value) { *prices++ = value; });
    for (ptrdiff_t begin = from; begin < to; begin += chunk) {
      const ptrdiff_t end = std::min(to, begin + chunk);
      double* const fresh = scratch.data() + older;
      for (ptrdiff_t t = begin; t < end; ++t) fresh[t - begin] = typical_price(in[0][t], in[1][t], in[2][t]);
      typical.push_many(fresh, static_cast<size_t>(end - begin));
      run_chunk(fresh - begin, begin, end, n, missing, out[0]);
      const ptrdiff_t held = older + (end - begin);
      const ptrdiff_t kept = std::min(held, n - 1);
      std::copy(scratch.data() + held - kept, scratch.data() + held, scratch.data());
      older = kept;
    }
  }
  // Bars begin .. end - 1 with x[t] bar t's typical price (and x[t - n + 1 ..] the window), the
  // first `missing` of them before the window is full.
  template <class Out>
  static void run_chunk(const double* x, ptrdiff_t begin, ptrdiff_t end, ptrdiff_t n, ptrdiff_t& missing, Out* out) {
    const double size = static_cast<double>(n);
    ptrdiff_t t = begin;
    for (; t < end && missing > 1; ++t, --missing) out[t] = static_cast<Out>(nan_value);
    if (t < end) missing = 0;
#if defined(VELK_CLASSIC_LANES)
    const LaneMask magnitude_bits = {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()};
    for (; t + 1 < end; t += 2) {
      const double* window = x + t + 1 - n;
      Lanes sum = {0.0, 0.0};
      for (ptrdiff_t i = 0; i < n; ++i) sum += load_as<Lanes>(window + i);
      const Lanes mean = sum / size;
      Lanes deviations = {0.0, 0.0};
      for (ptrdiff_t i = 0; i < n; ++i) deviations += (Lanes)((LaneMask)(load_as<Lanes>(window + i) - mean) & magnitude_bits);
      const Lanes mean_deviation = deviations / size;
      const Lanes distance = load_as<Lanes>(x + t) - mean;
      const Lanes quotient = distance / (0.015 * mean_deviation);
      const Lanes zero = {0.0, 0.0};
      const Lanes value = (Lanes)((LaneMask)quotient & ((distance != zero) & (mean_deviation != zero)));
      out[t] = static_cast<Out>(value[0]);
      out[t + 1] = static_cast<Out>(value[1]);
    }
#endif
    for (; t < end; ++t) {
      const double* window = x + t + 1 - n;
      double sum = 0.0;
      for (ptrdiff_t i = 0; i < n; ++i) sum += window[i];
      const double mean = sum / size;
      double deviations = 0.0;
      for (ptrdiff_t i = 0; i < n; ++i) deviations += std::fabs(window[i] - mean);
      out[t] = static_cast<Out>(index(x[t], mean, deviations / size));
    }
  }
  static double typical_price(double high, double low, double close) { return (high + low + close) / 3.0; }
  static double index(double price, double mean, double mean_deviation) {
    const double distance = price - mean;
    return distance != 0.0 && mean_deviation != 0.0 ? distance / (0.015 * mean_deviation) : 0.0;
  }
  template <class Archive>
  void fields(Archive& a) {
    typical.fields(a);
  }
  Ring typical;
  std::vector<double> scratch;  // the run kernel's typical prices, not part of the state
};

const Registrar<State> registered{Descriptor{
    "cci", "momentum", "Commodity channel index: the typical price's distance from its mean in mean deviations.",
    R"(tp = (high + low + close) / 3
cci = (tp - mean(tp)) / (0.015 * mean |tp - mean(tp)|) over timeperiod bars

First value at timeperiod - 1. A zero mean deviation (flat prices) gives 0, as TA-Lib does.
TA-Lib CCI: same first value; the window is summed afresh every bar as TA-Lib does.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 2.1e-12 on a 10^6-bar random walk, 1.1e-12 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Bars in the window."}},
    {"cci"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
