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
