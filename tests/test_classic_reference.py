"""Classic indicators against their peers: TA-Lib (same first value, 1e-9 relative where both
have values) and references from exact window sums (math.fsum) on long and level-dropping series."""

import math

import numpy as np
import pytest
from classic_cases import CASES, TALIB_FACTOR, bars, cases, inputs_of

from velkized_ta import classic

CASE_IDS = [f"{name}-{'-'.join(f'{k}={v}' for k, v in params.items()) or 'defaults'}" for name, params in cases()]


def as_tuple(values):
    return values if isinstance(values, tuple) else (values,)


def full_params(name, params):
    """Every parameter by name (TA-Lib's Python defaults differ for some, e.g. bbands' period)."""
    entry = classic.descriptor(name)
    return {spec["name"]: params.get(spec["name"], spec["default"]) for spec in entry["params"]}


@pytest.mark.parametrize("seed", [0, 1])
@pytest.mark.parametrize(("name", "params"), cases(), ids=CASE_IDS)
def test_agrees_with_talib(name, params, seed):
    talib = pytest.importorskip("talib")
    entry = classic.descriptor(name)
    data = bars(3000, seed)
    series = inputs_of(entry, data)
    ours = as_tuple(getattr(classic, name)(*series, **params))
    factor = TALIB_FACTOR.get((name, CASES[name].index(params)), 1.0)
    theirs = tuple(factor * t for t in as_tuple(getattr(talib, name.upper())(*series, **full_params(name, params))))
    scale = np.max(np.abs(data["close"]))
    for mine, peer in zip(ours, theirs):
        assert np.flatnonzero(~np.isnan(mine))[0] == np.flatnonzero(~np.isnan(peer))[0]
        np.testing.assert_allclose(mine, peer, rtol=1e-9, atol=1e-9 * scale, equal_nan=True)


# ---------------------------------------------------------------- exact window sums


def windows(x, period):
    return np.lib.stride_tricks.sliding_window_view(x, period)


def ref_sma(x, period):
    return np.array([math.fsum(w) / period for w in windows(x, period)])


def ref_wma(x, period):
    weights = np.arange(1, period + 1, dtype=np.float64)
    return np.array([math.fsum(weights * w) / (period * (period + 1) / 2) for w in windows(x, period)])


def ref_bbands(x, period, up, down):
    middle = ref_sma(x, period)
    sd = np.array([math.sqrt(math.fsum((w - m) ** 2) / period) for w, m in zip(windows(x, period), middle)])
    return middle + up * sd, middle, middle - down * sd


def ref_stoch(high, low, close, fastk_period, slowk_period, slowd_period):
    highest = windows(high, fastk_period).max(axis=1)
    lowest = windows(low, fastk_period).min(axis=1)
    scale = (highest - lowest) / 100.0
    fastk = np.where(scale != 0.0, (close[fastk_period - 1:] - lowest) / np.where(scale != 0.0, scale, 1.0), 0.0)
    slowk = ref_sma(fastk, slowk_period)
    return slowk[slowd_period - 1:], ref_sma(slowk, slowd_period)


def ref_trima(x, period):
    inner = period // 2 + 1
    weights = np.convolve(np.ones(inner), np.ones(period + 1 - inner))
    return np.array([math.fsum(weights * w) / weights.sum() for w in windows(x, period)])


def ref_kama(x, period):
    """The recursion on exact path sums, from the first value on."""
    steps = np.abs(np.diff(x))
    slowest, span = 2.0 / 31.0, 2.0 / 3.0 - 2.0 / 31.0
    kama = x[period - 1]
    out = []
    for t in range(period, len(x)):
        path = math.fsum(steps[t - period:t])
        change = x[t] - x[t - period]
        efficiency = 1.0 if path <= change or path == 0.0 else abs(change / path)
        kama += (x[t] - kama) * (efficiency * span + slowest) ** 2
        out.append(kama)
    return np.array(out)


# Positions checked: around the level drop and a spread over the whole series, so the reference's
# Python loops stay short while drift (which grows with position) is caught where it is largest.
def checked_positions(n, drop, span):
    around = np.arange(max(0, drop - span), min(n, drop + 4 * span))
    spread = np.linspace(0, n - 1, 3000).astype(np.int64)
    return np.unique(np.concatenate([around, spread, np.arange(n - span, n)]))


REFERENCES = {
    "sma": (lambda d, p: (ref_sma(d["close"], p["timeperiod"]),), lambda p: p["timeperiod"]),
    "wma": (lambda d, p: (ref_wma(d["close"], p["timeperiod"]),), lambda p: p["timeperiod"]),
    "bbands": (lambda d, p: ref_bbands(d["close"], p["timeperiod"], p["nbdevup"], p["nbdevdn"]),
               lambda p: p["timeperiod"]),
    "trima": (lambda d, p: (ref_trima(d["close"], p["timeperiod"]),), lambda p: p["timeperiod"]),
    "stoch": (lambda d, p: ref_stoch(d["high"], d["low"], d["close"], p["fastk_period"], p["slowk_period"],
                                     p["slowd_period"]),
              lambda p: p["fastk_period"] + p["slowk_period"] + p["slowd_period"] - 2),
}


def test_kama_path_sums_do_not_drift():
    for kind in ("walk", "drop"):
        data, _ = long_series(kind)
        close = data["close"][:200_000]
        ours = classic.kama(close, 10)
        np.testing.assert_allclose(ours[10:], ref_kama(close, 10), rtol=1e-9, atol=0)


def long_series(kind):
    n = 1_000_000 if kind == "walk" else 20_000
    data = bars(n, 7, level=1000.0 if kind == "walk" else 0.0)
    if kind == "drop":
        level = np.where(np.arange(n) < n // 2, 1e5, 1.0)
        noise = np.cumsum(np.random.default_rng(8).normal(scale=1e-3, size=n))
        for name in ("open", "high", "low", "close"):
            data[name] = level * (1.0 + noise) + (data[name] - data["close"]) * level * 1e-3
    return data, n // 2


@pytest.mark.parametrize("kind", ["walk", "drop"])
@pytest.mark.parametrize("name", sorted(REFERENCES))
def test_window_sums_do_not_drift(name, kind):
    reference, span_of = REFERENCES[name]
    entry = classic.descriptor(name)
    params = full_params(name, CASES[name][-1])
    data, drop = long_series(kind)
    n = len(data["close"])
    ours = as_tuple(getattr(classic, name)(*inputs_of(entry, data), **params))
    first = classic.lookback(name, **params)
    span = span_of(params)
    positions = checked_positions(n, drop, span)
    positions = positions[positions >= first]
    # The reference at each checked position, from that position's own slice of the input.
    sliced = {key: value for key, value in data.items()}
    for k, out in enumerate(ours):
        want = np.empty(len(positions))
        for i, t in enumerate(positions):
            start = max(0, t - span - 2 * params.get("timeperiod", 0))
            part = {key: value[start:t + 1] for key, value in sliced.items()}
            want[i] = as_tuple(reference(part, params))[k][-1]
        scale = np.abs(data["close"][positions])
        np.testing.assert_allclose(out[positions], want, rtol=1e-9, atol=0)
        assert np.all(np.abs(out[positions] - want) <= 1e-9 * np.maximum(np.abs(want), scale))
