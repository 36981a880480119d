// Momentum oscillators: rate of change, RSI, CMO, Williams %R, fast stochastic,
// ultimate oscillator, commodity channel index.

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>

#include "frame/numpy_interface.hpp"
#include "indicators/declarations/cci.hpp"
#include "indicators/declarations/cmo.hpp"
#include "indicators/declarations/roc.hpp"
#include "indicators/declarations/rsi.hpp"
#include "indicators/declarations/stochf.hpp"
#include "indicators/declarations/ult.hpp"
#include "indicators/declarations/willr.hpp"
#include "driver/lanes.hpp"
#include "driver/loop.hpp"
#include "indicators/momentum.hpp"
#include "indicators/oscillator_steps.hpp"
#include "indicators/position_queue.hpp"
#include "indicators/route.hpp"

namespace velk::indicators {

namespace {

// ---------------------------------------------------------------------------
// Rate of change

// Its element access behaves like numpy item indexing, so out-of-range
// positions raise numpy's IndexError rather than the buffer one.
struct ItemIndexError {
  int64_t index;
  int64_t size;
};

int64_t item_position(const FloatView& v, int64_t p) {
  if (p < -v.size() || p >= v.size()) throw ItemIndexError{p, v.size()};
  return p < 0 ? p + v.size() : p;
}

// Wide lanes over contiguous series; a lane with a zero base is redone alone.
int64_t roc_packed(const FloatView x, const FloatView out, int64_t period, int64_t begin, int64_t end) {
  int64_t i = begin;
  for (; i + kWide <= end; i += kWide) {
    const Wide current = load_wide(x, i);
    const Wide base = load_wide(x, i - period);
    const Wide change = current - base;
    Wide q = change / base;
    const WideMask zero = base == 0.0f;
    if (any(zero)) {
      for (int k = 0; k < kWide; ++k)
        if (zero[k]) q[k] = zero_base_quotient(change[k]);
    }
    store_wide(out, i, q);
  }
  return i;
}

void roc_kernel(const FloatView x, const FloatView out, int32_t period, int32_t start, int32_t n) {
  auto step = [&](auto at, int64_t i) {
    if constexpr (decltype(at)::checked) {
      const float current = x.get_unchecked(item_position(x, i));
      const float base = x.get_unchecked(item_position(x, i - period));
      out.set_unchecked(item_position(out, i), relative_change(current, base));
    } else {
      at.put(out, i, relative_change(at.get(x, i), at.get(x, i - period)));
    }
  };
  const auto reaches = {reach(x, {0, -int64_t{period}}), reach(out)};
  const Stretch fast = unchecked_stretch(start, n, reaches);
  int64_t from = start;
  if (x.contiguous() && out.contiguous()) {
    run_steps(start, fast.begin, reaches, step);
    from = roc_packed(x, out, period, fast.begin, fast.end);
  }
  run_steps(from, n, reaches, step);
}

// ---------------------------------------------------------------------------
// RSI and CMO


void rsi_kernel(const FloatView close, const FloatView out, int32_t period, int32_t start, int32_t n) {
  RsiState rsi;
  const auto changes = {reach(close, {-1, 0})};
  const auto reaches = {reach(close, {-1, 0}), reach(out)};
  run_steps(1, int64_t{period} + 1, changes, [&](auto at, int64_t i) { rsi.seed(at.get(close, i) - at.get(close, i - 1)); });
  const float p = static_cast<float>(period);
  auto smooth = [&](auto at, int64_t i) {
    const float change = at.get(close, i) - at.get(close, i - 1);
    if (period == 0) throw FloatDivision{};
    rsi.step(change, p);
  };
  run_steps(int64_t{period} + 1, start, changes, smooth);
  run_steps(start, n, reaches, [&](auto at, int64_t i) {
    smooth(at, i);
    at.put(out, i, rsi.value());
  });
}

void cmo_kernel(const FloatView close, const FloatView out, int32_t period, int32_t start, int32_t n) {
  CmoState cmo;
  for (int64_t i = int64_t{start} - period + 1; i <= start; ++i) cmo.enter_seed(close[i] - close[i - 1]);
  out.set(start, cmo.value());
  const int64_t p = period;
  run_steps(int64_t{start} + 1, n, {reach(close, {0, -1, -p, -p - 1}), reach(out)}, [&](auto at, int64_t i) {
    const float entering = at.get(close, i) - at.get(close, i - 1);
    const float leaving = at.get(close, i - p) - at.get(close, i - p - 1);
    cmo.slide(entering, leaving);
    at.put(out, i, cmo.value());
  });
}

// ---------------------------------------------------------------------------
// Williams %R and fast stochastic share the window extremes.

enum class RangeFraction { FromHigh, FromLow };

// The close's place in the window's range; a range of width 0 leaves NaN.
template <RangeFraction kind, class A>
inline void write_range_fraction(A at, const FloatView& close, const FloatView& out, int64_t i, float highest_high,
                                 float lowest_low) {
  if (highest_high == lowest_low) return;  // before reading the close, as the loop always did
  float fraction;
  range_fraction<kind == RangeFraction::FromHigh>(at.get(close, i), highest_high, lowest_low, fraction);
  at.put(out, i, fraction);
}

// `first_position(n)` gives the first written position for a series of length n.
template <RangeFraction kind, class Route, class Args, typename FirstPosition>
void extreme_range_body(Route& route, const Args& args, FirstPosition first_position) {
  const int32_t period = args.timeperiod;
  const FloatView& high = args.high_arr.view;
  const FloatView& low = args.low_arr.view;
  const FloatView& close = args.close_arr.view;
  const int32_t n = route.length(args.close_arr);
  const int32_t start = first_position(n);

  const FloatView out = route.output(n);
  const IntView high_slots = route.positions(n);
  const IntView low_slots = route.positions(n);

  route.run(n, [&] {
    window_extremes<Expiry::Exact>(
        high, low, close, out, high_slots, low_slots, period, start, n, {reach(close), reach(out)},
        [](auto at, const FloatView& c, const FloatView& result, int64_t i, float highest_high, float lowest_low) {
          write_range_fraction<kind>(at, c, result, i, highest_high, lowest_low);
        });
  });
}

// ---------------------------------------------------------------------------
// Ultimate oscillator

using Bar = PressureAndRange;

// Bar j's buying pressure and true range; the reads keep the order of the checked loop.
template <class A>
[[gnu::always_inline]] inline Bar bar_at(A at, const FloatView& high, const FloatView& low, const FloatView& close,
                                         int64_t j) {
  const float previous = at.get(close, j - 1);
  const float l = at.get(low, j);
  const float h = at.get(high, j);
  return pressure_and_range(previous, l, h, at.get(close, j));
}

struct UltPeriods {
  int32_t short_period;
  int32_t medium_period;
  int32_t long_period;
};

void ult_kernel(const FloatView high, const FloatView low, const FloatView close, const FloatView out,
                UltPeriods periods, int32_t start, int32_t n) {
  const int64_t s_period = periods.short_period;
  const int64_t m_period = periods.medium_period;
  const int64_t l_period = periods.long_period;
  float bp_short = 0.0f, tr_short = 0.0f, bp_medium = 0.0f, tr_medium = 0.0f, bp_long = 0.0f, tr_long = 0.0f;
  for (int64_t j = int64_t{start} - l_period; j < start; ++j) {
    const Bar bar = bar_at(Checked{}, high, low, close, j);
    bp_long += bar.bp;
    tr_long += bar.tr;
    if (j >= int64_t{start} - m_period) {
      bp_medium += bar.bp;
      tr_medium += bar.tr;
    }
    if (j >= int64_t{start} - s_period) {
      bp_short += bar.bp;
      tr_short += bar.tr;
    }
  }
  const int32_t weight_sum = add32(add32(periods.short_period, periods.medium_period), periods.long_period);
  const float s = static_cast<float>(periods.short_period);
  const float m = static_cast<float>(periods.medium_period);
  const float l = static_cast<float>(periods.long_period);
  const float w = static_cast<float>(weight_sum);
  auto step = [&](auto at, int64_t i) {
    const Bar entering = bar_at(at, high, low, close, i);
    const Bar leaving_short = bar_at(at, high, low, close, i - s_period);
    bp_short = bp_short + (entering.bp - leaving_short.bp);
    tr_short = tr_short + (entering.tr - leaving_short.tr);
    const Bar leaving_medium = bar_at(at, high, low, close, i - m_period);
    bp_medium = bp_medium + (entering.bp - leaving_medium.bp);
    tr_medium = tr_medium + (entering.tr - leaving_medium.tr);
    const Bar leaving_long = bar_at(at, high, low, close, i - l_period);
    bp_long = bp_long + (entering.bp - leaving_long.bp);
    tr_long = tr_long + (entering.tr - leaving_long.tr);
    guard_range(tr_short);
    guard_range(tr_medium);
    guard_range(tr_long);
    if (weight_sum == 0) throw FloatDivision{};
    at.put(out, i, ultimate_value(bp_short, tr_short, bp_medium, tr_medium, bp_long, tr_long, s, m, l, w));
  };
  // Bars i - P read positions i - P - 1 .. i - P for P in {0, short, medium, long}.
  const std::initializer_list<int64_t> bars = {0, -s_period, -m_period, -l_period, -1, -s_period - 1, -m_period - 1, -l_period - 1};
  run_steps(start, n, {reach(high, bars), reach(low, bars), reach(close, bars), reach(out)}, step);
}

// ---------------------------------------------------------------------------
// Commodity channel index

// The spread is the population deviation from running sums, which rounding can
// push to zero or below; zero scores 0, below zero gives NaN. The root of the
// first negative variance is left to numpy, so that numpy's invalid-value
// warning (or error, under np.errstate) is what the caller sees; its value then
// stands for every later negative variance.
struct CciState {
  float sum = 0.0f;
  float sum_squared = 0.0f;
  bool negative_root_known = false;
  double negative_root = 0.0;
  // Left by a run that stopped at a negative variance.
  float pending_variance = 0.0f;
  float pending_deviation = 0.0f;
};

// Scores the window at `at`; false when it needs numpy's root of a negative
// variance first (then `variance` and `deviation` hold what it needs).
template <class A>
[[gnu::always_inline]] inline bool cci_score(A access, const FloatView& out, int64_t at, float tp, float sum,
                                             float sum_squared, float p, bool negative_root_known,
                                             double negative_root, float& variance, float& deviation) {
  float mean;
  window_moments(sum, sum_squared, p, mean, variance);
  if (variance == 0.0f) {
    access.put(out, at, 0.0f);
    return true;
  }
  double root;
  if (!(variance < 0.0f)) {
    root = std::sqrt(static_cast<double>(variance));
  } else if (negative_root_known) {
    root = negative_root;
  } else {
    deviation = tp - mean;
    return false;
  }
  access.put(out, at, cci_scaled(tp - mean, root));
  return true;
}

// Runs the window over positions from .. n - 1; returns where it stopped for a
// negative variance's root, or n.
int64_t cci_run(const FloatView tp, const FloatView out, CciState& state, int32_t period,
                                 int64_t from, int32_t n) {
  if (period == 0) {
    if (from < n) {
      (void)tp[from];
      throw FloatDivision{};
    }
    return n;
  }
  // Locals, so the running state stays in registers.
  const float p = static_cast<float>(period);
  const bool negative_root_known = state.negative_root_known;
  const double negative_root = state.negative_root;
  float sum = state.sum;
  float sum_squared = state.sum_squared;
  float variance = 0.0f;
  float deviation = 0.0f;
  auto step = [&](auto at, int64_t i) {
    const float old_tp = at.get(tp, i - period);
    const float new_tp = at.get(tp, i);
    sum = sum + (new_tp - old_tp);
    sum_squared = sum_squared + (new_tp * new_tp - old_tp * old_tp);
    return cci_score(at, out, i, new_tp, sum, sum_squared, p, negative_root_known, negative_root, variance,
                               deviation);
  };
  const int64_t stopped = run_steps(from, n, {reach(tp, {0, -int64_t{period}}), reach(out)}, step);
  state.sum = sum;
  state.sum_squared = sum_squared;
  state.pending_variance = variance;
  state.pending_deviation = deviation;
  return stopped;
}

// Takes numpy's root for the variance a run stopped at and writes that position.
template <class Route>
void finish_pending(Route& route, const FloatView& out, CciState& state, int64_t at) {
  state.negative_root = route.negative_root(static_cast<double>(state.pending_variance));
  state.negative_root_known = true;
  out.set(at, cci_scaled(state.pending_deviation, state.negative_root));
}

template <class Route>
void cci_kernel(Route& route, const FloatView& tp, const FloatView& out, int32_t period, int32_t start, int32_t n,
                int32_t n_values) {
  CciState state;
  route.run(period, [&] {
    for (int64_t j = int64_t{start} - period; j < start; ++j) {
      const float v = tp[j];
      state.sum += v;
      state.sum_squared += v * v;
    }
  });
  // The window ending just before start is complete and wanted only when start
  // is the warm-up end itself.
  if (int64_t{start} - 1 >= sub32(n, n_values)) {
    if (period == 0) throw FloatDivision{};
    const int64_t at = int64_t{start} - 1;
    if (!cci_score(Checked{}, out, at, tp[at], state.sum, state.sum_squared, static_cast<float>(period), false, 0.0,
                   state.pending_variance, state.pending_deviation))
      finish_pending(route, out, state, at);
  }
  int64_t from = start;
  for (;;) {
    int64_t stopped = n;
    route.run(int64_t{n} - from, [&] { stopped = cci_run(tp, out, state, period, from, n); });
    if (stopped >= n) return;
    finish_pending(route, out, state, stopped);
    from = stopped + 1;
  }
}

// ((high + low) + close) / 3 as numpy evaluates it, broadcasting and errors included.
Ref typical_price(PyObject* high, PyObject* low, PyObject* close) {
  Ref high_low = checked(PyNumber_Add(high, low));
  Ref total = checked(PyNumber_Add(high_low.get(), close));
  Ref three = py_int(3);
  return checked(PyNumber_TrueDivide(total.get(), three.get()));
}

// Lanes where both operands are NaN with different bits: which one a sum carries
// is up to how numpy's loop was compiled, so such an input is left to numpy.
Mask nan_clash(Lanes a, Lanes b) { return (a != a) & (b != b) & (bits_of(a) != bits_of(b)); }

// The float32 steps of the expression, four lanes at a time; false on a NaN
// clash. Kept out of line so the arithmetic stays between the clearing and the
// testing of the exception flags.
template <bool kContiguous>
[[gnu::noinline]] bool typical_price_lanes(const FloatView high, const FloatView low, const FloatView close,
                                           float* tp, int64_t n) {
  Mask clash{};
  auto block = [&](int64_t i, int64_t count) {
    const Lanes h = load_lanes<kContiguous>(high, i, count);
    const Lanes l = load_lanes<kContiguous>(low, i, count);
    const Lanes c = load_lanes<kContiguous>(close, i, count);
    const Lanes pair = h + l;
    const Lanes total = pair + c;
    clash |= nan_clash(h, l) | nan_clash(pair, c);
    const Lanes quotient = total / 3.0f;
    std::memcpy(tp + i, &quotient, sizeof(float) * count);
  };
  int64_t i = 0;
  for (; i + kLanes <= n; i += kLanes) block(i, kLanes);
  if (i < n) block(i, n - i);
  return !any(clash);
}

// The float32 steps of the expression into `tp`; false where they may not give numpy's bits or
// numpy would have had something to report (a NaN clash, a floating-point exception raised).
template <class Route>
bool typical_price_natively(Route& route, const FloatView& h, const FloatView& l, const FloatView& c, int32_t n,
                            float* tp) {
  bool exact = false;
  route.run(n, [&] {
    std::feclearexcept(FE_ALL_EXCEPT);
    const bool contiguous = h.contiguous() && l.contiguous() && c.contiguous();
    exact = (contiguous ? typical_price_lanes<true>(h, l, c, tp, n) : typical_price_lanes<false>(h, l, c, tp, n)) &&
            !std::fetestexcept(FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO | FE_UNDERFLOW);
  });
  return exact;
}

// Below this many elements numpy 1.x's arithmetic is not worth verifying.
constexpr int32_t kCostlyCheckThreshold = 1 << 15;

// The typical price computed natively into `tp`, when that provably gives numpy's
// bits and numpy would have had nothing to report; false, leaving the expression to numpy, otherwise.
bool native_typical_price(ExactRoute& route, PyObject* high, PyObject* low, PyObject* close, int32_t n, float* tp) {
  Call& call = route.call();
  FloatView h, l, c;
  if (!call.plain_float_view(high, n, h) || !call.plain_float_view(low, n, l) || !call.plain_float_view(close, n, c))
    return false;
  if (!numpy_arithmetic_is_own(n >= kCostlyCheckThreshold)) return false;
  return typical_price_natively(route, h, l, c, n, tp);
}

// The bodies, one per function for both routes (indicators/route.hpp).

template <class Route>
void roc_body(Route& route, const Roc::Args& args) {
  const FloatView& x = args.input_array.view;
  const int32_t n = route.length(args.input_array);
  const FloatView out = route.output_written_whole(n);
  const int32_t start = trailing_start(args.timeperiod, n, args.n_values);
  route.run_wide(n, [&] {
    fill_unwritten(out, 0, start);
    roc_kernel(x, out, args.timeperiod, start, n);
  });
}

template <class Route>
void rsi_body(Route& route, const Rsi::Args& args) {
  const FloatView& x = args.close.view;
  const int32_t n = route.length(args.close);
  const FloatView out = route.output_written_whole(n);
  const int32_t start = trailing_start(add32(args.timeperiod, 1), n, args.n_values);
  route.run(n, [&] {
    fill_unwritten(out, 0, start);
    rsi_kernel(x, out, args.timeperiod, start, n);
  });
}

template <class Route>
void cmo_body(Route& route, const Cmo::Args& args) {
  const FloatView& x = args.close_arr.view;
  const int32_t n = route.length(args.close_arr);
  const FloatView out = route.output_written_whole(n);
  const int32_t start = trailing_start(args.timeperiod, n, args.n_values);
  route.run(n, [&] {
    fill_unwritten(out, 0, start);
    cmo_kernel(x, out, args.timeperiod, start, n);
  });
}

template <class Route>
void willr_body(Route& route, const Willr::Args& args) {
  extreme_range_body<RangeFraction::FromHigh>(
      route, args, [&](int32_t n) { return trailing_start(sub32(args.timeperiod, 1), n, args.n_values); });
}

// `stream` and `last_value_only` are accepted for compatibility; every call returns the full series.
template <class Route>
void stochf_body(Route& route, const Stochf::Args& args) {
  extreme_range_body<RangeFraction::FromLow>(route, args, [&](int32_t) { return sub32(args.timeperiod, 1); });
}

template <class Route>
void ult_body(Route& route, const Ult::Args& args) {
  const UltPeriods periods{args.short_period, args.medium_period, args.long_period};
  const int32_t n = route.length(args.close_arr);
  const FloatView out = route.output(n);
  const int32_t start = trailing_start(periods.long_period, n, args.n_values);
  route.run(n, [&] { ult_kernel(args.high_arr.view, args.low_arr.view, args.close_arr.view, out, periods, start, n); });
}

// The typical price is computed natively where that gives numpy's bits (the many-series route
// hands the series back otherwise), the window natively but for the root of a negative variance.
template <class Route>
void cci_body(Route& route, const Cci::Args& args) {
  const int32_t n = route.length(args.close_arr);
  const int32_t start = trailing_start(args.timeperiod, n, args.n_values);
  const FloatView out = route.output(n);
  auto run = [&](const FloatView& tp) { cci_kernel(route, tp, out, args.timeperiod, start, n, args.n_values); };
  if constexpr (Route::kExact) {
    ScratchBuffer<float, 512> native(static_cast<uint64_t>(std::max(n, 0)));
    if (native.get() &&
        native_typical_price(route, args.high_arr.object, args.low_arr.object, args.close_arr.object, n, native.get()))
      return run(FloatView(reinterpret_cast<char*>(native.get()), n, sizeof(float)));
    Ref typical = typical_price(args.high_arr.object, args.low_arr.object, args.close_arr.object);
    run(route.call().float_view(typical.get(), false));
  } else {
    const Series* prices[] = {&args.high_arr, &args.low_arr, &args.close_arr};
    for (const Series* s : prices)
      if (!route.plain_array(s->object, s->view.size(), n)) throw HandToPython{};
    const FloatView tp = route.work_series(n).view;
    if (!route.context().numpy_arithmetic_own ||
        !typical_price_natively(route, args.high_arr.view, args.low_arr.view, args.close_arr.view, n,
                                reinterpret_cast<float*>(tp.data())))
      throw HandToPython{};
    run(tp);
  }
}

}  // namespace

PyObject* Roc::run(Call& call, const Args& args) {
  try {
    return exact_entry(call, args, roc_body<ExactRoute>);
  } catch (const ItemIndexError& e) {
    PyErr_Format(PyExc_IndexError, "index %lld is out of bounds for axis 0 with size %lld",
                 static_cast<long long>(e.index), static_cast<long long>(e.size));
    throw PythonError{};
  }
}
PyObject* Rsi::run(Call& call, const Args& args) { return exact_entry(call, args, rsi_body<ExactRoute>); }
PyObject* Cmo::run(Call& call, const Args& args) { return exact_entry(call, args, cmo_body<ExactRoute>); }
PyObject* Willr::run(Call& call, const Args& args) { return exact_entry(call, args, willr_body<ExactRoute>); }
PyObject* Stochf::run(Call& call, const Args& args) { return exact_entry(call, args, stochf_body<ExactRoute>); }
PyObject* Ult::run(Call& call, const Args& args) { return exact_entry(call, args, ult_body<ExactRoute>); }
PyObject* Cci::run(Call& call, const Args& args) { return exact_entry(call, args, cci_body<ExactRoute>); }

template <>
void compute_series<Roc>(const Roc::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, roc_body<SeriesRoute>);
}
template <>
void compute_series<Rsi>(const Rsi::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, rsi_body<SeriesRoute>);
}
template <>
void compute_series<Cmo>(const Cmo::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, cmo_body<SeriesRoute>);
}
template <>
void compute_series<Willr>(const Willr::Args& args, const FloatView& out, Workspace& work,
                           const BatchContext& context) {
  series_entry(args, out, work, context, willr_body<SeriesRoute>);
}
template <>
void compute_series<Stochf>(const Stochf::Args& args, const FloatView& out, Workspace& work,
                            const BatchContext& context) {
  series_entry(args, out, work, context, stochf_body<SeriesRoute>);
}
template <>
void compute_series<Ult>(const Ult::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, ult_body<SeriesRoute>);
}
template <>
void compute_series<Cci>(const Cci::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, cci_body<SeriesRoute>);
}

}  // namespace velk::indicators
