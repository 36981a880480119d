"""The Python layers' type stubs match the layers, and the layers pickle by reference."""

import ast
import importlib.util
import pathlib
import pickle

import pytest

TOOL = pathlib.Path(__file__).resolve().parent.parent / "tools" / "layer_stubs.py"


def test_stubs_are_current_and_parse():
    pytest.importorskip("pandas")
    pytest.importorskip("polars")
    spec = importlib.util.spec_from_file_location("layer_stubs", TOOL)
    tool = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(tool)
    for filename, make in tool.STUBS.items():
        text = make()
        ast.parse(text)
        installed = pathlib.Path(__import__("velkized_ta").__file__).parent / filename
        assert installed.read_text() == text, f"{filename} is stale: run python tools/layer_stubs.py"


def test_layer_functions_pickle_by_reference():
    from velkized_ta import batch

    assert pickle.loads(pickle.dumps(batch.velk_rsi)) is batch.velk_rsi
    vp = pytest.importorskip("velkized_ta.polars")
    assert pickle.loads(pickle.dumps(vp.willr)) is vp.willr


def test_classic_stubs_are_current():
    spec = importlib.util.spec_from_file_location("layer_stubs", TOOL)
    tool = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(tool)
    package = pathlib.Path(__import__("velkized_ta").__file__).parent
    for filename in ("classic/__init__.pyi", "classic/batch.pyi", "classic/stream.pyi"):
        text = tool.STUBS[filename]()
        ast.parse(text)
        assert (package / filename).read_text() == text, f"{filename} is stale: run python tools/layer_stubs.py"
