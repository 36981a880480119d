// The function objects the module exports (see function_object.cpp).
#pragma once

#include "frame/call.hpp"

namespace velk {

int ready_function_type();
// A new function object for a table row, bound to the module's globals.
PyObject* new_function(const FunctionDef& def, PyObject* globals);
// Adds a traceback entry named `qualified_name` (file velkized_ta/velk_ta_funcs) to the pending exception.
void add_traceback(const char* qualified_name, int line);

}  // namespace velk
