"""Measures how far the float32 indicators stand from float64 computations, and how their values
depend on how much history a call is given. The site's precision tables are printed by this script
at build time; run it alone to see them:

    python docs/tools/precision.py
"""

import warnings

import numpy as np
from numpy.lib.stride_tricks import sliding_window_view

import velkized_ta as ta
from velkized_ta.sample import sample_ohlc

PERIOD = 14


def _float64_slope(close, period):
    x = np.arange(period) - (period - 1) / 2
    return sliding_window_view(close.astype(np.float64), period) @ x / (x @ x)


def _float64_cci(bars, period):
    typical = (bars["high"].astype(np.float64) + bars["low"] + bars["close"]) / 3
    windows = sliding_window_view(typical, period)
    values = np.full(len(typical), np.nan)
    values[period - 1:] = (typical[period - 1:] - windows.mean(axis=1)) / (0.015 * windows.std(axis=1))
    return values


def _segments(n):
    edges = [0, n // 100, n // 10, n // 2, n]
    return list(zip(edges[:-1], edges[1:]))


def _table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def lin_table(n=10_000):
    """velk_lin against a float64 least-squares fit of the same windows."""
    close = sample_ohlc(n)["close"]
    reference = _float64_slope(close, PERIOD)
    slope = ta.velk_lin(close, PERIOD)[PERIOD - 1:]
    error = np.abs(slope - reference)
    last_fit = np.polyfit(np.arange(PERIOD), close[-PERIOD:].astype(np.float64), 1)[0]
    rows = [[f"bars {a:,} … {b - 1:,}", f"{np.median(error[max(a - PERIOD + 1, 0):b - PERIOD + 1]):.2g}",
             f"{np.median(np.abs(reference[max(a - PERIOD + 1, 0):b - PERIOD + 1])):.2g}"]
            for a, b in _segments(n)]
    tail = ta.velk_lin(close, PERIOD, n_values=100)[-100:]
    last = float(ta.velk_lin(close, PERIOD)[-1])
    summary = (f"On the last window `velk_lin` gives {last:.5g} and `np.polyfit` in float64 {last_fit:.5g}: "
               f"{abs(last - last_fit) / abs(last_fit):.1%} apart. The same call with `n_values=100` starts "
               f"its sums 100 bars from the end; its largest error over those 100 positions is "
               f"{np.max(np.abs(tail - reference[-100:])):.2g}.")
    return summary + "\n\n" + _table(["positions", "median abs. error", "median abs. slope (float64)"], rows)


def cci_table(n=100_000):
    """velk_cci against a float64 CCI with the population standard deviation."""
    bars = sample_ohlc(n)
    reference = _float64_cci(bars, PERIOD)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # square roots of negative float32 variances
        values = ta.velk_cci(bars["high"], bars["low"], bars["close"], PERIOD)
        tail = ta.velk_cci(bars["high"], bars["low"], bars["close"], PERIOD, n_values=1000)
    rows = []
    for a, b in _segments(n) + [(PERIOD - 1, n)]:
        defined = ~np.isnan(reference[a:b])
        got = values[a:b][defined]
        lost = np.isnan(got)
        error = np.abs(got[~lost] - reference[a:b][defined][~lost])
        label = "all" if (a, b) == (PERIOD - 1, n) else f"bars {a:,} … {b - 1:,}"
        rows.append([label, f"{lost.mean():.1%}", f"{np.median(error):.2g}", f"{np.percentile(error, 99):.3g}",
                     f"{np.median(bars['close'][a:b]):,.0f}"])
    tail_error = np.abs(tail[-1000:] - reference[-1000:])
    summary = (f"Over all {n:,} bars, {rows[-1][1]} of the positions where the float64 CCI has a value are NaN "
               f"and the median absolute error of the others is {rows[-1][2]} points. The same call with "
               f"`n_values=1000` starts its sums 1,000 bars from the end: {np.isnan(tail[-1000:]).mean():.1%} "
               f"NaN and a median error of {np.nanmedian(tail_error):.2g} points over those 1,000 positions.")
    return summary + "\n\n" + _table(
        ["positions", "NaN where float64 has a value", "median abs. error", "99th percentile", "median close"],
        rows)


def fx_minute_bars(n, seed=0):
    """EUR/USD-like one-minute bars: a price near 1.1, steps of about 0.8 pip, bar ranges of about a pip."""
    rng = np.random.default_rng(seed)
    close = 1.1 + np.cumsum(rng.normal(0, 8e-5, n))
    return {"high": (close + np.abs(rng.normal(0, 5e-5, n))).astype(np.float32),
            "low": (close - np.abs(rng.normal(0, 5e-5, n))).astype(np.float32),
            "close": close.astype(np.float32)}


def fx_cci_table(n=100_000):
    """velk_cci on FX-like one-minute bars: NaN share and error of the full call, the live values and the
    live values of prices shifted by the first close, against a float64 CCI."""
    from velkized_ta import batch

    bars = fx_minute_bars(n)
    base = bars["close"][0]
    shifted = {key: series - base for key, series in bars.items()}
    rows = []
    for period in (14, 20):
        reference = _float64_cci(bars, period)[period - 1:]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            calls = {
                "full call (`exact=True`)": ta.velk_cci(bars["high"], bars["low"], bars["close"], period),
                "live values (the front-ends' default)": batch.velk_cci(
                    *(bars[k][:, None] for k in ("high", "low", "close")), period, live=True)[:, 0],
                "live values, prices minus the first close": batch.velk_cci(
                    *(shifted[k][:, None] for k in ("high", "low", "close")), period, live=True)[:, 0],
            }
        for label, values in calls.items():
            values = values[period - 1:]
            lost = np.isnan(values)
            error = np.abs(values[~lost] - reference[~lost]) / np.abs(reference[~lost])
            rows.append([str(period), label, f"{lost.mean():.1%}", f"{np.median(error):.2g}"])
    return _table(["period", "values", "NaN", "median rel. error of the others"], rows)


def sma_table(n=100_000):
    """velk_sma(normalize=False) against a float64 moving average."""
    close = sample_ohlc(n)["close"]
    reference = sliding_window_view(close.astype(np.float64), PERIOD).mean(axis=1)
    relative = np.abs(ta.velk_sma(close, PERIOD, normalize=False)[PERIOD - 1:] - reference) / reference
    rows = [[f"bars {a:,} … {b - 1:,}", f"{np.median(relative[max(a - PERIOD + 1, 0):b - PERIOD + 1]):.1e}",
             f"{np.max(relative[max(a - PERIOD + 1, 0):b - PERIOD + 1]):.1e}"] for a, b in _segments(n)]
    return _table(["positions", "median rel. error", "largest rel. error"], rows)


HISTORY_CALLS = {
    "velk_ema": lambda b: ta.velk_ema(b["close"], PERIOD),
    "velk_ema3": lambda b: ta.velk_ema3(b["close"], PERIOD),
    "velk_trix": lambda b: ta.velk_trix(b["close"], PERIOD),
    "velk_macd": lambda b: ta.velk_macd(b["close"], short_period=12, long_period=26),
    "velk_rsi": lambda b: ta.velk_rsi(b["close"], PERIOD),
    "velk_adx": lambda b: ta.velk_adx(b["high"], b["low"], b["close"], PERIOD),
    "velk_natr": lambda b: ta.velk_natr(b["high"], b["low"], b["close"], PERIOD),
    "velk_sma": lambda b: ta.velk_sma(b["close"], PERIOD),
    "velk_cci": lambda b: ta.velk_cci(b["high"], b["low"], b["close"], PERIOD),
    "velk_cmo": lambda b: ta.velk_cmo(b["close"], PERIOD),
}
HISTORIES = (50, 100, 200, 500, 2000)


def history_table(n=10_000):
    """Relative change of the last value when a call gets only the last H bars instead of all n."""
    bars = sample_ohlc(n)
    rows = []
    for name, call in HISTORY_CALLS.items():
        full = float(call(bars)[-1])
        cells = []
        for history in HISTORIES:
            short = float(call({key: series[-history:] for key, series in bars.items()})[-1])
            difference = abs(short - full) / abs(full)
            cells.append("0" if difference == 0 else f"{difference:.1e}")
        rows.append([f"`{name}`"] + cells)
    return _table(["function"] + [f"{h:,} bars" for h in HISTORIES], rows)


def main():
    for title, table in (
        ("velk_lin, 10,000-bar random walk, period 14, against float64", lin_table),
        ("velk_cci, 100,000 bars, period 14, against float64", cci_table),
        ("velk_sma(normalize=False), 100,000 bars, against float64", sma_table),
        ("velk_cci on 100,000 FX-like one-minute bars, against float64", fx_cci_table),
        ("Last value with H bars of history, against 10,000 bars", history_table),
    ):
        print(f"## {title}\n\n{table()}\n")


if __name__ == "__main__":
    main()
