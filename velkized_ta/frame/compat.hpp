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
static inline int PyModule_AddObjectRef(PyObject* module, const char* name, PyObject* value) {
  Py_XINCREF(value);
  const int result = PyModule_AddObject(module, name, value);
  if (result < 0) Py_XDECREF(value);
  return result;
}
#endif
