"""Tables with one series per column whose indicator steps the columns together in vector lanes
(registry rows with "lanes"): every column keeps the bits of the function on that column alone,
whatever the width (partial lane groups, several blocks), the NaN runs of each column, the
table's memory order and the input and output dtypes."""

import numpy as np
import pytest
from classic_cases import bars, cases, inputs_of

from velkized_ta import classic
from velkized_ta.classic import batch

LANES = [entry for entry in classic.REGISTRY if entry["lanes"]]
LANE_CASES = [(name, params) for name, params in cases() if classic.descriptor(name)["lanes"]]
LANE_IDS = [f"{name}-{'-'.join(f'{k}={v}' for k, v in params.items()) or 'defaults'}" for name, params in LANE_CASES]


def as_tuple(values):
    return values if isinstance(values, tuple) else (values,)


def table(entry, width, length, seed):
    """One input table per input: each column its own series, with a leading NaN run and (in two
    columns of three) a gap whose place and length differ from column to column (some columns all
    NaN at the start)."""
    columns = []
    for j in range(width):
        data = bars(length, seed + j)
        series = [x.astype(np.float64).copy() for x in inputs_of(entry, data)]
        lead = (3 * j) % 23
        gap = 40 + (11 * j) % 60
        for k, x in enumerate(series):
            x[:lead] = np.nan
            if j % 3 != 2:
                x[gap + k:gap + k + 1 + j % 5] = np.nan  # inputs missing at different bars
        if j % 4 == 1:
            series[0][length // 2:length // 2 + 30] = series[0][length // 2]  # flat stretch
        columns.append(series)
    return [np.stack([c[k] for c in columns], axis=1) for k in range(len(entry["inputs"]))]


def expected_columns(name, tables, params, dtype=np.float64):
    width = tables[0].shape[1]
    return [as_tuple(getattr(classic, name)(*(np.ascontiguousarray(t[:, j]) for t in tables), **params, dtype=dtype))
            for j in range(width)]


def assert_columns(got, want):
    for j, expected in enumerate(want):
        for out, exp in zip(as_tuple(got), expected):
            assert out[:, j].dtype == exp.dtype
            assert out[:, j].tobytes() == exp.tobytes(), f"column {j}"


def test_the_registry_lists_indicators_with_lanes():
    assert LANES, "no registry entry steps columns in lanes"


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), LANE_CASES, ids=LANE_IDS)
def test_columns_in_lanes_keep_each_series_bits(name, params):
    entry = classic.descriptor(name)
    # Partial groups of 2, 4 and 8 lanes; 130: a block per thread with two, and a large state
    # (MACD's) walks a block of 130 in several passes.
    for width in (1, 3, 5, 9, 17, 130):
        tables = table(entry, width, 260, seed=width)
        expected = expected_columns(name, tables, params)
        for threads in (1, 2):
            assert_columns(getattr(batch, name)(*tables, **params, axis=0, threads=threads), expected)


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", LANES, ids=[entry["name"] for entry in LANES])
def test_strided_fortran_and_float32_tables(entry):
    name = entry["name"]
    tables = table(entry, 11, 200, seed=7)
    expected = expected_columns(name, tables, {})
    # Every other column of a wider table, and the same values in column-major order.
    wider = [np.repeat(t, 2, axis=1) for t in tables]
    assert_columns(getattr(batch, name)(*(w[:, ::2] for w in wider), axis=0), expected)
    assert_columns(getattr(batch, name)(*(np.asfortranarray(t) for t in tables), axis=0), expected)
    # float32 input, read in place (its inputs in different memory orders): each series as the
    # function reads the same float32 column.
    narrow = [t.astype(np.float32) for t in tables]
    narrow[0] = np.asfortranarray(narrow[0])
    assert_columns(getattr(batch, name)(*narrow, axis=0), expected_columns(name, narrow, {}))
    assert_columns(getattr(batch, name)(*tables, axis=0, dtype=np.float32),  # float32 output
                   expected_columns(name, tables, {}, dtype=np.float32))


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", LANES, ids=[entry["name"] for entry in LANES])
def test_a_column_of_nan_and_inf_bars_leaves_its_neighbours_alone(entry):
    name = entry["name"]
    tables = table(entry, 8, 120, seed=3)
    tables[0][:, 2] = np.nan  # never a real bar
    tables[-1][60:, 5] = np.inf  # infinite bars are real: they reach the state
    tables[-1][70:, 6] = -np.inf
    for t in tables:  # +0 and -0 in one window: the newest of equal extremes
        t[:, 7] = np.where(np.arange(len(t)) % 3 == 0, -0.0, 0.0)
    assert_columns(getattr(batch, name)(*tables, axis=0), expected_columns(name, tables, {}))


PRICED = [entry for entry in LANES if {"high", "volume"} & set(entry["inputs"])]


@pytest.mark.every_dispatch
@pytest.mark.parametrize("entry", PRICED, ids=[entry["name"] for entry in PRICED])
def test_bars_without_range_or_volume_in_some_columns(entry):
    """Stretches of bars without range (high == low == close) and without volume, each in some
    columns only: the selects of such a bar (ad's zero term for no range, the true range) pick
    lane by lane, beside lanes with ordinary bars."""
    name, inputs = entry["name"], entry["inputs"]
    tables = table(entry, 9, 160, seed=5)
    level = tables[inputs.index("close" if "close" in inputs else "low")]
    for j in range(0, 9, 2):
        rows = slice(20 + 7 * j, 70 + 7 * j)
        for price in ("open", "high", "low"):
            if price in inputs:
                tables[inputs.index(price)][rows, j] = level[rows, j]
    if "volume" in inputs:
        tables[inputs.index("volume")][90:150, 1::3] = 0.0
    assert_columns(getattr(batch, name)(*tables, axis=0), expected_columns(name, tables, {}))


WINDOW_LIMIT = 4096  # kWindowLanesMaxPeriod: longer windows take the per-series route


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), [
    ("willr", {"timeperiod": WINDOW_LIMIT}),
    ("midpoint", {"timeperiod": WINDOW_LIMIT + 1}),
    ("stochf", {"fastd_period": WINDOW_LIMIT + 1}),
    ("stochf", {"fastd_period": 1, "fastd_matype": 1}),  # fastk itself, in lanes
], ids=lambda v: v if isinstance(v, str) else "-".join(f"{k}={x}" for k, x in v.items()))
def test_window_lanes_at_their_limits(name, params):
    entry = classic.descriptor(name)
    tables = table(entry, 9, WINDOW_LIMIT + 300, seed=5)
    assert_columns(getattr(batch, name)(*tables, **params, axis=0), expected_columns(name, tables, params))


def test_float32_tables_on_routes_without_lanes_are_converted():
    """Only a lane entry's column layout reads float32 in place; rows, offsets and per-series
    entries take the float64 conversion and give the same values."""
    without = next(entry for entry in classic.REGISTRY if not entry["lanes"] and len(entry["inputs"]) == 1)
    closes = table(without, 6, 150, seed=11)[0].astype(np.float32)
    assert_columns(getattr(batch, without["name"])(closes, axis=0),
                   expected_columns(without["name"], [closes], {}))
    name = LANES[0]["name"]
    narrow = [t.astype(np.float32) for t in table(LANES[0], 6, 150, seed=12)]
    by_rows = as_tuple(getattr(batch, name)(*(t.T for t in narrow), axis=1))
    assert_columns(tuple(o.T for o in by_rows), expected_columns(name, narrow, {}))
