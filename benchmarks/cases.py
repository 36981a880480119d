"""The 24 benchmark cases: the call timed, each peer's nearest equivalent, the chain-only kernel
and the memory the call may hold at its peak.

Every peer callable computes the same quantity as the indicator, in the peer's own units; `post`
(outside the timing) rescales it to the indicator's convention and aligns it to full length for
the agreement check. Where a peer has no single function for the quantity, the callable composes
it from the peer's building blocks plus numpy arithmetic, and that whole composition is timed.
"""

from __future__ import annotations

import importlib
from dataclasses import dataclass, field
from functools import partial
from typing import Callable

import numpy as np
from harness import Bars, Chains, pad_front

P = 14  # every single-period indicator
FAST, SLOW = 12, 26  # MACD
SHORT, MEDIUM, LONG = 7, 14, 28  # ultimate oscillator

# Peers that agree only after their different seeding has decayed are compared from here on.
SETTLED = 40
# Indicators whose float32 running sums drift from bar to bar (regression sums, sums of squares)
# meet an exact peer only near the start: enough to tell a different formula (a ddof, a mean
# absolute deviation, a scale factor), not a long-run accuracy test.
DRIFTING = {"head": 100, "tol": 1e-2}


@dataclass
class Peer:
    lib: str
    what: str
    make: Callable[[Bars], Callable[[], object]]
    post: Callable[[object, Bars], np.ndarray] = lambda out, bars: np.asarray(out, dtype=np.float64)
    skip: int = 0
    tol: float = 1e-5
    frac: float = 1.0
    f64: bool = True
    head: int = 2000  # positions compared (see harness.agreement)


@dataclass
class Case:
    name: str
    call: Callable[[object, Bars], Callable[[], np.ndarray]]
    inputs: tuple
    arrays: int  # n-long float32/int32 arrays alive at the call's peak: output, work arrays, stages
    chain: Callable[[Chains, Bars], Callable[[], float]] | None
    chain_what: str
    peers: list = field(default_factory=list)
    note: str = ""
    # For context only: the nearest single peer call, timed without an agreement check because
    # its quantity differs (the peers' TEMA smooths the price, not its relative deviation).
    context: Peer | None = None


def available(lib: str) -> bool:
    module = {"TA-Lib": "talib", "numpy": "numpy"}.get(lib, lib)
    try:
        importlib.import_module(module)
    except ImportError:
        return False
    return True


# ---------------------------------------------------------------- shared peer building blocks


def _ta():
    import talib

    return talib


def _ti():
    import tulipy

    return tulipy


def _bn():
    import bottleneck

    return bottleneck


def _pl():
    import polars

    return polars


def hlc64(b: Bars):
    return b.f64("high"), b.f64("low"), b.f64("close")


def hlc_series(b: Bars):
    return b.series("high"), b.series("low"), b.series("close")


def hlc32(b: Bars):
    return b.high, b.low, b.close


def scaled(k: float):
    """post for a peer that reports the quantity multiplied by k (percentages, signs)."""
    return lambda out, bars: np.asarray(out, dtype=np.float64) / k


def padded(k: float = 1.0, pick=None):
    """post for a tulipy output, which omits the warm-up positions."""

    def post(out, bars):
        if pick is not None:
            out = out[pick]
        return pad_front(out, len(bars)) / k

    return post


def first(out, bars):
    return np.asarray(out[0], dtype=np.float64)


# EMA chains. Stage 1 is the relative deviation (EMA - price) / price; later stages are plain EMAs.


def ema_chain(ema, c, count: int):
    """A peer's EMA chain: stage 1 of the prices, then `count` - 1 further stages."""

    def run():
        stage = (ema(c) - c) / c
        stages = [stage]
        for _ in range(count - 1):
            stage = ema(stage)
            stages.append(stage)
        return stages

    return run


def ta_stages(b: Bars, count: int, p: int = P):
    ta = _ta()
    return ema_chain(lambda s: ta.EMA(s, p), b.f64("close"), count)


def pd_rolling_mean(s, p=P):
    return s.rolling(p).mean()


def relative_difference(a, b):
    return (a - b) / b


def np_roc(b: Bars):
    c = b.close
    return lambda: relative_difference(c[P:], c[:-P])


def ta_single(function: str, *periods):
    """Context peer: one TA-Lib call on the float64 close."""
    return Peer("TA-Lib", f"{function}(close, {', '.join(map(str, periods))})",
                lambda b: partial(getattr(_ta(), function), b.f64("close"), *periods))


def pd_ewm(s, p=P):
    return s.ewm(span=p, adjust=False).mean()


def pd_stages(b: Bars, count: int, p: int = P):
    return ema_chain(lambda s: pd_ewm(s, p), b.series("close"), count)


