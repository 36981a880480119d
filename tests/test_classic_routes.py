"""Every route of every classic indicator gives the function's bits: batch columns, rows and
offsets at several thread counts, float32 storage, stream bar by bar, update_many, copies and
pickles. Also the registry's own rules (cases for every entry, argument checks, NaN rules)."""

import hashlib
import inspect
import json
import os
import pathlib
import pickle

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from classic_cases import CASES, bars, cases, inputs_of

from velkized_ta import classic
from velkized_ta.classic import batch, stream

CASE_IDS = [f"{name}-{'-'.join(f'{k}={v}' for k, v in params.items()) or 'defaults'}" for name, params in cases()]


def as_tuple(values):
    return values if isinstance(values, tuple) else (values,)


def same(a, b):
    a, b = as_tuple(a), as_tuple(b)
    return len(a) == len(b) and all(np.array_equal(x, y, equal_nan=True) and x.dtype == y.dtype for x, y in zip(a, b))


def stepped_bar_by_bar(handle, series, bars=None):
    """The outputs of `handle` updated with the bars of `series` one at a time (every bar unless
    `bars` says which), as arrays to compare with a whole-array call."""
    bars = range(len(series[0])) if bars is None else bars
    got = [as_tuple(handle.update(*(float(s[t]) for s in series))) for t in bars]
    return tuple(np.array(column) for column in zip(*got))


def test_every_entry_has_cases_and_every_case_an_entry():
    assert set(CASES) == set(classic.NAMES)
    for name, rows in CASES.items():
        entry = classic.descriptor(name)
        assert rows and rows[0] == {}, name
        for row in rows:
            assert set(row) <= {p["name"] for p in entry["params"]}, name


def test_registry_rows_describe_the_functions():
    for entry in classic.REGISTRY:
        function = getattr(classic, entry["name"])
        parameters = list(inspect.signature(function).parameters.values())
        names = list(entry["inputs"]) + [p["name"] for p in entry["params"]] + ["dtype"]
        assert [p.name for p in parameters] == names
        for p, spec in zip(parameters[len(entry["inputs"]):], entry["params"]):
            assert p.default == spec["default"] and spec["min"] <= spec["default"] <= spec["max"]
        assert entry["group"] and entry["summary"] and "TA-Lib" in entry["doc"]
        assert entry["summary"] in function.__doc__
        for module in (batch, stream):
            assert getattr(module, entry["name"]).__name__ == entry["name"]


