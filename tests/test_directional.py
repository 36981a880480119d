"""Directional movement (DX, ADX, ADXR) and normalised average true range."""

import warnings

import numpy as np
import pytest

from velkized_ta import velk_ta_funcs as ta

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

f32 = np.float32
OOB = r"Out of bounds on buffer access \(axis 0\)"


def bars(n, seed=0):
    rng = np.random.default_rng(seed)
    close = 100 + np.cumsum(rng.normal(size=n))
    high, low = close + rng.uniform(0.1, 1.5, n), close - rng.uniform(0.1, 1.5, n)
    return high.astype(f32), low.astype(f32), close.astype(f32)


# small integer bars: true ranges from bar 1 are 3, 2, 2, 4, 3
HIGH = np.array([10, 12, 13, 12, 15, 14], f32)
LOW = np.array([8, 9, 11, 10, 12, 11], f32)
CLOSE = np.array([9, 11, 12, 11, 14, 13], f32)


def fma32(x, w, v):
    # exact in double for float32 operands and small integer weights, then one rounding
    return f32(np.float64(x) * w + np.float64(v))


def reference_dx(high, low, close, period):
    h, l, c = (a.astype(np.float64) for a in (high, low, close))
    tr = np.maximum.reduce([h[1:] - l[1:], abs(h[1:] - c[:-1]), abs(l[1:] - c[:-1])])
    up, down = h[1:] - h[:-1], l[:-1] - l[1:]
    series = [tr, np.where((up > down) & (up > 0), up, 0.0), np.where((down > up) & (down > 0), down, 0.0)]
    smooth = []
    for s in series:
        x, out = s[:period].mean(), []
        for v in s[period:]:
            x = (x * (period - 1) + v) / period
            out.append(x)
        smooth.append(np.array(out))
    p, m = smooth[1] / smooth[0], smooth[2] / smooth[0]
    return abs(p - m) / (p + m)


def same(a, b):
    np.testing.assert_array_equal(a, b)
    assert a.dtype == np.float32


def test_dx_worked_example():
    # seed: atr 2.5, +dm 1.5, -dm 0; bar 3 moves down by 1, bar 4 gaps up with range 4
    dx = ta.velk_dx(HIGH[:5], LOW[:5], CLOSE[:5], 2)
    assert np.isnan(dx[:3]).all()
    np.testing.assert_allclose(dx[3:], [0.2, 13 / 17], rtol=1e-6)


@pytest.mark.parametrize("period", [2, 3, 14])
def test_dx_matches_float64_reference(period):
    high, low, close = bars(300, seed=period)
    dx = ta.velk_dx(high, low, close, period)
    assert np.isnan(dx[:period + 1]).all() and ((dx[period + 1:] >= 0) & (dx[period + 1:] <= 1)).all()
    np.testing.assert_allclose(dx[period + 1:], reference_dx(high, low, close, period), rtol=2e-4, atol=1e-5)


@pytest.mark.parametrize("func, first", [(ta.velk_dx, 4), (ta.velk_adx, 6), (ta.velk_adxr, 9), (ta.velk_natr, 3)])
def test_trailing_window_equals_full_run(func, first):
    high, low, close = bars(60, seed=7)
    full = func(high, low, close, 3)
    assert np.isnan(full[:first]).all() and not np.isnan(full[first:]).any()
    for m in (1, 10, 60 - first - 1):
        part = func(high, low, close, 3, m)
        assert np.isnan(part[:-m]).all()
        same(part[-m:], full[-m:])
    assert np.isnan(func(high, low, close, 3, 0)).all()


FLAT = np.full(10, 5, f32)
H, L, C = bars(12)


@pytest.mark.parametrize("call, error", [
    (lambda: ta.velk_dx(FLAT, FLAT, FLAT, 3), ZeroDivisionError),
    (lambda: ta.velk_dx(FLAT[:0], FLAT[:0], FLAT[:0], 0), ZeroDivisionError),
    (lambda: ta.velk_dx(FLAT, FLAT, FLAT, 0, 0), ZeroDivisionError),
    (lambda: ta.velk_adx(None, None, FLAT, 0, close_arr_is_dx=True), ZeroDivisionError),
    (lambda: ta.velk_adx(None, None, FLAT, 0, 0, close_arr_is_dx=True), ZeroDivisionError),
    (lambda: ta.velk_adxr(H, L, C, 0), ZeroDivisionError),
    (lambda: ta.velk_natr(H, L, C, 0), ZeroDivisionError),
    (lambda: ta.velk_dx(H[:4], L, C, 4), IndexError),
    (lambda: ta.velk_dx(H, L[:3], C, 4), IndexError),
    (lambda: ta.velk_dx(H, L, C[:10], 4), IndexError),
    (lambda: ta.velk_adx(H, L, C[:10], 3), IndexError),  # DX reads closes up to len(high) - 2
    (lambda: ta.velk_adxr(H[:10], L, C, 3), IndexError),  # DX sized by high is short for ADX
    (lambda: ta.velk_natr(H[:6], L, C, 3), IndexError),
    (lambda: ta.velk_natr(H, L, C, 13), IndexError),
    (lambda: ta.velk_natr(H, L, C[:0], 0), IndexError),
    (lambda: ta.velk_dx(None, L, C, 3), TypeError),
    (lambda: ta.velk_adx(), TypeError),
])
def test_errors(call, error):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        with pytest.raises(error, match={ZeroDivisionError: "float division", IndexError: OOB,
                                         TypeError: "NoneType"}[error]):
            call()


