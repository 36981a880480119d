// Exponential smoothing: EMA and the indicators composed from it by calls.
//
// velk_ema is the only place that smooths. Every other function here obtains
// its stages by calling the module's current `velk_ema` (so rebinding it on the
// module changes what they compute) and only combines the returned arrays.

#include "indicators/declarations.hpp"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "driver/loop.hpp"
#include "indicators/ema.hpp"

namespace velk::indicators {

namespace {

// First position whose element is not NaN, or -1.
int32_t first_present(const FloatView& x, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!is_missing(x[i])) return i;
  return -1;
}

template <bool kNormalize>
void ema_run(const FloatView x, const FloatView out, EmaState ema, int32_t seed, int32_t n, int32_t first_written) {
  const auto reaches = {reach(x), reach(out)};
  // The seed itself is not stepped here; positions before the first written one
  // are smoothed but not written.
  run_steps(int64_t{seed} + 1, first_written, {reach(x)}, [&](auto at, int64_t i) { ema.step(at.get(x, i)); });
  run_steps(first_written, n, reaches, [&](auto at, int64_t i) {
    const float v = at.get(x, i);
    ema.step(v);
    at.put(out, i, kNormalize ? ema.normalized(v) : ema.value);
  });
}

void ema_kernel(const FloatView x, const FloatView out, float alpha, int32_t n, int32_t n_values, bool normalize) {
  const int32_t seed = first_present(x, n);
  const EmaState ema{alpha, seed >= 0 ? x[seed] : 0.0f};
  const int32_t d = sub32(n, n_values);
  // Stepping the seed again can move it by the last bit; callers rely on that.
  // Without a seed this starts at -1, the last element, whose NaN poisons the run.
  const int32_t first_written = seed < d ? d : seed;
  if (normalize) {
    ema_run<true>(x, out, ema, seed, n, first_written);
  } else {
    ema_run<false>(x, out, ema, seed, n, first_written);
  }
}

// One stage of the chain: velk_ema(source, timeperiod, normalize=...[, n_values=...])
// through the module global, looked up now. Without `limited` the stage covers the whole series.
Ref ema_stage(Call& call, PyObject* source, int32_t timeperiod, bool normalize, bool limited, int32_t n_values) {
  Ref period = py_int(timeperiod);
  if (!limited) return call.call_global("velk_ema", {source, period.get()}, {{"normalize", py_bool(normalize)}});
  Ref limit = py_int(n_values);
  return call.call_global("velk_ema", {source, period.get()},
                          {{"normalize", py_bool(normalize)}, {"n_values", limit.get()}});
}

Ref whole_stage(Call& call, PyObject* source, int32_t timeperiod, bool normalize) {
  return ema_stage(call, source, timeperiod, normalize, false, 0);
}
Ref last_stage(Call& call, PyObject* source, int32_t timeperiod, bool normalize, int32_t n_values) {
  return ema_stage(call, source, timeperiod, normalize, true, n_values);
}

// A stage result that is kept and read: it must be an ndarray (or None) with a float32 view.
struct Stage {
  Ref object;
  FloatView view;
};

Stage held_stage(Call& call, Ref result) {
  const FloatView view = call.float_view(result.get(), false);
  return {std::move(result), view};
}

Stage handed_in(const Series& argument) { return {Ref::borrow(argument.object), argument.view}; }

// The combination passes: each reads its stages at the position it writes (the
// rate of change also one before) and combines them in double where it says so.

// 2a - b in double: 2a is exact, so the difference is the one rounding before float32.
void dema_kernel(const FloatView ema1, const FloatView ema2, const FloatView out, int32_t k, int32_t n) {
  run_steps(k, n, {reach(ema1), reach(ema2), reach(out)}, [&](auto at, int64_t i) {
    const double a = at.get(ema1, i);
    const double b = at.get(ema2, i);
    at.put(out, i, static_cast<float>(2.0 * a - b));
  });
}

void tema_kernel(const FloatView ema1, const FloatView ema2, const FloatView ema3, const FloatView out, int32_t k,
                 int32_t n) {
  run_steps(k, n, {reach(ema1), reach(ema2), reach(ema3), reach(out)}, [&](auto at, int64_t i) {
    const double a = at.get(ema1, i);
    const double b = at.get(ema2, i);
    const double c = at.get(ema3, i);
    // 3a and 3b are exact in double: the difference and the sum round once each.
    at.put(out, i, static_cast<float>((3.0 * a - 3.0 * b) + c));
  });
}

// Starts at 1 or later, so the previous position is never negative.
void trix_kernel(const FloatView ema3, const FloatView out, int32_t start, int32_t n) {
  run_steps(start, n, {reach(ema3, {-1, 0}), reach(out)}, [&](auto at, int64_t k) {
    const float a = at.get(ema3, k);
    const float b = at.get(ema3, k - 1);
    const float numerator = a - b;
    // A NaN b compares unequal to 0 and passes through.
    const double guard = b != 0.0f ? 0.0 : 1e-9;
    at.put(out, k, static_cast<float>(static_cast<double>(numerator) / (static_cast<double>(b) + guard)));
  });
}

// A negative start writes its first positions through the end of the arrays.
void macd_kernel(const FloatView fast_ema, const FloatView slow_ema, const FloatView out, int32_t k, int32_t n) {
  run_steps(k, n, {reach(fast_ema), reach(slow_ema), reach(out)}, [&](auto at, int64_t i) {
    const float a = at.get(fast_ema, i);
    const float b = at.get(slow_ema, i);
    at.put(out, i, a - b);
  });
}

}  // namespace