def noisy(n, seed):
    """Bars with a leading NaN run, NaN gaps in different inputs, and a flat stretch."""
    data = bars(n, seed)
    rng = np.random.default_rng(seed + 100)
    for name in ("open", "high", "low", "close", "volume", "real0", "real1"):
        data[name] = data[name].copy()
        data[name][:3] = np.nan
        data[name][rng.integers(0, n, 4)] = np.nan
    for name in ("open", "high", "low", "close", "real0", "real1"):
        data[name][n // 2:n // 2 + 40] = 500.0
    return data


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_batch_layouts_and_threads_match_the_function(name, params):
    entry = classic.descriptor(name)
    columns = [noisy(120 + 7 * j, j) for j in range(5)]
    length = 120
    expected = [as_tuple(getattr(classic, name)(*(x[:length] for x in inputs_of(entry, c)), **params))
                for c in columns]
    wide = [np.stack([inputs_of(entry, c)[k][:length] for c in columns], axis=1) for k in range(len(entry["inputs"]))]
    for threads in (1, 2, 3):
        by_column = as_tuple(getattr(batch, name)(*wide, **params, axis=0, threads=threads))
        by_row = as_tuple(batch.batch(name, *(w.T.copy() for w in wide), **params, axis=1, threads=threads))
        for j, want in enumerate(expected):
            assert same(tuple(o[:, j] for o in by_column), want)
            assert same(tuple(o[j] for o in by_row), want)
    # Segments of different lengths, some shorter than the warm-up, one empty.
    segments = [inputs_of(entry, c) for c in columns] + [[x[:0] for x in inputs_of(entry, columns[0])]]
    segments[1] = [x[:3] for x in segments[1]]
    flat = [np.concatenate([s[k] for s in segments]) for k in range(len(entry["inputs"]))]
    offsets = np.cumsum([0] + [len(s[0]) for s in segments])
    joined = as_tuple(getattr(batch, name)(*flat, **params, offsets=offsets, threads=2))
    for s, start, stop in zip(segments, offsets[:-1], offsets[1:]):
        assert same(tuple(o[start:stop] for o in joined), as_tuple(getattr(classic, name)(*s, **params)))
    stored = as_tuple(getattr(batch, name)(*wide, **params, dtype=np.float32))
    assert same(stored, tuple(o.astype(np.float32) for o in by_column))


@pytest.mark.parametrize("name", ["ema", "sma", "macd", "trange", "donchian", "adxr"])
def test_large_results_split_among_threads_match_one_thread(name):
    """Large results split among workers: columns in lanes (ema, macd's three results; a
    worker's share of over 256 columns in one block, donchian's window lanes and adxr's past
    values in blocks of 256), the
    columns of a row-major table gathered a chunk of rows at a time, whose length follows the
    worker's share of the columns (so 1, 2 and 3 threads cut the series at different bars: sma,
    trange), one series per row, float32 results too."""
    entry = classic.descriptor(name)
    columns = [inputs_of(entry, bars(900, j)) for j in range(301)]
    wide = [np.stack([c[k] for c in columns], axis=1) for k in range(len(entry["inputs"]))]
    for dtype in (np.float64, np.float32):
        for axis, tables in ((0, wide), (1, [w.T.copy() for w in wide])):
            alone = as_tuple(batch.batch(name, *tables, axis=axis, threads=1, dtype=dtype))
            assert alone[0].nbytes >= 1 << 20
            for j in (0, 150, 300):
                want = as_tuple(getattr(classic, name)(*columns[j], dtype=dtype))
                assert same(tuple(o[:, j] if axis == 0 else o[j] for o in alone), want), (j, axis)
            for threads in (2, 3):
                assert same(as_tuple(batch.batch(name, *tables, axis=axis, threads=threads, dtype=dtype)), alone)


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_long_columns_of_a_row_major_table_match_the_function(name, params):
    """Columns of a row-major table longer than the chunk the batch gathers them in (1,024 rows
    for so few columns), nine of them on two threads (a block of eight and one more), with NaN
    gaps across the chunks' edges."""
    entry = classic.descriptor(name)
    columns = [[s.copy() for s in inputs_of(entry, level_changes(2600, j))] for j in range(9)]
    for j, series in enumerate(columns):
        series[j % len(series)][1020 + 3 * j:1030 + 3 * j] = np.nan
        series[0][2047:2049 + j] = np.nan
    wide = [np.stack([c[k] for c in columns], axis=1) for k in range(len(entry["inputs"]))]
    for dtype in (np.float64, np.float32):
        got = as_tuple(getattr(batch, name)(*wide, **params, threads=2, dtype=dtype))
        for j, series in enumerate(columns):
            want = as_tuple(getattr(classic, name)(*series, **params, dtype=dtype))
            assert same(tuple(o[:, j] for o in got), want), (j, dtype)


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_stream_bar_by_bar_matches_the_function(name, params):
    entry = classic.descriptor(name)
    data = noisy(150, 3)
    series = inputs_of(entry, data)
    full = as_tuple(getattr(classic, name)(*series, **params))
    handle = getattr(stream, name)(*(s[:40] for s in series), **params)
    got = []
    for t in range(40, 150):
        bar = [float(s[t]) for s in series]
        peeked = handle.peek(*bar)
        value = handle.update(*bar)
        assert same(tuple(np.array([v]) for v in as_tuple(peeked)), tuple(np.array([v]) for v in as_tuple(value)))
        got.append(as_tuple(value))
        if t == 90:
            clone = handle.copy()
            revived = pickle.loads(pickle.dumps(handle))
    assert same(tuple(np.array(col) for col in zip(*got)), tuple(f[40:] for f in full))
    rest = [s[91:] for s in series]
    for other in (clone, revived):
        assert same(as_tuple(other.update_many(*rest)), tuple(f[91:] for f in full))
        assert same(tuple(np.array([v]) for v in as_tuple(other.value)), tuple(f[-1:] for f in full))
    # Opening on the whole history gives the same last value; an empty history NaN.
    assert np.isnan(as_tuple(getattr(stream, name)(*(s[:0] for s in series), **params).value)[0])


def test_float32_storage_and_input_types():
    data = bars(300, 1)
    close = data["close"]
    expected = classic.ema(close, 10)
    assert same(classic.ema(close, 10, dtype=np.float32), expected.astype(np.float32))
    assert same(classic.ema(close.astype(np.float32), 10), classic.ema(close.astype(np.float32).astype(np.float64), 10))
    assert same(classic.ema(np.arange(300), 10), classic.ema(np.arange(300.0), 10))
    assert same(classic.ema(close[::2], 10), classic.ema(close[::2].copy(), 10))
    pd = pytest.importorskip("pandas")
    assert same(classic.ema(pd.Series(close), 10), expected)
    pl = pytest.importorskip("polars")
    assert same(classic.ema(pl.Series(close), 10), expected)
    with pytest.raises(TypeError, match="real numbers"):
        classic.ema(close.astype(complex))
    with pytest.raises(ValueError, match="1-D"):
        classic.ema(close.reshape(2, -1))
    with pytest.raises(ValueError, match="'high'.*'low'|values"):
        classic.atr(data["high"], data["low"][:-1], close)


def test_inputs_read_in_place_or_converted_give_the_same_values():
    # The native call reads unit-stride native float64 arrays in place and hands anything else to
    # the Python conversion; mixing both in one call, or other dtype spellings, changes nothing.
    data = bars(300, 5)
    high, low, close = data["high"], data["low"], data["close"]
    expected = classic.atr(high, low, close, 7)
    swapped = close.astype(">f8")
    doubled = np.repeat(low, 2)[::2]
    assert same(classic.atr(high, doubled, swapped, 7), expected)
    assert same(classic.atr(high.tolist(), low, close, timeperiod=7), expected)
    # Short plain arrays are read through their own fields, the rest through a buffer export.
    readonly = close.copy()
    readonly.flags.writeable = False
    unaligned = np.frombuffer(b"\0" + close.tobytes(), np.float64, offset=1)
    for variant in (close.view(type("Sub", (np.ndarray,), {})), readonly, unaligned):
        assert same(classic.atr(high, low, variant, 7), expected)
    # Unaligned data is copied before a native loop reads it, on every route.
    assert same(as_tuple(stream.atr(high[:0], low[:0], close[:0], 7).update_many(high, low, unaligned)), (expected,))
    assert same(as_tuple(batch.atr(high, low, unaligned, 7, offsets=[0, 300])), (expected,))
    assert same(classic.medprice(high[:1], low[::-1][:1]), np.array([(high[0] + low[-1]) / 2]))
    long = bars(3000, 6)
    assert same(classic.atr(long["high"], long["low"], long["close"], 7),
                classic.atr(long["high"].tolist(), long["low"].tolist(), long["close"].tolist(), 7))
    for spelling in (np.dtype(np.float32), "float32", "f4"):
        assert same(classic.atr(high, low, close, 7, dtype=spelling), expected.astype(np.float32))
    assert same(classic.atr(high, low, close, 7, dtype="float64"), expected)
    # Errors keep their order: inputs, then dtype, then parameters.
    with pytest.raises(TypeError, match="real numbers"):
        classic.atr(high, low.astype(complex), close, 0, dtype=np.int8)
    with pytest.raises(ValueError, match="float64 or float32"):
        classic.atr(high, low, close, 0, dtype=np.int8)
    with pytest.raises(ValueError, match="'timeperiod' must be in"):
        classic.atr(high, low, close, 0)


@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_parameter_ranges_are_enforced(entry):
    function = getattr(classic, entry["name"])
    series = inputs_of(entry, bars(50, 2))
    for spec in entry["params"]:
        below = spec["min"] - 1 if spec["kind"] == "int" else -np.inf
        with pytest.raises(ValueError, match=f"argument '{spec['name']}' must be in"):
            function(*series, **{spec["name"]: below})
        if spec["kind"] == "int":
            with pytest.raises(ValueError, match=f"'{spec['name']}'"):
                function(*series, **{spec["name"]: 2**64 + spec["default"]})  # no wrapping to a valid value
            with pytest.raises(TypeError, match="bool"):
                function(*series, **{spec["name"]: True})
            function(*series, **{spec["name"]: np.int32(spec["default"])})


@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_nan_bars_are_skipped_and_each_output_starts_at_its_first_position(entry):
    name = entry["name"]
    function = getattr(classic, name)
    data = bars(200, 4)
    series = inputs_of(entry, data)
    clean = as_tuple(function(*series))
    firsts = classic.first_positions(name)
    assert max(firsts) == classic.lookback(name) and len(firsts) == len(clean)
    for out, first in zip(clean, firsts):
        assert np.isnan(out[:first]).all() and not np.isnan(out[first:]).any()
    # NaN bars inserted anywhere (leading, inside, in one input only) give NaN there and leave
    # every other value as if they were not there.
    holes = np.array([0, 1, 2, 50, 51, 120])
    widened = []
    for k, s in enumerate(series):
        w = np.insert(s, holes - np.arange(len(holes)), 1.0)
        w[holes] = np.nan if k == 0 else w[holes]
        widened.append(w)
    if len(widened) > 1:
        widened[-1][[60]] = np.nan  # a NaN in the last input alone
    gaps = as_tuple(function(*widened))
    kept = np.ones(len(widened[0]), dtype=bool)
    kept[holes] = False
    if len(widened) > 1:
        kept[60] = False
        compare = as_tuple(function(*(w[kept] for w in widened)))
    else:
        compare = clean
    for g, c in zip(gaps, compare):
        assert np.isnan(g[~kept]).all()
        assert np.array_equal(g[kept], c, equal_nan=True)


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_nan_bars_at_every_offset_of_a_block_and_across_span_edges(entry):
    """Kernels that test bars for NaN a block at a time and step a block holding one bar by bar:
    single NaN bars at every offset modulo 16, each in one input, and runs across the 2048-bar
    spans the driver hands over; the other bars' values are those of the series without them."""
    function = getattr(classic, entry["name"])
    series = [s.copy() for s in inputs_of(entry, bars(5000, 6))]
    missing = np.zeros(5000, dtype=bool)
    for j in range(48):
        at = 300 + 17 * j
        series[j % len(series)][at] = np.nan
        missing[at] = True
    for start, stop in ((2040, 2057), (4095, 4097), (4999, 5000)):
        series[0][start:stop] = np.nan
        missing[start:stop] = True
    gaps = as_tuple(function(*series))
    compact = as_tuple(function(*(s[~missing] for s in series)))
    for g, c in zip(gaps, compact):
        assert np.isnan(g[missing]).all()
        assert np.array_equal(g[~missing], c, equal_nan=True)


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", [e for e in classic.REGISTRY if len(e["inputs"]) > 1],
                         ids=[e["name"] for e in classic.REGISTRY if len(e["inputs"]) > 1])
