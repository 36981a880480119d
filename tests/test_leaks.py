"""Thousands of calls, succeeding and failing every way, leave no references or memory behind."""

import gc
import inspect
import os
import resource
import sys
import tracemalloc
import warnings

import numpy as np
import pytest

from velkized_ta import FUNCTION_NAMES, velk_ta_funcs
from velkized_ta.sample import example_arguments, sample_ohlc
from signatures import kind_of

SANITIZE_RUN = os.environ.get("VELK_SANITIZE_RUN") == "1"
CALLS = 500 if SANITIZE_RUN else 1000
BARS = sample_ohlc(60)


def with_zero(series, at=30):
    changed = series.copy()
    changed[at] = 0.0
    return changed


class Boom(Exception):
    pass


class IntRaises:
    def __int__(self):
        raise Boom


class BoolRaises:
    def __bool__(self):
        raise Boom


def index_error(name, bars):
    """Changes to the example call that reach the function's IndexError."""
    n = len(bars["close"])
    if name in ("velk_lin", "velk_ema", "velk_ema2", "velk_ema3", "velk_dema", "velk_tema", "velk_trix",
                "velk_macd"):
        return {"n_values": -5}
    if name == "velk_roc":
        return {"timeperiod": -5}
    if name == "velk_ult":
        return {"long_period": n + 5}
    if name in ("velk_adif", "velk_rdif"):
        return {"input_array_2": bars["open"][:10]}
    return {"timeperiod": n + 5}


def zero_division(name, bars):
    """... and to its ZeroDivisionError, where it has one."""
    if name in ("velk_sma", "velk_mid", "velk_wick"):
        return {{"velk_sma": "input_array", "velk_mid": "close"}.get(name, "close_arr"): with_zero(bars["close"])}
    if name in ("velk_ema", "velk_ema2", "velk_ema3", "velk_dema", "velk_tema", "velk_trix"):
        return {"timeperiod": -1}
    if name == "velk_macd":
        return {"short_period": -1}
    if name == "velk_ult":
        return {"short_period": 1, "medium_period": -1, "long_period": 0}
    if name in ("velk_rsi", "velk_cci", "velk_dx", "velk_adx", "velk_adxr", "velk_natr"):
        return {"timeperiod": 0}
    return None


def paths(name, bars=BARS):
    """(label, kwargs or positional tuple, expected exception or None) for every way a call can end."""
    function = getattr(velk_ta_funcs, name)
    params = inspect.signature(function).parameters
    arrays = [p for p in params if kind_of(p) == "array"]
    ints = [p for p in params if kind_of(p) == "int"]
    flags = [p for p in params if kind_of(p) == "flag"]
    base = example_arguments(function, bars)
    close = bars["close"]
    length_param = next(p for p in ("close", "close_arr", "input0", "input1") if p in params) \
        if name not in ("velk_dx", "velk_adif", "velk_rdif") and len(arrays) > 1 else arrays[0]

    def changed(**updates):
        return {**base, **updates}

    out = [("result", base, None),
           ("IndexError", changed(**index_error(name, bars)), IndexError),
           ("too many positional", tuple(base.get(p, 1) for p in params) + (1,), TypeError),
           ("unexpected keyword", changed(not_a_parameter=1), TypeError),
           ("not an ndarray", changed(**{arrays[-1]: [1.0, 2.0]}), TypeError),
           ("float64 view", changed(**{arrays[-1]: close.astype(np.float64)}), ValueError),
           ("2-d view", changed(**{arrays[0]: close.reshape(2, -1)}), ValueError),
           ("big-endian view", changed(**{arrays[0]: close.astype(">f4")}), ValueError),
           ("len(None)", changed(**{length_param: None}), TypeError),
           ("no integer", changed(**{ints[0]: IntRaises()}), Boom),
           ("integer overflow", changed(**{ints[-1]: 2**40}), OverflowError)]
    if zero_division(name, bars) is not None:
        out.append(("ZeroDivisionError", changed(**zero_division(name, bars)), ZeroDivisionError))
    if flags:
        out.append(("no truth value", changed(**{flags[0]: BoolRaises()}), Boom))
    if name == "velk_ema3":
        out.append(("no truth value (object flag)", changed(input_is_ema1=BoolRaises()), Boom))
    return out


