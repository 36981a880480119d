"""The midpoint and its deviation from the close are rounded to float32 once,
not after every step (nor only after the final division)."""

import numpy as np
import pytest

from velkized_ta import velk_mid

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch


def bits(value):
    return int(np.array(value, dtype=np.float32).view(np.uint32))


def f32(*values):
    return np.array(values, dtype=np.float32)


def test_deviation_keeps_the_half_step_lost_in_float32():
    # 1e8 + 4 lies halfway between two float32 values; rounded early it would
    # drop to 1e8 and the deviation would come out as 8 / close instead of 12 / close.
    close = f32(1e8 - 8)
    out = velk_mid(f32(1e8 + 8), f32(1e8), close, 1)
    assert out[0] == np.float32(12) / close[0]


def test_single_rounding_before_the_division():
    # Rounding every step gives bits 0xbf4c177d, dividing in double 0xbf4c177e.
    high, low, close = (np.array([float.fromhex(v)], dtype=np.float32)
                        for v in ("0x1.3212c4p+7", "0x1.12d052p+7", "0x1.6619d8p+9"))
    assert bits(velk_mid(high, low, close, 1)[0]) == 0xBF4C177F


def test_range_is_a_float32_difference():
    # In double the midpoint of +-3e38 would be 0; the float32 range overflows first.
    out = velk_mid(f32(3e38), f32(-3e38), f32(1), 1, False)
    assert np.isposinf(out[0])


def queue_extremes(values, period, newer_wins):
    """Front of a monotonic position queue over each full window, kept literally:
    pop while the newest entry loses to (or ties) the new value, expire one per step."""
    queue, fronts = [], []
    for i, v in enumerate(values):
        if queue and queue[0] <= i - period:
            queue.pop(0)
        while queue and newer_wins(values[queue[-1]], v):
            queue.pop()
        queue.append(i)
        fronts.append(values[queue[0]])
    return np.array(fronts, dtype=np.float32)


def walk(n, seed):
    return (100 + np.cumsum(np.random.default_rng(seed).normal(0, 1, n))).astype(np.float32)


@pytest.mark.parametrize("period", [1, 2, 3, 4, 7])
@pytest.mark.parametrize("nan_at", [(), (0,), (5,), (6, 7), (13, 14, 29), (39,)])
def test_window_extremes_follow_the_queue(period, nan_at):
    # With the other series at zero the midpoint is exactly half the extreme, so
    # this checks the extremes bit for bit, NaN shielding included, wherever a
    # NaN falls relative to the window.
    x = walk(40, period)
    x[list(nan_at)] = np.nan
    zeros = np.zeros(40, np.float32)
    highest = queue_extremes(x, period, lambda older, newer: older <= newer)
    lowest = queue_extremes(-x, period, lambda older, newer: older >= newer)
    mid_high = velk_mid(x, zeros, zeros + 1, period, False)
    mid_low = velk_mid(zeros, -x, zeros + 1, period, False)
    np.testing.assert_array_equal(mid_high[period - 1:] * 2, highest[period - 1:])
    np.testing.assert_array_equal(mid_low[period - 1:] * 2, lowest[period - 1:])


@pytest.mark.parametrize("layout", ["strided", "reversed", "unaligned"])
@pytest.mark.parametrize("period, n_values", [(1, 999999999), (5, 999999999), (5, 7), (30, 999999999)])
def test_layout_does_not_change_a_bit(layout, period, n_values):
    rng = np.random.default_rng(period)
    close = walk(61, 3)
    high, low = close + rng.uniform(0, 2, 61).astype(np.float32), close - rng.uniform(0, 2, 61).astype(np.float32)
    high[[9, 40]] = np.nan

    def relaid(a):
        if layout == "strided":
            b = np.zeros(a.size * 3, np.float32)
            b[::3] = a
            return b[::3]
        if layout == "reversed":
            return a[::-1].copy()[::-1]
        b = np.ndarray(a.shape, np.float32, np.zeros(a.size * 4 + 1, np.uint8), offset=1)
        b[:] = a
        return b

    for normalize in (True, False):
        expected = velk_mid(high, low, close, period, normalize, n_values)
        actual = velk_mid(relaid(high), relaid(low), relaid(close), period, normalize, n_values)
        np.testing.assert_array_equal(actual.view(np.uint32), expected.view(np.uint32))
