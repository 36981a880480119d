// velkized_ta._classic: every route of the classic indicators over the registry.
//
// The indicators register themselves (indicators/classic/*.cpp); this module sorts the rows by
// name and offers them as `registry()`, one series (`compute`), many series (`run_many`) and live
// handles (`open`, `restore`). Every route runs the same state's step through the driver, so the
// values agree bit for bit. Arrays travel through the buffer protocol (the function route reads
// short numpy arrays and its own outputs through their fields); numpy is called only to convert
// and allocate, never per bar.

#include <Python.h>

#include "frame/compat.hpp"

// The array object's fields only (inline accessors, no C-API table): the function route reads a
// float64 array's data in place and writes the arrays it made itself.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/ndarraytypes.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "classic_engine/indicator.hpp"

namespace velk::classic {

std::vector<Entry>& registry_rows() {
  static std::vector<Entry> rows;
  return rows;
}

namespace {

constexpr int kStateVersion = 1;
constexpr ptrdiff_t kReleaseGilFrom = 2048;  // bars; shorter loops keep the GIL
constexpr int kMaxInputs = 8;
constexpr int kMaxOutputs = 8;

PyObject* numpy_empty = nullptr;
PyObject* numpy_ascontiguous = nullptr;
PyObject* float64_dtype = nullptr;
PyObject* float32_dtype = nullptr;
PyTypeObject* ndarray_type = nullptr;
PyObject* float64_descr = nullptr;  // numpy's own float64 and float32 dtype instances (np.empty
PyObject* float32_descr = nullptr;  // takes them without converting a type object first)

const std::vector<Entry>& rows() { return registry_rows(); }

// Inputs a caller must give: those before the first optional one.
int required_inputs(const Entry& e) {
  int required = 0;
  while (required < e.ops.inputs && !e.descriptor.inputs[static_cast<size_t>(required)].optional) ++required;
  return required;
}

// ---------------------------------------------------------------- arguments

struct Buffer {
  Py_buffer view{};
  bool held = false;
  bool borrowed = false;  // `view` describes an array's own fields: no export to release
  Py_ssize_t borrowed_shape = 0, borrowed_stride = 0;
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (held && !borrowed) PyBuffer_Release(&view);
  }
  // A float64 (or, writable or where `float32_too`, float32 / float64) array of `ndim` dimensions
  // with aligned strides.
  bool get(PyObject* obj, int ndim, bool writable, const char* what, bool float32_too = false) {
    if (PyObject_GetBuffer(obj, &view, PyBUF_STRIDES | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0)) < 0)
      return false;
    held = true;
    const char* f = view.format ? view.format : "B";
    if (*f == '<' || *f == '=' || *f == '@') ++f;
    const bool is_double = std::strcmp(f, "d") == 0 && view.itemsize == 8;
    const bool is_float = std::strcmp(f, "f") == 0 && view.itemsize == 4;
    if (view.ndim != ndim || !(is_double || ((writable || float32_too) && is_float))) {
      PyErr_Format(PyExc_TypeError, "%s must be a %d-D float64 array", what, ndim);
      return false;
    }
    for (int d = 0; d < ndim; ++d) {
      if (view.strides[d] % view.itemsize != 0) {
        PyErr_Format(PyExc_ValueError, "%s must have aligned strides", what);
        return false;
      }
    }
    if (reinterpret_cast<uintptr_t>(view.buf) % static_cast<uintptr_t>(view.itemsize) != 0) {
      PyErr_Format(PyExc_ValueError, "%s must be aligned", what);
      return false;
    }
    return true;
  }
  bool is_float32() const { return view.itemsize == 4; }
  ptrdiff_t length(int d = 0) const { return view.shape[d]; }
  ptrdiff_t stride(int d = 0) const { return view.strides[d] / view.itemsize; }
};

const Entry* entry_at(PyObject* index_obj) {
  const Py_ssize_t index = PyLong_AsSsize_t(index_obj);
  if (index == -1 && PyErr_Occurred()) return nullptr;
  if (index < 0 || index >= static_cast<Py_ssize_t>(rows().size())) {
    PyErr_SetString(PyExc_IndexError, "no classic indicator at this index");
    return nullptr;
  }
  return &rows()[static_cast<size_t>(index)];
}

std::string number_text(double v, ParamKind kind) {
  char text[64];
  if (kind == ParamKind::integer) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
  } else {
    std::snprintf(text, sizeof text, "%.17g", v);
    // Shortest text that reads back as v.
    for (int digits = 1; digits <= 17; ++digits) {
      char shorter[64];
      std::snprintf(shorter, sizeof shorter, "%.*g", digits, v);
      if (std::strtod(shorter, nullptr) == v) {
        std::memcpy(text, shorter, sizeof shorter);
        break;
      }
    }
  }
  return text;
}

bool out_of_range(const Descriptor& d, const ParamSpec& p, PyObject* given) {
  PyObject* shown = PyObject_Repr(given);
  if (!shown) return false;
  PyErr_Format(PyExc_ValueError, "%s() argument '%s' must be in %s..%s, got %U", d.name, p.name,
               number_text(p.min, p.kind).c_str(), number_text(p.max, p.kind).c_str(), shown);
  Py_DECREF(shown);
  return false;
}

// The parameters of `d` from a tuple of Python numbers, checked against their kinds and ranges.
bool parse_params(const Descriptor& d, PyObject* given, std::vector<double>& values) {
  if (!PyTuple_Check(given) || PyTuple_GET_SIZE(given) != static_cast<Py_ssize_t>(d.params.size())) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd parameters", d.name, d.params.size());
    return false;
  }
  values.resize(d.params.size());
  for (size_t i = 0; i < d.params.size(); ++i) {
    const ParamSpec& p = d.params[i];
    PyObject* obj = PyTuple_GET_ITEM(given, static_cast<Py_ssize_t>(i));
    if (PyBool_Check(obj)) {
      PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not bool", d.name, p.name,
                   p.kind == ParamKind::integer ? "an integer" : "a real number");
      return false;
    }
    if (p.kind == ParamKind::integer) {
      if (!PyIndex_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be an integer, not %s", d.name, p.name,
                     Py_TYPE(obj)->tp_name);
        return false;
      }
      PyObject* number = PyNumber_Index(obj);
      if (!number) return false;
      int overflow = 0;
      const long long v = PyLong_AsLongLongAndOverflow(number, &overflow);
      Py_DECREF(number);
      if (v == -1 && PyErr_Occurred()) return false;
      if (overflow || static_cast<double>(v) < p.min || static_cast<double>(v) > p.max) return out_of_range(d, p, obj);
      values[i] = static_cast<double>(v);
    } else {
      const double v = PyFloat_AsDouble(obj);
      if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
          PyErr_Clear();
          PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be a real number, not %s", d.name, p.name,
                       Py_TYPE(obj)->tp_name);
        }
        return false;
      }
      if (!(v >= p.min && v <= p.max)) return out_of_range(d, p, obj);
      values[i] = v;
    }
  }
  return true;
}

PyObject* params_tuple(const Descriptor& d, const std::vector<double>& values) {
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(values.size()));
  if (!t) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* v = d.params[i].kind == ParamKind::integer ? PyLong_FromLongLong(static_cast<long long>(values[i]))
                                                         : PyFloat_FromDouble(values[i]);
    if (!v) {
      Py_DECREF(t);
      return nullptr;
    }
    PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), v);
  }
  return t;
}

PyObject* new_array(Py_ssize_t length, bool float32) {
  PyObject* size = PyLong_FromSsize_t(length);
  if (!size) return nullptr;
  PyObject* args[2] = {size, float32 ? float32_descr : float64_descr};
  PyObject* array = PyObject_Vectorcall(numpy_empty, args, 2, nullptr);
  Py_DECREF(size);
  return array;
}

