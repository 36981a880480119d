"""pandas and polars front-ends: the data users hold in, the exact or live values out."""

import numpy as np
import pytest

pd = pytest.importorskip("pandas", reason="the pandas front-end needs pandas (tests/requirements.txt)")
pl = pytest.importorskip("polars", reason="the polars front-end needs polars (tests/requirements.txt)")

import velkized_ta.pandas  # noqa: E402,F401  (registers the accessor)
import velkized_ta.polars as vp  # noqa: E402
from velkized_ta import velk_ta_funcs  # noqa: E402
from velkized_ta._frontend import INDICATORS  # noqa: E402
from velkized_ta.sample import sample_ohlc  # noqa: E402


def bits(values):
    return np.asarray(values, dtype=np.float32).view(np.uint32)


def exact_values(name, bars, **periods):
    """The exact function on contiguous float32 columns; NaN where it fails for want of bars."""
    spec = INDICATORS[name]
    periods = {**spec.periods, **periods}
    columns = {"a": "close", "b": "open"}
    arrays = {parameter: np.ascontiguousarray(bars[columns.get(role, role)], dtype=np.float32)
              for role, parameter in spec.roles}
    try:
        return getattr(velk_ta_funcs, spec.function)(**arrays, **periods, **spec.options)
    except IndexError:
        return np.full(len(bars["close"]), np.nan, dtype=np.float32)


@pytest.fixture(scope="module")
def universe():
    """Three symbols of different lengths (one shorter than most warm-ups), rows interleaved."""
    frames = []
    for symbol, n in (("AAA", 120), ("BBB", 80), ("NEW", 5)):
        frames.append(pd.DataFrame({**sample_ohlc(n, seed=len(symbol) * n), "symbol": symbol,
                                    "t": np.arange(n)}))
    frame = pd.concat(frames, ignore_index=True)
    return frame.sample(frac=1.0, random_state=7).sort_values("t", kind="stable")


@pytest.mark.parametrize("name", sorted(INDICATORS))
def test_exact_values_per_group_in_the_frames_order(universe, name):
    grouped = getattr(universe.velk, name)(by="symbol", exact=True)
    assert grouped.index.equals(universe.index) and grouped.dtype == np.float32
    for symbol, rows in universe.groupby("symbol", sort=False):
        expected = exact_values(name, {c: rows[c].to_numpy() for c in rows.columns})
        assert np.array_equal(bits(grouped.loc[rows.index]), bits(expected)), symbol

    table = pl.from_pandas(universe.reset_index(drop=True))
    expr = getattr(vp, name)(exact=True).over("symbol")
    over = table.lazy().select(expr).collect().to_series()
    assert over.dtype == pl.Float32
    assert np.array_equal(bits(over.to_numpy()), bits(grouped.to_numpy()))
    by = table.select(getattr(vp, name)(exact=True, by="symbol")).to_series()
    assert np.array_equal(bits(by.to_numpy()), bits(grouped.to_numpy()))


def test_names_columns_and_append():
    bars = pd.DataFrame(sample_ohlc(60)).rename(columns=str.upper)
    assert bars.velk.rsi(14, exact=True).name == "rsi_14"
    assert bars.velk.macd(exact=True).name == "macd_12_26" and bars.velk.ult(exact=True).name == "ult_7_14_28"
    appended = bars.velk.willr(10, append=True, exact=True)
    assert list(appended.columns[-1:]) == ["willr_10"] and "willr_10" not in bars.columns
    renamed = bars.rename(columns={"CLOSE": "last"})
    assert np.array_equal(bits(renamed.velk.rsi(14, close="last", exact=True)),
                          bits(bars.velk.rsi(14, exact=True)))
    assert np.array_equal(bits(bars["CLOSE"].velk.ema(5, exact=True)), bits(bars.velk.ema(5, exact=True)))


