"""The module belongs to one interpreter: a sub-interpreter's import fails cleanly.

Each case runs in a child process, so a crash shows as a failed test instead of
taking the test run down.
"""

import subprocess
import sys
import textwrap

import pytest

MESSAGE = "Interpreter change detected - this module can only be loaded into one interpreter per process."

CHILD = textwrap.dedent('''
    import numpy as np
    import velkized_ta

    SUB = """
    try:
        import velkized_ta
    except ImportError as error:
        print("sub:", type(error).__name__, error, flush=True)
    else:
        print("sub: imported", flush=True)
    """


    def run_in_subinterpreter(code):
        """Runs code in a new sub-interpreter sharing this one's GIL; False when there is no way to."""
        try:
            import _interpreters as api  # 3.13 and later
            try:
                interp = api.create("legacy")
            except (TypeError, ValueError):
                interp = api.create()
        except ImportError:
            try:
                import _xxsubinterpreters as api  # 3.8 to 3.12
                try:
                    interp = api.create(isolated=False)
                except TypeError:
                    interp = api.create()
            except ImportError:
                try:
                    from _testcapi import run_in_subinterp
                except ImportError:
                    return False
                run_in_subinterp(code)
                return True
        try:
            api.run_string(interp, code)
        finally:
            api.destroy(interp)
        return True


    if not run_in_subinterpreter(SUB):
        print("no sub-interpreter API")
        raise SystemExit(0)
    run_in_subinterpreter(SUB)  # a second attempt fails the same way
    result = velkized_ta.velk_sma(np.arange(1, 6, dtype=np.float32), 2, False)
    print("main:", result.tolist(), flush=True)
''')


def test_second_interpreter_is_refused_without_crashing(tmp_path):
    child = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, cwd=tmp_path,
                           timeout=120, check=False)
    assert child.returncode == 0, child.stderr
    if "no sub-interpreter API" in child.stdout:
        pytest.skip("this Python offers no way to start a sub-interpreter")
    assert child.stdout.splitlines() == [
        f"sub: ImportError {MESSAGE}",
        f"sub: ImportError {MESSAGE}",
        "main: [nan, 1.5, 2.5, 3.5, 4.5]",
    ], child.stderr
