"""pandas front-end: ``import velkized_ta.pandas`` registers the ``velk`` accessor.

    >>> import pandas as pd
    >>> import velkized_ta.pandas  # noqa: F401  (registers the accessor)
    >>> from velkized_ta.sample import sample_ohlc
    >>> bars = pd.DataFrame(sample_ohlc(300))
    >>> bars.velk.rsi(14).name
    'rsi_14'
    >>> bars.velk.macd(12, 26).iloc[-1] == bars["close"].velk.macd(12, 26).iloc[-1]
    True

Every indicator of the package is a method with its short name (``rsi``, ``willr``, ``macd``
...): periods first, then price columns by keyword (``close=``, ``high=``, ``low=``; they default
to the frame's ``close``/``high``/``low`` columns, matched case-insensitively), ``by=`` (a column
or index level: every group computed on its own, in one batch call, results in the frame's
order), ``append=True`` (return the frame with the result as a new column) and ``exact=True``.

Values: by default the live values, what a stream handle gives bar by bar (equal to the exact
function's wherever the handle follows the full call; for the windowed indicators whose float32
running sums drift on long histories, the trailing window's value). ``exact=True`` returns the
exact function's values bit for bit. Prices are converted to float32 (the indicators are defined
in float32 arithmetic; each price is rounded once); nullable NA (booleans too) becomes NaN;
datetime, timedelta, text and complex columns are refused with TypeError. A series or group
shorter than the indicator's warm-up gives NaN.

Failures of the data (a zero divisor, such as ADX on a flat or back-filled symbol) raise with the
group named (``(in group symbol='XYZ')``). ``errors="nan"`` keeps going instead: with the live values
each bar the stream handle refuses is NaN and the handle goes on with the next; with ``exact=True``
a failing group is NaN. One :class:`UndefinedWarning` names the groups affected. A
:class:`PrecisionWarning` says when CCI's float32 arithmetic failed (NaN at more than 1% of up to
1,024 sampled windows, or the others more than 5% off float64), and a :class:`RowOrderWarning` when a
group's datetime index goes back in time.

The classic (textbook, float64) indicators are methods of ``.velk.classic``, one per entry of
``velkized_ta.classic.REGISTRY``: ``bars.velk.classic.bbands(20, 2.0, 2.0, by="symbol")``. Parameters
as the classic function takes them, input columns by the registry's input names (overridable by
keyword), ``by=``, ``append=`` and ``errors=`` as above; the values are the classic function's bit
for bit (groups through ``velkized_ta.classic.batch``), a float64 Series or, for several outputs, a
DataFrame, named as ``velkized_ta._classic_frontend`` describes (``macd_signal_12_26_9``).
"""

import warnings

import numpy as np
import pandas as pd

from velkized_ta import _classic_frontend, _frontend, _many
from velkized_ta.classic import REGISTRY as _CLASSIC_REGISTRY
from velkized_ta._frontend import DEFAULT_COLUMNS, INDICATORS, PrecisionWarning, RowOrderWarning, UndefinedWarning

__all__ = ["VelkFrameAccessor", "VelkSeriesAccessor", "VelkClassicAccessor", "UndefinedWarning", "PrecisionWarning",
           "RowOrderWarning"]


def _find_column(frame, name, role, given):
    if name in frame.columns:
        count = int((frame.columns == name).sum())
        if count > 1:
            raise ValueError(f"column {name!r} for the {role} prices appears {count} times in the frame; "
                             "rename or drop the duplicates")
        return name
    if not given:
        matches = [c for c in frame.columns if isinstance(c, str) and c.lower() == name.lower()]
        if len(matches) == 1:
            return matches[0]
        if len(matches) > 1:
            raise ValueError(f"columns {', '.join(map(repr, matches))} all match {name!r} for the {role} prices; "
                             f"name one with {role}=...")
    raise KeyError(f"no column '{name}' for the {role} prices (columns: {', '.join(map(str, frame.columns))}); "
                   f"name it with {role}=...")


def _group_keys(frame, by):
    if by in frame.columns:
        count = int((frame.columns == by).sum())
        if count > 1:
            raise ValueError(f"by={by!r} names {count} columns of the frame; rename or drop the duplicates")
        return frame[by]
    if by in (frame.index.names or []):
        return pd.Series(frame.index.get_level_values(by))
    raise KeyError(f"by='{by}' is neither a column nor an index level")


