// numpy's C interface: attached once at import from the multiarray capsule, and
// the numpy type objects checked against the layout this module was built with.
// One build serves numpy 1.x and 2.x: the module path and the ABI version differ.

#define PY_ARRAY_UNIQUE_SYMBOL velk_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL velk_UFUNC_API
#define NO_IMPORT_UFUNC
#include "frame/numpy_interface.hpp"

#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include "frame/call.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace velk {

namespace {

constexpr unsigned kAbiNumpy1 = 0x01000009;
constexpr unsigned kAbiNumpy2 = 0x02000000;
constexpr unsigned kMinimumFeatureVersion = 0xd;

PyObject* import_multiarray_module() {
  PyObject* module = PyImport_ImportModule("numpy._core._multiarray_umath");
  if (module == nullptr && PyErr_ExceptionMatches(PyExc_ImportError)) {
    PyErr_Clear();
    module = PyImport_ImportModule("numpy.core._multiarray_umath");
  }
  return module;
}

int check_c_interface() {
  Ref module(import_multiarray_module());
  if (!module) return -1;
  Ref capsule(PyObject_GetAttrString(module.get(), "_ARRAY_API"));
  if (!capsule) return -1;
  if (!PyCapsule_CheckExact(capsule.get())) {
    PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is not PyCapsule object");
    return -1;
  }
  PyArray_API = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (PyArray_API == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is NULL pointer");
    return -1;
  }
  const unsigned abi = static_cast<unsigned>(PyArray_GetNDArrayCVersion());
  if (abi != kAbiNumpy1 && abi != kAbiNumpy2) {
    PyErr_Format(PyExc_RuntimeError, "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                 kAbiNumpy1, abi);
    return -1;
  }
  const unsigned feature = static_cast<unsigned>(PyArray_GetNDArrayCFeatureVersion());
  if (feature < kMinimumFeatureVersion) {
    PyErr_Format(PyExc_RuntimeError,
                 "module compiled against API version 0x%x but this version of numpy is 0x%x . Check the section "
                 "C-API incompatibility at the Troubleshooting ImportError section at "
                 "https://numpy.org/devdocs/user/troubleshooting-importerror.html#c-api-incompatibility "
                 "for indications on how to solve this problem .",
                 kMinimumFeatureVersion, feature);
    return -1;
  }
  PyArray_RUNTIME_VERSION = static_cast<int>(feature);
  const int endianness = PyArray_GetEndianness();
  if (endianness == NPY_CPU_BIG) {
    PyErr_SetString(PyExc_RuntimeError,
                    "FATAL: module compiled as little endian, but detected different endianness at runtime");
    return -1;
  }
  if (endianness != NPY_CPU_LITTLE) {
    PyErr_SetString(PyExc_RuntimeError, "FATAL: module compiled as unknown endian");
    return -1;
  }
  return 0;
}

enum class SizeCheck { Ignore, Warn };

PyTypeObject* import_type(PyObject* module, const char* module_name, const char* type_name, size_t expected,
                          SizeCheck larger) {
  PyObject* found = PyObject_GetAttrString(module, type_name);
  if (found == nullptr) return nullptr;
  if (!PyType_Check(found)) {
    PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, type_name);
    Py_DECREF(found);
    return nullptr;
  }
  const Py_ssize_t actual = reinterpret_cast<PyTypeObject*>(found)->tp_basicsize;
  const Py_ssize_t wanted = static_cast<Py_ssize_t>(expected);
  if (actual < wanted) {
    PyErr_Format(PyExc_ValueError,
                 "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C header, got "
                 "%zd from PyObject",
                 module_name, type_name, wanted, actual);
    Py_DECREF(found);
    return nullptr;
  }
  if (actual > wanted && larger == SizeCheck::Warn &&
      PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                       "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
                       "header, got %zd from PyObject",
                       module_name, type_name, wanted, actual) != 0) {
    Py_DECREF(found);
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(found);
}

PyTypeObject* g_types[16];

// numpy's own objects, recorded at import: allocation may bypass the Python-level
// call only while the module's `np` still resolves to exactly these.
struct NumpyOriginals {
  PyObject* module = nullptr;
  PyObject* full = nullptr;
  PyObject* zeros = nullptr;
  PyObject* nan = nullptr;
  PyObject* float32 = nullptr;
  PyObject* int32 = nullptr;
  PyObject* nanmean = nullptr;
  // The ufuncs behind ndarray `+` and `/`, and numpy 1.x's way to swap them (null under 2.x).
  PyObject* add = nullptr;
  PyObject* true_divide = nullptr;
  PyObject* set_numeric_ops = nullptr;
} g_originals;

bool attribute_is(PyObject* module, const char* name, PyObject* original) {
  PyObject* dict = PyModule_GetDict(module);
  PyObject* found = PyDict_GetItemWithError(dict, interned(name));
  return found == original && found != nullptr;
}

}  // namespace