@pytest.mark.parametrize("dtype", ["float64", "Float64", "int64", "float32"])
def test_any_real_dtype_is_rounded_once_to_float32(dtype):
    close = pd.Series(np.linspace(100, 120, 40)).astype(dtype)
    if dtype == "Float64":
        close[3] = pd.NA
    expected = close.to_numpy(dtype=np.float64, na_value=np.nan).astype(np.float32)
    assert np.array_equal(bits(close.velk.sma(5, exact=True)),
                          bits(velk_ta_funcs.velk_sma(expected, 5)))


PRICES = ("open", "high", "low", "close")


@pytest.mark.parametrize("layout", ["runs", "interleaved"])
@pytest.mark.parametrize("name", ["rsi", "willr", "adx", "macd", "cci"])
def test_live_values_round_float64_prices_as_numpy_casts_them(name, layout):
    # The live loops read float64 columns and round each price as they go: the bits of the cast.
    bars = pd.DataFrame(sample_ohlc(300, seed=5)).astype({c: np.float64 for c in PRICES})
    rng = np.random.default_rng(2)
    for column in PRICES:  # float64 bits below float32's precision: the rounding decides
        bars[column] += rng.integers(-3, 4, 300) * 2.0 ** -30
    bars.loc[40:42, "close"] = np.nan
    bars["symbol"] = np.repeat(["A", "B", "C"], 100) if layout == "runs" else np.tile(["A", "B", "C"], 100)
    got = getattr(bars.velk, name)(by="symbol")
    want = getattr(bars.astype({c: np.float32 for c in PRICES}).velk, name)(by="symbol")
    assert got.dtype == np.float32 and np.array_equal(bits(got), bits(want))


def test_a_price_beyond_float32_warns_as_the_cast_does():
    bars = pd.DataFrame(sample_ohlc(50)).astype({c: np.float64 for c in PRICES})
    bars.loc[10, "close"] = 1e300
    with pytest.warns(RuntimeWarning, match="overflow encountered in cast"):
        got = bars.velk.rsi(5)
    with np.errstate(over="ignore"):
        want = bars.astype({c: np.float32 for c in PRICES}).velk.rsi(5)
    assert np.array_equal(bits(got), bits(want))


@pytest.mark.parametrize("call, error, text", [
    (lambda b: b.velk.rsi(0), ValueError, "'timeperiod' must be at least 1, got 0"),
    (lambda b: b.velk.rsi(-3), ValueError, "'timeperiod' must be at least 1"),
    (lambda b: b.velk.rsi(2.5), TypeError, "'timeperiod' must be an integer"),
    (lambda b: b.velk.macd(26, 12), ValueError, "'short_period' (26) must be less than 'long_period' (12)"),
    (lambda b: b.velk.ult(7, 30, 28), ValueError, "'medium_period' (30) must be less than 'long_period' (28)"),
    (lambda b: b.velk.willr(14, high="nope"), KeyError, "no column 'nope' for the high prices"),
    (lambda b: b.drop(columns="low").velk.natr(), KeyError, "no column 'low' for the low prices"),
    (lambda b: b.velk.rsi(14, by="sector"), KeyError, "by='sector'"),
    (lambda b: b["close"].velk.willr(), TypeError, "needs several price series"),
    (lambda b: b.velk.rsi(14, period=3), TypeError, "unexpected keyword argument 'period'"),
    (lambda b: vp.macd(pl.col("close"), 12, 12), ValueError, "'short_period' (12) must be less than"),
    (lambda b: vp.rsi(3), TypeError, "argument 'close' must be a polars expression"),
])
def test_bad_arguments_fail_before_any_work(call, error, text):
    bars = pd.DataFrame(sample_ohlc(30))
    with pytest.raises(error) as caught:
        call(bars)
    assert text in str(caught.value)


