"""The classic indicators through pandas and polars: every registry entry and parameter case gives
the classic function's bits, alone, with ``by=`` (groups contiguous or interleaved) and under
``.over``; names, append, errors and the checks on arguments."""

import inspect

import numpy as np
import pytest
from classic_cases import bars, cases

from velkized_ta import _classic_frontend, classic
from velkized_ta.classic import batch as classic_batch

pd = pytest.importorskip("pandas", reason="the pandas front-end needs pandas (tests/requirements.txt)")
pl = pytest.importorskip("polars", reason="the polars front-end needs polars (tests/requirements.txt)")

import velkized_ta.pandas  # noqa: E402,F401
import velkized_ta.polars as vp  # noqa: E402

CASE_IDS = [f"{name}-{'-'.join(f'{k}={v}' for k, v in params.items()) or 'defaults'}" for name, params in cases()]
COLUMNS = ("open", "high", "low", "close", "volume", "real0", "real1", "anchor")
# Symbol lengths: one shorter than any warm-up, one empty of real bars at the start.
LENGTHS = (140, 3, 95, 160)


def symbol_bars(i, n):
    data = {key: value.copy() for key, value in bars(n, seed=40 + i, level=10.0 ** (i + 1)).items()}
    rng = np.random.default_rng(i)
    for key in COLUMNS:
        data[key][:2] = np.nan  # leading NaNs
        data[key][rng.integers(0, n, 3)] = np.nan  # gaps, in different inputs
    for key in ("open", "high", "low", "close", "real0", "real1"):
        data[key][n // 3:n // 3 + 30] = 77.0  # a flat stretch
    return data


@pytest.fixture(scope="module")
def universe():
    """(interleaved frame, contiguous frame, per-symbol data): rows of the symbols mixed by time."""
    pieces = [pd.DataFrame({**symbol_bars(i, n), "symbol": f"S{i}", "t": np.arange(n)}) for i, n in enumerate(LENGTHS)]
    contiguous = pd.concat(pieces, ignore_index=True)
    interleaved = contiguous.sort_values("t", kind="stable").reset_index(drop=True)
    return interleaved, contiguous, {f"S{i}": symbol_bars(i, n) for i, n in enumerate(LENGTHS)}


def as_tuple(values):
    return values if isinstance(values, tuple) else (values,)


def assert_bits(got, want):
    got, want = np.asarray(got, dtype=np.float64), np.asarray(want)
    assert got.dtype == want.dtype == np.float64
    nan = np.isnan(want)
    assert np.array_equal(np.isnan(got), nan)
    assert np.array_equal(got[~nan].view(np.int64), want[~nan].view(np.int64))


def expected_by_symbol(name, params, frame, data):
    """The function on each symbol alone, scattered back to the frame's rows."""
    entry = classic.descriptor(name)
    out = [np.empty(len(frame)) for _ in entry["outputs"]]
    for symbol, rows in frame.groupby("symbol", sort=False).indices.items():
        values = as_tuple(getattr(classic, name)(*(data[symbol][i] for i in entry["inputs"]), **params))
        for o, v in zip(out, values):
            o[rows] = v
    return out


def columns_of(result, entry, params):
    _, labels = _classic_frontend.labels(entry, _classic_frontend.bind(entry, (), params))
    if isinstance(result, pd.Series):
        assert [result.name] == labels
        return [result.to_numpy()]
    if isinstance(result, pd.DataFrame):
        assert list(result.columns) == labels
        return [result[c].to_numpy() for c in labels]
    if result.dtype == pl.Struct:
        fields = result.dtype.fields
        assert [f.name for f in fields] == labels and all(f.dtype == pl.Float64 for f in fields)
        return [result.struct.field(c).to_numpy() for c in labels]
    assert result.dtype == pl.Float64 and len(labels) == 1
    return [result.to_numpy()]


@pytest.mark.every_dispatch
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_pandas_and_polars_give_the_function_bits(name, params, universe):
    entry = classic.descriptor(name)
    interleaved, contiguous, data = universe
    labels = {role: role for role in entry["optional_inputs"]}  # an anchor from its column, as the function has it
    one = data["S0"]
    alone = as_tuple(getattr(classic, name)(*(one[i] for i in entry["inputs"]), **params))
    frame_one = pd.DataFrame({key: one[key] for key in COLUMNS})
    method = getattr(frame_one.velk.classic, name)
    for got, want in zip(columns_of(method(**params, **labels), entry, params), alone):
        assert_bits(got, want)
    if len(entry["inputs"]) == 1:
        series_result = getattr(frame_one[entry["inputs"][0]].velk.classic, name)(**params)
        for got, want in zip(columns_of(series_result, entry, params), alone):
            assert_bits(got, want)
    polars_one = pl.DataFrame(frame_one).select(getattr(vp.classic, name)(**params, **labels)).to_series()
    for got, want in zip(columns_of(polars_one, entry, params), alone):
        assert_bits(got, want)

    for frame in (interleaved, contiguous):
        expected = expected_by_symbol(name, params, frame, data)
        grouped = getattr(frame.velk.classic, name)(**params, **labels, by="symbol")
        for got, want in zip(columns_of(grouped, entry, params), expected):
            assert_bits(got, want)
        lazy = pl.DataFrame(frame).lazy()
        function = getattr(vp.classic, name)
        for expression in (function(**params, **labels, by="symbol"), function(**params, **labels).over("symbol")):
            result = lazy.select(expression).collect().to_series()
            for got, want in zip(columns_of(result, entry, params), expected):
                assert_bits(got, want)


def test_every_registry_entry_has_its_front_end_methods():
    accessor = pd.DataFrame({"close": [1.0]}).velk.classic
    for entry in classic.REGISTRY:
        expression, method = getattr(vp.classic, entry["name"]), getattr(accessor, entry["name"])
        params = [(p["name"], p["default"]) for p in entry["params"]]
        for function, leading in ((expression, list(entry["inputs"])), (method, [])):
            assert function.__doc__.startswith(entry["summary"])
            signature = inspect.signature(function).parameters.values()
            positional = [(q.name, q.default) for q in signature if q.kind is q.POSITIONAL_OR_KEYWORD]
            assert positional == [(name, None) for name in leading] + params, entry["name"]


def test_result_names_follow_the_documented_rule():
    frame = pd.DataFrame(bars(60, 1))
    assert frame.velk.classic.sma(10).name == "sma_10"
    assert list(frame.velk.classic.macd()) == ["macd_12_26_9", "macd_signal_12_26_9", "macd_hist_12_26_9"]
    assert list(frame.velk.classic.bbands(20, 1.5))[0] == "bbands_upperband_20_1.5_2_0"
    expression = vp.classic.bbands(pl.col("close"), 20, nbdevdn=2.5)
    assert expression.meta.output_name() == "bbands_20_2_2.5_0"
    for entry in classic.REGISTRY:  # outputs of one indicator never share a name
        _, labels = _classic_frontend.labels(entry, [p["default"] for p in entry["params"]])
        assert len(set(labels)) == len(labels) == len(entry["outputs"])


def test_columns_by_keyword_append_and_refusals():
    data = bars(80, 2)
    frame = pd.DataFrame({"Close": data["close"], "H": data["high"], "low": data["low"], "close2": data["open"]})
    want = classic.atr(data["high"], data["low"], data["close"], 5)
    assert_bits(frame.velk.classic.atr(5, high="H").to_numpy(), want)
    assert_bits(frame.velk.classic.sma(4, close="close2").to_numpy(), classic.sma(data["open"], 4))
    appended = frame.velk.classic.stoch(high="H", append=True)
    assert list(appended.columns[-2:]) == ["stoch_slowk_5_3_3_0_0", "stoch_slowd_5_3_3_0_0"]
    with pytest.raises(ValueError, match="already has the column"):
        appended.velk.classic.stoch(high="H", append=True)
    with pytest.raises(TypeError, match="call it on a DataFrame"):
        frame["Close"].velk.classic.atr()
    with pytest.raises(TypeError, match="takes no columns and no by="):
        frame["Close"].velk.classic.sma(by="x")
    with pytest.raises(ValueError, match="'timeperiod' must be in"):
        frame.velk.classic.sma(0)
    with pytest.raises(ValueError, match="'timeperiod' must be in"):
        vp.classic.sma(pl.col("Close"), 0)
    with pytest.raises(ValueError, match="errors"):
        frame.velk.classic.sma(errors="ignore")
    with pytest.raises(KeyError, match="volume"):
        frame.velk.classic.obv()
    with pytest.raises(TypeError, match="unexpected keyword"):
        frame.velk.classic.sma(period=3)
    with pytest.raises(TypeError, match="real numbers"):
        pd.DataFrame({"close": ["a", "b"]}).velk.classic.sma(2)
    nullable = pd.DataFrame({"close": pd.array([1.0, None, 3.0, 4.0, 5.0], dtype="Float64")})
    assert_bits(nullable.velk.classic.sma(2).to_numpy(), classic.sma(np.array([1.0, np.nan, 3, 4, 5]), 2))
    nulls = pl.DataFrame({"close": [1.0, 2.0, 3.0]}).select(vp.classic.sma(timeperiod=2, nulls=True)).to_series()
    assert nulls.to_list() == [None, 1.5, 2.5]


def test_a_failing_group_is_named_or_nan(monkeypatch):
    """The classic indicators have no failing data; a failure such as memory is simulated."""
    frame = pd.DataFrame({"close": np.arange(30.0), "symbol": ["A"] * 10 + ["B"] * 10 + ["C"] * 10})
    original = classic.sma

    def batch_fails(*args, **kwargs):
        raise MemoryError("no memory")

    def sma_fails_on_b(close, *args, **kwargs):
        if close[0] == 10.0:
            raise MemoryError("no memory")
        return original(close, *args, **kwargs)

    with monkeypatch.context() as patched:  # groups go through the batch route, not one by one
        patched.setattr(_classic_frontend, "_by_group", None)
        frame.velk.classic.sma(3, by="symbol")
        pl.DataFrame(frame).select(vp.classic.sma(timeperiod=3, by="symbol"))
    monkeypatch.setattr(classic_batch, "sma", batch_fails)
    monkeypatch.setattr(classic, "sma", sma_fails_on_b)
    with pytest.raises(MemoryError, match=r"\(in group symbol='B'\)"):
        frame.velk.classic.sma(3, by="symbol")
    with pytest.warns(velkized_ta.pandas.UndefinedWarning, match="symbol='B'"):
        values = frame.velk.classic.sma(3, by="symbol", errors="nan").to_numpy()
    assert np.isnan(values[10:20]).all()
    assert_bits(values[20:], original(np.arange(20.0, 30.0), 3))


def test_session_labels_from_the_index_an_alias_a_column_or_values():
    """pandas: anchor=None is a session per local calendar day of a DatetimeIndex (one session on
    any other index), a string a column or else a period alias, values one label per row (text as
    codes); polars: an expression of labels or None. Each gives the function's bits with those labels."""
    n = 240
    data = bars(n, 12)
    inputs = [data[k] for k in ("high", "low", "close", "volume")]
    # 41-minute bars across local midnights, zoned: a UTC day would split the sessions elsewhere.
    times = pd.date_range("2024-03-08 20:00", periods=n, freq="41min", tz="America/New_York")
    local_day = np.array([t.toordinal() for t in times.tz_localize(None).normalize()], dtype=np.float64)
    week = np.array([t.isocalendar()[:2] for t in times.tz_localize(None)])
    week = (week[:, 0] * 100 + week[:, 1]).astype(np.float64)
    symbol, runs = np.repeat(["A", "B", "C"], n // 3), np.repeat([0, 1, 2], n // 3)
    frame = pd.DataFrame(dict(zip(("high", "low", "close", "volume"), inputs), symbol=symbol), index=times)

    def function(labels=None):
        return classic.vwap(*inputs, labels)

    def per_symbol(labels):  # by= computes each symbol alone: its first bar starts a session anyway
        return np.concatenate([classic.vwap(*(x[rows] for x in inputs), labels[rows])
                               for rows in np.split(np.arange(n), 3)])

    assert not np.array_equal(function(local_day), function(), equal_nan=True)
    for got, labels in [(frame.velk.classic.vwap(), local_day), (frame.velk.classic.vwap(anchor="W"), week),
                        (frame.velk.classic.vwap(anchor="symbol"), runs),
                        (frame.velk.classic.vwap(anchor=list(symbol)), runs),
                        (frame.velk.classic.vwap(anchor=local_day * 2), local_day),
                        (frame.reset_index(drop=True).velk.classic.vwap(), None)]:
        assert_bits(got.to_numpy(), function(None if labels is None else np.cumsum(np.r_[0, np.diff(labels) != 0])))
    nested = frame.set_index("symbol", append=True).swaplevel()  # (symbol, time): the time level's days
    assert_bits(nested.velk.classic.vwap(by="symbol").to_numpy(), per_symbol(local_day))
    for anchor, error, message in [("weekly", ValueError, "argument 'anchor'='weekly' is no column"),
                                   (np.arange(3), ValueError, "argument 'anchor' must hold one label per row")]:
        with pytest.raises(error, match=message):
            frame.velk.classic.vwap(anchor=anchor)
    with pytest.raises(TypeError, match="needs a DatetimeIndex"):
        frame.reset_index(drop=True).velk.classic.vwap(anchor="D")

    table = pl.from_pandas(frame.reset_index(names="time"))
    for expression, labels in [(vp.classic.vwap(), None), (vp.classic.vwap(anchor="symbol"), runs),
                               (vp.classic.vwap(anchor=pl.col("time").dt.date()), local_day)]:
        got = table.select(expression).to_series().to_numpy()
        assert_bits(got, function(None if labels is None else np.cumsum(np.r_[0, np.diff(labels) != 0])))
    grouped = table.select(vp.classic.vwap(anchor=pl.col("time").dt.date(), by="symbol")).to_series()
    assert_bits(grouped.to_numpy(), per_symbol(local_day))