PyObject* one_or_tuple(std::vector<PyObject*>& objects) {
  if (objects.size() == 1) return objects[0];
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(objects.size()));
  if (!t) {
    for (PyObject* o : objects) Py_DECREF(o);
    return nullptr;
  }
  for (size_t k = 0; k < objects.size(); ++k) PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(k), objects[k]);
  return t;
}

// Owns a state created by an entry's operations.
struct StatePtr {
  const Operations* ops = nullptr;
  void* state = nullptr;
  StatePtr() = default;
  StatePtr(const Operations* o, void* s) : ops(o), state(s) {}
  StatePtr(const StatePtr&) = delete;
  StatePtr& operator=(const StatePtr&) = delete;
  ~StatePtr() {
    if (state) ops->destroy(state);
  }
  void reset(const Operations* o, void* s) {
    if (state) ops->destroy(state);
    ops = o;
    state = s;
  }
};

void* create_state(const Entry& e, const std::vector<double>& params) {
  try {
    return e.ops.create(params.data());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return nullptr;
  }
}

// Runs a state over `length` bars of contiguous float64 columns into new output arrays.
PyObject* run_columns(const Entry& e, void* state, const double* const* columns, ptrdiff_t length, bool float32) {
  const int outputs = e.ops.outputs;
  std::vector<PyObject*> outs;
  outs.reserve(static_cast<size_t>(outputs));
  double* out64[kMaxOutputs];
  float* out32[kMaxOutputs];
  for (int k = 0; k < outputs; ++k) {
    // A new contiguous array no one else holds yet: written through its own data pointer (a
    // buffer export would build its format string on every call).
    PyObject* array = new_array(length, float32);
    if (!array) {
      for (PyObject* o : outs) Py_DECREF(o);
      return nullptr;
    }
    outs.push_back(array);
    if (Py_TYPE(array) != ndarray_type) {
      for (PyObject* o : outs) Py_DECREF(o);
      PyErr_SetString(PyExc_TypeError, "numpy.empty gave no ndarray");
      return nullptr;
    }
    out64[k] = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
    out32[k] = static_cast<float*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
  }
  const SeriesIn series{columns, 1};
  auto run = [&] {
    if (float32)
      e.ops.run_f32(state, series, length, SeriesOut<float>{out32, 1});
    else
      e.ops.run_f64(state, series, length, SeriesOut<double>{out64, 1});
  };
  if (length >= kReleaseGilFrom) {
    Py_BEGIN_ALLOW_THREADS run();
    Py_END_ALLOW_THREADS
  } else {
    run();
  }
  return one_or_tuple(outs);
}

// The zeros an optional input left out reads: one read-only mapping of zero pages for the
// process, grown as longer series come. Its pages map the kernel's shared zero page when first
// read and stay mapped, so a later call reads them without a fault (a fresh calloc'd column per
// call cost vwap without an anchor over 10^6 bars as much again as its own work whenever the
// allocator handed back used memory, which it then filled, or fresh pages, which fault as read).
// An outgrown mapping is kept: a call that released the GIL may still be reading it.
const double* zero_column(ptrdiff_t length) {
  static std::mutex guard;
  static const double* zeros = nullptr;
  static size_t held = 0;
  const size_t wanted = static_cast<size_t>(std::max<ptrdiff_t>(length, 1));
  std::lock_guard<std::mutex> lock(guard);
  if (wanted <= held) return zeros;
  const size_t count = std::max({wanted, 2 * held, size_t{4096}});
#if defined(__linux__)
  void* mapped = mmap(nullptr, count * sizeof(double), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  zeros = static_cast<const double*>(mapped);
#else
  const double* allocated = static_cast<const double*>(std::calloc(count, sizeof(double)));
  if (!allocated) return nullptr;
  zeros = allocated;
#endif
  held = count;
  return zeros;
}

// Checks that `in` holds the entry's inputs, all of one length; fills `columns`. A buffer not
// held is an optional input left out: it reads zero_column.
bool input_columns(const Entry& e, Buffer* in, const double** columns, ptrdiff_t& length, const char* what) {
  const auto& d = e.descriptor;
  length = -1;
  for (int k = 0; k < e.ops.inputs; ++k) {
    if (!in[k].held) continue;
    if (in[k].stride() != 1) {
      PyErr_Format(PyExc_ValueError, "%s must be contiguous", what);
      return false;
    }
    if (length >= 0 && in[k].length() != length) {
      PyErr_Format(PyExc_ValueError, "%s() input '%s' has %zd values, but '%s' has %zd", d.name, d.inputs[k].name,
                   in[k].length(), d.inputs[0].name, length);
      return false;
    }
    length = in[k].length();
    columns[k] = static_cast<const double*>(in[k].view.buf);
  }
  for (int k = 0; k < e.ops.inputs; ++k) {
    if (in[k].held) continue;
    columns[k] = zero_column(length);
    if (!columns[k]) {
      PyErr_NoMemory();
      return false;
    }
  }
  return true;
}

// Runs a fresh or given state over 1-D float64 inputs into new output arrays.
PyObject* run_into_new(const Entry& e, void* state, PyObject* inputs, bool float32, const char* what) {
  const auto& d = e.descriptor;
  if (!PyTuple_Check(inputs) || PyTuple_GET_SIZE(inputs) != e.ops.inputs) {
    PyErr_Format(PyExc_TypeError, "%s() takes %d input series", d.name, e.ops.inputs);
    return nullptr;
  }
  Buffer in[kMaxInputs];
  const double* columns[kMaxInputs];
  for (int k = 0; k < e.ops.inputs; ++k)
    if (!in[k].get(PyTuple_GET_ITEM(inputs, k), 1, false, what)) return nullptr;
  ptrdiff_t length = 0;
  if (!input_columns(e, in, columns, length, what)) return nullptr;
  return run_columns(e, state, columns, length, float32);
}

// A 1-D float64 array with unit stride, as the function route takes it without conversion.
bool take_plain_series(PyObject* obj, Buffer& b) {
  // numpy's own float64 arrays, short enough that the loop keeps the GIL, are read through their
  // fields (an export builds the format string anew on every call, a large part of a short call).
  // Longer ones are exported, so no other thread can resize them while the loop runs without it.
  if (Py_TYPE(obj) == ndarray_type) {
    auto* array = reinterpret_cast<PyArrayObject*>(obj);
    constexpr int kPlain = NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED;
    if (reinterpret_cast<PyObject*>(PyArray_DESCR(array)) == float64_descr && PyArray_NDIM(array) == 1 &&
        PyArray_DIM(array, 0) < kReleaseGilFrom && (PyArray_FLAGS(array) & kPlain) == kPlain) {
      b.borrowed_shape = PyArray_DIM(array, 0);
      b.borrowed_stride = sizeof(double);
      b.view.buf = PyArray_DATA(array);
      b.view.itemsize = sizeof(double);
      b.view.ndim = 1;
      b.view.shape = &b.borrowed_shape;
      b.view.strides = &b.borrowed_stride;
      b.held = b.borrowed = true;
      return true;
    }
  }
  if (PyObject_GetBuffer(obj, &b.view, PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
    PyErr_Clear();
    return false;
  }
  b.held = true;
  const char* f = b.view.format ? b.view.format : "B";
  if (*f == '<' || *f == '=' || *f == '@') ++f;
  // Unaligned float64 data (a view at an odd byte offset) goes to the conversion, which copies it.
  if (f[0] == 'd' && f[1] == '\0' && b.view.itemsize == 8 && b.view.ndim == 1 && b.view.strides[0] == 8 &&
      reinterpret_cast<uintptr_t>(b.view.buf) % alignof(double) == 0)
    return true;
  PyBuffer_Release(&b.view);
  b.held = false;
  return false;
}

// ---------------------------------------------------------------- module functions

PyObject* registry(PyObject*, PyObject*) {
  PyObject* all = PyTuple_New(static_cast<Py_ssize_t>(rows().size()));
  if (!all) return nullptr;
  for (size_t i = 0; i < rows().size(); ++i) {
    const Descriptor& d = rows()[i].descriptor;
    PyObject* inputs = PyTuple_New(static_cast<Py_ssize_t>(d.inputs.size()));
    PyObject* outputs = PyTuple_New(static_cast<Py_ssize_t>(d.outputs.size()));
    PyObject* params = PyTuple_New(static_cast<Py_ssize_t>(d.params.size()));
    PyObject* optional_inputs = nullptr;
    if (!inputs || !outputs || !params) goto fail_parts;
    for (size_t k = 0; k < d.inputs.size(); ++k)
      PyTuple_SET_ITEM(inputs, static_cast<Py_ssize_t>(k), PyUnicode_FromString(d.inputs[k].name));
    optional_inputs = PyTuple_GetSlice(inputs, required_inputs(rows()[i]), static_cast<Py_ssize_t>(d.inputs.size()));
    if (!optional_inputs) goto fail_parts;
    for (size_t k = 0; k < d.outputs.size(); ++k)
      PyTuple_SET_ITEM(outputs, static_cast<Py_ssize_t>(k), PyUnicode_FromString(d.outputs[k]));
    for (size_t k = 0; k < d.params.size(); ++k) {
      const ParamSpec& p = d.params[k];
      const bool integer = p.kind == ParamKind::integer;
      PyObject* row = integer ? Py_BuildValue("{s:s,s:s,s:L,s:L,s:L,s:s}", "name", p.name, "kind", "int",
                                              "default", static_cast<long long>(p.default_value), "min",
                                              static_cast<long long>(p.min), "max", static_cast<long long>(p.max),
                                              "doc", p.doc)
                              : Py_BuildValue("{s:s,s:s,s:d,s:d,s:d,s:s}", "name", p.name, "kind", "float",
                                              "default", p.default_value, "min", p.min, "max", p.max, "doc", p.doc);
      if (!row) goto fail_parts;
      PyTuple_SET_ITEM(params, static_cast<Py_ssize_t>(k), row);
    }
    {
      // "lanes": a table's columns step together in vector lanes (run_many, one series per column).
      PyObject* row = Py_BuildValue("{s:s,s:s,s:s,s:s,s:N,s:N,s:N,s:N,s:O}", "name", d.name, "group", d.group, "summary",
                                    d.summary, "doc", d.doc, "inputs", inputs, "optional_inputs", optional_inputs,
                                    "params", params, "outputs", outputs, "lanes",
                                    rows()[i].ops.columns_f64_f64 ? Py_True : Py_False);
      if (!row) {
        Py_DECREF(all);
        return nullptr;
      }
      PyTuple_SET_ITEM(all, static_cast<Py_ssize_t>(i), row);
      continue;
    }
  fail_parts:
    Py_XDECREF(optional_inputs);
    Py_XDECREF(inputs);
    Py_XDECREF(outputs);
    Py_XDECREF(params);
    Py_DECREF(all);
    return nullptr;
  }
  return all;
}

// lookback(index, params) -> first-value position on NaN-free input.
PyObject* lookback(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "lookback(index, params)");
    return nullptr;
  }
  const Entry* e = entry_at(args[0]);
  std::vector<double> params;
  if (!e || !parse_params(e->descriptor, args[1], params)) return nullptr;
  return PyLong_FromLongLong(e->descriptor.lookback(params.data()));
}

