"""Classic technical indicators: the textbook definitions in float64, with TA-Lib's defaults.

Every function here is built from the registry of the native module ``velkized_ta._classic``,
where each indicator is defined once (one C++ file: inputs, parameters, outputs, first-value
position, state and step). The same step runs behind :mod:`velkized_ta.classic.batch` (many
series) and :mod:`velkized_ta.classic.stream` (live handles), so every route gives the same bits.

Inputs are 1-D arrays of any real dtype (or pandas / polars Series), computed in double; results
are float64 arrays of the input's length (``dtype=np.float32`` stores float32), a tuple of arrays
for indicators with several outputs. Values are NaN before the first value, which sits where
TA-Lib's default puts it. NaN bars are skipped: a bar with a NaN input gives NaN there and the
indicator's state never sees it, so leading NaNs delay the start and a gap never poisons what
follows.

    >>> import numpy as np
    >>> from velkized_ta import classic
    >>> close = np.linspace(100.0, 110.0, 50)
    >>> round(float(classic.sma(close, 10)[-1]), 6)
    109.081633
"""

from __future__ import annotations

import numpy as np

from velkized_ta import _classic

REGISTRY = _classic.registry()
"""One descriptor per classic indicator, sorted by name: a dict with ``name``, ``group``,
``summary``, ``doc``, ``inputs``, ``optional_inputs`` (the trailing inputs a caller may leave out:
a series left out reads 0 on every bar), ``params`` (dicts with ``name``, ``kind`` 'int' or
'float', ``default``, ``min``, ``max``, ``doc``) and ``outputs``."""

NAMES = tuple(entry["name"] for entry in REGISTRY)
INDEX = {name: i for i, name in enumerate(NAMES)}

__all__ = list(NAMES) + ["REGISTRY", "NAMES", "descriptor", "lookback", "first_positions"]

_FLOAT64 = np.dtype(np.float64)
_FLOAT32 = np.dtype(np.float32)


def descriptor(name_or_function) -> dict:
    """The registry entry of a classic indicator, by name or by its function."""
    name = getattr(name_or_function, "__name__", name_or_function)
    if name not in INDEX:
        raise ValueError(f"no classic indicator named {name!r}")
    return REGISTRY[INDEX[name]]


def lookback(name_or_function, *args, **kwargs) -> int:
    """Position from which every output has a value on NaN-free input, for the given parameters
    (defaults otherwise). TA-Lib's lookback where TA-Lib has the function."""
    entry = descriptor(name_or_function)
    return _classic.lookback(INDEX[entry["name"]], bound_params(entry, args, kwargs))


def first_positions(name_or_function, *args, **kwargs) -> tuple:
    """Each output's first value position on NaN-free input, in output order, for the given
    parameters (defaults otherwise). Outputs of one indicator may start apart (ichimoku's lines
    each at its own period); the largest is `lookback`."""
    entry = descriptor(name_or_function)
    return _classic.first_positions(INDEX[entry["name"]], bound_params(entry, args, kwargs))


def input_signature(entry) -> list:
    """The inputs as a generated def lists them: required ones plain, optional ones ``=None``."""
    optional = set(entry["optional_inputs"])
    return [f"{name}=None" if name in optional else name for name in entry["inputs"]]


def bound_params(entry, args, kwargs) -> tuple:
    """The parameters in registry order from positional and keyword values, defaults filled in."""
    specs = entry["params"]
    if len(args) > len(specs):
        raise TypeError(f"{entry['name']}() takes {len(specs)} parameters ({len(args)} given)")
    values = list(args) + [spec["default"] for spec in specs[len(args):]]
    names = [spec["name"] for spec in specs]
    for key, value in kwargs.items():
        if key not in names:
            raise TypeError(f"{entry['name']}() got an unexpected keyword argument '{key}'")
        position = names.index(key)
        if position < len(args):
            raise TypeError(f"{entry['name']}() got multiple values for argument '{key}'")
        values[position] = value
    return tuple(values)