def _grouping(keys):
    """(offsets, None) when each group's rows are contiguous, else (None, integer codes)."""
    n = len(keys)
    if n == 0:
        return np.zeros(1, dtype=np.int64), None
    if isinstance(keys.dtype, pd.CategoricalDtype):
        values = keys.cat.codes.to_numpy()  # one code per category, -1 for NaN
    else:
        values = keys.to_numpy() if isinstance(keys.dtype, np.dtype) else None
    if values is not None and values.dtype.kind in "iubmM":
        # Equal in value is equal in bytes for these (NaT runs reach the heads, and factorize).
        starts = np.frombuffer(_many.run_starts(values), dtype=np.int64)
    elif values is not None and values.dtype != object:
        starts = np.flatnonzero(values[1:] != values[:-1]) + 1
    else:  # extension arrays (arrow strings) and objects compare natively, not as Python objects
        keys = pd.Series(keys.array)
        starts = np.flatnonzero(keys.ne(keys.shift()).to_numpy(dtype=bool, na_value=True)[1:]) + 1
    # The heads are taken before wrapping: pandas copies what a Series is built on.
    heads = pd.Series((keys.array if isinstance(keys, pd.Series) else keys)[np.concatenate(([0], starts))])
    # NaN keys never compare equal, so they go through factorize, which groups them.
    if not heads.isna().any():
        offsets = _frontend.contiguous_offsets(starts, heads.is_unique, n)
        if offsets is not None:
            return offsets, None
    return None, pd.factorize(keys, use_na_sentinel=False)[0]


def _is_real(dtype):
    if pd.api.types.is_complex_dtype(dtype):
        return False
    return pd.api.types.is_bool_dtype(dtype) or (
        pd.api.types.is_numeric_dtype(dtype) and not pd.api.types.is_timedelta64_dtype(dtype))


def _prices(values, name, role, column=None, convert=_frontend.as_prices):
    if isinstance(values, pd.Series):
        dtype = values.dtype
        if dtype == object:
            kind = pd.api.types.infer_dtype(values, skipna=True)
            if kind not in ("floating", "integer", "mixed-integer-float", "boolean", "decimal", "empty"):
                raise _frontend.price_error(name, role, column, f"object (holding {kind} values)")
        elif not _is_real(dtype):
            raise _frontend.price_error(name, role, column, dtype)
        if not isinstance(dtype, np.dtype) or dtype == object:  # nullable, arrow and object: NA as NaN
            values = values.to_numpy(dtype=np.float64, na_value=np.nan)
    return convert(values, name, role)


def _time_index(frame):
    """The frame's datetime index (or the first datetime level of a MultiIndex) as int64, or None."""
    index = frame.index
    levels = [index] if not isinstance(index, pd.MultiIndex) else \
        [index.get_level_values(i) for i in range(index.nlevels)]
    for level in levels:
        if pd.api.types.is_datetime64_any_dtype(level.dtype):
            return level.asi8 if hasattr(level, "asi8") else pd.DatetimeIndex(level).asi8
    return None


def _check_time_order(name, frame, grouping, key_at):
    """RowOrderWarning naming the groups whose datetime index goes back in time."""
    times = _time_index(frame)
    if times is None or len(times) < 2:
        return
    offsets, codes = grouping if grouping is not None else (np.array([0, len(times)]), None)
    order = None
    if offsets is None:
        order, offsets = _frontend.group_order(codes)
        times = times[order]
    nat = np.iinfo(np.int64).min
    step_back = (times[1:] < times[:-1]) & (times[1:] != nat) & (times[:-1] != nat)
    step_back[offsets[1:-1] - 1] = False  # the step from one group to the next
    if not step_back.any():
        return
    groups = np.unique(np.searchsorted(offsets, np.flatnonzero(step_back) + 1, side="right") - 1)
    if key_at is None:
        where = "the frame's datetime index"
    else:
        rows = offsets[groups] if order is None else order[offsets[groups]]
        shown = ", ".join(key_at(int(row)) for row in rows[:5]) + (", ..." if len(groups) > 5 else "")
        where = f"the datetime index of {len(groups)} of {len(offsets) - 1} groups ({shown})"
    _frontend.warn(f"{name}(): {where} goes back in time; the rows are taken in the frame's order, "
                   "not sorted by time (sort the frame first if that is not what you meant)",
                   _frontend.RowOrderWarning)


