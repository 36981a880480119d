"""Composites carry their stages in one native pass while their sibling is the module's own
function. Rebinding the sibling to a thin wrapper of the original forces the stage-by-stage
calls; both must give the same bits, or the same exception with the same traceback entries,
and the same warnings, for every flag combination and every edge of the arguments."""

import itertools
import traceback
import warnings

import numpy as np
import pytest

import velkized_ta
from velkized_ta import velk_ta_funcs
from velkized_ta.sample import example_arguments, sample_ohlc

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

INT32_MAX = 2**31 - 1


class NumpyProxy:
    """Not numpy's module object: every allocation goes through np.full at Python level."""

    def __getattr__(self, attr):
        return getattr(np, attr)


def outcome(function, args, kwargs):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = function(*args, **kwargs)
        except Exception as error:  # noqa: BLE001 - the exception is what is compared
            entries = [(frame.name, frame.lineno) for frame in traceback.extract_tb(error.__traceback__)
                       if frame.filename == "velkized_ta/velk_ta_funcs"]
            found = ("raises", type(error), str(error), entries)
        else:
            found = ("returns", result.dtype, result.tobytes())
    return found, [(w.category, str(w.message)) for w in caught]


def both_ways(module, sibling, function, args, kwargs):
    one_pass = outcome(function, args, kwargs)
    original = getattr(module, sibling)
    setattr(module, sibling, lambda *a, **k: original(*a, **k))
    try:
        through_calls = outcome(function, args, kwargs)
    finally:
        setattr(module, sibling, original)
    return one_pass, through_calls


