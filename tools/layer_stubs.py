"""Writes the type stubs of the exact module and the Python layers (the package, stream, batch, pandas, polars, and the
classic family's function, batch and stream modules) from their own definitions and the registries.

    python tools/layer_stubs.py           # rewrite velkized_ta/{velk_ta_funcs,__init__,stream,batch,pandas,polars}.pyi and classic/*.pyi
    python tools/layer_stubs.py --check   # exit 1 when a stub differs from what would be written

tests/test_layer_stubs.py runs the check, so a stub cannot fall behind its layer.
"""

import argparse
import inspect
import sys
from pathlib import Path

PACKAGE = Path(__file__).resolve().parent.parent / "velkized_ta"

HEADER = '''"""Type stubs for velkized_ta.{module} (written by tools/layer_stubs.py)."""

{imports}
'''


def _annotation(kind, default, array):
    if kind == "series":
        return f"{array} | None" if default is None else array
    return {"int": "SupportsInt", "flag": "object"}[kind]


def _signature(params, array):
    parts = []
    for name, kind, default in params:
        text = f"{name}: {_annotation(kind, default, array)}"
        if default is not inspect.Parameter.empty:
            text += f" = {default!r}"
        parts.append(text)
    return parts


def batch_stub():
    from velkized_ta import FUNCTION_NAMES
    from velkized_ta._signatures import parameters

    lines = [HEADER.format(module="batch", imports="from typing import Literal, SupportsInt\n\n"
                           "import numpy as np\nimport numpy.typing as npt\n\n_Series = npt.NDArray[np.float32]\n"
                           "_Offsets = npt.ArrayLike\n"),
             "__all__: list[str]\n", "class BatchWarning(RuntimeWarning): ...\n"]
    for name in FUNCTION_NAMES:
        arguments = _signature(parameters(name), "_Series") + [
            "*", "offsets: _Offsets | None = None", "axis: int = 0", "threads: int | None = None",
            "errors: Literal['raise', 'nan'] = 'raise'", "live: bool = False"]
        lines.append(f"def {name}(\n    " + ",\n    ".join(arguments) + ",\n) -> _Series: ...")
    return "\n".join(lines) + "\n"


def _frontend_parameters(spec, expression):
    roles = [f"{role}: _Price = None" for role, _ in spec.roles] if expression else []
    periods = [f"{p}: int = {v}" for p, v in spec.periods.items()]
    options = [f"{o}: bool = {v}" for o, v in spec.options.items()]
    return roles, periods, options


_WARNINGS = "class UndefinedWarning(RuntimeWarning): ...\nclass PrecisionWarning(RuntimeWarning): ...\n"


def polars_stub():
    from velkized_ta._frontend import INDICATORS

    imports = "from typing import Literal, SupportsInt\n\nimport polars as pl\n\n_Price = pl.Expr | str | None\n"
    lines = [HEADER.format(module="polars", imports=imports),
             "__all__: list[str]\n", _WARNINGS]
    for name, spec in INDICATORS.items():
        roles, periods, options = _frontend_parameters(spec, True)
        arguments = roles + periods + ["*"] + options + ["by: _Price = None", "exact: bool = False",
                                                          "nulls: bool = False",
                                                          "errors: Literal['raise', 'nan'] = 'raise'"]
        lines.append(f"def {name}(\n    " + ",\n    ".join(arguments) + ",\n) -> pl.Expr: ...")
    lines.append("class _ClassicNamespace:")
    for entry in _classic_registry():
        arguments = [f"{i}: _Price = None" for i in entry["inputs"]] + _classic_parameters(entry) + [
            "*", "by: _Price = None", "nulls: bool = False", "errors: Literal['raise', 'nan'] = 'raise'"]
        lines.append(f"    @staticmethod\n    def {entry['name']}(\n        " + ",\n        ".join(arguments)
                     + ",\n    ) -> pl.Expr: ...")
    lines.append("\nclassic: _ClassicNamespace")
    return "\n".join(lines) + "\n"


def _classic_registry():
    from velkized_ta.classic import REGISTRY

    return REGISTRY


def _classic_parameters(entry):
    return [f"{p['name']}: {'SupportsInt' if p['kind'] == 'int' else 'float'} = {p['default']!r}"
            for p in entry["params"]]


