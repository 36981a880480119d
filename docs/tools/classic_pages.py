"""The classic indicators' pages, chart data, index sections and name table, all from the registry.

A registry entry gets its page (`indicators/classic/<name>.md`), its place in the navigation and
its rows in the index at build time; nothing here names an indicator except the peer-name table
(`PANDAS_TA`), whose rows show only for entries the registry holds.
"""

import functools
import math
import re
import warnings

import numpy as np

from velkized_ta import classic
from velkized_ta.catalog import CLASSIC, classic_by_group
from velkized_ta.sample import sample_ohlcv

PAGE_DIR = "indicators/classic"
SAMPLE_COLUMNS = ("open", "high", "low", "close", "volume", "session")
# Inputs that are no price column of their own read these sample columns.
SAMPLE_FALLBACK = {"real0": "close", "real1": "open", "anchor": "session"}
# pandas-ta's function, its defaults where they differ from ours, and what else differs, as pandas-ta's
# 0.3 releases define them (not measured by the build; with TA-Lib installed, pandas-ta calls it for
# many of these); an entry without a row shows "—".
PANDAS_TA = {
    "sma": ("sma", "length=10"), "ema": ("ema", "length=10"), "wma": ("wma", "length=10"),
    "dema": ("dema", "length=10"), "tema": ("tema", "length=10"), "trima": ("trima", "length=10"),
    "kama": ("kama", "length=10, fast=2, slow=30"), "t3": ("t3", "length=10, a=0.7"),
    "bbands": ("bbands", "length=5, std=2; also returns bandwidth and %B"),
    "midpoint": ("midpoint", "length=2"), "midprice": ("midprice", "length=2"),
    "macd": ("macd", "columns in the order macd, histogram, signal"),
    "apo": ("apo", ""), "ppo": ("ppo", "also returns the signal line and histogram"),
    "mom": ("mom", ""), "roc": ("roc", ""),
    "rsi": ("rsi", "without TA-Lib installed, Wilder's average as pandas' exponential average: early values differ"),
    "stoch": ("stoch", "k=14, d=3, smooth_k=3"),
    "stochrsi": ("stochrsi", "length=14, rsi_length=14, k=3, d=3"),
    "willr": ("willr", ""), "cci": ("cci", ""), "adx": ("adx", "returns ADX, +DI and −DI together"),
    "plus_di": ("adx", "its DMP column"), "minus_di": ("adx", "its DMN column"),
    "atr": ("atr", "without TA-Lib installed, Wilder's average as pandas' exponential average: early values differ"),
    "natr": ("natr", ""), "trange": ("true_range", ""), "obv": ("obv", ""),
    "aroon": ("aroon", "also returns the oscillator"), "bop": ("bop", ""), "cmo": ("cmo", ""),
    "ultosc": ("uo", ""), "trix": ("trix", "also returns a signal line"), "sar": ("psar", ""),
    "mfi": ("mfi", ""), "ad": ("ad", ""), "adosc": ("adosc", ""),
    "stddev": ("stdev", "length=30"), "var": ("variance", "length=30"), "linearreg": ("linreg", ""),
    "avgprice": ("ohlc4", ""), "medprice": ("hl2", ""), "typprice": ("hlc3", ""), "wclprice": ("wcp", ""),
    "vwap": ("vwap", "anchor='D'"), "keltner": ("kc", "its middle line is an EMA by default"),
    "donchian": ("donchian", ""), "supertrend": ("supertrend", "length=7"),
    "ichimoku": ("ichimoku", "shifts the spans into the future"), "hma": ("hma", "length=10"),
    "zlema": ("zlma", "length=10"), "heikin_ashi": ("ha", ""), "cmf": ("cmf", ""), "vortex": ("vortex", ""),
    "zscore": ("zscore", "length=30"),
}


def sample_frame(n=500):
    """The bars the pages' examples and charts use: `sample_ohlcv(n)` in float64."""
    return {key: np.asarray(value, dtype=np.float64) for key, value in sample_ohlcv(n).items()}


def sample_column(name):
    return name if name in SAMPLE_COLUMNS else SAMPLE_FALLBACK.get(name, "close")


def number(value):
    if isinstance(value, float):
        return f"{value:g}".replace("e+", "e")
    return f"{value:,}" if abs(value) >= 10000 else str(value)


