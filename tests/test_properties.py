"""Generated calls of every function: any values, lengths, layouts, periods and flags.

Whatever a caller passes, a call returns a fresh float32 series of the right length
or raises one of the errors that function can raise; it never writes to its inputs
and keeps no reference to them. Results also do not depend on memory layout.
"""

import gc
import inspect
import os
import re
import sys
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from velkized_ta import FUNCTION_NAMES, velk_ta_funcs
from signatures import kind_of, LENGTH_PARAM

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
INT_EXTREMES = [INT32_MIN, INT32_MIN + 1, INT32_MAX - 1, INT32_MAX]

# The sanitizer build runs the suite several times slower: fewer examples there.
SANITIZE_RUN = os.environ.get("VELK_SANITIZE_RUN") == "1"
SETTINGS = settings(
    max_examples=80 if SANITIZE_RUN else 150,
    derandomize=True,
    database=None,
    deadline=None,
    report_multiple_bugs=False,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.filter_too_much],
)

# Functions with no unguarded division anywhere on their path.
NEVER_DIVIDES_BY_ZERO = {"velk_lin", "velk_roc", "velk_willr", "velk_cmo", "velk_stochf", "velk_adif", "velk_rdif"}
BUFFER_INDEX_ERROR = "Out of bounds on buffer access (axis 0)"
# velk_roc indexes like numpy items, so its out-of-range errors are numpy's.
NUMPY_INDEX_ERROR = re.compile(r"index -?\d+ is out of bounds for axis 0 with size \d+")


SIGNATURES = {
    name: [(p, kind_of(p), param.default is not inspect.Parameter.empty)
           for p, param in inspect.signature(getattr(velk_ta_funcs, name)).parameters.items()]
    for name in FUNCTION_NAMES
}


def test_parameter_kinds_cover_every_function():
    # Guards the naming rule above against a renamed parameter.
    for name, params in SIGNATURES.items():
        kinds = [kind for _, kind, _ in params]
        assert kinds.count("array") in (1, 2, 3), name
        assert LENGTH_PARAM[name] in [p for p, kind, _ in params if kind == "array"], name


# --- strategies -------------------------------------------------------------

def f32(x):
    return float(np.float32(x))


SPECIAL_VALUES = [0.0, -0.0, np.nan, np.inf, -np.inf, f32(1e-45), -f32(1e-45), f32(1.1754942e-38),
                  f32(3.4028235e38), -f32(3.4028235e38), f32(1e-30), f32(1e30), 1.0, -1.0]
PRICE = st.floats(0.5, 1000.0, width=32)
ANY_FLOAT = st.one_of(st.integers(-3, 60).map(float), PRICE, st.floats(width=32), st.sampled_from(SPECIAL_VALUES))


def values(length, clean):
    return hnp.arrays(np.float32, length, elements=PRICE if clean else ANY_FLOAT)


class Series(np.ndarray):
    """A subclass is accepted wherever an ndarray is."""


def laid_out(data, vals, layout):
    """An array holding `vals` with the given memory layout."""
    n = len(vals)
    if layout == "contiguous":
        return vals.copy()
    if layout == "reversed":
        return vals[::-1].copy()[::-1]
    if layout == "strided":
        step = data.draw(st.integers(2, 3), label="step")
        buffer = np.full(n * step, -7.5, dtype=np.float32)
        buffer[::step] = vals
        return buffer[::step]
    if layout == "read-only":
        array = vals.copy()
        array.flags.writeable = False
        return array
    if layout == "unaligned":
        raw = bytearray(4 * n + 1)
        array = np.frombuffer(raw, dtype=np.float32, offset=1, count=n)
        array[...] = vals
        return array
    if layout == "subclass":
        return vals.copy().view(Series)
    if layout == "broadcast":  # zero stride: every element is the same memory
        return np.broadcast_to(vals[:1] if n else vals, (n,))
    raise AssertionError(layout)