// first_positions(index, params) -> per output, its first value's position on NaN-free input.
PyObject* first_positions(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "first_positions(index, params)");
    return nullptr;
  }
  const Entry* e = entry_at(args[0]);
  std::vector<double> params;
  if (!e || !parse_params(e->descriptor, args[1], params)) return nullptr;
  int64_t positions[kMaxOutputs];
  if (e->descriptor.first_positions)
    e->descriptor.first_positions(params.data(), positions);
  else
    std::fill(positions, positions + e->ops.outputs, e->descriptor.lookback(params.data()));
  PyObject* t = PyTuple_New(e->ops.outputs);
  if (!t) return nullptr;
  for (int k = 0; k < e->ops.outputs; ++k) {
    PyObject* v = PyLong_FromLongLong(positions[k]);
    if (!v) {
      Py_DECREF(t);
      return nullptr;
    }
    PyTuple_SET_ITEM(t, k, v);
  }
  return t;
}

// compute(index, inputs, params, dtype, convert, float32_of) -> array or tuple of arrays.
// Inputs that are 1-D float64 arrays with unit stride are read in place; any other input goes
// through convert(position, value) (the Python conversion, with its errors), and a dtype other
// than numpy.float64 / numpy.float32 through float32_of(dtype). Short series spend most of their
// time here, so the common case makes no Python call.
PyObject* compute(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 6) {
    PyErr_SetString(PyExc_TypeError, "compute(index, inputs, params, dtype, convert, float32_of)");
    return nullptr;
  }
  const Entry* e = entry_at(args[0]);
  if (!e) return nullptr;
  PyObject* inputs = args[1];
  if (!PyTuple_Check(inputs) || PyTuple_GET_SIZE(inputs) != e->ops.inputs) {
    PyErr_Format(PyExc_TypeError, "%s() takes %d input series", e->descriptor.name, e->ops.inputs);
    return nullptr;
  }
  Buffer in[kMaxInputs];
  PyObject* converted[kMaxInputs] = {};
  struct Release {
    PyObject** objects;
    int count;
    ~Release() {
      for (int k = 0; k < count; ++k) Py_XDECREF(objects[k]);
    }
  } release{converted, e->ops.inputs};
  for (int k = 0; k < e->ops.inputs; ++k) {
    if (PyTuple_GET_ITEM(inputs, k) == Py_None && e->descriptor.inputs[static_cast<size_t>(k)].optional) continue;
    if (take_plain_series(PyTuple_GET_ITEM(inputs, k), in[k])) continue;
    PyObject* position = PyLong_FromLong(k);
    if (!position) return nullptr;
    PyObject* call_args[2] = {position, PyTuple_GET_ITEM(inputs, k)};
    converted[k] = PyObject_Vectorcall(args[4], call_args, 2, nullptr);
    Py_DECREF(position);
    if (!converted[k] || !in[k].get(converted[k], 1, false, "input")) return nullptr;
  }
  bool float32 = args[3] == float32_dtype;
  if (args[3] != float64_dtype && !float32) {
    PyObject* wanted = PyObject_CallOneArg(args[5], args[3]);
    if (!wanted) return nullptr;
    const int truth = PyObject_IsTrue(wanted);
    Py_DECREF(wanted);
    if (truth < 0) return nullptr;
    float32 = truth == 1;
  }
  std::vector<double> params;
  if (!parse_params(e->descriptor, args[2], params)) return nullptr;
  const double* columns[kMaxInputs];
  ptrdiff_t length = 0;
  if (!input_columns(*e, in, columns, length, "input")) return nullptr;
  StatePtr state(&e->ops, create_state(*e, params));
  if (!state.state) return nullptr;
  return run_columns(*e, state.state, columns, length, float32);
}

// Contiguous scratch for series strided in time (the columns of a row-major table): a chunk of
// bars of every input and output of a block of series, gathered and scattered around the driver,
// so the states' contiguous loops and run kernels take them (the same bits: a run continues from
// any cut as the step would). A row's values of the whole block move together: one pass over the
// chunk's rows per array, rather than one per series (each row a page apart on wide tables).
struct ChunkScratch {
  // Series moved together: a worker's whole share of the columns where it fits, so each row is
  // read and written as one contiguous run (blocks of 16 columns, two lines of a row, walked the
  // table once each and measured 2x slower on 200 x 20,000).
  static constexpr size_t kBlockSeries = 1024;
  // The chunk's bars: as many as keep the block's scratch within about 2 MB (128 at the least, so
  // each series' call does a run's worth of work; 1,024 at the most).
  static constexpr size_t kScratchBytes = size_t{1} << 21;
  ptrdiff_t chunk_bars = 0;
  // Each array's scratch a line further from the previous one's than a multiple of 4 KB: values
  // moved to or from the same row then fall in different L1 sets and addresses the CPU cannot
  // mistake for one another (same low 12 bits), which stalled each move.
  size_t stride = 0;
  std::vector<double> inputs, outputs64;
  std::vector<float> outputs32;
  // Series j's array k at [j * count + k] (count: inputs or outputs).
  std::vector<const double*> in_at;
  std::vector<double*> out64_at;
  std::vector<float*> out32_at;

