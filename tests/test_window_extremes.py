"""Window extremes: the whole-series scans give what the position queues give, bit for bit.

The scans (doubling for short windows, block folds for long ones) pick, among equal extremes,
the newest, and hand stretches holding a NaN to a queue. The cases are built to catch a wrong
pick: ties (+0 against -0), NaN runs, monotone runs, windows of 1 and 2 and around powers of two.
"""

import os
import pathlib
import shutil
import subprocess
import sysconfig

import numpy as np
import pytest

from velkized_ta import stream, velk_ta_funcs as exact

pytestmark = pytest.mark.every_dispatch

ROOT = pathlib.Path(__file__).resolve().parent.parent


def _has_fma():
    try:
        return " fma " in pathlib.Path("/proc/cpuinfo").read_text()
    except OSError:
        return False


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs a C++ compiler")
@pytest.mark.parametrize("target", [[], ["-mfma"]], ids=["portable", "fma-unit"])
def test_scans_match_the_slot_queues(tmp_path, target):
    if target and not _has_fma():
        pytest.skip("the CPU has no FMA unit")
    program = tmp_path / "extremes_check"
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    sanitize = ["-fsanitize=address,undefined", "-fno-sanitize-recover=all"] if os.environ.get("VELK_SANITIZE_RUN") else []
    subprocess.run(
        ["g++", "-std=c++20", "-O2", "-ffp-contract=off", "-Wno-psabi", *target, *sanitize,
         f"-I{ROOT / 'velkized_ta'}", f"-I{sysconfig.get_paths()['include']}",
         str(ROOT / "tests" / "native" / "extremes_check.cpp"), "-o", str(program)],
        check=True, capture_output=True, text=True, env=env)
    result = subprocess.run([str(program)], capture_output=True, text=True, env=env)
    assert result.returncode == 0, result.stdout
    assert int(result.stdout) > 1_000_000


def _prices(kind, n, rng):
    """(high, low, close) float32 series of one kind."""
    if kind == "ties":
        high = rng.integers(0, 3, n).astype(np.float32)
        low = -rng.integers(0, 3, n).astype(np.float32)
    elif kind == "signed zeros":
        high = np.where(rng.random(n) < 0.5, np.float32(0.0), np.float32(-0.0)).astype(np.float32)
        low = high[::-1].copy()
    elif kind == "monotone":
        ramp = np.repeat(np.arange(n // 4 + 1, dtype=np.float32), 4)[:n]
        high = np.concatenate([ramp[: n // 2], ramp[: n - n // 2][::-1]])
        low = high - np.float32(1)
    else:  # NaN runs, some longer than the window
        high = rng.integers(0, 4, n).astype(np.float32) + np.float32(2)
        low = high - rng.integers(1, 3, n).astype(np.float32)
        for start, length in ((5, 1), (60, 3), (200, 20), (n - 2, 2)):
            high[start:start + length] = np.nan
        low[130:134] = np.nan
    close = (high + low) * np.float32(0.5) + np.float32(0.25)
    return high, low, close


@pytest.mark.parametrize("kind", ["ties", "signed zeros", "monotone", "nan runs"])
@pytest.mark.parametrize("name", ["velk_mid", "velk_willr", "velk_stochf", "velk_wick"])
def test_functions_match_the_live_queues(name, kind):
    # The live handle's update steps its position queues one bar at a time.
    n = 700
    high, low, close = _prices(kind, n, np.random.default_rng(len(kind)))
    series = (high, low, close)
    for period in (1, 2, 3, 8, 16, 17):
        h = getattr(stream, name)(*(s[:0] for s in series), period)
        want = np.array([h.update(*(float(s[i]) for s in series)) for i in range(n)], dtype=np.float32)
        for strided in (False, True):
            args = [np.repeat(s, 2)[::2] if strided else s for s in series]
            got = getattr(exact, name)(*args, period)
            assert np.array_equal(got.view(np.uint32), want.view(np.uint32)), (period, strided)


def test_a_zero_close_stops_the_midpoint_where_the_queues_stopped(restore_module_globals):
    # Written eight positions at a time, yet an output a rebound np.full hands out shows the
    # positions before the zero written and none after, as the position-by-position loop left it.
    held = []

    class KeepingNumpy:
        def __getattr__(self, name):
            return getattr(np, name)

        def full(self, *args, **kwargs):
            held.append(np.full(*args, **kwargs))
            return held[-1]

    high, low, close = _prices("ties", 64, np.random.default_rng(3))
    close[29] = 0.0
    restore_module_globals.np = KeepingNumpy()
    with pytest.raises(ZeroDivisionError):
        exact.velk_mid(high, low, close, 5)
    h = stream.velk_mid(high[:0], low[:0], close[:0], 5)
    want = np.array([h.update(float(a), float(b), float(c)) for a, b, c in zip(high[:29], low[:29], close[:29])],
                    dtype=np.float32)
    assert np.array_equal(held[0][:29].view(np.uint32), want.view(np.uint32))
    assert np.isnan(held[0][29:]).all()
