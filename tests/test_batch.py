"""velkized_ta.batch: each series of a many-series call is the exact function's result on it alone."""

import sys
import zlib
import warnings

import numpy as np
import pytest

from velkized_ta import FUNCTION_NAMES, batch, velk_ta_funcs
from velkized_ta._signatures import parameters, series_names

# Failing series are expected in these cases; tests that count the warning record it themselves.
pytestmark = [pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning"), pytest.mark.every_dispatch]

REQUIRED = object()


def random_walks(rng, length, count):
    steps = rng.normal(0.0, 1.0, (length, count)).astype(np.float32)
    walks = (100 + np.cumsum(steps, axis=0)).astype(np.float32)
    walks[rng.random((length, count)) < 0.05] = np.nan  # scattered NaN
    if length > 8:
        walks[3:6, 0] = np.nan  # a NaN run
        walks[:, -1] = walks[0, -1]  # a flat series
    return walks


def random_scalars(rng, function):
    """Scalar arguments of a plausible call: small periods, some n_values, every flag."""
    scalars = {}
    for name, kind, _ in parameters(function):
        if kind == "int" and name != "n_values":
            scalars[name] = int(rng.integers(1, 7))
        elif name == "n_values" and rng.random() < 0.5:
            scalars[name] = int(rng.choice([0, 1, 3, -2, 50]))
        elif kind == "flag":
            scalars[name] = bool(rng.random() < 0.5)
    if function in ("velk_macd", "velk_ult"):
        periods = sorted(rng.choice(np.arange(2, 12), 3, replace=False))
        scalars.update(short_period=int(periods[0]), long_period=int(periods[-1]))
        if function == "velk_ult":
            scalars["medium_period"] = int(periods[1])
    return scalars


def series_arguments(rng, function, make):
    """One array per series parameter; optional stage inputs are sometimes left out."""
    arrays = {}
    for name, kind, default in parameters(function):
        if kind == "series" and (default is not None or rng.random() < 0.6):
            arrays[name] = make()
    if not arrays:
        arrays[next(name for name, kind, _ in parameters(function) if kind == "series")] = make()
    return arrays


def exact_or_nan(function, arrays, scalars, length):
    try:
        return getattr(velk_ta_funcs, function)(**arrays, **scalars)
    except Exception:  # noqa: BLE001 - the batch call with errors="nan" gives NaN there
        return np.full(length, np.nan, dtype=np.float32)


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(a.view(np.uint32), b.view(np.uint32))


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", FUNCTION_NAMES)
@pytest.mark.parametrize("layout", ["columns", "rows", "segments"])
def test_every_series_equals_the_exact_function(function, layout):
    rng = np.random.default_rng(zlib.crc32(f"{function} {layout}".encode()))
    for _ in range(4):
        scalars = random_scalars(rng, function)
        if layout == "segments":
            lengths = rng.choice([0, 1, 2, 7, 30, 61], size=5)
            offsets = np.concatenate(([0], np.cumsum(lengths)))
            arrays = series_arguments(rng, function, lambda: random_walks(rng, int(offsets[-1]), 1)[:, 0].copy())
            result = getattr(batch, function)(**arrays, **scalars, offsets=offsets, errors="nan")
            pieces = [(slice(a, b), {k: v[a:b].copy() for k, v in arrays.items()}) for a, b in
                      zip(offsets[:-1], offsets[1:])]
        else:
            length, count = int(rng.integers(1, 60)), int(rng.integers(1, 5))
            axis = 0 if layout == "columns" else 1
            arrays = series_arguments(rng, function, lambda: random_walks(rng, length, count))
            if axis == 1:  # rows of a transposed, hence strided, array
                arrays = {k: v.T for k, v in arrays.items()}
            result = getattr(batch, function)(**arrays, **scalars, axis=axis, errors="nan")
            pieces = [((slice(None), j) if axis == 0 else (j, slice(None)),
                       {k: np.ascontiguousarray(v[:, j] if axis == 0 else v[j]) for k, v in arrays.items()})
                      for j in range(count)]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for where, alone in pieces:
                length = len(next(iter(alone.values())))
                assert same_bits(result[where], exact_or_nan(function, alone, scalars, length)), (scalars, where)


def assert_same_error_in_series(raised, alone, index):
    """The exact function's message, with the series index as a note (in the message before 3.11)."""
    if sys.version_info >= (3, 11):
        assert str(raised) == str(alone) and f"(in series {index})" in raised.__notes__
    else:
        assert str(raised) == f"{alone} (in series {index})"


def test_errors_raise_names_the_first_failing_series():
    closes = random_walks(np.random.default_rng(1), 40, 4)
    closes[:, 2] = np.nan
    closes[:, 3] = 5.0
    with pytest.raises(ZeroDivisionError) as caught:
        batch.velk_adx(closes, closes, closes, 3)
    alone = None
    try:
        velk_ta_funcs.velk_adx(np.ascontiguousarray(closes[:, 3]), closes[:, 3].copy(), closes[:, 3].copy(), 3)
    except ZeroDivisionError as error:
        alone = error
    assert_same_error_in_series(caught.value, alone, 3)


def test_errors_nan_warns_once_with_the_count():
    closes = np.nan_to_num(random_walks(np.random.default_rng(2), 40, 6), nan=100.0)
    closes[:, [1, 4]] = 7.0  # flat, like the last column: no true range to divide by
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = batch.velk_adx(closes, closes, closes, 3, errors="nan")
    batch_warnings = [w for w in caught if issubclass(w.category, batch.BatchWarning)]
    assert len(batch_warnings) == 1 and "3 of 6 series failed" in str(batch_warnings[0].message)
    assert np.isnan(result[:, [1, 4, 5]]).all() and not np.isnan(result[:, 0]).all()


X2 = np.ones((10, 3), dtype=np.float32)
X1 = np.ones(10, dtype=np.float32)


@pytest.mark.parametrize("call, error, text", [
    (lambda: batch.velk_rsi(X2.astype(np.float64), 3), TypeError, "argument 'close' must be float32, got float64"),
    (lambda: batch.velk_rsi(X2.tolist(), 3), TypeError, "argument 'close' must be a numpy array"),
    (lambda: batch.velk_rsi(X1, 3), ValueError, "must be a 2-D array"),
    (lambda: batch.velk_rsi(X2, 3, offsets=[0, 10]), ValueError, "must be a 1-D array with offsets"),
    (lambda: batch.velk_rsi(X1, 3, offsets=[0, 6, 4, 10]), ValueError, "'offsets' must be ascending"),
    (lambda: batch.velk_rsi(X1, 3, offsets=[0, 6]), ValueError, "end with the series' total length 10"),
    (lambda: batch.velk_rsi(X1, 3, offsets=[1, 10]), ValueError, "'offsets' must start with 0"),
    (lambda: batch.velk_rsi(X1, 3, offsets=[0.0, 10.0]), TypeError, "'offsets' must be a 1-D integer array"),
    (lambda: batch.velk_willr(X2, X2, X2[:5], 3), ValueError, "'close_arr' has shape (5, 3), but 'high_arr'"),
    (lambda: batch.velk_dema(X2, X2[:, :2], timeperiod=3), ValueError, "'input2' has shape (10, 2)"),
    (lambda: batch.velk_rsi(X2), TypeError, "missing required argument 'timeperiod'"),
    (lambda: batch.velk_rsi(X2, 3, period=3), TypeError, "unexpected keyword argument 'period'"),
    (lambda: batch.velk_rsi(X2, 3, errors="ignore"), ValueError, "'errors' must be 'raise' or 'nan'"),
    (lambda: batch.velk_rsi(X2, 3, axis=2), ValueError, "'axis' must be 0 or 1"),
    (lambda: batch.velk_rsi(X2, 3, threads=0), ValueError, "'threads' must be a positive integer"),
])
def test_bad_arguments_are_named(call, error, text):
    with pytest.raises(error) as caught:
        call()
    assert text in str(caught.value) and "batch.velk_" in str(caught.value)


@pytest.mark.parametrize("function, layout", [
    ("velk_rsi", "columns"), ("velk_adx", "rows"), ("velk_willr", "segments"), ("velk_tema", "columns")])
def test_thread_count_does_not_change_the_bits(function, layout):
    closes = random_walks(np.random.default_rng(3), 3000, 48)  # enough work for several threads
    arrays = {name: closes for name in series_names(function)}
    options = {"axis": 1 if layout == "rows" else 0}
    if layout == "rows":
        arrays = {name: value.T for name, value in arrays.items()}
    elif layout == "segments":
        arrays = {name: value.T.ravel() for name, value in arrays.items()}
        options = {"offsets": np.arange(49) * 3000}
    call = getattr(batch, function)
    one = call(**arrays, timeperiod=14, threads=1, errors="nan", **options)
    assert same_bits(one, call(**arrays, timeperiod=14, threads=4, errors="nan", **options))
    alone = getattr(velk_ta_funcs, function)(**{name: np.ascontiguousarray(closes[:, 7]) for name in arrays},
                                             timeperiod=14)
    seventh = one[7] if layout == "rows" else one[7 * 3000:8 * 3000] if layout == "segments" else one[:, 7]
    assert same_bits(seventh, alone)


# Series read only under a flag (a handle's bar leaves out the others); DX- or ADX-fed handles
# take high and low, ignored, as zeros when they are not given.
READ_UNDER = {"input2": "input2_is_ema2", "input3": "input3_is_ema3"}
MACD_READ_UNDER = {"input1": "input1_is_fast_ema", "input2": "input2_is_slow_ema"}


def bar_series(function, arrays, scalars, length):
    names = [name for name, kind, _ in parameters(function) if kind == "series"]
    under = MACD_READ_UNDER if function == "velk_macd" else READ_UNDER if function in ("velk_dema", "velk_tema") else {}
    names = [name for name in names if name not in under or scalars.get(under[name])]
    return [arrays.get(name, np.zeros(length, dtype=np.float32)) for name in names]


def live_reference(function, arrays, scalars):
    """What one series gives through a stream handle from an empty history, NaN where it raises."""
    from velkized_ta import stream

    params = {k: v for k, v in scalars.items() if k != "n_values"}
    length = len(next(iter(arrays.values())))
    keep = int(scalars.get("n_values", length))
    try:
        if keep < 0:  # no live values for a negative window: the exact function's
            return getattr(velk_ta_funcs, function)(**arrays, **scalars)
        handle = getattr(stream, function)(**{k: v[:0] for k, v in arrays.items()}, **params)
        values = handle.update_many(*bar_series(function, arrays, scalars, length))
    except Exception:  # noqa: BLE001 - the batch call with errors="nan" gives NaN there
        return np.full(length, np.nan, dtype=np.float32)
    values[:max(length - keep, 0)] = np.nan  # the exact call's trailing window
    return values


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", FUNCTION_NAMES)
@pytest.mark.parametrize("layout", ["columns", "rows", "segments"])
def test_live_series_equal_their_handles_for_any_thread_count(function, layout):
    rng = np.random.default_rng(zlib.crc32(f"live {function} {layout}".encode()))
    for _ in range(3):
        scalars = random_scalars(rng, function)
        if layout == "segments":
            lengths = rng.choice([0, 1, 7, 30, 200], size=6)
            offsets = np.concatenate(([0], np.cumsum(lengths)))
            arrays = series_arguments(rng, function, lambda: random_walks(rng, int(offsets[-1]), 1)[:, 0].copy())
            pieces = [(slice(a, b), {k: v[a:b].copy() for k, v in arrays.items()})
                      for a, b in zip(offsets[:-1], offsets[1:])]
            extra = {"offsets": offsets}
        else:
            arrays = series_arguments(rng, function, lambda: random_walks(rng, 150, 6))
            pieces = [((slice(None), j), {k: np.ascontiguousarray(v[:, j]) for k, v in arrays.items()})
                      for j in range(6)]
            extra = {}
            if layout == "rows":  # one series per row of the transposed tables
                arrays = {k: v.T for k, v in arrays.items()}
                pieces = [((j, slice(None)), alone) for (_, j), alone in pieces]
                extra = {"axis": 1}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            one, four = (getattr(batch, function)(**arrays, **scalars, **extra, live=True, errors="nan", threads=t)
                         for t in (1, 4))
            assert same_bits(one, four)
            for where, alone in pieces:
                assert same_bits(one[where], live_reference(function, alone, scalars)), (scalars, where)


def test_live_series_needing_python_warn_and_raise_in_series_order():
    closes = np.nan_to_num(random_walks(np.random.default_rng(5), 60, 5), nan=100.0)  # the last one is flat
    closes[:, 1] = np.nan  # no DX to seed from: numpy warns "Mean of empty slice"
    closes[:, 3] = 7.0  # flat too: no true range to divide by
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = batch.velk_adx(closes, closes, closes, 4, live=True, errors="nan", threads=2)
    messages = [str(w.message) for w in caught]
    assert any("Mean of empty slice" in m for m in messages)
    assert any("2 of 5 series failed" in m and "series 3, 4;" in m for m in messages)
    assert np.isnan(result[:, [1, 3, 4]]).all() and not np.isnan(result[:, 0]).all()
    with pytest.raises(ZeroDivisionError) as raised:
        batch.velk_adx(closes[:, 2:], closes[:, 2:], closes[:, 2:], 4, live=True, threads=2)
    assert any("series 1" in text for text in getattr(raised.value, "__notes__", ["series 1"]))


class Counting:
    """Stands in for a module attribute, counting the calls the exact functions make to it."""

    def __init__(self, target):
        self.target, self.calls = target, 0

    def __call__(self, *args, **kwargs):
        self.calls += 1
        return self.target(*args, **kwargs)


@pytest.mark.parametrize("function, rebound", [
    ("velk_dema", "velk_ema"), ("velk_adx", "velk_dx"), ("velk_adxr", "velk_dx"), ("velk_rsi", "np")])
def test_rebound_siblings_and_np_are_called_for_every_series(monkeypatch, function, rebound):
    closes = random_walks(np.random.default_rng(5), 60, 4)
    if rebound == "np":
        counting = Counting(np.full)
        stand_in = type(sys)("np_stand_in")
        stand_in.__dict__.update({name: getattr(np, name) for name in dir(np) if not name.startswith("__")})
        stand_in.full = counting
    else:
        counting = Counting(getattr(velk_ta_funcs, "velk_sma" if rebound == "velk_ema" else rebound))
        stand_in = counting
    monkeypatch.setattr(velk_ta_funcs, rebound, stand_in)
    arrays = {name: closes for name in series_names(function)}
    result = getattr(batch, function)(**arrays, timeperiod=3, errors="nan")
    assert counting.calls >= closes.shape[1]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for j in range(closes.shape[1]):
            alone = {name: np.ascontiguousarray(closes[:, j]) for name in arrays}
            assert same_bits(result[:, j], exact_or_nan(function, alone, {"timeperiod": 3}, len(closes)))


def test_first_failing_series_in_order_raises_its_own_error():
    closes = np.nan_to_num(random_walks(np.random.default_rng(6), 40, 7), nan=100.0)
    closes[:, 2] = 5.0  # flat: DX divides by a zero range
    closes[:, 4] = np.nan  # no value to seed the average: numpy's warning, then NaN
    closes[:, 5] = 5.0
    with pytest.raises(ZeroDivisionError) as caught:
        batch.velk_adx(closes, closes, closes, 3, threads=2)
    with pytest.raises(ZeroDivisionError) as alone:
        velk_ta_funcs.velk_adx(*[np.ascontiguousarray(closes[:, 2])] * 3, 3)
    assert_same_error_in_series(caught.value, alone.value, 2)


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning", "ignore::RuntimeWarning")
@pytest.mark.parametrize("function", FUNCTION_NAMES)
def test_inputs_are_left_untouched(function):
    rng = np.random.default_rng(zlib.crc32(function.encode()))
    arrays = series_arguments(rng, function, lambda: random_walks(rng, 50, 3).T)  # rows, strided
    before = {name: value.copy() for name, value in arrays.items()}
    getattr(batch, function)(**arrays, **random_scalars(rng, function), axis=1, errors="nan")
    assert all(same_bits(arrays[name], before[name]) for name in arrays)


def strided(values):
    """`values` as every other element of a larger array whose other elements are -7."""
    wide = np.full(2 * len(values), -7.0, dtype=np.float32)
    wide[::2] = values
    return wide[::2]


@pytest.mark.parametrize("function", FUNCTION_NAMES)
def test_strided_segments_equal_the_exact_function(function):
    """1-D series with offsets read through a stride give what each contiguous segment gives alone."""
    rng = np.random.default_rng(zlib.crc32(f"{function} strided".encode()))
    offsets = np.concatenate(([0], np.cumsum([0, 1, 9, 40, 61])))
    for _ in range(3):
        scalars = random_scalars(rng, function)
        arrays = series_arguments(rng, function, lambda: strided(random_walks(rng, int(offsets[-1]), 1)[:, 0]))
        result = getattr(batch, function)(**arrays, **scalars, offsets=offsets, errors="nan")
        for start, end in zip(offsets[:-1], offsets[1:]):
            alone = {name: np.ascontiguousarray(value[start:end]) for name, value in arrays.items()}
            assert same_bits(result[start:end], exact_or_nan(function, alone, scalars, end - start)), (scalars, start)


@pytest.mark.parametrize("failures", [("flat", "short"), ("short", "flat")])
def test_errors_nan_warning_names_the_first_failing_series(failures):
    """Failures of different types: the warning quotes the first failing series' error, in series order."""
    walk = np.nan_to_num(random_walks(np.random.default_rng(3), 30, 2)[:, 0], nan=100.0)
    segments = {"flat": np.full(30, 5.0, dtype=np.float32), "short": walk[:2], "walk": walk}
    pieces = [segments[name] for name in ("walk",) + failures + ("walk",)]
    offsets = np.concatenate(([0], np.cumsum([len(p) for p in pieces])))
    prices = np.concatenate(pieces)
    expected = []
    for piece in pieces:
        try:
            velk_ta_funcs.velk_dx(piece, piece, piece, 3)
        except Exception as error:  # noqa: BLE001 - collected to compare with the warning
            expected.append(error)
    assert [type(e) for e in expected] == [ZeroDivisionError if f == "flat" else IndexError for f in failures]
    with pytest.warns(batch.BatchWarning) as caught:
        batch.velk_dx(prices, prices, prices, 3, offsets=offsets, errors="nan")
    (message,) = [str(w.message) for w in caught if issubclass(w.category, batch.BatchWarning)]
    assert message.endswith(f"(series 1, 2; first error: {type(expected[0]).__name__}: {expected[0]})"), message


@pytest.mark.parametrize("function", FUNCTION_NAMES)
def test_well_behaved_series_stay_on_the_native_path(monkeypatch, function):
    """No function hands plain series back to the exact function (a body missing from the native
    route would still give the right values, only at Python's pace)."""
    outcomes = []
    native = batch._run_native
    monkeypatch.setattr(batch, "_run_native", lambda *args: outcomes.append(native(*args)) or outcomes[-1])
    rng = np.random.default_rng(zlib.crc32(function.encode()))
    walks = (100 + np.cumsum(rng.normal(0.0, 1.0, (90, 3)), axis=0)).astype(np.float32)
    arrays = {name: walks for name in series_names(function)}  # stage inputs unflagged: unread
    scalars = {name: 5 for name, kind, _ in parameters(function) if kind == "int" and name != "n_values"}
    scalars.update({"velk_macd": {"short_period": 3, "long_period": 8},
                    "velk_ult": {"short_period": 3, "medium_period": 5, "long_period": 8}}.get(function, {}))
    result = getattr(batch, function)(**arrays, **scalars, threads=2)
    assert outcomes == [[]]
    for j in range(walks.shape[1]):
        alone = {name: np.ascontiguousarray(walks[:, j]) for name in arrays}
        assert same_bits(result[:, j], getattr(velk_ta_funcs, function)(**alone, **scalars))


def test_cci_series_needing_numpys_root_warn_or_raise_as_the_exact_function():
    rng = np.random.default_rng(8)
    calm = 100 + np.cumsum(rng.normal(0.0, 1.0, 200))
    level = 3e4 + rng.normal(0.0, 0.01, 200)  # float32 rounding takes some variances below zero
    closes = np.stack([calm, level, calm, level], axis=1).astype(np.float32)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = batch.velk_cci(closes, closes, closes, 14, threads=2)
    assert [str(w.message) for w in caught] == ["invalid value encountered in sqrt"] * 2
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for j in range(closes.shape[1]):
            alone = [np.ascontiguousarray(closes[:, j])] * 3
            assert same_bits(result[:, j], velk_ta_funcs.velk_cci(*alone, 14))
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
        batch.velk_cci(closes, closes, closes, 14)
def wide_walks(rng, length, count):
    """Columns of a wide table as they come: listed at different bars (a leading NaN run of its own
    length), gaps, a flat series, a zero price, a series without any price and one whose every
    price (high, low and close alike) is 5, which has no range."""
    walks = random_walks(rng, length, count)
    for j in range(count):
        walks[:int(rng.integers(0, max(length // 3, 1))), j] = np.nan
    if count > 4:
        walks[length // 2:, 1] = 0.0
        walks[:, 2] = np.nan
        walks[:, 3] = 5.0
    return walks


def table_in_layout(values, layout):
    """The same (bars, series) values as a row-major table, every other column of a wider one, or
    column-major."""
    if layout == "strided":
        wider = np.full((values.shape[0], 2 * values.shape[1]), -1.0, dtype=np.float32)
        wider[:, ::2] = values
        return wider[:, ::2]
    return np.asfortranarray(values) if layout == "fortran" else np.ascontiguousarray(values)


@pytest.mark.parametrize("layout", ["row-major", "strided", "fortran", "reversed"])
def test_columns_left_to_the_exact_function_go_out_and_back_as_numpy_indexes_them(layout):
    # The columns a call hands to the exact function are taken from each table and their values
    # put back natively, in tiles and blocks of columns: more than one block (70 > 64 columns),
    # a row count that is no multiple of the tile, any strides.
    from velkized_ta import _many

    rng = np.random.default_rng(zlib.crc32(layout.encode()))
    def in_layout(values):
        return np.ascontiguousarray(values[::-1, ::-1])[::-1, ::-1] if layout == "reversed" else table_in_layout(
            values, layout)

    table = in_layout(rng.normal(size=(37, 150)).astype(np.float32))
    columns = np.sort(rng.choice(150, 70, replace=False)).astype(np.int64)
    taken = np.empty((70, 37), dtype=np.float32)
    _many.take_columns(table, columns, taken)
    assert np.array_equal(taken, table[:, columns].T)
    out = in_layout(np.zeros((37, 150), dtype=np.float32))
    _many.put_columns(out, columns, taken)
    expected = np.zeros((37, 150), dtype=np.float32)
    expected[:, columns] = taken.T
    assert np.array_equal(out, expected)
    with pytest.raises(IndexError):
        _many.take_columns(table, np.array([150], dtype=np.int64), taken[:1])


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", FUNCTION_NAMES)
@pytest.mark.parametrize("width", [1, 7, 9, 17])
@pytest.mark.parametrize("layout", ["row-major", "strided", "fortran"])
def test_columns_of_a_wide_table_equal_the_exact_function(function, width, layout):
    # Widths around the lane counts (4, 8, 16): full vectors, tails and single columns.
    rng = np.random.default_rng(zlib.crc32(f"{function} {width} {layout}".encode()))
    for _ in range(3):
        length = int(rng.integers(1, 90))
        scalars = random_scalars(rng, function)
        arrays = series_arguments(rng, function, lambda: table_in_layout(wide_walks(rng, length, width), layout))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = getattr(batch, function)(**arrays, **scalars, errors="nan")
        reported = [str(w.message) for w in caught if issubclass(w.category, batch.BatchWarning)]
        raising = 0
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for j in range(width):
                alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
                assert same_bits(result[:, j], exact_or_nan(function, alone, scalars, length)), (scalars, j)
                try:
                    getattr(velk_ta_funcs, function)(**alone, **scalars)
                except Exception:  # noqa: BLE001 - any error the exact function raises
                    raising += 1
        # As many series are reported failed as raise alone.
        assert len(reported) == (1 if raising else 0), (reported, raising)
        assert all(f"(): {raising} of {width} series failed" in message for message in reported), reported


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", FUNCTION_NAMES)
@pytest.mark.parametrize("width", [1, 7, 9, 17])
@pytest.mark.parametrize("layout", ["row-major", "strided", "fortran"])
def test_live_columns_of_a_wide_table_equal_their_handles(function, width, layout):
    # The columns the lanes compute and those they leave to the live route (a zero divisor, a
    # NaN in a window, a series without a price) come back as each series' own handle gives them.
    rng = np.random.default_rng(zlib.crc32(f"live {function} {width} {layout}".encode()))
    for _ in range(3):
        length = int(rng.integers(1, 90))
        scalars = random_scalars(rng, function)
        arrays = series_arguments(rng, function, lambda: table_in_layout(wide_walks(rng, length, width), layout))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            result = getattr(batch, function)(**arrays, **scalars, live=True, errors="nan")
            for j in range(width):
                alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
                assert same_bits(result[:, j], live_reference(function, alone, scalars)), (scalars, j)


# Handles that follow the call with n_values=1 sum each bar's window afresh, so their live values are
# not the exact function's: their columns take lanes of their own.
TRAILING_FUNCTIONS = ["velk_sma", "velk_lin", "velk_cmo", "velk_ult", "velk_cci"]


@pytest.mark.every_dispatch
@pytest.mark.filterwarnings("ignore:invalid value encountered in sqrt:RuntimeWarning")
@pytest.mark.parametrize("function", TRAILING_FUNCTIONS)
@pytest.mark.parametrize("threads", [1, 2])
def test_live_columns_of_trailing_handles_take_the_lanes_and_equal_their_handles(function, threads):
    # 700 columns at period 14 (ULT: 7, 14, 28) hold more window than L1, so each group takes several
    # rows a turn, and 131 rows leave a short last turn. The lanes leave only columns whose handle
    # raises or calls numpy (CCI's root of a negative variance) at some bar.
    from velkized_ta import _many, stream
    from velkized_ta.batch import _native_parameters

    rng = np.random.default_rng(zlib.crc32(f"trailing {function}".encode()))

    def table():
        walks = wide_walks(rng, 131, 700)
        # A fall from 5,000 to 2, then small steps: the full call's slid sums drift from fresh ones.
        walks[:, 4] = np.concatenate([np.linspace(5000, 2, 50), 2 + np.cumsum(rng.normal(0, 1e-3, 81))])
        # Series priced from the first bar, whose first windows read bar 0 (ULT's previous close
        # there is the newest close, which a jump at that bar sets apart); one with a NaN run longer
        # than LIN's searched bars, its NaN of another payload (which the slope would pass on where
        # the handle writes its own NaN).
        walks[:, 5:41] = 100 + np.cumsum(rng.normal(0.0, 1.0, (131, 36)), axis=0)
        walks[:, 41] = walks[:, 5] + np.where(np.arange(131) >= 28, 1000, 0)  # a jump at ULT's first bar
        walks[60:100, 40] = np.nan
        walks.view(np.uint32)[np.isnan(walks[:, 40]), 40] = 0x7FC01234
        return walks

    arrays = series_arguments(rng, function, table)
    periods = {"timeperiod": 14, "short_period": 7, "medium_period": 14, "long_period": 28}
    scalars = {name: periods[name] for name, _, _ in parameters(function) if name in periods}
    out = np.empty((131, 700), dtype=np.float32)
    statuses = _many.run(FUNCTION_NAMES.index(function), _native_parameters(function, scalars, arrays), out, None, 0,
                         threads, True, True, True)
    left = np.flatnonzero(np.frombuffer(statuses, dtype=np.uint8)).tolist()
    assert len(left) < 10, left
    result = getattr(batch, function)(**arrays, **scalars, live=True, threads=threads, errors="nan")
    for j in range(700):
        alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
        handle = getattr(stream, function)(**{name: value[:0] for name, value in alone.items()}, **scalars)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                expected = handle.update_many(*bar_series(function, alone, scalars, 131))
            except Exception:  # noqa: BLE001 - the batch call with errors="nan" gives NaN there
                expected = None
        if expected is None or caught:
            assert j in left, j
        if expected is None:
            assert np.isnan(result[:, j]).all(), j
            continue
        assert same_bits(result[:, j], expected), j
        if j not in left:
            assert same_bits(out[:, j], expected), j


# The element-wise ones (ROC, the relative difference) take a thread's whole share of the columns
# at once, as one long row where the table is taken whole.
LANE_FUNCTIONS = ["velk_ema", "velk_tema", "velk_trix", "velk_macd", "velk_rsi", "velk_cmo", "velk_adx", "velk_adxr",
                  "velk_natr", "velk_willr", "velk_roc", "velk_rdif", "velk_cci", "velk_sma", "velk_lin", "velk_mid"]


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", LANE_FUNCTIONS)
@pytest.mark.parametrize("threads", [1, 3])
@pytest.mark.parametrize(("bars", "width"), [(120, 300), (63, 2101)])
def test_tables_wider_than_a_block_equal_the_exact_function(function, threads, bars, width):
    # 300 columns: more than one block of columns per thread, and blocks split between threads.
    # 2,101 columns: one thread's blocks of 2,048 and 53 columns, or two of about half the table
    # (the threads capped by its size), those of 1,000 columns or more stepped four rows a turn
    # (63 rows: a last turn of three).
    rng = np.random.default_rng(zlib.crc32(f"{function} {width}".encode()))
    scalars = {name: 5 for name, kind, _ in parameters(function) if kind == "int" and name != "n_values"}
    if function == "velk_macd":
        scalars.update(short_period=3, long_period=7)
    arrays = series_arguments(rng, function, lambda: wide_walks(rng, bars, width))
    result = getattr(batch, function)(**arrays, **scalars, threads=threads, errors="nan")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for j in range(width):
            alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
            assert same_bits(result[:, j], exact_or_nan(function, alone, scalars, bars)), j


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", ["velk_willr", "velk_stochf", "velk_mid", "velk_wick"])
def test_window_extremes_of_columns_keep_the_newest_of_equal_values(function):
    # +0 and -0 are the equal extremes that differ in the result's sign.
    rng = np.random.default_rng(zlib.crc32(function.encode()))
    values = np.array([-0.0, 0.0, 1.0, -1.0, 2.0], dtype=np.float32)
    names = series_names(function)
    for period in (1, 2, 3, 7):
        prices = [rng.choice(values, (40, 19)).astype(np.float32) for _ in names]
        result = getattr(batch, function)(*prices, period, errors="nan")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for j in range(19):
                alone = {name: np.ascontiguousarray(a[:, j]) for name, a in zip(names, prices)}
                assert same_bits(result[:, j], exact_or_nan(function, alone, {"timeperiod": period}, 40)), (period, j)


@pytest.mark.every_dispatch
@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", ["velk_willr", "velk_stochf", "velk_mid", "velk_wick"])
@pytest.mark.parametrize("threads", [1, 2])
def test_window_extremes_of_blocks_taking_several_rows_a_turn_equal_the_exact_function(function, threads):
    # 300 columns at period 60 (150 a thread) hold more window than L1, so each group takes several
    # rows a turn; 131 rows leave a short last turn, and the leading NaN runs send columns elsewhere.
    rng = np.random.default_rng(zlib.crc32(f"turns {function}".encode()))
    arrays = series_arguments(rng, function, lambda: wide_walks(rng, 131, 300))
    scalars = {"timeperiod": 60}
    result = getattr(batch, function)(**arrays, **scalars, threads=threads, errors="nan")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for j in range(300):
            alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
            assert same_bits(result[:, j], exact_or_nan(function, alone, scalars, 131)), j


@pytest.mark.every_dispatch
@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", LANE_FUNCTIONS + ["velk_stochf", "velk_dx"])
@pytest.mark.parametrize("width", [20, 33])
def test_columns_failing_at_a_tables_right_edge_equal_the_exact_function(function, width):
    # The last lane group of a table wider than a vector ends at its last column, sharing columns
    # with the group before it: the columns only it holds must still be redone where they fail.
    rng = np.random.default_rng(zlib.crc32(f"edge {function} {width}".encode()))
    scalars = {name: 4 for name, kind, _ in parameters(function) if kind == "int" and name != "n_values"}
    if function == "velk_macd":
        scalars.update(short_period=3, long_period=7)

    def table():
        walks = wide_walks(rng, 60, width)
        walks[30:33, -1] = np.nan  # a gap
        walks[:, -2] = 5.0  # no range, no change
        walks[40:, -3] = 0.0  # a zero price
        return walks

    arrays = series_arguments(rng, function, table)
    result = getattr(batch, function)(**arrays, **scalars, errors="nan")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for j in range(width):
            alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
            assert same_bits(result[:, j], exact_or_nan(function, alone, scalars, 60)), j


def tables_sharing_memory(rng, length, width):
    """(name, tables) of one shape whose memory overlaps or repeats: two tables starting at one
    address with other strides, a column broadcast across the table, rows and columns reversed."""
    buffer = wide_walks(rng, length, 2 * width)
    broadcast = np.broadcast_to(buffer[:, :1], (length, width))
    return [("same start, other strides", (buffer[:, :width], buffer[:, ::2], buffer[:, width:])),
            ("broadcast column", (broadcast, buffer[:, :width], broadcast)),
            ("reversed", (buffer[::-1, :width], buffer[:, width:][:, ::-1], buffer[::-1, ::-2]))]


@pytest.mark.filterwarnings("ignore::velkized_ta.batch.BatchWarning")
@pytest.mark.parametrize("function", ["velk_ema", "velk_rsi", "velk_dx", "velk_willr", "velk_rdif"])
def test_columns_of_overlapping_and_reversed_tables_equal_the_exact_function(function):
    rng = np.random.default_rng(zlib.crc32(function.encode()))
    names = [name for name, kind, default in parameters(function) if kind == "series" and default is not None]
    scalars = {name: 4 for name, kind, _ in parameters(function) if kind == "int" and name != "n_values"}
    for case, tables in tables_sharing_memory(rng, 50, 18):
        arrays = dict(zip(names, tables))
        result = getattr(batch, function)(**arrays, **scalars, errors="nan")
        for j in range(18):
            alone = {name: np.ascontiguousarray(value[:, j]) for name, value in arrays.items()}
            assert same_bits(result[:, j], exact_or_nan(function, alone, scalars, 50)), (case, j)


def test_cci_columns_whose_typical_price_numpy_must_take_warn_as_the_exact_function():
    # Each column holds one price the native typical price may not take: a sum beyond float32
    # (overflow), infinities of both signs (invalid), a signaling NaN, subnormal prices
    # (underflow) and NaN meeting NaN; the others stay in the lanes.
    rng = np.random.default_rng(11)
    close = (100 + np.cumsum(rng.normal(0.0, 1.0, (60, 20)), axis=0)).astype(np.float32)
    high, low = close + np.float32(1), close - np.float32(1)
    high[20, 5], low[20, 5] = 3e38, 3e38
    high[30, 6], low[30, 6] = np.inf, -np.inf
    high.view(np.uint32)[40, 7] = 0x7F800001
    high[:, 8], low[:, 8], close[:, 8] = 1e-39, 2e-39, 3e-39
    high[50, 9], low[50, 9] = np.nan, np.nan
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = batch.velk_cci(high, low, close, 5, errors="nan")
    reported = sorted(str(w.message) for w in caught if not issubclass(w.category, batch.BatchWarning))
    expected = []
    for j in range(20):
        alone = [np.ascontiguousarray(a[:, j]) for a in (high, low, close)]
        with warnings.catch_warnings(record=True) as alone_caught:
            warnings.simplefilter("always")
            assert same_bits(result[:, j], exact_or_nan("velk_cci", dict(zip(("high_arr", "low_arr", "close_arr"),
                                                                             alone)), {"timeperiod": 5}, 60)), j
        expected += [str(w.message) for w in alone_caught]
    assert reported == sorted(expected)
