"""A universe of symbols through the front-ends: one bad symbol never hides the others.

Flat, back-filled, too-short, NaN-only and zero-priced symbols among normal ones, through pandas
``by=``, polars ``by=`` and ``.over``, live and exact values, ``errors`` both ways; the warnings on
unreliable data; prices and columns the front-ends refuse.
"""

import re
import warnings

import numpy as np
import pytest

pd = pytest.importorskip("pandas", reason="the pandas front-end needs pandas (tests/requirements.txt)")
pl = pytest.importorskip("polars", reason="the polars front-end needs polars (tests/requirements.txt)")

import velkized_ta.pandas as vpd  # noqa: E402
import velkized_ta.polars as vp  # noqa: E402
from velkized_ta import stream, velk_ta_funcs  # noqa: E402
from velkized_ta._frontend import INDICATORS  # noqa: E402
from velkized_ta.sample import sample_ohlc  # noqa: E402

# numpy's own warning for the NaN-only symbols' seed windows is not what these tests count.
pytestmark = pytest.mark.filterwarnings("ignore:Mean of empty slice:RuntimeWarning")
COLUMNS = {"a": "close", "b": "open"}
# The indicators that fail on some symbol of the universe, and two that never do.
FAILING = ("dx", "adx", "adxr", "ema", "sma", "natr")
NEVER_FAILING = ("rsi", "willr")


def bits(values):
    return np.asarray(values, dtype=np.float32).view(np.uint32)


def _symbol(kind, i):
    n = {"short": 3}.get(kind, 90 + i % 40)
    bars = sample_ohlc(n, seed=100 + i)
    if kind == "flat":
        bars = {key: np.full(n, 50.0, np.float32) for key in bars}
    elif kind == "backfilled":  # a stretch repeating the last real bar, as a forward-filled gap gives
        for key in bars:
            bars[key][20:60] = bars["close"][19]
    elif kind == "nan":
        bars = {key: np.full(n, np.nan, np.float32) for key in bars}
    elif kind == "zero":  # one bad print of 0
        for key in bars:
            bars[key][30] = 0.0
    return bars


KINDS = ["normal"] * 40 + ["flat", "flat", "backfilled", "backfilled", "short", "short", "nan", "nan",
                           "zero", "zero"]


@pytest.fixture(scope="module")
def universe():
    """50 symbols, the odd ones spread among the normal ones, rows interleaved by time."""
    kinds = np.random.default_rng(5).permutation(KINDS)
    frames = [pd.DataFrame({**_symbol(kind, i), "symbol": f"{kind[:4].upper()}{i:02d}", "t": np.arange(n)})
              for i, kind in enumerate(kinds) for n in [len(_symbol(kind, i)["close"])]]
    return pd.concat(frames, ignore_index=True).sort_values("t", kind="stable").reset_index(drop=True)


def _columns(name, rows):
    return [np.ascontiguousarray(rows[COLUMNS.get(role, role)], dtype=np.float32) for role, _ in INDICATORS[name].roles]


def handle_bar_by_bar(name, rows):
    """A stream handle over the group's bars one at a time, NaN where it refuses a bar."""
    spec = INDICATORS[name]
    series = _columns(name, rows)
    handle = getattr(stream, spec.function)(*(s[:0] for s in series), **spec.periods, **spec.options)
    out = np.full(len(series[0]), np.nan, np.float32)
    for i in range(len(out)):
        try:
            out[i] = handle.update(*(s[i] for s in series))
        except ZeroDivisionError:
            pass
    return out


def exact_or_nan(name, rows):
    spec = INDICATORS[name]
    try:
        return getattr(velk_ta_funcs, spec.function)(*_columns(name, rows), **spec.periods, **spec.options)
    except (IndexError, ZeroDivisionError):
        return np.full(len(rows), np.nan, np.float32)


def _failing_groups(name, universe, exact):
    failing = []
    for symbol, rows in universe.groupby("symbol", sort=False):
        spec = INDICATORS[name]
        try:
            if exact:
                getattr(velk_ta_funcs, spec.function)(*_columns(name, rows), **spec.periods, **spec.options)
            else:
                series = _columns(name, rows)
                getattr(stream, spec.function)(*(s[:0] for s in series), **spec.periods,
                                               **spec.options).update_many(*series)
        except ZeroDivisionError:
            failing.append(symbol)
        except IndexError:
            pass
    return failing