LAYOUTS = ["contiguous", "contiguous", "reversed", "strided", "read-only", "unaligned", "subclass", "broadcast"]


def draw_array(data, length, clean, label):
    vals = data.draw(values(length, clean), label=label)
    return laid_out(data, vals, data.draw(st.sampled_from(LAYOUTS), label=label + " layout"))


def draw_int(data, name, n):
    if name == "n_values":
        choices = [st.integers(-3, n + 3), st.integers(INT32_MIN, INT32_MAX), st.sampled_from(INT_EXTREMES)]
    else:
        choices = [st.integers(-3, n + 3), st.integers(-3, n + 3), st.integers(1, 8),
                   st.sampled_from(INT_EXTREMES)]
    return data.draw(st.one_of(choices), label=name)


def draw_call(data, name):
    """Keyword arguments for one call of `name`."""
    n = data.draw(st.integers(0, 60), label="n")
    clean = data.draw(st.booleans(), label="clean values")
    reference = LENGTH_PARAM[name]
    ref_array = None
    if not data.draw(st.integers(0, 19), label="reference is None") == 0:
        ref_array = draw_array(data, n, clean, reference)
    kwargs = {}
    for param, kind, optional in SIGNATURES[name]:
        if optional and kind != "array" and data.draw(st.integers(0, 4), label=param + " omitted") == 0:
            continue
        if kind == "int":
            kwargs[param] = draw_int(data, param, n)
        elif kind == "flag":
            kwargs[param] = data.draw(st.booleans(), label=param)
        elif param == reference:
            kwargs[param] = ref_array
        else:
            how = data.draw(st.sampled_from(["same", "same", "same", "none", "other", "alias"]), label=param)
            if how == "none":
                kwargs[param] = None
            elif how == "alias":
                kwargs[param] = ref_array
            else:
                length = n if how == "same" else data.draw(st.integers(0, n + 5), label=param + " length")
                kwargs[param] = draw_array(data, length, clean, param)
    return kwargs


# --- checks -----------------------------------------------------------------

def root_buffer(array):
    base = array
    while isinstance(base, np.ndarray) and base.base is not None:
        base = base.base
    return base


def snapshot(kwargs):
    """Bytes of every array and of the memory it lives in."""
    state = []
    for value in kwargs.values():
        if isinstance(value, np.ndarray):
            root = root_buffer(value)
            state.append((value.tobytes(), bytes(memoryview(root).cast("B")) if root is not value else None))
    return state


def refcounts(kwargs):
    counts = []
    for value in kwargs.values():
        if isinstance(value, np.ndarray):
            counts += [sys.getrefcount(value), sys.getrefcount(root_buffer(value))]
    return counts