def test_a_nan_the_bars_arithmetic_would_hide_still_makes_it_missing(entry):
    """A NaN in one input of a flat bar without volume, where a formula's terms would not carry it
    (cmf's location is 0 for a bar without range, whatever its close): the bar is missing all the
    same, on every route, inside the long runs the kernels take whole."""
    function = getattr(classic, entry["name"])
    data = bars(6000, 8)
    missing = np.zeros(6000, dtype=bool)
    for j, at in enumerate(range(400, 5900, 300)):  # a span (256 bars) holds at most one
        for key in ("open", "high", "low", "close"):
            data[key][at] = data["close"][at - 1]
        data["volume"][at] = 0.0
        series = inputs_of(entry, data)
        series[j % len(series)][at] = np.nan
        missing[at] = True
    series = inputs_of(entry, data)
    gaps = as_tuple(function(*series))
    compact = as_tuple(function(*(s[~missing] for s in series)))
    for g, c in zip(gaps, compact):
        assert np.isnan(g[missing]).all()
        assert np.array_equal(g[~missing], c, equal_nan=True)
    stepped = getattr(stream, entry["name"])(*(s[:0] for s in series))
    assert same(stepped_bar_by_bar(stepped, series), gaps)


@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_flat_prices_and_zero_volume_stay_finite(entry):
    function = getattr(classic, entry["name"])
    flat = {name: np.full(120, 0.0 if name == "volume" else 42.0)
            for name in ("open", "high", "low", "close", "volume", "real0", "real1")}
    flat["anchor"] = np.repeat([0.0, 1.0], 60)
    with np.errstate(all="raise"):
        for params in CASES[entry["name"]]:
            for out in as_tuple(function(*inputs_of(entry, flat), **params)):
                assert np.isfinite(out[classic.lookback(entry["name"], **params):]).all()


# Entries made of the fused exponential and Wilder steps, and what flat bars give: the price
# (averages and bands) or exactly 0 (differences, ratios of moves, ranges).
FUSED_FLAT = {
    **dict.fromkeys(["ema", "dema", "tema", "kama", "zlema", "keltner"], "price"),
    **dict.fromkeys(["trix", "macd", "apo", "ppo", "rsi", "cmo", "stochrsi", "atr", "natr", "adx", "adxr", "dx",
                     "plus_di", "minus_di", "plus_dm", "minus_dm"], 0.0),
}
# Prices whose simple-average seed is exact at every period below (few significant bits), so the
# steps alone decide whether the value moves; from 2^-20 to 10^5, with odd last bits.
FLAT_PRICES = [42.0, 7.5, 0.046875, 1234.125, 100000.5, 3 * 2.0**-20, 2.0**20 * 1.5 + 1.0]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("name", sorted(FUSED_FLAT))
def test_fused_steps_keep_flat_prices_exact(name):
    """The fused step's weights sum to 1 exactly, so a value at the price stays there bit for bit,
    at every period (1-3 included, where k >= 0.5) and on every route."""
    entry = classic.descriptor(name)
    function = getattr(classic, name)
    periods = [spec for spec in entry["params"] if spec["name"].endswith("period")]
    for period in [1, 2, 3, 4, 5, 9, 14, 30, 99]:
        params = {spec["name"]: min(max(period, spec["min"]), spec["max"]) for spec in periods}
        for price in FLAT_PRICES:
            flat = {key: np.full(260, price) for key in ("high", "low", "close")}
            outputs = as_tuple(function(*inputs_of(entry, flat), **params))
            # nine columns: a full group of lanes (8, 4 or 2) and a partial one
            tables = [np.tile(x[:, None], (1, 9)) for x in inputs_of(entry, flat)]
            columns = as_tuple(getattr(batch, name)(*tables, **params, axis=0))
            first = classic.lookback(name, **params)
            expected = price if FUSED_FLAT[name] == "price" else 0.0
            for out, table in zip(outputs, columns):
                assert (out[first:] == expected).all(), (params, price, out[first:][out[first:] != expected][:3])
                assert all(same(table[:, j], out) for j in range(9))


@pytest.mark.every_dispatch
def test_fused_steps_hold_a_constant_input():
    """Wilder's weights sum to 1 with a nonzero input too (a constant true range stays the ATR), and
    periods 1 and 2 (k >= 0.5, where the SMA seed is exact) keep any price, all its bits used."""
    for period in [1, 2, 3, 14, 30]:
        for width in FLAT_PRICES:
            close = np.full(200, 1000.0)
            atr = classic.atr(close + width / 2, close - width / 2, close, timeperiod=period)
            assert (atr[period:] == width).all(), (period, width)
    for price in np.random.default_rng(3).uniform(1e-3, 1e5, 200):
        for period in [1, 2]:
            assert (classic.ema(np.full(40, price), timeperiod=period)[period - 1:] == price).all(), (period, price)


def test_handles_refuse_misuse():
    handle = stream.sma(np.arange(10.0), 3)
    with pytest.raises(TypeError):
        stream.Handle()
    with pytest.raises(TypeError, match="takes 1"):
        handle.update(1.0, 2.0)
    before = pickle.dumps(handle)

    class Reentrant:
        def __array__(self, dtype=None, copy=None):
            handle.update(1.0)
            return np.ones(3)

    with pytest.raises(RuntimeError, match="in use"):
        handle.update_many(Reentrant())
    assert pickle.dumps(handle) == before  # a refused call consumed nothing