  void allocate(size_t n_in, size_t n_out, size_t block, bool float32) {  // throws std::bad_alloc
    const size_t fitting = kScratchBytes / (block * (n_in + n_out) * sizeof(double));
    chunk_bars = static_cast<ptrdiff_t>(std::clamp<size_t>(fitting / 8 * 8, 128, 1024));
    stride = static_cast<size_t>(chunk_bars) + 8;
    if (stride % 512 == 0) stride += 8;
    inputs.resize(block * n_in * stride);
    for (size_t k = 0; k < block * n_in; ++k) in_at.push_back(inputs.data() + k * stride);
    if (float32) {
      outputs32.resize(block * n_out * stride);
      for (size_t k = 0; k < block * n_out; ++k) out32_at.push_back(outputs32.data() + k * stride);
    } else {
      outputs64.resize(block * n_out * stride);
      for (size_t k = 0; k < block * n_out; ++k) out64_at.push_back(outputs64.data() + k * stride);
    }
    n_inputs = n_in;
    n_outputs = n_out;
  }
  size_t n_inputs = 0, n_outputs = 0;

  // Series `first` .. `first + count - 1` of a table strided in time (series j's arrays start
  // `j * in_series` / `j * out_series` elements after `in` / `out`), each through its own state,
  // a chunk of rows at a time: the block's columns share the cache lines a chunk reads and writes.
  template <class Out>
  void run_block(const Operations& ops, void* const* states, size_t count, const double* const* in,
                 const ptrdiff_t* in_series, ptrdiff_t in_stride, Out* const* out, const ptrdiff_t* out_series,
                 ptrdiff_t out_stride, ptrdiff_t length) {
    const size_t n_in = n_inputs, n_out = n_outputs;
    Out* results = nullptr;
    if constexpr (std::is_same_v<Out, float>) results = outputs32.data(); else results = outputs64.data();
    for (ptrdiff_t from = 0; from < length; from += chunk_bars) {
      const ptrdiff_t bars = std::min(chunk_bars, length - from);
      for (size_t k = 0; k < n_in; ++k) {
        const double* rows = in[k] + from * in_stride;
        const ptrdiff_t between = in_series[k];
        double* const into = inputs.data() + k * stride;
        const size_t next = n_in * stride;  // from one series' scratch to the next's
        for (ptrdiff_t t = 0; t < bars; ++t, rows += in_stride)
          for (size_t j = 0; j < count; ++j) into[j * next + static_cast<size_t>(t)] = rows[static_cast<ptrdiff_t>(j) * between];
      }
      for (size_t j = 0; j < count; ++j) {
        const SeriesIn chunk{in_at.data() + j * n_in, 1};
        if constexpr (std::is_same_v<Out, float>) {
          ops.run_f32(states[j], chunk, bars, SeriesOut<float>{out32_at.data() + j * n_out, 1});
        } else {
          ops.run_f64(states[j], chunk, bars, SeriesOut<double>{out64_at.data() + j * n_out, 1});
        }
      }
      for (size_t k = 0; k < n_out; ++k) {
        Out* rows = out[k] + from * out_stride;
        const ptrdiff_t between = out_series[k];
        const Out* const from_chunk = results + k * stride;
        const size_t next = n_out * stride;
        for (ptrdiff_t t = 0; t < bars; ++t, rows += out_stride)
          for (size_t j = 0; j < count; ++j) rows[static_cast<ptrdiff_t>(j) * between] = from_chunk[j * next + static_cast<size_t>(t)];
      }
    }
  }
};