PyObject* Ema::run(Call& call, const Args& args) {
  const FloatView& x = args.input_array.view;

  const int32_t n = call.length(args.input_array.object);
  float alpha;
  if (!ema_alpha(args.timeperiod, alpha)) throw FloatDivision{};
  auto [ema, out] = call.new_output(n);
  native(n, [&] { ema_kernel(x, out, alpha, n, args.n_values, args.normalize); });
  return ema.release();
}

PyObject* Ema2::run(Call& call, const Args& args) {
  if (args.input_is_ema1) return last_stage(call, args.input_array.object, args.timeperiod, false, args.n_values).release();
  const Stage ema1 = held_stage(call, whole_stage(call, args.input_array.object, args.timeperiod, true));
  Stage ema2 = held_stage(call, last_stage(call, ema1.object.get(), args.timeperiod, false, args.n_values));
  return ema2.object.release();
}

PyObject* Ema3::run(Call& call, const Args& args) {
  if (args.input_is_ema2) return last_stage(call, args.input_array.object, args.timeperiod, false, args.n_values).release();
  // Only looked at when stage 2 was not handed in.
  if (Call::truth(args.input_is_ema1)) {
    const Stage ema2 = held_stage(call, whole_stage(call, args.input_array.object, args.timeperiod, false));
    return last_stage(call, ema2.object.get(), args.timeperiod, false, args.n_values).release();
  }
  const Stage ema1 = held_stage(call, whole_stage(call, args.input_array.object, args.timeperiod, true));
  const Stage ema2 = held_stage(call, whole_stage(call, ema1.object.get(), args.timeperiod, false));
  return last_stage(call, ema2.object.get(), args.timeperiod, false, args.n_values).release();
}

// A stage that feeds a later computed stage covers the whole series; the last
// computed stage is limited to the trailing window.
PyObject* Dema::run(Call& call, const Args& args) {
  const int32_t n = call.length(args.input1.object);
  const int32_t k = trailing_start(0, n, args.n_values);
  auto [dema, out] = call.new_output(n);

  Stage ema1, ema2;
  if (args.input1_is_ema1) {
    ema1 = handed_in(args.input1);
  } else {
    // Limited only when no computed stage is derived from it.
    ema1 = held_stage(call, ema_stage(call, args.input1.object, args.timeperiod, true, args.input2_is_ema2, args.n_values));
  }
  ema2 = args.input2_is_ema2 ? handed_in(args.input2)
                        : held_stage(call, last_stage(call, ema1.object.get(), args.timeperiod, false, args.n_values));

  native(int64_t{n} - k, [&] { dema_kernel(ema1.view, ema2.view, out, k, n); });
  return dema.release();
}

PyObject* Tema::run(Call& call, const Args& args) {
  const int32_t n = call.length(args.input1.object);
  const int32_t k = trailing_start(0, n, args.n_values);
  auto [tema, out] = call.new_output(n);

  Stage ema1, ema2, ema3;
  if (args.input1_is_ema1) {
    ema1 = handed_in(args.input1);
  } else {
    ema1 = held_stage(call, ema_stage(call, args.input1.object, args.timeperiod, true, args.input2_is_ema2, args.n_values));
  }
  if (args.input2_is_ema2) {
    ema2 = handed_in(args.input2);
  } else {
    ema2 = held_stage(call, ema_stage(call, ema1.object.get(), args.timeperiod, false, args.input3_is_ema3, args.n_values));
  }
  ema3 = args.input3_is_ema3 ? handed_in(args.input3)
                        : held_stage(call, last_stage(call, ema2.object.get(), args.timeperiod, false, args.n_values));

  native(int64_t{n} - k, [&] { tema_kernel(ema1.view, ema2.view, ema3.view, out, k, n); });
  return tema.release();
}