int record_numpy_originals(PyObject* numpy) {
  g_originals.module = Py_NewRef(numpy);
  g_originals.full = PyObject_GetAttrString(numpy, "full");
  g_originals.zeros = PyObject_GetAttrString(numpy, "zeros");
  g_originals.nan = PyObject_GetAttrString(numpy, "nan");
  g_originals.float32 = PyObject_GetAttrString(numpy, "float32");
  g_originals.int32 = PyObject_GetAttrString(numpy, "int32");
  g_originals.nanmean = PyObject_GetAttrString(numpy, "nanmean");
  if (!g_originals.full || !g_originals.zeros || !g_originals.nan || !g_originals.float32 || !g_originals.int32 ||
      !g_originals.nanmean)
    return -1;
  Ref umath(import_multiarray_module());
  if (!umath) return -1;
  g_originals.add = PyObject_GetAttrString(umath.get(), "add");
  g_originals.true_divide = PyObject_GetAttrString(umath.get(), "true_divide");
  if (!g_originals.add || !g_originals.true_divide) return -1;
  g_originals.set_numeric_ops = PyObject_GetAttrString(umath.get(), "set_numeric_ops");
  if (!g_originals.set_numeric_ops) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
  }
  return 0;
}

bool numpy_arithmetic_is_own(bool allow_costly_check) {
  // The Python-level expression never looks `np` up, so a failed lookup only means "no".
  PyObject* np = g_module_dict ? PyDict_GetItemWithError(g_module_dict, interned("np")) : nullptr;
  if (np != g_originals.module || np == nullptr) {
    PyErr_Clear();
    return false;
  }
  if (g_originals.set_numeric_ops == nullptr) return true;
  if (!allow_costly_check) return false;
  Ref ops(PyObject_CallNoArgs(g_originals.set_numeric_ops));
  bool own = ops && PyDict_CheckExact(ops.get());
  own = own && PyDict_GetItemWithError(ops.get(), interned("add")) == g_originals.add;
  own = own && PyDict_GetItemWithError(ops.get(), interned("true_divide")) == g_originals.true_divide;
  PyErr_Clear();
  return own;
}

bool numpy_full_is_own(PyObject* np) {
  return np == g_originals.module && attribute_is(np, "full", g_originals.full) &&
         attribute_is(np, "nan", g_originals.nan) && attribute_is(np, "float32", g_originals.float32);
}

bool numpy_zeros_are_own(PyObject* np) {
  return np == g_originals.module && attribute_is(np, "zeros", g_originals.zeros) &&
         attribute_is(np, "float32", g_originals.float32) && attribute_is(np, "int32", g_originals.int32);
}

PyObject* fast_new_unfilled_series(PyObject* np, int32_t n) {
  if (!numpy_full_is_own(np)) return nullptr;
  npy_intp dims[1] = {n};
  PyObject* array = PyArray_SimpleNew(1, dims, NPY_FLOAT32);
  if (array == nullptr) throw PythonError{};
  return array;
}

