// Directional movement and volatility: DX, ADX, ADXR and the normalised
// average true range, all smoothed with Wilder's running average.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "indicators/declarations.hpp"
#include "driver/lanes.hpp"
#include "driver/loop.hpp"
#include "indicators/wilder.hpp"

namespace velk::indicators {

namespace {

// True range of a bar against the previous close. The comparisons are strict, so a
// NaN candidate never replaces the bar's own range (a NaN previous close is ignored).
float true_range(float high, float low, float previous_close) {
  float range = high - low;
  const float from_high = std::fabs(high - previous_close);
  if (from_high > range) range = from_high;
  const float from_low = std::fabs(low - previous_close);
  if (from_low > range) range = from_low;
  return range;
}

struct Prices {
  FloatView high;
  FloatView low;
  FloatView close;


  template <class A>
  float true_range_at(int64_t i) const {
    return true_range(A::get(high, i), A::get(low, i), A::get(close, i - 1));
  }
};

// A bar's +dm, -dm and true range, in the lanes of the averages they feed.
constexpr int kPlus = 0;
constexpr int kMinus = 1;
constexpr int kRange = 2;

// Only the larger of the two moves counts, and only when it is positive;
// equal moves and NaN prices count as no movement at all. Selected lane-wise
// without branches: which move wins is a coin toss on real prices.
template <class A>
Lanes directional_bar(const Prices& prices, int64_t i) {
  const float high = A::get(prices.high, i);
  const float low = A::get(prices.low, i);
  const float previous_close = A::get(prices.close, i - 1);
  const float up = high - A::get(prices.high, i - 1);
  const float down = A::get(prices.low, i - 1) - low;
  const Lanes moves{up, down, 0.0f, 0.0f};
  const Lanes rivals{down, up, 0.0f, 0.0f};
  Lanes bar = (moves > rivals) & (moves > Lanes{}) ? moves : Lanes{};
  bar[kRange] = true_range(high, low, previous_close);
  return bar;
}

// The per-bar work series; they are kept in step with the averages although
// nothing reads them back.
struct DirectionalWork {
  FloatView plus_dm;
  FloatView minus_dm;
  FloatView tr;


