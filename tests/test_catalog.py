"""The catalogue's stated warm-ups and ranges hold on random bars."""

import warnings

import numpy as np
import pytest

import velkized_ta
from velkized_ta.catalog import INDICATORS
from velkized_ta.sample import example_arguments, sample_ohlc

PERIODS = (2, 3, 7, 14, 30)


def call(name, period, n=400):
    function = getattr(velkized_ta, name)
    kwargs = example_arguments(function, sample_ohlc(n, seed=1000 + period), period)
    if name == "velk_macd":  # the sample call fixes 12/26; vary the slow period with the others
        kwargs.update(short_period=max(1, period // 2), long_period=period)
    periods = {key: value for key, value in kwargs.items() if not isinstance(value, np.ndarray)}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # velk_cci's square root of a rounded-negative variance
        return function(**kwargs), periods


def test_catalogue_covers_every_function():
    assert sorted(INDICATORS) == sorted(velkized_ta.FUNCTION_NAMES)


@pytest.mark.parametrize("period", PERIODS)
@pytest.mark.parametrize("name", list(INDICATORS))
def test_stated_warm_up_is_the_first_value(name, period):
    values, periods = call(name, period)
    first = int(np.flatnonzero(~np.isnan(values))[0])
    assert first == INDICATORS[name].warm_up(**periods)


@pytest.mark.parametrize("name", [name for name, indicator in INDICATORS.items() if indicator.bounds])
def test_values_stay_in_the_stated_range(name):
    low, high = INDICATORS[name].bounds
    for period in PERIODS:
        values, _ = call(name, period, n=3000)
        assert low <= np.nanmin(values) and np.nanmax(values) <= high, period
