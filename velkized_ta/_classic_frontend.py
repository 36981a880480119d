"""What the pandas and polars front-ends of the classic indicators share: names, binding, grouping.

Everything here is read from the classic registry (``velkized_ta.classic.REGISTRY``), so a new
registry entry gets its pandas method and polars expression without an edit. Values are the
classic function's: one series through the function, groups through
``velkized_ta.classic.batch`` with offsets (each group from a fresh state, the same bits).

An optional input (``vwap``'s ``anchor``) is a label per bar, a change of label starting a new
session; left out it is None here and reads 0 on every bar. Each front-end derives it from what
its users hold (pandas: a DatetimeIndex, a period alias or a column; polars: an expression);
labels that are not real numbers become codes (equal labels, equal codes).

Result names: the indicator's name, then (for indicators with several outputs) the output's
name, then every parameter's value in registry order, joined by ``_``. An output named after its
indicator is shortened by that prefix (``macdsignal`` of ``macd`` is ``signal``; ``macd`` itself
drops out), and a float parameter is written in its shortest form (``2.0`` as ``2``, ``0.7`` as
``0.7``): ``sma_30``, ``bbands_upperband_5_2_2_0``, ``macd_12_26_9``, ``macd_signal_12_26_9``.
"""

import numpy as np

from velkized_ta import _classic, _frontend
from velkized_ta import classic as _functions
from velkized_ta.classic import INDEX, REGISTRY
from velkized_ta.classic import batch as _batch

# Keywords the front-ends take besides an indicator's inputs and parameters.
RESERVED = frozenset({"self", "by", "append", "errors", "nulls"})

for _entry in REGISTRY:
    _clash = RESERVED & (set(_entry["inputs"]) | {p["name"] for p in _entry["params"]})
    if _clash:  # the registry must not shadow a front-end keyword
        raise ImportError(f"classic indicator {_entry['name']!r} uses the front-end keywords {sorted(_clash)}")
del _entry, _clash


def format_value(value):
    """A parameter value as it appears in a result name: integers plain, floats in shortest form."""
    if isinstance(value, float):
        if value.is_integer() and abs(value) < 1e15:
            return str(int(value))
        return repr(value)
    return str(value)


def output_part(entry, output):
    """The output's part of a column name: its name, less a leading indicator name."""
    name = entry["name"]
    if output == name:
        return ""
    if output.startswith(name) and len(output) > len(name):
        return output[len(name):].lstrip("_")
    return output


def labels(entry, params):
    """(name of the whole result, names of each output) for parameters `params` in registry order."""
    values = [format_value(v) for v in params]
    whole = "_".join([entry["name"]] + values)
    if len(entry["outputs"]) == 1:
        return whole, [whole]
    columns = ["_".join([entry["name"]] + [p for p in [output_part(entry, o)] if p] + values)
               for o in entry["outputs"]]
    return whole, columns


def bind(entry, args, kwargs):
    """Parameters in registry order, defaults filled in, checked (ValueError/TypeError naming the
    argument and range) before any data is read."""
    params = _functions.bound_params(entry, args, kwargs)
    _classic.lookback(INDEX[entry["name"]], params)
    return tuple(int(v) if spec["kind"] == "int" else float(v) for v, spec in zip(params, entry["params"]))


def as_float64(values, name, argument):
    """Any real sequence (nullable NA as NaN, booleans as 0/1) as a contiguous float64 array."""
    try:
        array = np.asarray(values)
        if array.dtype == object:
            array = np.array(array, dtype=np.float64)  # None becomes NaN; text and objects fail
        if array.dtype.kind not in "fiub":
            raise TypeError(f"dtype {array.dtype}")
        return np.ascontiguousarray(array, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name}() argument '{argument}' must hold real numbers: {error}") from None


def _as_tuple(values):
    return values if isinstance(values, tuple) else (values,)


def compute(entry, arrays, params, offsets=None, errors="raise", key_at=None):
    """The indicator over float64 `arrays` (one per input, in order): a tuple of float64 arrays.

    With `offsets` each segment is a group of its own, computed by the batch route on the usable
    cores. Should a group fail (the classic indicators have no failing data, so only a failure such
    as memory can), the groups are redone one by one: the error names the group through
    `key_at(row)`, or with ``errors="nan"`` the group is NaN and an UndefinedWarning names it.
    """
    name = entry["name"]
    function = getattr(_functions, name)
    arrays = list(arrays)
    if offsets is None:
        return _as_tuple(function(*arrays, *params))
    try:
        return _as_tuple(getattr(_batch, name)(*arrays, *params, offsets=offsets))
    except Exception:  # noqa: BLE001 - redone group by group, to name the group or go on past it
        return _by_group(entry, function, arrays, params, offsets, errors, key_at)


def _by_group(entry, function, arrays, params, offsets, errors, key_at):
    outputs = tuple(np.full(len(arrays[0]), np.nan) for _ in entry["outputs"])
    failed, first_error = [], None
    for j in range(len(offsets) - 1):
        rows = slice(int(offsets[j]), int(offsets[j + 1]))
        try:
            values = _as_tuple(function(*(None if a is None else a[rows] for a in arrays), *params))
        except Exception as error:
            if errors != "nan":
                if key_at is not None and rows.stop > rows.start:
                    _frontend._name_group(error, key_at(rows.start))
                raise
            failed.append(j)
            first_error = first_error or error
            continue
        for out, value in zip(outputs, values):
            out[rows] = value
    if failed:
        shown = _frontend._shown(failed, offsets, key_at)
        _frontend.warn(f"classic.{entry['name']}(errors='nan'): {len(failed)} of {len(offsets) - 1} groups "
                       f"({shown}) failed and are NaN (first error: {type(first_error).__name__}: {first_error})",
                       _frontend.UndefinedWarning)
    return outputs


def compute_grouped(entry, arrays, params, codes, offsets=None, errors="raise", key_at=None):
    """`compute` per group: contiguous runs through `offsets` as they lie, otherwise the rows of
    equal integer `codes` (or `codes()`) gathered, computed, and put back in the input's order."""
    if offsets is not None:
        return compute(entry, arrays, params, offsets, errors, key_at)
    order, offsets = _frontend.group_order(codes() if callable(codes) else codes)
    key_of_sorted = None if key_at is None else (lambda row: key_at(int(order[row])))
    sorted_out = compute(entry, [None if a is None else a[order] for a in arrays], params, offsets, errors,
                         key_of_sorted)
    results = []
    for values in sorted_out:
        unsorted = np.empty_like(values)
        unsorted[order] = values
        results.append(unsorted)
    return tuple(results)


def signature_text(entry, leading, inputs, trailing):
    """Source of a generated def's parameter list: `leading`, the inputs as `inputs` gives them,
    the parameters with their registry defaults, then `trailing` (keyword-only)."""
    parts = list(leading) + list(inputs) + [f"{p['name']}={p['default']!r}" for p in entry["params"]]
    return ", ".join(parts + ["*"] + list(trailing))


def parameter_doc(entry):
    """The parameter lines of a front-end docstring: default and range."""
    return "\n".join(f"    {p['name']}: {p['kind']}, default {p['default']!r}, {p['min']!r}..{p['max']!r}. {p['doc']}"
                     for p in entry["params"]) or "    (no parameters)"
