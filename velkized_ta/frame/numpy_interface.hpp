// Attaching numpy's C interface and its type objects (see numpy_interface.cpp).
#pragma once

#include <Python.h>

namespace velk {

// Imports numpy's multiarray capsule and checks its ABI, feature level and byte
// order. On failure the error is an ImportError chained to the cause.
int attach_numpy_c_interface();
// Imports builtins.type and numpy's type objects, checking their instance sizes.
int import_numpy_types();

}  // namespace velk
