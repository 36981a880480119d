// What a body needs from the route it runs on, so that one body serves both the exported
// function and its many-series entry: outputs, scratch, sibling stages, numpy's reductions and
// the way into native work. The exported function's route takes them from its Call (numpy
// allocations, sibling calls through the module globals, `native` with the GIL hand-over); the
// many-series entry's from the worker's Workspace (`native_unlocked`, already without the GIL),
// computing stages natively and throwing HandToPython wherever the exported function would need
// Python. A body is `template <class Route> void foo_body(Route&, const Foo::Args&)`; the two
// entries are `exact_entry(call, args, foo_body<ExactRoute>)` and `series_entry(...)`.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "driver/loop.hpp"
#include "frame/call.hpp"
#include "frame/numpy_interface.hpp"
#include "frame/ref.hpp"
#include "indicators/many.hpp"

namespace velk::indicators {

// A slice start of None (`series[:stop]`), which the exported functions spell apart from 0.
inline constexpr int64_t kSliceFromStart = INT64_MIN;

class ExactRoute {
 public:
  static constexpr bool kExact = true;

  explicit ExactRoute(Call& call) : call_(call) {}

  Call& call() { return call_; }
  int32_t length(const Series& series) { return call_.length(series.object); }

  // The result: np.full(n, np.nan, dtype=np.float32); a later request replaces an earlier one.
  FloatView output(int32_t n) { return keep_result(call_.new_output(n)); }
  // The result when the body writes every position (Call::new_output_written_whole).
  FloatView output_written_whole(int32_t n) { return keep_result(call_.new_output_written_whole(n)); }
  // The result when the body writes every position from `start` on (or raises, and the array is
  // dropped): while np.full is numpy's own, only the positions before `start` need its NaN.
  FloatView output_written_from(int32_t n, int64_t start) {
    if (!Call::allocation_is_native()) return output(n);
    const FloatView out = output_written_whole(n);
    fill_unwritten(out, 0, start);
    return out;
  }
  // An output-like array nothing reads back: only its allocation is observable.
  FloatView unread_output(int32_t n) { return hold(call_.new_output_written_whole(n)).view; }
  // np.zeros(n, dtype=np.float32), held until the body's call returns.
  Series work_series(int32_t n) {
    Call::Allocated<float> held = hold(call_.new_work_series(n));
    return {held.object.get(), held.view};
  }
  // np.zeros(n, dtype=np.int32), held until the body's call returns.
  IntView positions(int32_t n) {
    Call::Allocated<int32_t> slots = call_.new_positions(n);
    held_.push_back(std::move(slots.object));
    return slots.view;
  }

  // Sibling I's values over n positions, as a stage the body reads: `python(call)` makes the call.
  template <class I, class PythonCall>
  Series sibling(const typename I::Args&, int32_t, PythonCall&& python) {
    Ref stage = python(call_);
    const FloatView view = call_.float_view(stage.get(), false);
    PyObject* object = stage.get();
    held_.push_back(std::move(stage));
    return {object, view};
  }
  // Sibling I's values as the result itself, whatever the call returns (`viewed`: after its
  // float32 view was taken, which raises for anything else).
  template <class I, class PythonCall>
  void sibling_as_result(const typename I::Args&, bool viewed, PythonCall&& python) {
    result_ = python(call_);
    if (viewed) call_.float_view(result_.get(), false);
  }
  // A flag parameter taken as an object: its truth, as Python decides it.
  static bool truth(PyObject* flag) { return Call::truth(flag); }

  // Whether `levels` nested calls of the module's sibling `name` could neither fail before
  // their body nor run Python code, and allocation is numpy's own (Call::sibling_is_own).
  bool sibling_native(const char* name, int levels) { return Call::sibling_is_own(name, levels); }
  static bool allocation_native() { return Call::allocation_is_native(); }
  static bool nanmean_native() { return numpy_nanmean_is_own(); }
  // A series a sibling call would take len() of: numpy's own ndarray of length n.
  static bool plain_array(PyObject* object, int64_t size, int64_t n) {
    return Py_TYPE(object) == g_ndarray_type && size == n;
  }

  // np.nanmean(series[start:stop]) as float32 (start kSliceFromStart: None).
  float nanmean(const Series& series, int64_t start, int32_t stop) {
    Ref from = start == kSliceFromStart ? Ref::borrow(Py_None) : py_int(static_cast<int32_t>(start));
    Ref to = py_int(stop);
    return call_.nanmean_of_slice(series.object, from.get(), to.get());
  }
  // np.sqrt of a negative variance, with numpy's warning or error.
  double negative_root(double variance) {
    Ref sqrt = call_.numpy_attr("sqrt");
    Ref argument = checked(PyFloat_FromDouble(variance));
    Ref root = checked(PyObject_CallOneArg(sqrt.get(), argument.get()));
    const double value = PyFloat_AsDouble(root.get());
    if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
    return value;
  }

