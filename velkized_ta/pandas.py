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
in float32 arithmetic; each price is rounded once); nullable NA becomes NaN. A series or group
shorter than the indicator's warm-up gives NaN.
"""

import numpy as np
import pandas as pd

from velkized_ta import _frontend
from velkized_ta._frontend import DEFAULT_COLUMNS, INDICATORS

__all__ = ["VelkFrameAccessor", "VelkSeriesAccessor"]


def _find_column(frame, name, role, given):
    if name in frame.columns:
        return name
    if not given:
        matches = [c for c in frame.columns if isinstance(c, str) and c.lower() == name.lower()]
        if len(matches) == 1:
            return matches[0]
    raise KeyError(f"no column '{name}' for the {role} prices (columns: {', '.join(map(str, frame.columns))}); "
                   f"name it with {role}=...")


def _group_keys(frame, by):
    if by in frame.columns:
        return frame[by]
    if by in (frame.index.names or []):
        return pd.Series(frame.index.get_level_values(by))
    raise KeyError(f"by='{by}' is neither a column nor an index level")


def _grouping(keys):
    """(offsets, None) when each group's rows are contiguous, else (None, integer codes)."""
    n = len(keys)
    if n == 0:
        return np.zeros(1, dtype=np.int64), None
    if isinstance(keys.dtype, np.dtype) and keys.dtype != object:
        values = keys.to_numpy()
        changes = values[1:] != values[:-1]
    else:  # extension arrays (arrow strings, categoricals) compare natively, not as Python objects
        keys = pd.Series(keys.array)
        changes = keys.ne(keys.shift()).to_numpy(dtype=bool, na_value=True)[1:]
    starts = np.flatnonzero(changes) + 1
    heads = pd.Series(keys.array if isinstance(keys, pd.Series) else keys).iloc[np.concatenate(([0], starts))]
    # NaN keys never compare equal, so they go through factorize, which groups them.
    if not heads.isna().any():
        offsets = _frontend.contiguous_offsets(starts, heads.is_unique, n)
        if offsets is not None:
            return offsets, None
    return None, pd.factorize(keys, use_na_sentinel=False)[0]


def _prices(values, name, role):
    if isinstance(values, pd.Series) and values.dtype.kind not in "fiub":
        values = values.to_numpy(dtype=np.float64, na_value=np.nan)
    return _frontend.as_float32(values, name, role)


def _run(name, frame, series, periods, options, by, exact, append, columns):
    spec = INDICATORS[name]
    values, flags = _frontend.resolve(name, periods, options)
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
            prices[role] = _prices(frame[column], name, role)
        grouping = None if by is None else _grouping(_group_keys(frame, by))
    if grouping is None:
        result = _frontend.compute(name, prices, values, flags, exact=exact)
    else:
        offsets, codes = grouping
        result = _frontend.compute_grouped(name, prices, values, flags, codes, exact=exact, offsets=offsets)
    label = spec.label(name, values)
    out = pd.Series(result, index=index, name=label)
    if append:
        if frame is None:
            raise TypeError(f"{name}(append=True) needs a DataFrame")
        return frame.assign(**{label: out})
    return out


def _method(name):
    spec = INDICATORS[name]
    period_names = list(spec.periods)

    def method(self, *periods, by=None, exact=False, append=False, **keywords):
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
        return _run(name, self._frame, self._series, given, options, by, exact, append, columns)

    defaults = ", ".join(f"{p}={v}" for p, v in spec.periods.items())
    roles = ", ".join(f"{role}='{DEFAULT_COLUMNS[role]}'" for role, _ in spec.roles)
    method.__name__ = method.__qualname__ = name
    method.__doc__ = (
        f"{spec.summary[:1].upper()}{spec.summary[1:]} ({spec.function}); units: {spec.units}.\n\n"
        f"Parameters: {defaults or 'no periods'}"
        + (f", {', '.join(f'{o}={v}' for o, v in spec.options.items())}" if spec.options else "")
        + f"; price columns {roles}; by=None (a column or index level to group by); exact=False\n"
        "(True: the exact function's values); append=False (True: return the frame with the result added).\n"
        "The first positions, before the warm-up is complete, are NaN; a group shorter than the warm-up\n"
        "is NaN throughout.\n\n"
        f"Returns a float32 Series aligned to the frame's index, named '{spec.label(name, spec.periods)}' "
        "for the default periods.\n\n"
        f"Example: ``bars.velk.{name}({', '.join(str(v) for v in spec.periods.values())})``"
    )
    return method


class _Accessor:
    def __init__(self, obj):
        self._frame = obj if isinstance(obj, pd.DataFrame) else None
        self._series = obj if isinstance(obj, pd.Series) else None


for _name in INDICATORS:
    setattr(_Accessor, _name, _method(_name))
del _name


@pd.api.extensions.register_dataframe_accessor("velk")
class VelkFrameAccessor(_Accessor):
    """``frame.velk.<indicator>(...)``: the package's indicators over a frame of bars."""


@pd.api.extensions.register_series_accessor("velk")
class VelkSeriesAccessor(_Accessor):
    """``series.velk.<indicator>(...)``: indicators that need one price series (close)."""