def ti_stages(b: Bars, count: int, p: int = P):
    ti = _ti()
    return ema_chain(lambda s: ti.ema(s, p), b.f64("close"), count)


def pl_stages(b: Bars, count: int, p: int = P):
    return ema_chain(lambda s: s.ewm_mean(span=p, adjust=False), b.polars("close"), count)


STAGE_PEERS = (
    ("TA-Lib", ta_stages, SETTLED * P, True),
    ("pandas", pd_stages, 0, True),
    ("tulipy", ti_stages, 0, True),
    ("polars", pl_stages, 0, False),
)


def stage_peers(count: int, combine, what: str, tol: float = 1e-4, frac: float = 1.0, skip: int = 0):
    """Peers for an indicator built from the EMA chain: the chain's stages through each peer's
    EMA, combined with `combine(stages)`."""
    peers = []
    for lib, stages, settle, f64 in STAGE_PEERS:

        def make(b, stages=stages):
            run = stages(b, count)
            return lambda: combine(run())

        peers.append(Peer(lib, what, make, post=lambda out, bars: np.asarray(out, dtype=np.float64),
                          skip=max(settle, skip), tol=tol, frac=frac, f64=f64))
    return peers


def relative_change(s):
    """(s[k] - s[k - 1]) / s[k - 1] for numpy arrays and pandas or polars series."""
    if isinstance(s, np.ndarray):
        out = np.full(len(s), np.nan)
        out[1:] = (s[1:] - s[:-1]) / s[:-1]
        return out
    return s.pct_change()


def macd_peer(lib: str):
    """(fast EMA - slow EMA) / close through one peer's EMA."""

    def make(b: Bars):
        if lib == "pandas":
            c = b.series("close")
            fast, slow = partial(pd_ewm, c, FAST), partial(pd_ewm, c, SLOW)
        elif lib == "polars":
            c = b.polars("close")
            fast = partial(c.ewm_mean, span=FAST, adjust=False)
            slow = partial(c.ewm_mean, span=SLOW, adjust=False)
        else:
            c = b.f64("close")
            ema = _ta().EMA if lib == "TA-Lib" else _ti().ema
            fast, slow = partial(ema, c, FAST), partial(ema, c, SLOW)
        return lambda: (fast() - slow()) / c

    return make


def ta_relative_difference(b: Bars):
    ta, c, o = _ta(), b.f64("close"), b.f64("open")
    return lambda: ta.DIV(ta.SUB(c, o), o)


# Bar quantities of the directional family, for the pandas compositions.


def pd_true_range(h, l, c):
    prev = c.shift(1)
    return np.maximum(np.maximum(h - l, (h - prev).abs()), (l - prev).abs())


def pd_directional(h, l):
    up, down = h.diff(), -l.diff()
    plus = up.where((up > down) & (up > 0), 0.0)
    minus = down.where((down > up) & (down > 0), 0.0)
    return plus, minus


def pd_wilder(s, p=P):
    return s.ewm(alpha=1.0 / p, adjust=False).mean()


def pd_dx(h, l, c, p=P):
    atr = pd_wilder(pd_true_range(h, l, c), p)
    plus, minus = pd_directional(h, l)
    pdi, mdi = pd_wilder(plus, p) / atr, pd_wilder(minus, p) / atr
    return (pdi - mdi).abs() / (pdi + mdi)


# Window extremes.


def window_extremes_np(h, l, p=P):
    from numpy.lib.stride_tricks import sliding_window_view

    n = len(h)
    hh, ll = np.full(n, np.nan, dtype=h.dtype), np.full(n, np.nan, dtype=l.dtype)
    hh[p - 1:] = sliding_window_view(h, p).max(axis=1)
    ll[p - 1:] = sliding_window_view(l, p).min(axis=1)
    return hh, ll


def extremes_peers(formula, ta_call, ti_call, what: str, tol: float):
    """Peers for an indicator of the window's highest high, lowest low and close:
    `formula(hh, ll, c)` over each peer's rolling maximum and minimum."""

    def pd_make(b):
        h, l, c = hlc_series(b)
        return lambda: formula(h.rolling(P).max(), l.rolling(P).min(), c)

    def bn_make(b):
        bn, (h, l, c) = _bn(), hlc32(b)
        return lambda: formula(bn.move_max(h, P), bn.move_min(l, P), c)

    def pl_make(b):
        h, l, c = b.polars("high"), b.polars("low"), b.polars("close")
        return lambda: formula(h.rolling_max(P), l.rolling_min(P), c)

    def ti_make(b):
        ti, (h, l, c) = _ti(), hlc64(b)
        return lambda: ti_call(ti, h, l, c)

    def ta_make(b):
        ta, (h, l, c) = _ta(), hlc64(b)
        return lambda: ta_call(ta, h, l, c)

    return [
        Peer("TA-Lib", what[0], ta_make, post=what[1], tol=tol),
        Peer("pandas", "rolling max/min composition", pd_make, tol=tol),
        Peer("bottleneck", "move_max/move_min composition (float32)", bn_make, tol=tol, f64=False),
        Peer("polars", "rolling_max/rolling_min composition (float32)", pl_make, tol=tol, f64=False),
        Peer("tulipy", what[2], ti_make, post=what[3], tol=tol),
    ]