@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_corrupt_pickles_raise_value_error(entry):
    series = inputs_of(entry, bars(80, 5))
    handle = getattr(stream, entry["name"])(*series)
    restore, (name, params, version, state) = handle.__reduce__()
    rng = np.random.default_rng(0)
    for cut in range(0, len(state), max(1, len(state) // 13)):
        with pytest.raises(ValueError):
            restore(name, params, version, state[:cut])
    with pytest.raises(ValueError):
        restore(name, params, version + 1, state)
    with pytest.raises(ValueError):
        restore(name, params, version, state + b"\0")
    for _ in range(30):  # random bytes of the right length: a valid handle or ValueError, never a crash
        noise = bytearray(state)
        for at in rng.integers(0, len(noise), 3):
            noise[at] = rng.integers(0, 256)
        try:
            revived = restore(name, params, version, bytes(noise))
        except ValueError:
            continue
        revived.update_many(*series)


def test_shared_blocks_have_distinct_names():
    """Two classes of one name in the engine's headers break the one-definition rule: the linker
    keeps one class's inline members for both, and a build may then crash in either."""
    import pathlib
    import re

    engine = pathlib.Path(__file__).resolve().parent.parent / "velkized_ta" / "classic_engine"
    names = [name for header in sorted(engine.glob("*.hpp"))
             for name in re.findall(r"^(?:class|struct) (\w+)\b[^;]*$", header.read_text(), re.M)]
    assert len(names) == len(set(names)), sorted({n for n in names if names.count(n) > 1})


OPTIONAL = [entry for entry in classic.REGISTRY if entry["optional_inputs"]]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", OPTIONAL, ids=[entry["name"] for entry in OPTIONAL])
def test_an_optional_input_left_out_reads_zero_and_a_live_bar_without_it_repeats_the_last(entry):
    name = entry["name"]
    function, many, opener = getattr(classic, name), getattr(batch, name), getattr(stream, name)
    series = inputs_of(entry, noisy(200, 6))
    required = len(entry["inputs"]) - len(entry["optional_inputs"])
    given = series[:required]
    labels = [np.arange(200) // 37 * (k + 1.0) for k in range(len(series) - required)]  # sessions of 37 bars
    series = given + labels
    without = as_tuple(function(*given))
    assert same(without, as_tuple(function(*given, *(np.zeros_like(s) for s in labels))))
    assert same(without, as_tuple(function(*given, *(None for _ in labels))))
    assert not same(without, as_tuple(function(*series)))  # the labels do restart it
    wide = [np.stack([s, s[::-1]], axis=1) for s in given]
    flipped = as_tuple(function(*(s[::-1] for s in given)))
    for got in (many(*wide), many(*wide, *(None for _ in labels))):
        assert same(tuple(o[:, 0] for o in as_tuple(got)), without)
        assert same(tuple(o[:, 1] for o in as_tuple(got)), flipped)
    joined = as_tuple(many(*(np.concatenate([s, s[::-1]]) for s in given), offsets=[0, 200, 400]))
    assert same(tuple(o[200:] for o in joined), flipped)

    # Live: labels in the history, then bars without them (the last label carries on), then by name.
    handle = opener(*(s[:100] for s in series))
    got = [handle.update(*(float(s[t]) for s in given)) for t in range(100, 150)]
    revived = pickle.loads(pickle.dumps(handle))
    got += [handle.update(*(float(s[t]) for s in given), **{k: float(s[t]) for k, s in zip(entry["optional_inputs"], labels)})
            for t in range(150, 200)]
    carried = [s.copy() for s in labels]
    for c in carried:
        c[100:150] = c[99]
    full = as_tuple(function(*given, *carried))
    assert same(tuple(np.array(col) for col in zip(*map(as_tuple, got))), tuple(f[100:] for f in full))
    rest = as_tuple(revived.update_many(*(s[150:] for s in given)))  # the pickle carried the label too
    for r in carried:
        r[150:] = r[99]
    assert same(rest, tuple(f[150:] for f in as_tuple(function(*given, *carried))))
    assert same(as_tuple(opener(*(s[:0] for s in given)).update_many(*given)), without)  # no labels anywhere


def test_live_arguments_by_name_and_errors_naming_them():
    data = bars(60, 8)
    high, low, close = data["high"], data["low"], data["close"]
    by_position, by_name = stream.atr(high, low, close, 5), stream.atr(high, low, close, 5)
    assert by_position.update(101.0, 99.0, 100.0) == by_name.update(close=100.0, high=101.0, low=99.0)
    assert by_position.update(103.0, 98.0, close=101.0) == by_name.update(103.0, 98.0, 101.0)
    for call, error, message in [
            (lambda: by_name.update(101.0, "x", 100.0), TypeError, "argument 'low' must be a real number, not str"),
            (lambda: by_name.update(101.0, 99.0, closing=100.0), TypeError, "unexpected keyword argument 'closing'"),
            (lambda: by_name.update(101.0, 99.0, 100.0, high=1.0), TypeError, "multiple values for argument 'high'"),
            (lambda: by_name.peek(101.0, close=100.0), TypeError, "missing argument 'low'"),
            (lambda: by_name.update(101.0, None, 100.0), TypeError, "argument 'low' must be a real number"),
            (lambda: by_name.update_many(high, low), TypeError, "takes 3 series"),
            (lambda: by_name.update(1.0, 2.0, 3.0, 4.0), TypeError, "takes 3 values")]:
        before = pickle.dumps(by_name)
        with pytest.raises(error, match=message):
            call()
        assert pickle.dumps(by_name) == before  # a refused bar consumed nothing
    vwap = stream.vwap(data["high"], data["low"], close, data["volume"])
    with pytest.raises(TypeError, match=r"takes 4 to 5 values \(high\.\.\.\), got 3"):
        vwap.update(1.0, 2.0, 3.0)
    with pytest.raises(ValueError, match="input 'anchor' has 59 values, but 'high' has 60"):
        classic.vwap(data["high"], data["low"], close, data["volume"], data["anchor"][1:])
    with pytest.raises(TypeError, match="argument 'anchor' must hold real numbers"):
        classic.vwap(data["high"], data["low"], close, data["volume"], data["anchor"].astype(str))
    with pytest.raises(ValueError, match="argument 'anchor' has shape"):
        batch.vwap(*(np.stack([data[k]] * 2, axis=1) for k in ("high", "low", "close", "volume")), np.zeros((60, 3)))
def window_extremes_reference(high, low, period):
    """Highest high and lowest low of the last `period` real bars and their ages, each the newest
    of equal values (so 0.0 and -0.0 keep the newer sign); NaN until `period` real bars."""
    n = len(high)
    upper, lower, high_age, low_age = (np.full(n, np.nan) for _ in range(4))
    highs, lows = [], []
    for t in range(n):
        if np.isnan(high[t]) or np.isnan(low[t]):
            continue
        highs.append(high[t])
        lows.append(low[t])
        if len(highs) < period:
            continue
        window_high, window_low = highs[-period:], lows[-period:]
        top, bottom = max(window_high), min(window_low)
        high_age[t] = next(age for age, v in enumerate(reversed(window_high)) if v == top)
        low_age[t] = next(age for age, v in enumerate(reversed(window_low)) if v == bottom)
        upper[t] = window_high[-1 - int(high_age[t])]
        lower[t] = window_low[-1 - int(low_age[t])]
    return upper, lower, high_age, low_age


def tied_bars(n, seed):
    """Prices on a coarse grid (many ties), runs of equal bars, signed zeros, infinities, NaN runs."""
    rng = np.random.default_rng(seed)
    close = np.round(np.cumsum(rng.normal(size=n)) / 2) * 0.5
    high, low = close + np.round(rng.random(n) * 2) * 0.5, close - np.round(rng.random(n) * 2) * 0.5
    for column in (high, low):
        column[n // 3:n // 3 + 25] = 0.0
        column[n // 3 + 5:n // 3 + 25:3] = -0.0
        column[rng.integers(0, n, 3)] = rng.choice([np.inf, -np.inf], 3)
        column[:4] = np.nan
        column[2 * n // 3:2 * n // 3 + rng.integers(1, 30)] = np.nan
        column[rng.integers(0, n, 6)] = np.nan
    return high, low


@pytest.mark.every_dispatch
@pytest.mark.parametrize("period", [1, 2, 3, 5, 14, 37])
def test_window_extremes_are_the_newest_equal_extreme_of_the_window(period):
    """The sliding extremes (aroon's ages, donchian's bounds, midprice) against the definition,
    read through the function, float32 storage, strided input, and a pickle at every ring slot."""
    high, low = tied_bars(600, period)
    upper, lower, high_age, low_age = window_extremes_reference(high, low, period)
    got_upper, _, got_lower = classic.donchian(high, low, period)
    for got, want in ((got_upper, upper), (got_lower, lower)):
        assert np.array_equal(got, want, equal_nan=True)
        assert np.array_equal(np.signbit(got), np.signbit(want))
    if period >= 2:
        assert np.array_equal(classic.midprice(high, low, period), (upper + lower) / 2, equal_nan=True)
    if period >= 3:  # aroon's window is timeperiod + 1 bars
        down, up = classic.aroon(high, low, period - 1)
        factor = 100.0 / (period - 1)
        assert np.array_equal(down, factor * (period - 1 - low_age), equal_nan=True)
        assert np.array_equal(up, factor * (period - 1 - high_age), equal_nan=True)
    strided = np.stack([high, low, high], axis=1)
    assert same(classic.donchian(strided[:, 0], strided[:, 1], period, dtype=np.float32),
                tuple(v.astype(np.float32) for v in classic.donchian(high, low, period)))
    # A handle pickled at each ring slot, continued, gives the rest of the function's values.
    whole = classic.aroon(high, low, max(period, 2))
    for cut in range(40, 40 + period + 2):
        handle = pickle.loads(pickle.dumps(stream.aroon(high[:cut], low[:cut], max(period, 2))))
        assert same(handle.update_many(high[cut:], low[cut:]), tuple(w[cut:] for w in whole))


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_a_pickle_at_any_bar_of_a_window_continues_exactly(entry):
    """States keep values derived from their windows (sums accumulated since the last re-adding,
    suffix extremes), rebuilt from the window when loaded: a pickle taken at any bar of a window
    period continues with the function's bits."""
    name = entry["name"]
    data = noisy(260, 11)
    series = inputs_of(entry, data)
    whole = as_tuple(getattr(classic, name)(*series))
    for cut in range(60, 60 + 34):
        handle = pickle.loads(pickle.dumps(getattr(stream, name)(*(s[:cut] for s in series))))
        assert same(as_tuple(handle.update_many(*(s[cut:] for s in series))), tuple(w[cut:] for w in whole)), cut


def gappy(n, seed):
    """Bars with NaN runs of every length from 1 to 12 between real runs of varying length (so a
    run of real bars starts both shorter and longer than any lag), in one input at a time."""
    data = bars(n, seed)
    rng = np.random.default_rng(seed)
    names = ("open", "high", "low", "close", "volume", "real0", "real1")
    for name in names:
        data[name] = data[name].copy()
    t, gap = 2, 1
    while t < n:
        data[names[gap % len(names)]][t:t + gap] = np.nan
        t += gap + int(rng.integers(1, 40))
        gap = gap % 12 + 1
    return data


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_whole_series_match_the_live_update_across_nan_runs(name, params):
    """The whole-array loop (which may read bars off the input arrays) against the live update bar
    by bar, and against update_many continuing a handle that already holds history."""
    entry = classic.descriptor(name)
    series = inputs_of(entry, gappy(700, 5))
    whole = as_tuple(getattr(classic, name)(*series, **params))
    handle = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(handle, series), whole)
    for cut in (1, 17, 350):
        handle = getattr(stream, name)(*(s[:cut] for s in series), **params)
        assert same(as_tuple(handle.update_many(*(s[cut:] for s in series))), tuple(w[cut:] for w in whole))
    assert same(as_tuple(getattr(classic, name)(*series, **params, dtype=np.float32)),
                tuple(w.astype(np.float32) for w in whole))


def runs_of_every_length(longest, seed):
    """Real runs of every length from 0 to `longest`, each ended by a NaN in every input, after 60
    real bars: the whole-array kernels' lane blocks (up to 16 bars) end at every offset."""
    lengths = [60] + list(range(longest + 1)) + [70]
    data = bars(sum(lengths) + len(lengths) - 1, seed)
    ends = np.cumsum(np.array(lengths[:-1]) + 1) - 1
    for name in ("open", "high", "low", "close", "volume", "real0", "real1"):
        data[name] = data[name].copy()
        data[name][ends] = np.nan
    return data


def sparse_gaps(n, seed):
    """Long real runs with a NaN bar now and then, in one input at a time, placed at the edges of
    the blocks and spans whole-array kernels take (multiples of 32 and 256, one either side), a
    few bars apart and as a run of three: kernels that test for NaN bars as they go must undo or
    step just the block holding one, after blocks whose work was still pending."""
    data = bars(n, seed)
    names = ("open", "high", "low", "close", "volume", "real0", "real1")
    for name in names:
        data[name] = data[name].copy()
    holes = [255, 256, 575, 577, 1000, 1031, 1032, 1536, 1537, 1538, 2047, 2300, 2303]
    for k, t in enumerate(holes):
        data[names[k % len(names)]][t] = np.nan
    return data


@pytest.mark.every_dispatch
@pytest.mark.parametrize("gaps", [lambda: runs_of_every_length(40, 9), lambda: sparse_gaps(3000, 13)],
                         ids=["runs-of-every-length", "sparse-nan-bars"])
@pytest.mark.parametrize("entry", classic.REGISTRY, ids=classic.NAMES)
def test_whole_series_match_the_live_update_around_nan_bars(entry, gaps):
    series = inputs_of(entry, gaps())
    whole = as_tuple(getattr(classic, entry["name"])(*series))
    handle = getattr(stream, entry["name"])(*(s[:0] for s in series))
    assert same(stepped_bar_by_bar(handle, series), whole)
    assert same(as_tuple(getattr(classic, entry["name"])(*series, dtype=np.float32)),
                tuple(w.astype(np.float32) for w in whole))


# Parameters at the edges of the run kernels' paths: kama pairs its path length's spans for periods
# up to 512 (twice the period fitting in a run), adosc's averages start at the longer period, cmf's
# sums take their fast run for windows up to 1,024, mfi's windows for windows shorter than its span
# (512 bars).
KERNEL_EDGES = ([("kama", {"timeperiod": p}) for p in (2, 3, 511, 512, 513, 1100)]
                + [("adosc", {"fastperiod": 2, "slowperiod": 2}), ("adosc", {"fastperiod": 40, "slowperiod": 300})]
                + [("cmf", {"timeperiod": p}) for p in (2, 1024, 1025)]
                + [("mfi", {"timeperiod": p}) for p in (2, 3, 511, 512, 513)]
                # Simple averages filling across the kernel's spans of 1024 bars, and of one bar.
                + [("stoch", {"slowk_period": 1100, "slowd_period": 2}),
                   ("stoch", {"fastk_period": 1030, "slowk_period": 2, "slowd_period": 1025}),
                   ("stoch", {"fastk_period": 1, "slowk_period": 1, "slowd_period": 1})])


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), KERNEL_EDGES,
                         ids=[f"{n}-{'-'.join(map(str, p.values()))}" for n, p in KERNEL_EDGES])
def test_run_kernels_at_their_parameter_edges_match_the_live_update(name, params):
    """Bar by bar against the whole series, and handles restored from pickles at bars that leave
    the kernels' schedules (re-addings, blocks, spans) at other offsets, continued by update_many."""
    series = inputs_of(classic.descriptor(name), sparse_gaps(6000, 21))
    whole = as_tuple(getattr(classic, name)(*series, **params))
    handle = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(handle, series), whole)
    for cut in (700, 1029, 2501):
        handle = pickle.loads(pickle.dumps(getattr(stream, name)(*(s[:cut] for s in series), **params)))
        assert same(as_tuple(handle.update_many(*(s[cut:] for s in series))), tuple(w[cut:] for w in whole)), cut



# Kernels that take the driver's spans whole and test them for NaN bars themselves, trusting the
# bars before a span when enough of them were real.
MIXED_RUN_KERNELS = [("kama", {"timeperiod": 30}), ("kama", {"timeperiod": 3}), ("atr", {}), ("cmf", {}), ("ad", {}),
                     ("obv", {}), ("vwap", {})]


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), MIXED_RUN_KERNELS,
                         ids=[f"{n}-{'-'.join(map(str, p.values()))}" for n, p in MIXED_RUN_KERNELS])
