// Per-call services: typed views over numpy buffers, output allocation through
// the module's `np`, lookups of module globals and calls of sibling functions.

#include "frame/call.hpp"

#include "frame/binding.hpp"
#include "frame/fma.hpp"
#include "frame/numpy_interface.hpp"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace velk {

PyObject* g_module_dict = nullptr;
PyTypeObject* g_ndarray_type = nullptr;

PyObject* interned(const char* text) {
  static std::unordered_map<const char*, PyObject*> cache;
  auto found = cache.find(text);
  if (found != cache.end()) return found->second;
  PyObject* s = PyUnicode_InternFromString(text);
  if (s == nullptr) throw PythonError{};
  cache.emplace(text, s);  // kept for the life of the process
  return s;
}

Ref py_int(long value) { return checked(PyLong_FromLong(value)); }

PyObject* py_bool(bool value) { return value ? Py_True : Py_False; }

PyObject* lookup_global(PyObject* name) {
  PyObject* found = PyDict_GetItemWithError(g_module_dict, name);
  if (found != nullptr || PyErr_Occurred()) return found;
  PyObject* builtins = PyEval_GetBuiltins();
  found = builtins ? PyDict_GetItemWithError(builtins, name) : nullptr;
  if (found == nullptr && !PyErr_Occurred())
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  return found;
}

namespace {

PyObject* lookup_global_or_throw(const char* name) {
  PyObject* found = lookup_global(interned(name));
  if (found == nullptr) throw PythonError{};
  return found;
}

// Result conversion: only None or an ndarray may be held as an array.
void require_array_or_none(PyObject* obj) {
  if (obj == Py_None || PyObject_TypeCheck(obj, g_ndarray_type)) return;
  PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(obj)->tp_name,
               g_ndarray_type->tp_name);
  throw PythonError{};
}

const char* describe_type_char(char c, bool complex) {
  switch (c) {
    case '?': return "'bool'";
    case 'c': return "'char'";
    case 'b': return "'signed char'";
    case 'B': return "'unsigned char'";
    case 'h': return "'short'";
    case 'H': return "'unsigned short'";
    case 'i': return "'int'";
    case 'I': return "'unsigned int'";
    case 'l': return "'long'";
    case 'L': return "'unsigned long'";
    case 'q': return "'long long'";
    case 'Q': return "'unsigned long long'";
    case 'f': return complex ? "'complex float'" : "'float'";
    case 'd': return complex ? "'complex double'" : "'double'";
    case 'g': return complex ? "'complex long double'" : "'long double'";
    case 'T': return "a struct";
    case 'O': return "Python object";
    case 'P': return "a pointer";
    case 's': case 'p': return "a string";
    case 0: return "end of data";
    default: return "unparsable format string";
  }
}

// Checks a buffer's element format against one 32-bit float or int and raises
// the matching ValueError. Returns false with the error set.
bool check_format(const char* format, bool integer) {
  const char* expected = integer ? "int32_t" : "float32_t";
  const char* f = format ? format : "B";
  bool native_sizes = true;
  switch (*f) {
    case '@': case '^': ++f; break;
    case '=': case '<': native_sizes = false; ++f; break;
    case '>': case '!':
      PyErr_SetString(PyExc_ValueError, "Big-endian buffer not supported on little-endian compiler");
      return false;
    default: break;
  }
  bool repeated = false;
  while (*f >= '0' && *f <= '9') {
    repeated = true;
    ++f;
  }
  bool complex = false;
  if (*f == 'Z') {
    complex = true;
    ++f;
  }
  const char c = *f;
  Py_ssize_t size;
  char group;
  switch (c) {
    case '?': case 'c': case 'b': case 'B': case 's': case 'p': size = 1; break;
    case 'h': case 'H': size = 2; break;
    case 'i': case 'I': size = 4; break;
    case 'l': case 'L': size = native_sizes ? static_cast<Py_ssize_t>(sizeof(long)) : 4; break;
    case 'q': case 'Q': size = 8; break;
    case 'f': size = 4; break;
    case 'd': size = 8; break;
    case 'g': size = static_cast<Py_ssize_t>(sizeof(long double)); break;
    case 'O': case 'P': size = static_cast<Py_ssize_t>(sizeof(void*)); break;
    case 'T': case 0: size = 0; break;
    default:
      PyErr_Format(PyExc_ValueError, "Does not understand character buffer dtype format string ('%c')", c);
      return false;
  }
  switch (c) {
    case 'b': case 'h': case 'i': case 'l': case 'q': case 's': case 'p': group = 'I'; break;
    case '?': case 'B': case 'H': case 'I': case 'L': case 'Q': group = 'U'; break;
    case 'f': case 'd': case 'g': group = complex ? 'C' : 'R'; break;
    default: group = 'X'; break;
  }
  const bool matches = !repeated && f[1] == 0 && size == 4 && group == (integer ? 'I' : 'R');
  if (matches) return true;
  PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected %s%s%s but got %s", "'", expected, "'",
               describe_type_char(c, complex));
  return false;
}

}  // namespace