def split_doc(doc):
    """(formula, notes, TA-Lib comparison) from a registry entry's doc text."""
    formula, _, rest = doc.partition("\n\n")
    if "TA-Lib" in formula and "TA-Lib" not in rest:  # a doc of one paragraph: its TA-Lib lines apart
        lines = formula.splitlines()
        at = next(i for i, line in enumerate(lines) if "TA-Lib" in line)
        formula, rest = "\n".join(lines[:at]), "\n".join(lines[at:])
    lines = rest.splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith("TA-Lib")), len(lines))
    notes = " ".join(lines[:start]).strip()
    comparison = " ".join(lines[start:]).strip()
    if not comparison and "TA-Lib" in notes:  # the comparison inside the notes' paragraph
        at = notes.index("TA-Lib")
        notes, comparison = notes[:at].strip(), notes[at:]
    return formula.strip(), notes, comparison


def signature(entry):
    parts = classic.input_signature(classic.descriptor(entry.name)) + [f"{p['name']}={p['default']!r}" for p in entry.params] + ["*", "dtype=np.float64"]
    text = f"classic.{entry.name}({', '.join(parts)})"
    if len(text) <= 88:
        return text
    return "\n".join([f"classic.{entry.name}("] + [f"    {p}," for p in parts] + [")"])


def call_arguments(entry):
    return ", ".join(repr(p["default"]) for p in entry.params)


def calls(entry):
    """Python source calling the indicator through every route, on the sample bars (runnable)."""
    name = entry.name
    params = call_arguments(entry)
    after = f", {params}" if params else ""
    columns = [sample_column(i) for i in entry.inputs]
    numpy_inputs = ", ".join(f'bars["{c}"]' for c in columns)
    outputs = ", ".join(entry.outputs) if all(o.isidentifier() for o in entry.outputs) else "result"
    column_keywords = [f'{i}="{c}"' for i, c in zip(entry.inputs, columns) if i != c]
    pandas_arguments = ", ".join(([params] if params else []) + column_keywords)
    polars_inputs = ", ".join(f'pl.col("{c}")' for c in columns)
    batch_inputs = ", ".join(f"np.column_stack([bars[\"{c}\"], 2 * bars[\"{c}\"]])" for c in columns)
    history = ", ".join(f'bars["{c}"].to_numpy()[:-1]' for c in columns)
    last_bar = ", ".join(f'float(bars["{c}"].iloc[-1])' for c in columns)
    _, labels = _labels(entry)
    pandas_note = f"a Series named {labels[0]}" if len(labels) == 1 else f"a DataFrame: {', '.join(labels)}"
    polars_note = "a Float64 column" if len(labels) == 1 else "a struct column (.struct.unnest() for columns)"
    return "\n".join([
        "import numpy as np",
        "import pandas as pd",
        "import polars as pl",
        "import velkized_ta.pandas  # noqa: F401  (the .velk accessor)",
        "import velkized_ta.polars as vp",
        "from velkized_ta import classic",
        "from velkized_ta.classic import batch, stream",
        "from velkized_ta.sample import sample_ohlcv",
        "",
        "bars = pd.DataFrame(sample_ohlcv(500))  # open, high, low, close, volume, session",
        "",
        "# numpy (or pandas / polars Series): float64 arrays of the input's length",
        f"{outputs} = classic.{name}({numpy_inputs}{after})",
        f"# pandas: {pandas_note}; by=\"symbol\" computes each symbol of a long frame on its own",
        f"frame = bars.velk.classic.{name}({pandas_arguments})",
        f"# polars: {polars_note}; by= or .over(\"symbol\") per symbol",
        f"table = pl.from_pandas(bars).select(vp.classic.{name}({polars_inputs}{after}))",
        "# many series in one call: one per column (axis=0), on the usable cores",
        f"many = batch.{name}({batch_inputs}{after}, axis=0)",
        "# live: open on the history, then one bar at a time",
        f"handle = stream.{name}({history}{after})",
        f"latest = handle.update({last_bar})",
    ])


def _labels(entry):
    from velkized_ta import _classic_frontend

    return _classic_frontend.labels(classic.descriptor(entry.name), [p["default"] for p in entry.params])


def talib_difference(entry, n=5000):
    """(largest relative difference, first values agree) against TA-Lib on the sample bars, or None
    when TA-Lib (its Python package) is not installed or has no such function."""
    return _talib_difference(entry.name, n)


