"""MkDocs hook: fills the pages' generated parts at build time.

A page asks for a part with a line `<!-- generated: NAME [ARGUMENT] -->`:

- `facts`: an indicator page's signature, parameter table, output facts and chart (the page's file
  name is the function's name);
- `routes`: an indicator page's runnable example of the pandas, polars, batch and stream calls;
- `periods`: what periods below 2 give on the sample bars, measured;
- `overview`: the table of all indicators;
- `classic_index`, `classic_names`: the classic indicators by group, and the table from TA-Lib's and
  pandas-ta's names to ours.

Each classic indicator's page (`indicators/classic/<name>.md`), chart and place in the navigation
come from the classic registry at build time (classic_pages.py): no page file to write.
- `precision lin|cci|sma|history`: a table measured by precision.py on this build's package;
- `benchmark`: benchmarks/RESULTS.md and its chart;
- `results NAME`: benchmarks/NAME.md (MANY_SERIES, STREAM), written by `make bench`;
- `architecture`: ARCHITECTURE.md from the repository's root, or a pointer to it while it is absent.

It also copies MathJax (its single-file TeX-to-SVG build and licence) from the django-static-mathjax
package into the site, so formulas render without a network.
"""

import importlib.util
import pathlib
import re
import sys

from mkdocs.exceptions import PluginError
from mkdocs.structure.files import File

TOOLS = pathlib.Path(__file__).resolve().parent
ROOT = TOOLS.parents[1]
sys.path.insert(0, str(TOOLS))

import charts  # noqa: E402
import classic_pages  # noqa: E402
import pages  # noqa: E402
import precision  # noqa: E402

MARKER = re.compile(r"^<!-- generated: (\w+)(?: (\w+))? -->$", re.M)
CHART_DIR = "assets/charts"
RATIOS = "assets/ratios.png"
_sample_calls = {}
_precision = {}


MATHJAX_FILES = {"es5/tex-svg-full.js": "javascripts/mathjax/tex-svg-full.js",
                 "LICENSE": "javascripts/mathjax/LICENSE"}


def _mathjax_dir():
    spec = importlib.util.find_spec("mathjax")
    if spec is None or spec.origin is None:
        raise PluginError("MathJax is missing: pip install -r docs/requirements.txt (django-static-mathjax)")
    path = pathlib.Path(spec.origin).parent / "static" / "mathjax"
    if not (path / "es5" / "tex-svg-full.js").exists():
        raise PluginError(f"{path} holds no es5/tex-svg-full.js: install django-static-mathjax")
    return path


def on_config(config):
    """The indicators' pages join the navigation after their overview, by family (from the
    catalogue), then the classic pages, by group."""
    for item in config["nav"]:
        if isinstance(item, dict) and "Indicators" in item:
            item["Indicators"].extend(pages.nav())
            item["Indicators"].append({"Classic (textbook, float64)": classic_pages.nav()})
            return config
    raise PluginError("mkdocs.yml's nav has no 'Indicators' section for the classic pages")


def on_files(files, config):
    mathjax = _mathjax_dir()
    for source, target in MATHJAX_FILES.items():
        files.append(File.generated(config, target, abs_src_path=str(mathjax / source)))
    out = ROOT / "build" / "docs-charts"
    out.mkdir(parents=True, exist_ok=True)
    for name in pages.INDICATORS:
        path = out / f"{name}.png"
        _sample_calls[name] = charts.draw(name, path)
        files.append(File.generated(config, f"{CHART_DIR}/{name}.png", abs_src_path=str(path)))
    for name in classic_pages.CLASSIC:
        path = out / f"classic_{name}.png"
        charts.draw_classic(name, path)
        files.append(File.generated(config, f"{CHART_DIR}/classic/{name}.png", abs_src_path=str(path)))
        page = f"{classic_pages.PAGE_DIR}/{name}.md"
        content = classic_pages.page(name, "../" * page.count("/") + f"{CHART_DIR}/classic/{name}.png")
        files.append(File.generated(config, page, content=content))
    files.append(File.generated(config, RATIOS, abs_src_path=str(ROOT / "benchmarks" / "ratios.png")))
    return files


def _relative(page, target):
    depth = page.file.src_uri.count("/")
    return "../" * depth + target


def _precision_table(which):
    if which not in _precision:
        _precision[which] = getattr(precision, f"{which}_table")()
    return _precision[which]


def _benchmark(page):
    text = (ROOT / "benchmarks" / "RESULTS.md").read_text()
    text = text.split("\n", 1)[1]  # the page has its own title
    return text.replace("](ratios.png)", f"]({_relative(page, RATIOS)})")


def _results(name):
    path = ROOT / "benchmarks" / f"{name}.md"
    if not path.exists():
        return f"`make bench` writes these figures to `benchmarks/{name}.md`; this build has none yet."
    return re.sub(r"\A#+ .*\n", "", path.read_text())  # the page has its own headings


def _architecture():
    path = ROOT / "ARCHITECTURE.md"
    if not path.exists():
        return ("The repository's `ARCHITECTURE.md` is not part of this build; read it at the root of a checkout. "
                "Until then, the layout in the README names the parts: the module entry, the calling frame "
                "and the indicator sources.")
    text = path.read_text()
    text = re.sub(r"\A# .*\n", "", text)  # the page has its own title
    # Links into the repository have no page here: keep their text as code.
    return re.sub(r"\[([^\]]+)\]\((?!https?://|#)[^)]+\)", r"`\1`", text)


def on_page_markdown(markdown, page, config, files):
    def expand(match):
        name, argument = match.groups()
        if name == "facts":
            function = pathlib.PurePosixPath(page.file.src_uri).stem
            chart = f"{CHART_DIR}/{function}.png"
            return pages.facts(function, _sample_calls[function], _relative(page, chart))
        if name == "routes":
            return pages.routes(pathlib.PurePosixPath(page.file.src_uri).stem)
        if name == "periods":
            return pages.small_periods(pathlib.PurePosixPath(page.file.src_uri).stem)
        if name == "overview":
            return pages.overview_table()
        if name == "classic_index":
            return classic_pages.index_by_group()
        if name == "classic_names":
            return classic_pages.names_table()
        if name == "precision":
            return _precision_table(argument)
        if name == "benchmark":
            return _benchmark(page)
        if name == "results":
            return _results(argument)
        if name == "architecture":
            return _architecture()
        raise PluginError(f"{page.file.src_uri}: unknown generated part {name!r}")

    return MARKER.sub(expand, markdown)
