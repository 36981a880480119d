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
own). A :class:`PrecisionWarning` says when CCI's float32 arithmetic failed (NaN at more than 1% of
up to 1,024 sampled windows, or the others more than 5% off float64).

The classic (textbook, float64) indicators are under ``vp.classic``, one function per entry of
``velkized_ta.classic.REGISTRY``: ``vp.classic.bbands(pl.col("close"), 20, 2.0, 2.0, by="symbol")``.
Input expressions first (defaulting to ``pl.col(<input name>)``), then the parameters as the
classic function takes them, keyword-only ``by``, ``nulls`` and ``errors``; a Float64 expression,
or a struct of Float64 fields for several outputs, with the classic function's values bit for bit.
"""

import numpy as np
import polars as pl

from velkized_ta import _classic_frontend, _frontend
from velkized_ta.classic import REGISTRY as _CLASSIC_REGISTRY
from velkized_ta._frontend import DEFAULT_COLUMNS, INDICATORS, PrecisionWarning, UndefinedWarning

__all__ = list(INDICATORS) + ["classic", "UndefinedWarning", "PrecisionWarning"]


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
    """0 .. k-1 per distinct key in the order keys first appear (null a key of its own), as pandas'
    factorize numbers them: both front-ends take, and name, the groups in the same order."""
    if not len(keys):
        return np.zeros(0, dtype=np.int64)
    ranks = keys.rank("dense").fill_null(0).to_numpy().astype(np.int64)
    first = keys.is_first_distinct().to_numpy()
    appearance = np.zeros(ranks.max() + 1, dtype=np.int64)
    appearance[ranks[first]] = np.arange(int(first.sum()))
    return appearance[ranks]


def _evaluate(name, roles, values, flags, exact, nulls, by_name, errors, columns_named):
    grouped = by_name is not None

    def run(batch):
        if isinstance(batch, pl.Series) and batch.dtype == pl.Struct:
            columns = [batch.struct.field(f"_{i}") for i in range(len(roles))]
        else:
            columns = [batch]
        prices = {}
        for role, column in zip(roles, columns):
            if not _is_real(column.dtype):
                raise _frontend.price_error(name, role, columns_named.get(role), column.dtype)
            array = column.cast(pl.Float64).fill_null(np.nan).to_numpy() if column.dtype != pl.Float32 \
                else column.fill_null(np.nan).to_numpy()
            prices[role] = _frontend.as_prices(array, name, role)
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
        columns_named = {role: expr.meta.output_name(raise_if_undetermined=False) for role, expr in zip(roles, exprs)}
        run = _evaluate(name, roles, values, flags, bool(exact), bool(nulls), by_name, errors, columns_named)
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


def _classic_evaluate(entry, params, nulls, by_name, errors, dtype, present):
    name = entry["name"]
    inputs = entry["inputs"]
    fields = dtype.fields if len(entry["outputs"]) > 1 else None

    def run(batch):
        if isinstance(batch, pl.Series) and batch.dtype == pl.Struct:
            columns = [batch.struct.field(f"_{i}") if i in present else None for i in range(len(inputs))]
        else:
            columns = [batch] + [None] * (len(inputs) - 1)
        arrays = []
        for role, column in zip(inputs, columns):
            if column is None:  # an optional input left out
                arrays.append(None)
                continue
            if role in entry["optional_inputs"] and not _is_real(column.dtype):  # labels as codes
                arrays.append(column.rank("dense").cast(pl.Float64).fill_null(np.nan).to_numpy())
                continue
            if not _is_real(column.dtype):
                raise _frontend.price_error(name, role, column.name if column.name not in ("", "_0") else None,
                                            column.dtype)
            arrays.append(_classic_frontend.as_float64(column.cast(pl.Float64).fill_null(np.nan).to_numpy(),
                                                       name, role))
        if by_name is not None:
            keys = batch.struct.field("_by")
            offsets = None
            if len(keys) and keys.null_count() == 0:
                starts = (keys != keys.shift(1)).fill_null(True).arg_true().to_numpy()[1:]
                heads = keys.gather(np.concatenate(([0], starts)))
                offsets = _frontend.contiguous_offsets(starts, heads.n_unique() == len(heads), len(keys))
            outputs = _classic_frontend.compute_grouped(
                entry, arrays, params, lambda: _dense_codes(keys), offsets, errors,
                lambda row: _frontend.key_label(by_name, keys[row]))
        else:
            outputs = _classic_frontend.compute(entry, arrays, params)
        series = [pl.Series(field.name if fields else "", values, dtype=pl.Float64)
                  for field, values in zip(fields or [None], outputs)]
        if nulls:
            series = [s.fill_nan(None) for s in series]
        return series[0] if fields is None else pl.struct(series, eager=True)

    return run


def _classic_expression(entry, args):
    """The expression of `vp.classic.<name>(...)`; `args` maps each argument to its value."""
    name = entry["name"]
    params = _classic_frontend.bind(entry, [args[p["name"]] for p in entry["params"]], {})
    _frontend.check_errors(name, args["errors"])
    whole, labels = _classic_frontend.labels(entry, params)
    dtype = pl.Float64 if len(labels) == 1 else pl.Struct({label: pl.Float64 for label in labels})
    # An optional input left out (None) is no column: it reads 0 on every bar.
    present = [i for i, role in enumerate(entry["inputs"])
               if args[role] is not None or role not in entry["optional_inputs"]]
    exprs = {i: pl.col(role) if args[role] is None else _as_expr(args[role], role)
             for i, role in enumerate(entry["inputs"]) if i in present}
    by = args["by"]
    by_name = None
    if by is not None:
        by_name = by if isinstance(by, str) else \
            (_as_expr(by, "by").meta.output_name(raise_if_undetermined=False) or "by")
    run = _classic_evaluate(entry, params, bool(args["nulls"]), by_name, args["errors"], dtype, present)
    fields = [e.alias(f"_{i}") for i, e in exprs.items()]
    if by is not None:
        fields.append(_as_expr(by, "by").alias("_by"))
    source = exprs[0] if len(fields) == 1 else pl.struct(fields)
    return source.map_batches(run, return_dtype=dtype).alias(whole)


def _classic_function(entry):
    """`vp.classic.<name>(inputs..., params..., *, by, nulls, errors)`, a generated def."""
    name = entry["name"]
    inputs = list(entry["inputs"])
    signature = _classic_frontend.signature_text(entry, [], [f"{i}=None" for i in inputs],
                                                 ["by=None", "nulls=False", "errors='raise'"])
    names = inputs + [p["name"] for p in entry["params"]] + ["by", "nulls", "errors"]
    source = (f"def {name}({signature}):\n"
              f"    return _expression(_entry, {{{', '.join(f'{n!r}: {n}' for n in names)}}})\n")
    namespace = {"_expression": _classic_expression, "_entry": entry}
    exec(source, namespace)  # a real def: its signature and argument errors are Python's own
    function = namespace[name]
    function.__qualname__ = f"classic.{name}"
    function.__module__ = __name__
    whole, labels = _classic_frontend.labels(entry, [p["default"] for p in entry["params"]])
    returns = ("a Float64 expression" if len(labels) == 1 else
               "a struct expression with the Float64 fields " + ", ".join(f"'{label}'" for label in labels))
    function.__doc__ = (
        f"{entry['summary']}\n\n"
        f"The values of velkized_ta.classic.{name} (bit for bit) as a polars expression.\n\n"
        f"Inputs (expressions or column names): "
        f"{', '.join(f'{i}=pl.col({i!r})' for i in inputs if i not in entry['optional_inputs'])}.\n"
        + "".join(f"{i}=None: session labels (an expression or column name; a change of label starts a new\n"
                  "session; labels that are not numbers become codes); None: one session.\n"
                  for i in entry["optional_inputs"]) +
        f"Parameters:\n{_classic_frontend.parameter_doc(entry)}\n"
        "Keyword-only: by=None (a column or expression whose groups are computed separately in one\n"
        "batch call on the usable cores, much faster than .over for many groups), nulls=False (True:\n"
        "NaN becomes null), errors='raise' ('nan': a failing group is NaN and one UndefinedWarning\n"
        "names it). Works in select and with_columns, lazy frames and per group under .over.\n\n"
        f"Returns {returns}, named '{whole}' with the default parameters (names: indicator, output,\n"
        "parameter values; ``.struct.unnest()`` gives one column per output).\n\n"
        f"Example: ``frame.with_columns(vp.classic.{name}("
        f"{', '.join(repr(p['default']) for p in entry['params'])}).over('symbol'))``"
    )
    return function


class _ClassicNamespace:
    """``vp.classic.<name>(...)``: the classic (textbook, float64) indicators as polars expressions,
    one per entry of ``velkized_ta.classic.REGISTRY``; names and values as the classic functions."""

    def __dir__(self):
        return [entry["name"] for entry in _CLASSIC_REGISTRY]

    def __reduce__(self):
        return "classic"


classic = _ClassicNamespace()
for _entry in _CLASSIC_REGISTRY:
    setattr(classic, _entry["name"], _classic_function(_entry))
del _entry
