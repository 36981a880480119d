"""The generated parts of the indicator pages: signature, parameters, facts and the overview table."""

import inspect

import velkized_ta as ta
from velkized_ta.catalog import INDICATORS

N_VALUES = "Write only the last `n_values` positions; the rest stay NaN (the default writes all)."
PARAMETERS = {
    "input_array": "Series to compute on, usually the close.",
    "timeperiod": "Period in bars.",
    "normalize": "True: return (value − price) / price. False: the value itself, in price units.",
    "n_values": N_VALUES,
    "high": "Bar highs.", "low": "Bar lows.", "close": "Bar closes.",
    "high_arr": "Bar highs.", "low_arr": "Bar lows.", "close_arr": "Bar closes.",
    "stream": "Accepted and ignored: the whole series is returned.",
    "last_value_only": "Accepted and ignored: the whole series is returned.",
    "input_array_1": "First series.",
    "input_array_2": "Second series: subtracted from the first (and its divisor for `velk_rdif`).",
    "input_is_ema1": "`input_array` already is stage 1 (`velk_ema(price, timeperiod)`).",
    "input_is_ema2": "The input already is stage 2 (`velk_ema2(price, timeperiod)`).",
    "input_is_ema3": "`arr` already is stage 3 (`velk_ema3(price, timeperiod)`).",
    "input1": "Price series, or stage 1 when `input1_is_ema1` is true. Sets the output length.",
    "input2": "Stage 2, read only when `input2_is_ema2` is true.",
    "input3": "Stage 3, read only when `input3_is_ema3` is true.",
    "input1_is_ema1": "`input1` already is stage 1.",
    "input2_is_ema2": "`input2` holds stage 2.",
    "input3_is_ema3": "`input3` holds stage 3.",
    "arr": "Price series, or the stage named by a flag.",
}
# Where a name means something else in one function.
OVERRIDES = {
    ("velk_ema3", "input_is_ema1"): "`input_array` already is stage 1 (tested only when `input_is_ema2` is false).",
    ("velk_trix", "input_is_ema2"): "`arr` already is stage 2 (`velk_ema2(price, timeperiod)`).",
    ("velk_trix", "input_is_ema1"): "`arr` already is stage 1 (`velk_ema(price, timeperiod)`).",
    ("velk_adx", "close_arr"): ("Bar closes, or a ready DX series when `close_arr_is_dx` is true. "
                                "Sets the output length."),
    ("velk_adx", "close_arr_is_dx"): "`close_arr` already is `velk_dx(high, low, close, timeperiod)`.",
    ("velk_adxr", "close_arr"): "Bar closes, or a ready ADX series when `close_arr_is_adx` is true.",
    ("velk_adxr", "close_arr_is_adx"): "`close_arr` already is `velk_adx(high, low, close, timeperiod)`.",
    ("velk_macd", "input0"): "Price series. Needed in every mode: it sets the output length.",
    ("velk_macd", "input1"): "Fast average `velk_ema(price, short_period)`, read only when `input1_is_fast_ema`.",
    ("velk_macd", "input2"): "Slow average `velk_ema(price, long_period)`, read only when `input2_is_slow_ema`.",
    ("velk_macd", "short_period"): "Period of the fast average.",
    ("velk_macd", "long_period"): "Period of the slow average; also the first position written.",
    ("velk_macd", "input1_is_fast_ema"): "Use `input1` as the fast average.",
    ("velk_macd", "input2_is_slow_ema"): "Use `input2` as the slow average.",
    ("velk_ult", "short_period"): "Shortest window; its ratio gets the weight `long_period`.",
    ("velk_ult", "medium_period"): "Middle window; its ratio gets the weight `medium_period`.",
    ("velk_ult", "long_period"): "Longest window; its ratio gets the weight `short_period`. First position written.",
}


