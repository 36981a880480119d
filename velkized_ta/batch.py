"""Many series per call: the 24 indicators over a table of series or a sorted long column.

Each function takes the exact function's parameters plus keyword-only ``offsets``,
``axis``, ``threads`` and ``errors``. A series argument (and a handed-in stage) is

* a 2-D float32 array holding one series per column (``axis=0``, time down the rows, as in
  a wide frame) or per row (``axis=1``), any strides; the result has the same shape; or
* a 1-D float32 array of concatenated series with ``offsets``: ascending segment starts
  ending with the total length (``offsets[0] == 0``, ``offsets[-1] == len(values)``), as in
  a long table sorted by symbol; the result is 1-D and each segment is computed on its own.

Every series of the result is bit for bit what the exact function gives for that series
alone, as a contiguous float32 array, with the same arguments. With ``errors="raise"`` the
first failing series (in order) raises the exact function's exception and message with the
series' index added; with ``errors="nan"`` failing series come back all NaN and one
:class:`BatchWarning` says how many failed.

Example::

    >>> import numpy as np
    >>> from velkized_ta import batch
    >>> closes = np.cumsum(np.ones((50, 3), dtype=np.float32), axis=0) + 100
    >>> batch.velk_rsi(closes, 14).shape
    (50, 3)
"""

import inspect
import numbers
import os
import sys
import warnings

import numpy as np

from velkized_ta import FUNCTION_NAMES, _many, velk_ta_funcs
from velkized_ta._signatures import exact_int, parameters, series_names

__all__ = list(FUNCTION_NAMES) + ["BatchWarning"]

# The functions as the package exports them; batch results are defined by these objects.
_EXACT = {name: getattr(velk_ta_funcs, name) for name in FUNCTION_NAMES}


_REQUIRED = inspect.Parameter.empty

# The native path (velkized_ta._many) computes stages as the module's own siblings do and
# allocates as numpy's own np.full / np.zeros do: it is taken only while those are in place.
_FUNCTION_TYPE = type(velk_ta_funcs.__dict__["velk_sma"])
_SIBLINGS = dict.fromkeys(("velk_ema2", "velk_ema3", "velk_dema", "velk_tema", "velk_trix", "velk_macd"),
                          ("velk_ema",))
_SIBLINGS.update(velk_adx=("velk_dx",), velk_adxr=("velk_adx", "velk_dx"))
_NUMPY_OWN = {attr: getattr(np, attr) for attr in ("full", "nan", "float32", "zeros", "int32", "nanmean", "sqrt")}
_INT32 = (-2**31, 2**31 - 1)
# numpy 1.x could swap the ufuncs behind ndarray `+` and `/` (velk_cci's typical price uses them).
_SET_NUMERIC_OPS = getattr(np, "set_numeric_ops", None) if np.lib.NumpyVersion(np.__version__) < "2.0.0" else None


def _is_own(function, value):
    return type(value) is _FUNCTION_TYPE and value.__code__.co_name == function


def _native_ready(function):
    """Whether the module's function, its siblings and its np are its own right now."""
    module = velk_ta_funcs.__dict__
    if module.get("np") is not np or any(getattr(np, attr, None) is not value for attr, value in _NUMPY_OWN.items()):
        return False
    return _is_own(function, _EXACT[function]) and all(
        _is_own(sibling, module.get(sibling)) for sibling in _SIBLINGS.get(function, ()))


def _numpy_arithmetic_own():
    """Whether ndarray `+` and `/` are numpy's own add and true_divide."""
    if _SET_NUMERIC_OPS is None:
        return True
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        ops = _SET_NUMERIC_OPS()
    return type(ops) is dict and ops.get("add") is np.add and ops.get("true_divide") is np.true_divide


