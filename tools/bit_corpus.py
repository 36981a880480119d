#!/usr/bin/env python3
"""The outcome of every exact function on a generated corpus, bit for bit, to compare builds.

Each function is called with every flag combination, several periods and n_values (the whole
series, the trailing 1 and 3), on random walks, NaN runs, leading NaNs, flat stretches, zeros
and one-bar series. An outcome is a digest of each result array's dtype, shape and bytes, or the
exception's type and message, with the category and message of every warning; a second digest
takes every NaN as the one quiet NaN, to tell differences of value from differences of NaN bits
alone (the sign and payload an invalid operation leaves are the CPU's: x86-64 sets the sign, aarch64
does not). Inputs come from integer arithmetic only, so every machine and numpy version makes the
same ones.

    python tools/bit_corpus.py --write outcomes.json.gz   # this build's outcomes
    python tools/bit_corpus.py --compare a.json.gz b.json.gz   # cases compared, differences
    python tools/bit_corpus.py --compare a.json.gz b.json.gz --strict   # NaN bits must agree too
"""

import argparse
import collections
import gzip
import hashlib
import itertools
import json
import platform
import sys
import warnings

import numpy as np

import velkized_ta
from velkized_ta import velk_ta_funcs
from velkized_ta._signatures import parameters

WHOLE = 999999999  # the declarations' n_values default
LENGTHS = (1, 9, 64, 1500)
PERIODS = (1, 2, 5, 14, 40)
N_VALUES = (WHOLE, 1, 3)
KINDS = ("walk", "nan_runs", "leading_nan", "flat", "zeros")


def _mixed(seed, count):
    """`count` uint64 values of splitmix64 from `seed`."""
    with np.errstate(over="ignore"):
        z = np.arange(1, count + 1, dtype=np.uint64) * np.uint64(0x9E3779B97F4A7C15) + np.uint64(seed)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return z ^ (z >> np.uint64(31))


def series(kind, n, seed):
    """A float32 price-like series; integer steps scaled by a power of two, so exact everywhere."""
    steps = (_mixed(seed, n) % np.uint64(2001)).astype(np.int64) - 1000
    values = (np.cumsum(steps) + 400_000).astype(np.float32) / np.float32(4096)
    mask = (_mixed(seed + 7, n) % np.uint64(16)) == 0
    if kind == "nan_runs":  # runs of up to four NaNs
        for shift in range(4):
            values[np.roll(mask, shift) & (np.arange(n) % 5 != 4)] = np.nan
    elif kind == "leading_nan":
        values[: n // 3 + 1] = np.nan
    elif kind == "flat":  # stretches where the value does not move
        for start in range(0, n, 23):
            values[start:start + 11] = values[start]
    elif kind == "zeros":
        values[mask] = 0.0
    return values


def price_arguments(function_name, kind, n, seed):
    """Every series argument: highs above lows, closes between; other series independent."""
    close = series(kind, n, seed)
    spread = (_mixed(seed + 3, n) % np.uint64(64)).astype(np.float32) / np.float32(256)
    named = {"high": close + spread, "low": close - spread, "close": close}
    arguments = {}
    for position, (name, role, default) in enumerate(parameters(function_name)):
        if role != "series":
            continue
        part = next((key for key in named if name.startswith(key)), None)
        arguments[name] = named[part] if part else series(kind, n, seed + 101 * (position + 1))
    return arguments


def cases():
    """(case name, function name, keyword arguments) over the whole corpus."""
    for function_name in velkized_ta.FUNCTION_NAMES:
        params = parameters(function_name)
        flags = [name for name, role, _ in params if role == "flag"]
        periods = [name for name, role, _ in params if role == "int" and name != "n_values"]
        for kind, n in itertools.product(KINDS, LENGTHS):
            inputs = price_arguments(function_name, kind, n, seed=n * 31 + KINDS.index(kind))
            for period_values in itertools.product(PERIODS, repeat=len(periods)):
                if len(periods) > 1 and list(period_values) != sorted(period_values):
                    continue  # short before long, as MACD takes them
                for flag_values in itertools.product((False, True), repeat=len(flags)):
                    for n_values in N_VALUES:
                        kwargs = {**inputs, **dict(zip(periods, period_values)),
                                  **dict(zip(flags, flag_values)), "n_values": n_values}
                        label = ",".join(f"{k}={v}" for k, v in kwargs.items() if k not in inputs)
                        yield f"{function_name}|{kind}|n={n}|{label}", function_name, kwargs


def _digest(array):
    return hashlib.sha256(f"{array.dtype.str}{array.shape}".encode() + array.tobytes()).hexdigest()[:32]


def outcome(function_name, kwargs):
    """(the call's result digests or exception, and its warnings; the same with NaNs made one)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = getattr(velk_ta_funcs, function_name)(**kwargs)
        except Exception as error:  # the error is part of the outcome
            exact = same_nans = f"{type(error).__name__}: {error}"
        else:
            parts = result if isinstance(result, tuple) else (result,)
            exact = " ".join(_digest(p) if isinstance(p, np.ndarray) else repr(p) for p in parts)
            same_nans = " ".join(
                _digest(np.where(np.isnan(p), p.dtype.type(np.nan), p)) if isinstance(p, np.ndarray) and p.dtype.kind == "f"
                else repr(p) for p in parts)
    said = "".join(f" | {w.category.__name__}: {w.message}" for w in caught)
    return [exact + said, same_nans + said]


def write(path):
    outcomes = {name: outcome(function_name, kwargs) for name, function_name, kwargs in cases()}
    record = {"machine": platform.machine(), "python": platform.python_version(), "numpy": np.__version__,
              "outcomes": outcomes}
    with gzip.open(path, "wt") as f:
        json.dump(record, f)
    print(f"{len(outcomes)} cases on {record['machine']} (Python {record['python']}, numpy {record['numpy']})")


def compare(first, second, strict=False):
    """Prints the count of cases and of differences; non-zero for a difference of value or outcome,
    and with `strict` also for NaN bits."""
    a, b = (json.load(gzip.open(path, "rt")) for path in (first, second))
    names = sorted(set(a["outcomes"]) | set(b["outcomes"]))
    missing = [None, None]
    different = [n for n in names if a["outcomes"].get(n, missing)[0] != b["outcomes"].get(n, missing)[0]]
    in_value = [n for n in different if a["outcomes"].get(n, missing)[1] != b["outcomes"].get(n, missing)[1]]
    for name in in_value[:20]:
        print(f"DIFF {name}\n  {a['machine']}: {a['outcomes'].get(name)}\n  {b['machine']}: {b['outcomes'].get(name)}")
    nan_bits = collections.Counter(name.split("|")[0] for name in different if name not in in_value)
    print(f"{len(names)} cases compared ({a['machine']} numpy {a['numpy']} against {b['machine']} "
          f"numpy {b['numpy']}): {len(in_value)} differences of value or outcome; "
          f"{len(different) - len(in_value)} cases differ in NaN sign or payload alone"
          + (f" ({', '.join(f'{f} {c}' for f, c in sorted(nan_bits.items()))})" if nan_bits else ""))
    return 1 if in_value or (strict and different) else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--write", metavar="OUT")
    action.add_argument("--compare", nargs=2, metavar=("A", "B"))
    parser.add_argument("--strict", action="store_true", help="with --compare: NaN sign and payload must agree too")
    args = parser.parse_args()
    if args.write:
        write(args.write)
        return 0
    return compare(*args.compare, strict=args.strict)


if __name__ == "__main__":
    sys.exit(main())
