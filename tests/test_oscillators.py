import itertools
import warnings

import numpy as np
import pytest
from numpy.lib.stride_tricks import sliding_window_view

from velkized_ta import velk_ta_funcs as ta

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

BUFFER_ERROR = "Out of bounds on buffer access (axis 0)"


def f32(*values):
    return np.array(values, dtype=np.float32)


def bars(n=60, seed=3):
    rng = np.random.default_rng(seed)
    close = 50 + np.cumsum(rng.normal(0, 1, n))
    high = close + rng.uniform(0, 2, n)
    low = close - rng.uniform(0, 2, n)
    return high.astype(np.float32), low.astype(np.float32), close.astype(np.float32)


def assert_same(a, b):
    np.testing.assert_array_equal(a, b, strict=True)


# ---------------------------------------------------------------- rate of change


def test_roc_worked_numbers():
    out = ta.velk_roc(f32(2, 0, 3, 1, 0.0, -0.0, np.nan, 4), 2)
    assert np.isnan(out[:2]).all()
    assert out[2] == np.float32(0.5)
    assert out[3] == np.float32(1e9)  # base 0: divisor 1e-9
    assert out[4] == -1 and out[5] == -1 and np.isnan(out[6])
    assert out[7] == np.float32(4e9)  # base -0
    assert ta.velk_roc(f32(0, 0), 1)[1] == 0


def test_roc_zero_base_quotient_is_double():
    # float32 division by float32(1e-9) would round this one differently
    d = np.float32(1.5271802)
    out = ta.velk_roc(f32(0, d), 1)
    assert out[1] == np.float32(np.float64(d) / 1e-9)
    assert out[1] != d / np.float32(1e-9)


def test_roc_period_zero_and_tails():
    out = ta.velk_roc(f32(1, -2, np.inf, np.nan), 0)
    assert out[0] == 0 and np.signbit(out[1]) and np.isnan(out[2:]).all()
    x = np.linspace(1, 3, 20, dtype=np.float32)
    full = ta.velk_roc(x, 4)
    for m in (1, 5, 16):
        part = ta.velk_roc(x, 4, n_values=m)
        assert_same(part[-m:], full[-m:])
        assert np.isnan(part[:-m]).all()
    assert np.isnan(ta.velk_roc(x, 19)[:-1]).all() and not np.isnan(ta.velk_roc(x, 19)[-1])
    assert np.isnan(ta.velk_roc(x, 20)).all()
    assert np.isnan(ta.velk_roc(x, 3, n_values=-4)).all()


@pytest.mark.parametrize("period, index", [(-1, 5), (-6, -6), (-2, 5)])
def test_roc_negative_period_raises_numpy_index_error(period, index):
    with pytest.raises(IndexError, match=rf"^index {index} is out of bounds for axis 0 with size 5$"):
        ta.velk_roc(f32(1, 2, 3, 4, 5), period)


# ---------------------------------------------------------------- RSI and CMO


def rsi_reference(close, period):
    d = np.diff(close.astype(np.float64))
    gain, loss = np.where(d > 0, d, 0), np.where(d < 0, -d, 0)
    g, l = gain[:period].sum(), loss[:period].sum()
    out = np.full(len(close), np.nan)
    for i in range(period + 1, len(close)):
        g += gain[i - 1] - g / period
        l += loss[i - 1] - l / period
        out[i] = 100 - 100 / (g / l + 1) if l else 100
    return out


def cmo_reference(close, period):
    d = np.diff(close.astype(np.float64))
    out = np.full(len(close), np.nan)
    for i in range(period, len(close)):
        w = d[i - period:i]
        w = w[~np.isnan(w)]
        g, l = w[w > 0].sum(), -w[w < 0].sum()
        out[i] = (g - l) / (g + l) if g + l else 0
    return out


def test_rsi_matches_reference_and_trailing_window():
    close = bars()[2]
    full = ta.velk_rsi(close, 14)
    np.testing.assert_allclose(full, rsi_reference(close, 14), rtol=1e-4)
    for m in (1, 10, 45):
        part = ta.velk_rsi(close, 14, m)
        assert_same(part[-m:], full[-m:])
        assert np.isnan(part[:-m]).all()
    assert np.isnan(ta.velk_rsi(close, 14, 0)).all()