def outcome(function, kwargs):
    """(result, exception, warning categories) of one call."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = function(**kwargs)
        except Exception as error:  # noqa: BLE001 - classified by the caller
            return None, error, {w.category for w in caught}
    return result, None, {w.category for w in caught}


def check_error(name, error, kwargs):
    arrays = [v for v in kwargs.values() if isinstance(v, np.ndarray)]
    any_none = len(arrays) < sum(1 for p, kind, _ in SIGNATURES[name] if kind == "array")
    if isinstance(error, IndexError):
        if name == "velk_roc":
            assert NUMPY_INDEX_ERROR.fullmatch(str(error)), str(error)
        else:
            assert str(error) == BUFFER_INDEX_ERROR
    elif isinstance(error, ZeroDivisionError):
        assert name not in NEVER_DIVIDES_BY_ZERO, "unexpected division by zero"
        assert str(error) == "float division"
    elif type(error) is TypeError:
        # len() of None, or numpy arithmetic with None
        assert any_none, str(error)
    elif type(error) is ValueError:
        # The typical price is numpy arithmetic: series of unequal length fail to
        # broadcast, and None with an empty series makes an object array.
        assert name == "velk_cci", str(error)
        if "broadcast" in str(error):
            assert len({len(a) for a in arrays}) > 1
        else:
            assert any_none and str(error).endswith("but got Python object"), str(error)
    else:
        raise AssertionError(f"{type(error).__name__}: {error}")


def contiguous_copies(kwargs):
    copies = {}
    return {k: copies.setdefault(id(v), np.array(v, dtype=np.float32)) if isinstance(v, np.ndarray) else v
            for k, v in kwargs.items()}


def same_outcome(first, second):
    (r1, e1, _), (r2, e2, _) = first, second
    if e1 is not None or e2 is not None:
        return type(e1) is type(e2) and str(e1) == str(e2)
    return r1.shape == r2.shape and r1.tobytes() == r2.tobytes()


@pytest.mark.parametrize("name", FUNCTION_NAMES)
@SETTINGS
@given(data=st.data())
def test_any_input_gives_a_result_or_an_allowed_error(name, data):
    function = getattr(velk_ta_funcs, name)
    kwargs = draw_call(data, name)
    before = snapshot(kwargs)
    # A collection during the call could free an older holder of a buffer and
    # look like a lost reference.
    gc.disable()
    try:
        counts = refcounts(kwargs)
        result, error, categories = outcome(function, kwargs)
        counts_after = refcounts(kwargs)
    finally:
        gc.enable()

    event(type(error).__name__ if error is not None else "result")  # shown by --hypothesis-show-statistics
    assert categories <= {RuntimeWarning}, categories
    assert snapshot(kwargs) == before, "an input was modified"
    assert counts_after == counts, "a reference to an input outlived the call"
    if error is not None:
        check_error(name, error, kwargs)
    else:
        assert type(result) is np.ndarray and result.dtype == np.float32 and result.ndim == 1
        assert len(result) == len(kwargs[LENGTH_PARAM[name]])
        assert sys.getrefcount(result) == 2, "the module kept a reference to its result"
        for value in kwargs.values():
            if isinstance(value, np.ndarray):
                assert not np.shares_memory(result, value)
    # Deterministic, and blind to strides, alignment and subclasses.
    assert same_outcome((result, error, None), outcome(function, kwargs)), "a second call differs"
    assert same_outcome((result, error, None), outcome(function, contiguous_copies(kwargs))), \
        "the result depends on the memory layout"


# --- concurrent calls ---------------------------------------------------------

def test_concurrent_calls_match_sequential_ones():
    # Long series: loops long enough to run without the interpreter lock, and
    # errors raised at the far end of such a loop.
    from concurrent.futures import ThreadPoolExecutor

    from velkized_ta.sample import example_arguments, sample_ohlc

    bars = sample_ohlc(50000)
    calls = []
    for name in FUNCTION_NAMES:
        function = getattr(velk_ta_funcs, name)
        kwargs = example_arguments(function, bars)
        calls.append((function, kwargs))
        if "n_values" in inspect.signature(function).parameters:
            calls.append((function, {**kwargs, "n_values": -5}))
    short = bars["open"][:-1]
    calls += [(velk_ta_funcs.velk_adif, {"input_array_1": bars["close"], "input_array_2": short}),
              (velk_ta_funcs.velk_sma, {"input_array": np.where(np.arange(50000) == 49990, 0, bars["close"])
                                        .astype(np.float32), "timeperiod": 5})]

    def run(call):
        function, kwargs = call
        try:
            return function(**kwargs), None, None
        except Exception as error:  # noqa: BLE001 - compared with the sequential outcome
            return None, error, None

    # Warning filters are process-wide and catch_warnings is not thread-safe: one
    # filter set around all threads, none entered inside them.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        expected = [run(call) for call in calls] * 4
        with ThreadPoolExecutor(max_workers=4) as pool:
            for want, got in zip(expected, pool.map(run, calls * 4)):
                assert same_outcome(want, got)
    assert any(error is not None for _, error, _ in expected) and any(error is None for _, error, _ in expected)