def _native_parameters(function, bound, series_args):
    """The declaration's parameters in order for _many.run, or None when a scalar needs the
    exact function's own conversion (anything but a plain int in range or a bool)."""
    values = []
    for name, kind, default in parameters(function):
        if kind == "series":
            values.append(series_args.get(name))
            continue
        value = bound.get(name, default)
        if isinstance(value, np.integer):  # numpy's integers convert as the exact function converts them
            value = int(value)
        if kind == "int" and not (type(value) is int and _INT32[0] <= value <= _INT32[1]):
            return None
        if kind == "flag" and type(value) is not bool:
            return None
        values.append(value)
    return tuple(values)


def _run_native(function, bound, series_args, layout, out, threads):
    """Statuses of the native pass over every series (non-zero: the exact function decides), or None."""
    if not _native_ready(function):
        return None
    params = _native_parameters(function, bound, series_args)
    if params is None:
        return None
    offsets = layout.starts if layout.axis is None else None
    statuses = _many.run(FUNCTION_NAMES.index(function), params, out, offsets, layout.axis or 0,
                         threads or _available_cores(), _numpy_arithmetic_own())
    return np.flatnonzero(np.frombuffer(statuses, dtype=np.uint8)).tolist()


class BatchWarning(RuntimeWarning):
    """Some series of a batch call failed and were returned as NaN (``errors="nan"``)."""


def _available_cores():
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


class _Layout:
    """How a batch call's series lie in its arrays: columns, rows, or segments of one column."""

    def __init__(self, function, shape, offsets, axis):
        self.function = function
        self.shape = shape
        if offsets is not None:
            self.starts = offsets
            self.count = len(offsets) - 1
            self.axis = None
        else:
            self.axis = axis
            self.count = shape[1 - axis]

    def series(self, array, j):
        """Series j of `array` as the contiguous float32 array the exact function is defined on."""
        if self.axis is None:
            part = array[self.starts[j]:self.starts[j + 1]]
        elif self.axis == 0:
            part = array[:, j]
        else:
            part = array[j, :]
        return np.ascontiguousarray(part)

    def target(self, out, j):
        if self.axis is None:
            return out[self.starts[j]:self.starts[j + 1]]
        return out[:, j] if self.axis == 0 else out[j, :]


def _check_offsets(function, offsets, total):
    try:
        offsets = np.asarray(offsets)
    except Exception as error:  # noqa: BLE001 - any unconvertible object
        raise TypeError(f"{function}() argument 'offsets' must be a 1-D integer array: {error}") from None
    if offsets.ndim != 1 or not (np.issubdtype(offsets.dtype, np.integer) or offsets.size == 0):
        raise TypeError(f"{function}() argument 'offsets' must be a 1-D integer array, "
                        f"got {offsets.ndim}-D {offsets.dtype}")
    if offsets.dtype.kind not in "iu" and offsets.size == 0:
        offsets = offsets.astype(np.int64)
    if offsets.size == 0 or offsets[0] != 0:
        raise ValueError(f"{function}() argument 'offsets' must start with 0")
    if offsets[-1] != total:
        raise ValueError(f"{function}() argument 'offsets' must end with the series' total length {total}, "
                         f"got {int(offsets[-1])}")
    if np.any(offsets[1:] < offsets[:-1]):  # not np.diff: unsigned differences wrap
        raise ValueError(f"{function}() argument 'offsets' must be ascending")
    return offsets.astype(np.int64)


def _check_series(function, name, value, offsets):
    if not isinstance(value, np.ndarray):
        raise TypeError(f"{function}() argument '{name}' must be a numpy array, not {type(value).__name__}")
    if value.dtype != np.float32:
        raise TypeError(f"{function}() argument '{name}' must be float32, got {value.dtype} "
                        f"(convert with .astype(np.float32); the indicators are defined in float32 arithmetic)")
    wanted = 1 if offsets is not None else 2
    if value.ndim != wanted:
        how = "a 1-D array with offsets" if offsets is not None else "a 2-D array (or 1-D with offsets)"
        raise ValueError(f"{function}() argument '{name}' must be {how}, got {value.ndim}-D")


