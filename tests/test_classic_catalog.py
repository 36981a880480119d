"""Every classic registry entry has its catalogue entry, its docs page, navigation item, index and
name-table rows; the stated first values hold; each page's example of every route runs and gives
the function's bits."""

import importlib.util
import pathlib
import sys

import numpy as np
import pytest
from classic_cases import bars, cases

from velkized_ta import classic
from velkized_ta.catalog import CLASSIC, classic_by_group

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "docs" / "tools"


@pytest.fixture(scope="module")
def pages():
    sys.path.insert(0, str(TOOLS))
    try:
        spec = importlib.util.spec_from_file_location("classic_pages", TOOLS / "classic_pages.py")
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        yield module
    finally:
        sys.path.remove(str(TOOLS))


def test_catalogue_holds_every_registry_entry():
    assert list(CLASSIC) == list(classic.NAMES)
    for entry in classic.REGISTRY:
        item = CLASSIC[entry["name"]]
        assert (item.group, item.inputs, item.outputs, item.title) == (
            entry["group"], tuple(entry["inputs"]), tuple(entry["outputs"]), entry["summary"])
        # The TA-Lib name the comparison text gives, where TA-Lib has the function.
        assert item.talib is None or f"TA-Lib {item.talib}" in entry["doc"]
    listed = [item.name for _, members in classic_by_group() for item in members]
    assert sorted(listed) == sorted(CLASSIC)


@pytest.mark.parametrize(("name", "params"), cases())
def test_stated_first_value_is_the_first_value(name, params):
    entry = CLASSIC[name]
    data = bars(300, 9)
    values = getattr(classic, name)(*(data[i] for i in entry.inputs), **params)
    firsts = entry.first_positions(**params)
    assert list(firsts) == list(entry.outputs) and max(firsts.values()) == entry.warm_up(**params)
    for output, first in zip(values if isinstance(values, tuple) else (values,), firsts.values()):
        assert int(np.flatnonzero(~np.isnan(output))[0]) == first


def test_every_entry_has_a_page_a_nav_item_and_index_rows(pages):
    nav = [path for group in pages.nav() for members in group.values() for item in members for path in item.values()]
    assert sorted(nav) == sorted(f"indicators/classic/{name}.md" for name in classic.NAMES)
    index, names = pages.index_by_group(), pages.names_table()
    for name, entry in CLASSIC.items():
        text = pages.page(name, "chart.png")
        formula, notes, comparison = pages.split_doc(entry.doc)
        for part in (f"# classic.{name} ", formula, comparison, "## Parameters", "## NaN bars", "## Chart",
                     "![", "many = batch.", "handle = stream.", "vp.classic.", ".velk.classic."):
            assert part and part in text, (name, part)
        for p in entry.params:  # every parameter with its range
            assert f"| `{p['name']}` | {p['kind']} | `{p['default']!r}` | {pages.number(p['min'])} … " in text
        assert f"position `{entry.warm_up()}`" in text
        assert f"(classic/{name}.md)" in index and f"[`classic.{name}`](classic/{name}.md)" in names
        if entry.talib:
            assert f"| `{entry.talib}` |" in names


@pytest.mark.parametrize("name", classic.NAMES)
def test_each_page_example_runs_and_gives_the_function_bits(name, pages):
    pd = pytest.importorskip("pandas")
    pytest.importorskip("polars")
    entry = CLASSIC[name]
    namespace = {}
    exec(compile(pages.calls(entry), f"classic page {name}", "exec"), namespace)
    bars_frame = namespace["bars"]
    inputs = [bars_frame[pages.sample_column(i)].to_numpy() for i in entry.inputs]
    want = getattr(classic, name)(*inputs)
    want = want if isinstance(want, tuple) else (want,)
    frame = namespace["frame"]
    frame = frame.to_frame() if isinstance(frame, pd.Series) else frame
    table = namespace["table"].to_series()
    table = table.struct.unnest() if table.dtype.is_nested() else table.to_frame()
    many = namespace["many"] if isinstance(namespace["many"], tuple) else (namespace["many"],)
    latest = namespace["latest"] if isinstance(namespace["latest"], tuple) else (namespace["latest"],)
    for k, values in enumerate(want):
        for got in (frame.iloc[:, k].to_numpy(), table.to_numpy()[:, k], many[k][:, 0]):
            assert np.array_equal(got, values, equal_nan=True), name
        assert np.array_equal([latest[k]], values[-1:], equal_nan=True)
