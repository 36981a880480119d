"""Classic indicators against their peers: TA-Lib (same first value, 1e-9 relative where both
have values) and references from exact window sums (math.fsum) on long and level-dropping series."""

import math

import numpy as np
import pytest
from classic_cases import (CASES, SESSION_BARS, TALIB_FACTOR, TALIB_NAMES, TALIB_OTHER_DEFAULTS, TALIB_REFUSES,
                           bars, cases, inputs_of)

from velkized_ta import classic
from velkized_ta.classic import batch

CASE_IDS = [f"{name}-{'-'.join(f'{k}={v}' for k, v in params.items()) or 'defaults'}" for name, params in cases()]


def as_tuple(values):
    return values if isinstance(values, tuple) else (values,)


def full_params(name, params):
    """Every parameter by name (TA-Lib's Python defaults differ for some, e.g. bbands' period)."""
    entry = classic.descriptor(name)
    return {spec["name"]: params.get(spec["name"], spec["default"]) for spec in entry["params"]}


TALIB_CASES = [(name, params) for name, params in cases() if TALIB_NAMES.get(name, name) is not None]


def talib_inputs(entry, data):
    """The inputs TA-Lib takes: ours less the optional per-bar labels (without vwap's anchor the
    series is one session, as TA-Lib's VWAP)."""
    return [data[name] for name in entry["inputs"] if name not in entry["optional_inputs"]]


def first_agreeing_direction(data, ours, theirs):
    first = np.flatnonzero(~np.isnan(ours[1]))[0]
    return first + np.flatnonzero(ours[1][first:] == theirs[1][first:])[0]


# Deliberate differences at the start of a series: the bar from which ours and TA-Lib's agree (the
# tests after test_agrees_with_talib check the bars before it).
TALIB_AGREE_FROM = {
    "supertrend": first_agreeing_direction,  # TA-Lib's first value starts an uptrend, ours a downtrend
    "vwap": lambda data, ours, theirs: np.flatnonzero(np.cumsum(data["volume"]) != 0)[0],  # TA-Lib: 0 until then
}


@pytest.mark.parametrize("seed", [0, 1])
@pytest.mark.parametrize(("name", "params"), TALIB_CASES,
                         ids=[i for i, case in zip(CASE_IDS, cases()) if case in TALIB_CASES])
def test_agrees_with_talib(name, params, seed):
    talib = pytest.importorskip("talib")
    pytest.importorskip("talib.abstract")
    entry = classic.descriptor(name)
    data = bars(3000, seed)
    series = talib_inputs(entry, data)
    case = (name, CASES[name].index(params))
    talib_name = TALIB_NAMES.get(name, name.upper())
    if case in TALIB_REFUSES:  # a range that starts lower here: TA-Lib must still refuse it
        with pytest.raises(Exception, match="Bad Parameter"):
            getattr(talib, talib_name)(*series, **full_params(name, params))
        return
    ours = as_tuple(getattr(classic, name)(*series, **params))
    theirs = as_tuple(getattr(talib, talib_name)(*series, **full_params(name, params)))
    if any(t.dtype.kind == "i" for t in theirs):  # integers (ht_trendmode) hold 0 before the first value
        first = talib.abstract.Function(talib_name, **full_params(name, params)).lookback
        theirs = tuple(np.where(np.arange(len(t)) < first, np.nan, t) for t in theirs)
    theirs = tuple(TALIB_FACTOR.get(case, 1.0) * t for t in theirs)
    start = TALIB_AGREE_FROM[name](data, ours, theirs) if name in TALIB_AGREE_FROM else 0
    for mine, peer in zip(ours, theirs):
        assert np.flatnonzero(~np.isnan(mine))[0] == np.flatnonzero(~np.isnan(peer))[0]
        scale = np.nanmax(np.abs(peer))  # the output's own size: ratios near 0 are not measured in prices
        np.testing.assert_allclose(mine[start:], peer[start:], rtol=1e-9, atol=1e-9 * scale, equal_nan=True)


