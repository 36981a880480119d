"""What the pandas and polars front-ends share: the indicator table, argument checks, names.

Each front-end indicator maps price roles (close, high, low, ...) to the exact function's
series parameters and gives its periods defaults that make a meaningful indicator (the exact
functions' own defaults of 1 would give zeros or fail). Values come from ``velkized_ta.batch``:
the live values by default (``live=True``, what a stream handle gives bar by bar), the exact
function's with ``exact=True``.
"""

from dataclasses import dataclass, field

import numpy as np

from velkized_ta import batch


@dataclass(frozen=True)
class Indicator:
    function: str                 # the exact function's name
    roles: tuple                  # (price role, exact parameter name) per series input, in order
    periods: dict                 # period parameter -> front-end default, in order
    options: dict = field(default_factory=dict)  # other parameters passed through, with defaults
    summary: str = ""
    units: str = ""

    def label(self, name, periods):
        return "_".join([name] + [str(periods[p]) for p in self.periods])


def _one(parameter, role="close"):
    return ((role, parameter),)


_HLC = (("high", "high_arr"), ("low", "low_arr"), ("close", "close_arr"))
_DEVIATION = "relative deviation (value - close) / close; the value itself with normalize=False"

INDICATORS = {
    "sma": Indicator("velk_sma", _one("input_array"), {"timeperiod": 20}, {"normalize": True},
                     "moving average skipping NaN values", _DEVIATION),
    "lin": Indicator("velk_lin", _one("input_array"), {"timeperiod": 14}, {},
                     "least-squares slope of the window", "price units per bar"),
    "mid": Indicator("velk_mid", (("high", "high"), ("low", "low"), ("close", "close")), {"timeperiod": 14},
                     {"normalize": True}, "midpoint of the window's high-low range", _DEVIATION),
    "ema": Indicator("velk_ema", _one("input_array"), {"timeperiod": 20}, {"normalize": True},
                     "exponential moving average", _DEVIATION),
    "ema2": Indicator("velk_ema2", _one("input_array"), {"timeperiod": 20}, {},
                      "EMA of the EMA (second stage)", "price units"),
    "ema3": Indicator("velk_ema3", _one("input_array"), {"timeperiod": 20}, {},
                      "third EMA stage", "price units"),
    "dema": Indicator("velk_dema", _one("input1"), {"timeperiod": 20}, {},
                      "double exponential moving average", "price units"),
    "tema": Indicator("velk_tema", _one("input1"), {"timeperiod": 20}, {},
                      "triple exponential moving average", "price units"),
    "trix": Indicator("velk_trix", _one("arr"), {"timeperiod": 15}, {},
                      "one-step relative change of the third EMA stage", "fraction per bar"),
    "macd": Indicator("velk_macd", _one("input0"), {"short_period": 12, "long_period": 26}, {},
                      "fast EMA minus slow EMA", "price units"),
    "roc": Indicator("velk_roc", _one("input_array"), {"timeperiod": 10}, {},
                     "rate of change over the period", "fraction"),
    "rsi": Indicator("velk_rsi", _one("close"), {"timeperiod": 14}, {},
                     "relative strength index", "0 ... 100"),
    "cmo": Indicator("velk_cmo", _one("close_arr"), {"timeperiod": 14}, {},
                     "momentum oscillator", "-1 ... 1"),
    "willr": Indicator("velk_willr", _HLC, {"timeperiod": 14}, {},
                       "Williams %R", "fraction 0 ... 1"),
    "stochf": Indicator("velk_stochf", _HLC, {"timeperiod": 14}, {},
                        "fast stochastic %K", "fraction 0 ... 1"),
    "ult": Indicator("velk_ult", _HLC, {"short_period": 7, "medium_period": 14, "long_period": 28}, {},
                     "ultimate oscillator", "fraction 0 ... 1"),
    "cci": Indicator("velk_cci", _HLC, {"timeperiod": 20}, {},
                     "commodity channel index (standard deviation)", "index points"),
    "dx": Indicator("velk_dx", (("high", "high"), ("low", "low"), ("close", "close")), {"timeperiod": 14}, {},
                    "directional movement index", "fraction 0 ... 1"),
    "adx": Indicator("velk_adx", _HLC, {"timeperiod": 14}, {},
                     "average directional movement index", "fraction 0 ... 1"),
    "adxr": Indicator("velk_adxr", _HLC, {"timeperiod": 14}, {},
                      "average directional movement rating", "fraction 0 ... 1"),
    "natr": Indicator("velk_natr", _HLC, {"timeperiod": 14}, {},
                      "normalised average true range", "fraction of the close"),
    "wick": Indicator("velk_wick", _HLC, {"timeperiod": 14}, {},
                      "wick balance of the window's candle", "fraction"),
    "adif": Indicator("velk_adif", (("a", "input_array_1"), ("b", "input_array_2")), {}, {},
                      "difference a - b of two series", "price units"),
    "rdif": Indicator("velk_rdif", (("a", "input_array_1"), ("b", "input_array_2")), {}, {},
                      "relative difference (a - b) / b of two series", "fraction"),
}

