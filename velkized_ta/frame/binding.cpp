// Argument binding and conversion: positional and keyword arguments to the
// parameters of a function-table row, then C int and truth-value conversion and
// the ndarray type test. Every message here is part of the module's interface.

#include "frame/binding.hpp"

#include <algorithm>
#include <vector>

namespace velk {

namespace {

void raise_positional_count(const FunctionDef& def, bool too_few, Py_ssize_t expected, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", def.name,
               too_few ? "at least" : "at most", expected, expected == 1 ? "" : "s", given);
}

// Position of `name` among the keyword names: identity first, then equal text.
Py_ssize_t find_keyword(PyObject* kwnames, PyObject* name) {
  const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < count; ++k)
    if (PyTuple_GET_ITEM(kwnames, k) == name) return k;
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    if (PyUnicode_Check(key) && PyUnicode_Compare(key, name) == 0) return k;
  }
  return -1;
}

int find_param(const FunctionDef& def, PyObject* key) {
  for (size_t i = 0; i < def.params.size(); ++i) {
    PyObject* name = interned(def.params[i].name);
    if (key == name || (PyUnicode_Check(key) && PyUnicode_Compare(key, name) == 0)) return static_cast<int>(i);
  }
  return -1;
}

bool long_to_int32(PyObject* value, int32_t* out) {
  const long v = PyLong_AsLong(value);
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < INT32_MIN || v > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
    return false;
  }
  *out = static_cast<int32_t>(v);
  return true;
}

}  // namespace

bool convert_int(PyObject* value, int32_t* out) {
  if (PyLong_Check(value)) return long_to_int32(value, out);
  PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
  if (number == nullptr || number->nb_int == nullptr) {
    PyErr_SetString(PyExc_TypeError, "an integer is required");
    return false;
  }
  PyObject* result = number->nb_int(value);
  if (result == nullptr) return false;
  if (!PyLong_CheckExact(result)) {
    if (!PyLong_Check(result)) {
      PyErr_Format(PyExc_TypeError, "__%.4s__ returned non-%.4s (type %.200s)", "int", "int",
                   Py_TYPE(result)->tp_name);
      Py_DECREF(result);
      return false;
    }
    if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                         "__int__ returned non-int (type %.200s).  The ability to return an instance of a "
                         "strict subclass of int is deprecated, and may be removed in a future version of "
                         "Python.",
                         Py_TYPE(result)->tp_name) != 0) {
      Py_DECREF(result);
      return false;
    }
  }
  const bool ok = long_to_int32(result, out);
  Py_DECREF(result);
  return ok;
}

bool convert_bool(PyObject* value, bool* out) {
  if (value == Py_True || value == Py_False || value == Py_None) {
    *out = value == Py_True;
    return true;
  }
  const int truth = PyObject_IsTrue(value);
  if (truth < 0) return false;
  *out = truth != 0;
  return true;
}

bool bind_arguments(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    Call& call) {
  const Py_ssize_t total = static_cast<Py_ssize_t>(def.params.size());
  const Py_ssize_t required = def.required_count();
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  Call::Slots& slots = call.slots();
  PyObject** values = slots.objects;

  if (nargs > total) {
    raise_positional_count(def, false, total, nargs);
    return false;
  }
  if (nkw == 0 && nargs < required) {
    raise_positional_count(def, true, required, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = args[i];

  if (nkw > 0) {
    std::vector<char> consumed(static_cast<size_t>(nkw), 0);
    Py_ssize_t remaining = nkw;
    for (Py_ssize_t i = nargs; i < required; ++i) {
      const Py_ssize_t k = find_keyword(kwnames, interned(def.params[i].name));
      if (k < 0) {
        raise_positional_count(def, true, required, i);
        return false;
      }
      values[i] = args[nargs + k];
      consumed[k] = 1;
      --remaining;
    }
    for (Py_ssize_t i = std::max(nargs, required); i < total && remaining > 0; ++i) {
      const Py_ssize_t k = find_keyword(kwnames, interned(def.params[i].name));
      if (k < 0) continue;
      values[i] = args[nargs + k];
      consumed[k] = 1;
      --remaining;
    }
    if (remaining > 0) {
      for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (consumed[k]) continue;
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        const int param = find_param(def, key);
        if (param >= 0 && param < nargs)
          PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", def.name, key);
        else
          PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", def.name, key);
        return false;
      }
    }
  }

  // Conversions of what was passed; defaults are constants applied as they stand.
  for (Py_ssize_t i = 0; i < total; ++i) {
    const Param& p = def.params[i];
    PyObject* given = values[i];
    if (given == nullptr) {
      if (p.fallback.type == Default::Type::None) values[i] = Py_None;
      else if (p.kind == Kind::Object) values[i] = py_bool(p.fallback.value != 0);
      slots.integers[i] = p.fallback.value;
      slots.flags[i] = p.fallback.value != 0;
      continue;
    }
    if (p.kind == Kind::Int && !convert_int(given, &slots.integers[i])) return false;
    if (p.kind == Kind::Bool && !convert_bool(given, &slots.flags[i])) return false;
  }
  return true;
}

bool type_test_arrays(const FunctionDef& def, Call& call) {
  for (size_t i = 0; i < def.params.size(); ++i) {
    if (def.params[i].kind != Kind::Array) continue;
    PyObject* value = call.slots().objects[i];
    if (value == Py_None || PyObject_TypeCheck(value, g_ndarray_type)) continue;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                 def.params[i].name, g_ndarray_type->tp_name, Py_TYPE(value)->tp_name);
    return false;
  }
  return true;
}

}  // namespace velk
