"""The frozen module gives, bit for bit, what the recorded snapshot says (tools/snapshot.py).

Every result, NaN position, exception (type and message) and warning of the generated corpus
is compared, so a changed rounding step of any shared state or step shows up here even where
the value tests compare within a tolerance, or where two routes share the changed step.
"""

import importlib.util
import pathlib

import pytest

TOOL = pathlib.Path(__file__).resolve().parent.parent / "tools" / "snapshot.py"


def _tool():
    spec = importlib.util.spec_from_file_location("snapshot_tool", TOOL)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.mark.every_dispatch
def test_frozen_module_matches_the_recorded_snapshot():
    tool = _tool()
    expected = tool.load(tool.SNAPSHOT)
    lines, compared = tool.differences(expected, tool.results())
    assert compared == len(expected["cases"]) > 20000
    shown = "\n".join(lines[:8])
    assert not lines, (f"{len(lines)} of {compared} cases differ from tests/snapshot/frozen.json.gz; first:\n{shown}\n"
                       "(python tools/snapshot.py --show 'CASE' prints a case's arguments and outcome)")


def test_case_ids_give_back_their_arguments():
    """--show and the comparison name cases by id: the id alone must rebuild the call."""
    tool = _tool()
    ids = list(tool.cases())
    assert len(set(ids)) == len(ids)
    for case_id in ids[::97]:
        function, kwargs = tool.arguments(case_id)
        assert case_id.startswith(function + "|")
        for part in case_id.split("|")[3:]:
            if "=" in part:
                name, value = part.split("=")
                assert (kwargs[name] is None) == (value == "None"), case_id
