"""The loop driver's unchecked stretch, checked exhaustively on small cases by a native program."""

import pathlib
import shutil
import subprocess
import sysconfig

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs a C++ compiler")
def test_split_runs_match_always_checked_runs(tmp_path):
    program = tmp_path / "driver_check"
    subprocess.run(
        ["g++", "-std=c++20", "-O1", "-ffp-contract=off", f"-I{ROOT / 'velkized_ta'}",
         f"-I{sysconfig.get_paths()['include']}", str(ROOT / "tests" / "native" / "driver_check.cpp"),
         "-o", str(program)],
        check=True, capture_output=True, text=True)
    result = subprocess.run([str(program)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout
    assert int(result.stdout) > 100_000