// run_many(index, params, inputs, outputs, offsets, axis, threads): each series of the 2-D inputs
// (or each segment of 1-D ones) through a fresh state into the matching place of the outputs.
PyObject* run_many(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 7) {
    PyErr_SetString(PyExc_TypeError, "run_many(index, params, inputs, outputs, offsets, axis, threads)");
    return nullptr;
  }
  const Entry* e = entry_at(args[0]);
  std::vector<double> params;
  if (!e || !parse_params(e->descriptor, args[1], params)) return nullptr;
  PyObject* inputs = args[2];
  PyObject* outputs = args[3];
  const bool segmented = args[4] != Py_None;
  const long axis = PyLong_AsLong(args[5]);
  const long requested_threads = PyLong_AsLong(args[6]);
  if (PyErr_Occurred()) return nullptr;
  if (!PyTuple_Check(inputs) || PyTuple_GET_SIZE(inputs) != e->ops.inputs || !PyTuple_Check(outputs) ||
      PyTuple_GET_SIZE(outputs) != e->ops.outputs || (axis != 0 && axis != 1)) {
    PyErr_SetString(PyExc_ValueError, "run_many: inputs, outputs or axis do not fit the indicator");
    return nullptr;
  }
  const int ndim = segmented ? 1 : 2;
  // One series per column of row-major tables: blocks of consecutive columns stepped together in
  // lanes, where the state has them (each column keeps its scalar bits); float32 tables are then
  // read as they are, each row widened as it is loaded.
  const bool in_lanes = !segmented && axis == 0 && e->ops.columns_f64_f64 != nullptr;
  std::vector<Buffer> in(static_cast<size_t>(e->ops.inputs)), out(static_cast<size_t>(e->ops.outputs));
  for (size_t k = 0; k < in.size(); ++k)
    if (!in[k].get(PyTuple_GET_ITEM(inputs, static_cast<Py_ssize_t>(k)), ndim, false, "input", in_lanes))
      return nullptr;
  for (size_t k = 0; k < out.size(); ++k)
    if (!out[k].get(PyTuple_GET_ITEM(outputs, static_cast<Py_ssize_t>(k)), ndim, true, "output")) return nullptr;
  const bool float32 = out[0].is_float32();
  for (auto* group : {&in, &out}) {
    for (auto& b : *group) {
      if (b.is_float32() != (group == &out ? float32 : in[0].is_float32()) ||
          std::memcmp(b.view.shape, in[0].view.shape, sizeof(Py_ssize_t) * static_cast<size_t>(ndim)) != 0) {
        PyErr_SetString(PyExc_ValueError, "run_many: arrays differ in shape or type");
        return nullptr;
      }
    }
  }
  // Series j: starts[j] elements in (per array), lengths[j] bars, one time stride per array.
  std::vector<int64_t> starts, lengths;
  std::vector<ptrdiff_t> in_series(in.size()), out_series(out.size()), in_time(in.size()), out_time(out.size());
  if (segmented) {
    Buffer offsets;
    if (PyObject_GetBuffer(args[4], &offsets.view, PyBUF_STRIDES | PyBUF_FORMAT) < 0) return nullptr;
    offsets.held = true;
    if (offsets.view.ndim != 1 || offsets.view.itemsize != 8 || offsets.view.strides[0] != 8 ||
        !offsets.view.format || std::strchr("qlQL", offsets.view.format[std::strlen(offsets.view.format) - 1]) == nullptr) {
      PyErr_SetString(PyExc_TypeError, "run_many: offsets must be a contiguous int64 array");
      return nullptr;
    }
    const auto* o = static_cast<const int64_t*>(offsets.view.buf);
    const Py_ssize_t count = offsets.view.shape[0];
    if (count < 1 || o[0] != 0 || o[count - 1] != in[0].length()) {
      PyErr_SetString(PyExc_ValueError, "run_many: offsets must run from 0 to the length");
      return nullptr;
    }
    for (Py_ssize_t j = 0; j + 1 < count; ++j) {
      if (o[j + 1] < o[j]) {
        PyErr_SetString(PyExc_ValueError, "run_many: offsets must be ascending");
        return nullptr;
      }
      starts.push_back(o[j]);
      lengths.push_back(o[j + 1] - o[j]);
    }
    for (size_t k = 0; k < in.size(); ++k) in_series[k] = in_time[k] = in[k].stride(0);
    for (size_t k = 0; k < out.size(); ++k) out_series[k] = out_time[k] = out[k].stride(0);
  } else {
    const int series_dim = axis == 0 ? 1 : 0;
    const int time_dim = axis == 0 ? 0 : 1;
    for (ptrdiff_t j = 0; j < in[0].length(series_dim); ++j) {
      starts.push_back(j);
      lengths.push_back(in[0].length(time_dim));
    }
    for (size_t k = 0; k < in.size(); ++k) {
      in_series[k] = in[k].stride(series_dim);
      in_time[k] = in[k].stride(time_dim);
    }
    for (size_t k = 0; k < out.size(); ++k) {
      out_series[k] = out[k].stride(series_dim);
      out_time[k] = out[k].stride(time_dim);
    }
  }
  // Inputs of one series share a time stride in the driver's loop; copies make them so.
  const bool same_strides = std::all_of(in_time.begin(), in_time.end(), [&](ptrdiff_t s) { return s == in_time[0]; }) &&
                            std::all_of(out_time.begin(), out_time.end(), [&](ptrdiff_t s) { return s == out_time[0]; });
  if (!same_strides && !in_lanes) {  // the lanes read each array with its own strides
    PyErr_SetString(PyExc_ValueError, "run_many: arrays must share their layout");
    return nullptr;
  }
  const size_t count = starts.size();
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t wanted = std::min<size_t>(static_cast<size_t>(std::max(1L, requested_threads)), cores);
  // Blocks of columns, a share per worker (whole groups of 8) up to the most one call takes.
  const size_t share = (count + wanted - 1) / wanted;
  const size_t lane_block = std::min<size_t>(kLaneBlockColumns, std::max<size_t>(8, (share + 7) / 8 * 8));
  const size_t lane_blocks = (count + lane_block - 1) / lane_block;
  // Series of a table strided in time go in blocks of consecutive columns (ChunkScratch).
  const bool strided = !segmented && !in_lanes && (in_time[0] != 1 || out_time[0] != 1);
  const size_t block_series = std::min(ChunkScratch::kBlockSeries, std::max<size_t>(8, (share + 7) / 8 * 8));
  const size_t series_blocks = (count + block_series - 1) / block_series;
  const size_t tasks = in_lanes ? lane_blocks : strided ? series_blocks : count;
  const size_t workers = std::min<size_t>(tasks ? tasks : 1, wanted);
  std::atomic<size_t> next{0};
  std::atomic<bool> out_of_memory{false};
  auto work_in_lanes = [&] {
    std::vector<const double*> in64(in.size());
    std::vector<const float*> in32(in.size());
    std::vector<double*> out64(out.size());
    std::vector<float*> out32(out.size());
    for (size_t k = 0; k < in.size(); ++k) {
      in64[k] = static_cast<const double*>(in[k].view.buf);
      in32[k] = static_cast<const float*>(in[k].view.buf);
    }
    for (size_t k = 0; k < out.size(); ++k) {
      out64[k] = static_cast<double*>(out[k].view.buf);
      out32[k] = static_cast<float*>(out[k].view.buf);
    }
    const TableArrays<const double> table64{in64.data(), in_time.data(), in_series.data()};
    const TableArrays<const float> table32{in32.data(), in_time.data(), in_series.data()};
    const TableArrays<double> into64{out64.data(), out_time.data(), out_series.data()};
    const TableArrays<float> into32{out32.data(), out_time.data(), out_series.data()};
    const bool from32 = in[0].is_float32();
    const ptrdiff_t length = in[0].length(0);
    for (size_t b; (b = next.fetch_add(1)) < lane_blocks && !out_of_memory.load();) {
      const ptrdiff_t first = static_cast<ptrdiff_t>(b * lane_block);
      const ptrdiff_t columns = std::min<ptrdiff_t>(static_cast<ptrdiff_t>(lane_block), static_cast<ptrdiff_t>(count) - first);
      try {
        if (from32 && float32)
          e->ops.columns_f32_f32(params.data(), table32, into32, length, first, columns);
        else if (from32)
          e->ops.columns_f32_f64(params.data(), table32, into64, length, first, columns);
        else if (float32)
          e->ops.columns_f64_f32(params.data(), table64, into32, length, first, columns);
        else
          e->ops.columns_f64_f64(params.data(), table64, into64, length, first, columns);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
        return;
      }
    }
  };
  auto work = [&] {
    if (in_lanes) {
      work_in_lanes();
      return;
    }
    std::vector<const double*> in_columns(in.size());
    std::vector<double*> out64(out.size());
    std::vector<float*> out32(out.size());
    if (strided) {
      ChunkScratch scratch;
      std::unique_ptr<StatePtr[]> owned;
      std::vector<void*> states;
      std::vector<const double*> in_arrays(in.size());
      std::vector<double*> out64_at(out.size());
      std::vector<float*> out32_at(out.size());
      for (size_t k = 0; k < in.size(); ++k) in_arrays[k] = static_cast<const double*>(in[k].view.buf);
      for (size_t k = 0; k < out.size(); ++k) {
        out64[k] = static_cast<double*>(out[k].view.buf);
        out32[k] = static_cast<float*>(out[k].view.buf);
      }
      for (size_t b; (b = next.fetch_add(1)) < series_blocks && !out_of_memory.load();) {
        const size_t first = b * block_series;
        const size_t block = std::min(block_series, count - first);
        try {
          if (!owned) {
            scratch.allocate(in.size(), out.size(), block_series, float32);
            states.resize(block_series);
            owned = std::make_unique<StatePtr[]>(block_series);
          }
          for (size_t j = 0; j < block; ++j) {
            owned[j].reset(&e->ops, e->ops.create(params.data()));
            states[j] = owned[j].state;
          }
        } catch (const std::bad_alloc&) {
          out_of_memory = true;
          return;
        }
        for (size_t k = 0; k < in.size(); ++k) in_columns[k] = in_arrays[k] + static_cast<ptrdiff_t>(first) * in_series[k];
        if (float32) {
          for (size_t k = 0; k < out.size(); ++k) out32_at[k] = out32[k] + static_cast<ptrdiff_t>(first) * out_series[k];
          scratch.run_block(e->ops, states.data(), block, in_columns.data(), in_series.data(), in_time[0], out32_at.data(),
                            out_series.data(), out_time[0], lengths[first]);
        } else {
          for (size_t k = 0; k < out.size(); ++k) out64_at[k] = out64[k] + static_cast<ptrdiff_t>(first) * out_series[k];
          scratch.run_block(e->ops, states.data(), block, in_columns.data(), in_series.data(), in_time[0], out64_at.data(),
                            out_series.data(), out_time[0], lengths[first]);
        }
      }
      return;
    }
    for (size_t j; (j = next.fetch_add(1)) < count && !out_of_memory.load();) {
      void* state = nullptr;
      try {
        state = e->ops.create(params.data());
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
        return;
      }
      StatePtr owned(&e->ops, state);
      const int64_t at = starts[j];
      for (size_t k = 0; k < in.size(); ++k)
        in_columns[k] = static_cast<const double*>(in[k].view.buf) + at * in_series[k];
      const SeriesIn series{in_columns.data(), in_time[0]};
      if (float32) {
        for (size_t k = 0; k < out.size(); ++k) out32[k] = static_cast<float*>(out[k].view.buf) + at * out_series[k];
        e->ops.run_f32(state, series, lengths[j], SeriesOut<float>{out32.data(), out_time[0]});
      } else {
        for (size_t k = 0; k < out.size(); ++k) out64[k] = static_cast<double*>(out[k].view.buf) + at * out_series[k];
        e->ops.run_f64(state, series, lengths[j], SeriesOut<double>{out64.data(), out_time[0]});
      }
    }
  };
  Py_BEGIN_ALLOW_THREADS
  std::vector<std::thread> pool;
  try {
    for (size_t w = 1; w < workers; ++w) pool.emplace_back(work);
  } catch (const std::exception&) {
    // Fewer threads than asked: the remaining series run on those started and this one.
  }
  work();
  for (auto& t : pool) t.join();
  Py_END_ALLOW_THREADS
  if (out_of_memory) return PyErr_NoMemory();
  Py_RETURN_NONE;
}