CASES = [(name, label, args, expected) for name in FUNCTION_NAMES for label, args, expected in paths(name)]


def call(function, args, expected):
    try:
        if isinstance(args, tuple):
            function(*args)
        else:
            function(**args)
    except Exception as error:  # noqa: BLE001
        if expected is None or not isinstance(error, expected):
            raise
    else:
        assert expected is None, f"expected {expected.__name__}"


def watched(function, args):
    """The call's own objects, and shared ones a leaked or stolen reference would show on."""
    values = list(args) if isinstance(args, tuple) else list(args.values())
    # Small ints, None and the like are shared by everything.
    values = [v for v in values if v is not None and not isinstance(v, (int, float))]
    own = values + [v.base for v in values if isinstance(v, np.ndarray) and v.base is not None]
    shared = [None, True, False, function, np, np.nan, np.float32, np.int32, np.full, np.zeros, np.isnan,
              np.nanmean, np.sqrt, velk_ta_funcs.velk_ema, velk_ta_funcs.velk_dx, velk_ta_funcs.velk_adx]
    return own, shared


@pytest.fixture(scope="module", autouse=True)
def numpy_caches_filled():
    # numpy keeps about a thousand small blocks from nanmean's reductions in
    # rotation; under the address sanitizer the set fills slowly, so fill it first.
    for _ in range(3000):
        np.nanmean(np.zeros(14, np.float32))


@pytest.mark.parametrize("name, label, args, expected", CASES, ids=[f"{c[0]}-{c[1]}" for c in CASES])
def test_repeated_calls_leave_counts_and_memory_flat(name, label, args, expected):
    function = getattr(velk_ta_funcs, name)
    own, shared = watched(function, args)
    rounds, per_round = 5, CALLS // 5

    def grown_by_a_round():
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(per_round):
            call(function, args, expected)
        return tracemalloc.get_traced_memory()[0] - before

    # No collection inside the window: a call must not even leave cycles behind.
    # Warnings (numpy's empty-slice mean) would be kept by the test runner.
    gc.disable()
    tracemalloc.start()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            # Caches and freelists (numpy's among them) fill first; under the
            # address sanitizer that takes a thousand calls or more.
            for _ in range(40):
                if grown_by_a_round() < per_round * 8:
                    break
            own_counts = [sys.getrefcount(o) for o in own]
            shared_counts = [sys.getrefcount(o) for o in shared]
            growth = [grown_by_a_round() for _ in range(rounds)]
            own_changes = [after - before for after, before in zip([sys.getrefcount(o) for o in own], own_counts)]
            changes = [after - before for after, before in zip([sys.getrefcount(o) for o in shared], shared_counts)]
    finally:
        tracemalloc.stop()
        gc.enable()
    assert not any(own_changes), own_changes
    # numpy's caches may hold one more or one less reference to None and the like.
    assert all(abs(change) < per_round for change in changes), list(zip(shared, changes))
    # numpy's small-buffer caches come and go; a leak grows every round, and
    # the smallest object it could leak costs 16 bytes a call.
    assert min(growth) < per_round * 8, f"memory grew by {growth} bytes in rounds of {per_round} calls"


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


@pytest.mark.skipif(SANITIZE_RUN, reason="the address sanitizer's quarantine grows the process by design")
@pytest.mark.filterwarnings("ignore:Mean of empty slice:RuntimeWarning")
def test_resident_memory_stays_flat_over_every_path():
    big = sample_ohlc(20000)  # large outputs make a leaked result visible in the RSS at once
    runs = [(getattr(velk_ta_funcs, name), args, expected)
            for name in FUNCTION_NAMES for _, args, expected in paths(name, big)]

    def run_all(times):
        for function, args, expected in runs:
            for _ in range(times):
                call(function, args, expected)

    run_all(3)
    gc.collect()
    before = rss_bytes()
    run_all(30)
    gc.collect()
    grown = rss_bytes() - before
    # A result of 20000 float32 kept per call would be 80 kB each, over 500 MB in all.
    assert grown < 16 << 20, f"resident memory grew by {grown >> 20} MB"

