"""The builds a loop can run from must give identical bits: the FMA unit or the C library's fma
for the fused steps, and the widest vector unit or the narrow build for element-wise passes."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

SCRIPT = r"""
import json, sys
import numpy as np
from velkized_ta import velk_ta_funcs, FUNCTION_NAMES
from velkized_ta.sample import example_arguments, sample_ohlc

bars = sample_ohlc(3000)
results = {}
for name in FUNCTION_NAMES:
    function = getattr(velk_ta_funcs, name)
    kwargs = example_arguments(function, bars, 13)
    results[name] = function(**kwargs).tobytes().hex()
# Zeros and NaNs at every lane position of the wide passes, over lengths around their width.
x = np.tile(np.array([1.5, 0.0, -0.0, np.nan, 2.0, -3.0, np.inf], dtype=np.float32), 10)
for n in (0, 15, 16, 17, 33, 63):
    results[f"velk_rdif {n}"] = velk_ta_funcs.velk_rdif(x[:n], x[1:n + 1]).tobytes().hex()
    results[f"velk_adif {n}"] = velk_ta_funcs.velk_adif(x[:n], x[1:n + 1]).tobytes().hex()
    results[f"velk_roc {n}"] = velk_ta_funcs.velk_roc(x[:n], 3).tobytes().hex()
json.dump(results, sys.stdout)
"""


def run(*forced):
    env = dict(os.environ)
    for name in ("VELKIZED_TA_PORTABLE_FMA", "VELKIZED_TA_NARROW_VECTORS"):
        env.pop(name, None)
    for name in forced:
        env[name] = "1"
    out = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True,
                         cwd=os.path.dirname(__file__))
    return json.loads(out.stdout)


@pytest.mark.parametrize("forced", [("VELKIZED_TA_PORTABLE_FMA",), ("VELKIZED_TA_NARROW_VECTORS",),
                                    ("VELKIZED_TA_PORTABLE_FMA", "VELKIZED_TA_NARROW_VECTORS")])
def test_every_build_agrees_bit_for_bit(forced):
    hardware, portable = run(), run(*forced)
    assert hardware.keys() == portable.keys() and "velk_ema" in hardware
    differing = [name for name in hardware if hardware[name] != portable[name]]
    assert differing == []
    some = np.frombuffer(bytes.fromhex(hardware["velk_ema"]), dtype=np.float32)
    assert np.isfinite(some[1:]).all()