// ---------------------------------------------------------------- live handles

// The hot path (update) reads only the handle: the step's entry point and the counts are copied
// here when it opens, and the last values live inline, so one bar costs the step, its arguments'
// conversion and one float.
struct Handle {
  PyObject_HEAD
  const Entry* entry;
  bool (*step)(void* state, const double* bar, double* out);
  void* state;
  std::vector<double>* params;
  int inputs;
  int required;  // inputs before the optional ones
  int outputs;
  bool busy;
  double value[kMaxOutputs];    // after the last consumed bar
  double carried[kMaxInputs];   // per optional input, the value last given (0 before any)
};

PyTypeObject* handle_type = nullptr;

// Marks a handle busy for one call; a call that re-enters it (from a conversion) is refused.
struct Busy {
  Handle* h;
  bool ok;
  explicit Busy(Handle* handle) : h(handle), ok(!handle->busy) {
    if (ok)
      h->busy = true;
    else
      PyErr_SetString(PyExc_RuntimeError, "classic handle is in use by another call");
  }
  ~Busy() {
    if (ok) h->busy = false;
  }
};

Handle* new_handle(const Entry& e, void* state, const std::vector<double>& params) {
  Handle* h = PyObject_New(Handle, handle_type);
  if (!h) {
    e.ops.destroy(state);
    return nullptr;
  }
  h->entry = &e;
  h->step = e.ops.update;
  h->state = state;
  h->params = nullptr;
  h->inputs = e.ops.inputs;
  h->required = required_inputs(e);
  h->outputs = e.ops.outputs;
  h->busy = false;
  std::fill(h->value, h->value + kMaxOutputs, nan_value);
  std::fill(h->carried, h->carried + kMaxInputs, 0.0);
  try {
    h->params = new std::vector<double>(params);
  } catch (const std::bad_alloc&) {
    Py_DECREF(h);
    PyErr_NoMemory();
    return nullptr;
  }
  return h;
}

void handle_dealloc(PyObject* self) {
  Handle* h = reinterpret_cast<Handle*>(self);
  if (h->state) h->entry->ops.destroy(h->state);
  delete h->params;
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  Py_DECREF(type);
}

PyObject* handle_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError,
                  "classic handles are opened with velkized_ta.classic.stream.<name>(history..., params...)");
  return nullptr;
}

PyObject* values_object(const Handle* h, const double* values) {
  const int n = h->outputs;
  if (n == 1) return PyFloat_FromDouble(values[0]);
  PyObject* t = PyTuple_New(n);
  if (!t) return nullptr;
  for (int k = 0; k < n; ++k) {
    PyObject* v = PyFloat_FromDouble(values[k]);
    if (!v) {
      Py_DECREF(t);
      return nullptr;
    }
    PyTuple_SET_ITEM(t, k, v);
  }
  return t;
}

// The arguments of a handle's method, one slot per input in order: by position, then by keyword
// (the input's name). A slot left empty (or None) is an optional input not given; a required
// input missing, an unknown keyword or a repeated one is a TypeError naming it.
bool input_slots(const Handle* h, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots,
                 const char* method, const char* unit) {
  const auto& d = h->entry->descriptor;
  if (nargs > h->inputs || (nargs < h->required && !kwnames)) {
    if (h->required == h->inputs)
      PyErr_Format(PyExc_TypeError, "%s handle's %s() takes %d %s (%s...), got %zd", d.name, method, h->inputs, unit,
                   d.inputs[0].name, nargs);
    else
      PyErr_Format(PyExc_TypeError, "%s handle's %s() takes %d to %d %s (%s...), got %zd", d.name, method, h->required,
                   h->inputs, unit, d.inputs[0].name, nargs);
    return false;
  }
  for (int k = 0; k < h->inputs; ++k) slots[k] = k < nargs ? args[k] : nullptr;
  const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < keywords; ++i) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, i);
    const char* text = PyUnicode_AsUTF8(key);
    if (!text) return false;
    int k = 0;
    while (k < h->inputs && std::strcmp(text, d.inputs[static_cast<size_t>(k)].name) != 0) ++k;
    if (k == h->inputs) {
      PyErr_Format(PyExc_TypeError, "%s handle's %s() got an unexpected keyword argument %R", d.name, method, key);
      return false;
    }
    if (slots[k]) {
      PyErr_Format(PyExc_TypeError, "%s handle's %s() got multiple values for argument '%s'", d.name, method, text);
      return false;
    }
    slots[k] = args[nargs + i];
  }
  for (int k = 0; k < h->inputs; ++k) {
    if (slots[k] == Py_None && k >= h->required) slots[k] = nullptr;
    if (!slots[k] && k < h->required) {
      PyErr_Format(PyExc_TypeError, "%s handle's %s() missing argument '%s'", d.name, method,
                   d.inputs[static_cast<size_t>(k)].name);
      return false;
    }
  }
  return true;
}

// One value of a bar, naming the argument when it is not a real number.
bool bar_value(const Handle* h, PyObject* obj, int k, const char* method, double& value) {
  if (PyFloat_CheckExact(obj)) {
    value = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "%s handle's %s() argument '%s' must be a real number, not %s",
                   h->entry->descriptor.name, method, h->entry->descriptor.inputs[static_cast<size_t>(k)].name,
                   Py_TYPE(obj)->tp_name);
    }
    return false;
  }
  return true;
}

// One bar from update/peek arguments. `given` (may be null) marks the optional inputs given.
bool parse_bar(const Handle* h, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, double* bar,
               bool* given, const char* method) {
  if (!kwnames && nargs == h->inputs) {  // every input by position: the common case
    for (int k = 0; k < h->inputs; ++k) {
      PyObject* obj = args[k];
      if (PyFloat_CheckExact(obj)) {
        bar[k] = PyFloat_AS_DOUBLE(obj);
      } else if (obj == Py_None && k >= h->required) {
        bar[k] = h->carried[k];
        if (given) given[k] = false;
        continue;
      } else if (!bar_value(h, obj, k, method, bar[k])) {
        return false;
      }
      if (given) given[k] = true;
    }
    return true;
  }
  PyObject* slots[kMaxInputs];
  if (!input_slots(h, args, nargs, kwnames, slots, method, "values")) return false;
  for (int k = 0; k < h->inputs; ++k) {
    if (given) given[k] = slots[k] != nullptr;
    if (!slots[k])
      bar[k] = h->carried[k];
    else if (!bar_value(h, slots[k], k, method, bar[k]))
      return false;
  }
  return true;
}

PyObject* handle_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Handle* h = reinterpret_cast<Handle*>(self);
  double bar[kMaxInputs];
  bool given[kMaxInputs];
  if (!parse_bar(h, args, nargs, kwnames, bar, given, "update")) return nullptr;
  if (h->busy) {
    PyErr_SetString(PyExc_RuntimeError, "classic handle is in use by another call");
    return nullptr;
  }
  // The step runs no Python code, so the handle needs no busy mark around it.
  h->step(h->state, bar, h->value);
  for (int k = h->required; k < h->inputs; ++k)
    if (given[k]) h->carried[k] = bar[k];
  if (h->outputs == 1) return PyFloat_FromDouble(h->value[0]);
  return values_object(h, h->value);
}

