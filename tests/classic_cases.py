"""Test cases of the classic indicators: one row per registry entry (tests fail for a missing row).

Each row: parameter sets to run (the first is the defaults), and how the TA-Lib peer is called
(its function name and how our parameters map onto its keywords).
"""

import numpy as np

CASES = {
    "sma": [{}, {"timeperiod": 1}, {"timeperiod": 7}],
    "ema": [{}, {"timeperiod": 1}, {"timeperiod": 9}],
    "wma": [{}, {"timeperiod": 1}, {"timeperiod": 6}],
    "rsi": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "atr": [{}, {"timeperiod": 1}, {"timeperiod": 5}],
    "trange": [{}],
    "bbands": [{}, {"timeperiod": 20, "nbdevup": 1.5, "nbdevdn": 2.5}],
    "macd": [{}, {"fastperiod": 5, "slowperiod": 3, "signalperiod": 1}],
    "obv": [{}],
    "stoch": [{}, {"fastk_period": 14, "slowk_period": 1, "slowd_period": 4}],
    "willr": [{}, {"timeperiod": 2}],
    "cci": [{}, {"timeperiod": 2}, {"timeperiod": 20}],
    "plus_di": [{}, {"timeperiod": 1}, {"timeperiod": 5}],
    "minus_di": [{}, {"timeperiod": 1}, {"timeperiod": 5}],
    "adx": [{}, {"timeperiod": 2}, {"timeperiod": 5}],
    "dema": [{}, {"timeperiod": 1}, {"timeperiod": 5}],
    "tema": [{}, {"timeperiod": 1}, {"timeperiod": 4}],
    "trima": [{}, {"timeperiod": 1}, {"timeperiod": 2}, {"timeperiod": 7}, {"timeperiod": 10}],
    "kama": [{}, {"timeperiod": 1}, {"timeperiod": 10}],
    "t3": [{}, {"timeperiod": 1}, {"timeperiod": 3, "vfactor": 0.0}, {"timeperiod": 8, "vfactor": 1.0}],
    "midpoint": [{}, {"timeperiod": 2}],
    "midprice": [{}, {"timeperiod": 2}],
    "apo": [{}, {"fastperiod": 5, "slowperiod": 3}],
    "ppo": [{}, {"fastperiod": 5, "slowperiod": 3}],
    "mom": [{}, {"timeperiod": 1}],
    "roc": [{}, {"timeperiod": 1}],
    "stochf": [{}, {"fastk_period": 1, "fastd_period": 1}, {"fastk_period": 14, "fastd_period": 5}],
    "stochrsi": [{}, {"timeperiod": 2, "fastk_period": 1, "fastd_period": 1}, {"fastk_period": 9, "fastd_period": 4}],
}

# Deliberate differences from TA-Lib, by (name, case index): the factor TA-Lib's values need.
# With timeperiod=1 TA-Lib's PLUS_DI and MINUS_DI return the ratio, not the percentage.
TALIB_FACTOR = {("plus_di", 1): 100.0, ("minus_di", 1): 100.0}


def bars(n, seed=0, level=1000.0):
    """A random walk with high/low around the close and integer volumes (some zero)."""
    rng = np.random.default_rng(seed)
    close = level + np.cumsum(rng.normal(size=n))
    high = close + np.abs(rng.normal(size=n))
    low = close - np.abs(rng.normal(size=n))
    volume = rng.integers(0, 1000, n).astype(np.float64)
    volume[rng.random(n) < 0.1] = 0.0
    return {"open": close + rng.normal(scale=0.1, size=n), "high": high, "low": low, "close": close,
            "volume": volume, "real0": close, "real1": high}


def inputs_of(entry, data):
    return [data[name] for name in entry["inputs"]]


def cases():
    """(name, params) for every registry entry and parameter set, as pytest ids."""
    from velkized_ta.classic import NAMES

    return [(name, params) for name in NAMES for params in CASES.get(name, [])]