  template <class A>
  void store(int64_t i, const Lanes& bar) const {
    A::put(tr, i, bar[kRange]);
    A::put(plus_dm, i, bar[kPlus]);
    A::put(minus_dm, i, bar[kMinus]);
  }
};

void dx_kernel(const Prices prices, const DirectionalWork work, const FloatView dx, int32_t timeperiod,
               int32_t n_values, int32_t n) {
  // Bar i reads the prices at i and i - 1 and stores the work series at i.
  const auto bar_reaches = {reach(prices.high, {-1, 0}), reach(prices.low, {-1, 0}), reach(prices.close, {-1}),
                            reach(work.plus_dm), reach(work.minus_dm), reach(work.tr)};
  const auto reaches = {reach(prices.high, {-1, 0}), reach(prices.low, {-1, 0}), reach(prices.close, {-1}),
                        reach(work.plus_dm), reach(work.minus_dm), reach(work.tr), reach(dx)};
  Lanes sums{};
  run_steps(1, int64_t{timeperiod} + 1, bar_reaches, [&](auto at, int64_t i) {
    using A = decltype(at);
    const Lanes bar = directional_bar<A>(prices, i);
    work.store<A>(i, bar);
    sums[kPlus] += bar[kPlus];
    sums[kMinus] += bar[kMinus];
    sums[kRange] += bar[kRange];
  });
  // A zero period fails here for any input, even an empty one.
  if (timeperiod == 0) throw FloatDivision{};
  const float period = static_cast<float>(timeperiod);
  const int32_t first = add32(timeperiod, 1);
  const int32_t start = trailing_start(first, n, n_values);

  const WilderSmoothing wilder(timeperiod);
  Lanes averages{sums[kPlus] / period, sums[kMinus] / period, sums[kRange] / period, 0.0f};
  auto advance = [&](auto at, int64_t i) {
    using A = decltype(at);
    const Lanes bar = directional_bar<A>(prices, i);
    work.store<A>(i, bar);
    averages = wilder.step(averages, bar);
  };
  // Positions before the trailing window only advance the averages: no division
  // by the range there, so flat stretches outside the window raise nothing.
  run_steps(first, start, bar_reaches, advance);
  run_steps(start, n, reaches, [&](auto at, int64_t i) {
    advance(at, i);
    const float atr = averages[kRange];
    if (atr == 0.0f) throw FloatDivision{};
    const Lanes indicators = averages / atr;
    const float plus_di = indicators[kPlus];
    const float minus_di = indicators[kMinus];
    at.put(dx, i, divide(std::fabs(plus_di - minus_di), plus_di + minus_di));
  });
}

// Wilder average of a series from `seed`: positions begin .. start-1 only advance it,
// start .. n-1 are also written. A zero period fails at the first update, after the
// element has been read.
void smooth_series(const FloatView values, const FloatView out, float seed, int32_t timeperiod, int64_t begin,
                   int32_t start, int32_t n) {
  const WilderSmoothing wilder(timeperiod);
  float average = seed;
  auto advance = [&](auto at, int64_t i) {
    const float v = at.get(values, i);
    if (wilder.period() == 0.0f) throw FloatDivision{};
    average = wilder.step(average, v);
  };
  run_steps(begin, start, {reach(values), reach(out)}, advance);
  run_steps(start, n, {reach(values), reach(out)}, [&](auto at, int64_t i) {
    advance(at, i);
    at.put(out, i, average);
  });
}

void adxr_kernel(const FloatView adx, const FloatView adxr, int32_t timeperiod, int32_t start, int32_t n) {
  run_steps(start, n, {reach(adx, {0, -int64_t{timeperiod}}), reach(adxr)}, [&](auto at, int64_t i) {
    const float earlier = at.get(adx, i - timeperiod);
    const float current = at.get(adx, i);
    // Two NaNs yield the earlier one, whichever operand order the compiler picks.
    const float addend = is_missing(earlier) ? earlier : current;
    at.put(adxr, i, (earlier + addend) * 0.5f);
  });
}

void natr_seed_ranges(const Prices prices, const FloatView tr, int32_t timeperiod) {
  run_steps(1, timeperiod, {reach(prices.high), reach(prices.low), reach(prices.close, {-1}), reach(tr)},
            [&](auto at, int64_t i) { at.put(tr, i, prices.true_range_at<decltype(at)>(i)); });
}

void natr_kernel(const Prices prices, const FloatView tr, const FloatView atr, const FloatView natr, float seed,
                 int32_t timeperiod, int32_t start, int32_t n) {
  const auto reaches = {reach(prices.high), reach(prices.low), reach(prices.close, {-1, 0}), reach(tr), reach(atr),
                        reach(natr)};
  const WilderSmoothing wilder(timeperiod);
  float atr_value = seed;
  auto advance = [&](auto at, int64_t i) {
    const float range = prices.true_range_at<decltype(at)>(i);
    at.put(tr, i, range);
    if (wilder.period() == 0.0f) throw FloatDivision{};
    atr_value = wilder.step(atr_value, range);
  };
  run_steps(timeperiod, start, reaches, advance);
  run_steps(start, n, reaches, [&](auto at, int64_t i) {
    advance(at, i);
    at.put(atr, i, atr_value);
    at.put(natr, i, divide(atr_value, at.get(prices.close, i)));
  });
}

}  // namespace

PyObject* Dx::run(Call& call, const Args& args) {
  const Prices prices{args.high.view, args.low.view, args.close.view};

  const int32_t n = call.length(args.high.object);
  auto [dx, out] = call.new_output(n);
  DirectionalWork work;
  const auto plus_dm = call.new_work_series(n);
  work.plus_dm = plus_dm.view;
  const auto minus_dm = call.new_work_series(n);
  work.minus_dm = minus_dm.view;
  const auto tr = call.new_work_series(n);
  work.tr = tr.view;
  native(n, [&] { dx_kernel(prices, work, out, args.timeperiod, args.n_values, n); });
  return dx.release();
}

PyObject* Adx::run(Call& call, const Args& args) {
  const int32_t n = call.length(args.close_arr.object);
  const int32_t warm_up_end = mul32(2, args.timeperiod);
  const int32_t k = trailing_start(warm_up_end, n, args.n_values);
  auto [adx, out] = call.new_output(n);

  Ref dx;
  FloatView dx_view;
  if (args.close_arr_is_dx) {
    dx = Ref::borrow(args.close_arr.object);
    dx_view = args.close_arr.view;
  } else {
    Ref period = py_int(args.timeperiod);
    dx = call.call_global("velk_dx", {args.high_arr.object, args.low_arr.object, args.close_arr.object, period.get()});
    dx_view = call.float_view(dx.get(), false);
  }
  // The first DX values are NaN, and nanmean skips them.
  const float seed = call.nanmean_of_slice(dx.get(), py_int(args.timeperiod).get(), py_int(warm_up_end).get());
  native(n, [&] { smooth_series(dx_view, out, seed, args.timeperiod, warm_up_end, k, n); });
  return adx.release();
}

PyObject* Adxr::run(Call& call, const Args& args) {
  const int32_t n = call.length(args.close_arr.object);
  Ref adx;
  FloatView adx_view;
  if (args.close_arr_is_adx) {
    adx_view = args.close_arr.view;
  } else {
    Ref period = py_int(args.timeperiod);
    adx = call.call_global("velk_adx", {args.high_arr.object, args.low_arr.object, args.close_arr.object, period.get()});
    adx_view = call.float_view(adx.get(), false);
  }
  auto [adxr, out] = call.new_output(n);
  const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
  native(n, [&] { adxr_kernel(adx_view, out, args.timeperiod, k, n); });
  return adxr.release();
}

PyObject* Natr::run(Call& call, const Args& args) {
  const Prices prices{args.high_arr.view, args.low_arr.view, args.close_arr.view};

  const int32_t n = call.length(args.close_arr.object);
  const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
  auto [tr, tr_view] = call.new_work_series(n);
  auto [atr, atr_view] = call.new_output(n);
  auto [natr, out] = call.new_output(n);

  native(args.timeperiod, [&] { natr_seed_ranges(prices, tr_view, args.timeperiod); });
  // Position 0 of tr stays 0 and counts in the mean.
  const float seed = call.nanmean_of_slice(tr.get(), Py_None, py_int(args.timeperiod).get());
  // A zero period stores at -1, the last element.
  atr_view.set(int64_t{args.timeperiod} - 1, seed);
  native(n, [&] { natr_kernel(prices, tr_view, atr_view, out, seed, args.timeperiod, k, n); });
  return natr.release();
}

}  // namespace velk::indicators