PyObject* Trix::run(Call& call, const Args& args) {
  if (args.arr.object == Py_None) {
    PyErr_SetString(PyExc_TypeError, "velk_trix() argument 'args.arr.object' must be a numpy array, not None");
    throw PythonError{};
  }
  const int64_t size = args.arr.view.size();
  if (size > INT32_MAX) {
    PyErr_Format(PyExc_OverflowError, "velk_trix() supports series of at most 2147483647 elements, got %lld",
                 static_cast<long long>(size));
    throw PythonError{};
  }
  const int32_t n = static_cast<int32_t>(size);
  const int32_t start = trailing_start(1, n, args.n_values);
  auto [trix, out] = call.new_output(n);

  // One position more than is written: each output reads the previous stage 3 value.
  const int32_t m = add32(args.n_values, 1);
  Stage ema3;
  if (args.input_is_ema3) {
    ema3 = handed_in(args.arr);
  } else if (args.input_is_ema2) {
    ema3 = held_stage(call, last_stage(call, args.arr.object, args.timeperiod, false, m));
  } else if (args.input_is_ema1) {
    const Stage ema2 = held_stage(call, whole_stage(call, args.arr.object, args.timeperiod, false));
    ema3 = held_stage(call, last_stage(call, ema2.object.get(), args.timeperiod, false, m));
  } else {
    const Stage ema1 = held_stage(call, whole_stage(call, args.arr.object, args.timeperiod, true));
    const Stage ema2 = held_stage(call, whole_stage(call, ema1.object.get(), args.timeperiod, false));
    ema3 = held_stage(call, last_stage(call, ema2.object.get(), args.timeperiod, false, m));
  }

  native(int64_t{n} - start, [&] { trix_kernel(ema3.view, out, start, n); });
  return trix.release();
}

PyObject* Macd::run(Call& call, const Args& args) {
  const int32_t n = call.length(args.input0.object);
  const int32_t k = trailing_start(args.long_period, n, args.n_values);
  auto [macd, out] = call.new_output(n);

  // Each computed average takes the prices as its only positional argument and
  // keeps velk_ema's default normalization.
  auto average = [&](int32_t period) {
    Ref p = py_int(period);
    Ref limit = py_int(args.n_values);
    return held_stage(call,
                      call.call_global("velk_ema", {args.input0.object}, {{"timeperiod", p.get()}, {"n_values", limit.get()}}));
  };
  Stage fast_ema, slow_ema;
  if (args.input1_is_fast_ema && args.input2_is_slow_ema) {
    fast_ema = handed_in(args.input1);
    slow_ema = handed_in(args.input2);
  } else if (args.input1_is_fast_ema) {
    slow_ema = average(args.long_period);
    fast_ema = handed_in(args.input1);
  } else if (args.input2_is_slow_ema) {
    fast_ema = average(args.short_period);
    slow_ema = handed_in(args.input2);
  } else {
    fast_ema = average(args.short_period);
    slow_ema = average(args.long_period);
  }

  native(int64_t{n} - k, [&] { macd_kernel(fast_ema.view, slow_ema.view, out, k, n); });
  return macd.release();
}

}  // namespace velk::indicators

// ---------------------------------------------------------------------------
// Many series: the bodies above over one series of a batch, each stage computed
// natively as the module's own velk_ema computes it (the batch layer checks that
// the module's velk_ema is its own before taking this path).

#include "indicators/many.hpp"

