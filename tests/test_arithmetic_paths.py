"""The builds a loop can run from must give identical bits: the FMA unit or the C library's fma
for the fused steps, and the widest vector unit, AVX2 or the narrow build for the lanes."""

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
# Every combination of handed-in stages of the EMA chain (the one-pass shapes differ by flag).
import itertools
close = bars["close"]
s1 = velk_ta_funcs.velk_ema(close, 13, normalize=False)
s2, s3 = velk_ta_funcs.velk_ema(s1, 13, normalize=False), velk_ta_funcs.velk_ema2(s1, 13, True)
for one, two, three in itertools.product((False, True), repeat=3):
    first = s1 if one else close
    results[f"velk_tema {one} {two} {three}"] = velk_ta_funcs.velk_tema(
        first, s2, s3, 13, input3_is_ema3=three, input2_is_ema2=two, input1_is_ema1=one).tobytes().hex()
    results[f"velk_dema {one} {two}"] = velk_ta_funcs.velk_dema(
        first, s2, 13, input1_is_ema1=one, input2_is_ema2=two).tobytes().hex()
    results[f"velk_trix {one} {two} {three}"] = velk_ta_funcs.velk_trix(
        close, 13, input_is_ema3=three, input_is_ema2=two, input_is_ema1=one).tobytes().hex()
    results[f"velk_ema3 {one} {two}"] = velk_ta_funcs.velk_ema3(first, 13, two, one).tobytes().hex()
# Zeros and NaNs at every lane position of the wide passes, over lengths around their width.
x = np.tile(np.array([1.5, 0.0, -0.0, np.nan, 2.0, -3.0, np.inf], dtype=np.float32), 10)
for n in (0, 15, 16, 17, 33, 63):
    results[f"velk_rdif {n}"] = velk_ta_funcs.velk_rdif(x[:n], x[1:n + 1]).tobytes().hex()
    results[f"velk_adif {n}"] = velk_ta_funcs.velk_adif(x[:n], x[1:n + 1]).tobytes().hex()
    results[f"velk_roc {n}"] = velk_ta_funcs.velk_roc(x[:n], 3).tobytes().hex()
# Every classic indicator with its defaults, on float64 bars long enough for the run kernels' spans.
from velkized_ta import classic
from velkized_ta.sample import sample_ohlcv
wide = {key: np.asarray(value, dtype=np.float64) for key, value in sample_ohlcv(3000).items()}
columns = {"open": wide["open"], "high": wide["high"], "low": wide["low"], "close": wide["close"],
           "real": wide["close"], "real0": wide["high"], "real1": wide["low"], "volume": wide["volume"]}
for entry in classic.REGISTRY:
    inputs = [columns[key] for key in entry["inputs"] if key not in entry["optional_inputs"]]
    out = getattr(classic, entry["name"])(*inputs)
    results["classic " + entry["name"]] = b"".join(o.tobytes() for o in (out if isinstance(out, tuple) else (out,))).hex()
json.dump(results, sys.stdout)
"""


def run(*forced):
    env = dict(os.environ)
    for name in ("VELKIZED_TA_PORTABLE_FMA", "VELKIZED_TA_NARROW_VECTORS"):
        env.pop(name, None)
    for name in forced:
        name, _, value = name.partition("=")
        env[name] = value or "1"
    out = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True,
                         cwd=os.path.dirname(__file__))
    return json.loads(out.stdout)


@pytest.mark.parametrize("forced", [("VELKIZED_TA_PORTABLE_FMA",), ("VELKIZED_TA_NARROW_VECTORS",),
                                    ("VELKIZED_TA_NARROW_VECTORS=avx2",),
                                    ("VELKIZED_TA_PORTABLE_FMA", "VELKIZED_TA_NARROW_VECTORS")])
def test_every_build_agrees_bit_for_bit(forced):
    hardware, portable = run(), run(*forced)
    assert hardware.keys() == portable.keys() and "velk_ema" in hardware and "classic cmf" in hardware
    differing = [name for name in hardware if hardware[name] != portable[name]]
    assert differing == []
    some = np.frombuffer(bytes.fromhex(hardware["velk_ema"]), dtype=np.float32)
    assert np.isfinite(some[1:]).all()
