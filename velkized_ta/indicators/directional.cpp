// Directional movement and volatility: DX, ADX, ADXR and the normalised
// average true range, all smoothed with Wilder's running average.

#include <cmath>

#include "indicators/bodies.hpp"
#include "indicators/wilder.hpp"

namespace velk::indicators {

namespace {

// True range of bar i against the previous close. The comparisons are strict, so a
// NaN candidate never replaces the bar's own range (a NaN previous close is ignored).
float true_range(const FloatView& high, const FloatView& low, const FloatView& close, int64_t i) {
  const float h = high[i];
  const float l = low[i];
  const float previous_close = close[i - 1];
  float range = h - l;
  const float from_high = std::fabs(h - previous_close);
  if (from_high > range) range = from_high;
  const float from_low = std::fabs(l - previous_close);
  if (from_low > range) range = from_low;
  return range;
}

struct Bar {
  float tr;
  float plus_dm;
  float minus_dm;
};

// Only the larger of the two moves counts, and only when it is positive;
// equal moves and NaN prices count as no movement at all.
Bar directional_bar(const FloatView& high, const FloatView& low, const FloatView& close, int64_t i) {
  Bar bar;
  bar.tr = true_range(high, low, close, i);
  const float up = high[i] - high[i - 1];
  const float down = low[i - 1] - low[i];
  bar.plus_dm = (up > down && up > 0.0f) ? up : 0.0f;
  bar.minus_dm = (down > up && down > 0.0f) ? down : 0.0f;
  return bar;
}

// The per-bar work series; they are kept in step with the averages although
// nothing reads them back.
struct DirectionalWork {
  FloatView plus_dm;
  FloatView minus_dm;
  FloatView tr;

  void store(int64_t i, const Bar& bar) const {
    tr.set(i, bar.tr);
    plus_dm.set(i, bar.plus_dm);
    minus_dm.set(i, bar.minus_dm);
  }
};

void dx_kernel(const FloatView& high, const FloatView& low, const FloatView& close, const DirectionalWork& work,
               const FloatView& dx, int32_t timeperiod, int32_t n_values, int32_t n) {
  float plus_dm_sum = 0.0f;
  float minus_dm_sum = 0.0f;
  float atr_sum = 0.0f;
  for (int64_t i = 1; i <= timeperiod; ++i) {
    const Bar bar = directional_bar(high, low, close, i);
    work.store(i, bar);
    plus_dm_sum += bar.plus_dm;
    minus_dm_sum += bar.minus_dm;
    atr_sum += bar.tr;
  }
  // A zero period fails here for any input, even an empty one.
  if (timeperiod == 0) throw FloatDivision{};
  const WilderSmoothing wilder(timeperiod);
  float atr = atr_sum / wilder.period();
  plus_dm_sum = plus_dm_sum / wilder.period();
  minus_dm_sum = minus_dm_sum / wilder.period();

  auto advance = [&](int64_t i) {
    const Bar bar = directional_bar(high, low, close, i);
    work.store(i, bar);
    atr = wilder.step(atr, bar.tr);
    plus_dm_sum = wilder.step(plus_dm_sum, bar.plus_dm);
    minus_dm_sum = wilder.step(minus_dm_sum, bar.minus_dm);
  };

  const int32_t first = add32(timeperiod, 1);
  const int32_t start = trailing_start(first, n, n_values);
  // Positions before the trailing window only advance the averages: no division
  // by the range there, so flat stretches outside the window raise nothing.
  for (int64_t i = first; i < start; ++i) advance(i);
  for (int64_t i = start; i < n; ++i) {
    advance(i);
    if (atr == 0.0f) throw FloatDivision{};
    const float plus_di = plus_dm_sum / atr;
    const float minus_di = minus_dm_sum / atr;
    dx.set(i, divide(std::fabs(plus_di - minus_di), plus_di + minus_di));
  }
}

// Wilder average of a series from `seed`: positions begin .. start-1 only advance it,
// start .. n-1 are also written. A zero period fails at the first update, after the
// element has been read.
void smooth_series(const FloatView& values, const FloatView& out, float seed, int32_t timeperiod, int64_t begin,
                   int32_t start, int32_t n) {
  const WilderSmoothing wilder(timeperiod);
  float average = seed;
  for (int64_t i = begin; i < start; ++i) {
    const float v = values[i];
    if (timeperiod == 0) throw FloatDivision{};
    average = wilder.step(average, v);
  }
  for (int64_t i = start; i < n; ++i) {
    const float v = values[i];
    if (timeperiod == 0) throw FloatDivision{};
    average = wilder.step(average, v);
    out.set(i, average);
  }
}

void adxr_kernel(const FloatView& adx, const FloatView& adxr, int32_t timeperiod, int32_t start, int32_t n) {
  for (int64_t i = start; i < n; ++i) {
    const float earlier = adx[i - timeperiod];
    const float current = adx[i];
    adxr.set(i, (earlier + current) * 0.5f);
  }
}

void natr_seed_ranges(const FloatView& high, const FloatView& low, const FloatView& close, const FloatView& tr,
                      int32_t timeperiod) {
  for (int64_t i = 1; i < timeperiod; ++i) tr.set(i, true_range(high, low, close, i));
}

void natr_kernel(const FloatView& high, const FloatView& low, const FloatView& close, const FloatView& tr,
                 const FloatView& atr, const FloatView& natr, float seed, int32_t timeperiod, int32_t start,
                 int32_t n) {
  const WilderSmoothing wilder(timeperiod);
  float atr_value = seed;
  auto advance = [&](int64_t i) {
    const float range = true_range(high, low, close, i);
    tr.set(i, range);
    if (timeperiod == 0) throw FloatDivision{};
    atr_value = wilder.step(atr_value, range);
  };
  for (int64_t i = timeperiod; i < start; ++i) advance(i);
  for (int64_t i = start; i < n; ++i) {
    advance(i);
    atr.set(i, atr_value);
    natr.set(i, divide(atr_value, close[i]));
  }
}

}  // namespace

PyObject* velk_dx(Call& call) {
  const FloatView& high = call.array(0);
  const FloatView& low = call.array(1);
  const FloatView& close = call.array(2);
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);