@pytest.mark.parametrize("name", sorted({name for name, _ in TALIB_CASES}))
def test_defaults_are_talibs(name):
    """Our defaults are those of TA-Lib's Python package (talib.abstract), but the listed ones."""
    abstract = pytest.importorskip("talib.abstract")
    theirs = dict(abstract.Function(TALIB_NAMES.get(name, name.upper())).parameters)
    for spec in classic.descriptor(name)["params"]:
        key = (name, spec["name"])
        assert spec["default"] == TALIB_OTHER_DEFAULTS.get(key, theirs[spec["name"]]), key
        assert key not in TALIB_OTHER_DEFAULTS or theirs[spec["name"]] != spec["default"], key


@pytest.mark.parametrize("params", [p for i, p in enumerate(CASES["supertrend"]) if ("supertrend", i) not in TALIB_REFUSES])
def test_talib_supertrend_is_these_rules_started_in_an_uptrend(params):
    """TA-Lib's SUPERTREND is our rules (test_agrees_with_its_reference) from an uptrend at the first
    value, where ours starts a downtrend: the whole series, not only from the bar they agree."""
    talib = pytest.importorskip("talib")
    data = bars(3000, 2)  # with the defaults the two directions first agree 89 bars after the first value
    hlc = data["high"], data["low"], data["close"]
    full = full_params("supertrend", params)
    theirs = talib.SUPERTREND(*hlc, **full)
    first = classic.lookback("supertrend", **params)
    want = ref_supertrend(talib, *hlc, full["timeperiod"], full["multiplier"], rising=True)
    for got, expected in zip(theirs, want):
        np.testing.assert_allclose(got[first:], expected[first:], rtol=1e-12)
    assert theirs[1][first] == 1 and classic.supertrend(*hlc, **params)[1][first] == -1


def test_vwap_before_any_volume_is_the_typical_price_where_talib_gives_0():
    talib = pytest.importorskip("talib")
    data = bars(600, 3)
    high, low, close, volume = data["high"], data["low"], data["close"], data["volume"].copy()
    volume[:7] = 0.0
    ours, theirs = classic.vwap(high, low, close, volume), talib.VWAP(high, low, close, volume)
    np.testing.assert_allclose(ours[:7], (high + low + close)[:7] / 3, rtol=1e-15)
    assert np.all(theirs[:7] == 0.0)
    np.testing.assert_allclose(ours[7:], theirs[7:], rtol=1e-13)


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


def ref_var(x, period):
    means = ref_sma(x, period)
    return np.array([math.fsum((w - m) ** 2) / period for w, m in zip(windows(x, period), means)])


def ref_line(x, period, ahead):
    """The least-squares line through each window, `ahead` bars after its newest value (None:
    the slope)."""
    centred = np.arange(period) - (period - 1) / 2.0
    spread = math.fsum(centred**2)
    out = []
    for w in windows(x, period):
        mean = math.fsum(w) / period
        slope = math.fsum(centred * (w - mean)) / spread
        out.append(slope if ahead is None else mean + slope * ((period - 1) / 2.0 + ahead))
    return np.array(out)


def simple_returns(x):
    before = x[:-1]
    return np.where(before != 0.0, (x[1:] - before) / np.where(before != 0.0, before, 1.0), 0.0)


def co_moments(x, y, period):
    """Centred sums xx, yy, xy of each window, each from exact sums."""
    out = []
    for wx, wy in zip(windows(x, period), windows(y, period)):
        dx, dy = wx - math.fsum(wx) / period, wy - math.fsum(wy) / period
        out.append((math.fsum(dx * dx), math.fsum(dy * dy), math.fsum(dx * dy)))
    return np.array(out).reshape(-1, 3).T


def ref_beta(x, y, period):
    xx, _, xy = co_moments(simple_returns(x), simple_returns(y), period)
    return np.where(xx > 0.0, xy / np.where(xx > 0.0, xx, 1.0), 0.0)


