"""Benchmark of the 24 indicators against their peers: run by `make bench`.

    python benchmarks/bench.py [--quick] [--only velk_sma,velk_ema] [--out benchmarks/RESULTS.md]

Writes RESULTS.md, ratios.png and results.json beside this file (or beside --out). Exits with 1
when a peer that is timed disagrees with the indicator it stands beside (the table says which).
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import time
import warnings
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))

from cases import available, build_cases
from harness import Chains, agreement, interleaved_medians, peak_memory, random_walk_bars, thread_speedup

HERE = Path(__file__).resolve().parent
SEED, OTHER_SEED = 20261208, 20261209
LARGE, MEDIUM, SMALL = 1_000_000, 10_000, 100
PEER_LIBS = ("TA-Lib", "pandas", "bottleneck", "polars", "tulipy", "numpy")


def settings(quick: bool) -> dict:
    if quick:
        return {"rounds_large": 3, "rounds_medium": 5, "rounds_small": 5, "thread_calls": 2, "thread_repeats": 1}
    return {"rounds_large": 15, "rounds_medium": 21, "rounds_small": 31, "thread_calls": 4, "thread_repeats": 3}


def build_status(module, case, bars) -> str:
    """"built" when the indicator runs on ordinary bars, else the error it raised."""
    try:
        case.call(module, bars)()
    except Exception as e:  # reported in its row; the other indicators are still measured
        return f"{type(e).__name__}: {e}"[:120]
    return "built"


def thread_calls(size: dict, most: int) -> int:
    """Calls per thread: up to `most`, fewer for slow indicators so the probe stays short."""
    seconds = size["velk"]["time"] if size.get("velk") else 1.0
    return max(1, min(most, round(0.3 / max(seconds, 1e-6))))


def measure(case, module, bars, built: bool, rounds: int, chains) -> dict:
    """Agreement of every peer with the indicator, then interleaved timing of those that agree."""
    n = len(bars)
    out = {"velk": None, "peers": [], "conversion": None, "chain": None, "context": None}
    contenders = {}
    ours = None
    if built:
        contenders["velk"] = case.call(module, bars)
        ours = contenders["velk"]()
    for i, peer in enumerate(case.peers):
        entry = {"lib": peer.lib, "what": peer.what, "f64": peer.f64, "time": None, "agreement": None, "error": None}
        out["peers"].append(entry)
        try:
            call = peer.make(bars)
            theirs = peer.post(call(), bars)
        except Exception as e:  # a peer that cannot compute this case is reported, not fatal
            entry["error"] = f"{type(e).__name__}: {e}"[:120]
            continue
        if ours is not None:
            a = agreement(ours, theirs, skip=peer.skip, tol=peer.tol, frac=peer.frac, head=peer.head)
            entry["agreement"] = {"ok": a.ok, "checked": a.checked, "max_err": a.max_err,
                                  "full_max_err": a.full_max_err, "reason": a.reason, "tol": peer.tol,
                                  "head": peer.head}
            if not a.ok:
                continue  # never time a peer that computes something else
        contenders[f"peer{i}"] = call
    inputs = [bars.f32(name) for name in case.inputs]
    contenders["conversion"] = lambda: [a.astype(np.float64) for a in inputs]
    if chains is not None and case.chain is not None:
        contenders["chain"] = case.chain(chains, bars)
    if case.context is not None:
        contenders["context"] = case.context.make(bars)
    medians, spreads = interleaved_medians(contenders, rounds, min_sample_s=2e-4 if n <= 10_000 else 0.0)
    for key, seconds in medians.items():
        record = {"time": seconds, "spread": spreads[key]}
        if key.startswith("peer"):
            out["peers"][int(key[4:])].update(record)
        else:
            out[key] = record
    return out


def memory_probe(names) -> dict:
    """Runs in a child process (see run_memory): one call per function on fresh mmap'd pages."""
    import velkized_ta.velk_ta_funcs as module

    bars = random_walk_bars(LARGE, SEED)
    result = {}
    for case in build_cases():
        if case.name in names:
            result[case.name] = peak_memory(case.call(module, bars))
    return result


def run_memory(names) -> dict:
    # A fixed mmap threshold keeps glibc from recycling freed arrays, so the resident-set
    # high-water mark grows with every page a call touches.
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="131072")
    proc = subprocess.run([sys.executable, __file__, "--memory-probe", ",".join(names)], env=env,
                          capture_output=True, text=True, check=True)
    return json.loads(proc.stdout.strip().splitlines()[-1])


