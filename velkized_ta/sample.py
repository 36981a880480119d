"""Deterministic synthetic OHLC bars shipped with the package for demos and examples."""

import numpy as np

SEED = 20261208


def sample_ohlc(n: int = 5000, seed: int = SEED) -> dict:
    """Return a random-walk OHLC series of `n` bars as float32 arrays.

    The same `n` and `seed` always give the same bars (numpy's PCG64 stream).
    """
    rng = np.random.default_rng(seed)
    close = 100.0 * np.exp(np.cumsum(rng.normal(0.0, 0.01, n)))
    open_ = np.concatenate(([100.0], close[:-1]))
    reach = np.abs(rng.normal(0.0, 0.006, n)) * close
    high = np.maximum(open_, close) + reach * rng.random(n)
    low = np.minimum(open_, close) - reach * rng.random(n)
    return {
        "open": open_.astype(np.float32),
        "high": high.astype(np.float32),
        "low": low.astype(np.float32),
        "close": close.astype(np.float32),
    }


def sample_ohlcv(n: int = 5000, seed: int = SEED) -> dict:
    """`sample_ohlc(n, seed)` with a volume per bar (float64, larger on wide bars, some bars zero) and
    a session label per bar (float64, a new session every 78 bars, for session-anchored indicators)."""
    bars = sample_ohlc(n, seed)
    rng = np.random.default_rng(seed + 1)
    width = (bars["high"] - bars["low"]).astype(np.float64) / bars["close"]
    volume = np.round(1e6 * width * rng.uniform(0.5, 1.5, n))
    volume[rng.random(n) < 0.02] = 0.0
    return {**bars, "volume": volume, "session": (np.arange(n) // 78).astype(np.float64)}


_SERIES_ROLE = {
    "input_array": "close", "arr": "close", "input0": "close", "close": "close", "close_arr": "close",
    "high": "high", "high_arr": "high", "low": "low", "low_arr": "low",
    "input_array_1": "close", "input_array_2": "open",
}
# Stage arrays a caller may hand in; only the first one, when required, is the price series.
_STAGE_INPUTS = ("input1", "input2", "input3")


def example_arguments(function, bars: dict, timeperiod: int = 14) -> dict:
    """Keyword arguments for a typical call of `function` on `bars` (see sample_ohlc)."""
    import inspect

    periods = {"timeperiod": timeperiod, "short_period": timeperiod // 2, "medium_period": timeperiod,
               "long_period": 2 * timeperiod}
    if function.__name__ == "velk_macd":
        periods.update(short_period=12, long_period=26)
    kwargs = {}
    for name, param in inspect.signature(function).parameters.items():
        required = param.default is inspect.Parameter.empty
        if name in _SERIES_ROLE:
            kwargs[name] = bars[_SERIES_ROLE[name]]
        elif name in _STAGE_INPUTS and required:
            kwargs[name] = bars["close"]
        elif name in periods:
            kwargs[name] = periods[name]
    return kwargs
