"""Classic indicators against TA-Lib in the same process, float64 input.

    python benchmarks/classic_bench.py [--quick] [--out benchmarks/CLASSIC.md]

For every registry entry and n = 10^6, 10^4 and 100 bars: the best of several rounds of the
function with its defaults and of TA-Lib's function with the same parameters, interleaved so both
see the same machine load; then a live update from Python (a loop over a price list, beside the
same loop calling an empty C function, the floor any call from Python pays) and batch 2-D with one
and two threads.
Writes a Markdown table (ratio = ours / TA-Lib's time, lower is better).
"""

import argparse
import math
import os
import sys
import time
from pathlib import Path

import numpy as np

from harness import memory_scaling

HERE = Path(__file__).resolve().parent
TRADED = 10**4


def best_time(function, calls, rounds, clock=time.thread_time):
    """Best time per call; by default the calling thread's CPU time, which other processes on a
    loaded machine disturb far less than the wall clock (every call here runs on this thread)."""
    best = float("inf")
    for _ in range(rounds):
        start = clock()
        for _ in range(calls):
            function()
        best = min(best, (clock() - start) / calls)
    return best


def feed(function, values):
    """One call per value, as a live loop makes them."""
    for value in values:
        function(value)


def live_update_times(stream, history, rounds):
    """(rsi update, an empty call, rsi update on a flat price) in seconds per call, each over a
    loop of 100,000 bars. On a flat price Wilder's averages decay into subnormal numbers, which the
    CPU computes many times slower: the third figure shows that cost apart."""
    prices = series(100_000, seed=3)["close"].tolist()
    flat = [float(prices[-1])] * len(prices)
    handle = stream.rsi(history)
    update = best_time(lambda: feed(handle.update, prices), 1, rounds) / len(prices)
    floor = best_time(lambda: feed(math.isfinite, prices), 1, rounds) / len(prices)
    still = stream.rsi(history)
    feed(still.update, flat)  # the averages reach the subnormal range
    on_flat = best_time(lambda: feed(still.update, flat), 1, rounds) / len(prices)
    return update, floor, on_flat


def series(n, seed=0):
    rng = np.random.default_rng(seed)
    close = 1000.0 + np.cumsum(rng.normal(size=n))
    return {"open": np.concatenate([[1000.0], close[:-1]]), "close": close,
            "high": close + np.abs(rng.normal(size=n)), "low": close - np.abs(rng.normal(size=n)),
            "volume": rng.integers(0, 1000, n).astype(np.float64),
            "real0": close, "real1": 500.0 + np.cumsum(rng.normal(size=n))}