def _check_scalar(function, name, kind, value):
    """Raises, once and whatever `errors` says, what the exact function's conversion of an argument
    raises; the value itself is handed on unchanged."""
    if kind == "int":
        exact_int(value)
    elif kind == "flag" and (function, name) != ("velk_ema3", "input_is_ema1"):  # read only without stage 2
        bool(value)


def _refused_period(function, error):
    """Whether `error` is a stream opener's refusal of a period outside the range it documents."""
    message = str(error)
    return (isinstance(error, ValueError) and message.startswith(f"{function} stream: ")
            and ("must be at least" in message or "must not be -1" in message))


def _with_series_index(error, j):
    if sys.version_info >= (3, 11):
        error.add_note(f"(in series {j})")
    elif error.args and isinstance(error.args[0], str):
        error.args = (f"{error.args[0]} (in series {j})",) + error.args[1:]
    return error


def _open_live(function, series_args, bound):
    """A stream handle of `function` opened on empty series, and the series its bars take (stand-ins
    of zeros for the high and low that DX- or ADX-fed handles ignore), or the opener's error."""
    from velkized_ta import stream  # imported on first use: stream imports this module's siblings

    names = series_names(function)
    # An empty 1-D history whatever the layout: the opener takes one series.
    opened = {name: None if value is None else np.empty(0, dtype=np.float32) for name, value in series_args.items()}
    params = {name: value for name, value in bound.items() if name not in names and name != "n_values"}
    handle = getattr(stream, function)(**opened, **params)
    like = next(value for value in series_args.values() if value is not None)
    bars = [series_args.get(name) for name in stream._bar_series(function, names, bound)]
    return handle, [np.broadcast_to(np.float32(0), like.shape) if value is None else value for value in bars]


def _float32(series):
    """A front-end's float64 prices (which the native live loops round as they read them) as float32."""
    return series if series.dtype == np.float32 else series.astype(np.float32)


def _series_values(function, kwargs, live):
    """The exact function's values for one series, or with `live` those a stream handle gives."""
    if not live:
        return _EXACT[function](**kwargs)
    names = series_names(function)
    series = {name: kwargs.get(name) for name in names if name in kwargs}
    handle, bars = _open_live(function, series, kwargs)
    return handle.update_many(*[np.ascontiguousarray(bar) for bar in bars])


def _trailing_window(function, bound, layout, out):
    """NaN before the last `n_values` positions of every series, as the exact function leaves them."""
    if "n_values" not in bound:
        return
    keep = exact_int(bound["n_values"])
    if layout.axis == 0:
        out[:max(out.shape[0] - keep, 0), :] = np.nan
    elif layout.axis == 1:
        out[:, :max(out.shape[1] - keep, 0)] = np.nan
    else:
        starts = np.asarray(layout.starts, dtype=np.int64)
        ends = np.repeat(starts[1:], np.diff(starts))
        out[np.arange(out.shape[0]) < ends - keep] = np.nan


def _live_columns_in_lanes(function, bound, series_args, layout, out, threads):
    """The columns the lanes across series leave (to be computed live), after writing the others'
    live values into `out` (over the whole series: `n_values` is applied after); None when the
    lanes do not apply to this call."""
    if layout.axis != 0 or any(value is not None and value.dtype != np.float32 for value in series_args.values()):
        return None
    whole_series = {name: value for name, value in bound.items() if name != "n_values"}
    params = _native_parameters(function, whole_series, series_args)
    if params is None:
        return None
    statuses = _many.run(FUNCTION_NAMES.index(function), params, out, None, 0, threads or _available_cores(),
                         _numpy_arithmetic_own(), True, True)
    return np.flatnonzero(np.frombuffer(statuses, dtype=np.uint8))


