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
    "bbands": [{}, *({"matype": matype} for matype in range(1, 9)), {"timeperiod": 40, "matype": 7},
               {"timeperiod": 20, "nbdevup": 1.5, "nbdevdn": 2.5}],
    "macd": [{}, {"fastperiod": 5, "slowperiod": 3, "signalperiod": 1}],
    "obv": [{}],
    "stoch": [{}, {"slowk_matype": 1, "slowd_matype": 8}, {"slowk_period": 1, "slowk_matype": 6, "slowd_matype": 3},
              {"fastk_period": 14, "slowk_period": 1, "slowd_period": 4}],
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
    "apo": [{}, {"fastperiod": 5, "slowperiod": 3}, {"matype": 0}, {"fastperiod": 5, "slowperiod": 3, "matype": 6}],
    "ppo": [{}, {"fastperiod": 5, "slowperiod": 3}, {"matype": 2}, {"matype": 7}],
    "mom": [{}, {"timeperiod": 1}],
    "roc": [{}, {"timeperiod": 1}],
    # statistics, price transforms, momentum, volume
    "stddev": [{}, {"timeperiod": 2}, {"timeperiod": 20, "nbdev": 2.5}],
    "var": [{}, {"timeperiod": 1}, {"timeperiod": 20, "nbdev": 3.0}],
    "linearreg": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "linearreg_slope": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "linearreg_intercept": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "linearreg_angle": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "tsf": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "beta": [{}, {"timeperiod": 1}, {"timeperiod": 20}],
    "correl": [{}, {"timeperiod": 1}, {"timeperiod": 10}],
    "avgprice": [{}],
    "medprice": [{}],
    "typprice": [{}],
    "wclprice": [{}],
    "bop": [{}],
    "rocp": [{}, {"timeperiod": 1}, {"timeperiod": 25}],
    "rocr": [{}, {"timeperiod": 1}, {"timeperiod": 25}],
    "rocr100": [{}, {"timeperiod": 1}, {"timeperiod": 25}],
    "cmo": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "trix": [{}, {"timeperiod": 1}, {"timeperiod": 9}],
    "mfi": [{}, {"timeperiod": 2}, {"timeperiod": 30}],
    "ad": [{}],
    "adosc": [{}, {"fastperiod": 12, "slowperiod": 5}],
    # aroon, ultosc, sar and the added set
    "aroon": [{}, {"timeperiod": 2}, {"timeperiod": 25}],
    "aroonosc": [{}, {"timeperiod": 2}, {"timeperiod": 25}],
    "ultosc": [{}, {"timeperiod1": 1, "timeperiod2": 1, "timeperiod3": 1}, {"timeperiod1": 20, "timeperiod2": 3, "timeperiod3": 9}],
    "sar": [{}, {"acceleration": 0.5, "maximum": 0.1}, {"acceleration": 0.01, "maximum": 0.5},
            {"acceleration": 0.001, "maximum": 0.2}],  # more factor steps than the kernel lists
    "keltner": [{}, {"timeperiod": 1, "multiplier": 0.5}, {"timeperiod": 10, "multiplier": -1.0}],
    "donchian": [{}, {"timeperiod": 1}, {"timeperiod": 55}],
    "supertrend": [{}, {"timeperiod": 1, "multiplier": 0.0}, {"timeperiod": 7, "multiplier": 1.5}],
    "ichimoku": [{}, {"tenkan": 1, "kijun": 1, "senkou": 1}, {"tenkan": 30, "kijun": 5, "senkou": 12}],
    "hma": [{}, {"timeperiod": 2}, {"timeperiod": 9}],
    "zlema": [{}, {"timeperiod": 1}, {"timeperiod": 2}, {"timeperiod": 9}],
    "heikin_ashi": [{}],
    "cmf": [{}, {"timeperiod": 1}, {"timeperiod": 7}],
    "vortex": [{}, {"timeperiod": 1}, {"timeperiod": 30}],
    "zscore": [{}, {"timeperiod": 2}, {"timeperiod": 50}],
    "vwap": [{}],
    "stochf": [{}, {"fastk_period": 1, "fastd_period": 1}, {"fastk_period": 14, "fastd_period": 5},
               {"fastd_matype": 5}, {"fastd_period": 4, "fastd_matype": 4}],
    "stochrsi": [{}, {"timeperiod": 2, "fastk_period": 1, "fastd_period": 1}, {"fastk_period": 9, "fastd_period": 4},
                 {"fastd_matype": 2}, {"fastd_matype": 8}],
    # directional remainder, moving-average types, MAMA
    "dx": [{}, {"timeperiod": 2}, {"timeperiod": 5}],
    "adxr": [{}, {"timeperiod": 2}, {"timeperiod": 5}],
    "plus_dm": [{}, {"timeperiod": 1}, {"timeperiod": 2}, {"timeperiod": 5}],
    "minus_dm": [{}, {"timeperiod": 1}, {"timeperiod": 2}, {"timeperiod": 5}],
    "natr": [{}, {"timeperiod": 2}, {"timeperiod": 5}],
    "mama": [{}, {"fastlimit": 0.3, "slowlimit": 0.1}, {"fastlimit": 0.9, "slowlimit": 0.01}],
    "macdext": [{}, {"fastmatype": 1, "slowmatype": 1, "signalmatype": 1},
                {"fastmatype": 3, "slowmatype": 4, "signalperiod": 1, "signalmatype": 2},
                {"fastperiod": 30, "fastmatype": 8, "slowperiod": 10, "slowmatype": 6, "signalperiod": 5, "signalmatype": 7},
                {"fastperiod": 5, "fastmatype": 7, "slowmatype": 5, "signalmatype": 3}],
    "ht_dcperiod": [{}],
    "ht_dcphase": [{}],
    "ht_phasor": [{}],
    "ht_sine": [{}],
    "ht_trendline": [{}],
    "ht_trendmode": [{}],
}