def nav():
    """The indicators' navigation, by family in the catalogue's order: [{family: [{name: page}, ...]}, ...]."""
    families = {}
    for name, indicator in INDICATORS.items():
        families.setdefault(indicator.family, []).append({name: f"indicators/{name}.md"})
    return [{family: members} for family, members in families.items()]


def signature(name):
    text = f"{name}{inspect.signature(getattr(ta, name))}"
    if len(text) <= 88:
        return text
    parameters = inspect.signature(getattr(ta, name)).parameters.values()
    return "\n".join([f"{name}("] + [f"    {parameter}," for parameter in parameters] + [")"])


def parameter_rows(name):
    rows = []
    for parameter in inspect.signature(getattr(ta, name)).parameters.values():
        default = "required" if parameter.default is inspect.Parameter.empty else f"`{parameter.default!r}`"
        meaning = OVERRIDES.get((name, parameter.name)) or PARAMETERS[parameter.name]
        rows.append(f"| `{parameter.name}` | {default} | {meaning} |")
    return rows


def bounds_text(indicator):
    if indicator.bounds is None:
        return "unbounded"
    low, high = (f"{value:g}".replace("-", "−") for value in indicator.bounds)
    return f"{low} … {high} on well-formed bars"


def facts(name, sample_call, chart_src):
    indicator = INDICATORS[name]
    lines = [
        "```python", signature(name), "```", "",
        "| At a glance | |", "|---|---|",
        f"| Family | {indicator.family} |",
        f"| Output | {indicator.unit} |",
        f"| Range | {bounds_text(indicator)} |",
        f"| First value | position `{indicator.warm_up_text}` on a series without NaN "
        f"(default `n_values`) |",
        f"| Returns | a new float32 array of the input's length, NaN where there is no value |",
        "", "| Parameter | Default | Meaning |", "|---|---|---|", *parameter_rows(name), "",
        f"![{name} on the sample bars]({chart_src})", "",
        f"*Drawn at build time: `{sample_call}` on `velkized_ta.sample.sample_ohlc()`.*", "",
    ]
    return "\n".join(lines)


def overview_table():
    lines = []
    for family in dict.fromkeys(indicator.family for indicator in INDICATORS.values()):
        lines += [f"### {family}", "", "| Function | Computes | Output | First value |", "|---|---|---|---|"]
        for indicator in INDICATORS.values():
            if indicator.family == family:
                lines.append(f"| [`{indicator.name}`]({indicator.name}.md) | {indicator.title} | {indicator.unit} "
                             f"| `{indicator.warm_up_text}` |")
        lines.append("")
    return "\n".join(lines)


# The names the routes' examples give each price series.
_VARIABLES = {"close": "close", "high": "high", "low": "low", "open": "open_"}
SMALL_PERIODS = (1, 0, -1, -5)


def _example_call(name):
    """(keyword arguments as source text per parameter, series variable names in order) of the sample call."""
    from velkized_ta.sample import _SERIES_ROLE, example_arguments, sample_ohlc

    bars = sample_ohlc(10)
    kwargs = example_arguments(getattr(ta, name), bars)
    arguments, series = {}, []
    for parameter, value in kwargs.items():
        if hasattr(value, "dtype"):
            role = _SERIES_ROLE.get(parameter, "close")
            arguments[parameter] = _VARIABLES[role]
            series.append(_VARIABLES[role])
        else:
            arguments[parameter] = repr(value)
    return arguments, series


def _frontend_name(name):
    from velkized_ta._frontend import INDICATORS as FRONTEND

    return next(short for short, spec in FRONTEND.items() if spec.function == name)