@pytest.mark.parametrize("close, value", [
    (np.full(12, 7, np.float32), 100),
    (np.arange(12, dtype=np.float32), 100),
    (np.arange(12, 0, -1, dtype=np.float32), 0),
])
def test_rsi_flat_rising_falling(close, value):
    out = ta.velk_rsi(close, 4)
    assert np.isnan(out[:5]).all() and (out[5:] == value).all()


def test_rsi_nan_price_and_short_series():
    close = bars()[2]
    close[20] = np.nan
    assert np.isfinite(ta.velk_rsi(close, 5)[6:]).all()
    x = np.arange(8, dtype=np.float32)
    assert np.isnan(ta.velk_rsi(x, 7)).all()
    assert np.isnan(ta.velk_rsi(x, 6)[:-1]).all() and ta.velk_rsi(x, 6)[-1] == 100
    assert np.isnan(ta.velk_rsi(f32(1), 0)).all()


@pytest.mark.parametrize("args, error, message", [
    ((f32(1, 2, 3), 3), IndexError, BUFFER_ERROR),
    ((f32(1, 2, 3), 0), ZeroDivisionError, "float division"),
    ((f32(1, 2, 3), 1, -2), IndexError, BUFFER_ERROR),
])
def test_rsi_errors(args, error, message):
    with pytest.raises(error, match=f"^{message}$".replace("(", r"\(").replace(")", r"\)")):
        ta.velk_rsi(*args)


def test_cmo_matches_reference_range_and_nan():
    close = bars(200)[2]
    close[50] = np.nan
    out = ta.velk_cmo(close, 9)
    assert np.isnan(out[:9]).all()
    np.testing.assert_allclose(out, cmo_reference(close, 9), atol=1e-5)
    assert (np.abs(out[9:]) <= 1).all()
    np.testing.assert_allclose(ta.velk_cmo(close, 9, 30)[-30:], out[-30:], atol=1e-5)


@pytest.mark.parametrize("close, value", [
    (np.arange(10, dtype=np.float32), 1),
    (np.arange(10, 0, -1, dtype=np.float32), -1),
    (np.full(10, 3, np.float32), 0),
])
def test_cmo_one_sided_windows(close, value):
    assert (ta.velk_cmo(close, 4)[4:] == value).all()


def test_cmo_period_zero_is_zero():
    assert (ta.velk_cmo(bars(20)[2], 0) == 0).all()


@pytest.mark.parametrize("close, period, n_values", [
    (f32(), 1, 999999999), (f32(), 0, 999999999), (f32(1, 2, 3), 3, 999999999),
    (f32(1, 2, 3), 1, 0), (f32(1, 2, 3, 4, 5), -2, 999999999),
])
def test_cmo_errors(close, period, n_values):
    with pytest.raises(IndexError, match=r"^Out of bounds on buffer access \(axis 0\)$"):
        ta.velk_cmo(close, period, n_values)


# ---------------------------------------------------------------- Williams %R, fast stochastic


def window_fractions(high, low, close, period):
    hh = np.full(len(close), np.nan, np.float32)
    ll = hh.copy()
    hh[period - 1:] = sliding_window_view(high, period).max(axis=1)
    ll[period - 1:] = sliding_window_view(low, period).min(axis=1)
    with np.errstate(all="ignore"):
        return np.where(hh == ll, np.nan, (hh - close) / (hh - ll)), np.where(
            hh == ll, np.nan, (close - ll) / (hh - ll))


@pytest.mark.parametrize("period", [1, 2, 5, 14, 60])
def test_willr_and_stochf_follow_window_extremes(period):
    high, low, close = bars()
    high[::7] = high[1::7][: len(high[::7])]  # ties
    willr, stochf = window_fractions(high, low, close, period)
    assert_same(ta.velk_willr(high, low, close, period), willr)
    assert_same(ta.velk_stochf(high, low, close, period), stochf)


