"""The registry (the native declarations, exported by ``_many.registry()``) against every route.

A function is declared once; the routes and the hand-kept tables of their tests must each cover
every declared function, so a function without live cases, a front-end row, a docs page, a stub
or batch cases fails here rather than passing unnoticed.
"""

import ast
import importlib.util
import inspect
import pathlib

import pytest

import velkized_ta
from velkized_ta import _frontend, _registry, batch, catalog, stream, velk_ta_funcs

ROOT = pathlib.Path(__file__).resolve().parents[1]
PACKAGE = ROOT / "velkized_ta"


def stub_functions(filename):
    tree = ast.parse((PACKAGE / filename).read_text())
    names = [node.name for node in tree.body if isinstance(node, ast.FunctionDef)]
    names += [alias.asname or alias.name for node in tree.body if isinstance(node, ast.ImportFrom)
              for alias in node.names]
    return [name for name in names if name.startswith("velk_")]


def live_cases():
    import test_stream
    return list(test_stream.CASES)


def module_defaults():
    import test_module
    return list(test_module.DEFAULTS)


def docs_navigation():
    spec = importlib.util.spec_from_file_location("pages", ROOT / "docs" / "tools" / "pages.py")
    pages = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(pages)
    paths = [path for family in pages.nav() for members in family.values() for item in members
             for path in item.values()]
    assert all((ROOT / "docs" / path).exists() for path in paths)
    return [pathlib.PurePath(path).stem for path in paths]


def length_parameters():
    import signatures
    return list(signatures.LENGTH_PARAM)


# Route (or hand-kept test table) -> the functions it has.
ROUTES = {
    "exact module, in export order": lambda: [n for n in vars(velk_ta_funcs) if n.startswith("velk_")],
    "package": lambda: list(velkized_ta.__all__),
    "batch": lambda: [n for n in batch.__all__ if n.startswith("velk_") and callable(getattr(batch, n))],
    "stream openers": lambda: [n for n in stream.__all__ if n.startswith("velk_") and callable(getattr(stream, n))],
    "catalogue": lambda: list(catalog.INDICATORS),
    "front-end rows": lambda: sorted({spec.function for spec in _frontend.INDICATORS.values()}),
    "docs pages": lambda: sorted(p.stem for p in (ROOT / "docs" / "indicators").glob("velk_*.md")),
    "docs navigation": docs_navigation,
    "velk_ta_funcs.pyi": lambda: stub_functions("velk_ta_funcs.pyi"),
    "__init__.pyi": lambda: stub_functions("__init__.pyi"),
    "stream.pyi": lambda: stub_functions("stream.pyi"),
    "batch.pyi": lambda: stub_functions("batch.pyi"),
    "live cases (tests/test_stream.py CASES)": live_cases,
    "exact defaults (tests/test_module.py DEFAULTS)": module_defaults,
    "result lengths (tests/signatures.py LENGTH_PARAM)": length_parameters,
}


@pytest.mark.parametrize("route", list(ROUTES))
def test_every_route_covers_the_registry(route):
    covered = ROUTES[route]()
    if "export order" in route:
        assert covered == list(_registry.NAMES)
    else:
        assert sorted(covered) == sorted(_registry.NAMES)


@pytest.mark.parametrize("name", _registry.NAMES)
def test_declarations_are_the_exact_signatures(name):
    signature = inspect.signature(getattr(velk_ta_funcs, name)).parameters.values()
    declared = _registry.parameters(name)
    assert [(p.name, type(p.default), p.default) for p in signature] == \
        [(p, type(d), d) for p, _, d in declared]
    period, scale, offset = _registry.REGISTRY[_registry.NAMES.index(name)]["warm_up"]
    assert period is None or (period, "int") in [(p, kind) for p, kind, _ in declared]
    assert scale >= (0 if period is None else 1)


@pytest.mark.parametrize("row", sorted(_frontend.INDICATORS))
def test_front_end_rows_name_declared_parameters_of_their_kind(row):
    spec = _frontend.INDICATORS[row]
    kinds = {p: kind for p, kind, _ in _registry.parameters(spec.function)}
    assert all(kinds[parameter] == "series" for _, parameter in spec.roles)
    assert all(kinds[parameter] == "int" for parameter in spec.periods)
    assert all(kinds[parameter] == "flag" for parameter in spec.options)
    pytest.importorskip("pandas")
    from velkized_ta import pandas as pandas_layer
    assert callable(getattr(pandas_layer._Accessor, row, None))


def test_warm_up_text_states_the_formula():
    assert [_registry.warm_up_text(n) for n in ("velk_ema", "velk_trix", "velk_sma", "velk_rsi", "velk_adx")] == \
        ["0", "1", "timeperiod − 1", "timeperiod + 1", "2 × timeperiod"]
    assert _registry.warm_up("velk_adxr", timeperiod=5) == 15 and _registry.warm_up("velk_ult", long_period=9) == 9


# Functions whose hand-written opener is what an opener made from the declaration would be.
PLAIN_OPENERS = ("velk_sma", "velk_lin", "velk_mid", "velk_roc", "velk_rsi", "velk_cmo", "velk_willr", "velk_cci",
                 "velk_dx", "velk_natr", "velk_wick", "velk_adif", "velk_rdif")


@pytest.mark.parametrize("name", PLAIN_OPENERS)
def test_openers_made_from_the_declaration_equal_the_hand_written_ones(name):
    import numpy as np
    made, hand = stream._opener_of_declaration(name), getattr(stream, name)
    assert inspect.signature(made) == inspect.signature(hand)
    rng = np.random.default_rng(len(name))
    close = (100 + np.cumsum(rng.normal(0, 1, 60))).astype(np.float32)
    series = {p: close + np.float32(i) for i, (p, kind, _) in enumerate(_registry.parameters(name)) if kind == "series"}
    history = {p: s[:25] for p, s in series.items()}
    periods = {p: 4 for p, kind, _ in _registry.parameters(name) if kind == "int" and p != "n_values"}
    handles = [opener(**history, **periods) for opener in (made, hand)]
    assert handles[0].matches == handles[1].matches
    values = [h.update_many(*[s[25:] for s in series.values()]) for h in handles]
    assert np.array_equal(values[0].view(np.uint32), values[1].view(np.uint32))
    for period in periods:
        refusals = []
        for opener in (made, hand):
            with pytest.raises(Exception) as refused:
                opener(**history, **{**periods, period: 0})
            refusals.append((type(refused.value), str(refused.value)))
        assert refusals[0] == refusals[1]


@pytest.mark.parametrize("row", ["willr", "dx", "rsi", "roc", "adx", "natr", "cci"])
def test_front_end_rows_made_from_the_declaration_read_the_hand_rows_price_columns(row):
    spec = _frontend.INDICATORS[row]
    made = _frontend._row_of_declaration(spec.function)
    assert made.roles == spec.roles and list(made.periods) == list(spec.periods)
