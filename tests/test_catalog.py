"""The catalogue's stated warm-ups and ranges hold on random bars."""

import ast
import importlib
import pathlib
import re
import warnings

import numpy as np
import pytest

import velkized_ta
from velkized_ta.catalog import INDICATORS
from velkized_ta.sample import example_arguments, sample_ohlc

PERIODS = (2, 3, 7, 14, 30)


def call(name, period, n=400):
    function = getattr(velkized_ta, name)
    kwargs = example_arguments(function, sample_ohlc(n, seed=1000 + period), period)
    if name == "velk_macd":  # the sample call fixes 12/26; vary the slow period with the others
        kwargs.update(short_period=max(1, period // 2), long_period=period)
    periods = {key: value for key, value in kwargs.items() if not isinstance(value, np.ndarray)}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # velk_cci's square root of a rounded-negative variance
        return function(**kwargs), periods


def test_catalogue_covers_every_function():
    assert sorted(INDICATORS) == sorted(velkized_ta.FUNCTION_NAMES)


@pytest.mark.parametrize("period", PERIODS)
@pytest.mark.parametrize("name", list(INDICATORS))
def test_stated_warm_up_is_the_first_value(name, period):
    values, periods = call(name, period)
    first = int(np.flatnonzero(~np.isnan(values))[0])
    assert first == INDICATORS[name].warm_up(**periods)


@pytest.mark.parametrize("name", [name for name, indicator in INDICATORS.items() if indicator.bounds])
def test_values_stay_in_the_stated_range(name):
    low, high = INDICATORS[name].bounds
    for period in PERIODS:
        values, _ = call(name, period, n=3000)
        assert low <= np.nanmin(values) and np.nanmax(values) <= high, period


@pytest.mark.parametrize("name", list(INDICATORS))
def test_stated_unit_is_measured(name):
    """Prices times 4 (exact in float32): a price-unit output scales by 4, a pure number stays put."""
    function = getattr(velkized_ta, name)
    bars = sample_ohlc(300, seed=7)
    kwargs = example_arguments(function, bars, 14)
    scaled = {key: value * np.float32(4) if isinstance(value, np.ndarray) else value for key, value in kwargs.items()}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        values, values_scaled = function(**kwargs), function(**scaled)
    factor = 4 if INDICATORS[name].in_price_units else 1
    np.testing.assert_array_equal(values_scaled, values * np.float32(factor))


# What a text claims about an output: a price-valued quantity, a pure number, a closed range.
PRICE_CLAIM = re.compile(r"price units|in their units")
NUMBER_CLAIM = re.compile(r"fraction|ratio|points|standard deviations")
RANGE_CLAIM = re.compile(r"([−-]?\d+)\s*(?:…|\.\.\.)\s*([−-]?\d+)")


def _lead(page):
    """An indicator page's opening paragraph (after the title)."""
    return page.read_text().split("\n\n")[1]


def _stated_texts():
    """(source, function, text) for every place that states an output's unit or range."""
    root = pathlib.Path(__file__).resolve().parents[1]
    stub = ast.parse(pathlib.Path(velkized_ta.__file__).with_name("velk_ta_funcs.pyi").read_text())
    for node in stub.body:
        if isinstance(node, ast.FunctionDef):
            yield "velk_ta_funcs.pyi", node.name, "\n\n".join(ast.get_docstring(node).split("\n\n")[:2])
    for page in sorted((root / "docs" / "indicators").glob("velk_*.md")):
        yield str(page.relative_to(root)), page.stem, _lead(page)
    for name, indicator in INDICATORS.items():
        yield "catalog", name, indicator.unit
    frontend = pytest.importorskip("velkized_ta._frontend")
    for short, spec in frontend.INDICATORS.items():
        yield "front-end summary", spec.function, spec.summary
        for module in ("velkized_ta.pandas", "velkized_ta.polars"):
            try:
                layer = importlib.import_module(module)
            except ImportError:
                continue
            method = getattr(layer._Accessor if module.endswith("pandas") else layer, short)
            yield module, spec.function, method.__doc__.split("\n\n")[0]


def test_stated_units_and_ranges_agree_with_the_catalogue():
    wrong = []
    for source, name, text in _stated_texts():
        text = " ".join(text.split())
        indicator = INDICATORS[name]
        if PRICE_CLAIM.search(text) and not indicator.in_price_units:
            wrong.append(f"{source} {name}: says price units, the output is {indicator.unit}")
        if NUMBER_CLAIM.search(text) and indicator.in_price_units:
            wrong.append(f"{source} {name}: says a pure number, the output is {indicator.unit}")
        for low, high in RANGE_CLAIM.findall(text):
            stated = tuple(float(v.replace("−", "-")) for v in (low, high))
            if stated != indicator.bounds:
                wrong.append(f"{source} {name}: states {low} … {high}, measured bounds {indicator.bounds}")
    assert wrong == []