def test_lengths_and_quiet_edges():
    assert len(ta.velk_dx(H[:9], L, C, 3)) == 9 and len(ta.velk_adx(H, L, C[:11], 3)) == 11
    assert np.isnan(ta.velk_dx(FLAT, FLAT, FLAT, 3, 0)).all()  # outside the window no division by the range
    assert np.isnan(ta.velk_natr(H, L, C, 12)).all()


@pytest.mark.parametrize("func, period, first", [(ta.velk_dx, 5, 6), (ta.velk_adx, 3, 6), (ta.velk_natr, 4, 4)])
def test_nan_high_poisons_the_rest(func, period, first):
    high, low, close = bars(40, seed=3)
    high[20] = np.nan
    out = func(high, low, close, period)
    assert not np.isnan(out[first:20]).any() and np.isnan(out[20:]).all()


@pytest.mark.parametrize("func", [ta.velk_dx, ta.velk_natr])
def test_nan_previous_close_is_ignored(func):
    high, low, close = bars(40, seed=4)
    inside, missing = close.copy(), close.copy()
    inside[19] = (high[20] + low[20]) / 2  # within the bar: adds nothing to its true range
    missing[19] = np.nan
    a, b = func(high, low, inside, 4), func(high, low, missing, 4)
    a[19] = b[19] = 0  # natr divides by that close itself
    same(a, b)


def test_adx_period_two_worked_case():
    high, low, close = bars(30, seed=11)
    dx, adx = ta.velk_dx(high, low, close, 2), ta.velk_adx(high, low, close, 2)
    assert np.isnan(adx[:4]).all()
    assert adx[4] == (dx[3] + dx[4]) / f32(2)  # dx[2] is NaN, so the seed is dx[3]
    assert adx[5] == (adx[4] + dx[5]) / f32(2)


def test_adx_supplied_series_and_fused_update():
    dx = np.array([9, 9, 9, 1, 2, 3, 6, 9], f32)
    adx = ta.velk_adx(None, None, dx, 3, close_arr_is_dx=True)
    assert np.isnan(adx[:6]).all() and adx[6] == f32(10) / f32(3)  # seed 2 = mean(1, 2, 3)
    # with weight 3, rounding x * 3 before adding v gives a different last bit
    x, v = f32("0.9340435"), f32("0.3577952")
    fused, separate = fma32(x, 3, v) / f32(4), (x * f32(3) + v) / f32(4)
    assert fused != separate
    assert ta.velk_adx(None, None, np.array([0] * 4 + [x] * 4 + [v], f32), 4, close_arr_is_dx=True)[8] == fused


@pytest.mark.parametrize("period", [2, 5])
def test_handed_in_series_equal_computed(period):
    high, low, close = bars(80, seed=period)
    dx, adx = ta.velk_dx(high, low, close, period), ta.velk_adx(high, low, close, period)
    same(ta.velk_adx(None, None, dx, period, close_arr_is_dx=True), adx)
    same(ta.velk_adxr(None, None, adx, period, close_arr_is_adx=True), ta.velk_adxr(high, low, close, period))


def test_adx_nan_dx_and_adxr_averages():
    dx = np.linspace(0.1, 0.9, 20).astype(f32)
    dx[12] = np.nan
    adx = ta.velk_adx(None, None, dx, 3, close_arr_is_dx=True)
    assert not np.isnan(adx[6:12]).any() and np.isnan(adx[12:]).all()
    adx = np.array([1, 2, 4, 8, 16, np.nan, 3], f32)
    same(ta.velk_adxr(None, None, adx, 2, close_arr_is_adx=True), np.array([np.nan] * 2 + [2.5, 5, 10, np.nan, 9.5], f32))
    same(ta.velk_adxr(None, None, adx, 0, close_arr_is_adx=True), adx)
    assert np.isnan(ta.velk_adxr(None, None, adx, 7, close_arr_is_adx=True)).all()


def test_period_one_adx_is_all_nan_with_numpy_warning():
    close = (100 + np.arange(10)).astype(f32)  # every bar moves up
    with pytest.warns(RuntimeWarning):
        assert np.isnan(ta.velk_adx(close + f32(0.5), close - f32(0.5), close)).all()


@pytest.mark.parametrize("caller, callee", [(ta.velk_adx, "velk_dx"), (ta.velk_adxr, "velk_adx")])
def test_composite_calls_rebound_global(monkeypatch, caller, callee):
    seen = []
    monkeypatch.setattr(ta, callee, lambda *a, **kw: seen.append((a, kw)) or np.full(12, 0.5, f32))
    assert not np.isnan(caller(H, L, C, 2)[-5:]).any()
    (args, kwargs), = seen
    assert args[:3] == (H, L, C) and args[3] == 2 and type(args[3]) is int and kwargs == {}
    monkeypatch.setattr(ta, callee, lambda *a: [0.5] * 12)
    with pytest.raises(TypeError, match="Cannot convert list to numpy.ndarray"):
        caller(H, L, C, 2)