def _message(error):
    return str(error) + "".join(getattr(error, "__notes__", []))


def _only_warning(caught, category):
    mine = [w for w in caught if issubclass(w.category, category)]
    assert len(mine) == 1, [str(w.message) for w in mine]
    return str(mine[0].message)


@pytest.mark.parametrize("exact", [False, True], ids=["live", "exact"])
@pytest.mark.parametrize("name", FAILING + NEVER_FAILING)
def test_universe_with_bad_symbols(universe, name, exact):
    failing = _failing_groups(name, universe, exact)
    assert bool(failing) == (name in FAILING)
    table = pl.from_pandas(universe)
    runs = {
        "pandas by=": lambda **kw: getattr(universe.velk, name)(by="symbol", exact=exact, **kw).to_numpy(),
        "polars by=": lambda **kw: table.select(getattr(vp, name)(by="symbol", exact=exact, **kw))
        .to_series().to_numpy(),
    }
    # errors="raise" (the default) names the first failing group in the frame's row order.
    if failing:
        first = universe.loc[universe["symbol"].isin(failing), "symbol"].iloc[0]
        for route, run in runs.items():
            with pytest.raises(ZeroDivisionError) as caught:
                run()
            assert f"symbol='{first}'" in _message(caught.value), route

    expected = np.empty(len(universe), np.float32)
    for symbol, rows in universe.groupby("symbol", sort=False):
        expected[rows.index] = exact_or_nan(name, rows) if exact else handle_bar_by_bar(name, rows)
    runs["polars .over"] = lambda **kw: table.select(getattr(vp, name)(exact=exact, **kw).over("symbol")) \
        .to_series().to_numpy()
    for route, run in runs.items():
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            values = run(errors="nan")
        assert np.array_equal(bits(values), bits(expected)), route
        if not failing:
            assert not [w for w in caught if issubclass(w.category, vpd.UndefinedWarning)], route
        if route == "polars .over" or not failing:
            continue
        text = _only_warning(caught, vpd.UndefinedWarning)
        assert f"{len(failing)} of 50 groups" in text, route
        shown = re.findall(r"symbol='(\w+)'", text)
        assert 0 < len(shown) <= 5 and set(shown) <= set(failing), route


def test_errors_argument_is_checked_and_argument_errors_still_raise():
    bars = pd.DataFrame(sample_ohlc(40))
    with pytest.raises(ValueError, match="'errors' must be 'raise' or 'nan'"):
        bars.velk.rsi(14, errors="ignore")
    with pytest.raises(ValueError, match="'errors' must be 'raise' or 'nan'"):
        vp.rsi(errors=True)
    with pytest.raises(TypeError, match="must be an integer"):
        bars.velk.rsi("14", errors="nan")


def fx_minute_bars(n, seed=0):
    """EUR/USD-like one-minute bars: price about 1.1, steps and ranges of a pip or so."""
    rng = np.random.default_rng(seed)
    close = 1.1 + np.cumsum(rng.normal(0, 8e-5, n))
    return {"high": close + np.abs(rng.normal(0, 5e-5, n)), "low": close - np.abs(rng.normal(0, 5e-5, n)),
            "close": close}


@pytest.mark.parametrize("exact", [False, True])
def test_cci_warns_when_float32_variance_fails(exact):
    fx = pd.DataFrame(fx_minute_bars(5000))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        values = fx.velk.cci(20, exact=exact)
        pl.DataFrame(fx).select(vp.cci(timeperiod=20, exact=exact))
    assert np.isnan(values[19:]).mean() > 0.1
    texts = [str(w.message) for w in caught if issubclass(w.category, vpd.PrecisionWarning)]
    assert len(texts) == 2 and "Subtract a reference level" in texts[0]
    # The advice works: shifted prices give values everywhere, and no warning.
    shifted = fx - fx["close"].iloc[0]
    with warnings.catch_warnings():
        warnings.simplefilter("error", vpd.PrecisionWarning)
        assert not np.isnan(shifted.velk.cci(20, exact=exact)[19:]).any()
        pd.DataFrame(sample_ohlc(3000)).velk.cci(20, exact=exact)