  template <class Loop>
  void run(int64_t positions, Loop&& loop) {
    native(positions, std::forward<Loop>(loop));
  }
  // An element-wise pass, from the build for the widest vector unit.
  template <class Loop>
  void run_wide(int64_t positions, Loop&& loop) {
    native_wide(positions, std::forward<Loop>(loop));
  }

  PyObject* release() { return result_.release(); }

 private:
  FloatView keep_result(Call::Allocated<float> allocated) {
    result_ = std::move(allocated.object);
    return allocated.view;
  }
  template <class T>
  Call::Allocated<T> hold(Call::Allocated<T> allocated) {
    PyObject* object = allocated.object.get();
    held_.push_back(std::move(allocated.object));
    return {Ref::borrow(object), allocated.view};
  }

  Call& call_;
  Ref result_;
  std::vector<Ref> held_;  // stages, work series and position arrays, until the call returns
};

class SeriesRoute {
 public:
  static constexpr bool kExact = false;

  SeriesRoute(Workspace& work, const BatchContext& context, const FloatView& out)
      : work_(work), context_(context), out_(out) {}

  const BatchContext& context() const { return context_; }
  int32_t length(const Series& series) { return length_of(series); }

  // The batch's output series (asked again, the same series), NaN where the exported
  // function's new output would hold NaN: everywhere, nowhere, or before `start`.
  FloatView output(int32_t) {
    requested_ = true;
    fill_nan(out_, 0, out_.size());
    return out_;
  }
  FloatView output_written_whole(int32_t) {
    requested_ = true;
    return out_;
  }
  FloatView output_written_from(int32_t, int64_t start) {
    requested_ = true;
    fill_nan(out_, 0, start);
    return out_;
  }
  // A body that never asked for its output leaves it NaN, as np.full would.
  void finish() {
    if (!requested_) fill_nan(out_, 0, out_.size());
  }
  FloatView unread_output(int32_t n) { return work_.nan_series(n); }
  Series work_series(int32_t n) { return present_series(work_.zero_series(n)); }
  IntView positions(int32_t n) { return work_.zero_positions(n); }

  // The module's own sibling I, computed natively into a work series (the batch layer took
  // this path only while the siblings are the module's own).
  template <class I, class PythonCall>
  Series sibling(const typename I::Args& args, int32_t n, PythonCall&&) {
    const FloatView stage = work_.nan_series(n);
    compute_series<I>(args, stage, work_, context_);
    return present_series(stage);
  }
  template <class I, class PythonCall>
  void sibling_as_result(const typename I::Args& args, bool, PythonCall&&) {
    requested_ = true;  // the sibling's route fills it
    compute_series<I>(args, out_, work_, context_);
  }
  // The batch layer passes object flags as Python's bools.
  static bool truth(PyObject* flag) { return flag == Py_True; }

  // The batch layer checked siblings, allocation and nanmean before taking this path.
  bool sibling_native(const char*, int) { return true; }
  static bool allocation_native() { return true; }
  static bool nanmean_native() { return true; }
  static bool plain_array(PyObject* object, int64_t size, int64_t n) { return object != Py_None && size == n; }

  // np.nanmean(series[start:stop]); a slice without values is numpy's to warn about.
  float nanmean(const Series& series, int64_t start, int32_t stop) {
    Py_ssize_t from = start == kSliceFromStart ? 0 : static_cast<Py_ssize_t>(start);
    Py_ssize_t to = stop;
    const Py_ssize_t count = PySlice_AdjustIndices(series.view.size(), &from, &to, 1);
    double mean;
    if (!nanmean_of_elements(series.view.data() + from * series.view.stride(), count, series.view.stride(), &mean))
      throw HandToPython{};
    return static_cast<float>(mean);
  }
  // numpy's root of a negative variance warns: the exported function decides.
  [[noreturn]] double negative_root(double) { throw HandToPython{}; }

  template <class Loop>
  void run(int64_t, Loop&& loop) {
    native_unlocked(std::forward<Loop>(loop));
  }
  // From the build for the widest vector unit, as the exported function takes it: the
  // FMA build lowers the wide lanes' comparisons one lane at a time.
  template <class Loop>
  void run_wide(int64_t, Loop&& loop) {
    with_wide_vectors(std::forward<Loop>(loop));
  }

 private:
  Workspace& work_;
  const BatchContext& context_;
  FloatView out_;
  bool requested_ = false;
};

// The exported function over its body.
template <class Args, class Body>
PyObject* exact_entry(Call& call, const Args& args, Body&& body) {
  ExactRoute route(call);
  body(route, args);
  return route.release();
}

// The many-series entry over the same body.
template <class Args, class Body>
void series_entry(const Args& args, const FloatView& out, Workspace& work, const BatchContext& context, Body&& body) {
  SeriesRoute route(work, context, out);
  body(route, args);
  route.finish();
}

}  // namespace velk::indicators