def test_unequal_lengths_are_refused():
    from velkized_ta import _frontend
    prices = {"high": np.ones(5, np.float32), "low": np.ones(4, np.float32), "close": np.ones(5, np.float32)}
    with pytest.raises(ValueError, match="equal length.*low=4"):
        _frontend.compute("willr", prices, {"timeperiod": 3}, {})


def test_front_end_defaults_give_real_indicators():
    """The exact functions' period defaults of 1 give zeros or fail; the front-ends' do not."""
    bars = pd.DataFrame(sample_ohlc(400))
    for name in INDICATORS:
        values = getattr(bars.velk, name)(exact=True).to_numpy()
        finite = values[np.isfinite(values)]
        assert finite.size > 300 and np.any(finite != 0), name


def test_polars_nulls_option_marks_the_warm_up():
    bars = pl.DataFrame(sample_ohlc(30))
    out = bars.select(vp.rsi(timeperiod=14, exact=True, nulls=True), vp.rsi(timeperiod=14, exact=True).alias("nan"))
    assert out["rsi_14"].null_count() == out["nan"].is_nan().sum() == 15


@pytest.mark.parametrize("keys", [
    np.repeat([3, 1, 2], 40),                                   # contiguous runs, numpy ints
    pd.array(np.repeat(["b", "a", "c"], 40), dtype="string"),   # extension strings
    pd.Categorical(np.repeat(["b", "a", "c"], 40)),
    np.tile([1.0, np.nan, 2.0], 40),                            # interleaved, NaN a group of its own
    np.concatenate([np.repeat([1, 2], 30), np.repeat([1], 60)]),  # a key that comes back later
    np.repeat(np.array([-1, 2**62, 0], dtype=np.int64), 40),    # runs told apart by their bytes
    np.repeat(np.array([200, 7, 0], dtype=np.uint8), 40),
    np.repeat([True, False], 60),
    np.repeat(np.array(["2024-01-02", "NaT", "2024-01-01"], dtype="datetime64[ns]"), 40),  # NaT a group
    pd.Categorical(np.tile(["b", None, "a"], 40)),              # interleaved codes, NaN a group
])
def test_group_keys_of_every_kind(keys):
    frame = pd.DataFrame({**sample_ohlc(120), "key": keys})
    grouped = frame.velk.rsi(5, by="key", exact=True)
    codes = pd.factorize(frame["key"], use_na_sentinel=False)[0]
    for code in np.unique(codes):
        rows = frame[codes == code]
        expected = exact_values("rsi", {c: rows[c].to_numpy() for c in rows.columns}, timeperiod=5)
        assert np.array_equal(bits(grouped[codes == code]), bits(expected))
    table = pl.from_pandas(frame.assign(key=frame["key"].astype(str)))
    by = table.select(vp.rsi(timeperiod=5, exact=True, by="key")).to_series()
    assert np.array_equal(bits(by.to_numpy()), bits(frame.assign(key=frame["key"].astype(str))
                                                    .velk.rsi(5, by="key", exact=True)))


@pytest.mark.parametrize("name", sorted(INDICATORS))
def test_default_values_are_the_live_handles_values(universe, name):
    """By default each group gets what a stream handle opened on no history gives bar by bar."""
    from velkized_ta import stream

    spec = INDICATORS[name]
    live = getattr(universe.velk, name)(by="symbol")
    polars_live = pl.from_pandas(universe.reset_index(drop=True)).select(
        getattr(vp, name)(by="symbol")).to_series().to_numpy()
    assert np.array_equal(bits(polars_live), bits(live))
    columns = {"a": "close", "b": "open"}
    for symbol, rows in universe.groupby("symbol", sort=False):
        series = [rows[columns.get(role, role)].to_numpy(np.float32) for role, _ in spec.roles]
        handle = getattr(stream, spec.function)(*(s[:0] for s in series), **spec.periods, **spec.options)
        assert np.array_equal(bits(live.loc[rows.index]), bits(handle.update_many(*series))), symbol