# ---------------------------------------------------------------- chain kernels


def _gains_losses(b: Bars):
    d = np.diff(b.close, prepend=b.close[0]).astype(np.float32)
    return np.maximum(d, 0).astype(np.float32), np.maximum(-d, 0).astype(np.float32)


def _bar_ranges(b: Bars):
    h, l, c = hlc32(b)
    prev = np.concatenate(([c[0]], c[:-1]))
    lower = np.minimum(l, prev)
    tr = (np.maximum(h, prev) - lower).astype(np.float32)
    bp = (c - lower).astype(np.float32)
    up = np.diff(h, prepend=h[0])
    down = -np.diff(l, prepend=l[0])
    plus = np.where((up > down) & (up > 0), up, 0).astype(np.float32)
    minus = np.where((down > up) & (down > 0), down, 0).astype(np.float32)
    return {"tr": tr, "bp": bp, "plus": plus, "minus": minus}


def _typical(b: Bars):
    return ((b.high + b.low) + b.close) / np.float32(3)


def chain_sum(k: Chains, b: Bars):
    return lambda: k.window_sum(b.close, len(b), P)


def chain_regression(k: Chains, b: Bars):
    return lambda: k.regression(b.close, len(b), P)


def chain_queues(k: Chains, b: Bars):
    hq, lq = np.zeros(len(b), np.int32), np.zeros(len(b), np.int32)
    return lambda: k.queues(b.high, b.low, hq, lq, len(b), P)


def chain_emas(passes: int, periods=(P,)):
    alphas = [np.float32(2.0 / (p + 1)) for p in periods]

    def make(k: Chains, b: Bars):
        def run():
            acc = 0.0
            for i in range(passes):
                acc += k.ema(b.close, len(b), alphas[i % len(alphas)])
            return acc

        return run

    return make


def chain_totals(k: Chains, b: Bars):
    g, l = b.derived("gains_losses", _gains_losses)
    return lambda: k.totals(g, l, len(b), P)


def chain_window_sum2(k: Chains, b: Bars):
    g, l = b.derived("gains_losses", _gains_losses)
    return lambda: k.window_sum2(g, l, len(b), P)


def chain_squares(k: Chains, b: Bars):
    tp = b.derived("typical", _typical)
    return lambda: k.sum_squares(tp, len(b), P)


def chain_six(k: Chains, b: Bars):
    r = b.derived("ranges", _bar_ranges)
    return lambda: k.six_sums(r["bp"], r["tr"], len(b), SHORT, MEDIUM, LONG)


def chain_wilder(passes3: int, passes1: int):
    def make(k: Chains, b: Bars):
        r = b.derived("ranges", _bar_ranges)

        def run():
            acc = 0.0
            for _ in range(passes3):
                acc += k.wilder(r["tr"], r["plus"], r["minus"], 3, len(b), P)
            for _ in range(passes1):
                acc += k.wilder(r["tr"], r["tr"], r["tr"], 1, len(b), P)
            return acc

        return run

    return make


# ---------------------------------------------------------------- the cases


ONE_EMA = "one EMA recurrence: the stages run side by side in one pass"
ONE_WILDER = "three Wilder averages (DX), ADX's beside them in the same pass"


