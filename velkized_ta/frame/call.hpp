// The calling frame shared by every exported function: the description of a
// function's parameters (one row of the function table) and the per-call state
// an indicator body works with.
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "frame/ref.hpp"
#include "frame/view.hpp"

namespace velk {

// How an argument is converted at the call.
enum class Kind : uint8_t {
  Array,   // numpy.ndarray (or subclass) or None, read through a float32 view
  Int,     // converted to a 32-bit C int
  Bool,    // converted to a truth value
  Object,  // held as given; the body tests it where it uses it
};

struct Default {
  enum class Type : uint8_t { Required, None, Int, Bool };
  Type type = Type::Required;
  int32_t value = 0;
};

struct Param {
  const char* name;
  Kind kind;
  Default fallback;
};

class Call;
using Body = PyObject* (*)(Call&);

struct FunctionDef {
  const char* name;
  std::vector<Param> params;
  std::vector<const char*> locals;
  const char* doc;  // nullptr: no docstring
  Body body;
  int line;  // where the row is defined; reported in tracebacks

  int required_count() const {
    int count = 0;
    for (const Param& p : params)
      if (p.fallback.type == Default::Type::Required) ++count;
    return count;
  }
};

constexpr int kMaxParams = 8;
constexpr int kMaxViews = 16;
// Arrays one call can view at once: arguments, stages, outputs, work arrays and queues.
constexpr int kMaxPinned = 32;

struct Keyword {
  const char* name;
  PyObject* value;
};

// State of one call: converted arguments, acquired views (released when the
// Call goes out of scope, on every path) and the services a body may use.
//
// Pinning: every array a view is taken of stays referenced by the Call until the
// call ends, so `ndarray.resize` (which refuses while others hold a reference) from
// another thread or from Python code running mid-call cannot free a buffer in use.
// Views are only ever taken here.
class Call {
 public:
  explicit Call(const FunctionDef& def) : def_(def) {}
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call();

  // The bound arguments by parameter position, for the frame only: bodies receive
  // them as the typed members of their declaration (frame/declaration.hpp).
  struct Slots {
    PyObject* objects[kMaxParams] = {};
    int32_t integers[kMaxParams] = {};
    bool flags[kMaxParams] = {};
    FloatView arrays[kMaxParams];
  };
  const Slots& slots() const { return slots_; }
  Slots& slots() { return slots_; }

  // len(obj) as the 32-bit int the indicators count with.
  int32_t length(PyObject* obj);
  // An allocated array and its writable view.
  template <typename T>
  struct Allocated {
    Ref object;
    View<T> view;
  };
  // np.full(n, np.nan, dtype=np.float32): a new output series.
  Ref new_series(int32_t n);
  Allocated<float> new_output(int32_t n) {
    Ref series = new_series(n);
    const FloatView view = float_view(series.get(), true);
    return {std::move(series), view};
  }
  // An output whose body writes every position, NaN where it computes nothing:
  // numpy's own np.full would fill what is overwritten anyway, so the array comes
  // unfilled; a rebound np.full is called as always.
  Allocated<float> new_output_written_whole(int32_t n);
  // Whether allocating outputs and work series runs no Python code (`np` and its
  // allocation attributes are numpy's own).
  static bool allocation_is_native();
  // Whether the module's global `name` is still the module's own function of that
  // name, and `levels` nested calls of it would pass the nesting bound and the
  // interpreter's recursion guard. When both hold, a composite may compute the
  // stage itself: the call could neither fail before its body nor run Python code.
  static bool sibling_is_own(const char* name, int levels);
  // np.zeros(n, dtype=np.int32): storage for a position queue. The queues read no
  // slot before writing it, so while np.zeros is numpy's own the array comes unfilled.
  Allocated<int32_t> new_positions(int32_t n) {
    Ref slots = new_queue_slots(n);
    const IntView view = int_view(slots.get());
    return {std::move(slots), view};
  }
  // np.zeros(n, dtype=np.float32): a float work series.
  Allocated<float> new_work_series(int32_t n) {
    Ref series = new_zeros(n, "float32");
    const FloatView view = float_view(series.get(), true);
    return {std::move(series), view};
  }
  // np.zeros(n, dtype=np.<dtype_name>): a work series ("float32" or "int32").
  Ref new_zeros(int32_t n, const char* dtype_name);
  Ref new_queue_slots(int32_t n);
  // Result conversion, then a float32 view (writable for outputs and work series).
  FloatView float_view(PyObject* array, bool writable);
  IntView int_view(PyObject* array);
  // The view of an exact, native-order, one-dimensional float32 ndarray of length n,
  // pinned like every other; false (nothing taken) for anything else.
  bool plain_float_view(PyObject* array, int64_t n, FloatView& view);
  // A module-level function or builtin looked up by name now, called with these arguments.
  Ref call_global(const char* name, std::initializer_list<PyObject*> args,
                  std::initializer_list<Keyword> keywords = {});
  // np.nanmean(series[start:stop]) converted to float32; start and stop are
  // Python ints or None, sliced with Python's rules.
  float nanmean_of_slice(PyObject* series, PyObject* start, PyObject* stop);
  // getattr(np, attr), with np looked up afresh in the module globals.
  Ref numpy_attr(const char* attr);
  static bool truth(PyObject* obj);

  // Takes the views of the Array arguments; used by the frame before the body runs.
  void acquire_argument_views();

 private:
  template <typename T>
  View<T> acquire(PyObject* array, bool writable, bool integer);
  void pin(PyObject* array);

  const FunctionDef& def_;
  Slots slots_;
  Py_buffer buffers_[kMaxViews];
  int buffer_count_ = 0;
  PyObject* pinned_[kMaxPinned];
  int pinned_count_ = 0;
};

// Releases the GIL for the lifetime of the object when `release` is true. Only
// native loops over views may run meanwhile: no Python object may be touched.
class GilRelease {
 public:
  explicit GilRelease(bool release) : state_(release ? PyEval_SaveThread() : nullptr) {}
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;
  ~GilRelease() {
    if (state_ != nullptr) PyEval_RestoreThread(state_);
  }

 private:
  PyThreadState* state_;
};

// Small conveniences for bodies building call arguments.
Ref py_int(long value);
PyObject* py_bool(bool value);  // borrowed singleton
PyObject* interned(const char* text);  // cached per literal address; borrowed

// Set while the module executes; every lookup of a global goes through it.
extern PyObject* g_module_dict;
PyObject* lookup_global(PyObject* name);  // module dict, then builtins; borrowed or NULL+NameError

// numpy.ndarray, imported while the module executes.
extern PyTypeObject* g_ndarray_type;

}  // namespace velk
