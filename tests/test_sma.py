"""velk_sma: moving average with NaN-skipping window sums."""

import numpy as np
import pytest

from velkized_ta.velk_ta_funcs import velk_sma

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

NAN = np.nan


def f32(*values):
    return np.array(values, dtype=np.float32)


@pytest.mark.parametrize(
    "x, period, normalize, expected",
    [
        (f32(1, 2, 3, 4), 2, True, [NAN, -0.25, (2.5 - 3) / 3, -0.125]),
        (f32(1, 2, 3, 4), 2, False, [NAN, 1.5, 2.5, 3.5]),
        (f32(1, NAN, 3), 2, False, [NAN, 1, 3]),
        (f32(NAN, NAN, 3), 2, False, [NAN, NAN, 3]),
        (f32(1, 2, NAN, 4), 2, True, [NAN, -0.25, NAN, 0]),
        (f32(2, 4, 6), 3, False, [NAN, NAN, 4]),
        (f32(2, 4, 6), 4, False, [NAN, NAN, NAN]),
        (f32(5, 6, 7), 0, False, [NAN, NAN, NAN]),
    ],
)
def test_worked_values(x, period, normalize, expected):
    np.testing.assert_allclose(velk_sma(x, period, normalize), np.array(expected, np.float32), rtol=1e-6)


def test_window_of_missing_values_only_stays_nan():
    out = velk_sma(f32(1, NAN, NAN, NAN, 5), 2, False)
    np.testing.assert_array_equal(out, f32(NAN, 1, NAN, NAN, 5))


def test_matches_a_float64_rolling_mean():
    rng = np.random.default_rng(7)
    x = rng.normal(100, 5, 500).astype(np.float32)
    x[rng.random(500) < 0.1] = np.nan
    period = 9
    out = velk_sma(x, period, False)
    for i in range(period - 1, x.size):
        window = x[i - period + 1: i + 1].astype(np.float64)
        finite = window[~np.isnan(window)]
        if finite.size:
            assert out[i] == pytest.approx(finite.mean(), rel=2e-5)
        else:
            assert np.isnan(out[i])
    assert np.isnan(out[: period - 1]).all()


def test_running_sum_in_float32_order():
    # period 1: the running sum after each step, in float32: last element added first, then removed.
    x = f32(1e8, 3, 5, 1)
    out = velk_sma(x, 1, False)
    s = np.float32(x[-1])
    expected = []
    for i in range(4):
        s = np.float32(s + x[i])
        s = np.float32(s - x[i - 1])
        expected.append(s)
    np.testing.assert_array_equal(out, np.array(expected, np.float32))


def test_infinite_last_element_poisons_every_window():
    out = velk_sma(f32(1, 2, 3, np.inf), 2, False)
    assert np.isnan(out).all()


@pytest.mark.parametrize("n_values", [1, 2, 5, 10])
def test_n_values_gives_the_tail_of_a_full_run(n_values):
    rng = np.random.default_rng(3)
    x = rng.uniform(1, 2, 40).astype(np.float32)
    full = velk_sma(x, 5, False)
    tail = velk_sma(x, 5, False, n_values)
    assert np.isnan(tail[: 40 - n_values]).all()
    np.testing.assert_allclose(tail[40 - n_values:], full[40 - n_values:], rtol=1e-6)


def test_n_values_zero_writes_nothing():
    assert np.isnan(velk_sma(f32(1, 2, 3), 2, n_values=0)).all()


@pytest.mark.parametrize(
    "x, period, kwargs",
    [
        (f32(), 1, {}),
        (f32(), 0, {}),
        (f32(1, 2), 4, {}),
        (f32(1, 2, 3), 2, {"n_values": -1}),
        (f32(1, 2, 3), -1, {}),
        (f32(1, 2, 3), -(2**31) + 1, {}),
    ],
)
def test_out_of_bounds(x, period, kwargs):
    with pytest.raises(IndexError, match=r"^Out of bounds on buffer access \(axis 0\)$"):
        velk_sma(x, period, **kwargs)


