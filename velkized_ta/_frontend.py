"""What the pandas and polars front-ends share: the indicator table, argument checks, names.

Each front-end indicator maps price roles (close, high, low, ...) to the exact function's
series parameters and gives its periods defaults that make a meaningful indicator (the exact
functions' own defaults of 1 would give zeros or fail). Values come from ``velkized_ta.batch``:
the live values by default (``live=True``, what a stream handle gives bar by bar), the exact
function's with ``exact=True``.
"""

import sys
import warnings
from dataclasses import dataclass, field

import numpy as np

from velkized_ta import _registry, batch, catalog


@dataclass(frozen=True)
class Indicator:
    function: str                 # the exact function's name
    roles: tuple                  # (price role, exact parameter name) per series input, in order
    periods: dict                 # period parameter -> front-end default, in order
    options: dict = field(default_factory=dict)  # other parameters passed through, with defaults
    summary: str = ""

    @property
    def units(self):
        """What the default output is measured in: the catalogue's measured unit."""
        return catalog.INDICATORS[self.function].unit

    def label(self, name, periods):
        return "_".join([name] + [str(periods[p]) for p in self.periods])


def _one(parameter, role="close"):
    return ((role, parameter),)


_HLC = (("high", "high_arr"), ("low", "low_arr"), ("close", "close_arr"))

INDICATORS = {
    "sma": Indicator("velk_sma", _one("input_array"), {"timeperiod": 20}, {"normalize": True},
                     "moving average skipping NaN values, as (mean - close) / close"),
    "lin": Indicator("velk_lin", _one("input_array"), {"timeperiod": 14}, {},
                     "least-squares slope of the window"),
    "mid": Indicator("velk_mid", (("high", "high"), ("low", "low"), ("close", "close")), {"timeperiod": 14},
                     {"normalize": True}, "midpoint of the window's high-low range, as (midpoint - close) / close"),
    "ema": Indicator("velk_ema", _one("input_array"), {"timeperiod": 20}, {"normalize": True},
                     "exponential moving average, as (ema - close) / close"),
    "ema2": Indicator("velk_ema2", _one("input_array"), {"timeperiod": 20}, {},
                      "second EMA stage: the EMA of the EMA's relative deviation"),
    "ema3": Indicator("velk_ema3", _one("input_array"), {"timeperiod": 20}, {},
                      "third EMA stage: the EMA of the second stage"),
    "dema": Indicator("velk_dema", _one("input1"), {"timeperiod": 20}, {},
                      "2 * stage 1 - stage 2 of the EMA chain (not the DEMA of the price)"),
    "tema": Indicator("velk_tema", _one("input1"), {"timeperiod": 20}, {},
                      "3 * stage 1 - 3 * stage 2 + stage 3 of the EMA chain (not the TEMA of the price)"),
    "trix": Indicator("velk_trix", _one("arr"), {"timeperiod": 15}, {},
                      "one-step relative change of the third EMA stage"),
    "macd": Indicator("velk_macd", _one("input0"), {"short_period": 12, "long_period": 26}, {},
                      "MACD line divided by the price: (fast EMA - slow EMA) / close"),
    "roc": Indicator("velk_roc", _one("input_array"), {"timeperiod": 10}, {},
                     "rate of change over the period"),
    "rsi": Indicator("velk_rsi", _one("close"), {"timeperiod": 14}, {},
                     "relative strength index"),
    "cmo": Indicator("velk_cmo", _one("close_arr"), {"timeperiod": 14}, {},
                     "momentum oscillator"),
    "willr": Indicator("velk_willr", _HLC, {"timeperiod": 14}, {},
                       "Williams %R"),
    "stochf": Indicator("velk_stochf", _HLC, {"timeperiod": 14}, {},
                        "fast stochastic %K"),
    "ult": Indicator("velk_ult", _HLC, {"short_period": 7, "medium_period": 14, "long_period": 28}, {},
                     "ultimate oscillator"),
    "cci": Indicator("velk_cci", _HLC, {"timeperiod": 20}, {},
                     "commodity channel index (standard deviation)"),
    "dx": Indicator("velk_dx", (("high", "high"), ("low", "low"), ("close", "close")), {"timeperiod": 14}, {},
                    "directional movement index"),
    "adx": Indicator("velk_adx", _HLC, {"timeperiod": 14}, {},
                     "average directional movement index"),
    "adxr": Indicator("velk_adxr", _HLC, {"timeperiod": 14}, {},
                      "average directional movement rating"),
    "natr": Indicator("velk_natr", _HLC, {"timeperiod": 14}, {},
                      "normalised average true range"),
    "wick": Indicator("velk_wick", _HLC, {"timeperiod": 14}, {},
                      "wick balance of the window's candle"),
    "adif": Indicator("velk_adif", (("a", "input_array_1"), ("b", "input_array_2")), {}, {},
                      "difference a - b of two series"),
    "rdif": Indicator("velk_rdif", (("a", "input_array_1"), ("b", "input_array_2")), {}, {},
                      "relative difference (a - b) / b of two series"),
}