namespace velk::indicators {

namespace {

constexpr int32_t kWhole = kWholeSeries;

// velk_ema(source, timeperiod, normalize=..., n_values=...) into `out`.
void ema_stage_into(const Series& source, const FloatView& out, int32_t timeperiod, bool normalize, int32_t n_values) {
  const int32_t n = length_of(source);
  float alpha;
  if (!ema_alpha(timeperiod, alpha)) throw FloatDivision{};
  ema_kernel(source.view, out, alpha, n, n_values, normalize);
}

// The same stage into a new work array, as a stage a sibling call returns.
Series ema_stage_of(Workspace& work, const Series& source, int32_t timeperiod, bool normalize, int32_t n_values) {
  const FloatView stage = work.nan_series(length_of(source));
  ema_stage_into(source, stage, timeperiod, normalize, n_values);
  return present_series(stage);
}

// A chain's stage: handed in, or computed from the previous one, covering only the
// trailing window when the next stage is handed in (nothing is derived from it then).
Series chain_stage(Workspace& work, const Series& handed, bool is_handed_in, const Series& previous, int32_t timeperiod,
                   bool normalize, bool next_handed_in, int32_t n_values) {
  if (is_handed_in) return handed;
  return ema_stage_of(work, previous, timeperiod, normalize, next_handed_in ? n_values : kWhole);
}

}  // namespace

template <>
void compute_series<Ema>(const Ema::Args& args, const FloatView& out, Workspace&, const BatchContext&) {
  native_unlocked([&] { ema_stage_into(args.input_array, out, args.timeperiod, args.normalize, args.n_values); });
}

template <>
void compute_series<Ema2>(const Ema2::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext&) {
  native_unlocked([&] {
    const int32_t p = args.timeperiod;
    const Series ema1 = args.input_is_ema1 ? args.input_array : ema_stage_of(work, args.input_array, p, true, kWhole);
    ema_stage_into(ema1, out, p, false, args.n_values);
  });
}

template <>
void compute_series<Ema3>(const Ema3::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext&) {
  native_unlocked([&] {
    const int32_t p = args.timeperiod;
    Series ema2 = args.input_array;
    if (!args.input_is_ema2) {
      const bool input_is_ema1 = args.input_is_ema1 == Py_True;
      const Series ema1 = input_is_ema1 ? args.input_array : ema_stage_of(work, args.input_array, p, true, kWhole);
      ema2 = ema_stage_of(work, ema1, p, false, kWhole);
    }
    ema_stage_into(ema2, out, p, false, args.n_values);
  });
}

template <>
void compute_series<Dema>(const Dema::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext&) {
  native_unlocked([&] {
    const int32_t n = length_of(args.input1);
    const int32_t k = trailing_start(0, n, args.n_values);
    const int32_t p = args.timeperiod;
    const Series ema1 =
        chain_stage(work, args.input1, args.input1_is_ema1, args.input1, p, true, args.input2_is_ema2, args.n_values);
    const Series ema2 = chain_stage(work, args.input2, args.input2_is_ema2, ema1, p, false, true, args.n_values);
    dema_kernel(ema1.view, ema2.view, out, k, n);
  });
}

template <>
void compute_series<Tema>(const Tema::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext&) {
  native_unlocked([&] {
    const int32_t n = length_of(args.input1);
    const int32_t k = trailing_start(0, n, args.n_values);
    const int32_t p = args.timeperiod;
    const Series ema1 =
        chain_stage(work, args.input1, args.input1_is_ema1, args.input1, p, true, args.input2_is_ema2, args.n_values);
    const Series ema2 =
        chain_stage(work, args.input2, args.input2_is_ema2, ema1, p, false, args.input3_is_ema3, args.n_values);
    const Series ema3 = chain_stage(work, args.input3, args.input3_is_ema3, ema2, p, false, true, args.n_values);
    tema_kernel(ema1.view, ema2.view, ema3.view, out, k, n);
  });
}

template <>
void compute_series<Trix>(const Trix::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext&) {
  native_unlocked([&] {
    const int32_t n = length_of(args.arr);
    const int32_t start = trailing_start(1, n, args.n_values);
    const int32_t m = add32(args.n_values, 1);
    const int32_t p = args.timeperiod;
    Series ema3 = args.arr;
    if (!args.input_is_ema3) {
      Series ema2 = args.arr;
      if (!args.input_is_ema2) {
        const Series ema1 = args.input_is_ema1 ? args.arr : ema_stage_of(work, args.arr, p, true, kWhole);
        ema2 = ema_stage_of(work, ema1, p, false, kWhole);
      }
      ema3 = ema_stage_of(work, ema2, p, false, m);
    }
    trix_kernel(ema3.view, out, start, n);
  });
}

template <>
void compute_series<Macd>(const Macd::Args& args, const FloatView& out, Workspace& work,
                          const BatchContext&) {
  native_unlocked([&] {
    const int32_t n = length_of(args.input0);
    const int32_t k = trailing_start(args.long_period, n, args.n_values);
    // In the body's order: the slow average first when only the fast one is handed in.
    auto average = [&](int32_t period) { return ema_stage_of(work, args.input0, period, true, args.n_values); };
    Series fast_ema, slow_ema;
    if (args.input1_is_fast_ema) {
      slow_ema = args.input2_is_slow_ema ? args.input2 : average(args.long_period);
      fast_ema = args.input1;
    } else {
      fast_ema = average(args.short_period);
      slow_ema = args.input2_is_slow_ema ? args.input2 : average(args.long_period);
    }
    macd_kernel(fast_ema.view, slow_ema.view, out, k, n);
  });
}

}  // namespace velk::indicators
