#!/usr/bin/env python3
"""Plants realistic one-line faults, one at a time, and reports the first test that catches each.

    python tools/mutants.py                 # every mutant (make mutants)
    python tools/mutants.py --only rsi,ema  # mutants whose name contains one of these words
    python tools/mutants.py --list          # the mutants, without running anything
    python tools/mutants.py --plant NAME    # leave one mutant planted and built in the scratch tree

Each mutant replaces one line of one file. The tool keeps a scratch git worktree of HEAD in
build/mutants/tree (your own tree is never touched: commit what you want tested), builds its
extension modules with CMake into build/mutants/cmake (incremental, ccache where installed),
plants the mutant, rebuilds, and runs pytest with -x on the scratch tree's sources, the
quick and most telling test files first. It prints each mutant with the first failing test,
or "survived"; a mutant that no longer applies (its line changed) is reported as stale.
The goal: no survivor that changes a result; a mutant that changes none is equivalent and
is listed here with the reason. Not part of CI (a full run takes a while on a small machine).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SCRATCH = ROOT / "build" / "mutants"
TREE = SCRATCH / "tree"
BUILD = SCRATCH / "cmake"
PYTHON = ROOT / ".venv" / "bin" / "python"

# Quick, telling tests first; -x stops at the first failure. The rest of the suite follows.
FIRST = ["tests/test_snapshot.py", "tests/test_defaults.py", "tests/test_batch.py", "tests/test_stream.py",
         "tests/test_frontends.py", "tests/test_layer_stubs.py"]


@dataclass(frozen=True)
class Mutant:
    name: str
    path: str      # relative to the repository
    original: str  # the exact text replaced (must occur once)
    mutated: str
    layer: str


MUTANTS = [
    # Step headers: the exact module, the many-series entry and the live kernels share these.
    Mutant("rsi-last-step-in-float32", "velkized_ta/indicators/momentum.hpp",
           "return static_cast<float>(100.0 - 100.0 / static_cast<double>(r));", "return 100.0f - 100.0f / r;",
           "step header"),
    Mutant("rsi-step-reassociated", "velkized_ta/indicators/momentum.hpp",
           "total_gain = total_gain + (gain_of(change) - total_gain / period);",
           "total_gain = (total_gain + gain_of(change)) - total_gain / period;", "step header"),
    Mutant("cmo-value-in-double", "velkized_ta/indicators/momentum.hpp",
           "return total != 0.0f ? (gains - losses) / total : 0.0f;",
           "return total != 0.0f ? static_cast<float>((double(gains) - losses) / total) : 0.0f;", "step header"),
    Mutant("ema-update-unfused", "velkized_ta/indicators/ema.hpp",
           "value = static_cast<float>(fused(c, widened_value, static_cast<double>(q)));",
           "value = static_cast<float>(c * widened_value + static_cast<double>(q));", "step header"),
    Mutant("ema-alpha-in-float", "velkized_ta/indicators/ema.hpp",
           "alpha = static_cast<float>(2.0 / static_cast<double>(divisor));",
           "alpha = 2.0f / static_cast<float>(divisor);", "step header"),
    Mutant("wilder-step-unfused", "velkized_ta/indicators/wilder.hpp",
           "float step(float average, float value) const { return fused(average, weight_, value) / period_; }",
           "float step(float average, float value) const { return (average * weight_ + value) / period_; }",
           "step header"),
    Mutant("directional-move-down-reversed", "velkized_ta/indicators/directional_steps.hpp",
           "const float down = previous_low - low;", "const float down = low - previous_low;", "step header"),
    Mutant("typical-price-reassociated", "velkized_ta/indicators/oscillator_steps.hpp",
           "inline float typical_price(float high, float low, float close) { return ((high + low) + close) / 3.0f; }",
           "inline float typical_price(float high, float low, float close) { return (high + (low + close)) / 3.0f; }",
           "step header"),
    Mutant("dema-combination-in-float", "velkized_ta/indicators/combination_steps.hpp",
           "inline float dema_of(double a, double b) { return static_cast<float>(2.0 * a - b); }",
           "inline float dema_of(double a, double b) { return 2.0f * static_cast<float>(a) - static_cast<float>(b); }",
           "step header"),
    Mutant("adxr-mean-halved-first", "velkized_ta/indicators/combination_steps.hpp",
           "return (earlier + addend) * 0.5f;", "return earlier * 0.5f + addend * 0.5f;", "step header"),
    Mutant("extremes-doubling-older-wins-ties", "velkized_ta/indicators/position_queue.hpp",
           "    return older > newer ? older : newer;\n  } else {",
           "    return older >= newer ? older : newer;\n  } else {", "step header"),
    Mutant("extremes-doubling-misses-nan", "velkized_ta/indicators/position_queue.hpp",
           "    missing_3 |= x[3] != x[3];", "    missing_3 |= x[2] != x[2];", "step header"),
    # Live kernels.
    Mutant("live-adx-bulk-range-from-close", "velkized_ta/live/kernels.hpp",
           "      previous_high = h, previous_low = l, previous_close = c;",
           "      previous_high = h, previous_low = l, previous_close = h;", "live kernel"),
    Mutant("live-macd-bulk-zero-price-kept", "velkized_ta/live/kernels.hpp",
           "      if (x == 0.0f) {\n        status = Status::zero_division;",
           "      if (x == 0.0f && false) {\n        status = Status::zero_division;", "live kernel"),
    Mutant("live-rsi-bulk-warm-up-one-short", "velkized_ta/live/kernels.hpp",
           "for (done = 0; done < count && n <= period; ++done) {",
           "for (done = 0; done < count && n < period; ++done) {", "live kernel"),
    Mutant("live-sma-leaving-count-kept", "velkized_ta/live/kernels.hpp",
           "if (!std::isnan(leaving)) sum -= leaving, --count;", "if (!std::isnan(leaving)) sum -= leaving;",
           "live kernel"),
    # The many-series entry.
    Mutant("many-segment-stride-assumed-contiguous", "velkized_ta/many/module.cpp",
           "if (offsets != nullptr) return FloatView(base + offsets[j] * b.strides[0], offsets[j + 1] - offsets[j], "
           "b.strides[0]);",
           "if (offsets != nullptr) return FloatView(base + offsets[j] * b.strides[0], offsets[j + 1] - offsets[j], "
           "sizeof(float));", "many-series entry"),
    Mutant("many-work-series-zero-not-nan", "velkized_ta/indicators/many.cpp",
           "FloatView Workspace::nan_series(int32_t n) { return filled(floats_, floats_used_, n, quiet_nan()); }",
           "FloatView Workspace::nan_series(int32_t n) { return filled(floats_, floats_used_, n, 0.0f); }",
           "many-series entry"),
    # batch.py.
    Mutant("batch-warning-names-last-error", "velkized_ta/batch.py",
           "first_error = first_error or error", "first_error = error", "batch"),
    Mutant("batch-segment-one-short", "velkized_ta/batch.py",
           "part = array[self.starts[j]:self.starts[j + 1]]", "part = array[self.starts[j]:self.starts[j + 1] - 1]",
           "batch"),
    # Front-ends.
    Mutant("frontend-sma-normalize-default", "velkized_ta/_frontend.py",
           '"sma": Indicator("velk_sma", _one("input_array"), {"timeperiod": 20}, {"normalize": True},',
           '"sma": Indicator("velk_sma", _one("input_array"), {"timeperiod": 20}, {"normalize": False},',
           "front-end"),
    Mutant("polars-nulls-ignored", "velkized_ta/polars.py",
           "return result.fill_nan(None) if nulls else result", "return result", "front-end"),
    # Stream defaults.
    Mutant("stream-sma-normalize-default", "velkized_ta/stream.py",
           "def velk_sma(input_array, timeperiod, normalize=True) -> Handle:",
           "def velk_sma(input_array, timeperiod, normalize=False) -> Handle:", "stream defaults"),
    Mutant("stream-stub-ema-normalize-default", "velkized_ta/stream.pyi",
           "def velk_ema(input_array: _Series, timeperiod: _Int, normalize: _Flag = True) -> Handle: ...",
           "def velk_ema(input_array: _Series, timeperiod: _Int, normalize: _Flag = False) -> Handle: ...",
           "stream defaults"),
]


def run(command, cwd, timeout=None, env=None):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=timeout, env=env)


def prepare_tree():
    """A scratch worktree at HEAD (created once, reset to HEAD on every run)."""
    head = run(["git", "rev-parse", "HEAD"], ROOT).stdout.strip()
    if not (TREE / ".git").exists():
        SCRATCH.mkdir(parents=True, exist_ok=True)
        run(["git", "worktree", "prune"], ROOT)
        result = run(["git", "worktree", "add", "--detach", str(TREE), head], ROOT)
        if result.returncode:
            sys.exit(f"cannot create the scratch worktree: {result.stderr}")
    reset_tree(head)
    return head


def reset_tree(head=None):
    if head is not None:
        run(["git", "checkout", "--detach", "-f", head], TREE)
    run(["git", "checkout", "-f", "--", "."], TREE)


def build():
    """Configures once, then rebuilds incrementally and copies the modules into the tree's package."""
    if not (BUILD / "build.ninja").exists():
        result = run(["cmake", "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                      f"-DPython_EXECUTABLE={PYTHON}"], ROOT)
        if result.returncode:
            return result.stdout + result.stderr
    result = run(["cmake", "--build", str(BUILD)], ROOT)
    if result.returncode:
        return result.stdout[-3000:] + result.stderr[-3000:]
    for module in BUILD.glob("*.so"):
        shutil.copy2(module, TREE / "velkized_ta" / module.name)
    return None


def test_order():
    rest = sorted(str(p.relative_to(TREE)) for p in (TREE / "tests").glob("test_*.py"))
    return FIRST + [p for p in rest if p not in FIRST]


def first_failure(timeout):
    env = dict(os.environ, PYTHONPATH=str(TREE), PYTHONDONTWRITEBYTECODE="1")
    command = [str(PYTHON), "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", "-p", "no:randomly",
               "--no-header", "-rfE"] + test_order()
    try:
        result = run(command, TREE, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return "caught: the suite timed out"
    if result.returncode == 0:
        return None
    found = re.search(r"^(FAILED|ERROR) (\S+)", result.stdout, re.M)
    return f"caught by {found.group(2)}" if found else "caught: " + (result.stdout + result.stderr)[-300:].strip()


def plant(mutant):
    path = TREE / mutant.path
    text = path.read_text()
    if text.count(mutant.original) != 1:
        return False
    path.write_text(text.replace(mutant.original, mutant.mutated))
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated words; mutants whose name contains one of them")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--timeout", type=float, default=1800, help="seconds for one mutant's test run")
    parser.add_argument("--plant", metavar="NAME", help="plant and build one mutant, run nothing")
    parser.add_argument("--skip-baseline", action="store_true",
                        help="do not first check that the unmutated tree passes (a failure there would 'catch' all)")
    args = parser.parse_args(argv)
    if args.plant:
        (mutant,) = [m for m in MUTANTS if m.name == args.plant]
        prepare_tree()
        if not plant(mutant) or build():
            sys.exit(f"{mutant.name} does not apply or does not build")
        print(f"planted {mutant.name}; run the tests with: cd {TREE} && PYTHONPATH={TREE} {PYTHON} -m pytest ...")
        return 0
    chosen = MUTANTS
    if args.only:
        words = args.only.split(",")
        chosen = [m for m in MUTANTS if any(w in m.name for w in words)]
    if args.list:
        for m in chosen:
            print(f"{m.name:42} {m.layer:18} {m.path}")
        return 0

    head = prepare_tree()
    print(f"scratch tree {TREE.relative_to(ROOT)} at {head[:10]}; building the unmutated modules", flush=True)
    failure = build()
    if failure:
        sys.exit(f"the unmutated tree does not build:\n{failure}")
    if not args.skip_baseline:
        failure = first_failure(args.timeout)
        if failure:
            sys.exit(f"the unmutated tree fails its tests ({failure}); fix that first")
        print("the unmutated tree passes", flush=True)
    survivors, outcomes = [], []
    for m in chosen:
        started = time.time()
        reset_tree()
        if not plant(m):
            outcome = "stale: its line is not in the file exactly once"
        else:
            failure = build()
            outcome = ("caught: does not build" if failure else first_failure(args.timeout)) or "survived"
        if outcome == "survived":
            survivors.append(m.name)
        outcomes.append(outcome)
        print(f"{m.name:42} [{m.layer}] {outcome} ({time.time() - started:.0f} s)", flush=True)
    reset_tree()
    build()  # leaves the scratch build unmutated for the next run
    planted = sum(not o.startswith("stale") for o in outcomes)
    print(f"\n{planted} mutants planted, {len(survivors)} survived"
          + (f" ({100 * len(survivors) / planted:.0f} %)" if planted else "")
          + (f": {', '.join(survivors)}" if survivors else ""))
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
