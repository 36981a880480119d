"""Classic window statistics where raw sums fail: small variation on a high price level, and
exact zeros (returns, ratios and ranges with nothing to divide by)."""

import numpy as np
import pytest
from test_classic_reference import REFERENCES, as_tuple, full_params

from velkized_ta import classic


@pytest.mark.parametrize("name", ["stddev", "var", "linearreg_slope", "linearreg", "correl", "beta"])
def test_small_variation_on_a_high_level_keeps_its_digits(name):
    # sum(x^2) - n mean^2 at level 1e8 loses about 1 of the variance (1e16 * 1e-16); the
    # variation here is about 1e-4, so only sums about the window mean keep it.
    rng = np.random.default_rng(11)
    n = 600
    walk = np.cumsum(rng.normal(scale=1e-2, size=n))
    data = {"close": 1e8 + walk, "real0": 1e8 + walk, "real1": 2e8 + walk + rng.normal(scale=1e-2, size=n)}
    params = full_params(name, {})
    ours = getattr(classic, name)(*(data[k] for k in classic.descriptor(name)["inputs"]), **params)
    reference, _ = REFERENCES[name]
    want = as_tuple(reference(data, params))[0]
    first = classic.lookback(name, **params)
    assert len(want) == n - first
    level = 1e8 if name == "linearreg" else 1e-2  # the scale the values are read against
    assert np.all(np.abs(ours[first:] - want) <= 1e-9 * np.maximum(np.abs(want), level))


def test_zero_prices_and_ranges_follow_the_documented_conventions():
    close = np.array([0.0, 0.0, 2.0, 0.0, 3.0, 3.0, 0.0, 5.0, 1.0, 0.0, 2.0, 4.0])
    before = close[:-1]
    ratio = np.where(before != 0.0, close[1:] / np.where(before != 0.0, before, 1.0), 0.0)
    assert np.array_equal(classic.rocr(close, 1)[1:], ratio)
    for name in ("rocp", "rocr", "rocr100", "trix", "cmo"):
        period = 2 if name == "cmo" else 1
        assert np.isfinite(getattr(classic, name)(close, period)[classic.lookback(name, period):]).all()
    # Returns after a zero price count as 0, so beta stays finite and a window of such returns gives 0.
    beta = classic.beta(close, close[::-1].copy(), 2)
    assert np.isfinite(beta[2:]).all() and beta[2] == 0.0
    # A bar with no range: no balance of power and nothing added to the accumulation line.
    high, low = close + 1.0, close + 1.0
    high[::2] += 2.0
    assert np.array_equal(classic.bop(close, high, low, close)[1::2], np.zeros(6))
    line = classic.ad(high, low, close, np.full(12, 7.0))
    assert np.array_equal(np.diff(line)[::2], np.zeros(6))
    # No money flow at all (zero volume) gives 0, not 0 / 0.
    assert np.array_equal(classic.mfi(high, low, close, np.zeros(12), 3)[3:], np.zeros(9))


@pytest.mark.every_dispatch
@pytest.mark.parametrize("period", [1, 5, 30])
def test_beta_returns_after_zero_prices_match_the_live_update(period):
    """The whole-array loop forms the returns two bars at a time; a zero price (no return defined)
    in either lane must give the step's 0 there, and the window statistics then the step's bits."""
    from velkized_ta.classic import stream

    rng = np.random.default_rng(11)
    real0, real1 = (50.0 + np.cumsum(rng.normal(size=900)) for _ in range(2))
    real0[rng.integers(0, 900, 60)] = 0.0
    real1[rng.integers(0, 900, 60)] = 0.0
    whole = classic.beta(real0, real1, period)
    handle = stream.beta(real0[:0], real1[:0], period)
    live = np.array([handle.update(float(a), float(b)) for a, b in zip(real0, real1)])
    assert np.array_equal(live, whole, equal_nan=True)