def traded_series(n, seed=0):
    """`series` shaped more like traded bars: prices on a cent grid, one bar in twelve closing at its
    low and one at its high, and a tenth of the volumes zero (paths that only such data takes,
    flat windows and windows of zeros, show here)."""
    bars = series(n, seed)
    rng = np.random.default_rng(seed + 1)
    for key in ("open", "close", "high", "low", "real0", "real1"):
        bars[key] = np.round(bars[key], 2)
    at_low, at_high = rng.random(n) < 1 / 12, rng.random(n) < 1 / 12
    bars["close"] = np.where(at_low, bars["low"], np.where(at_high, bars["high"], bars["close"]))
    bars["real0"] = bars["close"]
    bars["volume"][rng.random(n) < 0.1] = 0.0
    return bars


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--out", default=str(HERE / "CLASSIC.md"))
    args = parser.parse_args(argv)
    import talib

    from velkized_ta import classic
    from velkized_ta.classic import batch, stream

    sizes = (10**6, 10**4, 100)
    rounds = 3 if args.quick else 7
    lines = ["# Classic indicators against TA-Lib", "",
             f"TA-Lib {talib.__version__}, numpy {np.__version__}, {os.cpu_count()} CPUs, "
             f"load average {os.getloadavg()[0]:.1f} at the start. Ratio: our time / TA-Lib's (CPU time of "
             f"the calling thread, best of {rounds} rounds, interleaved); indicators TA-Lib lacks are left out.", "",
             f"The last column times n={TRADED:,} bars shaped like traded ones (`traded_series`: cent prices, "
             "closes at the low or high, a tenth of the volumes zero).", "",
             "| indicator | " + " | ".join(f"n={n:,}" for n in sizes) + f" | n={TRADED:,}, traded |",
             "|---|" + "---|" * (len(sizes) + 1)]
    data = {n: series(n) for n in sizes}
    traded = traded_series(TRADED)
    for entry in classic.REGISTRY:
        name = entry["name"]
        params = {spec["name"]: spec["default"] for spec in entry["params"]}
        ours, theirs = getattr(classic, name), getattr(talib, name.upper(), None)
        required = [key for key in entry["inputs"] if key not in entry.get("optional_inputs", ())]
        if theirs is None or not set(required) <= set(data[100]):  # not in TA-Lib, or not its inputs
            continue
        cells = []
        for n in sizes:
            inputs = [data[n][key] for key in required]  # vwap without its anchor, as TA-Lib's VWAP
            calls = max(1, 200_000 // n) if n > 100 else 2000
            mine = best_time(lambda: ours(*inputs, **params), calls, rounds)
            peer = best_time(lambda: theirs(*inputs, **params), calls, rounds)
            cells.append(f"{mine / peer:.2f}")
        inputs = [traded[key] for key in required]
        calls = max(1, 200_000 // TRADED)
        mine = best_time(lambda: ours(*inputs, **params), calls, rounds)
        peer = best_time(lambda: theirs(*inputs, **params), calls, rounds)
        cells.append(f"{mine / peer:.2f}")
        lines.append(f"| {name} | " + " | ".join(cells) + " |")
        print(lines[-1], flush=True)
    update, floor, on_flat = live_update_times(stream, data[10**4]["close"], rounds)
    # Columns of a wide table step in vector lanes (ema: light, bound by memory; adx: more work a
    # byte) or one series at a time (sma): each thread needs several lane groups, or its one group
    # runs at the latency of the recursion.
    threading = []
    entries = {entry["name"]: entry for entry in classic.REGISTRY}
    for name, n_series, n_bars in (("ema", 256, 2 * 10**4), ("adx", 64, 10**5), ("sma", 16, 10**5)):
        each = [series(n_bars, seed) for seed in range(n_series)]
        wide = [np.ascontiguousarray(np.stack([bars[key] for bars in each], axis=1)) for key in entries[name]["inputs"]]
        function = getattr(batch, name)
        one = best_time(lambda: function(*wide, threads=1), 3, rounds, time.perf_counter)
        two = best_time(lambda: function(*wide, threads=2), 3, rounds, time.perf_counter)
        moved = sum(table.nbytes for table in wide) + wide[0].nbytes * len(entries[name]["outputs"])
        threading.append(f"Batch `{name}` over {n_series} series of {n_bars:,} bars"
                         f"{' (in lanes)' if entries[name]['lanes'] else ''}: 1 thread {one * 1e3:.1f} ms, "
                         f"2 threads {two * 1e3:.1f} ms ({one / two:.2f}x; tables and result moved at "
                         f"{moved / min(one, two) / 1e9:.1f} GB/s).")
    alone, shared = memory_scaling()
    threading.append(f"Memory, for scale: numpy copying 160 MB moves {alone:.1f} GB/s on one thread, {shared:.1f} GB/s "
                     f"on two ({shared / alone:.2f}x).")
    lines += ["", f"Live `rsi` update from Python: {update * 1e9:.0f} ns per bar in a loop over a price list "
              f"(the same loop calling an empty C function, `math.isfinite`: {floor * 1e9:.0f} ns); on a flat price, "
              f"where Wilder's averages decay into subnormal numbers: {on_flat * 1e9:.0f} ns.",
              *threading, f"Load average at the end: {os.getloadavg()[0]:.1f}."]
    Path(args.out).write_text("\n".join(lines) + "\n")
    print("\n".join(lines[-4:]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