def _run(name, frame, series, periods, options, by, exact, append, columns, errors):
    spec = INDICATORS[name]
    values, flags = _frontend.resolve(name, periods, options)
    _frontend.check_errors(name, errors)
    label = spec.label(name, values)
    if append:
        if frame is None:
            raise TypeError(f"{name}(append=True) needs a DataFrame")
        if label in frame.columns:
            raise ValueError(f"{name}(append=True): the frame already has a column {label!r}; "
                             "drop it first, or assign the returned Series yourself to replace it")
    key_at = None
    if series is not None:
        if len(spec.roles) > 1 and not all(role == "close" for role, _ in spec.roles):
            raise TypeError(f"{name}() needs several price series; call it on a DataFrame")
        index = series.index
        prices = {role: _prices(series, name, role) for role, _ in spec.roles}
        grouping = None
    else:
        index = frame.index
        prices = {}
        for role, _ in spec.roles:
            column = _find_column(frame, columns.get(role) or DEFAULT_COLUMNS[role], role, role in columns)
            prices[role] = _prices(frame[column], name, role, column)
        grouping = None
        if by is not None:
            keys = _group_keys(frame, by)
            grouping = _grouping(keys)
            key_at = lambda row: _frontend.key_label(by, keys.iloc[row])  # noqa: E731
        _check_time_order(name, frame, grouping, key_at)
    if grouping is None:
        result = _frontend.compute(name, prices, values, flags, exact=exact, errors=errors)
    else:
        offsets, codes = grouping
        result = _frontend.compute_grouped(name, prices, values, flags, codes, exact=exact, offsets=offsets,
                                           errors=errors, key_at=key_at)
    out = pd.Series(result, index=index, name=label, copy=False)  # the values are this call's own
    if append:
        return frame.assign(**{label: out})
    return out


def _method(name):
    spec = INDICATORS[name]
    period_names = list(spec.periods)

    def method(self, *periods, by=None, exact=False, append=False, errors="raise", **keywords):
        if len(periods) > len(period_names):
            raise TypeError(f"{name}() takes at most {len(period_names)} periods ({len(periods)} given)")
        given = dict(zip(period_names, periods))
        columns = {}
        options = {}
        for key, value in keywords.items():
            if key in spec.periods:
                if key in given:
                    raise TypeError(f"{name}() got multiple values for argument '{key}'")
                given[key] = value
            elif key in spec.options:
                options[key] = value
            elif any(key == role for role, _ in spec.roles):
                columns[key] = value
            else:
                raise TypeError(f"{name}() got an unexpected keyword argument '{key}'")
        if self._series is not None and (by is not None or columns):
            raise TypeError(f"{name}() on a Series takes no columns and no by=; call it on a DataFrame")
        return _run(name, self._frame, self._series, given, options, by, exact, append, columns, errors)

    defaults = ", ".join(f"{p}={v}" for p, v in spec.periods.items())
    roles = ", ".join(f"{role}='{DEFAULT_COLUMNS[role]}'" for role, _ in spec.roles)
    method.__name__ = method.__qualname__ = name
    method.__doc__ = (
        f"{spec.summary[:1].upper()}{spec.summary[1:]} ({spec.function}); units: {spec.units}.\n\n"
        f"Parameters: {defaults or 'no periods'}"
        + (f", {', '.join(f'{o}={v}' for o, v in spec.options.items())}" if spec.options else "")
        + f"; price columns {roles}; by=None (a column or index level to group by); exact=False\n"
        "(True: the exact function's values); append=False (True: return the frame with the result added;\n"
        "a column of that name already there is refused); errors='raise' ('nan': a bar where the\n"
        "indicator is undefined is NaN, or with exact=True a failing group, and one UndefinedWarning\n"
        "names the groups). Errors name the group (symbol='XYZ'). The first positions, before the\n"
        "warm-up is complete, are NaN; a group shorter than the warm-up is NaN throughout.\n\n"
        f"Returns a float32 Series aligned to the frame's index, named '{spec.label(name, spec.periods)}' "
        "for the default periods.\n\n"
        f"Example: ``bars.velk.{name}({', '.join(str(v) for v in spec.periods.values())})``"
    )
    return method


