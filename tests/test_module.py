"""The module object and its function objects."""

import importlib
import inspect
import pickle
import pydoc
import subprocess
import sys

import numpy as np
import pytest

import velkized_ta
from velkized_ta import _registry, velk_ta_funcs

# The frozen functions' __defaults__, by hand as the contract they keep.
DEFAULTS = {
    "velk_sma": (True, 999999999),
    "velk_lin": (999999999,),
    "velk_mid": (True, 999999999),
    "velk_ema": (True, 999999999),
    "velk_ema2": (False, 999999999),
    "velk_ema3": (False, False, 999999999),
    "velk_dema": (None, 1, False, False, 999999999),
    "velk_tema": (None, None, 1, False, False, False, 999999999),
    "velk_trix": (1, False, False, False, 999999999),
    "velk_roc": (999999999,),
    "velk_rsi": (999999999,),
    "velk_willr": (999999999,),
    "velk_cci": (999999999,),
    "velk_dx": (999999999,),
    "velk_adx": (None, None, None, 1, 999999999, False),
    "velk_adxr": (999999999, False),
    "velk_cmo": (999999999,),
    "velk_natr": (999999999,),
    "velk_ult": (999999999,),
    "velk_stochf": (False, False),
    "velk_wick": (999999999,),
    "velk_macd": (None, None, None, 1, 1, False, False, 999999999),
    "velk_adif": (999999999,),
    "velk_rdif": (999999999,),
}
# A function declared later takes its declaration's defaults.
DEFAULTS.update({name: tuple(default for _, _, default in _registry.parameters(name)
                             if default is not inspect.Parameter.empty)
                 for name in _registry.NAMES if name not in DEFAULTS})
CCI_DOC = (
    "\n    Note: this function uses mean squared deviation instead of mean absolute deviation to achieve "
    "faster execution.\n    "
)


def test_functions_are_bound_in_table_order():
    names = [name for name in vars(velk_ta_funcs) if name.startswith("velk_")]
    assert names == list(DEFAULTS) == list(velkized_ta.FUNCTION_NAMES)
    assert velk_ta_funcs.np is np
    assert velk_ta_funcs.__test__ == {}
    assert velk_ta_funcs.__doc__ is None


@pytest.mark.parametrize("name", list(DEFAULTS))
def test_function_attributes(name):
    function = getattr(velk_ta_funcs, name)
    assert function.__name__ == function.__qualname__ == name
    assert function.__module__ == "velkized_ta.velk_ta_funcs"
    assert function.__defaults__ == DEFAULTS[name]
    assert function.__kwdefaults__ is None
    assert function.__doc__ == (CCI_DOC if name == "velk_cci" else None)
    assert function.__globals__ is vars(velk_ta_funcs)
    code = function.__code__
    assert code.co_name == name
    assert code.co_filename == "velkized_ta/velk_ta_funcs"
    params = list(inspect.signature(function).parameters)
    assert code.co_argcount == len(params)
    assert list(code.co_varnames[: code.co_argcount]) == params
    assert len(code.co_varnames) > code.co_argcount  # the locals follow the arguments


def test_signature_and_code_of_sma():
    sig = inspect.signature(velk_ta_funcs.velk_sma)
    assert str(sig) == "(input_array, timeperiod, normalize=True, n_values=999999999)"
    assert velk_ta_funcs.velk_sma.__code__.co_varnames == (
        "input_array", "timeperiod", "normalize", "n_values", "n", "i", "non_nan_count", "sma", "sum", "k")


@pytest.mark.parametrize("name", list(DEFAULTS))
def test_pickles_by_reference(name):
    function = getattr(velk_ta_funcs, name)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(function, protocol)) is function


def test_help_renders_signature():
    text = pydoc.render_doc(velk_ta_funcs.velk_cci, renderer=pydoc.plaintext)
    assert "velk_cci(high_arr, low_arr, close_arr, timeperiod, n_values=999999999)" in text
    assert "mean squared deviation" in text


def test_replacing_defaults_does_not_change_calls(restore_module_globals):
    sma = velk_ta_funcs.velk_sma
    x = np.array([1, 2, 3, 4], dtype=np.float32)
    expected = sma(x, 2)
    saved = sma.__defaults__
    try:
        sma.__defaults__ = (False, 1)
        assert inspect.signature(sma).parameters["normalize"].default is False
        np.testing.assert_array_equal(sma(x, 2), expected)
    finally:
        sma.__defaults__ = saved
    with pytest.raises(TypeError):
        sma.__defaults__ = [True]