def _live_statuses(function, bound, series_args, layout, out, threads):
    """Live values of every series at once on native threads, into `out`; per series 0 when done,
    else the series is left to the handle path (a failing bar, or numpy would warn). None when the
    handle cannot even be opened: then each series raises (or warns) on its own, as always."""
    from velkized_ta import _live

    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            handle, bars = _open_live(function, series_args, bound)
    except Exception:  # noqa: BLE001 - the per-series path raises it with the series index
        return None
    _, (_, name, kernel, kernel_params, _, _) = handle.__reduce__()
    if handle.arity != len(bars):
        return None
    offsets = None if layout.axis is not None else np.ascontiguousarray(layout.starts, dtype=np.int64)
    left = _live_columns_in_lanes(function, bound, series_args, layout, out, threads)
    if left is None or len(left) == layout.count:
        return _live.run_many(name, kernel, kernel_params, tuple(bars), out, offsets, layout.axis or 0,
                              threads or _available_cores())
    statuses = np.zeros(layout.count, dtype=np.int8)
    if len(left):
        part = np.empty((out.shape[0], len(left)), dtype=np.float32)
        statuses[left] = _live.run_many(name, kernel, kernel_params, tuple(bar[:, left] for bar in bars), part, None, 0,
                                        threads or _available_cores())
        out[:, left] = part
    return statuses


def _take_columns(table, indices):
    """Columns `indices` of a 2-D table as the rows of a new C-contiguous array."""
    if table.dtype != np.float32:  # a front-end's float64 prices
        return np.ascontiguousarray(table[:, indices].T)
    taken = np.empty((len(indices), table.shape[0]), dtype=np.float32)
    _many.take_columns(table, indices, taken)
    return taken


def _run(function, bound, series_args, layout, errors, live=False, short_as_nan=False, threads=None):
    reference = next(value for value in series_args.values() if value is not None)
    out = np.empty(reference.shape, dtype=np.float32)
    if live and "n_values" in bound and exact_int(bound["n_values"]) < 0:
        live = False  # no live values: the exact function says what a negative window gives
    pending = None if live else _run_native(function, bound, series_args, layout, out, threads)
    failed = []
    first_error = None
    if live:
        statuses = _live_statuses(function, bound, series_args, layout, out, threads)
        pending = None if statuses is None else np.flatnonzero(statuses).tolist()
    columns = range(layout.count) if pending is None else pending
    gathered = None
    if layout.axis == 0 and len(columns) > 1:
        # The columns left to Python gathered in one pass over each table, and their values put
        # back in one: a column at a time reads (and writes) a cache line per bar.
        indices = np.asarray(columns, dtype=np.int64)
        gathered = {name: None if value is None else _take_columns(value, indices)
                    for name, value in series_args.items()}
        results = np.empty((len(columns), out.shape[0]), dtype=np.float32)
    for index, j in enumerate(columns):
        kwargs = dict(bound)
        for name, value in series_args.items():
            if value is None:
                kwargs[name] = None
            else:
                kwargs[name] = _float32(gathered[name][index] if gathered else layout.series(value, j))
        target = results[index] if gathered else layout.target(out, j)
        try:
            values = _series_values(function, kwargs, live)
        except Exception as error:
            if short_as_nan and isinstance(error, IndexError):  # fewer bars than the warm-up needs
                target[...] = np.nan
                continue
            if live and _refused_period(function, error):
                raise  # a period the live handles refuse, whatever the series: not the data's failure
            if errors == "raise":
                raise _with_series_index(error, j)
            failed.append(j)
            first_error = first_error or error
            target[...] = np.nan
            continue
        if np.shape(values) != target.shape:
            # The exact function's result length comes from one of its inputs; a mismatch
            # means the caller's series disagree, which the shape check already rules out.
            raise ValueError(f"batch.{function}() series {j} gave {np.shape(values)} values for {target.shape} positions")
        target[...] = values
    if gathered:
        _many.put_columns(out, indices, results)
    if live:
        _trailing_window(function, bound, layout, out)
    if failed:
        shown = ", ".join(str(j) for j in failed[:5]) + (", ..." if len(failed) > 5 else "")
        warnings.warn(f"batch.{function}(): {len(failed)} of {layout.count} series failed and are NaN "
                      f"(series {shown}; first error: {type(first_error).__name__}: {first_error})",
                      BatchWarning, stacklevel=3)
    return out