def test_extremes_give_zero_and_one():
    high, low, close = f32(3, 4, 5, 6, 7), f32(1, 2, 3, 4, 5), f32(9, 9, 5, 0, 3)
    assert_same(ta.velk_willr(high, low, close, 3)[2:], f32(0, 1.5, 1))
    assert_same(ta.velk_stochf(high, low, close, 3)[2:], f32(1, -0.5, 0))
    assert np.isnan(ta.velk_willr(f32(2, 2), f32(2, 2), f32(2, 2), 2)).all()


def test_nan_high_shields_older_entries_until_it_expires():
    high, low, close = f32(5, np.nan, 10, 1, 1, 1), f32(0, 0, 0, 0, 0, 0), f32(1, 1, 1, 1, 1, 1)
    out = ta.velk_stochf(high, low, close, 3)
    assert out[2] == np.float32(1 / 5)  # front is still 5, not 10
    assert np.isnan(out[3])  # the NaN stands at the front
    assert out[4] == np.float32(1 / 10) and out[5] == 1


def test_willr_trailing_window_and_lengths():
    high, low, close = bars(30)
    full = ta.velk_willr(high, low, close, 6)
    for m in (1, 7, 25):
        part = ta.velk_willr(high, low, close, 6, m)
        assert_same(part[-m:], full[-m:])
        assert np.isnan(part[:-m]).all()
    assert np.isnan(ta.velk_willr(high, low, close, 30)[:-1]).all()
    assert np.isnan(ta.velk_willr(high, low, close, 31)).all()
    assert np.isnan(ta.velk_willr(high, low, close, 6, 0)).all()


def test_stochf_flags_do_not_change_the_result():
    high, low, close = bars(25)
    base = ta.velk_stochf(high, low, close, 5)
    for stream, last in itertools.product([False, True, None, 2], repeat=2):
        assert_same(ta.velk_stochf(high, low, close, 5, stream, last_value_only=last), base)
    with pytest.raises(ValueError, match="ambiguous"):
        ta.velk_stochf(high, low, close, 5, np.ones(2))


@pytest.mark.parametrize("func", ["velk_willr", "velk_stochf"])
@pytest.mark.parametrize("period, short_high", [(7, False), (0, False), (-20, False), (3, True)])
def test_extreme_range_errors(func, period, short_high):
    high, low, close = bars(5)
    with pytest.raises(IndexError, match=r"^Out of bounds on buffer access \(axis 0\)$"):
        getattr(ta, func)(high[:3] if short_high else high, low, close, period)


def queue_fronts(values, period, start, keep_older):
    # The monotonic position queue played out in Python: the value at its front
    # for each step from `start` on.
    queue, fronts = [], {}
    for i in range(start - period + 1, len(values)):
        if i >= start and queue and queue[0] <= i - period:
            queue.pop(0)
        while queue and not keep_older(values[queue[-1]], values[i]):
            queue.pop()
        queue.append(i)
        if i >= start:
            fronts[i] = values[queue[0]]
    return fronts


def queue_fractions(high, low, close, period, start):
    highs = queue_fronts(high, period, start, lambda old, new: not old <= new)
    lows = queue_fronts(low, period, start, lambda old, new: not old >= new)
    willr, stochf = (np.full(len(close), np.nan, np.float32) for _ in range(2))
    with np.errstate(all="ignore"):
        for i, hh in highs.items():
            ll = lows[i]
            if hh != ll:
                willr[i] = (hh - close[i]) / (hh - ll)
                stochf[i] = (close[i] - ll) / (hh - ll)
    return willr, stochf


SPECIALS = f32(np.nan, np.inf, -np.inf, 0.0, -0.0, 1, 1, 2)


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("period", [1, 2, 3, 7, 16, 50])
def test_extremes_follow_the_queue_rule_with_nan_ties_and_signed_zeros(seed, period):
    # Ties, signed zeros, infinities and NaN (which shields older entries and
    # hands later blocks to the queue) anywhere in long and short runs.
    rng = np.random.default_rng(seed)
    n = int(rng.integers(period, 4 * period + 40))
    high = rng.choice(SPECIALS if seed % 2 else SPECIALS[3:], n)
    low = rng.choice(SPECIALS[1:] if seed % 3 else SPECIALS, n) - 1
    close = rng.choice(SPECIALS, n)
    for n_values in (999999999, n - period - 3, 5):
        start = max(period - 1, n - n_values)
        willr, _ = queue_fractions(high, low, close, period, start)
        assert_same(ta.velk_willr(high, low, close, period, n_values), willr)
    assert_same(ta.velk_stochf(high, low, close, period), queue_fractions(high, low, close, period, period - 1)[1])


