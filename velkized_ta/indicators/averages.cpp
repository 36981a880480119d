// Simple averages and regression: moving average, regression slope, midpoint.

#include "indicators/bodies.hpp"

#include <algorithm>

namespace velk::indicators {

namespace {

// Running sum and count of the non-missing values in a sliding window.
struct WindowSum {
  float sum = 0.0f;
  int32_t count = 0;

  void add(float v) {
    if (is_missing(v)) return;
    sum += v;
    ++count;
  }
  void remove(float v) {
    if (is_missing(v)) return;
    sum -= v;
    --count;
  }
};

// Mean of the last `period` values, skipping missing ones; optionally as the
// relative deviation (mean - value) / value.
void sma_kernel(const FloatView& x, const FloatView& out, int32_t period, bool normalize, int32_t start,
                int32_t n) {
  WindowSum window;
  // The first pre-fill position is start - period: with the default window that is
  // -1, the last element, which the first main step removes again.
  for (int64_t k = int64_t{start} - period; k < start; ++k) window.add(x[k]);
  auto step = [&](auto checked, int64_t i) {
    constexpr bool kChecked = decltype(checked)::value;
    window.add(x.at<kChecked>(i));
    window.remove(x.at<kChecked>(i - period));
    if (window.count < 1) return;
    const float mean = window.sum / static_cast<float>(window.count);
    if (normalize) {
      const float v = x.at<kChecked>(i);
      out.put<kChecked>(i, divide(mean - v, v));
    } else {
      out.put<kChecked>(i, mean);
    }
  };
  const int64_t safe_begin = std::max<int64_t>(0, period);
  const int64_t safe_end = std::min({x.size(), out.size(), x.size() + period});
  split_loop(start, n, safe_begin, safe_end, step);
}

}  // namespace

PyObject* velk_sma(Call& call) {
  PyObject* input_array = call.object(0);
  const FloatView& x = call.array(0);
  const int32_t timeperiod = call.integer(1);
  const bool normalize = call.flag(2);
  const int32_t n_values = call.integer(3);

  const int32_t n = call.length(input_array);
  Ref sma = call.new_series(n);
  const FloatView out = call.float_view(sma.get(), true);
  const int32_t start = trailing_start(sub32(timeperiod, 1), n, n_values);
  run_native(n, [&] { sma_kernel(x, out, timeperiod, normalize, start, n); });
  return sma.release();
}

PyObject* velk_lin(Call& call) { return not_implemented(call); }
PyObject* velk_mid(Call& call) { return not_implemented(call); }

PyObject* not_implemented(Call& call) {
  PyErr_Format(PyExc_NotImplementedError, "%s is not implemented yet", call.def().name);
  return nullptr;
}

}  // namespace velk::indicators