def _run_classic(entry, owner, params, columns, by, append, errors):
    name = entry["name"]
    params = _classic_frontend.bind(entry, params, {})
    _frontend.check_errors(name, errors)
    whole, labels = _classic_frontend.labels(entry, params)
    frame, series = owner._frame, owner._series
    given = {key: value for key, value in columns.items() if value is not None}
    if series is not None and (by is not None or given):
        raise TypeError(f"{name}() on a Series takes no columns and no by=; call it on a DataFrame")
    if append:
        if frame is None:
            raise TypeError(f"{name}(append=True) needs a DataFrame")
        taken = [label for label in labels if label in frame.columns]
        if taken:
            raise ValueError(f"{name}(append=True): the frame already has the column(s) {', '.join(map(repr, taken))}; "
                             "drop them first, or assign the returned result yourself to replace them")
    to_float64 = _classic_frontend.as_float64
    key_at, grouping = None, None
    if series is not None:
        if len(entry["inputs"]) > 1:
            raise TypeError(f"{name}() needs the series {', '.join(entry['inputs'])}; call it on a DataFrame")
        index = series.index
        arrays = [_prices(series, name, entry["inputs"][0], convert=to_float64)]
    else:
        index = frame.index
        arrays = []
        for role in entry["inputs"]:
            if role in entry["optional_inputs"]:
                arrays.append(_session_labels(frame, columns[role], name, role))
                continue
            column = _find_column(frame, given.get(role, role), role, role in given)
            arrays.append(_prices(frame[column], name, role, column, convert=to_float64))
        if by is not None:
            keys = _group_keys(frame, by)
            grouping = _grouping(keys)
            key_at = lambda row: _frontend.key_label(by, keys.iloc[row])  # noqa: E731
        _check_time_order(name, frame, grouping, key_at)
    if grouping is None:
        outputs = _classic_frontend.compute(entry, arrays, params)
    else:
        offsets, codes = grouping
        outputs = _classic_frontend.compute_grouped(entry, arrays, params, codes, offsets, errors, key_at)
    if len(outputs) == 1:
        result = pd.Series(outputs[0], index=index, name=whole)
    else:
        result = pd.DataFrame(dict(zip(labels, outputs)), index=index)
    if append:
        return frame.assign(**({whole: result} if len(outputs) == 1 else {c: result[c] for c in labels}))
    return result


def _datetime_index(index):
    """The frame's DatetimeIndex, or its one datetime level of a MultiIndex; else None."""
    if isinstance(index, pd.DatetimeIndex):
        return index
    if isinstance(index, pd.MultiIndex):
        dated = [index.get_level_values(i) for i in range(index.nlevels)]
        dated = [level for level in dated if isinstance(level, pd.DatetimeIndex)]
        if len(dated) == 1:
            return dated[0]
    return None


def _period_labels(dated, alias, name, argument):
    """A label per row: the pandas period (alias "D", "W", "M", ...) holding its time."""
    if dated is None:
        raise TypeError(f"{name}() argument '{argument}'={alias!r} is no column of the frame, and a period "
                        "alias needs a DatetimeIndex")
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # an alias pandas has renamed still works
            periods = (dated.tz_localize(None) if dated.tz is not None else dated).to_period(alias)
    except (TypeError, ValueError, AttributeError) as error:
        raise ValueError(f"{name}() argument '{argument}'={alias!r} is no column of the frame and no "
                         f"pandas period alias ({error})") from None
    labels = periods.asi8.astype(np.float64)  # the period's ordinal: days, weeks, ... since 1970
    labels[np.asarray(periods.isna())] = np.nan  # NaT: no session, the bar is skipped
    return labels


def _session_labels(frame, anchor, name, argument):
    """A session label per row for an optional (anchor) input, or None for one session.

    None: a session per calendar day of a DatetimeIndex (local time of a zoned one), one session
    otherwise; a column name; a pandas period alias ("D", "W", "M", "h", ...) over the
    DatetimeIndex; or labels per row (array or Series, by position): real numbers as they are,
    anything else (text, dates) as codes."""
    dated = _datetime_index(frame.index)
    if anchor is None:
        return None if dated is None else _period_labels(dated, "D", name, argument)
    if isinstance(anchor, str):
        if anchor not in frame.columns:
            return _period_labels(dated, anchor, name, argument)
        anchor = frame[anchor]
    values = anchor.to_numpy() if isinstance(anchor, (pd.Series, pd.Index)) else np.asarray(anchor)
    if values.ndim != 1 or len(values) != len(frame):
        raise ValueError(f"{name}() argument '{argument}' must hold one label per row ({len(frame)}), "
                         f"got shape {values.shape}")
    if values.dtype.kind in "iufb":
        return np.ascontiguousarray(values, dtype=np.float64)
    codes = pd.factorize(values)[0].astype(np.float64)  # text, dates, ...: equal labels, equal codes
    codes[codes < 0] = np.nan  # a missing label: the bar is skipped
    return codes


