"""Many series per call for the classic indicators, mirroring :mod:`velkized_ta.batch`.

Each indicator has a function of the same name taking its inputs and parameters plus keyword-only
``offsets``, ``axis``, ``threads``, ``errors`` and ``dtype``. A series argument is

* a 2-D array (any real dtype) with one series per column (``axis=0``) or per row (``axis=1``);
  the result has the same shape; or
* a 1-D array of concatenated series with ``offsets`` (ascending segment starts ending with the
  total length); each segment is computed on its own.

An optional input (``vwap``'s ``anchor``) is shaped like the others, or None (0 on every bar).

Every series of the result is, bit for bit, what the classic function gives for that series alone
(each runs the same step from a fresh state). ``threads`` worker threads (default: the usable
cores, never more than the machine's) share the series. The classic indicators have no failing
series (NaN bars are skipped, flat data has its convention), so ``errors`` ("raise" or "nan") is
checked and otherwise changes nothing; a failure of the whole call (memory) raises.

:func:`batch` takes the indicator by name or function: ``batch("sma", closes, 20, axis=0)``.
"""

from __future__ import annotations

import numpy as np

from velkized_ta import _classic
from velkized_ta.batch import _available_cores, _check_offsets
from velkized_ta.classic import INDEX, NAMES, REGISTRY, bound_params, descriptor, float32_wanted, input_signature

__all__ = list(NAMES) + ["batch"]


def _series(label, name, value, offsets, float32_as_is=False):
    array = np.asarray(value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{label}() argument '{name}' must hold real numbers, got dtype {array.dtype}")
    wanted = 1 if offsets is not None else 2
    if array.ndim != wanted:
        how = "a 1-D array with offsets" if offsets is not None else "a 2-D array (or 1-D with offsets)"
        raise ValueError(f"{label}() argument '{name}' must be {how}, got {array.ndim}-D")
    if float32_as_is and array.dtype == np.float32 and array.flags.aligned:
        return array  # the lanes widen each row as they read it
    return np.require(array, np.float64, ["C_CONTIGUOUS", "ALIGNED"])  # an unaligned view is copied


def batch(name_or_function, *args, offsets=None, axis=0, threads=None, errors="raise", dtype=np.float64,
          **kwargs):
    """Runs a classic indicator over many series: inputs, then parameters, as the function takes them."""
    entry = descriptor(name_or_function)
    name = entry["name"]
    label = f"classic.batch.{name}"
    inputs = entry["inputs"]
    series = list(args[:len(inputs)])
    optional = entry["optional_inputs"]
    for key in inputs[len(series):]:
        if key not in kwargs and key not in optional:
            raise TypeError(f"{label}() missing required argument '{key}'")
        series.append(kwargs.pop(key, None))
    params = bound_params(entry, args[len(inputs):], kwargs)
    if errors not in ("raise", "nan"):
        raise ValueError(f"{label}() argument 'errors' must be 'raise' or 'nan', got {errors!r}")
    if axis not in (0, 1, -1, -2):
        raise ValueError(f"{label}() argument 'axis' must be 0 or 1, got {axis!r}")
    if threads is not None and (type(threads) is not int or threads < 1):
        raise ValueError(f"{label}() argument 'threads' must be a positive integer or None, got {threads!r}")
    # Tables whose columns step in lanes are read in place, float32 too (no float64 copy).
    in_lanes = entry["lanes"] and offsets is None and axis % 2 == 0
    arrays = [None if value is None and key in optional else _series(label, key, value, offsets, in_lanes)
              for key, value in zip(inputs, series)]
    if any(a is not None and a.dtype == np.float32 for a in arrays) and not all(
            a is not None and a.dtype == np.float32 for a in arrays):
        arrays = [a if a is None else np.ascontiguousarray(a, dtype=np.float64) for a in arrays]
    arrays = tuple(np.zeros(arrays[0].shape) if a is None else a for a in arrays)  # left out: 0 every bar
    for key, array in zip(inputs[1:], arrays[1:]):
        if array.shape != arrays[0].shape:
            raise ValueError(f"{label}() argument '{key}' has shape {array.shape}, "
                             f"but '{inputs[0]}' has shape {arrays[0].shape}")
    if offsets is not None:
        offsets = np.require(_check_offsets(label, offsets, arrays[0].shape[0]), np.int64, ["C_CONTIGUOUS", "ALIGNED"])
    out_type = np.float32 if float32_wanted(label, dtype) else np.float64
    outputs = tuple(np.empty(arrays[0].shape, dtype=out_type) for _ in entry["outputs"])
    _classic.run_many(INDEX[name], params, arrays, outputs, offsets, axis % 2, threads or _available_cores())
    return outputs[0] if len(outputs) == 1 else outputs


def _make(entry):
    name = entry["name"]
    inputs = list(entry["inputs"])
    params = [(spec["name"], spec["default"]) for spec in entry["params"]]
    signature = ", ".join(input_signature(entry) + [f"{p}={d!r}" for p, d in params]
                          + ["*", "offsets=None", "axis=0", "threads=None", "errors='raise'", "dtype=_np.float64"])
    passed = ", ".join(inputs + [p for p, _ in params])
    source = (f"def {name}({signature}):\n"
              f"    return _batch({name!r}, {passed}, offsets=offsets, axis=axis, threads=threads, "
              f"errors=errors, dtype=dtype)\n")
    namespace = {"_np": np, "_batch": batch}
    exec(source, namespace)
    function = namespace[name]
    function.__module__ = __name__
    function.__qualname__ = name
    function.__doc__ = (f"velkized_ta.classic.{name} over many series: each series of the result equals the\n"
                        f"function on that series alone, bit for bit. Layouts, threads and errors: see the\n"
                        f"module docstring.\n\n{entry['summary']}")
    return function


for _entry in REGISTRY:
    globals()[_entry["name"]] = _make(_entry)
del _entry
