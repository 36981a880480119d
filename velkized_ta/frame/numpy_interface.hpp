// Attaching numpy's C interface and its type objects (see numpy_interface.cpp).
#pragma once

#include <Python.h>

#include <cstdint>

namespace velk {

// Imports numpy's multiarray capsule and checks its ABI, feature level and byte
// order. On failure the error is an ImportError chained to the cause.
int attach_numpy_c_interface();
// Imports builtins.type and numpy's type objects, checking their instance sizes.
int import_numpy_types();
// Remembers numpy's own allocation functions and constants.
int record_numpy_originals(PyObject* numpy);

// np.full(n, np.nan, dtype=np.float32) / np.zeros(n, dtype=...) through the C
// interface, when `np` and its attributes are still numpy's own; NULL otherwise.
PyObject* fast_new_series(PyObject* np, int32_t n);
PyObject* fast_new_zeros(PyObject* np, int32_t n, bool integer);
// The same int32 array unfilled, for storage nothing reads before writing (nullptr as above).
PyObject* fast_new_unfilled_positions(PyObject* np, int32_t n);
// Whether np.full, np.nan and np.float32 on `np` are numpy's own, so that allocating
// an output runs no Python code.
bool numpy_full_is_own(PyObject* np);
// Whether np.zeros, np.float32 and np.int32 on `np` are numpy's own.
bool numpy_zeros_are_own(PyObject* np);
// The array of fast_new_series with its elements left unset, for a body that writes
// every position itself (NaN where it computes nothing); NULL when `np` is not numpy's own.
PyObject* fast_new_unfilled_series(PyObject* np, int32_t n);
// np.nanmean(series[slice]) computed as numpy computes it, when `np` and its
// nanmean are numpy's own and series is a plain float32 array with values in the
// slice; false when the Python-level call must decide (including its warning).
bool fast_nanmean(PyObject* np, PyObject* series, PyObject* slice, double* mean);
// The mean fast_nanmean computes over `count` float32 elements from `first`, `element_stride`
// bytes apart; false when none is present (numpy would warn). Touches no Python object, so a
// worker thread without the GIL may call it.
bool nanmean_of_elements(const char* first, int64_t count, int64_t element_stride, double* mean);
// Whether the module's `np` and its nanmean are numpy's own.
bool numpy_nanmean_is_own();
// Whether ndarray `+` and `/` still call numpy's own add and true_divide and the
// module's `np` is numpy itself. numpy 1.x can swap them (np.set_numeric_ops), and
// asking it builds a dictionary: without allow_costly_check the answer there is false.
// Never leaves a Python error set.
bool numpy_arithmetic_is_own(bool allow_costly_check);
// The element view of an exact, native-order, one-dimensional ndarray of the
// element type, read from the array itself; false when the buffer protocol must decide.
bool direct_view(PyObject* obj, bool writable, bool integer, char** data, int64_t* length, int64_t* stride);

}  // namespace velk