def _row_of_declaration(function):
    """The row of a function without one of its own, from its declaration: each series read from
    the price column its parameter names (a single series is the close), each period 14, each flag
    at its default. None where the names say nothing (such a function needs a row by hand)."""
    params = _registry.parameters(function)
    series = [name for name, kind, _ in params if kind == "series"]
    roles = []
    for parameter in series:
        role = "close" if len(series) == 1 else next(
            (r for r in ("open", "high", "low", "close") if r in parameter.lower()), None)
        if role is None:
            return None
        roles.append((role, parameter))
    periods = {name: 14 for name, kind, _ in params if kind == "int" and name != "n_values"}
    options = {name: default for name, kind, default in params if kind == "flag"}
    summary = catalog.INDICATORS[function].title.lower() if function in catalog.INDICATORS else ""
    return Indicator(function, tuple(roles), periods, options, summary)


for _function in _registry.NAMES:
    _row = _row_of_declaration(_function) if all(spec.function != _function for spec in INDICATORS.values()) else None
    if _row is not None:
        INDICATORS[_function.removeprefix("velk_")] = _row

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




# Failures of the data (a zero divisor at some bar), as opposed to errors in the arguments.
DATA_ERRORS = (ZeroDivisionError, FloatingPointError)
ERRORS = ("raise", "nan")
# CCI's float32 variance E[x^2] - mean^2 is rounding noise when the window's spread is tiny beside the
# price level: NaN where it rounds below zero, far off elsewhere. Sampled, so the check stays cheap.
CCI_NAN_SHARE = 0.01
CCI_SAMPLED_ERROR = 0.05
CCI_SAMPLES = 1024


class UndefinedWarning(RuntimeWarning):
    """With ``errors="nan"``: bars (live values) or groups (``exact=True``) where the indicator
    is undefined came back as NaN."""


class PrecisionWarning(RuntimeWarning):
    """The indicator's float32 arithmetic gave no value on more than a small share of the bars."""


class RowOrderWarning(UserWarning):
    """A group's datetime index goes back in time: rows are taken in the frame's order."""


def warn(message, category):
    """Warns at the first caller outside this package (polars' own frames count as callers)."""
    level, frame = 2, sys._getframe(1)
    while frame is not None and frame.f_globals.get("__name__", "").startswith("velkized_ta"):
        frame, level = frame.f_back, level + 1
    warnings.warn(message, category, stacklevel=level)


def check_errors(name, errors):
    if errors not in ERRORS:
        raise ValueError(f"{name}() argument 'errors' must be 'raise' or 'nan', got {errors!r}")
    return errors


def key_label(column, key):
    """`symbol='XYZ'` for a group's key, numpy scalars shown as Python values."""
    if hasattr(key, "item") and not isinstance(key, (str, bytes)):
        try:
            key = key.item()
        except (TypeError, ValueError):
            pass
    return f"{column}={key!r}"


def price_error(name, role, column, dtype):
    what = f"column {column!r}" if column is not None else "the series"
    return TypeError(f"{name}() {what} for the {role} prices has dtype {dtype}; prices must be real numbers "
                     "(integers, floats or booleans)")


def as_float32(values, name, argument):
    """Any real sequence (nullable NA as NaN) as a float32 array; rounds each price once."""
    try:
        array = np.asarray(values)
        if array.dtype == object:
            array = np.array(array, dtype=np.float64)  # None becomes NaN; text and objects fail
        if array.dtype.kind not in "fiub":
            raise TypeError(f"dtype {array.dtype}")
        return np.ascontiguousarray(array, dtype=np.float32)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name}() argument '{argument}' must hold real numbers: {error}") from None


def as_prices(values, name, argument):
    """`as_float32`, except that float64 prices stay float64: the live loops round each to float32 as
    they read it, in the pass that gathers the series, which saves a float32 copy of every column."""
    array = np.asarray(values)
    if array.dtype == np.float64 and array.ndim == 1:
        return np.ascontiguousarray(array)
    return as_float32(array, name, argument)


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


