"""The benchmark's own helpers: the agreement check that guards every timed comparison, and the bars."""

import sys
from pathlib import Path

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "benchmarks"))

from harness import agreement, pad_front, random_walk_bars


@pytest.fixture(scope="module")
def quantity():
    """A smooth series that crosses zero, with a NaN warm-up, as float64."""
    t = np.arange(3000, dtype=np.float64)
    values = np.sin(t / 40.0) + 0.3 * np.cos(t / 7.0)
    values[:13] = np.nan
    return values


def test_the_same_quantity_rounded_to_float32_agrees(quantity):
    result = agreement(quantity.astype(np.float32), quantity, tol=1e-6)
    assert result.ok
    assert result.checked == 2000
    assert result.max_err < 1e-7


@pytest.mark.parametrize(
    "change",
    [
        pytest.param(lambda v: v * 100, id="percent-scaled"),
        pytest.param(lambda v: -v, id="sign"),
        pytest.param(lambda v: np.concatenate(([np.nan], v[:-1])), id="shifted-one-bar"),
        pytest.param(lambda v: v * (1 + 1e-3), id="ddof-like-factor"),
        pytest.param(lambda v: np.where(np.arange(len(v)) == 500, np.nan, v), id="nan-elsewhere"),
    ],
)
def test_a_different_quantity_is_rejected(quantity, change):
    assert not agreement(change(quantity), quantity, tol=1e-4).ok


def test_skip_leaves_out_a_differently_seeded_start(quantity):
    ours = quantity.copy()
    ours[13:200] += 0.5  # a different seed that has not decayed yet
    assert not agreement(ours, quantity, tol=1e-6).ok
    assert agreement(ours, quantity, skip=200, tol=1e-6).ok


def test_frac_tolerates_isolated_outliers_only(quantity):
    ours = quantity.copy()
    ours[100:110] *= 2  # ten ill-conditioned positions of 2000
    assert not agreement(ours, quantity, tol=1e-6).ok
    assert agreement(ours, quantity, tol=1e-6, frac=0.99).ok
    ours[100:200] *= 2
    assert not agreement(ours, quantity, tol=1e-6, frac=0.99).ok


def test_head_bounds_the_strict_comparison_but_not_the_reported_error(quantity):
    drift = np.linspace(0.0, 0.1, len(quantity))  # running sums drifting away slowly
    result = agreement(quantity + drift, quantity, tol=1e-2, head=100)
    assert result.ok
    assert result.full_max_err > 1e-2


def test_lengths_must_match(quantity):
    assert not agreement(quantity[:-1], quantity).ok


def test_pad_front_aligns_a_shortened_output_to_the_end():
    assert np.array_equal(pad_front([1.0, 2.0], 4), [np.nan, np.nan, 1.0, 2.0], equal_nan=True)


def test_bars_are_reproducible_float32_ohlc_near_100():
    bars = random_walk_bars(50_000, 7)
    again = random_walk_bars(50_000, 7)
    assert all(getattr(bars, k).dtype == np.float32 for k in ("open", "high", "low", "close"))
    assert np.array_equal(bars.close, again.close)
    assert np.all(bars.low <= np.minimum(bars.open, bars.close))
    assert np.all(bars.high >= np.maximum(bars.open, bars.close))
    assert np.array_equal(bars.open[1:], bars.close[:-1])
    assert 100 * np.exp(-0.5) * 0.99 < bars.close.min() and bars.close.max() < 100 * np.exp(0.5) * 1.01


# ---- probes: each must measure what it claims, or the tables mislead


def test_thread_probe_sees_two_threads_that_do_not_hold_the_interpreter():
    import time

    from harness import thread_speedup

    bars = random_walk_bars(10, 1)
    assert thread_speedup(lambda b: lambda: time.sleep(0.02), bars, bars, calls=3, repeats=1) > 1.6


def test_memory_probe_reports_the_peak_not_what_is_left():
    from harness import peak_memory

    n = 1_000_000

    def two_arrays_at_once():
        ones = np.ones(n, dtype=np.float32)
        twos = ones + np.float32(1)
        return twos[:10].copy()

    result = peak_memory(two_arrays_at_once)
    assert 2 * 4 * n <= result["traced"] <= 2 * 4 * n + 65536
    if result["rss"] is not None:
        assert result["rss"] <= 2 * 4 * n + 2 * (2 << 20)  # each array may round up to huge pages


# ---- chain-only kernels: the same arithmetic as the indicators, step by step


@pytest.fixture(scope="module")
def chains():
    import shutil

    from harness import Chains

    if not (shutil.which("cc") or shutil.which("gcc")):
        pytest.skip("no C compiler")
    kernels = Chains()
    yield kernels
    kernels.close()


@pytest.fixture(scope="module")
def bars():
    return random_walk_bars(3000, 11)


def round_f32(exact):
    """The float32 nearest to an exact rational, ties to even."""
    from fractions import Fraction

    f = np.float32(float(exact))
    candidates = (np.nextafter(f, np.float32(-np.inf)), f, np.nextafter(f, np.float32(np.inf)))
    return min(candidates, key=lambda g: (abs(Fraction(float(g)) - exact), int(g.view(np.int32)) & 1))


def test_ema_chain_is_the_double_fused_update_narrowed(chains, bars):
    from fractions import Fraction

    x, alpha = bars.close, np.float32(2 / 15)
    c = Fraction(1.0 - float(alpha))
    v = x[0]
    for xi in x[1:]:
        q = alpha * xi
        v = np.float32(float(c * Fraction(float(v)) + Fraction(float(q))))
    assert chains.ema(x, len(x), alpha) == v


def test_wilder_chain_is_a_float32_fused_update_then_a_division(chains, bars):
    from fractions import Fraction

    a, p = bars.high - bars.low, 14
    w, t = np.float32(p - 1), np.float32(p)
    v = np.float32(0)
    for ai in a[1:]:
        v = round_f32(Fraction(float(v)) * Fraction(float(w)) + Fraction(float(ai))) / t
    assert chains.wilder(a, a, a, 1, len(a), p) == v


def test_window_sum_chain_adds_then_subtracts(chains, bars):
    x, p = bars.close, 14
    s = np.float32(0)
    for i in range(p, len(x)):
        s = (s + x[i]) - x[i - p]
    assert chains.window_sum(x, len(x), p) == s


def test_queue_chain_ends_on_the_last_window_extremes(chains, bars):
    p, n = 14, len(bars)
    found = chains.queues(bars.high, bars.low, np.zeros(n, np.int32), np.zeros(n, np.int32), n, p)
    assert found == bars.high[-p:].max() + bars.low[-p:].min()