def build_cases() -> list:
    cases = []
    add = cases.append

    # Simple moving average.
    add(Case(
        "velk_sma", lambda m, b: partial(m.velk_sma, b.close, P, False), ("close",), 1, chain_sum,
        "window sum: add entering, subtract leaving (2 float adds per bar)",
        [
            Peer("TA-Lib", "SMA(close, 14)", lambda b: partial(_ta().SMA, b.f64("close"), P)),
            Peer("pandas", "rolling(14).mean()", lambda b: partial(pd_rolling_mean, b.series("close"))),
            Peer("bottleneck", "move_mean(close, 14) (float32)", lambda b: partial(_bn().move_mean, b.close, P),
                 f64=False),
            Peer("polars", "rolling_mean(14) (float32)", lambda b: partial(b.polars("close").rolling_mean, P),
                 f64=False),
            Peer("tulipy", "sma(close, 14)", lambda b: partial(_ti().sma, b.f64("close"), P), post=padded()),
        ],
        "normalize=False: the plain moving average of the close.",
    ))

    # Regression slope.
    def np_slope(b):
        c = b.close
        w = np.arange(P, dtype=np.float64) - (P - 1) / 2
        w /= np.sum(w * w)

        def run():
            out = np.full(len(c), np.nan)
            out[P - 1:] = np.convolve(c, w[::-1], mode="valid")
            return out

        return run

    add(Case(
        "velk_lin", lambda m, b: partial(m.velk_lin, b.close, P), ("close",), 1, chain_regression,
        "three running sums (value, weighted, window-less-first), one float add each per bar",
        [
            Peer("TA-Lib", "LINEARREG_SLOPE(close, 14)", lambda b: partial(_ta().LINEARREG_SLOPE, b.f64("close"), P),
                 **DRIFTING),
            Peer("tulipy", "linregslope(close, 14)", lambda b: partial(_ti().linregslope, b.f64("close"), P),
                 post=padded(), **DRIFTING),
            Peer("numpy", "convolve with centred weights (float64)", np_slope, f64=False, **DRIFTING),
        ],
        "Least-squares slope per bar over the last 14 closes; pandas has no rolling slope. The indicator "
        "moves float32 running sums from bar to bar, whose rounding accumulates: compared on the first "
        "100 values only.",
    ))

    # Midpoint.
    add(Case(
        "velk_mid", lambda m, b: partial(m.velk_mid, b.high, b.low, b.close, P, False), ("high", "low", "close"), 3,
        chain_queues, "highest-high and lowest-low position queues",
        extremes_peers(
            lambda hh, ll, c: (hh + ll) / 2,
            lambda ta, h, l, c: ta.MIDPRICE(h, l, P),
            lambda ti, h, l, c: (ti.max(h, P) + ti.min(l, P)) / 2,
            ("MIDPRICE(high, low, 14)", scaled(1), "(max(high) + min(low)) / 2", padded()), 1e-6),
        "normalize=False: (highest high + lowest low) / 2 over the last 14 bars.",
    ))

    # EMA and the chain built from it.
    add(Case(
        "velk_ema", lambda m, b: partial(m.velk_ema, b.close, P, False), ("close",), 1, chain_emas(1),
        "EMA update: float32 state, double fused multiply-add, narrowed",
        [
            Peer("TA-Lib", "EMA(close, 14)", lambda b: partial(_ta().EMA, b.f64("close"), P), skip=SETTLED * P),
            Peer("pandas", "ewm(span=14, adjust=False).mean()", lambda b: partial(pd_ewm, b.series("close"))),
            Peer("tulipy", "ema(close, 14)", lambda b: partial(_ti().ema, b.f64("close"), P), post=padded()),
            Peer("polars", "ewm_mean(span=14, adjust=False) (float32)",
                 lambda b: partial(b.polars("close").ewm_mean, span=P, adjust=False), f64=False),
        ],
        "normalize=False: EMA seeded at the first close. TA-Lib seeds with the first 14-bar mean, "
        f"so it is compared only from bar {SETTLED * P} on, where the seed has decayed.",
    ))
    add(Case(
        "velk_ema2", lambda m, b: partial(m.velk_ema2, b.close, P), ("close",), 2, chain_emas(1),
        ONE_EMA, stage_peers(2, lambda s: s[1], "EMA of (EMA - close) / close"),
        "Stage 2: EMA of the relative deviation (EMA - close) / close, through each peer's EMA.",
    ))
    add(Case(
        "velk_ema3", lambda m, b: partial(m.velk_ema3, b.close, P), ("close",), 3, chain_emas(1),
        ONE_EMA, stage_peers(3, lambda s: s[2], "EMA of EMA of (EMA - close) / close"),
        "Stage 3 of the same chain.",
    ))
    add(Case(
        "velk_dema", lambda m, b: partial(m.velk_dema, b.close, timeperiod=P), ("close",), 3, chain_emas(1),
        ONE_EMA, stage_peers(2, lambda s: 2 * s[0] - s[1], "2 stage1 - stage2"),
        "2 x stage 1 - stage 2 of the chain (not the peers' DEMA of the price).",
        context=ta_single("DEMA", P),
    ))
    add(Case(
        "velk_tema", lambda m, b: partial(m.velk_tema, b.close, timeperiod=P), ("close",), 4, chain_emas(1),
        ONE_EMA, stage_peers(3, lambda s: 3 * s[0] - 3 * s[1] + s[2], "3 stage1 - 3 stage2 + stage3"),
        "3 x stage 1 - 3 x stage 2 + stage 3 of the chain (not the peers' TEMA of the price).",
        context=ta_single("TEMA", P),
    ))
    add(Case(
        "velk_trix", lambda m, b: partial(m.velk_trix, b.close, P), ("close",), 4, chain_emas(1),
        ONE_EMA,
        stage_peers(3, lambda s: relative_change(s[2]), "one-bar relative change of stage3", tol=1e-3, frac=0.99,
                    skip=2),
        "One-bar relative change of stage 3, as a fraction (not the peers' TRIX of the price). Stage 3 "
        "crosses zero, where the quotient is ill-conditioned: 99 % of the positions must agree.",
        context=ta_single("TRIX", P),
    ))
    add(Case(
        "velk_macd", lambda m, b: partial(m.velk_macd, b.close, short_period=FAST, long_period=SLOW), ("close",), 3,
        chain_emas(1, (SLOW,)), "one EMA recurrence: fast and slow run side by side in one pass",
        [
            Peer("TA-Lib", "(EMA(close, 12) - EMA(close, 26)) / close", macd_peer("TA-Lib"),
                 skip=SETTLED * SLOW, tol=1e-4),
            Peer("pandas", "(ewm(12) - ewm(26)) / close", macd_peer("pandas"), skip=SLOW, tol=1e-4),
            Peer("tulipy", "(ema(12) - ema(26)) / close", macd_peer("tulipy"), skip=SLOW, tol=1e-4),
            Peer("polars", "(ewm_mean(12) - ewm_mean(26)) / close (float32)", macd_peer("polars"), skip=SLOW,
                 tol=1e-4, f64=False),
        ],
        "Fast minus slow relative deviation = (EMA12 - EMA26) / close, EMAs seeded at the first close; "
        "no signal line (the peers' MACD functions would add one).",
        context=Peer("TA-Lib", "MACD(close, 12, 26, 9)", lambda b: partial(_ta().MACD, b.f64("close"), FAST, SLOW, 9)),
    ))

    # Momentum.
    add(Case(
        "velk_roc", lambda m, b: partial(m.velk_roc, b.close, P), ("close",), 1, None, "none (element-wise)",
        [
            Peer("TA-Lib", "ROCP(close, 14)", lambda b: partial(_ta().ROCP, b.f64("close"), P)),
            Peer("pandas", "pct_change(14)", lambda b: partial(b.series("close").pct_change, P)),
            Peer("polars", "pct_change(14) (float32)", lambda b: partial(b.polars("close").pct_change, P), f64=False),
            Peer("tulipy", "roc(close, 14)", lambda b: partial(_ti().roc, b.f64("close"), P), post=padded()),
            Peer("numpy", "(close[14:] - close[:-14]) / close[:-14] (float32)", np_roc, post=padded(), f64=False,
                 tol=1e-6),
        ],
        "Relative change over 14 bars as a fraction.",
    ))

    def pd_rsi(b):
        c = b.series("close")

        def run():
            d = c.diff()
            g, l = pd_wilder(d.clip(lower=0)), pd_wilder((-d).clip(lower=0))
            return 100 - 100 / (1 + g / l)

        return run

    add(Case(
        "velk_rsi", lambda m, b: partial(m.velk_rsi, b.close, P), ("close",), 1, chain_totals,
        "two Wilder totals: t + (g - t / 14), a division, a subtraction and an addition per bar",
        [
            Peer("TA-Lib", "RSI(close, 14)", lambda b: partial(_ta().RSI, b.f64("close"), P), tol=1e-4),
            Peer("pandas", "Wilder ewm of gains and losses", pd_rsi, skip=SETTLED * P, tol=1e-4),
            Peer("tulipy", "rsi(close, 14)", lambda b: partial(_ti().rsi, b.f64("close"), P), post=padded(),
                 tol=1e-4),
        ],
        "RSI on 0 ... 100 with Wilder smoothing seeded by the first 14 changes (pandas seeds at the first change).",
    ))

    def cmo_formula(g, l):
        return (g - l) / (g + l)

    def ta_cmo(b):
        ta, c = _ta(), b.f64("close")

        def run():
            d = np.diff(c, prepend=np.nan)
            return cmo_formula(ta.SUM(np.maximum(d, 0), P), ta.SUM(np.maximum(-d, 0), P))

        return run

    def pd_cmo(b):
        c = b.series("close")

        def run():
            d = c.diff()
            return cmo_formula(d.clip(lower=0).rolling(P).sum(), (-d).clip(lower=0).rolling(P).sum())

        return run

    def bn_cmo(b):
        bn, c = _bn(), b.close

        def run():
            d = np.diff(c, prepend=np.float32(np.nan))
            return cmo_formula(bn.move_sum(np.maximum(d, 0), P), bn.move_sum(np.maximum(-d, 0), P))

        return run

    add(Case(
        "velk_cmo", lambda m, b: partial(m.velk_cmo, b.close, P), ("close",), 1, chain_window_sum2,
        "two window sums (gains, losses), add entering and subtract leaving",
        [
            Peer("TA-Lib", "SUM of gains and losses, (G - L) / (G + L)", ta_cmo, tol=1e-4),
            Peer("pandas", "rolling sums of gains and losses", pd_cmo, tol=1e-4),
            Peer("bottleneck", "move_sum of gains and losses (float32)", bn_cmo, tol=1e-4, f64=False),
            Peer("tulipy", "cmo(close, 14)", lambda b: partial(_ti().cmo, b.f64("close"), P), post=padded(100),
                 tol=1e-4),
        ],
        "(gains - losses) / (gains + losses) over plain 14-change window sums, as a fraction. TA-Lib's CMO "
        "smooths like its RSI, so its equivalent is composed from SUM.",
    ))

    add(Case(
        "velk_willr", lambda m, b: partial(m.velk_willr, b.high, b.low, b.close, P), ("high", "low", "close"), 3,
        chain_queues, "highest-high and lowest-low position queues",
        extremes_peers(
            lambda hh, ll, c: (hh - c) / (hh - ll),
            lambda ta, h, l, c: ta.WILLR(h, l, c, P),
            lambda ti, h, l, c: ti.willr(h, l, c, P),
            ("WILLR(high, low, close, 14)", scaled(-100), "willr(high, low, close, 14)", padded(-100)), 1e-5),
        "(highest high - close) / (highest high - lowest low) as a fraction; the peers' %R is -100 times it.",
    ))
    add(Case(
        "velk_stochf", lambda m, b: partial(m.velk_stochf, b.high, b.low, b.close, P), ("high", "low", "close"), 3,
        chain_queues, "highest-high and lowest-low position queues",
        extremes_peers(
            lambda hh, ll, c: (c - ll) / (hh - ll),
            lambda ta, h, l, c: ta.STOCHF(h, l, c, P, 1, 0),
            lambda ti, h, l, c: ti.stoch(h, l, c, P, 1, 1),
            ("STOCHF(14, fastd 1): fast %K", lambda out, bars: first(out, bars) / 100,
             "stoch(14, 1, 1): %K", padded(100, pick=0)), 1e-5),
        "Fast %K, (close - lowest low) / (highest high - lowest low) as a fraction; peers give 100 times it.",
    ))

    def cci_formula(tp, mean, sd):
        return (tp - mean) / (0.015 * sd)

    def ta_cci(b):
        ta, (h, l, c) = _ta(), hlc64(b)

        def run():
            tp = ta.TYPPRICE(h, l, c)
            return cci_formula(tp, ta.SMA(tp, P), ta.STDDEV(tp, P, 1))

        return run

    def pd_cci(b):
        h, l, c = hlc_series(b)

        def run():
            tp = (h + l + c) / 3
            r = tp.rolling(P)
            return cci_formula(tp, r.mean(), r.std(ddof=0))

        return run

    def bn_cci(b):
        bn, (h, l, c) = _bn(), hlc32(b)

        def run():
            tp = (h + l + c) / np.float32(3)
            return cci_formula(tp, bn.move_mean(tp, P), bn.move_std(tp, P, ddof=0))

        return run

    def ti_cci(b):
        ti, (h, l, c) = _ti(), hlc64(b)

        def run():
            tp = ti.typprice(h, l, c)
            return cci_formula(tp[P - 1:], ti.sma(tp, P), ti.stddev(tp, P))

        return run

    add(Case(
        "velk_cci", lambda m, b: partial(m.velk_cci, b.high, b.low, b.close, P), ("high", "low", "close"), 2,
        chain_squares, "running sum and sum of squares, one float add each per bar",
        [
            Peer("TA-Lib", "TYPPRICE, SMA, STDDEV composition", ta_cci, **DRIFTING),
            Peer("pandas", "rolling mean and std(ddof=0)", pd_cci, **DRIFTING),
            Peer("bottleneck", "move_mean and move_std(ddof=0) (float32)", bn_cci, f64=False, **DRIFTING),
            Peer("tulipy", "typprice, sma, stddev composition", ti_cci, post=padded(), **DRIFTING),
        ],
        "(typical price - mean) / (0.015 x population standard deviation) over 14 bars: the peers' CCI "
        "divides by the mean absolute deviation instead, so each is composed. The indicator's variance is "
        "the difference of two float32 running sums, whose rounding accumulates from bar to bar: compared "
        "on the first 100 values only. Memory allowance: the output and the typical price (its float32 "
        "sums need no further temporaries: evaluated in place they round the same).",
    ))

    # Directional movement and volatility.
    def pd_dx_make(b):
        h, l, c = hlc_series(b)
        return lambda: pd_dx(h, l, c)

    def pd_adx_make(b):
        h, l, c = hlc_series(b)
        return lambda: pd_wilder(pd_dx(h, l, c))

    def pd_adxr_make(b):
        h, l, c = hlc_series(b)

        def run():
            adx = pd_wilder(pd_dx(h, l, c))
            return (adx.shift(P) + adx) / 2

        return run

    def ta_adxr(b):
        ta, (h, l, c) = _ta(), hlc64(b)

        def run():
            adx = ta.ADX(h, l, c, P)
            out = np.full(len(adx), np.nan)
            out[P:] = (adx[:-P] + adx[P:]) / 2
            return out

        return run

    def ti_adxr(b):
        ti, (h, l, c) = _ti(), hlc64(b)

        def run():
            adx = ti.adx(h, l, c, P)
            return (adx[:-P] + adx[P:]) / 2

        return run

    directional = "Wilder smoothing of true range and directional movement"
    add(Case(
        "velk_dx", lambda m, b: partial(m.velk_dx, b.high, b.low, b.close, P), ("high", "low", "close"), 4,
        chain_wilder(1, 0), "three Wilder averages: fmaf then a division per bar",
        [
            Peer("TA-Lib", "DX(high, low, close, 14)", lambda b: partial(_ta().DX, *hlc64(b), P), post=scaled(100),
                 skip=SETTLED * P, tol=1e-4),
            Peer("pandas", f"{directional} (ewm alpha=1/14)", pd_dx_make, skip=SETTLED * P, tol=1e-4),
            Peer("tulipy", "dx(high, low, close, 14)", lambda b: partial(_ti().dx, *hlc64(b), P),
                 post=padded(100), skip=SETTLED * P, tol=1e-4),
        ],
        "DX as a fraction; peers give 100 times it. Seeds differ, so compared from bar "
        f"{SETTLED * P} on.",
    ))
    add(Case(
        "velk_adx", lambda m, b: partial(m.velk_adx, b.high, b.low, b.close, P), ("high", "low", "close"), 5,
        chain_wilder(1, 0), ONE_WILDER,
        [
            Peer("TA-Lib", "ADX(high, low, close, 14)", lambda b: partial(_ta().ADX, *hlc64(b), P),
                 post=scaled(100), skip=SETTLED * P, tol=1e-4),
            Peer("pandas", "Wilder ewm of the DX composition", pd_adx_make, skip=SETTLED * P, tol=1e-4),
            Peer("tulipy", "adx(high, low, close, 14)", lambda b: partial(_ti().adx, *hlc64(b), P),
                 post=padded(100), skip=SETTLED * P, tol=1e-4),
        ],
        f"ADX as a fraction; compared from bar {SETTLED * P} on (different seeds).",
    ))
    add(Case(
        "velk_adxr", lambda m, b: partial(m.velk_adxr, b.high, b.low, b.close, P), ("high", "low", "close"), 5,
        chain_wilder(1, 0), ONE_WILDER + " (the rating itself is element-wise)",
        [
            Peer("TA-Lib", "(ADX[i - 14] + ADX[i]) / 2 from ADX", ta_adxr, post=scaled(100), skip=SETTLED * P,
                 tol=1e-4),
            Peer("pandas", "ADX composition, (shift(14) + adx) / 2", pd_adxr_make, skip=SETTLED * P, tol=1e-4),
            Peer("tulipy", "(adx[i - 14] + adx[i]) / 2 from adx", ti_adxr, post=padded(100), skip=SETTLED * P,
                 tol=1e-4),
        ],
        "Mean of ADX now and 14 bars back, as a fraction. The peers' ADXR functions look 13 bars back, "
        "so each is composed from its ADX.",
    ))

    def pd_natr(b):
        h, l, c = hlc_series(b)
        return lambda: pd_wilder(pd_true_range(h, l, c)) / c

    add(Case(
        "velk_natr", lambda m, b: partial(m.velk_natr, b.high, b.low, b.close, P), ("high", "low", "close"), 3,
        chain_wilder(0, 1), "one Wilder average: fmaf then a division per bar",
        [
            Peer("TA-Lib", "NATR(high, low, close, 14)", lambda b: partial(_ta().NATR, *hlc64(b), P),
                 post=scaled(100), skip=SETTLED * P, tol=1e-4),
            Peer("pandas", "Wilder ewm of true range / close", pd_natr, skip=SETTLED * P, tol=1e-4),
            Peer("tulipy", "natr(high, low, close, 14)", lambda b: partial(_ti().natr, *hlc64(b), P),
                 post=padded(100), skip=SETTLED * P, tol=1e-4),
        ],
        f"Average true range / close as a fraction; compared from bar {SETTLED * P} on (different seeds).",
    ))

    def ult_formula(bp, tr, sums):
        a = [sums(bp, p) / sums(tr, p) for p in (SHORT, MEDIUM, LONG)]
        return (LONG * a[0] + MEDIUM * a[1] + SHORT * a[2]) / (SHORT + MEDIUM + LONG)

    def pd_ult(b):
        h, l, c = hlc_series(b)

        def run():
            prev = c.shift(1)
            lower = np.minimum(l, prev)
            return ult_formula(c - lower, np.maximum(h, prev) - lower, lambda s, p: s.rolling(p).sum())

        return run

    def bn_ult(b):
        bn, (h, l, c) = _bn(), hlc32(b)

        def run():
            prev = np.concatenate(([np.float32(np.nan)], c[:-1]))
            lower = np.minimum(l, prev)
            return ult_formula(c - lower, np.maximum(h, prev) - lower, lambda s, p: bn.move_sum(s, p))

        return run

    add(Case(
        "velk_ult", lambda m, b: partial(m.velk_ult, b.high, b.low, b.close, SHORT, MEDIUM, LONG),
        ("high", "low", "close"), 1, chain_six, "six window sums, one float add each per bar",
        [
            Peer("TA-Lib", "ULTOSC(7, 14, 28)", lambda b: partial(_ta().ULTOSC, *hlc64(b), SHORT, MEDIUM, LONG),
                 post=scaled(100), tol=1e-4),
            Peer("pandas", "rolling sums of buying pressure and true range", pd_ult, tol=1e-4),
            Peer("bottleneck", "move_sum composition (float32)", bn_ult, tol=1e-4, f64=False),
            Peer("tulipy", "ultosc(7, 14, 28)", lambda b: partial(_ti().ultosc, *hlc64(b), SHORT, MEDIUM, LONG),
                 post=padded(100), tol=1e-4),
        ],
        "Ultimate oscillator with weights 4:2:1 for periods 7, 14, 28, as a fraction; peers give 100 times it.",
    ))

    # Candles and spreads.
    def wick_formula(hh, ll, c, open_):
        top = hh - np.maximum(open_, c)
        bottom = np.minimum(open_, c) - ll
        return (top - bottom) / c

    def np_wick(b):
        h, l, c = hlc32(b)

        def run():
            hh, ll = window_extremes_np(h, l)
            open_ = np.concatenate((np.full(P, np.nan, dtype=np.float32), c[:-P]))
            return wick_formula(hh, ll, c, open_)

        return run

    def pd_wick(b):
        h, l, c = hlc_series(b)
        return lambda: wick_formula(h.rolling(P).max(), l.rolling(P).min(), c, c.shift(P))

    def bn_wick(b):
        bn, (h, l, c) = _bn(), hlc32(b)

        def run():
            open_ = np.concatenate((np.full(P, np.nan, dtype=np.float32), c[:-P]))
            return wick_formula(bn.move_max(h, P), bn.move_min(l, P), c, open_)

        return run

    add(Case(
        "velk_wick", lambda m, b: partial(m.velk_wick, b.high, b.low, b.close, P), ("high", "low", "close"), 3,
        chain_queues, "highest-high and lowest-low position queues",
        [
            Peer("numpy", "sliding_window_view max/min (float32)", np_wick, tol=1e-4, f64=False),
            Peer("pandas", "rolling max/min, shift(14)", pd_wick, tol=1e-4),
            Peer("bottleneck", "move_max/move_min composition (float32)", bn_wick, tol=1e-4, f64=False),
        ],
        "No peer computes the wick balance; compared with numpy and with the peers' rolling extremes "
        "(open = close 14 bars back).",
    ))

    add(Case(
        "velk_adif", lambda m, b: partial(m.velk_adif, b.close, b.open), ("close", "open"), 1, None,
        "none (element-wise)",
        [
            Peer("numpy", "close - open (float32)", lambda b: partial(np.subtract, b.close, b.open), f64=False, tol=1e-6),
            Peer("TA-Lib", "SUB(close, open)", lambda b: partial(_ta().SUB, b.f64("close"), b.f64("open")),
                 tol=1e-4),
        ],
        "Difference of two series (close and the previous close).",
    ))
    add(Case(
        "velk_rdif", lambda m, b: partial(m.velk_rdif, b.close, b.open), ("close", "open"), 1, None,
        "none (element-wise)",
        [
            Peer("numpy", "(close - open) / open (float32)", lambda b: partial(relative_difference, b.close, b.open),
                 f64=False, tol=1e-6),
            Peer("TA-Lib", "DIV(SUB(close, open), open)", ta_relative_difference, tol=1e-4),
        ],
        "Relative difference of two series.",
    ))
    return cases