template <typename T>
View<T> Call::acquire(PyObject* array, bool writable, bool integer) {
  if (array == Py_None) return View<T>();
  char* data;
  int64_t length, stride;
  if (direct_view(array, writable, integer, &data, &length, &stride)) {
    pin(array);
    return View<T>(data, length, stride);
  }
  if (buffer_count_ == kMaxViews) {
    PyErr_SetString(PyExc_RuntimeError, "too many buffer views in one call");
    throw PythonError{};
  }
  Py_buffer* buffer = &buffers_[buffer_count_];
  const int flags = PyBUF_FORMAT | PyBUF_STRIDES | (writable ? PyBUF_WRITABLE : 0);
  if (PyObject_GetBuffer(array, buffer, flags) != 0) throw PythonError{};
  ++buffer_count_;
  if (buffer->ndim != 1) {
    PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)", 1,
                 buffer->ndim);
    throw PythonError{};
  }
  if (!check_format(buffer->format, integer)) throw PythonError{};
  if (buffer->itemsize != 4) {
    PyErr_Format(PyExc_ValueError, "Item size of buffer (%zd byte%s) does not match size of '%s' (%zd byte%s)",
                 buffer->itemsize, buffer->itemsize > 1 ? "s" : "", integer ? "int32_t" : "float32_t",
                 static_cast<Py_ssize_t>(4), "s");
    throw PythonError{};
  }
  return View<T>(static_cast<char*>(buffer->buf), buffer->shape[0], buffer->strides[0]);
}

void Call::pin(PyObject* array) {
  if (pinned_count_ == kMaxPinned) {
    PyErr_SetString(PyExc_RuntimeError, "too many arrays in one call");
    throw PythonError{};
  }
  pinned_[pinned_count_++] = Py_NewRef(array);
}

bool Call::plain_float_view(PyObject* array, int64_t n, FloatView& view) {
  char* data;
  int64_t length, stride;
  if (!direct_view(array, false, false, &data, &length, &stride) || length != n) return false;
  pin(array);
  view = FloatView(data, length, stride);
  return true;
}

void Call::acquire_argument_views() {
  for (size_t i = 0; i < def_.params.size(); ++i)
    if (def_.params[i].kind == Kind::Array) slots_.arrays[i] = acquire<float>(slots_.objects[i], false, false);
}

Call::~Call() {
  if (buffer_count_ == 0 && pinned_count_ == 0) return;
  // Releasing can run arbitrary code (a deallocator); the pending exception survives it.
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  for (int i = buffer_count_ - 1; i >= 0; --i) PyBuffer_Release(&buffers_[i]);
  for (int i = pinned_count_ - 1; i >= 0; --i) Py_DECREF(pinned_[i]);
  PyErr_Restore(type, value, traceback);
}

FloatView Call::float_view(PyObject* array, bool writable) {
  require_array_or_none(array);
  return acquire<float>(array, writable, false);
}

IntView Call::int_view(PyObject* array) {
  require_array_or_none(array);
  return acquire<int32_t>(array, true, true);
}

int32_t Call::length(PyObject* obj) {
  const Py_ssize_t size = PyObject_Size(obj);
  if (size < 0) throw PythonError{};
  if (size > INT32_MAX) {
    // Positions are 32-bit: a longer series would silently lose its tail.
    PyErr_Format(PyExc_OverflowError,
                 "%s() supports series of at most 2147483647 elements, got %zd", def_.name, size);
    throw PythonError{};
  }
  return static_cast<int32_t>(size);
}

