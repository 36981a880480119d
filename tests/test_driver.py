"""The loop driver's unchecked stretch, checked exhaustively on small cases by a native program."""

import os
import pathlib
import shutil
import subprocess
import sysconfig

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs a C++ compiler")
def test_split_runs_match_always_checked_runs(tmp_path):
    program = tmp_path / "driver_check"
    # Under the sanitizer run the program is instrumented itself, not given the preloaded runtime.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    sanitize = ["-fsanitize=address,undefined", "-fno-sanitize-recover=all"] if os.environ.get("VELK_SANITIZE_RUN") else []
    subprocess.run(
        ["g++", "-std=c++20", "-O1", "-ffp-contract=off", *sanitize, f"-I{ROOT / 'velkized_ta'}",
         f"-I{sysconfig.get_paths()['include']}", str(ROOT / "tests" / "native" / "driver_check.cpp"),
         "-o", str(program)],
        check=True, capture_output=True, text=True, env=env)
    result = subprocess.run([str(program)], capture_output=True, text=True, env=env)
    assert result.returncode == 0, result.stdout
    assert int(result.stdout) > 100_000