# The price column a role reads by default (case-insensitive).
DEFAULT_COLUMNS = {"open": "open", "high": "high", "low": "low", "close": "close", "a": "close", "b": "open"}


def resolve(name, periods, options):
    """Checked periods and options of indicator `name`, defaults filled in; errors name the argument."""
    spec = INDICATORS[name]
    values = dict(spec.periods)
    for parameter, value in periods.items():
        if parameter not in spec.periods:
            raise TypeError(f"{name}() got an unexpected argument '{parameter}'")
        values[parameter] = value
    for parameter, value in values.items():
        if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
            raise TypeError(f"{name}() argument '{parameter}' must be an integer, got {type(value).__name__}")
        if value < 1:
            raise ValueError(f"{name}() argument '{parameter}' must be at least 1, got {value}")
        values[parameter] = int(value)
    if "short_period" in values and values["short_period"] >= values.get("medium_period", values["long_period"]):
        following = "medium_period" if "medium_period" in values else "long_period"
        raise ValueError(f"{name}() argument 'short_period' ({values['short_period']}) must be less than "
                         f"'{following}' ({values[following]})")
    if "medium_period" in values and values["medium_period"] >= values["long_period"]:
        raise ValueError(f"{name}() argument 'medium_period' ({values['medium_period']}) must be less than "
                         f"'long_period' ({values['long_period']})")
    flags = dict(spec.options)
    for option, value in options.items():
        if option not in spec.options:
            raise TypeError(f"{name}() got an unexpected argument '{option}'")
        flags[option] = bool(value)
    return values, flags


def as_float32(values, name, argument):
    """Any real sequence (nullable NA as NaN) as a float32 array; rounds each price once."""
    try:
        array = np.asarray(values)
        if array.dtype == object:
            array = np.array([np.nan if v is None or v is getattr(np, "nan") else v for v in array], dtype=np.float64)
        if array.dtype.kind not in "fiub":
            raise TypeError(f"dtype {array.dtype}")
        return np.ascontiguousarray(array, dtype=np.float32)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name}() argument '{argument}' must hold real numbers: {error}") from None


def group_order(codes):
    """Stable order putting rows of equal integer codes (0 .. k-1) together, and the groups' offsets in it."""
    codes = np.asarray(codes, dtype=np.int64)
    order = np.argsort(codes, kind="stable")
    counts = np.bincount(codes) if len(codes) else np.zeros(0, dtype=np.int64)
    return order, np.concatenate(([0], np.cumsum(counts))).astype(np.int64)


def contiguous_offsets(starts, heads_unique, total):
    """Offsets of runs of equal keys when every key forms a single run (the usual sorted long
    table), else None. `starts` are the positions where a new run begins (0 excluded)."""
    if not heads_unique:
        return None
    return np.concatenate(([0], starts, [total])).astype(np.int64)


def compute_grouped(name, prices, periods, flags, codes, exact=False, offsets=None):
    """`compute` per group of `codes`, each group in its rows' order; results in the input's order.

    With `offsets` (the groups already lie in contiguous runs) nothing is reordered."""
    if offsets is not None:
        return compute(name, prices, periods, flags, offsets, exact)
    order, offsets = group_order(codes() if callable(codes) else codes)
    result = compute(name, {role: p[order] for role, p in prices.items()}, periods, flags, offsets, exact)
    unsorted = np.empty_like(result)
    unsorted[order] = result
    return unsorted


def compute(name, prices, periods, flags, offsets=None, exact=False):
    """Indicator `name` over 1-D float32 `prices` (role -> array), per segment of `offsets`.

    A series too short for the indicator's warm-up gives NaN; any other failure raises.
    """
    spec = INDICATORS[name]
    lengths = {len(prices[role]) for role, _ in spec.roles}
    if len(lengths) > 1:
        raise ValueError(f"{name}() needs series of equal length, got lengths "
                         + ", ".join(f"{role}={len(prices[role])}" for role, _ in spec.roles))
    total = lengths.pop()
    if offsets is None:
        offsets = np.array([0, total], dtype=np.int64)
    arguments = {parameter: prices[role] for role, parameter in spec.roles}
    return batch._compute(spec.function, arguments, {**periods, **flags}, offsets,
                          live=not exact, short_as_nan=True)