def _compute(function, series_args, bound, offsets, live=False, short_as_nan=False):
    """1-D float32 series (checked by the caller) per segment of `offsets`; for the front-ends.
    With `live` they may be float64, rounded to float32 as they are read (as numpy's cast rounds)."""
    first = next(iter(series_args.values()))
    layout = _Layout(function, first.shape, offsets, 0)
    return _run(function, bound, series_args, layout, "raise", live=live, short_as_nan=short_as_nan)


def _make(function):
    params = parameters(function)
    names = [name for name, _, _ in params]

    label = f"batch.{function}"

    def batch_function(*args, offsets=None, axis=0, threads=None, errors="raise", live=False, **kwargs):
        if len(args) > len(names):
            raise TypeError(f"{label}() takes at most {len(names)} positional arguments ({len(args)} given)")
        given = dict(zip(names, args))
        for name, value in kwargs.items():
            if name not in names:
                raise TypeError(f"{label}() got an unexpected keyword argument '{name}'")
            if name in given:
                raise TypeError(f"{label}() got multiple values for argument '{name}'")
            given[name] = value
        if errors not in ("raise", "nan"):
            raise ValueError(f"{label}() argument 'errors' must be 'raise' or 'nan', got {errors!r}")
        if axis not in (0, 1, -1, -2):
            raise ValueError(f"{label}() argument 'axis' must be 0 or 1, got {axis!r}")
        axis %= 2
        if threads is not None:
            if isinstance(threads, bool) or not isinstance(threads, numbers.Integral) or threads < 1:
                raise ValueError(f"{label}() argument 'threads' must be a positive integer or None, got {threads!r}")
            threads = int(threads)
        missing = [name for name, _, default in params if default is _REQUIRED and name not in given]
        if missing:
            raise TypeError(f"{label}() missing required argument '{missing[0]}'")
        series_args, bound = {}, {}
        for name, kind, default in params:
            value = given.get(name, default)
            if kind != "series":
                if name in given:
                    _check_scalar(function, name, kind, value)
                    bound[name] = value
                continue
            if value is not None:
                _check_series(label, name, value, offsets)
            series_args[name] = value
        present = [(name, value) for name, value in series_args.items() if value is not None]
        if not present:
            raise TypeError(f"{label}() needs at least one series argument")
        first_name, first = present[0]
        for name, value in present[1:]:
            if value.shape != first.shape:
                raise ValueError(f"{label}() argument '{name}' has shape {value.shape}, "
                                 f"but '{first_name}' has shape {first.shape}")
        if offsets is not None:
            offsets = _check_offsets(label, offsets, first.shape[0])
        layout = _Layout(function, first.shape, offsets, axis)
        return _run(function, bound, series_args, layout, errors, live=bool(live), threads=threads)

    batch_function.__name__ = batch_function.__qualname__ = function
    batch_function.__module__ = __name__
    batch_function.__doc__ = (
        f"{function} over many series at once: each series of the result equals\n"
        f"velkized_ta.{function} on that series alone, bit for bit.\n\n"
        f"Parameters are those of velkized_ta.{function} ({', '.join(names)}), plus keyword-only\n"
        "offsets (segment starts of a 1-D input, ending with its length), axis (0: one series per\n"
        "column, 1: per row), threads (worker threads; default: the usable cores) and errors\n"
        "('raise' or 'nan'). See the module docstring for the layouts and error rules."
    )
    return batch_function


for _name in FUNCTION_NAMES:
    globals()[_name] = _make(_name)
del _name