def _classic_method(entry):
    """`owner.velk.classic.<name>(params..., *, <input>=column, by, append, errors)`, a generated def."""
    name = entry["name"]
    inputs = list(entry["inputs"])
    signature = _classic_frontend.signature_text(
        entry, ["self"], [], [f"{i}=None" for i in inputs] + ["by=None", "append=False", "errors='raise'"])
    params = "".join(f"{p['name']}, " for p in entry["params"])
    columns = ", ".join(f"{i!r}: {i}" for i in inputs)
    source = (f"def {name}({signature}):\n"
              f"    return _run(_entry, self, ({params}), {{{columns}}}, by, append, errors)\n")
    namespace = {"_run": _run_classic, "_entry": entry}
    exec(source, namespace)  # a real def: its signature and argument errors are Python's own
    method = namespace[name]
    method.__qualname__ = f"VelkClassicAccessor.{name}"
    method.__module__ = __name__
    whole, labels = _classic_frontend.labels(entry, [p["default"] for p in entry["params"]])
    returns = (f"a float64 Series named '{whole}'" if len(labels) == 1 else
               "a float64 DataFrame with the columns " + ", ".join(f"'{label}'" for label in labels))
    method.__doc__ = (
        f"{entry['summary']}\n\n"
        f"The values of velkized_ta.classic.{name} (bit for bit), aligned to the index.\n\n"
        f"Parameters:\n{_classic_frontend.parameter_doc(entry)}\n"
        f"Keyword-only: the input columns {', '.join(f'{i}={i!r}' for i in inputs)} (matched case-insensitively;\n"
        "a Series is itself the one input); by=None (a column or index level: each group computed on its\n"
        "own, in one batch call on the usable cores, results in the frame's order); append=False (True:\n"
        "return the frame with the result's columns added; columns of those names already there are\n"
        "refused); errors='raise' ('nan': a failing group is NaN and one UndefinedWarning names it).\n\n"
        + "".join(f"{role}=None: session labels, a change of label starting a new session: None for a session\n"
                  "per calendar day of a DatetimeIndex (one session otherwise), a column name, a pandas period\n"
                  "alias ('D', 'W', 'M', 'h', ...) over the DatetimeIndex, or labels per row.\n\n"
                  for role in entry["optional_inputs"]) +
        f"Returns {returns} with the default parameters (names: indicator, output, parameter values).\n\n"
        f"Example: ``bars.velk.classic.{name}({', '.join(repr(p['default']) for p in entry['params'])})``"
    )
    return method


class VelkClassicAccessor:
    """``obj.velk.classic.<name>(...)``: the classic (textbook, float64) indicators over a frame or series.

    One method per entry of ``velkized_ta.classic.REGISTRY``; names and values as the classic functions."""

    def __init__(self, frame, series):
        self._frame = frame
        self._series = series


for _entry in _CLASSIC_REGISTRY:
    setattr(VelkClassicAccessor, _entry["name"], _classic_method(_entry))
del _entry


class _Accessor:
    def __init__(self, obj):
        self._frame = obj if isinstance(obj, pd.DataFrame) else None
        self._series = obj if isinstance(obj, pd.Series) else None

    @property
    def classic(self):
        """The classic (textbook, float64) indicators: ``obj.velk.classic.<name>(...)``."""
        return VelkClassicAccessor(self._frame, self._series)


for _name in INDICATORS:
    setattr(_Accessor, _name, _method(_name))
del _name


@pd.api.extensions.register_dataframe_accessor("velk")
class VelkFrameAccessor(_Accessor):
    """``frame.velk.<indicator>(...)``: the package's indicators over a frame of bars."""


@pd.api.extensions.register_series_accessor("velk")
class VelkSeriesAccessor(_Accessor):
    """``series.velk.<indicator>(...)``: indicators that need one price series (close)."""
