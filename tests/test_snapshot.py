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


def test_comparing_two_results_files_names_each_difference(tmp_path):
    """The comparison other machines' runs rely on: cases compared, each difference, the first differing position."""
    import base64

    import numpy as np

    tool = _tool()

    def results(values, extra=()):
        encoded = base64.b64encode(np.asarray(values, dtype=np.float32).tobytes()).decode()
        cases = {"a": "same", "b": f"digest of {values}", **{c: "x" for c in extra}}
        return {"meta": {"inputs": "i"}, "cases": cases, "values": {"b": encoded}}

    tool.save(results([1.0, 2.0, 3.0]), tmp_path / "x.json.gz")
    tool.save(results([1.0, 2.0, np.nextafter(np.float32(3), np.float32(4))], extra=["c"]), tmp_path / "y.json.gz")
    lines, compared = tool.differences(tool.load(tmp_path / "x.json.gz"), tool.load(tmp_path / "y.json.gz"))
    assert compared == 2
    assert lines[0].startswith("b:") and "1 positions differ, first 2" in lines[0] and "1 units" in lines[0]
    assert lines[1] == "c: not in the expected file"