def test_function_objects_accept_attributes_and_bind_as_methods():
    sma = velk_ta_funcs.velk_sma
    sma.custom_marker = 1
    try:
        assert sma.__dict__["custom_marker"] == 1
    finally:
        del sma.custom_marker

    class Holder:
        method = sma

    x = np.array([1, 2, 3], dtype=np.float32)
    with pytest.raises(TypeError, match="has incorrect type"):
        Holder().method(2)  # the instance is bound to input_array


def test_import_is_idempotent():
    first = velk_ta_funcs
    del sys.modules["velkized_ta.velk_ta_funcs"]
    try:
        second = importlib.import_module("velkized_ta.velk_ta_funcs")
        assert second is first
        assert second.velk_sma is first.velk_sma
    finally:
        sys.modules["velkized_ta.velk_ta_funcs"] = first


def test_imports_without_warnings(tmp_path):
    result = subprocess.run(
        [sys.executable, "-W", "error", "-c", "import velkized_ta; print(velkized_ta.velk_sma.__name__)"],
        capture_output=True, text=True, check=False, cwd=tmp_path,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "velk_sma"


def test_module_attributes_from_import_spec():
    assert velk_ta_funcs.__name__ == "velkized_ta.velk_ta_funcs"
    assert velk_ta_funcs.__package__ == "velkized_ta"
    assert velk_ta_funcs.__file__ == velk_ta_funcs.__spec__.origin
    assert type(velk_ta_funcs.__loader__) is type(velk_ta_funcs.__spec__.loader)
    assert velk_ta_funcs.__builtins__ is __import__("builtins")


def test_declarations_match_the_functions():
    from signatures import PARAMETERS

    assert list(PARAMETERS) == list(DEFAULTS)
    for name, params in PARAMETERS.items():
        assert [p for p, _ in params] == list(inspect.signature(getattr(velk_ta_funcs, name)).parameters), name
    # one kind per parameter name across functions
    kinds = {}
    for params in PARAMETERS.values():
        for p, kind in params:
            assert kinds.setdefault(p, kind) == kind, p


def test_typing_stub_matches_the_functions():
    import ast
    import pathlib

    from velkized_ta.catalog import INDICATORS

    stub = pathlib.Path(velk_ta_funcs.__file__).with_name("velk_ta_funcs.pyi")
    tree = ast.parse(stub.read_text())
    functions = [node for node in tree.body if isinstance(node, ast.FunctionDef)]
    stubbed = {node.name: [a.arg for a in node.args.args] for node in functions}
    assert list(stubbed) == list(DEFAULTS)
    for name, params in stubbed.items():
        assert params == list(inspect.signature(getattr(velk_ta_funcs, name)).parameters), name
    # IDEs show the stub's docstring; its stated first value must be the catalogue's.
    for node in functions:
        warm_up = INDICATORS[node.name].warm_up_text.replace("−", "-").replace("×", "*")
        assert f"First value at position {warm_up}" in " ".join(ast.get_docstring(node).split()), node.name


@pytest.mark.parametrize(
    "sabotage, cause",
    [
        ("core._ARRAY_API = 1", "_ARRAY_API is not PyCapsule object"),
        ("del core._ARRAY_API", "_ARRAY_API"),
    ],
)
def test_unusable_numpy_c_interface_fails_the_import(tmp_path, sabotage, cause):
    script = f"""
import importlib, traceback
try:
    import numpy._core._multiarray_umath as core
except ImportError:
    import numpy.core._multiarray_umath as core
saved = core._ARRAY_API
{sabotage}
try:
    import velkized_ta.velk_ta_funcs
except ImportError as error:
    print(str(error).splitlines()[0])
    print(str(error.__cause__))
    print(traceback.extract_tb(error.__traceback__)[-1].name)
core._ARRAY_API = saved
import velkized_ta.velk_ta_funcs as module
print(module.velk_sma.__name__)
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("numpy.core.multiarray failed to import")
    assert cause in lines[1]
    assert lines[2] == "init velkized_ta.velk_ta_funcs"
    assert lines[3] == "velk_sma"  # a later import succeeds
