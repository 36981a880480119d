"""The installed distribution describes itself as the package does: version, licence, extras."""

import importlib.metadata as metadata
import re

import velkized_ta


def test_version_comes_from_the_package():
    # The build reads __version__ from the package source; a wheel with any other version was
    # built from another tree or with the version provider miswired.
    assert metadata.version("velkized_ta") == velkized_ta.__version__
    assert re.fullmatch(r"\d+\.\d+\.\d+(\.dev\d+|rc\d+)?", velkized_ta.__version__)


def test_metadata_states_licence_pythons_and_extras():
    meta = metadata.metadata("velkized_ta")
    assert meta["License-Expression"] == "MIT"
    licence_files = [f for f in metadata.files("velkized_ta") if f.name == "LICENSE"]
    assert licence_files and "MIT License" in licence_files[0].read_text()
    classifiers = meta.get_all("Classifier")
    assert [c for c in classifiers if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)] == [
        f"Programming Language :: Python :: 3.{minor}" for minor in range(9, 14)]
    assert meta["Requires-Python"] == ">=3.9"
    assert set(meta.get_all("Provides-Extra")) >= {"pandas", "polars", "dask", "all", "test"}
    requires = meta.get_all("Requires-Dist")
    for extra, library in (("pandas", "pandas"), ("polars", "polars"), ("dask", "dask")):
        assert any(r.startswith(library) and f'extra == "{extra}"' in r for r in requires), (extra, requires)
        assert any(extra in r and 'extra == "all"' in r for r in requires), (extra, requires)
