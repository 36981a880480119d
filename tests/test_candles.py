"""Regression slope, midpoint, wicks and the two spreads."""

import numpy as np
import pytest

from velkized_ta import velk_adif, velk_lin, velk_mid, velk_rdif, velk_wick

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

NAN = np.nan


def f32(*values):
    return np.array(values, dtype=np.float32)


def bars(n, seed):
    rng = np.random.default_rng(seed)
    close = (100 + np.cumsum(rng.normal(0, 1, n))).astype(np.float32)
    high = (close + rng.uniform(0, 2, n)).astype(np.float32)
    low = (close - rng.uniform(0, 2, n)).astype(np.float32)
    return high, low, close


def check(actual, expected):
    np.testing.assert_array_equal(actual, np.array(expected, dtype=np.float32))


@pytest.mark.parametrize("x, period, n_values, expected", [
    ((1, 2, 4, 8), 3, 999999999, (NAN, NAN, 1.5, 3)),
    ((5, 5, 5, 5, 5), 2, 999999999, (NAN, 0, 0, 0, 0)),
    ((3, 4, 5, 6, 7), 4, 999999999, (NAN, NAN, NAN, 1, 1)),
    ((NAN, NAN, 1, 2, 3, 4), 2, 999999999, (NAN, NAN, NAN, 1, 1, 1)),
    ((1, 2, 4, NAN, 8, 9), 2, 999999999, (NAN, 1, 2, NAN, NAN, NAN)),
    ((1, 2, 4, 8, 9, 12), 3, 1, (NAN,) * 5 + (2,)),
    ((1, 2, 4, 8), 1, 999999999, (NAN,) * 4),
    ((NAN, NAN, 1, 2), 2, 999999999, (NAN,) * 4),
    ((), 3, 999999999, ()),
])
def test_lin_values(x, period, n_values, expected):
    check(velk_lin(f32(*x), period, n_values), expected)


def test_lin_tracks_least_squares_fit():
    x = bars(200, 1)[2]
    period = 7
    out = velk_lin(x, period)
    fits = [np.polyfit(np.arange(period), x[i - period + 1:i + 1].astype(np.float64), 1)[0]
            for i in range(period - 1, len(x))]
    np.testing.assert_allclose(out[period - 1:], fits, atol=2e-3)


def strided_like(x, layout):
    if layout == "step2":
        return np.repeat(x, 2)[::2]
    if layout == "reversed":
        return x[::-1].copy()[::-1]
    buf = bytearray(4 * x.size + 1)
    view = np.ndarray(x.shape, np.float32, buffer=buf, offset=1)
    view[:] = x
    return view


@pytest.mark.parametrize("layout", ["step2", "reversed", "unaligned"])
@pytest.mark.parametrize("period, n_values", [(2, 999999999), (9, 999999999), (9, 40), (30, 1), (-2, 999999999)])
def test_lin_layout_does_not_change_values(layout, period, n_values):
    x = bars(701, 4)[2]
    x[:5] = np.nan
    args = (period, n_values)
    try:
        expected = velk_lin(x, *args)
    except IndexError:
        with pytest.raises(IndexError):
            velk_lin(strided_like(x, layout), *args)
        return
    np.testing.assert_array_equal(velk_lin(strided_like(x, layout), *args), expected)


@pytest.mark.parametrize("n", [4, 5, 6, 50])
def test_lin_slides_to_the_last_position(n):
    # A straight line has slope 2 in every complete window, up to the series' end.
    x = (2 * np.arange(n) + 1).astype(np.float32)
    out = velk_lin(x, 3)
    assert np.isnan(out[:2]).all()
    np.testing.assert_array_equal(out[2:], np.full(n - 2, 2, np.float32))


def test_lin_bits_follow_fused_running_sums():
    # Unfused products in the sums or the slope change the bits at every one of these positions.
    x = np.array([float.fromhex(h) for h in (
        "0x1.42004cp+6", "0x1.432d24p+6", "0x1.9c42acp+5", "0x1.c9483ep+4", "0x1.592810p+2", "0x1.32b1f2p+5",
        "0x1.46c750p+5", "0x1.21c2e0p+2", "0x1.380ca2p+2", "0x1.8faba2p+6", "0x1.04f298p+6", "0x1.773760p+4",
    )], dtype=np.float32)
    expected = [3248615766, 3243356073, 3214190520, 3215060634, 3227451451, 1091272970, 1097247688, 1092428316]
    assert velk_lin(x, 5).view(np.uint32)[4:].tolist() == expected