def test_natr_period_three_worked_case():
    natr = ta.velk_natr(HIGH, LOW, CLOSE, 3)
    atr3 = fma32(f32(5) / f32(3), 2, 2) / f32(3)  # seed (0 + 3 + 2) / 3
    assert np.isnan(natr[:3]).all()
    assert natr[3] == atr3 / f32(11) and natr[4] == fma32(atr3, 2, 4) / f32(3) / f32(14)


def test_natr_period_one_is_true_range_over_close():
    high, low, close = bars(30, seed=5)
    tr = np.maximum.reduce([high[1:] - low[1:], abs(high[1:] - close[:-1]), abs(low[1:] - close[:-1])])
    natr = ta.velk_natr(high, low, close, 1)
    assert np.isnan(natr[0])
    same(natr[1:], tr / close[1:])


def test_natr_nan_range_in_seed_is_skipped():
    high, low, close = bars(30, seed=6)
    clean = ta.velk_natr(high, low, close, 4)
    high[1] = np.nan
    natr = ta.velk_natr(high, low, close, 4)
    assert not np.isnan(natr[4:]).any() and (natr[4:] != clean[4:]).any()


@pytest.mark.parametrize("zero", [0.0, -0.0])
def test_natr_zero_close_raises_nan_close_does_not(zero):
    high, low, close = bars(20)
    close[12] = zero
    with pytest.raises(ZeroDivisionError, match="float division"):
        ta.velk_natr(high, low, close, 3)
    close[12] = np.nan
    natr = ta.velk_natr(high, low, close, 3)
    assert np.isnan(natr[12]) and not np.isnan(natr[13:]).any()


@pytest.mark.parametrize("func", [ta.velk_dx, ta.velk_adx, ta.velk_adxr, ta.velk_natr])
@pytest.mark.parametrize("period", [-2**31, -3, -1, 2**31 - 1])
@pytest.mark.parametrize("n_values", [-2**31, -5, 999999999])
def test_extreme_arguments_fail_cleanly(func, period, n_values):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        try:
            out = func(H, L, C, period, n_values)
        except (IndexError, ZeroDivisionError):
            return
    assert out.dtype == np.float32 and len(out) == 12


def with_stride(a, step):
    """The same values seen through a view of another stride (negative: walked backwards)."""
    wide = np.repeat(a if step > 0 else a[::-1], abs(step))
    return wide[::step]


def bits(a):
    return a.view(np.uint32)


@pytest.mark.parametrize("func", [ta.velk_dx, ta.velk_adx, ta.velk_adxr, ta.velk_natr])
@pytest.mark.parametrize("strided, step", [((0,), 2), ((2,), -1), ((0, 1, 2), -3)])
def test_strided_views_give_the_same_bits(func, strided, step):
    high, low, close = bars(400, seed=8)
    low[150] = np.nan
    arrays = [with_stride(a, step) if k in strided else a for k, a in enumerate((high, low, close))]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        np.testing.assert_array_equal(bits(func(*arrays, 5)), bits(func(high, low, close, 5)))


def test_companion_lengths_at_the_edge():
    high, low, close = bars(300, seed=9)
    same(ta.velk_dx(high, low, close[:-1], 4), ta.velk_dx(high, low, close, 4))  # close is read one bar behind
    same(ta.velk_natr(high, low, close[:-1], 4), ta.velk_natr(high[:-1], low[:-1], close[:-1], 4))
    for call in (lambda: ta.velk_dx(high, low, close[:-2], 4), lambda: ta.velk_dx(high, low[:-1], close, 4),
                 lambda: ta.velk_natr(high, low[:-1], close, 4)):
        with pytest.raises(IndexError, match=OOB):
            call()


def test_adxr_of_two_nans_is_the_earlier_one():
    adx = np.zeros(64, f32)
    bits(adx)[::2], bits(adx)[1::2] = 0x7FC00001, 0xFFC00002
    adx[40] = 3
    out = bits(ta.velk_adxr(None, None, adx, 1, close_arr_is_adx=True))
    expected = np.roll(bits(adx), 1)
    expected[41] = bits(adx)[41]  # a finite earlier term passes the later NaN on
    assert np.isnan(adx[0]) and out[0] == bits(f32(np.nan))  # position 0 is never written
    np.testing.assert_array_equal(out[1:], expected[1:])


def test_concurrent_calls_on_long_series():
    from concurrent.futures import ThreadPoolExecutor
    high, low, close = bars(60000, seed=10)  # long enough to run without the interpreter lock
    calls = [lambda f=f: f(high, low, close, 14) for f in (ta.velk_dx, ta.velk_adxr, ta.velk_natr)] * 3
    expected = [call() for call in calls]
    with ThreadPoolExecutor(3) as pool:
        for got, want in zip(pool.map(lambda call: call(), calls), expected):
            np.testing.assert_array_equal(bits(got), bits(want))