PyObject* fast_new_series(PyObject* np, int32_t n) {
  PyObject* array = fast_new_unfilled_series(np, n);
  if (array == nullptr) return nullptr;
  // np.full with the float64 NaN gives float32 quiet NaNs with this bit pattern.
  const uint32_t quiet_nan = 0x7fc00000u;
  auto* data = static_cast<char*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
  // Sixteen bytes per store, then the tail.
  using Block = uint32_t __attribute__((vector_size(16)));
  const Block block = {quiet_nan, quiet_nan, quiet_nan, quiet_nan};
  int64_t i = 0;
  for (; i + 4 <= n; i += 4) std::memcpy(data + 4 * i, &block, sizeof block);
  for (; i < n; ++i) std::memcpy(data + 4 * i, &quiet_nan, sizeof quiet_nan);
  return array;
}

PyObject* fast_new_zeros(PyObject* np, int32_t n, bool integer) {
  if (np != g_originals.module || !attribute_is(np, "zeros", g_originals.zeros) ||
      !attribute_is(np, integer ? "int32" : "float32", integer ? g_originals.int32 : g_originals.float32))
    return nullptr;
  npy_intp dims[1] = {n};
  PyObject* array = PyArray_ZEROS(1, dims, integer ? NPY_INT32 : NPY_FLOAT32, 0);
  if (array == nullptr) throw PythonError{};
  return array;
}

PyObject* fast_new_unfilled_positions(PyObject* np, int32_t n) {
  if (np != g_originals.module || !attribute_is(np, "zeros", g_originals.zeros) ||
      !attribute_is(np, "int32", g_originals.int32))
    return nullptr;
  npy_intp dims[1] = {n};
  PyObject* array = PyArray_SimpleNew(1, dims, NPY_INT32);
  if (array == nullptr) throw PythonError{};
  return array;
}

namespace {

// numpy's float32 sum: pairwise, eight accumulators per block of up to 128
// elements, over the values with NaN replaced by +0 (nanmean sums a copy so).
class PairwiseSum {
 public:
  PairwiseSum(const char* data, int64_t stride) : data_(data), stride_(stride) {}

  float operator()(int64_t begin, int64_t n) const {
    if (n < 8) {
      float res = 0.0f;
      for (int64_t i = 0; i < n; ++i) res += at(begin + i);
      return res;
    }
    if (n <= 128) {
      float r[8];
      for (int k = 0; k < 8; ++k) r[k] = at(begin + k);
      int64_t i = 8;
      for (; i < n - (n % 8); i += 8)
        for (int k = 0; k < 8; ++k) r[k] += at(begin + i + k);
      float res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
      for (; i < n; ++i) res += at(begin + i);
      return res;
    }
    int64_t half = n / 2;
    half -= half % 8;
    return (*this)(begin, half) + (*this)(begin + half, n - half);
  }

 private:
  float at(int64_t i) const {
    float v;
    std::memcpy(&v, data_ + i * stride_, sizeof v);
    return std::isnan(v) ? 0.0f : v;
  }
  const char* data_;
  int64_t stride_;
};

}  // namespace

bool fast_nanmean(PyObject* np, PyObject* series, PyObject* slice, double* mean) {
  if (np != g_originals.module || !attribute_is(np, "nanmean", g_originals.nanmean)) return false;
  char* data;
  int64_t length, stride;
  if (!direct_view(series, false, false, &data, &length, &stride)) return false;
  Py_ssize_t start, stop, step;
  if (PySlice_Unpack(slice, &start, &stop, &step) < 0) throw PythonError{};
  const Py_ssize_t count = PySlice_AdjustIndices(length, &start, &stop, step);
  return nanmean_of_elements(data + start * stride, count, stride * step, mean);
}

bool nanmean_of_elements(const char* first, int64_t count, int64_t stride, double* mean) {
  int64_t present = 0;
  for (int64_t i = 0; i < count; ++i) {
    float v;
    std::memcpy(&v, first + i * stride, sizeof v);
    present += std::isnan(v) ? 0 : 1;
  }
  // numpy warns about a slice without values: let it.
  if (present == 0) return false;
  const float total = 0.0f + PairwiseSum(first, stride)(0, count);
  *mean = static_cast<float>(static_cast<double>(total) / static_cast<double>(present));
  return true;
}

