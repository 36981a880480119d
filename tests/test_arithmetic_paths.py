"""The FMA-unit and portable builds of the fused steps must give identical bits."""

import json
import os
import subprocess
import sys

import numpy as np

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
json.dump(results, sys.stdout)
"""


def run(portable):
    env = dict(os.environ)
    env.pop("VELKIZED_TA_PORTABLE_FMA", None)
    if portable:
        env["VELKIZED_TA_PORTABLE_FMA"] = "1"
    out = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True,
                         cwd=os.path.dirname(__file__))
    return json.loads(out.stdout)


def test_fma_unit_and_library_fma_agree_bit_for_bit():
    hardware, portable = run(False), run(True)
    assert hardware.keys() == portable.keys() and "velk_ema" in hardware
    differing = [name for name in hardware if hardware[name] != portable[name]]
    assert differing == []
    some = np.frombuffer(bytes.fromhex(hardware["velk_ema"]), dtype=np.float32)
    assert np.isfinite(some[1:]).all()