def compute_grouped(name, prices, periods, flags, codes, exact=False, offsets=None, errors="raise", key_at=None):
    """`compute` per group of `codes`, each group in its rows' order; results in the input's order.

    With `offsets` (the groups already lie in contiguous runs) nothing is reordered. `key_at(row)`
    names the group of a row (``symbol='XYZ'``) in errors and warnings."""
    if offsets is not None:
        return compute(name, prices, periods, flags, offsets, exact, errors, key_at)
    order, offsets = group_order(codes() if callable(codes) else codes)
    key_of_sorted = None if key_at is None else (lambda row: key_at(int(order[row])))
    result = compute(name, {role: p[order] for role, p in prices.items()}, periods, flags, offsets, exact,
                     errors, key_of_sorted)
    unsorted = np.empty_like(result)
    unsorted[order] = result
    return unsorted


def compute(name, prices, periods, flags, offsets=None, exact=False, errors="raise", key_at=None):
    """Indicator `name` over 1-D float32 (or float64, see `as_prices`) `prices` (role -> array), per
    segment of `offsets`.

    A series too short for the indicator's warm-up gives NaN. A failure of the data raises, naming
    the group through `key_at(row)`; with ``errors="nan"`` the live values are NaN at each bar the
    stream handle refuses (the handle goes on with the next bar) and the exact values are NaN for a
    failing group, and one UndefinedWarning names the groups affected.
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
    if exact:  # only the live loops round float64 prices themselves
        arguments = {parameter: batch._float32(array) for parameter, array in arguments.items()}
    bound = {**periods, **flags}
    refused = None
    try:
        result = batch._compute(spec.function, arguments, bound, offsets, live=not exact, short_as_nan=True)
    except Exception:  # noqa: BLE001 - redone group by group, to name the group or go on past it
        arguments = {parameter: batch._float32(array) for parameter, array in arguments.items()}
        result, refused = _by_group(name, spec.function, arguments, bound, offsets, exact, errors, key_at)
    if spec.function == "velk_cci":
        _check_cci(name, prices, result, offsets, periods["timeperiod"], refused, exact)
    return result


def _by_group(name, function, arguments, bound, offsets, exact, errors, key_at):
    """Values after the one-call pass failed; (values, mask of the bars NaN for a failure).

    The groups are halved until the failing ones stand alone (the others still go many per call), and
    those go group by group, in order: the first failing group raises, or with ``errors="nan"`` each
    gives NaN where it fails."""
    out = np.empty(offsets[-1], dtype=np.float32)
    refused = np.zeros(offsets[-1], dtype=bool)
    affected, failures = [], []

    def settle(first, stop):
        begin, end = int(offsets[first]), int(offsets[stop])
        if stop - first > 1:
            try:
                out[begin:end] = batch._compute(function, {p: a[begin:end] for p, a in arguments.items()}, bound,
                                                offsets[first:stop + 1] - begin, live=not exact, short_as_nan=True)
                return
            except Exception:  # noqa: BLE001 - some group in here fails: halve
                middle = (first + stop) // 2
                settle(first, middle)
                settle(middle, stop)
                return
        series = {parameter: array[begin:end] for parameter, array in arguments.items()}
        try:
            if not exact and errors == "nan":
                out[begin:end] = _live_past_refusals(function, series, bound, refused[begin:end])
            else:
                out[begin:end] = _group_values(function, series, bound, exact)
        except Exception as error:
            if not (errors == "nan" and isinstance(error, DATA_ERRORS)):
                if key_at is not None:
                    _name_group(error, key_at(begin))
                raise
            out[begin:end], refused[begin:end] = np.nan, True
            failures.append(error)
        if refused[begin:end].any():
            affected.append(first)

    groups = len(offsets) - 1
    halves = ((0, groups // 2), (groups // 2, groups)) if groups > 1 else ((0, groups),)
    for first, stop in halves:  # the whole range already failed in one call
        settle(first, stop)
    if affected:
        bars = int(refused.sum())
        _warn_undefined(name, affected, int(np.count_nonzero(np.diff(offsets))), bars, offsets, exact,
                        failures[0] if failures else None, key_at)
    return out, refused


def _group_values(function, series, bound, exact):
    try:
        return batch._series_values(function, {**series, **bound}, not exact)
    except IndexError:  # fewer bars than the warm-up needs
        if not exact:
            raise
        return np.full(len(next(iter(series.values()))), np.nan, dtype=np.float32)


def _live_past_refusals(function, series, bound, refused):
    """A stream handle's values over `series`, NaN at each bar it refuses (marked in `refused`);
    whole runs of bars go through update_many, halved only around a refused bar."""
    from velkized_ta import stream

    columns = list(series.values())
    total = len(columns[0])
    handle = getattr(stream, function)(**{p: a[:0] for p, a in series.items()},
                                       **{p: v for p, v in bound.items() if p != "n_values"})
    out = np.full(total, np.nan, dtype=np.float32)
    position, run = 0, total
    while position < total:
        end = min(total, position + run)
        try:
            out[position:end] = handle.update_many(*(c[position:end] for c in columns))
        except DATA_ERRORS:
            if end - position > 1:
                run = (end - position) // 2
                continue
            refused[position] = True
        position, run = end, max(run, 1) * 2
    return out


def _name_group(error, label):
    # In the message rather than a note: polars re-raises a UDF's error from its text alone.
    note = f"(in group {label})"
    if error.args and isinstance(error.args[0], str):
        error.args = (f"{error.args[0]} {note}",) + error.args[1:]
    elif sys.version_info >= (3, 11):
        error.add_note(note)


def _shown(groups, offsets, key_at, count=5):
    labels = [key_at(int(offsets[j])) if key_at is not None else f"series {j}" for j in groups[:count]]
    return ", ".join(labels) + (", ..." if len(groups) > count else "")


def _warn_undefined(name, affected, groups, bars, offsets, exact, first_error, key_at):
    where = f"{len(affected)} of {groups} groups ({_shown(affected, offsets, key_at)})" if key_at else "the series"
    if exact:
        message = (f"{name}(errors='nan'): the exact values failed in {where} and are NaN there "
                   f"(first error: {type(first_error).__name__}: {first_error})")
    else:
        message = (f"{name}(errors='nan'): the indicator is undefined at {bars} bars of {where} "
                   "(the stream handle refuses them); those bars are NaN and each handle went on "
                   "with the next bar")
    warn(message, UndefinedWarning)


def _check_cci(name, prices, values, offsets, period, refused, exact=False):
    """PrecisionWarning when CCI's float32 arithmetic failed on the prices given, told from up to
    CCI_SAMPLES positions spread over the series whose whole window has prices (refused bars left out):
    NaN (a variance rounded below zero) at more than CCI_NAN_SHARE of them, or values off float64 by
    more than CCI_SAMPLED_ERROR (median, relative to the median magnitude)."""
    total = len(values)
    if total < period:
        return
    rows = np.unique(np.linspace(period - 1, total - 1, min(CCI_SAMPLES, total)).astype(np.int64))
    starts = offsets[np.searchsorted(offsets, rows, side="right") - 1]
    rows = rows[rows - starts >= period - 1]
    if refused is not None:
        rows = rows[~refused[rows]]
    window = rows[:, None] + np.arange(1 - period, 1)
    high, low, close = (prices[role][window].astype(np.float32) for role in ("high", "low", "close"))
    typical = (high.astype(np.float64) + low + close) / 3
    rows, typical = rows[~np.isnan(typical).any(axis=1)], typical[~np.isnan(typical).any(axis=1)]
    if not len(rows):
        return
    sampled = values[rows]
    undefined = np.isnan(sampled)
    spread = typical.std(axis=1)
    kept = ~undefined & (spread > 0)
    error = 0.0
    if kept.any():
        reference = (typical[kept, -1] - typical[kept].mean(axis=1)) / (0.015 * spread[kept])
        scale = np.median(np.abs(reference))
        if scale > 0:
            error = float(np.median(np.abs(sampled[kept] - reference)) / scale)
    share = float(undefined.mean())
    if share > CCI_NAN_SHARE or error > CCI_SAMPLED_ERROR:
        warn(f"{name}(): float32 CCI failed on these prices: {share:.1%} of the values sampled are NaN "
             f"(a variance E[x^2] - mean^2 rounded below zero) and the others are {error:.0%} off float64 "
             "(median): the window's spread is tiny beside the price level (typical of intraday prices)"
             + (", or the full call's running sums drifted over a long history (the live values, without "
                "exact=True, sum each window afresh)" if exact else "")
             + ". Subtract a reference level from high, low and close first (CCI is unchanged by a shift of "
             "the prices); see the guide 'Exactness and precision'.", PrecisionWarning)