@functools.lru_cache(maxsize=None)
def _talib_difference(name, n):
    entry = CLASSIC[name]
    function = _talib_function(entry)
    if function is None:
        return None
    bars = sample_frame(n)
    # TA-Lib takes no per-bar labels: without them (vwap's anchor) the series is one session.
    inputs = [bars[sample_column(i)] for i in entry.inputs if i not in entry.optional_inputs]
    defaults = {p["name"]: p["default"] for p in entry.params}
    try:
        theirs = function(*inputs, **defaults)
    except Exception:  # noqa: BLE001 - a peer's refusal leaves the row unmeasured
        return None
    ours = getattr(classic, entry.name)(*inputs)
    ours, theirs = (v if isinstance(v, tuple) else (v,) for v in (ours, theirs))
    # Integer outputs (supertrend's trend, ht_trendmode) hold 0 before TA-Lib's first value.
    from talib import abstract

    lookback = abstract.Function(entry.talib, **defaults).lookback
    theirs = tuple(np.where(np.arange(len(t)) < lookback, np.nan, t) if t.dtype.kind == "i" else t
                   for t in theirs)
    largest, same_first = 0.0, True
    for mine, peer in zip(ours, theirs):
        both = ~np.isnan(mine) & ~np.isnan(peer)
        mine_first = np.flatnonzero(~np.isnan(mine))[:1].tolist()
        peer_first = np.flatnonzero(~np.isnan(peer))[:1].tolist()
        same_first &= mine_first == peer_first
        if both.any():
            scale = np.maximum(np.abs(peer[both]), np.abs(inputs[0][both]) * 1e-6 + 1e-300)
            largest = max(largest, float(np.max(np.abs(mine[both] - peer[both]) / scale)))
    return largest, same_first


def _talib_function(entry):
    if entry.talib is None:
        return None
    try:
        import talib
    except ImportError:
        return None
    return getattr(talib, entry.talib, None)


def talib_defaults(entry):
    """The defaults of TA-Lib's Python package for the function, or None without it."""
    if _talib_function(entry) is None:
        return None
    from talib import abstract

    return dict(abstract.Function(entry.talib).parameters)


def default_differences(entry):
    """Where our defaults differ from TA-Lib's Python package, and its parameters we fix, as text
    (empty when they agree; None without TA-Lib)."""
    theirs = talib_defaults(entry)
    if theirs is None:
        return None
    ours = {p["name"]: p["default"] for p in entry.params}
    parts = [f"`{key}={value!r}` here, `{theirs[key]!r}` in TA-Lib's package"
             for key, value in ours.items() if key in theirs and theirs[key] != value]
    fixed = [key for key in theirs if key not in ours]
    if fixed:
        parts.append(f"TA-Lib's {', '.join(f'`{key}`' for key in fixed)} fixed at its default "
                     f"({', '.join(repr(theirs[key]) for key in fixed)})")
    return "; ".join(parts)


def page(name, chart_src):
    entry = CLASSIC[name]
    formula, notes, comparison = split_doc(entry.doc)
    first = first_value_text(entry)
    outputs = ", ".join(f"`{o}`" for o in entry.outputs)
    measured = talib_difference(entry)
    if entry.talib is None:
        measured_text = "TA-Lib has no such function."
    elif measured is None:
        measured_text = "(This build had no TA-Lib to measure against: install `TA-Lib` for the figure.)"
    else:
        largest, same_first = measured
        measured_text = (f"Measured by this build on 5,000 sample bars with the default parameters: largest "
                         f"relative difference {largest:.2g}; first values "
                         f"{'at the same position' if same_first else 'at different positions'}.")
    defaults = default_differences(entry)
    if defaults:
        measured_text += f" Defaults: {defaults}."
    elif defaults == "":
        measured_text += " The defaults are those of TA-Lib's Python package."
    rows = [f"| `{p['name']}` | {p['kind']} | `{p['default']!r}` | {number(p['min'])} … {number(p['max'])} "
            f"| {p['doc']} |" for p in entry.params]
    return "\n".join([
        f"# classic.{name} — {entry.title.split(':')[0]}", "",
        entry.title, "",
        "```python", signature(entry), "```", "",
        "| At a glance | |", "|---|---|",
        f"| Group | {entry.group_title} |",
        f"| Inputs | {', '.join(f'`{i}`' + (' (optional)' if i in entry.optional_inputs else '') for i in entry.inputs)} |",
        f"| Outputs | {outputs}{' (a tuple, in this order)' if len(entry.outputs) > 1 else ''} |",
        f"| First value | {first} |",
        f"| TA-Lib | {f'`{entry.talib}`' if entry.talib else '—'} |",
        "| Returns | float64 arrays of the input's length (`dtype=np.float32` stores float32) |", "",
        "## Parameters", "",
        *(["| Parameter | Kind | Default | Range | Meaning |", "|---|---|---|---|---|", *rows] if rows
          else ["None."]),
        "",
        "Out of range: `ValueError` naming the argument and its range.", "",
        "## Definition", "",
        "```text", formula, "```", "",
        notes, "",
        "## NaN bars", "",
        "A bar with NaN in any input gives NaN in every output at that bar and never reaches the state: "
        "leading NaNs delay the first value by their number, and after a gap the indicator goes on from the "
        "last real bars (a window holds the last real bars).", "",
        "## Compared with TA-Lib", "",
        comparison, "",
        measured_text, "",
        "## Chart", "",
        f"![classic.{name} on the sample bars]({chart_src})", "",
        f"*Drawn at build time: `classic.{name}` with the default parameters on `velkized_ta.sample.sample_ohlcv()`.*",
        "",
        "## Every route", "",
        "The same values, bit for bit, from each route:", "",
        "```python", calls(entry), "```", "",
    ])