def pandas_stub():
    from velkized_ta._frontend import INDICATORS

    lines = [HEADER.format(module="pandas",
                           imports="from typing import Any, Hashable, Literal, Sequence, SupportsInt\n\n"
                                   "import pandas as pd\n"),
             "__all__: list[str]\n", _WARNINGS + "class RowOrderWarning(UserWarning): ...\n",
             "class _Accessor:"]
    for name, spec in INDICATORS.items():
        _, periods, options = _frontend_parameters(spec, False)
        columns = [f"{role}: Hashable | None = None" for role, _ in spec.roles]
        arguments = ["self"] + periods + ["*"] + options + columns + [
            "by: Hashable | None = None", "exact: bool = False", "append: bool = False",
            "errors: Literal['raise', 'nan'] = 'raise'"]
        lines.append(f"    def {name}(\n        " + ",\n        ".join(arguments)
                     + ",\n    ) -> pd.Series | pd.DataFrame: ...")
    lines.append("    @property\n    def classic(self) -> VelkClassicAccessor: ...")
    lines += ["", "class VelkClassicAccessor:"]
    for entry in _classic_registry():
        result = "pd.Series" if len(entry["outputs"]) == 1 else "pd.DataFrame"
        arguments = ["self"] + _classic_parameters(entry) + ["*"] + [
            f"{i}: Hashable | None = None" if i not in entry["optional_inputs"] else
            f"{i}: Hashable | Sequence[Any] | pd.Series | None = None" for i in entry["inputs"]] + [
            "by: Hashable | None = None", "append: bool = False", "errors: Literal['raise', 'nan'] = 'raise'"]
        lines.append(f"    def {entry['name']}(\n        " + ",\n        ".join(arguments)
                     + f",\n    ) -> {result}: ...")
    lines += ["", "class VelkFrameAccessor(_Accessor): ...", "class VelkSeriesAccessor(_Accessor): ..."]
    return "\n".join(lines) + "\n"


def package_stub():
    from velkized_ta import FUNCTION_NAMES

    imports = "".join(f"    {name} as {name},\n" for name in sorted(FUNCTION_NAMES))
    return (f"from velkized_ta.velk_ta_funcs import (\n{imports})\n\n"
            "FUNCTION_NAMES: tuple[str, ...]\n__all__: list[str]\n__version__: str\n")


STREAM_HEADER = '''from typing import Literal

import numpy as np
import numpy.typing as npt

_Series = npt.NDArray[np.float32]
_Int = int
_Flag = object

STATE_VERSION: int

class Handle:
    """Made by the openers and by unpickling only; ``Handle()`` raises TypeError."""
    def __reduce__(self) -> tuple[object, tuple[int, str, str, tuple[int, ...], bytes, float]]: ...
    @property
    def value(self) -> float: ...
    @property
    def matches(self) -> Literal["full", "trailing"]: ...
    @property
    def name(self) -> str: ...
    @property
    def arity(self) -> int: ...
    def update(self, *bar: float) -> float: ...
    def peek(self, *bar: float) -> float: ...
    def update_many(self, *series: npt.ArrayLike) -> npt.NDArray[np.float32]: ...
    def copy(self) -> Handle: ...
    def __copy__(self) -> Handle: ...
    def __deepcopy__(self, memo: object) -> Handle: ...'''


def _fitted(name, arguments, result, width=116):
    """A black-style `def` line: on one line, else the arguments on one line, else one per line."""
    one = f"def {name}({', '.join(arguments)}) -> {result}: ..."
    if len(one) <= width:
        return one
    inner = "    " + ", ".join(arguments)
    if len(inner) <= width:
        return f"def {name}(\n{inner}\n) -> {result}: ..."
    return f"def {name}(\n" + "".join(f"    {a},\n" for a in arguments) + f") -> {result}: ..."


# Series an exact function takes as None although they have no default: ADXR's high and low, unread
# when close_arr is the ADX series.
_NONE_WITHOUT_DEFAULT = {("velk_adxr", "high_arr"), ("velk_adxr", "low_arr")}


def exact_stub():
    from velkized_ta._registry import REGISTRY, parameters

    imports = ("from types import ModuleType\nfrom typing import Any, SupportsInt\n\nimport numpy as np\n"
               "import numpy.typing as npt\n\n_Series = npt.NDArray[np.float32]\n_Int = SupportsInt\n\n"
               "np: ModuleType\n__test__: dict[str, Any]\n")
    lines = [HEADER.format(module="velk_ta_funcs", imports=imports).rstrip("\n") + "\n"]
    for entry in REGISTRY:
        arguments = [a.replace("SupportsInt", "_Int") for a in _signature(parameters(entry["name"]), "_Series")]
        arguments = [a.replace(": _Series", ": _Series | None", 1) if (entry["name"], a.split(":")[0]) in
                     _NONE_WITHOUT_DEFAULT else a for a in arguments]
        head = _fitted(entry["name"], arguments, "_Series", width=124).removesuffix(" ...")
        first, _, rest = entry["summary"].partition("\n")
        body = "".join(f"    {line}\n" if line else "\n" for line in rest.split("\n")) if rest else ""
        lines.append(f'{head}\n    """{first}\n{body}    """\n')
    return "\n".join(lines)


def stream_stub():
    from velkized_ta._registry import NAMES, parameters

    annotations = {"series": "_Series", "int": "_Int", "flag": "_Flag"}
    lines = [STREAM_HEADER]
    for name in NAMES:
        # The openers take the exact function's parameters without n_values (test_defaults checks them).
        arguments = []
        for parameter, kind, default in parameters(name):
            if parameter == "n_values":
                continue
            annotation = "_Series | None" if kind == "series" and default is None else annotations[kind]
            arguments.append(f"{parameter}: {annotation}" + ("" if default is inspect.Parameter.empty
                                                              else f" = {default!r}"))
        lines.append(_fitted(name, arguments, "Handle"))
    return "\n".join(lines) + "\n"