@pytest.mark.parametrize("x, period, n_values", [(f32(), -3, 0), (f32(1, 2, 3), -(2**31), 0), (f32(1, 2), 3, 999)])
def test_start_at_or_past_the_end_reads_nothing(x, period, n_values):
    out = velk_sma(x, period, n_values=n_values)
    assert out.shape == x.shape and np.isnan(out).all()


def test_zero_price_when_normalizing():
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        velk_sma(f32(1, 0, 3), 2)
    with pytest.raises(ZeroDivisionError):
        velk_sma(f32(1, 2, -0.0), 2)
    np.testing.assert_array_equal(velk_sma(f32(1, 0, 3), 2, False), f32(NAN, 0.5, 1.5))


def float32_running_sma(x, period, normalize):
    """Step by step in float32 with the default window: pre-fill from -1, then add/remove."""
    x = np.asarray(x, np.float32)
    n = x.size
    out = np.full(n, np.nan, np.float32)
    total, count = np.float32(0), 0
    for k in range(-1, period - 1):
        if not np.isnan(x[k]):
            total, count = np.float32(total + x[k]), count + 1
    for i in range(period - 1, n):
        for v, sign in ((x[i], 1), (x[i - period], -1)):
            if not np.isnan(v):
                total = np.float32(total + v) if sign > 0 else np.float32(total - v)
                count += sign
        if count >= 1:
            mean = np.float32(total / np.float32(count))
            out[i] = np.float32(np.float32(mean - x[i]) / x[i]) if normalize else mean
    return out


def bits(a):
    return np.ascontiguousarray(a).view(np.uint32)


def with_gaps(n, seed):
    rng = np.random.default_rng(seed)
    x = (100 + np.cumsum(rng.normal(size=n))).astype(np.float32)
    x[rng.random(n) < 0.2] = np.nan
    x[rng.integers(0, n, size=n // 20)] = np.inf  # a window through an infinity reads NaN afterwards
    return x


@pytest.mark.parametrize("n", [5, 8, 9, 11, 255, 256, 257, 262, 600])
@pytest.mark.parametrize("period", [1, 2, 4, 7, 64])
@pytest.mark.parametrize("normalize", [True, False])
def test_bits_match_a_float32_step_by_step_run(n, period, normalize):
    if period > n:
        pytest.skip("no window")
    x = with_gaps(n, n * 100 + period)
    x[-1] = 1.0  # the pre-fill reads it; keep the sums finite
    with np.errstate(all="ignore"):
        expected = float32_running_sma(x, period, normalize)
    assert (bits(velk_sma(x, period, normalize)) == bits(expected)).all()


@pytest.mark.parametrize("layout", ["step2", "step3", "reversed", "unaligned"])
@pytest.mark.parametrize("normalize", [True, False])
@pytest.mark.parametrize("n_values", [999999999, 300, 7])
def test_layout_does_not_change_bits(layout, normalize, n_values):
    x = with_gaps(1037, 5)
    x[x == 0] = 1.0
    if layout == "step2":
        view = np.repeat(x, 2)[::2]
    elif layout == "step3":
        view = np.repeat(x, 3)[::3]
    elif layout == "reversed":
        view = x[::-1].copy()[::-1]
    else:
        buf = bytearray(4 * x.size + 1)
        view = np.ndarray(x.shape, np.float32, buffer=buf, offset=1)
        view[:] = x
    assert (bits(velk_sma(view, 13, normalize, n_values)) == bits(velk_sma(x, 13, normalize, n_values))).all()


@pytest.mark.parametrize("at", [20, 21, 22, 23, 255, 256, 257, 520, 1021, 1022, 1023])
def test_zero_price_raises_wherever_it_sits(at):
    x = np.linspace(1, 2, 1024, dtype=np.float32)
    x[at] = 0.0
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        velk_sma(x, 20)


def test_negative_zeros_average_to_positive_zero():
    x = np.full(530, -0.0, np.float32)
    x[::7] = np.nan
    x[100:120] = np.nan
    out = velk_sma(x, 10, False)
    written = ~np.isnan(out)
    assert written[9:100].all() and not written[110:120].any()
    assert (bits(out[written]) == 0).all()