def first_value_text(entry):
    """Where the values start with the defaults: one position, or each output's where they differ."""
    firsts = entry.first_positions()
    every = entry.warm_up()
    if len(set(firsts.values())) == 1:
        return (f"position `{every}` with the defaults (`classic.lookback(\"{entry.name}\", ...)` for "
                "others)")
    each = ", ".join(f"`{output}` at `{position}`" for output, position in firsts.items())
    return (f"{each} with the defaults; every output from position `{every}` "
            f"(`classic.first_positions(\"{entry.name}\", ...)` and `classic.lookback` for others)")


def first_values_cell(entry):
    positions = list(entry.first_positions().values())
    return f"`{positions[0]}`" if len(set(positions)) == 1 else ", ".join(f"`{p}`" for p in positions)


def nav():
    """The navigation section of the classic pages, by group."""
    return [{title: [{f"classic.{e.name}": f"{PAGE_DIR}/{e.name}.md"} for e in members]}
            for title, members in classic_by_group()]


def index_by_group(prefix="classic/"):
    lines = []
    for title, members in classic_by_group():
        lines += [f"### {title}", "", "| Function | Computes | Outputs | First value |", "|---|---|---|---|"]
        for e in members:
            lines.append(f"| [`{e.name}`]({prefix}{e.name}.md) | {e.title} | {', '.join(e.outputs)} "
                         f"| {first_values_cell(e)} |")
        lines.append("")
    return "\n".join(lines)


def against_talib(entry):
    """The name table's TA-Lib cell: measured where TA-Lib is installed, else the definition's claim."""
    if entry.talib is None:
        return "—"
    measured, defaults = talib_difference(entry), default_differences(entry)
    if measured is None or defaults is None:
        _, _, comparison = split_doc(entry.doc)
        return "same first value" if re.search(r"same first value", comparison, re.I) else "see its page"
    largest, same_first = measured
    # A deliberate difference (supertrend's first direction) is told on the page, not as a tolerance.
    spread = f"within {max(largest, 1e-16):.0e}" if largest < 1e-6 else f"differs by up to {largest:.2g}: see its page"
    parts = [("same first value" if same_first else "first value differs") + f", {spread}"]
    parts.append(defaults or "same defaults")
    return "; ".join(parts)


def names_table(prefix="classic/"):
    """From TA-Lib's and pandas-ta's names to ours, with the differences."""
    lines = ["| TA-Lib | pandas-ta | velkized_ta | Against TA-Lib | pandas-ta's defaults and other differences |",
             "|---|---|---|---|---|"]
    for e in sorted(CLASSIC.values(), key=lambda e: (e.talib or "~", e.name)):
        peer, note = PANDAS_TA.get(e.name, ("", ""))
        lines.append(f"| {f'`{e.talib}`' if e.talib else '—'} | {f'`{peer}`' if peer else '—'} "
                     f"| [`classic.{e.name}`]({prefix}{e.name}.md) | {against_talib(e)} "
                     f"| {note or ('same defaults' if peer else '—')} |")
    return "\n".join(lines)


def chart_values(name, bars):
    entry = CLASSIC[name]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        values = getattr(classic, name)(*(bars[sample_column(i)] for i in entry.inputs))
    return values if isinstance(values, tuple) else (values,)


def finite_range(values):
    data = np.concatenate([v[~np.isnan(v)] for v in values]) if values else np.zeros(0)
    if not len(data):
        return None
    low, high = float(data.min()), float(data.max())
    return (low, high) if math.isfinite(low) and math.isfinite(high) else None