bool numpy_nanmean_is_own() {
  PyObject* np = g_module_dict ? PyDict_GetItemWithError(g_module_dict, interned("np")) : nullptr;
  if (np == nullptr) {
    PyErr_Clear();
    return false;
  }
  return np == g_originals.module && attribute_is(np, "nanmean", g_originals.nanmean);
}

bool direct_view(PyObject* obj, bool writable, bool integer, char** data, int64_t* length, int64_t* stride) {
  if (Py_TYPE(obj) != &PyArray_Type) return false;
  auto* array = reinterpret_cast<PyArrayObject*>(obj);
  if (PyArray_NDIM(array) != 1 || PyArray_TYPE(array) != (integer ? NPY_INT32 : NPY_FLOAT32) ||
      !PyArray_ISNOTSWAPPED(array) || (writable && !PyArray_ISWRITEABLE(array)))
    return false;
  *data = static_cast<char*>(PyArray_DATA(array));
  *length = PyArray_DIM(array, 0);
  *stride = PyArray_STRIDE(array, 0);
  return true;
}

int attach_numpy_c_interface() {
  if (check_c_interface() == 0) return 0;
  PyArray_API = nullptr;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyErr_SetString(PyExc_ImportError,
                  "numpy.core.multiarray failed to import: the numpy installed beside this module does not offer "
                  "a C interface it can use (see the chained exception)");
  PyObject *import_type_, *import_value, *import_traceback;
  PyErr_Fetch(&import_type_, &import_value, &import_traceback);
  PyErr_NormalizeException(&import_type_, &import_value, &import_traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_INCREF(value);
    PyException_SetCause(import_value, value);
    PyException_SetContext(import_value, value);
  }
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyErr_Restore(import_type_, import_value, import_traceback);
  return -1;
}

int import_numpy_types() {
  Ref builtins(PyImport_ImportModule("builtins"));
  if (!builtins) return -1;
  g_types[0] = import_type(builtins.get(), "builtins", "type", sizeof(PyHeapTypeObject), SizeCheck::Warn);
  if (g_types[0] == nullptr) return -1;
  Ref numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return -1;
  struct Expected {
    const char* name;
    size_t size;
    SizeCheck larger;
  };
  const Expected numpy_types[] = {
      {"dtype", sizeof(PyArray_Descr), SizeCheck::Ignore},
      {"flatiter", sizeof(PyArrayIterObject), SizeCheck::Ignore},
      {"broadcast", sizeof(PyArrayMultiIterObject), SizeCheck::Ignore},
      {"ndarray", sizeof(PyArrayObject_fields), SizeCheck::Ignore},
      {"generic", sizeof(PyObject), SizeCheck::Warn},
      {"number", sizeof(PyObject), SizeCheck::Warn},
      {"integer", sizeof(PyObject), SizeCheck::Warn},
      {"signedinteger", sizeof(PyObject), SizeCheck::Warn},
      {"unsignedinteger", sizeof(PyObject), SizeCheck::Warn},
      {"inexact", sizeof(PyObject), SizeCheck::Warn},
      {"floating", sizeof(PyObject), SizeCheck::Warn},
      {"complexfloating", sizeof(PyObject), SizeCheck::Warn},
      {"flexible", sizeof(PyObject), SizeCheck::Warn},
      {"character", sizeof(PyObject), SizeCheck::Warn},
      {"ufunc", sizeof(PyUFuncObject), SizeCheck::Ignore},
  };
  int k = 1;
  for (const Expected& e : numpy_types) {
    g_types[k] = import_type(numpy.get(), "numpy", e.name, e.size, e.larger);
    if (g_types[k] == nullptr) return -1;
    if (k == 4) g_ndarray_type = g_types[k];
    ++k;
  }
  return 0;
}

}  // namespace velk