def as_series(function: str, name: str, value) -> np.ndarray:
    """One input as a contiguous 1-D float64 array (any real dtype, pandas or polars Series)."""
    if type(value) is not np.ndarray:
        module = type(value).__module__.partition(".")[0]
        if module == "pandas":
            value = value.to_numpy(dtype=np.float64, na_value=np.nan) if value.dtype.kind != "b" else value.to_numpy()
        elif module == "polars":
            value = value.to_numpy()
        else:
            value = np.asarray(value)
    if value.dtype.kind not in "iuf":
        raise TypeError(f"{function}() argument '{name}' must hold real numbers, got dtype {value.dtype}")
    if value.ndim != 1:
        raise ValueError(f"{function}() argument '{name}' must be 1-D, got {value.ndim}-D")
    return np.require(value, np.float64, ["C_CONTIGUOUS", "ALIGNED"])  # an unaligned view is copied


def float32_wanted(function: str, dtype) -> bool:
    if dtype is np.float64 or dtype is _FLOAT64:
        return False
    if dtype is np.float32 or dtype is _FLOAT32:
        return True
    wanted = np.dtype(dtype)
    if wanted not in (_FLOAT64, _FLOAT32):
        raise ValueError(f"{function}() argument 'dtype' must be float64 or float32, got {wanted}")
    return wanted == _FLOAT32


def _docstring(entry) -> str:
    lines = [entry["summary"], ""]
    lines.append("Parameters")
    lines.append("----------")
    for name in entry["inputs"]:
        if name in entry["optional_inputs"]:
            lines.append(f"{name} : optional 1-D array of real numbers, a label per bar; None reads 0 on every bar")
        else:
            lines.append(f"{name} : 1-D array of real numbers (numpy, pandas or polars)")
    for spec in entry["params"]:
        lines.append(f"{spec['name']} : {spec['kind']}, default {spec['default']!r}, "
                     f"{spec['min']!r}..{spec['max']!r}")
        lines.append(f"    {spec['doc']}")
    lines.append("dtype : np.float64 (default) or np.float32, the stored type of the result")
    lines.append("")
    lines.append("Returns")
    lines.append("-------")
    outputs = entry["outputs"]
    if len(outputs) == 1:
        lines.append(f"{outputs[0]} : array of the input's length")
    else:
        lines.append(f"tuple ({', '.join(outputs)}) of arrays of the input's length")
    lines.append("")
    lines.append("Definition")
    lines.append("----------")
    lines.extend(entry["doc"].splitlines())
    lines.append("")
    lines.append("A bar with a NaN input gives NaN outputs and is skipped by the state.")
    return "\n".join(lines)


def _make(entry):
    name = entry["name"]
    inputs = list(entry["inputs"])
    params = [(spec["name"], spec["default"]) for spec in entry["params"]]
    signature = ", ".join(input_signature(entry) + [f"{p}={d!r}" for p, d in params] + ["*", "dtype=_np.float64"])
    given = "".join(f"{i}, " for i in inputs)
    passed = "".join(f"{p}, " for p, _ in params)
    # The native call reads 1-D float64 arrays in place, zeros for an optional input left out
    # (None), and calls back for anything else.
    source = (f"def {name}({signature}):\n"
              f"    return _compute(_index, ({given}), ({passed}), dtype, _convert, _float32)\n")
    namespace = {"_np": np, "_compute": _classic.compute, "_index": INDEX[name],
                 "_convert": lambda position, value: as_series(name, inputs[position], value),
                 "_float32": lambda dtype: float32_wanted(name, dtype)}
    exec(source, namespace)  # a real def: its signature, defaults and argument errors are Python's own
    function = namespace[name]
    function.__module__ = __name__
    function.__qualname__ = name
    function.__doc__ = _docstring(entry)
    return function


for _entry in REGISTRY:
    globals()[_entry["name"]] = _make(_entry)
del _entry
