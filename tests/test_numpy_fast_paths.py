"""Allocation, views and the nanmean seed bypass Python only while `np` is numpy's own:
results through the shortcut and through Python-level numpy calls must agree bit for bit."""

import warnings

import numpy as np
import pytest

import velkized_ta
from velkized_ta import velk_ta_funcs
from velkized_ta.sample import example_arguments


class NumpyProxy:
    """Not numpy's module object, so every numpy use goes through a Python-level call."""

    def __getattr__(self, name):
        return getattr(np, name)


def random_bars(n, seed, nan_share=0.0):
    rng = np.random.default_rng(seed)
    close = (100 * np.exp(np.cumsum(rng.normal(0, 0.02, n)))).astype(np.float32)
    high = close * (1 + rng.uniform(0, 0.03, n)).astype(np.float32)
    low = close * (1 - rng.uniform(0, 0.03, n)).astype(np.float32)
    bars = {"open": np.roll(close, 1), "high": high, "low": low, "close": close}
    if nan_share:
        for key in bars:
            bars[key][rng.random(n) < nan_share] = np.nan
    return bars


def both_ways(module, function, kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        direct = function(**kwargs)
        module.np = NumpyProxy()
        try:
            through_python = function(**kwargs)
        finally:
            module.np = np
    return direct, through_python


@pytest.mark.parametrize("name", velkized_ta.FUNCTION_NAMES)
@pytest.mark.parametrize("period, nan_share", [(14, 0.0), (3, 0.05)])
def test_every_function_agrees(restore_module_globals, name, period, nan_share):
    function = getattr(velk_ta_funcs, name)
    kwargs = example_arguments(function, random_bars(400, period), period)
    try:
        direct, through_python = both_ways(restore_module_globals, function, kwargs)
    except (ZeroDivisionError, IndexError):
        pytest.skip("this input raises either way")
    assert direct.tobytes() == through_python.tobytes()


# Seed windows of every size around numpy's summation blocks (8 accumulators, 128-element blocks).
@pytest.mark.parametrize("period", [1, 2, 7, 8, 9, 15, 16, 17, 127, 128, 129, 255, 256, 257, 300, 1030])
@pytest.mark.parametrize("name", ["velk_natr", "velk_adx", "velk_adxr"])
def test_nanmean_seed_matches_numpy(restore_module_globals, name, period):
    function = getattr(velk_ta_funcs, name)
    for seed in range(3):
        bars = random_bars(3 * period + 40, seed + period, nan_share=0.02 * seed)
        kwargs = example_arguments(function, bars, period)
        try:
            direct, through_python = both_ways(restore_module_globals, function, kwargs)
        except (ZeroDivisionError, IndexError):
            continue
        assert direct.tobytes() == through_python.tobytes()


def test_empty_seed_window_still_warns():
    series = np.full(10, np.nan, dtype=np.float32)
    with pytest.warns(RuntimeWarning, match="Mean of empty slice"):
        out = velk_ta_funcs.velk_adx(None, None, series, 3, close_arr_is_dx=True)
    assert np.isnan(out).all()


def test_rebinding_numpy_functions_is_honoured(restore_module_globals, monkeypatch):
    bars = random_bars(60, 1)
    calls = []
    original = np.nanmean

    def spy(values):
        calls.append(len(values))
        return original(values)

    monkeypatch.setattr(np, "nanmean", spy)
    velk_ta_funcs.velk_natr(bars["high"], bars["low"], bars["close"], 5)
    assert calls == [5]