def prices(n, kind, seed=0):
    rng = np.random.default_rng(seed + 31 * n)
    x = (100 * np.exp(np.cumsum(rng.normal(0, 0.02, n)))).astype(np.float32)
    if kind == "leading nan":
        x[: n // 3] = np.nan
    elif kind == "nan run":
        x[n // 2: n // 2 + 3] = np.nan
    elif kind == "all nan":
        x[:] = np.nan
    elif kind == "zero late":
        x[n - 1:] = 0.0
    elif kind == "zero first":
        x[:1] = -0.0
    elif kind == "infinite":
        x[n // 2: n // 2 + 1] = np.inf
    elif kind == "strided":
        x = np.repeat(x, 2)[::2]
    return x


KINDS = ["plain", "leading nan", "nan run", "all nan", "zero late", "zero first", "infinite", "strided"]
LENGTHS = [0, 1, 2, 9, 40]
PERIODS = [-2, -1, 0, 1, 3, 12]


def n_values_for(n):
    return sorted({-2, -1, 0, 1, 3, max(n - 1, 0), n, 999999999, INT32_MAX})


def stage(x, period, level):
    """A handed-in stage as its flag expects it, computed from the prices where it can be."""
    series = x
    try:
        for k in range(level):
            series = velk_ta_funcs.velk_ema(series, period, normalize=(k == 0))
    except (ZeroDivisionError, IndexError):
        series = np.linspace(-1, 1, len(x), dtype=np.float32)
    return series


def flagged_calls(name, x, period, n_values, flags):
    """Positional and keyword arguments of one call of `name` with these flags set."""
    if name == "velk_ema2":
        (e1,) = flags
        return (stage(x, period, 1) if e1 else x, period), {"input_is_ema1": e1, "n_values": n_values}
    if name == "velk_ema3":
        e2, e1 = flags
        source = stage(x, period, 2) if e2 else stage(x, period, 1) if e1 else x
        return (source, period), {"input_is_ema2": e2, "input_is_ema1": e1, "n_values": n_values}
    if name == "velk_dema":
        e1, e2 = flags
        return ((stage(x, period, 1) if e1 else x, stage(x, period, 2) if e2 else None, period, e1, e2, n_values),
                {})
    if name == "velk_tema":
        e3, e2, e1 = flags
        return ((stage(x, period, 1) if e1 else x, stage(x, period, 2) if e2 else None,
                 stage(x, period, 3) if e3 else None, period, e3, e2, e1, n_values), {})
    if name == "velk_trix":
        e3, e2, e1 = flags
        source = stage(x, period, 3) if e3 else stage(x, period, 2) if e2 else stage(x, period, 1) if e1 else x
        return (source, period, e3, e2, e1, n_values), {}
    assert name == "velk_macd"
    fast, slow = flags
    short_period, long_period = period, 2 * period + 1
    return ((x, stage(x, short_period, 1) if fast else None, stage(x, long_period, 1) if slow else None,
             short_period, long_period, fast, slow, n_values), {})


FLAG_COUNTS = {"velk_ema2": 1, "velk_ema3": 2, "velk_dema": 2, "velk_tema": 3, "velk_trix": 3, "velk_macd": 2}
COMPOSITES = [(name, flags) for name, count in FLAG_COUNTS.items()
              for flags in itertools.product([False, True], repeat=count)]


@pytest.mark.parametrize("name, flags", COMPOSITES)
def test_ema_composites_match_their_stage_calls(restore_module_globals, name, flags):
    function = getattr(velk_ta_funcs, name)
    checked = raised = 0
    for n, kind, period in itertools.product(LENGTHS, KINDS, PERIODS):
        if n < 3 and kind != "plain":
            continue
        x = prices(n, kind)
        for n_values in n_values_for(n):
            args, kwargs = flagged_calls(name, x, period, n_values, flags)
            one_pass, through_calls = both_ways(restore_module_globals, "velk_ema", function, args, kwargs)
            assert one_pass == through_calls, (n, kind, period, n_values)
            checked += 1
            raised += one_pass[0][0] == "raises"
    assert raised < checked


@pytest.mark.parametrize("name", ["velk_dema", "velk_tema", "velk_macd"])
def test_handed_in_stages_of_other_lengths(restore_module_globals, name):
    function = getattr(velk_ta_funcs, name)
    x = prices(30, "plain")
    for length in [0, 29, 30, 31]:
        other = np.linspace(-1, 1, length, dtype=np.float32)
        for n_values in [0, 5, 999999999]:
            if name == "velk_macd":
                args = (x, other, None, 3, 5, True, False, n_values)
            elif name == "velk_dema":
                args = (other, other, 4, True, False, n_values)
            else:
                args = (x, other, other, 4, False, True, False, n_values)
            one_pass, through_calls = both_ways(restore_module_globals, "velk_ema", function, args, {})
            assert one_pass == through_calls, (length, n_values)


def test_rebound_numpy_takes_the_stage_calls(restore_module_globals):
    calls = []

    class Spy:
        def __getattr__(self, attr):
            if attr == "full":
                calls.append(attr)
            return getattr(np, attr)

    restore_module_globals.np = Spy()
    velk_ta_funcs.velk_tema(prices(20, "plain"), timeperiod=3)
    assert calls == ["full"] * 4


def bars(n, kind, seed=0):
    rng = np.random.default_rng(seed + 7 * n)
    close = prices(n, "plain", seed)
    high = close * (1 + rng.uniform(0, 0.03, n)).astype(np.float32)
    low = close * (1 - rng.uniform(0, 0.03, n)).astype(np.float32)
    if kind == "flat start":
        high[:6] = low[:6] = close[:6] = 5.0
    elif kind == "flat end":
        high[-4:] = low[-4:] = close[-4:] = 5.0
    elif kind == "nan run":
        high[n // 2: n // 2 + 2] = np.nan
    elif kind == "nan seed window":
        high[:] = np.nan
    elif kind == "short high":
        high = high[:-1]
    elif kind == "strided":
        high = np.repeat(high, 2)[::2]
    return high, low, close


@pytest.mark.parametrize("name, sibling", [("velk_adx", "velk_dx"), ("velk_adxr", "velk_adx"),
                                           ("velk_adxr", "velk_dx")])
@pytest.mark.parametrize("kind", ["plain", "flat start", "flat end", "nan run", "nan seed window", "short high",
                                  "strided"])
def test_directional_composites_match_their_calls(restore_module_globals, name, sibling, kind):
    function = getattr(velk_ta_funcs, name)
    for n in [0, 1, 2, 5, 12, 60]:
        if n < 8 and kind != "plain":
            continue
        high, low, close = bars(n, kind)
        for period in [-1, 0, 1, 2, 3, 5, 29, 30, 31, 59, 60, 61]:
            for n_values in [-3, 0, 1, 7, n - 2 * period, 999999999, INT32_MAX]:
                args = (high, low, close, period, n_values)
                one_pass, through_calls = both_ways(restore_module_globals, sibling, function, args, {})
                assert one_pass == through_calls, (n, period, n_values)


def test_directional_subclass_inputs_take_the_calls(restore_module_globals):
    class Tracked(np.ndarray):
        lengths = 0

        def __len__(self):
            Tracked.lengths += 1
            return super().__len__()

    high, low, close = (a.view(Tracked) for a in bars(40, "plain"))
    velk_ta_funcs.velk_adxr(high, low, close, 4)
    assert Tracked.lengths == 3  # velk_adxr, velk_adx and velk_dx each take it


@pytest.mark.parametrize("name", velkized_ta.FUNCTION_NAMES)
@pytest.mark.parametrize("n_values", [0, 5, 999999999])
def test_outputs_are_nan_where_nothing_is_written(restore_module_globals, name, n_values):
    """Outputs come unfilled from numpy's allocator; what was there before must not show through."""
    function = getattr(velk_ta_funcs, name)
    kwargs = example_arguments(function, sample_ohlc(64), 6)
    kwargs["n_values"] = n_values

    def poisoned_call():
        for _ in range(4):
            junk = np.full(64, 7.0, dtype=np.float32)
            del junk
        return outcome(function, (), kwargs)

    direct = poisoned_call()
    restore_module_globals.np = NumpyProxy()
    assert direct == poisoned_call()