@pytest.mark.parametrize("high, expected_sign", [(f32(0.0, -0.0), -1), (f32(-0.0, 0.0), 1)])
def test_equal_zeros_keep_the_newest(high, expected_sign):
    # (hh - close) is a signed zero whose sign is that of the newest zero high.
    out = ta.velk_willr(high, f32(-1, -1), f32(0, 0), 2)
    assert out[1] == 0 and np.copysign(1, out[1]) == expected_sign


# ---------------------------------------------------------------- ultimate oscillator


def ult_reference(high, low, close, periods):
    h, l, c = (a.astype(np.float64) for a in (high, low, close))
    prev = np.concatenate([[np.nan], c[:-1]])
    lower, upper = np.fmin(prev, l), np.fmax(prev, h)
    bp, tr = c - lower, upper - lower
    out = np.full(len(c), np.nan)
    s, m, lg = periods
    for i in range(lg, len(c)):
        ratio = [bp[i - p + 1:i + 1].sum() / tr[i - p + 1:i + 1].sum() for p in periods]
        out[i] = (ratio[0] * lg + ratio[1] * m + ratio[2] * s) / (s + m + lg)
    return out


def test_ult_matches_reference_and_trailing_window():
    high, low, close = bars(120)
    full = ta.velk_ult(high, low, close, 7, 14, 28)
    np.testing.assert_allclose(full, ult_reference(high, low, close, (7, 14, 28)), rtol=1e-4)
    part = ta.velk_ult(high, low, close, 7, 14, 28, n_values=50)
    assert np.isnan(part[:-50]).all()
    np.testing.assert_allclose(part[-50:], full[-50:], rtol=1e-5)
    assert np.isnan(ta.velk_ult(*bars(6), 2, 3, 6)).all()


def test_ult_is_one_when_pressure_equals_range():
    close = np.arange(10, 50, 1, dtype=np.float32)
    out = ta.velk_ult(close, close - 0.5, close, 7, 14, 28)
    assert np.isnan(out[:28]).all() and (out[28:] == 1).all()


def test_ult_without_range_is_zero_and_nan_sticks():
    flat = np.full(12, 4, np.float32)
    assert (ta.velk_ult(flat, flat, flat, 2, 3, 4)[4:] == 0).all()
    high, low, close = bars(40)
    low[10] = np.nan
    out = ta.velk_ult(high, low, close, 2, 3, 4)
    assert np.isfinite(out[4:10]).all() and np.isnan(out[10:]).all()


@pytest.mark.parametrize("n, periods, error", [
    (5, (2, 3, 6), IndexError), (0, (1, 1, 1), IndexError), (5, (1, -1, 0), ZeroDivisionError),
])
def test_ult_errors(n, periods, error):
    high, low, close = bars(n)
    with pytest.raises(error):
        ta.velk_ult(high, low, close, *periods)


# ---------------------------------------------------------------- commodity channel index


def test_cci_worked_number_and_zero_variance():
    ones = f32(1, 1)
    out = ta.velk_cci(f32(1, 3) * 3 - 2, ones, ones, 2)  # typical prices 1, 3
    assert np.isnan(out[0]) and out[1] == np.float32(1 / 0.015)
    flat = np.full(8, 5, np.float32)
    assert (ta.velk_cci(flat, flat, flat, 3)[2:] == 0).all()
    assert (ta.velk_cci(flat, flat, flat, 1) == 0).all()


def test_cci_matches_population_deviation():
    high, low, close = bars(100)
    tp = (high.astype(np.float64) + low + close) / 3
    win = sliding_window_view(tp, 10)
    expected = (tp[9:] - win.mean(axis=1)) / (0.015 * win.std(axis=1))
    out = ta.velk_cci(high, low, close, 10)
    assert np.isnan(out[:9]).all()
    np.testing.assert_allclose(out[9:], expected, rtol=2e-2, atol=2e-2)
    part = ta.velk_cci(high, low, close, 10, n_values=40)
    assert np.isnan(part[:-40]).all()
    np.testing.assert_allclose(part[-40:], out[-40:], rtol=1e-3, atol=1e-3)