def test_a_nan_bar_a_window_or_less_before_a_span_matches_the_live_update(name, params):
    """One NaN bar at a time, a window's length or a bar either side of it before the start of a
    real span (bar 8192 starts one in every kernel's schedule), or just after it: the span must not
    read the bars before the NaN as its window."""
    period = next(iter(params.values()), 14)
    entry = classic.descriptor(name)
    for offset in (1, 2, period - 1, period, period + 1, period + 2, -1):
        series = [s.copy() for s in inputs_of(entry, bars(8600, 4))]
        series[-1 if offset > 1 else 0][8192 - offset] = np.nan
        whole = as_tuple(getattr(classic, name)(*series, **params))
        handle = getattr(stream, name)(*(s[:0] for s in series), **params)
        assert same(stepped_bar_by_bar(handle, series), whole), offset


@pytest.mark.every_dispatch
def test_vwap_blocks_around_nan_bars_new_sessions_and_a_missing_anchor_match():
    """vwap's kernel takes blocks of 32 bars, three in flight (summed, compensated, written): a NaN
    in each input and a new session at every offset of a block and of the blocks in flight, an
    infinite price near the end, against the live update, in float64 and float32. Without an
    anchor, series of growing lengths (each reading the shared zero column, grown as they come)
    must equal an explicit zero anchor."""
    n = 4200
    data = bars(n, 17)
    series = [data[k].copy() for k in ("high", "low", "close", "volume")]
    series.append(np.cumsum(np.isin(np.arange(n), 100 + 41 * np.arange(80))) * 1.0)
    for i in range(85):
        series[i % 5][150 + 47 * i] = np.nan
    series[0][n - 20] = np.inf
    whole = classic.vwap(*series)
    assert same(stepped_bar_by_bar(stream.vwap(*(s[:0] for s in series)), series), whole)
    assert same(classic.vwap(*series, dtype=np.float32), whole.astype(np.float32))
    for length in (10, 5000, 20_000, 70_000):
        data = bars(length, length)
        data["volume"][length // 3] = np.nan
        prices = [data[k] for k in ("high", "low", "close", "volume")]
        assert same(classic.vwap(*prices), classic.vwap(*prices, np.zeros(length))), length


# Element-wise entries whose long float64 outputs are written by streaming stores.
STREAMED = ["avgprice", "medprice", "typprice", "wclprice", "bop", "trange", "mom"]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("nan_every", [0, 7, 2], ids=["real", "nan-every-7th", "nan-every-other"])
@pytest.mark.parametrize("name", STREAMED)
def test_long_element_wise_outputs_written_past_the_caches_match_the_live_update(name, nan_every):
    """Long float64 outputs on pages already present go out by streaming stores in aligned pairs
    of bars, plain stores elsewhere: a run starting on an odd address (a lag of 1, after a NaN bar, a segment at an odd
    offset of a batch) takes one bar alone first. Every bar must be the live update's."""
    n = 70_001
    data = bars(n, 12)
    data["high"][::97] = data["low"][::97]  # flat bars
    series = [s.copy() for s in inputs_of(classic.descriptor(name), data)]
    if nan_every:
        for k, column in enumerate(series):
            column[k + 1::nan_every * (k + 1)] = np.nan
    handle = getattr(stream, name)(*(s[:0] for s in series))
    expected = stepped_bar_by_bar(handle, series)
    for _ in range(2):  # outputs of this size then land on pages already present, which stream
        getattr(classic, name)(*series)
    assert same(as_tuple(getattr(classic, name)(*series)), expected)
    assert same(as_tuple(getattr(classic, name)(*series, dtype=np.float32)), tuple(e.astype(np.float32) for e in expected))
    # Segments starting at odd offsets, each long enough to stream.
    offsets = np.array([0, 3, 35_003, n])
    joined = as_tuple(getattr(batch, name)(*series, offsets=offsets))
    for start, stop in zip(offsets[:-1], offsets[1:]):
        want = as_tuple(getattr(classic, name)(*(s[start:stop] for s in series)))
        assert same(tuple(o[start:stop] for o in joined), want), start

CYCLES = [entry for entry in classic.REGISTRY if entry["group"] == "cycle"]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", CYCLES, ids=[entry["name"] for entry in CYCLES])
def test_cycle_readings_of_a_fifty_bar_cycle_across_gaps(entry):
    """A cycle slow enough that the period sits at its limit of 50 (the trendline averages the last
    50 prices), with real runs of 44 to 56 bars between NaNs: the whole-array loop reads prices off
    the input only where the real bars reach back that far."""
    t = np.arange(3000)
    close = 100.0 + 10.0 * np.sin(2 * np.pi * t / 70) + 0.01 * np.sin(1.7 * t)
    gaps = np.cumsum(np.tile(np.arange(45, 58), 5))
    close[gaps[gaps < len(close)]] = np.nan
    whole = as_tuple(getattr(classic, entry["name"])(close))
    handle = getattr(stream, entry["name"])(close[:0])
    got = [as_tuple(handle.update(float(x))) for x in close]
    assert same(tuple(np.array(column) for column in zip(*got)), whole)


def level_changes(n, seed):
    """Long runs of real bars whose level jumps by factors up to 1e6 at a few bars, so that window
    sums re-add out of turn where the old level leaves the window."""
    data = bars(n, seed)
    scale = np.ones(n)
    for start, factor in ((n // 5, 1e-6), (2 * n // 5 + 3, 1e4), (3 * n // 5 + 7, 1e-3), (4 * n // 5 + 1, 1e2)):
        scale[start:] = factor
    for name in ("open", "high", "low", "close", "real0", "real1"):
        data[name] = data[name] * scale
    data["close"][n // 2:n // 2 + 30] = data["close"][n // 2]  # a flat stretch: a variance of 0
    return data


PERIODIC = [entry for entry in classic.REGISTRY if any(p["name"] == "timeperiod" for p in entry["params"])]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", PERIODIC, ids=[entry["name"] for entry in PERIODIC])
def test_whole_series_match_the_live_update_through_level_changes(entry):
    """The whole-array kernels take several windows at a time (the window statistics two spans in
    lanes) and redo a stretch bar by bar when a level change re-adds the sums out of turn: their
    bits against the live update, for windows shorter and longer than the stretch between jumps."""
    series = inputs_of(entry, level_changes(900, 3))
    low_end = next(p["min"] for p in entry["params"] if p["name"] == "timeperiod")
    for period in sorted({max(low_end, p) for p in (1, 2, 3, 14, 61)}):
        whole = as_tuple(getattr(classic, entry["name"])(*series, timeperiod=period))
        handle = getattr(stream, entry["name"])(*(s[:0] for s in series), timeperiod=period)
        assert same(stepped_bar_by_bar(handle, series), whole), period


def price_grid(n, seed):
    """Bars on a tick grid of 0.25, as exchanges quote them: a high meeting the previous low, a
    close on the low and a bar without range recur, so movements, buying pressure and true ranges
    of 0 fall in windows that are otherwise positive (the whole-array sums' fast loop counts them)."""
    data = bars(n, seed)
    for name in ("open", "high", "low", "close", "real0", "real1"):
        data[name] = np.round(data[name] * 4.0) / 4.0
    data["close"] = np.clip(data["close"], data["low"], data["high"])
    return data


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_whole_series_match_the_live_update_on_a_price_grid(name, params):
    entry = classic.descriptor(name)
    series = inputs_of(entry, price_grid(1200, 4))
    whole = as_tuple(getattr(classic, name)(*series, **params))
    handle = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(handle, series), whole)


def with_infinities(n, seed):
    """A random walk with infinite prices at a few bars of every price input and a stretch of
    signed zeros: the values built from them (true ranges, bands, stops) turn infinite or NaN
    while the bars stay real, where a select's operand order, a comparison's handling of NaN or a
    run redone after a test on the way decides what follows."""
    data = bars(n, seed)
    rng = np.random.default_rng(seed + 7)
    for name in ("open", "high", "low", "close", "real0", "real1"):
        column = data[name] = data[name].copy()
        column[n // 2:n // 2 + 20] = 0.0
        column[n // 2 + 3:n // 2 + 20:4] = -0.0
        column[rng.integers(40, n, 4)] = rng.choice([np.inf, -np.inf], 4)
    return data


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_whole_series_match_the_live_update_through_infinite_prices(name, params):
    entry = classic.descriptor(name)
    for seed in (1, 2):
        series = inputs_of(entry, with_infinities(700, seed))
        whole = as_tuple(getattr(classic, name)(*series, **params))
        handle = getattr(stream, name)(*(s[:0] for s in series), **params)
        assert same(stepped_bar_by_bar(handle, series), whole), seed


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_a_handle_opened_on_history_pickles_as_one_stepped_bar_by_bar(name, params):
    """Run kernels keep their state in locals, settle per-bar tests for a whole span (window sums'
    peaks, counts of nonzero values, re-adding schedules) and write the window's ring once at the
    end of a run: the state a handle opened on history holds pickles to the same bytes as one
    stepped bar by bar, including fields no output shows until later: on a price grid, through
    level changes with a NaN gap (cuts inside and just past the loop's chunks), along long runs."""
    entry = classic.descriptor(name)
    for data, cuts in ((price_grid(1200, 6), (1111,)), (level_changes(4300, 5), (97, 2048, 2049, 2101, 2150, 4300)),
                       (long_runs(1400, 9), (1301,))):
        series = [s.copy() for s in inputs_of(entry, data)]
        series[-1][2100:2103] = np.nan  # a gap in the longest series
        stepped = getattr(stream, name)(*(s[:0] for s in series), **params)
        done = 0
        for cut in cuts:
            for t in range(done, cut):
                stepped.update(*(float(s[t]) for s in series))
            done = cut
            opened = getattr(stream, name)(*(s[:cut] for s in series), **params)
            assert pickle.dumps(opened) == pickle.dumps(stepped), cut


@pytest.mark.every_dispatch
@pytest.mark.parametrize("name", ["cmf", "vortex", "ultosc"])
@pytest.mark.parametrize("extra", [-1, 0, 1])
def test_a_window_of_zeros_inside_a_run_of_window_sums(name, extra):
    """The window sums' fast loop takes a span while fewer of its values than a window are zeros;
    stretches without range or volume one bar shorter than, as long as and longer than the
    window (period 14) inside one run: values and state as the step leaves them."""
    entry = classic.descriptor(name)
    period = 14
    data = bars(1500, 12)
    for start in (300, 700, 1100):
        flat = slice(start, start + period + extra + (start == 700))  # and one a bar longer
        for key in ("high", "low", "close"):
            data[key][flat] = data["close"][start - 1]
        data["volume"][flat] = 0.0
    params = {"timeperiod": period} if name != "ultosc" else {"timeperiod1": period, "timeperiod2": 5,
                                                                  "timeperiod3": 9}
    series = inputs_of(entry, data)
    whole = as_tuple(getattr(classic, name)(*series, **params))
    stepped = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(stepped, series), whole)
    assert pickle.dumps(getattr(stream, name)(*series, **params)) == pickle.dumps(stepped)


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("signed_flows", "signed_volume"), [(False, False), (True, False), (False, True), (True, True)])
def test_window_sums_with_and_without_negative_values_match_the_live_update(signed_flows, signed_volume):
    """The window sums' fast loop adds the magnitudes of only the sums with negative values: cmf's
    money flows and volumes each with and without them (a close at the high where the volume is
    not negative and at the low where it is keeps every flow >= 0)."""
    entry = classic.descriptor("cmf")
    data = bars(1500, 5)
    sign = np.where(np.arange(1500) % 3 == 0, -1.0, 1.0) if signed_volume else np.ones(1500)
    data["volume"] = data["volume"] * sign + sign
    if not signed_flows:
        data["close"] = np.where(sign > 0, data["high"], data["low"])
    series = inputs_of(entry, data)
    whole = as_tuple(classic.cmf(*series, timeperiod=14))
    stepped = stream.cmf(*(s[:0] for s in series), timeperiod=14)
    assert same(stepped_bar_by_bar(stepped, series), whole)
    assert pickle.dumps(stream.cmf(*series, timeperiod=14)) == pickle.dumps(stepped)


@pytest.mark.every_dispatch
@pytest.mark.parametrize("below", ["every_fifth_bar", "at_a_span_end"])
@pytest.mark.parametrize("periods", [(7, 14, 28), (5, 9, 300)])
def test_ultosc_with_negative_buying_pressure_matches_the_live_update(below, periods):
    """ultosc's window sums run in pairs (buying pressure and true range over one period) while no
    value is below zero. A close below the low makes a buying pressure negative: its sums then add
    magnitudes apart, in the run holding it and while a ring still holds it (closes below the low
    in the last bars of a 256-bar span, and every fifth bar): values and state as the step's."""
    data = bars(2000, 21)
    at = np.arange(0, 2000, 5) if below == "every_fifth_bar" else np.array([1020, 1021, 1023])
    data["close"][at] = data["low"][at] - 0.25
    params = dict(zip(("timeperiod1", "timeperiod2", "timeperiod3"), periods))
    series = inputs_of(classic.descriptor("ultosc"), data)
    whole = as_tuple(classic.ultosc(*series, **params))
    stepped = stream.ultosc(*(s[:0] for s in series), **params)
    done = 0
    for cut in (1024, 1030, 2000):  # the magnitudes differ from the sums until re-added
        assert same(stepped_bar_by_bar(stepped, [s[done:cut] for s in series]), tuple(w[done:cut] for w in whole))
        assert pickle.dumps(stream.ultosc(*(s[:cut] for s in series), **params)) == pickle.dumps(stepped), cut
        done = cut


@settings(max_examples=25 if os.environ.get("VELK_SANITIZE_RUN") else 60, derandomize=True, database=None,
          deadline=None)
@given(name=st.sampled_from(["cmf", "ultosc", "vortex"]), period=st.integers(1, 24), seed=st.integers(0, 2**32 - 1),
       stretches=st.integers(0, 12), zero_share=st.sampled_from([0.0, 0.1, 0.5, 0.9]))
def test_window_sums_on_data_full_of_zeros_match_the_live_update(name, period, seed, stretches, zero_share):
    """The window sums' fast runs take spans holding any number of zeros, and leave a window all
    zeros (whose sum the step gives as 0) to the collapse test: cent prices with flat stretches,
    volumes that are mostly or often zero (+0 and -0), closes at the low, on runs of every length
    around the period; values and state as the step leaves them."""
    rng = np.random.default_rng(seed)
    n = 700
    close = np.round(100 + np.cumsum(rng.integers(-2, 3, n)) * 0.01, 2)
    spread = rng.integers(0, 3, n) * 0.01
    high, low = close + spread, close - spread
    volume = rng.integers(1, 1000, n).astype(np.float64)
    volume[rng.random(n) < zero_share] = 0.0
    volume[rng.random(n) < 0.05] = -0.0
    for _ in range(stretches):
        start, length = rng.integers(0, n), rng.integers(period - 1, 3 * period + 2)
        high[start:start + length] = low[start:start + length] = close[start:start + length] = close[start]
        volume[start:start + length] = 0.0 if rng.random() < 0.5 else volume[start:start + length]
    close = np.where(rng.random(n) < 0.2, low, close)
    data = {"high": high, "low": low, "close": close, "volume": volume}
    params = {"timeperiod": period} if name != "ultosc" else {"timeperiod1": period, "timeperiod2": period + 3,
                                                                  "timeperiod3": 2 * period + 1}
    series = inputs_of(classic.descriptor(name), data)
    whole = as_tuple(getattr(classic, name)(*series, **params))
    stepped = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(stepped, series), whole)
    assert pickle.dumps(getattr(stream, name)(*series, **params)) == pickle.dumps(stepped)


# Long windows for the states whose whole-array loop reads leaving values off the input once a run
# of real bars is longer than the window, and from the state's ring before that.
# sma's and trima's kernels pair spans only for windows that fit a chunk a few times (longer ones
# step), hma's reads both of its close windows off the input, beta's returns fit a scratch span only
# up to a chunk's length (longer windows step).
LONG_WINDOWS = [("wma", {"timeperiod": 700}), ("kama", {"timeperiod": 500}), ("trima", {"timeperiod": 901}),
                ("t3", {"timeperiod": 60}), ("macdext", {"fastperiod": 300, "slowperiod": 1000, "signalperiod": 600}),
                ("sma", {"timeperiod": 513}), ("sma", {"timeperiod": 1024}), ("trima", {"timeperiod": 4500}),
                ("hma", {"timeperiod": 900}), ("correl", {"timeperiod": 700}), ("var", {"timeperiod": 400}), ("beta", {"timeperiod": 2100}),
                ("linearreg_slope", {"timeperiod": 300}),
                # rings longer than the positive-run loop copies (1024): the general loop between wraps
                ("vortex", {"timeperiod": 1100}), ("ultosc", {"timeperiod1": 3, "timeperiod2": 1500, "timeperiod3": 40}),
                ("cmf", {"timeperiod": 1030})]


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), [(e["name"], {}) for e in classic.REGISTRY] + LONG_WINDOWS,
                         ids=[e["name"] for e in classic.REGISTRY] + [f"{n}-{'-'.join(map(str, p.values()))}" for n, p in LONG_WINDOWS])
