"""Runs every indicator on the sample bars, prints what each one says now, and draws a chart.

    python examples/demo.py [--chart demo.png]
"""

import argparse

import numpy as np

import velkized_ta
from velkized_ta import classic
from velkized_ta.catalog import INDICATORS, classic_by_group
from velkized_ta.sample import example_arguments, sample_ohlc, sample_ohlcv

SHOWN_BARS = 300


def period_arguments(kwargs):
    return {name: value for name, value in kwargs.items() if not isinstance(value, np.ndarray)}


def shown_periods(periods):
    return "/".join(str(value) for value in periods.values()) or "–"


def print_table(bars):
    print(f"velkized_ta {velkized_ta.__version__} on {len(bars['close'])} sample bars "
          f"(velkized_ta.sample.sample_ohlc); last close {bars['close'][-1]:.2f}")
    print("Fractions are printed as percentages: -0.41 % is 0.41 % below the reference price.")
    print("velk_adif and velk_rdif compare the close with the open.\n")
    print(f"{'indicator':<13}{'periods':<10}{'last value':>11}   {'unit':<40}first value")
    family = None
    for indicator in INDICATORS.values():
        if indicator.family != family:
            family = indicator.family
            print(f"-- {family}")
        function = getattr(velkized_ta, indicator.name)
        kwargs = example_arguments(function, bars)
        periods = period_arguments(kwargs)
        values = function(**kwargs)
        print(f"{indicator.name:<13}{shown_periods(periods):<10}{indicator.format(values[-1]):>11}   "
              f"{indicator.unit:<40}bar {indicator.warm_up(**periods)}")


def print_classic_table():
    """Every classic indicator with its default parameters: the last value of each output."""
    bars = {name: np.asarray(values, dtype=np.float64) for name, values in sample_ohlcv().items()}
    bars.update(real0=bars["close"], real1=bars["open"], anchor=bars["session"])
    print(f"\nClassic indicators (velkized_ta.classic, float64, textbook values) with their defaults, "
          f"last bar of sample_ohlcv()")
    for group, entries in classic_by_group():
        print(f"-- {group}")
        for entry in entries:
            values = getattr(classic, entry.name)(*[bars[name] for name in entry.inputs])
            values = values if isinstance(values, tuple) else (values,)
            shown = "  ".join(f"{output}={value[-1]:.6g}" for output, value in zip(entry.outputs, values))
            print(f"{entry.name:<20}{shown}")


def draw_chart(bars, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    close, high, low = bars["close"], bars["high"], bars["low"]
    shown = slice(len(close) - SHOWN_BARS, None)
    x = np.arange(len(close))[shown]
    fig, (price, rsi, adx) = plt.subplots(3, 1, figsize=(9, 6.5), sharex=True,
                                          gridspec_kw={"height_ratios": [2.2, 1, 1]})
    price.fill_between(x, low[shown], high[shown], color="0.85", label="high … low")
    price.plot(x, close[shown], color="black", linewidth=1, label="close")
    price.plot(x, velkized_ta.velk_sma(close, 20, normalize=False)[shown], label="velk_sma 20 (plain)")
    price.plot(x, velkized_ta.velk_ema(close, 20, normalize=False)[shown], label="velk_ema 20 (plain)")
    price.set_ylabel("price")
    price.legend(loc="upper left", fontsize=8)
    rsi.plot(x, velkized_ta.velk_rsi(close, 14)[shown], color="tab:purple", linewidth=1)
    for level in (30, 70):
        rsi.axhline(level, color="0.6", linewidth=0.8, linestyle="--")
    rsi.set_ylim(0, 100)
    rsi.set_ylabel("velk_rsi 14")
    adx.plot(x, velkized_ta.velk_adx(high, low, close, 14)[shown], color="tab:red", linewidth=1,
             label="velk_adx 14")
    adx.plot(x, velkized_ta.velk_dx(high, low, close, 14)[shown], color="tab:red", linewidth=0.6,
             alpha=0.4, label="velk_dx 14")
    adx.set_ylim(0, 1)
    adx.set_ylabel("0 … 1")
    adx.set_xlabel("bar")
    adx.legend(loc="upper left", fontsize=8)
    fig.suptitle(f"velkized_ta on its sample bars (last {SHOWN_BARS} of {len(close)})")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--chart", default="demo.png", help="where to write the chart (default: demo.png)")
    args = parser.parse_args()
    bars = sample_ohlc()
    print_table(bars)
    print_classic_table()
    draw_chart(bars, args.chart)
    print(f"\nChart: {args.chart}")


if __name__ == "__main__":
    main()