def cci_float32_steps(tp, period):
    # The running-sum arithmetic step by step in numpy float32 scalars.
    p = np.float32(period)
    s = sq = np.float32(0)
    out = np.full(len(tp), np.nan, np.float32)

    def score(x):
        m = s / p
        v = sq / p - m * m
        if v == 0:
            return 0
        return np.nan if v < 0 else np.float64(x - m) / (np.sqrt(np.float64(v)) * 0.015)

    for x in tp[:period]:
        s, sq = s + x, sq + x * x
    out[period - 1] = score(tp[period - 1])
    for i in range(period, len(tp)):
        new, old = tp[i], tp[i - period]
        s, sq = s + (new - old), sq + (new * new - old * old)
        out[i] = score(new)
    return out


def test_cci_negative_variance_is_nan_through_numpy_sqrt():
    h = np.full(6, 1000.1, np.float32)
    h[::2] += np.float32(0.001)
    with pytest.warns(RuntimeWarning, match="invalid value"):
        out = ta.velk_cci(h, h, h, 3)
    assert np.isnan(out[[3, 5]]).all()
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
        ta.velk_cci(h, h, h, 3)


@pytest.mark.parametrize("seed, period", [(5, 4), (6, 3), (7, 2)])
def test_cci_many_negative_variances_warn_once_and_stay_exact(seed, period):
    # Prices near 1000 with a tiny spread: rounding makes many variances negative,
    # some of them at the first computed position.
    x = (1000 + np.random.default_rng(seed).normal(0, 0.01, 60)).astype(np.float32)
    tp = (x + x + x) / 3
    expected = cci_float32_steps(tp, period)
    assert np.isnan(expected[period - 1:]).sum() >= 3
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        out = ta.velk_cci(x, x, x, period)
    assert [w.category for w in caught] == [RuntimeWarning]
    assert_same(out, expected)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with np.errstate(invalid="ignore"):
            assert_same(ta.velk_cci(x, x, x, period), expected)
        with np.errstate(invalid="raise"), pytest.raises(FloatingPointError, match="invalid value"):
            ta.velk_cci(x, x, x, period)


def test_cci_nan_sticks_and_broadcasting():
    high, low, close = bars(30)
    close[12] = np.nan
    out = ta.velk_cci(high, low, close, 5)
    assert np.isfinite(out[4:12]).all() and np.isnan(out[12:]).all()
    one = f32(2)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert_same(ta.velk_cci(one, one, close, 5)[:12], ta.velk_cci(close * 0 + 2, close * 0 + 2, close, 5)[:12])
    with pytest.raises(ValueError, match="broadcast"):
        ta.velk_cci(high[:5], low, close, 5)


@pytest.mark.parametrize("n, period, n_values, error", [
    (5, 6, 999999999, IndexError), (0, 1, 999999999, IndexError), (5, -1, 999999999, IndexError),
    (5, 0, 999999999, ZeroDivisionError), (5, 0, 3, ZeroDivisionError),
])
def test_cci_errors(n, period, n_values, error):
    with pytest.raises(error):
        ta.velk_cci(*bars(n), period, n_values)


def test_cci_period_zero_without_positions_to_compute():
    assert np.isnan(ta.velk_cci(*bars(5), 0, 0)).all()


# ---------------------------------------------------------------- access paths


def roc_expected(x, period):
    # The change in float32, the quotient in double, a zero base replaced by 1e-9.
    out = np.full(len(x), np.nan, np.float32)
    base = x[:len(x) - period].astype(np.float64)
    change = (x[period:] - x[:len(x) - period]).astype(np.float64)
    with np.errstate(all="ignore"):
        out[period:] = change / np.where(base == 0, 1e-9, base)
    return out


@pytest.mark.parametrize("n", range(1, 14))
def test_roc_every_lane_and_tail_length(n):
    # Zero bases land in every lane of a four-wide block and in the tail.
    x = np.arange(1, n + 1, dtype=np.float32) * np.float32(1.37)
    x[1::3] = 0
    x[2::5] = -0.0
    x[-1] = np.nan if n > 7 else x[-1]
    for period in (1, 2, 3):
        if period < n:
            assert_same(ta.velk_roc(x, period), roc_expected(x, period))