def routes(name):
    """A runnable example: the indicator through numpy, pandas, polars, batch and stream, and how they agree."""
    from velkized_ta._frontend import INDICATORS as FRONTEND

    arguments, series = _example_call(name)
    short = _frontend_name(name)
    spec = FRONTEND[short]
    periods = {p: arguments[p] for p in spec.periods}
    numpy_call = ", ".join(f"{p}={v}" for p, v in arguments.items())
    period_text = ", ".join(periods.values())
    polars_args = ", ".join(f"{p}={v}" for p, v in periods.items())
    many = {v: f"{v.rstrip('_')}s" for v in dict.fromkeys(series)}
    batch_call = ", ".join(f"{p}={many.get(v, v)}" for p, v in arguments.items())
    history = ", ".join(f"{p}={v}[:-1]" if v in many else f"{p}={v}" for p, v in arguments.items())
    bar = ", ".join(f"{v}[-1]" for v in series)
    key = {variable: role for role, variable in _VARIABLES.items()}
    names = ", ".join(many)
    lines = [
        "```python",
        "import numpy as np",
        "import pandas as pd",
        "import polars as pl",
        "import velkized_ta.pandas  # noqa: F401  (registers the .velk accessor)",
        "import velkized_ta.polars as vp",
        f"from velkized_ta import batch, stream, {name}",
        "from velkized_ta.sample import sample_ohlc",
        "",
        "bars = sample_ohlc()",
        f"{names} = " + ", ".join(f"bars[{key[v]!r}]" for v in many),
        "",
        "# numpy, one series: the exact values",
        f"values = {name}({numpy_call})",
        "",
        "# pandas and polars: the live values by default, the exact ones with exact=True;",
        "# by='symbol' (or polars' .over('symbol')) computes each symbol of a long table on its own",
        "frame = pd.DataFrame(bars)",
        f"live = frame.velk.{short}({period_text})",
        f"exact = frame.velk.{short}({period_text}, exact=True)".replace("(, ", "("),
        f"table = pl.DataFrame(bars).with_columns(vp.{short}({polars_args}))",
        "",
        "# many series per call, one per column (live=True: the handles' values)",
        *[f"{plural} = np.stack([{v}, {v}[::-1]], axis=1)" for v, plural in many.items()],
        f"each = batch.{name}({batch_call})",
        "",
        "# live: a handle opened on the history, then one bar at a time",
        f"handle = stream.{name}({history})",
        f"last = handle.update({bar})",
        "",
        "assert np.array_equal(exact.to_numpy(), values, equal_nan=True)",
        "assert np.array_equal(each[:, 0], values, equal_nan=True)",
        "assert last == live.iloc[-1]",
        "```",
    ]
    return "\n".join(lines)


def _outcome(function, kwargs):
    import warnings

    import numpy as np

    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            values = function(**kwargs)
    except Exception as error:  # noqa: BLE001 - the outcome is what the table reports
        return f"`{type(error).__name__}`"
    missing = np.isnan(values)
    if missing.all():
        return "all NaN"
    first = int(np.flatnonzero(~missing)[0])
    later = int(missing[first:].sum())
    return f"values from {first}" + (f", {later:,} NaN after" if later else "")


def small_periods(name):
    """What each period parameter below 2 gives on the sample bars, measured at build time."""
    from velkized_ta.sample import example_arguments, sample_ohlc

    function = getattr(ta, name)
    kwargs = example_arguments(function, sample_ohlc())
    periods = [p for p in kwargs if p.endswith("period")]
    lines = ["| Parameter | " + " | ".join(f"{v:d}".replace("-", "−") for v in SMALL_PERIODS) + " |",
             "|---|" + "---|" * len(SMALL_PERIODS)]
    for period in periods:
        cells = [_outcome(function, {**kwargs, period: value}) for value in SMALL_PERIODS]
        lines.append(f"| `{period}` | " + " | ".join(cells) + " |")
    others = ", ".join(f"`{p}={kwargs[p]}`" for p in periods)
    return ("Periods below 2, one parameter at a time (the others as in " + others + "), on the 5,000 sample "
            "bars; measured at every documentation build. Nothing checks a period's sign: what a period "
            "below 1 gives follows from the arithmetic and depends on the data, so pass periods of at least "
            "1 (the pandas and polars front-ends refuse smaller ones).\n\n" + "\n".join(lines))