def versions() -> dict:
    from importlib import metadata

    found = {"python": platform.python_version()}
    for dist in ("numpy", "velkized_ta", "TA-Lib", "pandas", "bottleneck", "polars", "tulipy"):
        try:
            found[dist] = metadata.version(dist)
        except metadata.PackageNotFoundError:
            pass
    return found


def machine() -> dict:
    model = "?"
    try:
        with open("/proc/cpuinfo") as f:
            model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "?")
    except OSError:
        pass
    return {"cpu": model, "cores": os.cpu_count(), "load": [round(x, 2) for x in os.getloadavg()]}


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", default=os.environ.get("BENCH_QUICK", "") not in ("", "0"))
    parser.add_argument("--only", default="", help="comma-separated function names")
    parser.add_argument("--out", default=str(HERE / "RESULTS.md"))
    parser.add_argument("--memory-probe", default=None, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)

    if args.memory_probe is not None:
        print(json.dumps(memory_probe(set(args.memory_probe.split(",")))))
        return 0

    import velkized_ta.velk_ta_funcs as module
    from report import write_report

    import velkized_ta

    # Overflowing quotients near zero crossings and negative float32 variances are expected values.
    warnings.simplefilter("ignore", RuntimeWarning)
    np.seterr(all="ignore")

    cfg = settings(args.quick)
    order = {name: i for i, name in enumerate(velkized_ta.FUNCTION_NAMES)}
    cases = sorted(build_cases(), key=lambda c: order[c.name])
    if args.only:
        wanted = set(args.only.split(","))
        cases = [c for c in cases if c.name in wanted]
    libs = [lib for lib in PEER_LIBS if available(lib)]
    for case in cases:
        case.peers = [p for p in case.peers if p.lib in libs]
        if case.context is not None and case.context.lib not in libs:
            case.context = None

    began = time.time()
    info = {"machine": machine(), "versions": versions(), "quick": args.quick, "settings": cfg,
            "peers_missing": [lib for lib in PEER_LIBS if lib not in libs]}
    large, medium, small = random_walk_bars(LARGE, SEED), random_walk_bars(MEDIUM, SEED), random_walk_bars(SMALL, SEED)
    other = random_walk_bars(LARGE, OTHER_SEED)
    chains = Chains()
    info["chain_flags"] = " ".join(chains.flags)
    rows = []
    try:
        for case in cases:
            status = build_status(module, case, small)
            built = status == "built"
            print(f"{case.name:<12} {status:<10}", end=" ", flush=True)
            case_began = time.time()
            row = {"name": case.name, "built": built, "status": status, "note": case.note,
                   "chain_what": case.chain_what, "arrays": case.arrays, "inputs": list(case.inputs),
                   "context_what": case.context.what if case.context else None}
            row["large"] = measure(case, module, large, built, cfg["rounds_large"], chains)
            row["medium"] = measure(case, module, medium, built, cfg["rounds_medium"], None)
            row["small"] = measure(case, module, small, built, cfg["rounds_small"], None)
            if built:
                calls = thread_calls(row["large"], cfg["thread_calls"])
                row["threads"] = thread_speedup(lambda b, c=case: c.call(module, b), large, other, calls,
                                                cfg["thread_repeats"])
            rows.append(row)
            print(f"{time.time() - case_began:5.1f} s", flush=True)
    finally:
        chains.close()
    built_names = [r["name"] for r in rows if r["built"]]
    memory = run_memory(built_names) if built_names else {}
    for row in rows:
        if row["name"] in memory:
            row["memory"] = memory[row["name"]] | {"allowed": row["arrays"] * 4 * LARGE}
    info["seconds"] = round(time.time() - began, 1)
    info["load_after"] = [round(x, 2) for x in os.getloadavg()]

    out = Path(args.out)
    out.parent.mkdir(parents=True, exist_ok=True)
    (out.parent / "results.json").write_text(json.dumps({"info": info, "rows": rows}, indent=1) + "\n")
    failures = write_report(out, info, rows, LARGE, MEDIUM, SMALL)
    print(f"wrote {out} in {info['seconds']} s")
    for failure in failures:
        print("DISAGREES:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