CALLS = {
    "roc": lambda h, l, c: ta.velk_roc(c, 5),
    "rsi": lambda h, l, c: ta.velk_rsi(c, 7),
    "cmo": lambda h, l, c: ta.velk_cmo(c, 7),
    "willr": lambda h, l, c: ta.velk_willr(h, l, c, 6),
    "stochf": lambda h, l, c: ta.velk_stochf(h, l, c, 6),
    "ult": lambda h, l, c: ta.velk_ult(h, l, c, 3, 5, 9),
    "cci": lambda h, l, c: ta.velk_cci(h, l, c, 6),
}


@pytest.mark.parametrize("name", CALLS)
@pytest.mark.parametrize("n", [40, 30000])  # the longer one runs without the GIL
def test_strided_inputs_give_the_contiguous_result(name, n):
    high, low, close = bars(n, seed=11)
    close[n // 3] = np.nan
    strided = [np.repeat(a, 3)[::3] for a in (high, low, close)]
    assert strided[0].strides == (12,)
    assert_same(CALLS[name](*strided), CALLS[name](high, low, close))


@pytest.mark.parametrize("name", ["willr", "stochf", "ult"])
def test_short_companion_fails_only_where_it_ends(name):
    # The buffer error comes from the first read past the short series' end,
    # after the positions before it were computed normally.
    high, low, close = bars(50, seed=2)
    with pytest.raises(IndexError, match=r"^Out of bounds on buffer access \(axis 0\)$"):
        CALLS[name](high[:45], low, close)
    assert_same(CALLS[name](high[:50], low, close), CALLS[name](high, low, close))


def test_cmo_signed_zero_and_infinite_changes():
    close = f32(1, 1, -0.0, 0.0, 2, np.inf, 3, 3, 4, 1, 2, 5, 6)
    out = ta.velk_cmo(close, 3)
    # No change at all in the first window; inf - inf poisons the sums for good.
    assert out[3] == -1 and np.isnan(out[5:]).all()
    np.testing.assert_allclose(ta.velk_cmo(close[6:], 3)[3:], cmo_reference(close[6:], 3)[3:], atol=1e-6)


# ---------------------------------------------------------------- typical price without numpy temporaries


class NumpyProxy:
    """Not numpy's module object: the typical price is then left to numpy."""

    def __getattr__(self, name):
        return getattr(np, name)


def cci_both_ways(module, *args, errstate=None):
    # Output bits, or the error, and the warnings of one call each way.
    results = []
    for np_binding in (np, NumpyProxy()):
        module.np = np_binding
        with warnings.catch_warnings(record=True) as caught, np.errstate(**(errstate or {})):
            warnings.simplefilter("always")
            try:
                outcome = module.velk_cci(*args).tobytes()
            except Exception as e:  # noqa: BLE001 - the error itself is compared
                outcome = (type(e), str(e))
        results.append((outcome, [(w.category, str(w.message)) for w in caught]))
    module.np = np
    return results


def bits(*patterns):
    return np.array(patterns, dtype=np.uint32).view(np.float32)


QUIET_NAN, NEGATIVE_NAN, PAYLOAD_NAN = 0x7FC00000, 0xFFC00000, 0x7FC01234
SIGNALING_NAN, SMALLEST_SUBNORMAL = 0x7F800001, 0x00000001

# Each kind is written over a few positions of the bars (the n >= 32768 runs also
# take the native route under numpy 1.x).
SPECIAL_INPUTS = {
    "plain": lambda h, l, c: None,
    "same nan everywhere": lambda h, l, c: [a.__setitem__(slice(3, None, 5), np.nan) for a in (h, l, c)],
    "nan payloads that differ": lambda h, l, c: (h.__setitem__(7, bits(NEGATIVE_NAN)[0]),
                                                 l.__setitem__(7, bits(PAYLOAD_NAN)[0])),
    "sum nan meets close nan": lambda h, l, c: (h.__setitem__(9, bits(NEGATIVE_NAN)[0]),
                                                c.__setitem__(9, bits(QUIET_NAN)[0])),
    "invalid sum": lambda h, l, c: (h.__setitem__(10, np.inf), l.__setitem__(10, -np.inf)),
    "one nan with payload": lambda h, l, c: c.__setitem__(11, bits(NEGATIVE_NAN)[0]),
    "signaling nan": lambda h, l, c: l.__setitem__(5, bits(SIGNALING_NAN)[0]),
    "overflow": lambda h, l, c: (h.__setitem__(4, 3e38), l.__setitem__(4, 3e38)),
    "underflow": lambda h, l, c: [a.__setitem__(6, bits(SMALLEST_SUBNORMAL)[0]) for a in (h, l, c)],
    "infinities": lambda h, l, c: (h.__setitem__(8, np.inf), c.__setitem__(12, -np.inf)),
    "signed zeros": lambda h, l, c: [a.__setitem__(slice(0, 4), v) for a, v in ((h, -0.0), (l, 0.0), (c, -0.0))],
}


@pytest.mark.parametrize("n", [0, 1, 5, 23, 40000])
@pytest.mark.parametrize("kind", SPECIAL_INPUTS)
def test_typical_price_natively_matches_numpy(restore_module_globals, kind, n):
    high, low, close = (a.copy() for a in bars(max(n, 13), seed=n))
    SPECIAL_INPUTS[kind](high, low, close)
    high, low, close = high[:n], low[:n], close[:n]
    for period in (1, 4):
        for errstate in (None, {"all": "raise"}, {"all": "warn"}):
            native, through_numpy = cci_both_ways(restore_module_globals, high, low, close, period,
                                                  errstate=errstate)
            assert native == through_numpy


@pytest.mark.parametrize("layout", ["strided", "reversed", "broadcast one", "unequal", "subclass", "swapped",
                                    "float64", "two-dimensional", "aliased"])
def test_typical_price_layouts_match_numpy(restore_module_globals, layout):
    high, low, close = bars(40000 if layout == "reversed" else 50, seed=4)
    arrays = {
        "strided": lambda: [np.repeat(a, 2)[::2] for a in (high, low, close)],
        "reversed": lambda: [a[::-1] for a in (high, low, close)],
        "broadcast one": lambda: [high, low[:1], close],
        "unequal": lambda: [high, low[:-1], close],
        "subclass": lambda: [high.view(np.recarray), low, close],
        "swapped": lambda: [high, low.astype(low.dtype.newbyteorder()), close],
        "float64": lambda: [high, low, close.astype(np.float64)],
        "two-dimensional": lambda: [high, low, close.reshape(1, -1)],
        "aliased": lambda: [close, close, close],
    }[layout]()
    native, through_numpy = cci_both_ways(restore_module_globals, *arrays, 5)
    assert native == through_numpy


@pytest.mark.parametrize("n", [100, 40000])
def test_typical_price_needs_no_whole_array_temporaries(n):
    import tracemalloc

    if n < 32768 and hasattr(np, "set_numeric_ops"):
        pytest.skip("numpy 1.x's arithmetic is verified, and so bypassed, only for long series")
    high, low, close = bars(n, seed=1)
    tracemalloc.start()
    try:
        with np.errstate(invalid="ignore"):
            ta.velk_cci(high, low, close, 14)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    # The output itself is n float32 values; numpy's expression would add three more.
    assert peak < 4 * n * 1.5 + 4096


@pytest.mark.skipif(not hasattr(np, "set_numeric_ops"), reason="ndarray arithmetic is fixed from numpy 2 on")
@pytest.mark.filterwarnings("ignore:PyArray_SetNumericOps is deprecated:DeprecationWarning")
def test_swapped_numeric_ops_are_honoured(restore_module_globals):
    high, low, close = bars(40000, seed=8)
    plain = ta.velk_cci(high, low, close, 5)
    previous = np.set_numeric_ops(add=np.subtract)
    try:
        with np.errstate(invalid="ignore"):
            swapped = ta.velk_cci(high, low, close, 5)
        _, through_numpy = cci_both_ways(restore_module_globals, high, low, close, 5)
    finally:
        np.set_numeric_ops(**previous)
    assert swapped.tobytes() == through_numpy[0] and swapped.tobytes() != plain.tobytes()
