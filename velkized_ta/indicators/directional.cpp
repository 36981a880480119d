// Directional movement and volatility: DX, ADX, ADXR and the normalised
// average true range, all smoothed with Wilder's running average.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "indicators/declarations/adx.hpp"
#include "indicators/declarations/adxr.hpp"
#include "indicators/declarations/dx.hpp"
#include "indicators/declarations/natr.hpp"
#include "driver/lanes.hpp"
#include "driver/loop.hpp"
#include "frame/numpy_interface.hpp"
#include "indicators/combination_steps.hpp"
#include "indicators/directional_steps.hpp"
#include "indicators/route.hpp"
#include "indicators/wilder.hpp"

namespace velk::indicators {

namespace {

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

// directional_lanes of bar i (indicators/directional_steps.hpp), its prices read in this order.
static_assert(kPlus == 0 && kMinus == 1 && kRange == 2, "the lanes of directional_lanes");
template <class A>
Lanes directional_bar(const Prices& prices, int64_t i) {
  const float high = A::get(prices.high, i);
  const float low = A::get(prices.low, i);
  const float previous_close = A::get(prices.close, i - 1);
  const float previous_high = A::get(prices.high, i - 1);
  const float previous_low = A::get(prices.low, i - 1);
  return directional_lanes(high, low, previous_high, previous_low, previous_close);
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

// velk_dx's running state over its positions tp + 1 .. n - 1, one position at a time.
class DirectionalIndex {
 public:
  // Sums the bars 1 .. timeperiod, which must exist; timeperiod is at least 1.
  DirectionalIndex(const Prices& prices, int32_t timeperiod) : prices_(prices), wilder_(timeperiod) {
    Lanes sums{};
    run_steps(1, int64_t{timeperiod} + 1, {reach(prices.high, {-1, 0}), reach(prices.low, {-1, 0}), reach(prices.close, {-1})},
              [&](auto at, int64_t i) {
                const Lanes bar = directional_bar<decltype(at)>(prices, i);
                sums[kPlus] += bar[kPlus];
                sums[kMinus] += bar[kMinus];
                sums[kRange] += bar[kRange];
              });
    const float period = static_cast<float>(timeperiod);
    averages_ = Lanes{sums[kPlus] / period, sums[kMinus] / period, sums[kRange] / period, 0.0f};
  }

  // DX at i; false where velk_dx divides by zero.
  template <class A>
  bool next(int64_t i, float& dx) {
    averages_ = wilder_.step(averages_, directional_bar<A>(prices_, i));
    return directional_index(averages_[kPlus], averages_[kMinus], averages_[kRange], dx);
  }

 private:
  Prices prices_;
  WilderSmoothing wilder_;
  Lanes averages_;
};

// velk_adx over velk_dx's series in one pass: emit(at, i, adx) at each position from
// 2 timeperiod on. DX at timeperiod .. 2 timeperiod - 1 is kept in `adx` until the
// seed is taken; positions below 2 timeperiod are left for the caller. False where a
// call would raise or warn.
template <class Emit>
bool adx_in_one_pass(const Prices prices, const FloatView adx, int32_t timeperiod, int32_t n, Emit&& emit) {
  DirectionalIndex index(prices, timeperiod);
  const int64_t seed_end = std::min<int64_t>(2 * int64_t{timeperiod}, n);
  const auto reaches = {reach(prices.high, {-1, 0}), reach(prices.low, {-1, 0}), reach(prices.close, {-1}), reach(adx)};
  bool raises = false;
  adx.set_unchecked(timeperiod, kUnwritten);
  run_steps(int64_t{timeperiod} + 1, seed_end, reaches, [&](auto at, int64_t i) {
    float dx;
    if (!index.template next<decltype(at)>(i, dx)) return !(raises = true);
    at.put(adx, i, dx);
    return true;
  });
  double mean;
  if (raises || !nanmean_of_elements(adx.data() + timeperiod * adx.stride(), seed_end - timeperiod, adx.stride(), &mean))
    return false;
  const WilderSmoothing wilder(timeperiod);
  float average = static_cast<float>(mean);
  run_steps(seed_end, n, reaches, [&](auto at, int64_t i) {
    float dx;
    if (!index.template next<decltype(at)>(i, dx)) return !(raises = true);
    average = wilder.step(average, dx);
    emit(at, i, average);
    return true;
  });
  return !raises;
}

// Whether velk_adx's call of velk_dx (nested `levels` deep) is certain to succeed
// without warnings or Python code, so that adx_in_one_pass decides.
template <class Route>
bool adx_decidable(Route& route, const Adx::Args& args, int32_t n, int levels) {
  const Series* series[] = {&args.high_arr, &args.low_arr, &args.close_arr};
  for (const Series* s : series)
    if (!route.plain_array(s->object, s->view.size(), n)) return false;
  // Period 1 seeds from one NaN, and numpy warns about it.
  return args.timeperiod >= 2 && args.timeperiod < n && args.timeperiod < (1 << 29) && route.allocation_native() &&
         route.nanmean_native() && route.sibling_native("velk_dx", levels);
}

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
  fill_unwritten(dx, 0, start);
  run_steps(start, n, reaches, [&](auto at, int64_t i) {
    advance(at, i);
    float value;
    if (!directional_index(averages[kPlus], averages[kMinus], averages[kRange], value)) throw FloatDivision{};
    at.put(dx, i, value);
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
    at.put(adxr, i, adxr_mean(earlier, at.get(adx, i)));
  });
}

void natr_seed_ranges(const Prices prices, const FloatView tr, int32_t timeperiod) {
  run_steps(1, timeperiod, {reach(prices.high), reach(prices.low), reach(prices.close, {-1}), reach(tr)},
            [&](auto at, int64_t i) { at.put(tr, i, prices.true_range_at<decltype(at)>(i)); });
}

// Without kKeepWork the work series tr and atr, which nothing reads back, are not stored.
template <bool kKeepWork>
void natr_kernel(const Prices prices, const FloatView tr, const FloatView atr, const FloatView natr, float seed,
                 int32_t timeperiod, int32_t start, int32_t n) {
  const auto reaches = {reach(prices.high), reach(prices.low), reach(prices.close, {-1, 0}),
                        reach(kKeepWork ? tr : natr), reach(kKeepWork ? atr : natr), reach(natr)};
  const WilderSmoothing wilder(timeperiod);
  float atr_value = seed;
  auto advance = [&](auto at, int64_t i) {
    const float range = prices.true_range_at<decltype(at)>(i);
    if constexpr (kKeepWork) at.put(tr, i, range);
    if (wilder.period() == 0.0f) throw FloatDivision{};
    atr_value = wilder.step(atr_value, range);
  };
  run_steps(timeperiod, start, reaches, advance);
  run_steps(start, n, reaches, [&](auto at, int64_t i) {
    advance(at, i);
    if constexpr (kKeepWork) at.put(atr, i, atr_value);
    at.put(natr, i, divide(atr_value, at.get(prices.close, i)));
  });
}

// The bodies, one per function for both routes (indicators/route.hpp).

template <class Route>
void dx_body(Route& route, const Dx::Args& args) {
  const Prices prices{args.high.view, args.low.view, args.close.view};
  const int32_t n = route.length(args.high);
  const FloatView out = route.output_written_whole(n);
  DirectionalWork work;
  work.plus_dm = route.work_series(n).view;
  work.minus_dm = route.work_series(n).view;
  work.tr = route.work_series(n).view;
  route.run(n, [&] { dx_kernel(prices, work, out, args.timeperiod, args.n_values, n); });
}

template <class Route>
void adx_body(Route& route, const Adx::Args& args) {
  const int32_t n = route.length(args.close_arr);
  const int32_t warm_up_end = mul32(2, args.timeperiod);
  const int32_t k = trailing_start(warm_up_end, n, args.n_values);
  const Prices prices{args.high_arr.view, args.low_arr.view, args.close_arr.view};
  // A start beyond the end makes the pre-roll read past it.
  if (!args.close_arr_is_dx && k <= n && adx_decidable(route, args, n, 1)) {
    const FloatView out = route.output_written_whole(n);
    bool done = false;
    route.run(n, [&] {
      done = adx_in_one_pass(prices, out, args.timeperiod, n, [&](auto at, int64_t i, float adx_value) {
        if (i >= k) at.put(out, i, adx_value);
      });
      fill_unwritten(out, 0, k);
    });
    if (done) return;
  }
  const FloatView out = route.output_written_whole(n);
  Series dx = args.close_arr;
  if (!args.close_arr_is_dx) {
    dx = route.template sibling<Dx>({args.high_arr, args.low_arr, args.close_arr, args.timeperiod, kWholeSeries}, n,
                                    [&](Call& call) {
                                      Ref period = py_int(args.timeperiod);
                                      return call.call_global("velk_dx", {args.high_arr.object, args.low_arr.object,
                                                                          args.close_arr.object, period.get()});
                                    });
  }
  // The first DX values are NaN, and nanmean skips them.
  const float seed = route.nanmean(dx, args.timeperiod, warm_up_end);
  route.run(n, [&] {
    fill_unwritten(out, 0, k);
    smooth_series(dx.view, out, seed, args.timeperiod, warm_up_end, k, n);
  });
}

template <class Route>
void adxr_body(Route& route, const Adxr::Args& args) {
  const int32_t n = route.length(args.close_arr);
  const Adx::Args adx_args{args.high_arr, args.low_arr, args.close_arr, args.timeperiod, kWholeSeries, false};
  if (!args.close_arr_is_adx && route.sibling_native("velk_adx", 1) && adx_decidable(route, adx_args, n, 2)) {
    const FloatView out = route.output_written_whole(n);
    const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
    const Prices prices{args.high_arr.view, args.low_arr.view, args.close_arr.view};
    bool done = false;
    route.run(n, [&] {
      // ADX of the last `timeperiod` positions, in a ring on positions 0 .. timeperiod - 1,
      // which stay NaN in the result (k >= timeperiod); ADX is NaN before 2 timeperiod.
      fill_unwritten(out, 0, args.timeperiod);
      int64_t slot = 0;
      done = adx_in_one_pass(prices, out, args.timeperiod, n, [&](auto at, int64_t i, float adx_value) {
        const float earlier = out.get_unchecked(slot);
        if (i >= k) at.put(out, i, adxr_mean(earlier, adx_value));
        out.set_unchecked(slot, adx_value);
        slot = slot + 1 == args.timeperiod ? 0 : slot + 1;
      });
      // Rated from two NaNs there, which gives the NaN np.full leaves.
      fill_unwritten(out, 0, std::max(k, 2 * args.timeperiod));
    });
    if (done) return;
  }
  Series adx = args.close_arr;
  if (!args.close_arr_is_adx) {
    adx = route.template sibling<Adx>(adx_args, n, [&](Call& call) {
      Ref period = py_int(args.timeperiod);
      return call.call_global("velk_adx",
                              {args.high_arr.object, args.low_arr.object, args.close_arr.object, period.get()});
    });
  }
  const FloatView out = route.output_written_whole(n);
  const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
  route.run(n, [&] {
    fill_unwritten(out, 0, k);
    adxr_kernel(adx.view, out, args.timeperiod, k, n);
  });
}

template <class Route>
void natr_body(Route& route, const Natr::Args& args) {
  const Prices prices{args.high_arr.view, args.low_arr.view, args.close_arr.view};
  const int32_t n = route.length(args.close_arr);
  const int32_t k = trailing_start(args.timeperiod, n, args.n_values);
  // With numpy's own allocation and nanmean nothing can observe the work series:
  // the seed window's ranges go into the output's first positions, which stay NaN.
  if (args.timeperiod >= 1 && args.timeperiod <= n && route.allocation_native() && route.nanmean_native()) {
    const FloatView out = route.output_written_whole(n);
    out.set(0, 0.0f);
    route.run(args.timeperiod, [&] { natr_seed_ranges(prices, out, args.timeperiod); });
    double mean;
    // Position 0 holds 0, so the window is never empty.
    nanmean_of_elements(out.data(), args.timeperiod, out.stride(), &mean);
    route.run(n, [&] {
      fill_unwritten(out, 0, k);
      natr_kernel<false>(prices, out, out, out, static_cast<float>(mean), args.timeperiod, k, n);
    });
    return;
  }
  const Series tr = route.work_series(n);
  // atr is never read back: only its allocation is observable.
  const FloatView atr = route.unread_output(n);
  const FloatView out = route.output_written_whole(n);
  route.run(args.timeperiod, [&] { natr_seed_ranges(prices, tr.view, args.timeperiod); });
  // Position 0 of tr stays 0 and counts in the mean.
  const float seed = route.nanmean(tr, kSliceFromStart, args.timeperiod);
  // A zero period stores at -1, the last element.
  atr.set(int64_t{args.timeperiod} - 1, seed);
  route.run(n, [&] {
    fill_unwritten(out, 0, k);
    natr_kernel<true>(prices, tr.view, atr, out, seed, args.timeperiod, k, n);
  });
}

}  // namespace

PyObject* Dx::run(Call& call, const Args& args) { return exact_entry(call, args, dx_body<ExactRoute>); }
PyObject* Adx::run(Call& call, const Args& args) { return exact_entry(call, args, adx_body<ExactRoute>); }
PyObject* Adxr::run(Call& call, const Args& args) { return exact_entry(call, args, adxr_body<ExactRoute>); }
PyObject* Natr::run(Call& call, const Args& args) { return exact_entry(call, args, natr_body<ExactRoute>); }

template <>
void compute_series<Dx>(const Dx::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, dx_body<SeriesRoute>);
}
template <>
void compute_series<Adx>(const Adx::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, adx_body<SeriesRoute>);
}
template <>
void compute_series<Adxr>(const Adxr::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, adxr_body<SeriesRoute>);
}
template <>
void compute_series<Natr>(const Natr::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, natr_body<SeriesRoute>);
}

}  // namespace velk::indicators