def ref_correl(x, y, period):
    xx, yy, xy = co_moments(x, y, period)
    spread = np.sqrt(xx) * np.sqrt(yy)
    return np.clip(np.where(spread > 0.0, xy / np.where(spread > 0.0, spread, 1.0), 0.0), -1.0, 1.0)


def ref_mfi(high, low, close, volume, period):
    typical = (high + low + close) / 3.0
    flow = (typical * volume)[1:]
    rising = np.where(typical[1:] > typical[:-1], flow, 0.0)
    falling = np.where(typical[1:] < typical[:-1], flow, 0.0)
    up = np.array([math.fsum(w) for w in windows(rising, period)])
    down = np.array([math.fsum(w) for w in windows(falling, period)])
    return np.where(up + down != 0.0, 100.0 * up / np.where(up + down != 0.0, up + down, 1.0), 0.0)


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
    "stddev": (lambda d, p: (np.sqrt(ref_var(d["close"], p["timeperiod"])) * p["nbdev"],), lambda p: p["timeperiod"]),
    "var": (lambda d, p: (ref_var(d["close"], p["timeperiod"]),), lambda p: p["timeperiod"]),
    "linearreg": (lambda d, p: (ref_line(d["close"], p["timeperiod"], 0.0),), lambda p: p["timeperiod"]),
    "linearreg_slope": (lambda d, p: (ref_line(d["close"], p["timeperiod"], None),), lambda p: p["timeperiod"]),
    "linearreg_intercept": (lambda d, p: (ref_line(d["close"], p["timeperiod"], 1.0 - p["timeperiod"]),),
                            lambda p: p["timeperiod"]),
    "linearreg_angle": (lambda d, p: (np.degrees(np.arctan(ref_line(d["close"], p["timeperiod"], None))),),
                        lambda p: p["timeperiod"]),
    "tsf": (lambda d, p: (ref_line(d["close"], p["timeperiod"], 1.0),), lambda p: p["timeperiod"]),
    "beta": (lambda d, p: (ref_beta(d["real0"], d["real1"], p["timeperiod"]),), lambda p: p["timeperiod"] + 1),
    "correl": (lambda d, p: (ref_correl(d["real0"], d["real1"], p["timeperiod"]),), lambda p: p["timeperiod"]),
    "mfi": (lambda d, p: (ref_mfi(d["high"], d["low"], d["close"], d["volume"], p["timeperiod"]),),
            lambda p: p["timeperiod"] + 1),
}


def test_kama_path_sums_do_not_drift():
    for kind in ("walk", "drop"):
        data, _ = long_series(kind)
        close = data["close"][:200_000]
        ours = classic.kama(close, 10)
        np.testing.assert_allclose(ours[10:], ref_kama(close, 10), rtol=1e-9, atol=0)


# ---------------------------------------------------------------- aroon, ultosc, sar and the added set
# References return their values aligned at the end of the input (padded with NaN to its length
# where TA-Lib composes them).


def ref_ultosc(high, low, close, *periods):
    previous = close[:-1]
    buying = close[1:] - np.minimum(low[1:], previous)
    ranges = np.maximum(high[1:], previous) - np.minimum(low[1:], previous)
    longest = max(periods)
    total = np.zeros(len(buying) - longest + 1)
    for weight, period in zip((4.0, 2.0, 1.0), sorted(periods)):
        top = np.array([math.fsum(w) for w in windows(buying, period)])[longest - period:]
        bottom = np.array([math.fsum(w) for w in windows(ranges, period)])[longest - period:]
        total += weight * np.divide(top, bottom, out=np.zeros_like(top), where=bottom != 0)
    return (100.0 * (total / 7.0),)


def ref_cmf(high, low, close, volume, period):
    span = high - low
    location = np.divide((close - low) - (high - close), span, out=np.zeros_like(span), where=span != 0)
    flow = np.array([math.fsum(w) for w in windows(location * volume, period)])
    total = np.array([math.fsum(w) for w in windows(volume, period)])
    return (np.divide(flow, total, out=np.zeros_like(flow), where=total != 0),)