@pytest.mark.parametrize("func, args", [
    (velk_lin, (f32(1, 2, 3), 0)),
    (velk_lin, (f32(1, 2, 3, 4, 5), 2, -1)),
    (velk_mid, (f32(1, 2), f32(1, 2), f32(1, 2), 4)),
    (velk_mid, (f32(1), f32(1, 2), f32(1, 2), 1)),
    (velk_mid, (f32(1, 2, 3), f32(1, 2, 3), f32(1, 2, 3), 3, True, -1)),
    (velk_wick, (f32(1, 2, 3), f32(1, 2, 3), f32(1, 2, 3), 0)),
    (velk_wick, (f32(1, 2, 3), f32(1, 2, 3), f32(1, 2, 3), -2)),
    (velk_wick, (f32(1, 2), f32(1, 2), f32(1, 2), 4)),
    (velk_adif, (f32(1, 2, 3), f32(1, 2))),
    (velk_rdif, (f32(1, 2, 3), None)),
])
def test_out_of_bounds(func, args):
    with pytest.raises(IndexError, match=r"Out of bounds on buffer access \(axis 0\)"):
        func(*args)


@pytest.mark.parametrize("func, args", [
    (velk_mid, (f32(3, 5), f32(1, 2), f32(2, 0), 1)),
    (velk_wick, (f32(3, 5, 4), f32(1, 2, 2), f32(2, 4, -0.0), 1)),
])
def test_zero_close_raises(func, args):
    with pytest.raises(ZeroDivisionError, match="float division"):
        func(*args)


@pytest.mark.parametrize("normalize, expected", [
    (False, (NAN, 3, 3.5, 4)),
    (True, (NAN, -0.25, np.float32(0.5) / np.float32(3), -0.2)),
])
def test_mid_worked_numbers(normalize, expected):
    check(velk_mid(f32(3, 5, 4, 6), f32(1, 2, 2, 3), f32(2, 4, 3, 5), 2, normalize), expected)


def test_mid_nan_high_shields_older_entries():
    # The NaN keeps 5 at the front, then stands there itself until it expires.
    high, low = f32(5, NAN, 7, 6, 6, 6), f32(1, 1, 1, 1, 1, 1)
    check(velk_mid(high, low, low, 3, False), (NAN, NAN, 3, NAN, 4, 3.5))


@pytest.mark.parametrize("period", [1, 4, 13])
def test_mid_matches_window_extremes(period):
    high, low, close = bars(120, period)
    out = velk_mid(high, low, close, period, False)
    expected = [(high[i - period + 1:i + 1].max() + low[i - period + 1:i + 1].min()) / 2.0
                for i in range(period - 1, 120)]
    np.testing.assert_allclose(out[period - 1:], expected, rtol=1e-6)
    assert np.isnan(out[:period - 1]).all()
    # A trailing window rebuilds the queues and reproduces the full run.
    check(velk_mid(high, low, close, period, False, 10)[-10:], out[-10:])
    assert np.isnan(velk_mid(high, low, close, period, False, 10)[:-10]).all()
    check(velk_mid(high, low, close, 121, False), [NAN] * 120)


def test_wick_worked_numbers():
    high, low, close = f32(3, 5, 4, 6, 7, 5), f32(1, 2, 2, 3, 4, 1), f32(2, 4, 3, 5, 6, 2)
    # Rising candles take the upper wick from the close; the falling last one
    # (open 5, close 2) takes it from the open: (7 - 5) - (2 - 1).
    expected = (NAN, NAN, np.float32(2) / np.float32(3), -0.2, np.float32(1) / np.float32(6), 0.5)
    check(velk_wick(high, low, close, 2), expected)


@pytest.mark.parametrize("period", [1, 5, 20])
def test_wick_matches_synthetic_candle(period):
    high, low, close = bars(150, 10 + period)
    out = velk_wick(high, low, close, period)
    expected = []
    for i in range(period, 150):
        hh, ll = float(high[i - period + 1:i + 1].max()), float(low[i - period + 1:i + 1].min())
        o, c = float(close[i - period]), float(close[i])
        expected.append(((hh - max(o, c)) - (min(o, c) - ll)) / c)
    np.testing.assert_allclose(out[period:], expected, atol=1e-6)
    assert np.isnan(out[:period]).all()
    check(velk_wick(high, low, close, period, 7)[-7:], out[-7:])
    assert np.isnan(velk_wick(high, low, close, period, 0)).all()


