"""Every Python example in the documentation and the README runs.

The blocks of one page run in order in one namespace, as a reader would paste them.
"""

import importlib.util
import pathlib
import re
import textwrap

import pytest

from velkized_ta.catalog import INDICATORS

ROOT = pathlib.Path(__file__).resolve().parents[1]
PAGES = sorted((ROOT / "docs").rglob("*.md")) + [ROOT / "README.md"]
# Libraries of the front-ends: pages that use them run where tests/requirements.txt is installed.
OPTIONAL_LIBRARIES = ("pandas", "polars", "dask")
FENCE = re.compile(r"^([ \t]*)```(\w*)[^\n]*\n(.*?)^\1```", re.S | re.M)


def python_blocks(page):
    return [textwrap.dedent(body) for _, language, body in FENCE.findall(page.read_text())
            if language in ("python", "py")]


def page_id(page):
    return str(page.relative_to(ROOT))


@pytest.mark.parametrize("page", [page for page in PAGES if python_blocks(page)], ids=page_id)
def test_examples_run(page, tmp_path, monkeypatch):
    for library in OPTIONAL_LIBRARIES:
        if any(re.search(rf"^\s*import {library}\b", code, re.M) for code in python_blocks(page)) \
                and importlib.util.find_spec(library) is None:
            pytest.skip(f"the examples of {page_id(page)} use {library}, not installed here "
                        "(tests/requirements.txt)")
    monkeypatch.chdir(tmp_path)  # an example that writes a file leaves the checkout alone
    namespace = {"__name__": "__docs_example__"}
    for number, code in enumerate(python_blocks(page), 1):
        exec(compile(code, f"{page_id(page)}, example {number}", "exec"), namespace)


def test_every_indicator_page_has_an_example():
    pages = {page.stem: page for page in (ROOT / "docs" / "indicators").glob("velk_*.md")}
    assert sorted(pages) == sorted(INDICATORS)
    assert [name for name, page in pages.items() if not python_blocks(page)] == []


def _page_tools():
    tools = ROOT / "docs" / "tools"
    spec = importlib.util.spec_from_file_location("docs_pages", tools / "pages.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.mark.parametrize("name", sorted(INDICATORS))
def test_generated_route_examples_run(name, tmp_path, monkeypatch):
    """The pandas, polars, batch and stream calls each indicator page shows run and agree."""
    for library in ("pandas", "polars"):
        pytest.importorskip(library, reason="the route examples use the front-ends (tests/requirements.txt)")
    block = _page_tools().routes(name)
    code = FENCE.findall(block + "\n")[0][2]
    monkeypatch.chdir(tmp_path)
    exec(compile(code, f"{name} routes", "exec"), {"__name__": "__docs_example__"})


def test_the_demo_prints_every_indicator_of_both_families(capsys):
    """`make demo` (examples/demo.py) without its chart: a row for every indicator of both families,
    each classic one called with every input it takes, optional ones included."""
    spec = importlib.util.spec_from_file_location("demo", ROOT / "examples" / "demo.py")
    demo = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(demo)
    demo.print_table(demo.sample_ohlc())
    demo.print_classic_table()
    printed = capsys.readouterr().out
    from velkized_ta import classic

    for name in list(INDICATORS) + list(classic.NAMES):
        assert re.search(rf"^{name}\s", printed, re.M), name
