"""polars front-end: the package's indicators as expressions.

    >>> import polars as pl
    >>> import velkized_ta.polars as vp
    >>> from velkized_ta.sample import sample_ohlc
    >>> bars = pl.DataFrame(sample_ohlc(300))
    >>> out = bars.with_columns(vp.rsi(pl.col("close"), 14), vp.willr(timeperiod=14))
    >>> out.columns[-2:], out.schema["rsi_14"]
    (['rsi_14', 'willr_14'], Float32)

Each function takes its price expressions first (defaulting to ``pl.col("close")``,
``pl.col("high")``, ``pl.col("low")``; column names are accepted too), then its periods, and
keyword-only ``exact`` (False: the live values a stream handle gives; True: the exact
function's values bit for bit) and ``nulls`` (True: positions without a value, the warm-up
among them, become null instead of NaN, following polars' missing-data convention). The result
is a Float32 expression named after the indicator and its periods; it works in ``select`` and
``with_columns``, in lazy frames and per group under ``.over("symbol")``. Prices are converted
to float32 (each price rounded once; null as NaN); temporal, text and other non-numeric columns
are refused with TypeError. A group shorter than the warm-up gives NaN (or null).

Failures of the data (a zero divisor, such as ADX on a flat symbol) raise; with ``by=`` the error
names the group (``(in group symbol='XYZ')``). Keyword-only ``errors="nan"`` keeps going instead:
with the live values each bar the stream handle refuses is NaN and the handle goes on with the
next; with ``exact=True`` a failing group is NaN; one :class:`UndefinedWarning` per call names the
groups affected (under ``.over`` polars calls once per group, so each failing group warns on its
own). A :class:`PrecisionWarning` says when CCI's float32 variance gave NaN on more than 0.1% of its
windows.
"""

import numpy as np
import polars as pl

from velkized_ta import _frontend
from velkized_ta._frontend import DEFAULT_COLUMNS, INDICATORS, PrecisionWarning, UndefinedWarning

__all__ = list(INDICATORS) + ["UndefinedWarning", "PrecisionWarning"]


def _as_expr(value, role):
    if value is None:
        return pl.col(DEFAULT_COLUMNS[role])
    if isinstance(value, str):
        return pl.col(value)
    if isinstance(value, pl.Expr):
        return value
    raise TypeError(f"argument '{role}' must be a polars expression or a column name, not {type(value).__name__}")


def _is_real(dtype):
    return dtype.is_numeric() or dtype in (pl.Boolean, pl.Null)


def _dense_codes(keys):
    """0 .. k-1 per distinct key (null a key of its own), with no empty code."""
    codes = keys.rank("dense").fill_null(0).to_numpy().astype(np.int64)
    return codes - codes.min() if len(codes) else codes


def _evaluate(name, roles, values, flags, exact, nulls, by_name, errors):
    grouped = by_name is not None

    def run(batch):
        if isinstance(batch, pl.Series) and batch.dtype == pl.Struct:
            columns = [batch.struct.field(f"_{i}") for i in range(len(roles))]
        else:
            columns = [batch]
        prices = {}
        for role, column in zip(roles, columns):
            if not _is_real(column.dtype):
                raise _frontend.price_error(name, role, column.name if column.name not in ("", "_0") else None,
                                            column.dtype)
            array = column.cast(pl.Float64).fill_null(np.nan).to_numpy() if column.dtype != pl.Float32 \
                else column.fill_null(np.nan).to_numpy()
            prices[role] = _frontend.as_float32(array, name, role)
        if grouped:
            keys = batch.struct.field("_by")
            offsets = None
            if len(keys) and keys.null_count() == 0:
                starts = (keys != keys.shift(1)).fill_null(True).arg_true().to_numpy()[1:]
                heads = keys.gather(np.concatenate(([0], starts)))
                offsets = _frontend.contiguous_offsets(starts, heads.n_unique() == len(heads), len(keys))
            # Only when the groups are not contiguous; a null key is a group of its own.
            codes = lambda: _dense_codes(keys)  # noqa: E731
            values_out = _frontend.compute_grouped(
                name, prices, values, flags, codes, exact=exact, offsets=offsets, errors=errors,
                key_at=lambda row: _frontend.key_label(by_name, keys[row]))
        else:
            values_out = _frontend.compute(name, prices, values, flags, exact=exact, errors=errors)
        result = pl.Series(values_out, dtype=pl.Float32)
        return result.fill_nan(None) if nulls else result

    return run


def _function(name):
    spec = INDICATORS[name]
    roles = [role for role, _ in spec.roles]

    def indicator(*args, by=None, exact=False, nulls=False, errors="raise", **keywords):
        positional = roles + list(spec.periods)
        if len(args) > len(positional):
            raise TypeError(f"{name}() takes at most {len(positional)} positional arguments ({len(args)} given)")
        given = dict(zip(positional, args))
        for key, value in keywords.items():
            if key in given:
                raise TypeError(f"{name}() got multiple values for argument '{key}'")
            if key not in positional and key not in spec.options:
                raise TypeError(f"{name}() got an unexpected keyword argument '{key}'")
            given[key] = value
        values, flags = _frontend.resolve(
            name, {k: v for k, v in given.items() if k in spec.periods},
            {k: v for k, v in given.items() if k in spec.options})
        _frontend.check_errors(name, errors)
        exprs = [_as_expr(given.get(role), role) for role in roles]
        by_name = None
        if by is not None:
            by_name = by if isinstance(by, str) else \
                (_as_expr(by, "by").meta.output_name(raise_if_undetermined=False) or "by")
        run = _evaluate(name, roles, values, flags, bool(exact), bool(nulls), by_name, errors)
        fields = [e.alias(f"_{i}") for i, e in enumerate(exprs)]
        if by is not None:
            fields.append(_as_expr(by, "by").alias("_by"))
        source = exprs[0] if len(fields) == 1 else pl.struct(fields)
        return source.map_batches(run, return_dtype=pl.Float32).alias(spec.label(name, values))

    inputs = ", ".join(f"{role}=pl.col('{DEFAULT_COLUMNS[role]}')" for role in roles)
    periods = ", ".join(f"{p}={v}" for p, v in spec.periods.items())
    indicator.__name__ = indicator.__qualname__ = name
    indicator.__doc__ = (
        f"{spec.summary[:1].upper()}{spec.summary[1:]} ({spec.function}) as a Float32 expression; units: "
        f"{spec.units}.\n\n"
        f"Parameters: {inputs}{', ' + periods if periods else ''}"
        + (f", {', '.join(f'{o}={v}' for o, v in spec.options.items())}" if spec.options else "")
        + "; keyword-only by=None (a column or expression whose groups are computed separately in\n"
        "one call, much faster than .over for many groups), exact=False (True: the exact function's\n"
        "values), nulls=False (True: NaN becomes null) and errors='raise' ('nan': a bar where the\n"
        "indicator is undefined is NaN, or with exact=True a failing group, and one UndefinedWarning\n"
        "names the groups). The first positions, before the warm-up is complete, have no value.\n\n"
        f"Example: ``frame.with_columns(vp.{name}({', '.join(str(v) for v in spec.periods.values())})"
        ".over('symbol'))``"
    )
    return indicator


for _name in INDICATORS:
    globals()[_name] = _function(_name)
del _name
