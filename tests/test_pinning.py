"""Arrays a call is using cannot be freed under it, and sibling cycles end in RecursionError.

Each case runs in a child process: before arrays were pinned these programs died of a
segmentation fault or a heap-corruption abort, which would take the test run down.
A case passes when the child exits normally (an ordinary exception included); it prints
how each attempt to free ended.
"""

import os
import subprocess
import sys
import textwrap

import pytest

REFUSED = "cannot resize an array that references or is referenced"

FREE_UNDER_CALL = {
    # Another thread frees the input while the loop runs without the GIL.
    "input_freed_by_thread": """
        import threading, time
        G = [np.ones(10 * N, dtype=np.float32)]
        t = threading.Thread(target=lambda: m.velk_sma(G[0], 10))
        t.start()
        time.sleep(0.01)
        attempt(lambda: G.pop().resize(0))
        t.join()
    """,
    # Python code running mid-call (a warning hook) frees an input.
    "input_freed_by_warning_hook": """
        import warnings
        x = np.linspace(1, 2, N, dtype=np.float32)
        G = [x, x - 0.5, x - 0.25]; del x
        warnings.showwarning = lambda *a, **k: attempt(lambda: G.pop().resize(0))
        warnings.simplefilter("always")
        m.velk_natr(G[0], G[1], G[2], 0)
    """,
    # A rebound sibling frees the first stage the composite already views.
    "stage_freed_by_rebound_sibling": """
        orig, G = m.velk_ema, []
        def ema(x, *a, **k):
            r = orig(x, *a, **k); del x
            if G: attempt(lambda: G.pop().resize(0))
            else: G.append(r)
            return r
        m.velk_ema = ema
        m.velk_dema(np.linspace(1, 2, N, dtype=np.float32), timeperiod=10)
    """,
    # A rebound np.full hands out the output, a rebound sibling frees it before it is written.
    "output_freed_by_rebound_sibling": """
        import types
        orig_ema, G = m.velk_ema, []
        def full(*a, **k):
            r = np.full(*a, **k)
            if not G: G.append(r)
            return r
        m.np = types.SimpleNamespace(**{**vars(np), "full": full})
        def ema(x, *a, **k):
            r = orig_ema(x, *a, **k); del x
            if G: attempt(lambda: G.pop().resize(0))
            return r
        m.velk_ema = ema
        m.velk_tema(np.linspace(1, 2, N, dtype=np.float32), timeperiod=10)
    """,
    # A rebound np.full frees an input while the call is allocating its output.
    "input_freed_by_rebound_allocation": """
        import types
        x = np.linspace(1, 2, N, dtype=np.float32)
        G = [x]; del x
        def full(*a, **k):
            if G: attempt(lambda: G.pop().resize(0))
            return np.full(*a, **k)
        m.np = types.SimpleNamespace(**{**vars(np), "full": full})
        m.velk_rsi(G[0], 14)
    """,
    # Work arrays and position queues handed out by a rebound np.zeros, freed by the next allocation.
    "work_array_freed_by_rebound_allocation": """
        import types
        G = []
        def zeros(*a, **k):
            if G: attempt(lambda: G.pop().resize(0))
            r = np.zeros(*a, **k); G.append(r)
            return r
        m.np = types.SimpleNamespace(**{**vars(np), "zeros": zeros})
        x = np.linspace(1, 2, N, dtype=np.float32)
        m.velk_mid(x, x - 0.5, x - 0.25, 10)
        m.velk_dx(x, x - 0.5, x - 0.25, 10)
    """,
}

PRELUDE = """
import sys, numpy as np, velkized_ta.velk_ta_funcs as m
N = {n}
def attempt(free):
    try:
        free()
        print("freed", flush=True)
    except ValueError as error:
        assert "{refused}" in str(error), error
        print("refused", flush=True)
"""


def run_child(body, n=2_000_000, timeout=120):
    # An ordinary exception is a clean outcome (these calls may fail as specified, e.g. period 0).
    code = (PRELUDE.format(n=n, refused=REFUSED) + "try:\n" + textwrap.indent(textwrap.dedent(body), "    ")
            + "\nexcept Exception as error:\n    print('raised', type(error).__name__, flush=True)\n")
    # From the tests folder, so the installed package is imported rather than the source tree.
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout,
                          cwd=os.path.dirname(__file__))


@pytest.mark.parametrize("case", sorted(FREE_UNDER_CALL))
def test_arrays_in_use_cannot_be_freed(case):
    child = run_child(FREE_UNDER_CALL[case])
    assert child.returncode == 0, (child.returncode, child.stdout, child.stderr[-2000:])
    if case != "input_freed_by_thread":  # the thread may finish before the attempt
        assert "refused" in child.stdout.split(), child.stdout


def test_arrays_are_released_when_the_call_ends():
    child = run_child("""
        x = np.ones(1000, dtype=np.float32)
        before = sys.getrefcount(x)
        out = m.velk_dema(x, timeperiod=5)
        assert sys.getrefcount(x) == before and sys.getrefcount(out) == 2
        x.resize(0); out.resize(0)
        print("ok")
    """)
    assert child.returncode == 0 and child.stdout.split() == ["ok"], (child.stdout, child.stderr[-2000:])


CYCLE = """
m.velk_adx = m.velk_adxr
c = np.linspace(1, 2, 100, dtype=np.float32)
def cycle():
    try:
        m.velk_adxr(c, c, c, 5)
    except RecursionError:
        print("RecursionError", flush=True)
"""


@pytest.mark.parametrize("stack_size, limit", [
    (None, 1000),
    (None, 100_000),
    (256 << 10, 100_000),
    (2 << 20, 4000),
])
def test_sibling_cycles_end_in_recursion_error(stack_size, limit):
    run = "cycle()" if stack_size is None else (
        f"import threading; threading.stack_size({stack_size}); "
        "t = threading.Thread(target=cycle); t.start(); t.join()")
    child = run_child(f"sys.setrecursionlimit({limit})" + CYCLE + run)
    assert child.returncode == 0 and child.stdout.split() == ["RecursionError"], (
        child.returncode, child.stdout, child.stderr[-2000:])


def test_legitimate_nesting_works_on_a_small_stack():
    child = run_child("""
        import threading
        threading.stack_size(256 << 10)
        c = np.linspace(1, 2, 100, dtype=np.float32)
        def nested():
            # Three levels through rebound siblings that are thin Python wrappers.
            orig_adx, orig_dx = m.velk_adx, m.velk_dx
            m.velk_adx = lambda *a: orig_adx(*a)
            m.velk_dx = lambda *a: orig_dx(*a)
            result = m.velk_adxr(c, c + 1, c - 1, 5)
            print("ok" if result.shape == c.shape else "bad", flush=True)
        t = threading.Thread(target=nested); t.start(); t.join()
    """)
    assert child.returncode == 0 and child.stdout.split() == ["ok"], (child.stdout, child.stderr[-2000:])