  const int32_t n = call.length(call.object(0));
  Ref dx = call.new_series(n);
  const FloatView out = call.float_view(dx.get(), true);
  DirectionalWork work;
  Ref plus_dm = call.new_zeros(n, "float32");
  work.plus_dm = call.float_view(plus_dm.get(), true);
  Ref minus_dm = call.new_zeros(n, "float32");
  work.minus_dm = call.float_view(minus_dm.get(), true);
  Ref tr = call.new_zeros(n, "float32");
  work.tr = call.float_view(tr.get(), true);
  dx_kernel(high, low, close, work, out, timeperiod, n_values, n);
  return dx.release();
}

PyObject* velk_adx(Call& call) {
  PyObject* close_arr = call.object(2);
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);
  const bool close_arr_is_dx = call.flag(5);

  const int32_t n = call.length(close_arr);
  const int32_t warm_up_end = mul32(2, timeperiod);
  const int32_t k = trailing_start(warm_up_end, n, n_values);
  Ref adx = call.new_series(n);
  const FloatView out = call.float_view(adx.get(), true);

  Ref dx;
  FloatView dx_view;
  if (close_arr_is_dx) {
    dx = Ref::borrow(close_arr);
    dx_view = call.array(2);
  } else {
    Ref period = py_int(timeperiod);
    dx = call.call_global("velk_dx", {call.object(0), call.object(1), close_arr, period.get()});
    dx_view = call.float_view(dx.get(), false);
  }
  // The first DX values are NaN, and nanmean skips them.
  const float seed = call.nanmean_of_slice(dx.get(), py_int(timeperiod).get(), py_int(warm_up_end).get());
  smooth_series(dx_view, out, seed, timeperiod, warm_up_end, k, n);
  return adx.release();
}

PyObject* velk_adxr(Call& call) {
  PyObject* close_arr = call.object(2);
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);
  const bool close_arr_is_adx = call.flag(5);

  const int32_t n = call.length(close_arr);
  Ref adx;
  FloatView adx_view;
  if (close_arr_is_adx) {
    adx_view = call.array(2);
  } else {
    Ref period = py_int(timeperiod);
    adx = call.call_global("velk_adx", {call.object(0), call.object(1), close_arr, period.get()});
    adx_view = call.float_view(adx.get(), false);
  }
  Ref adxr = call.new_series(n);
  const FloatView out = call.float_view(adxr.get(), true);
  const int32_t k = trailing_start(timeperiod, n, n_values);
  adxr_kernel(adx_view, out, timeperiod, k, n);
  return adxr.release();
}

PyObject* velk_natr(Call& call) {
  const FloatView& high = call.array(0);
  const FloatView& low = call.array(1);
  const FloatView& close = call.array(2);
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);

  const int32_t n = call.length(call.object(2));
  const int32_t k = trailing_start(timeperiod, n, n_values);
  Ref tr = call.new_zeros(n, "float32");
  const FloatView tr_view = call.float_view(tr.get(), true);
  Ref atr = call.new_series(n);
  const FloatView atr_view = call.float_view(atr.get(), true);
  Ref natr = call.new_series(n);
  const FloatView out = call.float_view(natr.get(), true);

  natr_seed_ranges(high, low, close, tr_view, timeperiod);
  // Position 0 of tr stays 0 and counts in the mean.
  const float seed = call.nanmean_of_slice(tr.get(), Py_None, py_int(timeperiod).get());
  // A zero period stores at -1, the last element.
  atr_view.set(int64_t{timeperiod} - 1, seed);
  natr_kernel(high, low, close, tr_view, atr_view, out, seed, timeperiod, k, n);
  return natr.release();
}

}  // namespace velk::indicators
