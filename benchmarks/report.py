"""RESULTS.md and its bar chart from the measured rows."""

from __future__ import annotations

import math
from pathlib import Path

CHAIN_LIMIT = 1.25
THREADS_TARGET = 1.8
# Composites against the call they are built from, timed in the same run.
COMPOSITE_LIMITS = {"velk_ema2": ("velk_ema", 1.3), "velk_dema": ("velk_ema", 1.3), "velk_macd": ("velk_ema", 1.3),
                    "velk_ema3": ("velk_ema", 1.5), "velk_tema": ("velk_ema", 1.5), "velk_trix": ("velk_ema", 1.5),
                    "velk_adx": ("velk_dx", 1.3), "velk_adxr": ("velk_dx", 1.3)}
# Element-wise functions against the numpy expression on the same float32 arrays.
NUMPY_LIMIT = 1.1
ELEMENT_WISE = ("velk_adif", "velk_rdif", "velk_roc")
MB = 1e6


def fastest_peer(size: dict):
    timed = [p for p in size["peers"] if p.get("time") is not None]
    return min(timed, key=lambda p: p["time"]) if timed else None


def peer_named(size: dict, lib: str):
    return next((p for p in size["peers"] if p["lib"] == lib and p.get("time") is not None), None)


def velk_time(size: dict):
    return size["velk"]["time"] if size.get("velk") else None


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt(x, scale=1.0, digits=3):
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "–"
    v = x * scale
    return f"{v:.{digits}g}" if abs(v) < 10 ** digits else f"{v:.0f}"


def fmt_ratio(r):
    return "–" if r is None else f"{r:.2f}"


def label(p) -> str:
    return f"{p['lib']}: {p['what']}"


def agreement_text(p) -> str:
    if p.get("error"):
        return f"error: {p['error']}"
    a = p.get("agreement")
    if a is None:
        return "not checked (indicator failed)"
    if not a["ok"]:
        return f"**DISAGREES**: {a['reason'] or 'see results.json'} (max {a['max_err']:.1e})"
    if a["checked"] == 0:
        return "nothing to compare at this length"
    return f"max {a['max_err']:.1e} ≤ {a['tol']:g} on {a['checked']}; all: {a['full_max_err']:.1e}"


