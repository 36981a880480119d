// Binding and conversion of call arguments (see binding.cpp).
#pragma once

#include "frame/call.hpp"

namespace velk {

// Binds positional and keyword arguments and converts Int and Bool parameters.
// Returns false with a Python error set.
bool bind_arguments(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Call& call);
// The ndarray type test of every Array parameter, in parameter order.
bool type_test_arrays(const FunctionDef& def, Call& call);

bool convert_int(PyObject* value, int32_t* out);
bool convert_bool(PyObject* value, bool* out);

}  // namespace velk
