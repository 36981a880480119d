// Candle and spread measures.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "driver/lanes.hpp"
#include "driver/loop.hpp"
#include "indicators/combination_steps.hpp"
#include "indicators/declarations/adif.hpp"
#include "indicators/declarations/rdif.hpp"
#include "indicators/declarations/wick.hpp"
#include "indicators/position_queue.hpp"
#include "indicators/route.hpp"

namespace velk::indicators {

namespace {

// Wick balance of a synthetic candle spanning the last `period` bars: its open is
// the close `period` bars back, its high and low the window's extremes.
template <class A>
inline void write_wick(A at, const FloatView& close, const FloatView& out, int64_t i, int32_t period, float max_high,
                       float min_low) {
  const int64_t open_at = i - period;
  if (open_at < 0) {
    // Stored explicitly: with a period of zero or below, i itself is negative
    // and addresses the end of the series.
    at.put(out, i, std::numeric_limits<float>::quiet_NaN());
    return;
  }
  const float open = at.get(close, open_at);
  const float c = at.get(close, i);
  at.put(out, i, divide(wick_balance(open, c, max_high, min_low), c));
}

struct AbsoluteDifference {
  template <typename T>
  T operator()(T left, T reference) const {
    return left - reference;
  }
};

// Lane by lane what relative_difference gives (indicators/combination_steps.hpp).
struct RelativeDifference {
  float operator()(float left, float reference) const { return relative_difference(left, reference); }
  Wide operator()(Wide left, Wide reference) const {
    Wide q = (left - reference) / reference;
    if (any(reference == Wide{})) {
      for (int k = 0; k < kWide; ++k) q[k] = (*this)(left[k], reference[k]);
    }
    return q;
  }
};

// out[i] = op(a[i], b[i]) for i = from .. n - 1, a read before b. Positions every
// view holds run in wide lanes when the views are contiguous and the output
// shares no memory with the inputs.
template <class Op>
void dif_kernel(const FloatView a, const FloatView b, const FloatView out, int32_t from, int32_t n, Op op) {
  int64_t i = from;
  const Stretch packed = unchecked_stretch(from, n, {reach(a), reach(b), reach(out)});
  if (packed.begin == from && a.contiguous() && b.contiguous() && out.contiguous() &&
      separate({Span(out)}, {Span(a), Span(b)})) {
    for (; i + kWide <= packed.end; i += kWide) store_wide(out, i, op(load_wide(a, i), load_wide(b, i)));
  }
  run_steps(i, n, {reach(a), reach(b), reach(out)}, [&](auto at, int64_t j) {
    const float left = at.get(a, j);
    at.put(out, j, op(left, at.get(b, j)));
  });
}

// The bodies, one per function for both routes (indicators/route.hpp).
template <class Op>
struct DifBody {
  template <class Route, class Args>
  void operator()(Route& route, const Args& args) const {
    const int32_t n = route.length(args.input_array_1);
    const FloatView out = route.output_written_whole(n);
    const int32_t m = std::min(n, args.n_values);
    route.run_wide(n, [&] {
      fill_unwritten(out, 0, m > 0 ? n - m : n);
      if (m > 0) dif_kernel(args.input_array_1.view, args.input_array_2.view, out, n - m, n, Op{});
    });
  }
};

template <class Route>
void wick_body(Route& route, const Wick::Args& args) {
  const int32_t n = route.length(args.close_arr);
  const FloatView out = route.output_written_whole(n);
  const int32_t period = args.timeperiod;
  const int32_t k = trailing_start(sub32(period, 1), n, args.n_values);
  const IntView high_slots = route.positions(n);
  const IntView low_slots = route.positions(n);
  route.run(n, [&] {
    fill_unwritten(out, 0, k);
    window_extremes<Expiry::Wrapping32>(
        args.high_arr.view, args.low_arr.view, args.close_arr.view, out, high_slots, low_slots, period, k, n,
        {reach(args.close_arr.view, {0, -int64_t{period}}), reach(out)},
        [period](auto at, const FloatView& close, const FloatView& wick, int64_t i, float hh, float ll) {
          write_wick(at, close, wick, i, period, hh, ll);
        });
  });
}

}  // namespace

PyObject* Wick::run(Call& call, const Args& args) { return exact_entry(call, args, wick_body<ExactRoute>); }
PyObject* Adif::run(Call& call, const Args& args) { return exact_entry(call, args, DifBody<AbsoluteDifference>{}); }
PyObject* Rdif::run(Call& call, const Args& args) { return exact_entry(call, args, DifBody<RelativeDifference>{}); }

template <>
void compute_series<Wick>(const Wick::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, wick_body<SeriesRoute>);
}
template <>
void compute_series<Adif>(const Adif::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, DifBody<AbsoluteDifference>{});
}
template <>
void compute_series<Rdif>(const Rdif::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, DifBody<RelativeDifference>{});
}

}  // namespace velk::indicators