def ref_vortex(high, low, close, period):
    ranges = np.maximum(high[1:], close[:-1]) - np.minimum(low[1:], close[:-1])
    total = np.array([math.fsum(w) for w in windows(ranges, period)])
    plus = np.array([math.fsum(w) for w in windows(np.abs(high[1:] - low[:-1]), period)])
    minus = np.array([math.fsum(w) for w in windows(np.abs(low[1:] - high[:-1]), period)])
    return tuple(np.divide(v, total, out=np.zeros_like(v), where=total != 0) for v in (plus, minus))


def ref_zscore(x, period):
    out = []
    for w in windows(x, period):
        mean = math.fsum(w) / period
        spread = math.sqrt(math.fsum((w - mean) ** 2) / period)
        out.append(math.fsum(w[-1] - w) / period / spread if spread > 0 else 0.0)
    return (np.array(out),)


def ref_hma(x, period):
    slow = ref_wma(x, period)
    inner = 2.0 * ref_wma(x, period // 2)[-len(slow):] - slow
    return (ref_wma(inner, math.isqrt(period)),)


def ref_supertrend(talib, high, low, close, period, multiplier, rising=False):
    """The rules over TA-Lib's ATR, the first value in a downtrend (ours) or an uptrend (TA-Lib's)."""
    atr = talib.ATR(high, low, close, period)
    trend, direction = np.full(len(close), np.nan), np.full(len(close), np.nan)
    first = True
    for t in np.flatnonzero(~np.isnan(atr)):
        middle = (high[t] + low[t]) / 2
        basic_upper, basic_lower = middle + multiplier * atr[t], middle - multiplier * atr[t]
        if first:
            upper, lower, first = basic_upper, basic_lower, False
        else:
            upper = basic_upper if basic_upper < upper or close[t - 1] > upper else upper
            lower = basic_lower if basic_lower > lower or close[t - 1] < lower else lower
            rising = close[t] >= lower if rising else close[t] > upper
        trend[t], direction[t] = (lower, 1.0) if rising else (upper, -1.0)
    return trend, direction


def ref_heikin_ashi(open_, high, low, close):
    ha_close = (open_ + high + low + close) / 4
    ha_open = np.empty_like(ha_close)
    ha_open[0] = (open_[0] + close[0]) / 2
    for t in range(1, len(close)):
        ha_open[t] = (ha_open[t - 1] + ha_close[t - 1]) / 2
    return ha_open, np.maximum(high, np.maximum(ha_open, ha_close)), np.minimum(low, np.minimum(ha_open, ha_close)), ha_close


def ref_ichimoku(talib, high, low, tenkan, kijun, senkou):
    lines = [talib.MIDPRICE(high, low, p) if p > 1 else (high + low) / 2 for p in (tenkan, kijun, senkou)]
    lines.insert(2, (lines[0] + lines[1]) / 2)  # NaN until both lines have values
    return tuple(lines)


def ref_vwap(high, low, close, volume, session):
    """Per run of equal anchor labels, from cumulative sums in extended precision."""
    typical = (high + low + close) / 3
    out = np.empty_like(typical)
    starts = np.flatnonzero(np.r_[True, session[1:] != session[:-1]])
    for start, stop in zip(starts, np.r_[starts[1:], len(session)]):
        traded = np.cumsum(typical[start:stop].astype(np.longdouble) * volume[start:stop])
        volumes = np.cumsum(volume[start:stop].astype(np.longdouble))
        ratio = (traded / np.where(volumes != 0, volumes, 1)).astype(np.float64)
        out[start:stop] = np.where(volumes != 0, ratio, typical[start:stop])
    return (out,)


def ref_keltner(talib, high, low, close, period, multiplier):
    middle = talib.EMA(close, period) if period > 1 else close.copy()
    width = multiplier * talib.ATR(high, low, close, period)  # a bar after the middle line's first value
    return middle + width, middle, middle - width


# A reference per indicator TA-Lib lacks (TA-Lib's blocks composed, or exact sums), and beside
# TA-Lib's function where it checks more: exact sums where TA-Lib's running sums drift (cmf, vortex,
# hma), supertrend's rules as ours start them, vwap's sessions.
PEERS = {
    "keltner": lambda t, d, p: ref_keltner(t, d["high"], d["low"], d["close"], p["timeperiod"], p["multiplier"]),
    "supertrend": lambda t, d, p: ref_supertrend(t, d["high"], d["low"], d["close"], p["timeperiod"], p["multiplier"]),
    "ichimoku": lambda t, d, p: ref_ichimoku(t, d["high"], d["low"], p["tenkan"], p["kijun"], p["senkou"]),
    "hma": lambda t, d, p: ref_hma(d["close"], p["timeperiod"]),
    "heikin_ashi": lambda t, d, p: ref_heikin_ashi(d["open"], d["high"], d["low"], d["close"]),
    "cmf": lambda t, d, p: ref_cmf(d["high"], d["low"], d["close"], d["volume"], p["timeperiod"]),
    "vortex": lambda t, d, p: ref_vortex(d["high"], d["low"], d["close"], p["timeperiod"]),
    "zscore": lambda t, d, p: ref_zscore(d["close"], p["timeperiod"]),
    "vwap": lambda t, d, p: ref_vwap(d["high"], d["low"], d["close"], d["volume"], d["anchor"]),
}


def last(data, names, count):
    """The last `count` bars of the named inputs (drift checks use a reference's last value only)."""
    return [data[name][-count:] for name in names]


REFERENCES.update({
    "ultosc": (lambda d, p: ref_ultosc(*last(d, ("high", "low", "close"), max(p["timeperiod1"], p["timeperiod2"], p["timeperiod3"]) + 1),
                                       p["timeperiod1"], p["timeperiod2"], p["timeperiod3"]),
               lambda p: max(p["timeperiod1"], p["timeperiod2"], p["timeperiod3"]) + 1),
    "hma": (lambda d, p: ref_hma(d["close"], p["timeperiod"]), lambda p: p["timeperiod"] + math.isqrt(p["timeperiod"])),
    "cmf": (lambda d, p: ref_cmf(*last(d, ("high", "low", "close", "volume"), p["timeperiod"]), p["timeperiod"]),
            lambda p: p["timeperiod"]),
    "vortex": (lambda d, p: ref_vortex(*last(d, ("high", "low", "close"), p["timeperiod"] + 1), p["timeperiod"]),
               lambda p: p["timeperiod"] + 1),
    "zscore": (lambda d, p: ref_zscore(*last(d, ("close",), p["timeperiod"]), p["timeperiod"]), lambda p: p["timeperiod"]),
    "vwap": (lambda d, p: ref_vwap(d["high"], d["low"], d["close"], d["volume"], d["anchor"]), lambda p: SESSION_BARS),
})


def long_series(kind):
    n = 1_000_000 if kind == "walk" else 20_000
    data = bars(n, 7, level=1000.0 if kind == "walk" else 0.0)
    if kind == "drop":
        level = np.where(np.arange(n) < n // 2, 1e5, 1.0)
        noise = np.cumsum(np.random.default_rng(8).normal(scale=1e-3, size=n))
        for name in ("open", "high", "low", "close"):
            data[name] = level * (1.0 + noise) + (data[name] - data["close"]) * level * 1e-3
        data["real0"], data["real1"] = data["close"], data["high"]
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


def test_accumulation_line_is_the_exactly_rounded_running_total():
    # A cumulative sum, not a window: checked at a few positions against math.fsum of every bar
    # term so far, on a million bars.
    data, _ = long_series("walk")
    high, low, close, volume = data["high"], data["low"], data["close"], data["volume"]
    terms = np.where(high - low > 0.0, ((close - low) - (high - close)) / (high - low) * volume, 0.0)
    ours = classic.ad(high, low, close, volume)
    for t in (999, 123_456, 500_000, len(terms) - 1):
        exact = math.fsum(terms[:t + 1])
        assert abs(ours[t] - exact) <= 1e-15 * max(abs(exact), np.abs(volume).max())


def test_obv_is_the_textbook_branches_bit_for_bit_with_signed_zeros():
    """An unchanged close leaves the total as it was, sign of zero included (a total of -0.0 stays
    -0.0), a higher close adds the volume and a lower one subtracts it: on a coarse price grid with
    many equal closes and volumes of +0.0 and -0.0, the one-series route and a table's lanes."""
    rng = np.random.default_rng(3)
    closes = rng.integers(0, 3, size=(400, 9)).astype(np.float64)
    volumes = rng.choice([-0.0, 0.0, 1.5, 4.0], size=(400, 9))
    volumes[0, ::2] = -0.0
    for j in range(closes.shape[1]):
        total, want = volumes[0, j], [volumes[0, j]]
        for t in range(1, len(closes)):
            if closes[t, j] > closes[t - 1, j]:
                total = total + volumes[t, j]
            elif closes[t, j] < closes[t - 1, j]:
                total = total - volumes[t, j]
            want.append(total)
        assert classic.obv(closes[:, j].copy(), volumes[:, j].copy()).tobytes() == np.array(want).tobytes()
        assert batch.obv(closes, volumes, axis=0)[:, j].tobytes() == np.array(want).tobytes()


# ---------------------------------------------------------------- definitions beyond TA-Lib


def test_every_entry_outside_talib_has_a_peer():
    assert {name for name, peer in TALIB_NAMES.items() if peer is None} <= set(PEERS)


@pytest.mark.parametrize("seed", [0, 1])
@pytest.mark.parametrize(("name", "params"), [c for c in cases() if c[0] in PEERS],
                         ids=[i for i, c in zip(CASE_IDS, cases()) if c[0] in PEERS])
def test_agrees_with_its_reference(name, params, seed):
    talib = pytest.importorskip("talib")
    entry = classic.descriptor(name)
    data = bars(3000, seed)
    ours = as_tuple(getattr(classic, name)(*inputs_of(entry, data), **params))
    theirs = as_tuple(PEERS[name](talib, data, full_params(name, params)))
    scale = np.max(np.abs(data["close"]))
    for mine, peer, first in zip(ours, theirs, classic.first_positions(name, **params)):
        peer = np.concatenate([np.full(len(mine) - len(peer), np.nan), peer])
        assert np.flatnonzero(~np.isnan(mine))[0] == np.flatnonzero(~np.isnan(peer))[0] == first
        np.testing.assert_allclose(mine, peer, rtol=1e-9, atol=1e-9 * scale, equal_nan=True)


@pytest.mark.parametrize("name", ["ultosc", "vortex", "hma", "zscore"])
def test_sums_recover_at_once_from_a_large_level_drop(name):
    """Prices falling from 1e12 to 1: rounding left by the high level must not outlive the window
    (a scheduled re-adding alone would leave it for up to a period's bars)."""
    whole = {"ultosc": lambda d, p: ref_ultosc(d["high"], d["low"], d["close"], p["timeperiod1"], p["timeperiod2"],
                                               p["timeperiod3"])}.get(name) or (lambda d, p: PEERS[name](None, d, p))
    span = REFERENCES[name][1]
    entry = classic.descriptor(name)
    params = full_params(name, CASES[name][-1])
    n, drop = 3000, 1507  # not a multiple of a period, so no scheduled re-adding hides a fault
    data = bars(n, 11)
    level = np.where(np.arange(n) < drop, 1e12, 1.0)
    for key in ("open", "high", "low", "close"):
        data[key] = level * (1.0 + 1e-3 * (data[key] - 1000.0))
    ours = as_tuple(getattr(classic, name)(*inputs_of(entry, data), **params))
    theirs = as_tuple(whole({key: value[drop - 3 * span(params):] for key, value in data.items()}, params))
    for mine, want in zip(ours, theirs):
        mine, want = mine[-len(want):][span(params):], want[span(params):]
        assert len(want) > 2 * span(params)
        np.testing.assert_allclose(mine, want, rtol=1e-9, atol=1e-12)