@pytest.mark.parametrize("period", [3, 4])
def test_wick_without_a_full_window_is_all_nan(period):
    check(velk_wick(f32(1, 2, 3), f32(1, 2, 3), f32(1, 2, 3), period), (NAN,) * 3)


@pytest.mark.parametrize("a, b, n_values, adif, rdif", [
    ((5, 1.5, 0, 1), (4, 0, 0, 3), 999999999, (1, 1.5, 0, -2), (0.25, 1.5e9, 0, np.float32(-2) / np.float32(3))),
    ((1, 2, 3, 4, 5), (2, 2, 2, 2, 2, 9), 2, (NAN, NAN, NAN, 2, 3), (NAN, NAN, NAN, 1, 1.5)),
    ((1, 2), (1, 2), 0, (NAN, NAN), (NAN, NAN)),
    ((-1, NAN), (-0.0, 1), 5, (-1, NAN), (-1e9, NAN)),
    ((), (), 999999999, (), ()),
])
def test_differences(a, b, n_values, adif, rdif):
    check(velk_adif(f32(*a), f32(*b), n_values), adif)
    check(velk_rdif(f32(*a), f32(*b), n_values), rdif)


@pytest.mark.parametrize("signs", [(a, b, c) for a in (1, -1) for b in (1, -1) for c in (1, -1)])
def test_wick_newest_of_equal_highs_counts(signs):
    # Highs of +0 and -0 tie; the newest one is the window's high, and its sign
    # survives into the result: open 0, close -1, low -1 make it -high / -1.
    high = f32(0, *(s * 0.0 for s in signs), 0)
    low = f32(-1, -1, -1, -1, -1)
    close = f32(0, 0, -1, -1, -1)
    out = velk_wick(high, low, close, 2)
    assert np.signbit(out[2]) != np.signbit(high[2]) and out[2] == 0
    assert np.signbit(out[3]) != np.signbit(high[3]) and out[3] == 0


def relaid(a, layout):
    if layout == "strided":
        b = np.zeros(a.size * 2, np.float32)
        b[::2] = a
        return b[::2]
    if layout == "reversed":
        return a[::-1].copy()[::-1]
    b = np.ndarray(a.shape, np.float32, np.zeros(a.size * 4 + 1, np.uint8), offset=1)
    b[:] = a
    return b


@pytest.mark.parametrize("layout", ["contiguous", "strided", "reversed", "unaligned"])
@pytest.mark.parametrize("n", [0, 1, 3, 4, 5, 9, 17])
def test_differences_do_not_depend_on_layout(layout, n):
    rng = np.random.default_rng(n)
    a = rng.normal(0, 2, n).astype(np.float32)
    b = rng.normal(0, 2, n).astype(np.float32)
    b[::3] = 0  # zero references in every group of four
    a2, b2 = (x if layout == "contiguous" else relaid(x, layout) for x in (a, b))
    for n_values in (999999999, n - 1, 2):
        if n_values < 0:
            continue
        tail = slice(n - min(n, n_values), n)
        absolute = velk_adif(a2, b2, n_values)
        relative = velk_rdif(a2, b2, n_values)
        np.testing.assert_array_equal(absolute[tail], a[tail] - b[tail])
        assert np.isnan(absolute[:tail.start]).all() and np.isnan(relative[:tail.start]).all()
        zero = b[tail] == 0
        # A zero reference gives a x 1e9 to float32 precision, others a float32 quotient.
        np.testing.assert_array_equal(relative[tail][~zero], (a[tail] - b[tail])[~zero] / b[tail][~zero])
        np.testing.assert_allclose(relative[tail][zero], a[tail][zero].astype(np.float64) * 1e9, rtol=1e-7)


@pytest.mark.parametrize("short", [0, 3, 4, 6])
def test_differences_fail_at_a_short_reference_in_any_layout(short):
    a = np.arange(1, 9, dtype=np.float32)
    for b in (a[:short].copy(), relaid(a[:short].copy(), "strided")):
        for func in (velk_adif, velk_rdif):
            with pytest.raises(IndexError, match=r"Out of bounds on buffer access \(axis 0\)"):
                func(a, b)
            # Nothing is read when no position is asked for.
            np.testing.assert_array_equal(func(a, b, 0), np.full(8, np.nan, np.float32))
