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



def test_a_nan_sign_alone_is_counted_apart_from_differences_of_value(monkeypatch):
    """Machines and compilers may leave a NaN's sign differently; every other difference still counts."""
    import collections

    import numpy as np

    tool = _tool()
    positive = np.array([1.0, np.nan, 3.0], dtype=np.float32)
    negative = positive.copy()
    negative[1] = -negative[1]
    given = {"f|sign|n=3": negative, "f|value|n=3": np.array([1.0, np.nan, 4.0], dtype=np.float32),
             "f|position|n=3": np.array([np.nan, 2.0, 3.0], dtype=np.float32), "f|none|n=3": positive}

    def results(arrays):
        cases, same_nans = {}, {}
        for case, array in arrays.items():
            monkeypatch.setattr(tool, "_call", lambda function, kwargs, array=array: array)
            cases[case], _, canonical = tool._outcome("f", {}, False, nan_digest=True)
            if canonical is not None:
                same_nans[case] = canonical
        return {"meta": {"inputs": "i"}, "cases": cases, "same_nans": same_nans}

    expected, actual = results({case: positive for case in given}), results(given)
    nan_signs = collections.Counter()
    lines, compared = tool.differences(expected, actual, nan_signs)
    assert compared == 4
    assert [line.split(":")[0] for line in lines] == ["f|value|n=3", "f|position|n=3"]
    assert nan_signs == {"f": 1}
    strict, _ = tool.differences(expected, actual)
    assert len(strict) == 3, "without a counter a NaN's sign is a difference like any other"


def test_every_classic_indicator_is_in_the_compared_results():
    """The classic cases give values (not an error from mis-mapped inputs) and stay out of the frozen file."""
    tool = _tool()
    from velkized_ta import classic

    ids = list(tool.classic_cases())
    assert {case.split("|")[0] for case in ids} == {tool.CLASSIC + name for name in classic.NAMES}
    assert not set(ids) & set(tool.load(tool.SNAPSHOT)["cases"])
    for case_id in ids:
        if "|walk|n=300" in case_id:
            function, kwargs = tool.arguments(case_id)
            text = tool._outcome(function, kwargs, False)[0]
            assert text.startswith(("ndarray", "tuple")) and "nan=" in text, (case_id, text)
