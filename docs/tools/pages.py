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