def write_report(path: Path, info: dict, rows: list, large: int, medium: int, small: int) -> list:
    """Writes RESULTS.md and ratios.png; returns the comparisons that disagreed."""
    lines = []
    add = lines.append
    v = info["versions"]
    m = info["machine"]
    add("# Benchmark results")
    add("")
    if info["quick"]:
        add("**Smoke run (BENCH_QUICK): few rounds, numbers are indicative only.**")
        add("")
    add(f"Machine: {m['cpu']}, {m['cores']} cores, load average {m['load']} before and "
        f"{info['load_after']} after the run ({info['seconds']} s). "
        + ", ".join(f"{k} {val}" for k, val in v.items()) + ".")
    if info["peers_missing"]:
        add(f"Peers not installed: {', '.join(info['peers_missing'])}.")
    add(f"Chain-only kernels built with `{info['chain_flags']}`.")
    s = info["settings"]
    add("")
    add(f"Data: a random-walk OHLC series (1 % log steps reflected inside a band around 100; open = previous "
        f"close), float32, n = {large:,}, n = {medium:,} and n = {small}. Periods: 14; MACD 12/26; ultimate "
        f"oscillator 7/14/28. Times are medians over {s['rounds_large']} (n = {large:,}), {s['rounds_medium']} "
        f"(n = {medium:,}) and {s['rounds_small']} (n = {small}) rounds; each round runs every contender of a "
        "function once, in an order rotated from round to round (at the two smaller sizes a contender's sample "
        "is a batch of calls). Ratios are indicator time / peer time: "
        "below 1 the indicator is faster. Peers that need float64 are timed on float64 copies made "
        "beforehand; the cost of converting the function's inputs is the conversion column. A peer is "
        "timed only after its values agreed with the indicator's (table \"Every comparison\").")
    add("")

    add(f"## n = {large:,}")
    add("")
    add("| function | time ms | spread | ns/elem | fastest peer | peer ms | ratio | conversion ms | chain ms "
        "| ratio to chain | peak extra MB (allowed) | 2 threads |")
    add("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        big = r["large"]
        t = velk_time(big)
        best = fastest_peer(big)
        chain = big["chain"]["time"] if big.get("chain") else None
        mem = r.get("memory")
        mem_text = "–"
        if mem:
            used = max(mem["traced"], mem["rss"] or 0)
            flag = " **over**" if memory_over(r) else ""
            mem_text = f"{used / MB:.1f} ({mem['allowed'] / MB:.0f}){flag}"
        add(f"| {row_name(r)} | {fmt(t, 1e3)} | {fmt_spread(big)} | {fmt(ratio(t, large), 1e9)} "
            f"| {label(best) if best else '–'} | {fmt(best['time'] if best else None, 1e3)} "
            f"| {fmt_ratio(ratio(t, best['time'] if best else None))} | {fmt(big['conversion']['time'], 1e3)} "
            f"| {fmt(chain, 1e3)} | {fmt_ratio(ratio(t, chain))} | {mem_text} "
            f"| {fmt_ratio(r.get('threads'))} |")
    add("")
    add("Spread: interquartile range of the indicator's samples over their median. Peak extra memory: the "
        "larger of the traced allocations and the growth of the resident set during one call (fresh "
        "pages for every array), against the output, work arrays and stages the function is specified to "
        "hold at once. 2 threads: throughput of two threads, each calling on its own series, over one "
        "thread's.")
    add("")

    context_rows = [r for r in rows if r["large"].get("context")]
    if context_rows:
        add("Nearest single peer call, for context only: it computes a different quantity (the peers smooth the "
            "price, these functions its relative deviation), so its values are not compared.")
        add("")
        add(f"| function | peer call | n = {large:,} ms | ratio | n = {medium:,} µs | ratio | n = {small} µs | ratio |")
        add("|---|---|---|---|---|---|---|---|")
        for r in context_rows:
            cells = []
            for key, scale in (("large", 1e3), ("medium", 1e6), ("small", 1e6)):
                peer = r[key].get("context")
                seconds = peer["time"] if peer else None
                cells.append(f"{fmt(seconds, scale)} | {fmt_ratio(ratio(velk_time(r[key]), seconds))}")
            add(f"| {r['name']} | TA-Lib: {r['context_what']} | " + " | ".join(cells) + " |")
        add("")

    for key, n in (("medium", medium), ("small", small)):
        add(f"## n = {n:,}")
        add("")
        add("| function | time µs | TA-Lib equivalent µs | ratio to TA-Lib | conversion µs | fastest peer | peer µs "
            "| ratio |")
        add("|---|---|---|---|---|---|---|---|")
        for r in rows:
            sm = r[key]
            t = velk_time(sm)
            ta = peer_named(sm, "TA-Lib")
            best = fastest_peer(sm)
            add(f"| {row_name(r)} | {fmt(t, 1e6)} | {fmt(ta['time'] if ta else None, 1e6)} "
                f"| {fmt_ratio(ratio(t, ta['time'] if ta else None))} | {fmt(sm['conversion']['time'], 1e6)} "
                f"| {label(best) if best else '–'} | {fmt(best['time'] if best else None, 1e6)} "
                f"| {fmt_ratio(ratio(t, best['time'] if best else None))} |")
        add("")

    add("## Targets")
    add("")
    add_targets(add, rows, medium, small)
    add("")
    add("![Indicator time over peer time](ratios.png)")
    add("")

    add("## Every comparison")
    add("")
    add(f"| function | peer | n = {large:,} ms | ratio | n = {small} µs | ratio | agreement at n = {large:,} |")
    add("|---|---|---|---|---|---|---|")
    failures = []
    for r in rows:
        tb, ts = velk_time(r["large"]), velk_time(r["small"])
        for pb, ps in zip(r["large"]["peers"], r["small"]["peers"]):
            add(f"| {r['name']} | {label(pb)} | {fmt(pb.get('time'), 1e3)} | {fmt_ratio(ratio(tb, pb.get('time')))} "
                f"| {fmt(ps.get('time'), 1e6)} | {fmt_ratio(ratio(ts, ps.get('time')))} | {agreement_text(pb)} |")
            for size, p in (("large", pb), ("small", ps)):
                a = p.get("agreement")
                if a and not a["ok"]:
                    failures.append(f"{r['name']} vs {label(p)} ({size}): {a['reason']}")
    add("")
    add("Agreement: error |a - b| / (|b| + median |b|) over the first compared positions (after warm-ups, "
        "and after the seeding of peers that seed differently has decayed); 'all' is the largest error over "
        "the whole series, where float32 running sums have drifted.")
    add("")

    add("## What each comparison is")
    add("")
    for r in rows:
        add(f"- **{r['name']}**: {r['note']} Chain-only kernel: {r['chain_what']}.")
    add("")
    path.write_text("\n".join(lines))
    draw_chart(path.parent / "ratios.png", rows, large, small)
    return failures


def memory_over(r: dict) -> bool:
    """Traced bytes are exact up to small objects; the resident set may round every array up to
    transparent huge pages where those are enabled."""
    mem = r.get("memory")
    if not mem:
        return False
    if mem["traced"] > mem["allowed"] + 65536:
        return True
    return mem["rss"] is not None and mem["rss"] > mem["allowed"] + r["arrays"] * (2 << 20)


def row_name(r: dict) -> str:
    return r["name"] if r["built"] else f"{r['name']} ({r['status']})"


def fmt_spread(size: dict) -> str:
    if not size.get("velk"):
        return "–"
    return f"{100 * size['velk']['spread']:.0f} %"


def composite_ratios(rows) -> dict:
    """Each composite's time over the call it is built from, both at n = 1,000,000 in this run."""
    times = {r["name"]: velk_time(r["large"]) for r in rows if r["built"]}
    found = {}
    for name, (base, limit) in COMPOSITE_LIMITS.items():
        if times.get(name) and times.get(base):
            found[name] = (times[name] / times[base], base, limit)
    return found


def add_targets(add, rows, medium, small):
    built = [r for r in rows if r["built"]]
    if not built:
        add("No indicator ran.")
        return
    composites = composite_ratios(built)
    met_composite, missed_composite, met_numpy, missed_numpy = [], [], [], []
    faster, near_chain, behind, threads_low, over = [], [], [], [], []
    slow = {medium: [], small: []}
    for r in built:
        big = r["large"]
        t, best = velk_time(big), fastest_peer(big)
        chain = big["chain"]["time"] if big.get("chain") else None
        if r["name"] in composites:
            value, base, limit = composites[r["name"]]
            (met_composite if value <= limit else missed_composite).append(
                f"{r['name']} ({value:.2f}x {base}, target {limit}x)")
        if r["name"] in ELEMENT_WISE:
            numpy_peer = peer_named(big, "numpy")
            if numpy_peer:
                value = t / numpy_peer["time"]
                (met_numpy if value <= NUMPY_LIMIT else missed_numpy).append(f"{r['name']} ({value:.2f}x)")
        if best is None or t <= best["time"]:
            faster.append(r["name"])
        elif chain and t / chain <= CHAIN_LIMIT:
            near_chain.append(f"{r['name']} ({t / best['time']:.2f}x peer, {t / chain:.2f}x chain)")
        else:
            behind.append(f"{r['name']} ({t / best['time']:.2f}x {best['lib']}"
                          + (f", {t / chain:.2f}x chain" if chain else "") + ")")
        for key, n in (("medium", medium), ("small", small)):
            peer = fastest_peer(r[key])
            if peer and velk_time(r[key]) > peer["time"]:
                slow[n].append(f"{r['name']} ({velk_time(r[key]) / peer['time']:.2f}x {peer['lib']})")
        if r.get("threads") is not None and r["threads"] < THREADS_TARGET:
            threads_low.append(f"{r['name']} ({r['threads']:.2f}x)")
        if memory_over(r):
            over.append(r["name"])
    add("Measured, not asserted:")
    add("")
    add(f"- Composites within their limit of the call they are built from: {', '.join(met_composite) or 'none'}; "
        f"beyond it: {', '.join(missed_composite) or 'none'}.")
    add(f"- Element-wise functions within {NUMPY_LIMIT}x of the numpy expression: {', '.join(met_numpy) or 'none'}; "
        f"beyond it: {', '.join(missed_numpy) or 'none'}.")
    add(f"- n = 1,000,000, at least as fast as the fastest peer: {len(faster)} of {len(built)}"
        + (f" ({', '.join(faster)})" if faster else "") + ".")
    add(f"- Slower than a peer but within {CHAIN_LIMIT}x of the chain-only time (meets the target where the "
        f"indicator's chain is longer than the peer's): {', '.join(near_chain) or 'none'}.")
    add(f"- Slower than a peer and beyond {CHAIN_LIMIT}x of the chain: {', '.join(behind) or 'none'}.")
    for n, names in slow.items():
        add(f"- n = {n:,}, slower than the fastest peer: {', '.join(names) or 'none'}.")
    add(f"- Two threads below {THREADS_TARGET}x one thread's throughput: {', '.join(threads_low) or 'none'}.")
    add(f"- Peak extra memory above the specified arrays: {', '.join(over) or 'none'}.")
    missing = [row_name(r) for r in rows if not r["built"]]
    if missing:
        add(f"- Not measured: {', '.join(missing)}.")


def from_one(values):
    return [v - 1.0 if v else float("nan") for v in values]


def draw_chart(path: Path, rows: list, large: int, small: int):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullFormatter

    names = [r["name"].removeprefix("velk_") for r in rows]
    peer_big, chain_big, ta_small = [], [], []
    for r in rows:
        t = velk_time(r["large"])
        best = fastest_peer(r["large"])
        chain = r["large"]["chain"]["time"] if r["large"].get("chain") else None
        peer_big.append(ratio(t, best["time"]) if best else None)
        chain_big.append(ratio(t, chain))
        ta = peer_named(r["small"], "TA-Lib")
        ta_small.append(ratio(velk_time(r["small"]), ta["time"]) if ta else None)
    fig, axes = plt.subplots(1, 2, figsize=(12, 0.32 * len(rows) + 1.8), sharey=True)
    ys = range(len(rows))
    height = 0.4
    ax = axes[0]
    # Bars grow from 1: to the left where the indicator is faster, to the right where slower.
    ax.barh([y - height / 2 for y in ys], from_one(peer_big), height, left=1.0, label="/ fastest peer")
    ax.barh([y + height / 2 for y in ys], from_one(chain_big), height, left=1.0, label="/ chain-only kernel")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.axvline(CHAIN_LIMIT, color="grey", linewidth=0.8, linestyle="--")
    ax.set_title(f"n = {large:,}")
    ax.legend(loc="lower right", fontsize=8)
    ax = axes[1]
    ax.barh(list(ys), from_one(ta_small), 0.6, left=1.0, color="tab:green", label="/ TA-Lib equivalent")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_title(f"n = {small}")
    ax.legend(loc="lower right", fontsize=8)
    for ax, values in ((axes[0], peer_big + chain_big), (axes[1], ta_small)):
        present = [v for v in values if v]
        low = min(present + [0.5]) / 1.3
        high = max(present + [2.0]) * 1.3
        ax.set_xscale("log")
        ax.set_xlim(low, high)
        ticks = [t for t in (0.01, 0.03, 0.1, 0.25, 0.5, 1, 2, 4, 10, 30, 100, 300, 1000) if low <= t <= high]
        ax.xaxis.set_major_locator(FixedLocator(ticks))
        ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: f"{x:g}"))
        ax.xaxis.set_minor_formatter(NullFormatter())
        ax.set_xlabel("indicator time / other time (log; < 1 is faster)")
        ax.grid(axis="x", which="major", alpha=0.3)
    names = [name if r["built"] else f"{name} (failed)" for name, r in zip(names, rows)]
    axes[0].set_yticks(list(ys))
    axes[0].set_yticklabels(names)
    axes[0].invert_yaxis()
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