def _classic_arguments(entry, series):
    arguments = [f"{name}: {series} | None = None" if name in entry["optional_inputs"] else f"{name}: {series}"
                 for name in entry["inputs"]]
    for spec in entry["params"]:
        kind = "SupportsInt" if spec["kind"] == "int" else "float"
        arguments.append(f"{spec['name']}: {kind} = {spec['default']!r}")
    return arguments


def _classic_result(entry, array):
    outputs = entry["outputs"]
    return array if len(outputs) == 1 else f"tuple[{', '.join([array] * len(outputs))}]"


CLASSIC_IMPORTS = ("from typing import Any, Literal, SupportsInt\n\nimport numpy as np\nimport numpy.typing as npt\n\n"
                   "_Input = npt.ArrayLike\n_Result = npt.NDArray[np.float64]\n_DType = Any\n")


def classic_stub():
    from velkized_ta.classic import REGISTRY

    lines = [HEADER.format(module="classic", imports=CLASSIC_IMPORTS),
             "__all__: list[str]\nREGISTRY: tuple[dict[str, Any], ...]\nNAMES: tuple[str, ...]\n"
             "def descriptor(name_or_function: object) -> dict[str, Any]: ...\n"
             "def lookback(name_or_function: object, *args: Any, **kwargs: Any) -> int: ...\n"
             "def first_positions(name_or_function: object, *args: Any, **kwargs: Any) -> tuple[int, ...]: ...\n"
             "def input_signature(entry: dict[str, Any]) -> list[str]: ...\n"]
    for entry in REGISTRY:
        arguments = _classic_arguments(entry, "_Input") + ["*", "dtype: _DType = np.float64"]
        lines.append(f"def {entry['name']}(\n    " + ",\n    ".join(arguments)
                     + f",\n) -> {_classic_result(entry, '_Result')}: ...")
    return "\n".join(lines) + "\n"


def classic_batch_stub():
    from velkized_ta.classic import REGISTRY

    lines = [HEADER.format(module="classic.batch", imports=CLASSIC_IMPORTS),
             "__all__: list[str]\n",
             "def batch(\n    name_or_function: object,\n    *args: Any,\n    offsets: _Input | None = None,\n"
             "    axis: int = 0,\n    threads: int | None = None,\n    errors: Literal['raise', 'nan'] = 'raise',\n"
             "    dtype: _DType = np.float64,\n    **kwargs: Any,\n) -> Any: ...\n"]
    for entry in REGISTRY:
        arguments = _classic_arguments(entry, "_Input") + [
            "*", "offsets: _Input | None = None", "axis: int = 0", "threads: int | None = None",
            "errors: Literal['raise', 'nan'] = 'raise'", "dtype: _DType = np.float64"]
        lines.append(f"def {entry['name']}(\n    " + ",\n    ".join(arguments)
                     + f",\n) -> {_classic_result(entry, '_Result')}: ...")
    return "\n".join(lines) + "\n"


def classic_stream_stub():
    from velkized_ta.classic import REGISTRY

    lines = [HEADER.format(module="classic.stream", imports=CLASSIC_IMPORTS),
             "__all__: list[str]\nSTATE_VERSION: int\n",
             "class Handle:\n    @property\n    def value(self) -> Any: ...\n    @property\n    def name(self) -> str: ...\n"
             "    @property\n    def params(self) -> tuple[Any, ...]: ...\n"
             "    def update(self, *bar: float | None, **named: float | None) -> Any: ...\n"
             "    def peek(self, *bar: float | None, **named: float | None) -> Any: ...\n"
             "    def update_many(self, *series: _Input | None, **named: _Input | None) -> Any: ...\n"
             "    def copy(self) -> Handle: ...\n"]
    for entry in REGISTRY:
        arguments = _classic_arguments(entry, "_Input")
        lines.append(f"def {entry['name']}(\n    " + ",\n    ".join(arguments) + ",\n) -> Handle: ...")
    return "\n".join(lines) + "\n"


STUBS = {"velk_ta_funcs.pyi": exact_stub, "__init__.pyi": package_stub, "stream.pyi": stream_stub, "batch.pyi": batch_stub,
         "polars.pyi": polars_stub, "pandas.pyi": pandas_stub,
         "classic/__init__.pyi": classic_stub, "classic/batch.pyi": classic_batch_stub,
         "classic/stream.pyi": classic_stream_stub}


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args(argv)
    stale = []
    for filename, make in STUBS.items():
        path = PACKAGE / filename
        text = make()
        if args.check:
            if not path.exists() or path.read_text() != text:
                stale.append(filename)
        else:
            path.write_text(text)
    if stale:
        print("stale stubs (run python tools/layer_stubs.py):", ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