PyObject* handle_peek(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Handle* h = reinterpret_cast<Handle*>(self);
  double bar[kMaxInputs];
  double out[kMaxOutputs];
  if (!parse_bar(h, args, nargs, kwnames, bar, nullptr, "peek")) return nullptr;
  Busy busy(h);
  if (!busy.ok) return nullptr;
  void* copy = nullptr;
  try {
    copy = h->entry->ops.clone(h->state);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  StatePtr owned(&h->entry->ops, copy);
  h->step(copy, bar, out);
  return values_object(h, out);
}

// The series of update_many / open as contiguous float64 arrays (numpy converts any real dtype);
// an optional input not given repeats the handle's carried value over the length of the first.
PyObject* contiguous_inputs(const Handle* h, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            const char* method) {
  PyObject* slots[kMaxInputs];
  if (!input_slots(h, args, nargs, kwnames, slots, method, "series")) return nullptr;
  PyObject* t = PyTuple_New(h->inputs);
  if (!t) return nullptr;
  Py_ssize_t length = -1;
  for (int k = 0; k < h->inputs; ++k) {
    PyObject* a = nullptr;
    if (slots[k]) {
      a = PyObject_CallFunctionObjArgs(numpy_ascontiguous, slots[k], float64_dtype, nullptr);
      if (a && !(PyArray_FLAGS(reinterpret_cast<PyArrayObject*>(a)) & NPY_ARRAY_ALIGNED)) {
        PyObject* copy = PyObject_CallMethod(a, "copy", nullptr);  // a view at an odd byte offset
        Py_DECREF(a);
        a = copy;
      }
      if (a && length < 0) {
        Buffer first;
        if (!first.get(a, 1, false, "update_many() series")) {
          Py_DECREF(a);
          a = nullptr;
        } else {
          length = first.length();
        }
      }
    } else {
      a = new_array(std::max<Py_ssize_t>(length, 0), false);
      Buffer b;
      if (a && !b.get(a, 1, true, "series")) {
        Py_DECREF(a);
        a = nullptr;
      }
      if (a) std::fill_n(static_cast<double*>(b.view.buf), b.length(), h->carried[k]);
    }
    if (!a) {
      Py_DECREF(t);
      return nullptr;
    }
    PyTuple_SET_ITEM(t, k, a);
  }
  return t;
}

PyObject* handle_update_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Handle* h = reinterpret_cast<Handle*>(self);
  Busy busy(h);
  if (!busy.ok) return nullptr;
  PyObject* inputs = contiguous_inputs(h, args, nargs, kwnames, "update_many");
  if (!inputs) return nullptr;
  // The bars run on a copy, so a failure (memory, a bad series) leaves the handle as it was.
  void* copy = nullptr;
  try {
    copy = h->entry->ops.clone(h->state);
  } catch (const std::bad_alloc&) {
    Py_DECREF(inputs);
    return PyErr_NoMemory();
  }
  StatePtr owned(&h->entry->ops, copy);
  PyObject* result = run_into_new(*h->entry, copy, inputs, false, "update_many() series");
  if (!result) {
    Py_DECREF(inputs);
    return nullptr;
  }
  double last[kMaxOutputs + kMaxInputs];
  bool any = false;
  const int n = h->outputs;
  for (int k = 0; k < n + h->inputs; ++k) {
    PyObject* array = k < n ? (n == 1 ? result : PyTuple_GET_ITEM(result, k)) : PyTuple_GET_ITEM(inputs, k - n);
    Buffer b;
    if (!b.get(array, 1, false, "series")) {
      Py_DECREF(inputs);
      Py_DECREF(result);
      return nullptr;
    }
    any = b.length() > 0;
    if (any) last[k] = static_cast<const double*>(b.view.buf)[b.length() - 1];
  }
  Py_DECREF(inputs);
  std::swap(h->state, owned.state);
  if (any) {
    std::copy(last, last + n, h->value);
    std::copy(last + n + h->required, last + n + h->inputs, h->carried + h->required);
  }
  return result;
}