Ref Call::numpy_attr(const char* attr) {
  PyObject* np = lookup_global_or_throw("np");
  return checked(PyObject_GetAttr(np, interned(attr)));
}

Ref Call::new_series(int32_t n) {
  PyObject* np = lookup_global_or_throw("np");
  if (PyObject* fast = fast_new_series(np, n)) return Ref(fast);
  Ref full = numpy_attr("full");
  Ref length = py_int(n);
  Ref nan = numpy_attr("nan");
  Ref float32 = numpy_attr("float32");
  PyObject* args[] = {length.get(), nan.get(), float32.get()};
  Ref kwnames = checked(PyTuple_Pack(1, interned("dtype")));
  return checked(PyObject_Vectorcall(full.get(), args, 2, kwnames.get()));
}

Call::Allocated<float> Call::new_output_written_whole(int32_t n) {
  PyObject* np = lookup_global_or_throw("np");
  PyObject* fast = fast_new_unfilled_series(np, n);
  Ref series = fast ? Ref(fast) : new_series(n);
  const FloatView view = float_view(series.get(), true);
  return {std::move(series), view};
}

bool Call::allocation_is_native() {
  PyObject* np = g_module_dict ? PyDict_GetItemWithError(g_module_dict, interned("np")) : nullptr;
  if (np == nullptr) {
    PyErr_Clear();
    return false;
  }
  return numpy_full_is_own(np) && numpy_zeros_are_own(np);
}

Ref Call::new_zeros(int32_t n, const char* dtype_name) {
  PyObject* np = lookup_global_or_throw("np");
  if (PyObject* fast = fast_new_zeros(np, n, std::strcmp(dtype_name, "int32") == 0)) return Ref(fast);
  Ref zeros = numpy_attr("zeros");
  Ref length = py_int(n);
  Ref dtype = numpy_attr(dtype_name);
  PyObject* args[] = {length.get(), dtype.get()};
  Ref kwnames = checked(PyTuple_Pack(1, interned("dtype")));
  return checked(PyObject_Vectorcall(zeros.get(), args, 1, kwnames.get()));
}

Ref Call::new_queue_slots(int32_t n) {
  PyObject* np = lookup_global_or_throw("np");
  if (PyObject* fast = fast_new_unfilled_positions(np, n)) return Ref(fast);
  return new_zeros(n, "int32");
}

Ref Call::call_global(const char* name, std::initializer_list<PyObject*> args,
                      std::initializer_list<Keyword> keywords) {
  PyObject* function = lookup_global_or_throw(name);
  Ref callee = Ref::borrow(function);
  PyObject* stack[kMaxParams + 1];
  size_t count = 0;
  for (PyObject* a : args) stack[count++] = a;
  Ref kwnames;
  if (keywords.size() != 0) {
    kwnames = checked(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    Py_ssize_t k = 0;
    for (const Keyword& kw : keywords) {
      PyObject* key = interned(kw.name);
      Py_INCREF(key);
      PyTuple_SET_ITEM(kwnames.get(), k++, key);
      stack[count++] = kw.value;
    }
  }
  return checked(PyObject_Vectorcall(callee.get(), stack, args.size(), kwnames.get()));
}

float Call::nanmean_of_slice(PyObject* series, PyObject* start, PyObject* stop) {
  Ref bounds = checked(PySlice_New(start, stop, nullptr));
  double mean;
  if (!fast_nanmean(lookup_global_or_throw("np"), series, bounds.get(), &mean)) {
    Ref window = checked(PyObject_GetItem(series, bounds.get()));
    Ref nanmean = numpy_attr("nanmean");
    Ref result = checked(PyObject_CallOneArg(nanmean.get(), window.get()));
    mean = PyFloat_AsDouble(result.get());
    if (mean == -1.0 && PyErr_Occurred()) throw PythonError{};
  }
  return static_cast<float>(mean);
}

bool Call::truth(PyObject* obj) {
  bool value;
  if (!convert_bool(obj, &value)) throw PythonError{};
  return value;
}

template View<float> Call::acquire<float>(PyObject*, bool, bool);
template View<int32_t> Call::acquire<int32_t>(PyObject*, bool, bool);

}  // namespace velk