def test_runs_longer_than_a_loop_chunk_match_the_live_update(name, params):
    """The whole-array loops take a run of real bars a chunk (2048 bars) at a time, and kernels lay
    windows out a chunk at a time: runs of two chunks and two bars and of one chunk and 751 bars,
    after a short gap and a single NaN bar in the last input."""
    entry = classic.descriptor(name)
    series = [s.copy() for s in inputs_of(entry, bars(7000, 9))]
    for start, length in ((100, 2), (4200, 1)):
        series[-1][start:start + length] = np.nan
    whole = as_tuple(getattr(classic, name)(*series, **params))
    handle = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(handle, series), whole)
    handle = getattr(stream, name)(*(s[:3000] for s in series), **params)
    assert same(as_tuple(handle.update_many(*(s[3000:] for s in series))), tuple(w[3000:] for w in whole))
    assert same(as_tuple(getattr(classic, name)(*series, **params, dtype=np.float32)),
                tuple(w.astype(np.float32) for w in whole))


def long_runs(n, seed):
    """Real runs far longer than a window, through a level drop from 1e5 to 1 (which makes window
    sums re-add early), a flat stretch without volume, and a short NaN gap."""
    data = bars(n, seed, level=1e5)
    low_level = bars(n, seed + 1, level=1.0)
    drop, flat = n // 3, slice(n // 2, n // 2 + 150)
    for name in ("open", "high", "low", "close", "volume", "real0", "real1"):
        data[name] = data[name].copy()
        data[name][drop:] = low_level[name][drop:] * (1e-3 if name != "volume" else 1.0)
        data[name][flat] = 0.0 if name == "volume" else data[name][flat.start - 1]
        data[name][n - n // 5:n - n // 5 + 3] = np.nan
    return data


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_long_real_runs_through_level_drops_match_the_live_update(name, params):
    """The whole-array loop takes runs of real bars in spans with its state in locals; bar by bar
    the live update takes the step. Both agree across span ends, ring wraps and early re-addings."""
    entry = classic.descriptor(name)
    series = inputs_of(entry, long_runs(1400, 9))
    whole = as_tuple(getattr(classic, name)(*series, **params))
    handle = getattr(stream, name)(*(s[:0] for s in series), **params)
    assert same(stepped_bar_by_bar(handle, series), whole)
    # A handle opened on history (the whole-array loop) leaves the state the step would: it
    # continues bar by bar from a cut inside a long run with the same bits.
    for cut in (300, 1001):
        handle = getattr(stream, name)(*(s[:cut] for s in series), **params)
        assert same(stepped_bar_by_bar(handle, series, range(cut, cut + 120)), tuple(w[cut:cut + 120] for w in whole)), cut


SIDE_BY_SIDE = ["var", "stddev", "linearreg", "linearreg_angle", "tsf", "wma", "hma", "correl", "beta"]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("name", SIDE_BY_SIDE)
def test_a_level_drop_in_any_lane_of_side_by_side_spans_matches_the_live_update(name):
    """Window kernels run the spans between four (or two) re-addings side by side. A drop from
    1e5 to 1e-3 cancels a variance or collapses a magnitude in one lane, and the whole block is
    taken again bar by bar; drops at every third bar across four windows put it in each lane and
    at each distance from a re-adding. The values and the state a cut leaves are the step's."""
    entry = classic.descriptor(name)
    period = 10
    base = inputs_of(entry, bars(700, 4, level=1e5))
    for drop in range(300, 300 + 4 * period + 1, 3):
        series = [np.concatenate([s[:drop], s[drop:] * 1e-8]) for s in base]
        whole = as_tuple(getattr(classic, name)(*series, timeperiod=period))
        handle = getattr(stream, name)(*(s[:0] for s in series), timeperiod=period)
        assert same(stepped_bar_by_bar(handle, series), whole), drop
        handle = getattr(stream, name)(*(s[:drop + 7] for s in series), timeperiod=period)
        assert same(stepped_bar_by_bar(handle, series, range(drop + 7, drop + 67)), tuple(w[drop + 7:drop + 67] for w in whole)), drop


PICKLES = pathlib.Path(__file__).resolve().parent / "snapshot" / "classic_pickles.json"


def pickled_state_digests():
    """Per registry case, a digest of what a handle's pickle carries (name, parameters, state
    version, state bytes) after 400 bars: plain Python values, the same on every interpreter,
    numpy and platform."""
    data = bars(400, 17)
    digests = {}
    for name, params in cases():
        handle = getattr(stream, name)(*inputs_of(classic.descriptor(name), data), **params)
        _, arguments = handle.__reduce__()
        digests[f"{name}:{json.dumps(params, sort_keys=True)}"] = hashlib.sha256(repr(arguments).encode()).hexdigest()
    return digests


def test_pickled_states_keep_their_bytes():
    """Saved handles outlive a release: a state whose fields change order or kind (a template over
    lanes, a new member) changes every pickle users hold. Such a change bumps the state version
    (old pickles are then refused with a clear error) and re-records the digests:
    `python tests/test_classic_routes.py`."""
    recorded = json.loads(PICKLES.read_text())
    changed = [case for case, digest in pickled_state_digests().items() if recorded.get(case) != digest]
    assert not changed, f"{len(changed)} cases pickle differently, first: {changed[:5]}"


if __name__ == "__main__":
    PICKLES.write_text(json.dumps(pickled_state_digests(), indent=1, sort_keys=True) + "\n")


@pytest.mark.every_dispatch
@pytest.mark.parametrize("rewound_to", [-300, 0])
def test_a_trendline_restored_with_its_count_of_prices_rewound_runs_as_it_steps(rewound_to):
    """ht_trendline's run kernel takes the bars with 50 real prices behind them in blocks that assume
    the measurement has started (37 prices taken); a restored state whose count of prices taken
    still lies before that once those 50 are in (a corrupt pickle's) runs on as updates bar by bar do."""
    series = inputs_of(classic.descriptor("ht_trendline"), bars(700, 3))
    restore, (name, params, version, state) = stream.ht_trendline(*(s[:100] for s in series)).__reduce__()
    count = np.int64(100).tobytes()
    assert state.count(count) == 1
    rewound = state.replace(count, np.int64(rewound_to).tobytes())
    whole = restore(name, params, version, rewound).update_many(*(s[100:] for s in series))
    stepped = stepped_bar_by_bar(restore(name, params, version, rewound), [s[100:] for s in series])
    assert same(whole, stepped)
    assert np.isnan(whole[:63 - rewound_to]).all() and not np.isnan(whole[-1])
