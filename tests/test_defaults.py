"""Every route takes the exact functions' defaults: stream openers, batch, the front-ends, and their stubs.

A default that differs silently changes results for callers who leave the argument out, and the
route's own tests usually pass every argument explicitly.
"""

import ast
import inspect
import pathlib

import pytest

import velkized_ta
from velkized_ta import FUNCTION_NAMES, stream, velk_ta_funcs
from velkized_ta._frontend import INDICATORS

PACKAGE = pathlib.Path(velkized_ta.__file__).parent
REQUIRED = "required"


def exact_defaults(function, without=("n_values",)):
    """[(parameter, default or REQUIRED)] of the exact function, in order."""
    return [(p.name, REQUIRED if p.default is inspect.Parameter.empty else p.default)
            for p in inspect.signature(getattr(velk_ta_funcs, function)).parameters.values()
            if p.name not in without]


def stub_signatures(filename, container=None):
    """{function: ([(positional parameter, default or REQUIRED)], {keyword-only parameter: default})}."""
    tree = ast.parse((PACKAGE / filename).read_text())
    body = tree.body
    if container:
        body = next(node.body for node in body if isinstance(node, ast.ClassDef) and node.name == container)
    stubs = {}
    for node in body:
        if not isinstance(node, ast.FunctionDef):
            continue
        args = node.args
        positional = [a.arg for a in args.posonlyargs + args.args if a.arg != "self"]
        defaults = [REQUIRED] * (len(positional) - len(args.defaults)) + [ast.literal_eval(d) for d in args.defaults]
        keywords = {a.arg: REQUIRED if d is None else ast.literal_eval(d)
                    for a, d in zip(args.kwonlyargs, args.kw_defaults)}
        stubs[node.name] = (list(zip(positional, defaults)), keywords)
    return stubs


def same(pairs, expected):
    """Equal names, order and defaults; True is not 1 and False is not 0 here."""
    return [(n, type(d), d) for n, d in pairs] == [(n, type(d), d) for n, d in expected]


@pytest.mark.parametrize("function", FUNCTION_NAMES)
def test_stream_openers_and_their_stubs_take_the_exact_defaults(function):
    expected = exact_defaults(function)
    opener = [(p.name, REQUIRED if p.default is inspect.Parameter.empty else p.default)
              for p in inspect.signature(getattr(stream, function)).parameters.values()]
    assert same(opener, expected), opener
    positional, _ = stub_signatures("stream.pyi")[function]
    assert same(positional, expected), positional


@pytest.mark.parametrize("function", FUNCTION_NAMES)
def test_exact_and_batch_stubs_declare_the_exact_defaults(function):
    expected = exact_defaults(function, without=())
    exact_stub, _ = stub_signatures("velk_ta_funcs.pyi")[function]
    batch_stub, batch_keywords = stub_signatures("batch.pyi")[function]
    # The exact stub may leave out a None default that only the function's own binding needs.
    assert [n for n, _ in exact_stub] == [n for n, _ in expected]
    assert all(d == REQUIRED or (n, d) in expected for n, d in exact_stub), exact_stub
    assert same(batch_stub, expected), batch_stub
    assert batch_keywords == {"offsets": None, "axis": 0, "threads": None, "errors": "raise", "live": False}


@pytest.mark.parametrize("name", sorted(INDICATORS))
def test_front_end_options_default_to_the_exact_defaults(name):
    pytest.importorskip("pandas")
    pytest.importorskip("polars")
    spec = INDICATORS[name]
    expected = dict(exact_defaults(spec.function))
    assert {parameter for _, parameter in spec.roles} | set(spec.periods) | set(spec.options) <= set(expected)
    assert [(o, type(d), d) for o, d in spec.options.items()] == [(o, type(expected[o]), expected[o])
                                                                  for o in spec.options]
    positional, keywords = stub_signatures("polars.pyi")[name]
    assert dict(positional) == {**{role: None for role, _ in spec.roles}, **spec.periods}
    assert {o: keywords[o] for o in spec.options} == spec.options
    positional, keywords = stub_signatures("pandas.pyi", "_Accessor")[name]
    assert dict(positional) == spec.periods
    assert {o: keywords[o] for o in spec.options} == spec.options