def test_groups_going_back_in_time_warn():
    times = pd.date_range("2024-01-02", periods=60, freq="min")
    frames = [pd.DataFrame({**sample_ohlc(60, seed=i), "symbol": s}, index=times)
              for i, s in enumerate(["AAA", "BBB", "CCC"])]
    frames[1] = frames[1].iloc[::-1]  # BBB newest first
    frame = pd.concat(frames)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        frame.velk.rsi(14, by="symbol")
    text = _only_warning(caught, vpd.RowOrderWarning)
    assert "1 of 3 groups (symbol='BBB')" in text and "frame's order" in text
    with warnings.catch_warnings():
        warnings.simplefilter("error", vpd.RowOrderWarning)
        pd.concat([frames[0], frames[2]]).velk.rsi(14, by="symbol")  # each symbol in time order
        frames[0].set_index("symbol", append=True).velk.rsi(14, by="symbol")


def _bars(n=40):
    return pd.DataFrame(sample_ohlc(n))


@pytest.mark.parametrize("make, call, error, text", [
    (lambda: pd.concat([_bars(), _bars()[["close"]]], axis=1), lambda b: b.velk.rsi(14),
     ValueError, "column 'close' for the close prices appears 2 times"),
    (lambda: _bars().assign(sym="A").pipe(lambda b: pd.concat([b, b[["sym"]]], axis=1)),
     lambda b: b.velk.rsi(14, by="sym"), ValueError, "by='sym' names 2 columns"),
    (lambda: _bars().assign(Close=1.0), lambda b: b.drop(columns="close").assign(CLOSE=2.0).velk.rsi(14),
     ValueError, "all match 'close'"),
    (lambda: _bars().assign(close=pd.date_range("2024", periods=40)), lambda b: b.velk.rsi(14),
     TypeError, "column 'close' for the close prices has dtype datetime64"),
    (lambda: _bars().assign(close=pd.to_timedelta(np.arange(40), "s")), lambda b: b.velk.rsi(14),
     TypeError, "has dtype timedelta64"),
    (lambda: _bars().assign(close=pd.Series([str(v) for v in range(40)], dtype=object)), lambda b: b.velk.rsi(14),
     TypeError, "has dtype object (holding string values)"),
    (lambda: _bars().assign(close=pd.array([str(v) for v in range(40)], dtype="string")),
     lambda b: b.velk.rsi(14), TypeError, "has dtype string"),
    (lambda: _bars().assign(close=np.arange(40) + 1j), lambda b: b.velk.rsi(14), TypeError, "has dtype complex128"),
    (lambda: _bars().assign(close=np.arange(40) + 1j), lambda b: b["close"].velk.rsi(14),
     TypeError, "the series for the close prices has dtype complex128"),
    (lambda: _bars().assign(rsi_14=0.0), lambda b: b.velk.rsi(14, append=True),
     ValueError, "already has a column 'rsi_14'"),
    (lambda: pl.DataFrame(sample_ohlc(40)).with_columns(pl.datetime_range(
        pl.datetime(2024, 1, 1), pl.datetime(2024, 1, 1, 0, 39), "1m", eager=True).alias("close")),
     lambda t: t.select(vp.rsi()), Exception, "column 'close' for the close prices has dtype Datetime"),
    (lambda: pl.DataFrame(sample_ohlc(40)).with_columns(pl.col("close").cast(pl.String)),
     lambda t: t.select(vp.rsi()), Exception, "dtype String"),
])
def test_refused_prices_and_columns(make, call, error, text):
    data = make()
    with pytest.raises(error) as caught:
        call(data)
    assert text in str(caught.value)


def test_nullable_booleans_and_na_become_nan():
    flags = pd.Series([True, False, pd.NA, True] * 10, dtype="boolean")
    expected = np.array([1, 0, np.nan, 1] * 10, np.float32)
    assert np.array_equal(bits(flags.velk.sma(3, normalize=False, exact=True)),
                          bits(velk_ta_funcs.velk_sma(expected, 3, normalize=False)))
    table = pl.DataFrame({"close": pl.Series([True, False, None, True] * 10)})
    got = table.select(vp.sma(timeperiod=3, normalize=False, exact=True)).to_series().to_numpy()
    assert np.array_equal(bits(got), bits(velk_ta_funcs.velk_sma(expected, 3, normalize=False)))
