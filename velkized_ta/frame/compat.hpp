// C API shims for the oldest supported CPython.
#pragma once

#include <Python.h>

#if PY_VERSION_HEX < 0x030A00F0
static inline PyObject* Py_NewRef(PyObject* obj) {
  Py_INCREF(obj);
  return obj;
}
static inline PyObject* Py_XNewRef(PyObject* obj) {
  Py_XINCREF(obj);
  return obj;
}
#endif