# Deliberate differences from TA-Lib, by (name, case index): the factor TA-Lib's values need.
# With timeperiod=1 TA-Lib's PLUS_DI and MINUS_DI return the ratio, not the percentage.
TALIB_FACTOR = {("plus_di", 1): 100.0, ("minus_di", 1): 100.0}

TALIB_NAMES = {}  # our name -> TA-Lib's, where not simply upper-cased
# Not in TA-Lib: compared with the references of test_classic_reference.py (PEERS) instead.
TALIB_NAMES.update(dict.fromkeys(["keltner", "ichimoku", "heikin_ashi", "zscore"]))

# Parameter sets TA-Lib refuses, by (name, case index): its timeperiod starts at 2 there.
TALIB_REFUSES = {("cmf", 1), ("donchian", 1), ("supertrend", 1)}

# Defaults that differ from TA-Lib's Python package (talib.abstract), by (name, parameter): ours.
TALIB_OTHER_DEFAULTS = {("bbands", "timeperiod"): 5, ("zlema", "timeperiod"): 20}


SESSION_BARS = 390


def bars(n, seed=0, level=1000.0):
    """A random walk with high/low around the close, integer volumes (some zero) and anchor
    (session) labels, a new one every SESSION_BARS bars."""
    rng = np.random.default_rng(seed)
    close = level + np.cumsum(rng.normal(size=n))
    high = close + np.abs(rng.normal(size=n))
    low = close - np.abs(rng.normal(size=n))
    volume = rng.integers(0, 1000, n).astype(np.float64)
    volume[rng.random(n) < 0.1] = 0.0
    return {"open": close + rng.normal(scale=0.1, size=n), "high": high, "low": low, "close": close,
            "volume": volume, "real0": close, "real1": high, "anchor": np.arange(n) // SESSION_BARS * 1.0}


def inputs_of(entry, data):
    return [data[name] for name in entry["inputs"]]


def cases():
    """(name, params) for every registry entry and parameter set, as pytest ids."""
    from velkized_ta.classic import NAMES

    return [(name, params) for name in NAMES for params in CASES.get(name, [])]