// ---------------------------------------------------------------------------
// Many series: the bodies above over one series of a batch, the DX and ADX
// stages computed natively as the module's own velk_dx and velk_adx compute them
// (the batch layer checks that they are the module's own before taking this path).

#include "frame/numpy_interface.hpp"
#include "indicators/many.hpp"

namespace velk::indicators {

namespace {

// np.nanmean(series[start:stop]) for the body's integer bounds; a slice without
// values is numpy's to warn about.
float nanmean_of_range(const FloatView& series, Py_ssize_t start, Py_ssize_t stop) {
  const Py_ssize_t count = PySlice_AdjustIndices(series.size(), &start, &stop, 1);
  double mean;
  if (!nanmean_of_elements(series.data() + start * series.stride(), count, series.stride(), &mean))
    throw HandToPython{};
  return static_cast<float>(mean);
}

}  // namespace

template <>
void compute_series<Dx>(const Dx::Args& args, const FloatView& out, Workspace& work, const BatchContext&) {
  const Prices prices{args.high.view, args.low.view, args.close.view};
  const int32_t n = length_of(args.high);
  const DirectionalWork directional{work.zero_series(n), work.zero_series(n), work.zero_series(n)};
  native_unlocked([&] { dx_kernel(prices, directional, out, args.timeperiod, args.n_values, n); });
}

template <>
void compute_series<Adx>(const Adx::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  const int32_t n = length_of(args.close_arr);
  const int32_t warm_up_end = mul32(2, args.timeperiod);
  const int32_t k = trailing_start(warm_up_end, n, args.n_values);
  FloatView dx = args.close_arr.view;
  if (!args.close_arr_is_dx) {
    dx = work.nan_series(length_of(args.high_arr));
    compute_series<Dx>({args.high_arr, args.low_arr, args.close_arr, args.timeperiod, kWholeSeries}, dx, work, context);
  }
  const float seed = nanmean_of_range(dx, args.timeperiod, warm_up_end);
  native_unlocked([&] { smooth_series(dx, out, seed, args.timeperiod, warm_up_end, k, n); });
}

template <>
void compute_series<Adxr>(const Adxr::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext& context) {
  const int32_t n = length_of(args.close_arr);
  FloatView adx = args.close_arr.view;
  if (!args.close_arr_is_adx) {
    adx = work.nan_series(n);
    compute_series<Adx>({args.high_arr, args.low_arr, args.close_arr, args.timeperiod, kWholeSeries, false}, adx,
                        work, context);
  }
  const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
  native_unlocked([&] { adxr_kernel(adx, out, args.timeperiod, k, n); });
}

template <>
void compute_series<Natr>(const Natr::Args& args, const FloatView& out, Workspace& work, const BatchContext&) {
  const Prices prices{args.high_arr.view, args.low_arr.view, args.close_arr.view};
  const int32_t n = length_of(args.close_arr);
  const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
  const FloatView tr = work.zero_series(n);
  const FloatView atr = work.nan_series(n);
  native_unlocked([&] { natr_seed_ranges(prices, tr, args.timeperiod); });
  // Position 0 of tr stays 0 and counts in the mean.
  const float seed = nanmean_of_range(tr, 0, args.timeperiod);
  atr.set(int64_t{args.timeperiod} - 1, seed);
  native_unlocked([&] { natr_kernel(prices, tr, atr, out, seed, args.timeperiod, k, n); });
}

}  // namespace velk::indicators
