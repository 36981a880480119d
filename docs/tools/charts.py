"""Draws each indicator on the sample bars: price above, the indicator's default output below."""

import warnings

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.ticker import PercentFormatter  # noqa: E402

import velkized_ta as ta  # noqa: E402
from velkized_ta.catalog import INDICATORS  # noqa: E402
from velkized_ta.sample import example_arguments, sample_ohlc  # noqa: E402

SHOWN_BARS = 250
# Functions with a plain-value mode: that value is drawn over the price.
PLAIN_OVERLAY = {"velk_sma", "velk_mid", "velk_ema"}
# Levels readers look for, drawn as dashed lines.
LEVELS = {
    "velk_rsi": (30, 70), "velk_willr": (0.2, 0.8), "velk_stochf": (0.2, 0.8), "velk_cci": (-100, 100),
    "velk_ult": (0.3, 0.7),
}
BARS = sample_ohlc()
ROLE_OF = {id(series): role for role, series in BARS.items()}


def describe_call(name, kwargs):
    shown = [f"{key}={ROLE_OF[id(value)]}" if isinstance(value, np.ndarray) else f"{key}={value}"
             for key, value in kwargs.items()]
    return f"{name}({', '.join(shown)})"


def draw(name, path):
    bars = BARS
    indicator = INDICATORS[name]
    function = getattr(ta, name)
    kwargs = example_arguments(function, bars)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        values = function(**kwargs)
    n = len(bars["close"])
    shown = slice(n - SHOWN_BARS, n)
    x = np.arange(n)[shown]
    fig, (price, panel) = plt.subplots(2, 1, figsize=(8, 4.6), sharex=True, gridspec_kw={"height_ratios": [3, 2]})
    price.fill_between(x, bars["low"][shown], bars["high"][shown], color="0.85", label="high … low")
    price.plot(x, bars["close"][shown], color="black", linewidth=1, label="close")
    if name in ("velk_adif", "velk_rdif"):
        price.plot(x, bars["open"][shown], color="tab:orange", linewidth=0.8, label="open")
    if name in PLAIN_OVERLAY:
        plain = function(**{**kwargs, "normalize": False})
        price.plot(x, plain[shown], color="tab:blue", linewidth=1.2, label=f"{name}(…, normalize=False)")
    price.set_ylabel("price")
    price.legend(loc="upper left", fontsize=7)
    panel.plot(x, values[shown], color="tab:blue", linewidth=1)
    for level in LEVELS.get(name, ()):
        panel.axhline(level, color="0.6", linewidth=0.8, linestyle="--")
    if indicator.bounds is None:
        panel.axhline(0, color="0.6", linewidth=0.8)
    else:
        panel.set_ylim(*indicator.bounds)
    if indicator.percent:
        panel.yaxis.set_major_formatter(PercentFormatter(1.0))
    panel.set_ylabel(indicator.unit if len(indicator.unit) < 24 else name)
    panel.set_xlabel("bar")
    fig.suptitle(f"{name} on the sample bars (last {SHOWN_BARS} of {n:,})", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return describe_call(name, kwargs)


def draw_classic(name, path):
    """A classic indicator with its defaults on the sample bars: overlap studies over the price,
    the others in a panel below, one line per output."""
    import classic_pages

    bars = classic_pages.sample_frame(5000)
    entry = classic_pages.CLASSIC[name]
    values = classic_pages.chart_values(name, bars)
    n = len(bars["close"])
    shown = slice(n - SHOWN_BARS, n)
    x = np.arange(n)[shown]
    if entry.group == "overlap":
        fig, price = plt.subplots(figsize=(8, 3.6))
        panel = price
    else:
        fig, (price, panel) = plt.subplots(2, 1, figsize=(8, 4.6), sharex=True,
                                           gridspec_kw={"height_ratios": [3, 2]})
    price.fill_between(x, bars["low"][shown], bars["high"][shown], color="0.85", label="high … low")
    price.plot(x, bars["close"][shown], color="black", linewidth=1, label="close")
    target = panel
    for output, series in zip(entry.outputs, values):
        target.plot(x, series[shown], linewidth=1, label=output)
    if "volume" in entry.inputs and panel is not price:
        volume = panel.twinx()
        volume.bar(x, bars["volume"][shown], color="0.8", width=1.0)
        volume.set_ylabel("volume", fontsize=7)
        panel.set_zorder(volume.get_zorder() + 1)
        panel.patch.set_visible(False)
    price.set_ylabel("price")
    price.legend(loc="upper left", fontsize=7)
    if panel is not price:
        panel.legend(loc="upper left", fontsize=7)
        spread = classic_pages.finite_range([v[shown] for v in values])
        if spread is not None and spread[0] < 0 < spread[1]:  # a zero line only where values cross it
            panel.axhline(0, color="0.6", linewidth=0.8)
    panel.set_xlabel("bar")
    fig.suptitle(f"classic.{name} on the sample bars (last {SHOWN_BARS} of {n:,})", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