PyObject* handle_copy(PyObject* self, PyObject*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  Busy busy(h);
  if (!busy.ok) return nullptr;
  void* copy = nullptr;
  try {
    copy = h->entry->ops.clone(h->state);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  Handle* c = new_handle(*h->entry, copy, *h->params);
  if (c) {
    std::copy(h->value, h->value + kMaxOutputs, c->value);
    std::copy(h->carried, h->carried + kMaxInputs, c->carried);
  }
  return reinterpret_cast<PyObject*>(c);
}

PyObject* restore_function = nullptr;

// Pickled bytes: the state's fields, then the last value of each output, then the carried value
// of each optional input (none for most indicators).
PyObject* handle_reduce(PyObject* self, PyObject*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  Busy busy(h);
  if (!busy.ok) return nullptr;
  std::string bytes;
  try {
    h->entry->ops.save(h->state, bytes);
    bytes.append(reinterpret_cast<const char*>(h->value), static_cast<size_t>(h->outputs) * sizeof(double));
    bytes.append(reinterpret_cast<const char*>(h->carried + h->required),
                 static_cast<size_t>(h->inputs - h->required) * sizeof(double));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  PyObject* params = params_tuple(h->entry->descriptor, *h->params);
  if (!params) return nullptr;
  return Py_BuildValue("O(sNiy#)", restore_function, h->entry->descriptor.name, params, kStateVersion, bytes.data(),
                       static_cast<Py_ssize_t>(bytes.size()));
}

PyObject* handle_value(PyObject* self, void*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  return values_object(h, h->value);
}
PyObject* handle_name(PyObject* self, void*) {
  return PyUnicode_FromString(reinterpret_cast<Handle*>(self)->entry->descriptor.name);
}
PyObject* handle_params(PyObject* self, void*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  return params_tuple(h->entry->descriptor, *h->params);
}
PyObject* handle_repr(PyObject* self) {
  Handle* h = reinterpret_cast<Handle*>(self);
  PyObject* params = params_tuple(h->entry->descriptor, *h->params);
  if (!params) return nullptr;
  PyObject* r = PyUnicode_FromFormat("<classic.stream.%s handle %R>", h->entry->descriptor.name, params);
  Py_DECREF(params);
  return r;
}

template <class Method>
PyCFunction as_function(Method method) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

PyMethodDef handle_methods[] = {
    {"update", as_function(handle_update), METH_FASTCALL | METH_KEYWORDS,
     "update(*bar) -> the value(s) after consuming one bar (one float per input, by position or by\n"
     "the input's name; an optional input left out repeats the value last given)."},
    {"peek", as_function(handle_peek), METH_FASTCALL | METH_KEYWORDS,
     "peek(*bar) -> the value(s) that bar would give; nothing is consumed."},
    {"update_many", as_function(handle_update_many), METH_FASTCALL | METH_KEYWORDS,
     "update_many(*series) -> float64 array(s) of the values of each bar; all or nothing."},
    {"copy", handle_copy, METH_NOARGS, "An independent handle in the same state."},
    {"__reduce__", handle_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef handle_getset[] = {
    {"value", handle_value, nullptr, "The value(s) after the last consumed bar (NaN before any).", nullptr},
    {"name", handle_name, nullptr, "The indicator's name.", nullptr},
    {"params", handle_params, nullptr, "The parameters, in the indicator's order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot handle_slots[] = {{Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
                              {Py_tp_new, reinterpret_cast<void*>(handle_new)},
                              {Py_tp_methods, handle_methods},
                              {Py_tp_getset, handle_getset},
                              {Py_tp_repr, reinterpret_cast<void*>(handle_repr)},
                              {Py_tp_doc, const_cast<char*>("A live classic indicator: update, peek, value, "
                                                            "update_many, copy, pickling.")},
                              {0, nullptr}};
PyType_Spec handle_spec = {"velkized_ta._classic.Handle", sizeof(Handle), 0, Py_TPFLAGS_DEFAULT, handle_slots};

// open(index, params, history) -> a handle that has consumed the history.
PyObject* open_handle(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "open(index, params, history)");
    return nullptr;
  }
  const Entry* e = entry_at(args[0]);
  std::vector<double> params;
  if (!e || !parse_params(e->descriptor, args[1], params)) return nullptr;
  if (!PyTuple_Check(args[2])) {
    PyErr_SetString(PyExc_TypeError, "open: history must be a tuple");
    return nullptr;
  }
  void* state = create_state(*e, params);
  if (!state) return nullptr;
  Handle* h = new_handle(*e, state, params);
  if (!h) return nullptr;
  PyObject* values = handle_update_many(reinterpret_cast<PyObject*>(h), &PyTuple_GET_ITEM(args[2], 0),
                                        PyTuple_GET_SIZE(args[2]), nullptr);
  if (!values) {
    Py_DECREF(h);
    return nullptr;
  }
  Py_DECREF(values);
  return reinterpret_cast<PyObject*>(h);
}

// restore(name, params, version, state) -> the handle a pickle holds.
PyObject* restore(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 4 || !PyUnicode_Check(args[0]) || !PyBytes_Check(args[3])) {
    PyErr_SetString(PyExc_ValueError, "classic handle state: expected (name, params, version, bytes)");
    return nullptr;
  }
  const char* name = PyUnicode_AsUTF8(args[0]);
  if (!name) return nullptr;
  const Entry* e = nullptr;
  for (const Entry& row : rows())
    if (std::strcmp(row.descriptor.name, name) == 0) e = &row;
  if (!e) {
    PyErr_Format(PyExc_ValueError, "classic handle state: no indicator named %R", args[0]);
    return nullptr;
  }
  const long version = PyLong_AsLong(args[2]);
  if (version == -1 && PyErr_Occurred()) return nullptr;
  if (version != kStateVersion) {
    PyErr_Format(PyExc_ValueError, "classic handle state: version %ld, this build reads version %d", version,
                 kStateVersion);
    return nullptr;
  }
  std::vector<double> params;
  if (!parse_params(e->descriptor, args[1], params)) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_SetString(PyExc_ValueError, "classic handle state: bad parameters");
    }
    return nullptr;
  }
  void* state = create_state(*e, params);
  if (!state) return nullptr;
  Handle* h = new_handle(*e, state, params);
  if (!h) return nullptr;
  const char* bytes = PyBytes_AS_STRING(args[3]);
  const size_t size = static_cast<size_t>(PyBytes_GET_SIZE(args[3]));
  const size_t value_bytes = static_cast<size_t>(h->outputs + h->inputs - h->required) * sizeof(double);
  bool ok = size >= value_bytes;
  if (ok) {
    try {
      ok = e->ops.load(h->state, bytes, size - value_bytes);
    } catch (const std::bad_alloc&) {
      Py_DECREF(h);
      return PyErr_NoMemory();
    }
  }
  if (!ok) {
    Py_DECREF(h);
    PyErr_Format(PyExc_ValueError, "classic handle state: the bytes are not a %s state for these parameters",
                 e->descriptor.name);
    return nullptr;
  }
  const char* values = bytes + size - value_bytes;
  std::memcpy(h->value, values, static_cast<size_t>(h->outputs) * sizeof(double));
  std::memcpy(h->carried + h->required, values + static_cast<size_t>(h->outputs) * sizeof(double),
              static_cast<size_t>(h->inputs - h->required) * sizeof(double));
  return reinterpret_cast<PyObject*>(h);
}

PyMethodDef module_methods[] = {
    {"registry", registry, METH_NOARGS, "The classic indicators' descriptors, sorted by name."},
    {"lookback", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(lookback)), METH_FASTCALL,
     "lookback(index, params) -> the position from which every output has a value on NaN-free input."},
    {"first_positions", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(first_positions)), METH_FASTCALL,
     "first_positions(index, params) -> each output's first value position on NaN-free input."},
    {"compute", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compute)), METH_FASTCALL,
     "compute(index, inputs, params, float32) -> array or tuple of arrays."},
    {"run_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(run_many)), METH_FASTCALL,
     "run_many(index, params, inputs, outputs, offsets, axis, threads): many series on worker threads."},
    {"open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(open_handle)), METH_FASTCALL,
     "open(index, params, history) -> a live handle."},
    {"restore", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(restore)), METH_FASTCALL,
     "restore(name, params, version, state) -> the pickled handle."},
    {nullptr, nullptr, 0, nullptr}};

int module_exec(PyObject* module) {
  auto& all = registry_rows();
  std::sort(all.begin(), all.end(),
            [](const Entry& a, const Entry& b) { return std::strcmp(a.descriptor.name, b.descriptor.name) < 0; });
  for (size_t i = 0; i < all.size(); ++i) {
    const auto& e = all[i];
    bool optional_last = true;  // no required input after an optional one
    for (size_t k = 1; k < e.descriptor.inputs.size(); ++k)
      optional_last &= e.descriptor.inputs[k].optional || !e.descriptor.inputs[k - 1].optional;
    if (!optional_last || e.descriptor.inputs.empty() || e.descriptor.inputs[0].optional ||
        e.ops.inputs != static_cast<int>(e.descriptor.inputs.size()) ||
        e.ops.outputs != static_cast<int>(e.descriptor.outputs.size()) || e.ops.inputs > kMaxInputs ||
        e.ops.outputs > kMaxOutputs || (i > 0 && std::strcmp(all[i - 1].descriptor.name, e.descriptor.name) == 0)) {
      PyErr_Format(PyExc_ImportError, "classic indicator %s: its state and descriptor disagree, an optional input comes first or "
                   "before a required one, or its name repeats",
                   e.descriptor.name);
      return -1;
    }
  }
  PyObject* numpy = PyImport_ImportModule("numpy");
  if (!numpy) return -1;
  numpy_empty = PyObject_GetAttrString(numpy, "empty");
  numpy_ascontiguous = PyObject_GetAttrString(numpy, "ascontiguousarray");
  float64_dtype = PyObject_GetAttrString(numpy, "float64");
  float32_dtype = PyObject_GetAttrString(numpy, "float32");
  ndarray_type = reinterpret_cast<PyTypeObject*>(PyObject_GetAttrString(numpy, "ndarray"));
  PyObject* dtype_type = PyObject_GetAttrString(numpy, "dtype");
  if (dtype_type && float64_dtype) float64_descr = PyObject_CallOneArg(dtype_type, float64_dtype);
  if (dtype_type && float32_dtype) float32_descr = PyObject_CallOneArg(dtype_type, float32_dtype);
  Py_XDECREF(dtype_type);
  Py_DECREF(numpy);
  if (!numpy_empty || !numpy_ascontiguous || !float64_dtype || !float32_dtype || !ndarray_type || !float64_descr || !float32_descr)
    return -1;
  handle_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&handle_spec));
  if (!handle_type) return -1;
  if (PyModule_AddObjectRef(module, "Handle", reinterpret_cast<PyObject*>(handle_type)) < 0) return -1;
  restore_function = PyObject_GetAttrString(module, "restore");
  if (!restore_function) return -1;
  return PyModule_AddIntConstant(module, "STATE_VERSION", kStateVersion);
}

PyModuleDef_Slot module_slots[] = {{Py_mod_exec, reinterpret_cast<void*>(module_exec)}, {0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_classic", "Classic indicators over one registry.", 0,
                          module_methods, module_slots, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace velk::classic

PyMODINIT_FUNC PyInit__classic() { return PyModuleDef_Init(&velk::classic::module_def); }
