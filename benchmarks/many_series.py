"""Many series per call: batch against the routes users write today, and the front-ends' overhead.

    python benchmarks/many_series.py [--quick] [--series 2000] [--bars 2500] [--out benchmarks/MANY_SERIES.md]
    python benchmarks/many_series.py --wide-only [--functions velk_willr,velk_stochf] [--against OTHER/_many.so]

Workload: `--series` symbols x `--bars` daily bars (ten years of 2,000 stocks by default), float32
random walks. Every route is checked to give the batch values (bit for bit where it calls the
exact function, within float tolerance for TA-Lib) before timing; times are medians of
interleaved rounds. Writes a Markdown section that `make bench` appends to RESULTS.md.

To tell whether a change to the lanes is faster, `--against` loads the other build's `_many` module
into this process beside this build's and times the two in turn on the same tables: on a machine
shared with other work, times taken in separate processes moved by more than such a change.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
import tracemalloc
from pathlib import Path

import numpy as np

from harness import memory_scaling
from velkized_ta import FUNCTION_NAMES, batch, velk_ta_funcs

HERE = Path(__file__).resolve().parent

# name, exact-function arguments builder over (high, low, close), TA-Lib equivalent or None
WORKLOAD = {
    "velk_rsi": (lambda h, l, c: (c, 14), "RSI"),
    "velk_ema": (lambda h, l, c: (c, 14), "EMA"),
    "velk_adx": (lambda h, l, c: (h, l, c, 14), "ADX"),
    "velk_adxr": (lambda h, l, c: (h, l, c, 14), None),
    "velk_cci": (lambda h, l, c: (h, l, c, 14), None),  # a mean squared deviation: not TA-Lib's CCI
    "velk_willr": (lambda h, l, c: (h, l, c, 14), "WILLR"),
}


def make_bars(series, bars, seed=20261208):
    rng = np.random.default_rng(seed)
    close = (100 * np.exp(np.cumsum(rng.normal(0, 0.01, (bars, series)), axis=0))).astype(np.float32)
    spread = (np.abs(rng.normal(0, 0.005, (bars, series))) * close).astype(np.float32)
    return close + spread, close - spread, close  # (bars, series): one series per column


def median_time(function, rounds):
    times = []
    for _ in range(rounds):
        begin = time.perf_counter()
        function()
        times.append(time.perf_counter() - begin)
    return statistics.median(times)


def interleaved(routes, rounds):
    """Median seconds of each route, the routes run in rotated order each round."""
    samples = {name: [] for name in routes}
    names = list(routes)
    for r in range(rounds):
        for name in names[r % len(names):] + names[:r % len(names)]:
            begin = time.perf_counter()
            routes[name]()
            samples[name].append(time.perf_counter() - begin)
    return {name: statistics.median(values) for name, values in samples.items()}


def routes_for(name, high, low, close, threads):
    """Callables computing `name` for every series, keyed by route."""
    args_of, talib_name = WORKLOAD[name]
    exact = getattr(velk_ta_funcs, name)
    series = close.shape[1]
    split = [tuple(np.ascontiguousarray(a[:, j]) if isinstance(a, np.ndarray) else a
                   for a in args_of(high, low, close)) for j in range(series)]
    long_args = [a.T.ravel().copy() if isinstance(a, np.ndarray) else a for a in args_of(high, low, close)]
    offsets = np.arange(series + 1, dtype=np.int64) * close.shape[0]
    batch_function = getattr(batch, name)
    routes = {
        "python loop": lambda: [exact(*args) for args in split],
        "batch, 2-D, threads=1": lambda: batch_function(*args_of(high, low, close), threads=1, errors="nan"),
        f"batch, 2-D, threads={threads}": lambda: batch_function(*args_of(high, low, close), threads=threads,
                                                                errors="nan"),
        "batch, offsets, threads=1": lambda: batch_function(*long_args, offsets=offsets, threads=1, errors="nan"),
        f"batch, offsets, threads={threads}": lambda: batch_function(*long_args, offsets=offsets, threads=threads,
                                                                     errors="nan"),
    }
    try:
        import pandas as pd

        symbols = np.repeat(np.arange(series), close.shape[0])
        columns = {f"x{k}": v for k, v in enumerate(long_args) if isinstance(v, np.ndarray)}
        frame = pd.DataFrame({"symbol": symbols, **columns})
        scalars = [a for a in long_args if not isinstance(a, np.ndarray)]
        keys = list(columns)
        if len(keys) == 1:
            routes["pandas groupby-transform"] = lambda: frame.groupby("symbol")[keys[0]].transform(
                lambda s: exact(s.to_numpy(), *scalars))
        else:
            routes["pandas groupby-apply"] = lambda: frame.groupby("symbol")[keys].apply(
                lambda g: pd.Series(exact(*(g[k].to_numpy() for k in keys), *scalars), index=g.index))
    except ImportError:
        pass
    try:
        import polars as pl

        table = pl.DataFrame({"symbol": np.repeat(np.arange(series), close.shape[0]),
                              **{f"x{k}": v for k, v in enumerate(long_args) if isinstance(v, np.ndarray)}})
        keys = [c for c in table.columns if c != "symbol"]
        scalars = [a for a in long_args if not isinstance(a, np.ndarray)]
        if len(keys) == 1:
            expr = pl.col(keys[0]).map_batches(lambda s: pl.Series(exact(s.to_numpy(), *scalars)),
                                               return_dtype=pl.Float32)
        else:
            expr = pl.struct(keys).map_batches(
                lambda s: pl.Series(exact(*(s.struct.field(k).to_numpy() for k in keys), *scalars)),
                return_dtype=pl.Float32)
        routes["polars map_batches over"] = lambda: table.select(expr.over("symbol"))
    except ImportError:
        pass
    try:
        import talib

        if talib_name is None:  # no counterpart there
            raise ImportError
        function = getattr(talib, talib_name)
        split64 = [tuple(a.astype(np.float64) if isinstance(a, np.ndarray) else a for a in args) for args in split]
        routes["TA-Lib loop (float64)"] = lambda: [function(*args) for args in split64]
    except ImportError:
        pass
    return routes


# Functions whose column layout steps many series at once in vector lanes: the target there is
# 3x the Python loop; every other function's is the loop itself.
LANE_TARGETS = ("velk_ema", "velk_ema2", "velk_ema3", "velk_dema", "velk_tema", "velk_trix", "velk_macd",
                "velk_rsi", "velk_cmo", "velk_dx", "velk_adx", "velk_natr", "velk_willr", "velk_stochf")
WIDE_SIZES = ((2000, 2500), (200, 20000))
PERIODS = {"timeperiod": 14, "short_period": 12, "medium_period": 14, "long_period": 26}


def wide_arguments(function, high, low, close):
    """Positional-free arguments of `function` over (high, low, close) tables: the series it requires
    (all three prices, or the first series, where none is required) and its usual periods."""
    from velkized_ta._signatures import parameters

    def price(name):
        return high if "high" in name or name.endswith("_2") else low if "low" in name else close

    series = [(name, default) for name, kind, default in parameters(function) if kind == "series"]
    required = [name for name, default in series if default is not None]
    if not required:
        names = [name for name, _ in series]
        required = names if any("high" in name for name in names) else names[:1]
    args = {name: price(name) for name in required}
    args.update({name: PERIODS[name] for name, kind, _ in parameters(function)
                 if kind == "int" and name in PERIODS})
    return args


def cpu_time(function, rounds):
    """Median CPU seconds of the calling thread (a loaded machine disturbs it less than the clock)."""
    times = []
    for _ in range(rounds):
        begin = time.thread_time()
        function()
        times.append(time.thread_time() - begin)
    return statistics.median(times)


def wide_table_section(rounds, threads, functions=FUNCTION_NAMES):
    """Every function (or those named) on wide tables, (bars, series) row-major: the Python loop over
    pre-split contiguous series against batch's column layout, rows (the transposed table, each series
    contiguous) and offsets, one thread; then two threads against one."""
    lines = ["### Wide tables: one series per column of a row-major (bars, series) float32 table", "",
             f"CPU time of the calling thread for one thread (median of {rounds}), wall clock for two; "
             f"ratio = Python loop / route (two threads: one thread / two); load average "
             f"{os.getloadavg()[0]:.2f} on {threads} usable cores.", ""]
    alone, shared = memory_scaling()
    lines += [f"Memory, for scale: numpy copying 160 MB moves {alone:.1f} GB/s on one thread and {shared:.1f} GB/s on "
              f"two ({shared / alone:.2f}x): where the second thread brings little more memory traffic, functions "
              "bound by it cannot reach the two-thread target.", ""]
    for series, bars in WIDE_SIZES:
        high, low, close = make_bars(series, bars)
        lines += [f"#### {series} series x {bars} bars", "",
                  "| function | loop ms | columns ms | columns ratio (target) | rows ratio (target 1) "
                  "| offsets ratio (target 1) | 2 threads (target 1.8) |",
                  "|---|---:|---:|---:|---:|---:|---:|"]
        for name in functions:
            table = wide_arguments(name, high, low, close)
            arrays = {k: v for k, v in table.items() if isinstance(v, np.ndarray)}
            scalars = {k: v for k, v in table.items() if not isinstance(v, np.ndarray)}
            split = [{k: np.ascontiguousarray(v[:, j]) for k, v in arrays.items()} for j in range(series)]
            by_rows = {k: np.ascontiguousarray(v.T) for k, v in arrays.items()}
            long = {k: v.T.ravel().copy() for k, v in arrays.items()}
            offsets = np.arange(series + 1, dtype=np.int64) * bars
            exact, batched = getattr(velk_ta_funcs, name), getattr(batch, name)
            loop = cpu_time(lambda: [exact(**one, **scalars) for one in split], rounds)
            columns = cpu_time(lambda: batched(**arrays, **scalars, threads=1, errors="nan"), rounds)
            rows = cpu_time(lambda: batched(**by_rows, **scalars, axis=1, threads=1, errors="nan"), rounds)
            segments = cpu_time(lambda: batched(**long, **scalars, offsets=offsets, threads=1, errors="nan"), rounds)
            one = median_time(lambda: batched(**arrays, **scalars, threads=1, errors="nan"), rounds)
            two = median_time(lambda: batched(**arrays, **scalars, threads=2, errors="nan"), rounds)
            target = 3 if name in LANE_TARGETS else 1
            lines.append(f"| `{name}` | {loop * 1e3:.1f} | {columns * 1e3:.1f} | {loop / columns:.2f} ({target}) "
                         f"| {loop / rows:.2f} | {loop / segments:.2f} | {one / two:.2f} |")
            print(series, bars, lines[-1], flush=True)
        lines.append("")
    return lines


def against_section(other_module, rounds, functions=FUNCTION_NAMES):
    """The column layout's native pass of this build against another build's `_many` module (a path to
    its .so), both loaded in this process and run in turn on the same tables into outputs of their own
    (checked equal bit for bit), one thread, CPU time. On a shared machine, times taken in separate
    processes moved by more than the differences sought; in one process they agree from run to run."""
    import importlib.util

    from velkized_ta import _many

    # The extension's init function is named for the module's last component, so it loads as `_many`.
    spec = importlib.util.spec_from_file_location("_many", other_module)
    other = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(other)
    lines = [f"### Column layout, this build against `{other_module}`", "",
             f"CPU time of the calling thread, one thread, reused outputs (median and best of {rounds}); "
             f"load average {os.getloadavg()[0]:.2f}.", "",
             "| table | function | other ms | this ms | this / other (median) | this / other (best) |",
             "|---|---|---:|---:|---:|---:|"]
    for series, bars in WIDE_SIZES:
        high, low, close = make_bars(series, bars)
        for name in functions:
            table = wide_arguments(name, high, low, close)
            arrays = {k: v for k, v in table.items() if isinstance(v, np.ndarray)}
            scalars = {k: v for k, v in table.items() if not isinstance(v, np.ndarray)}
            params = batch._native_parameters(name, scalars, arrays)
            index = FUNCTION_NAMES.index(name)
            outs = {module: np.empty_like(close) for module in (other, _many)}
            run = {module: (lambda module=module: module.run(index, params, outs[module], None, 0, 1, True))
                   for module in (other, _many)}
            statuses = {module: np.frombuffer(call(), dtype=np.uint8) for module, call in run.items()}
            done = (statuses[other] == 0) & (statuses[_many] == 0)  # the rest is left to the exact function
            if not np.array_equal(statuses[other], statuses[_many]) or not np.array_equal(
                    outs[other][:, done].view(np.int32), outs[_many][:, done].view(np.int32)):
                raise AssertionError(f"{name}: the two builds' statuses or values differ")
            times = {module: [] for module in run}
            for _ in range(rounds):
                for module, call in run.items():
                    begin = time.thread_time()
                    call()
                    times[module].append(time.thread_time() - begin)
            median = {module: statistics.median(t) for module, t in times.items()}
            best = {module: min(t) for module, t in times.items()}
            lines.append(f"| {series} x {bars} | `{name}` | {median[other] * 1e3:.2f} | {median[_many] * 1e3:.2f} "
                         f"| {median[_many] / median[other]:.2f} | {best[_many] / best[other]:.2f} |")
            print(lines[-1], flush=True)
    return lines + [""]


def classic_wide_table_section(rounds):
    """The classic indicators whose columns step in vector lanes (registry rows with "lanes") on
    the same wide tables in float64: the Python loop over pre-split contiguous columns calling the
    function against classic.batch's column layout, one thread."""
    from velkized_ta import classic
    from velkized_ta.classic import batch as classic_batch

    lines = ["### Wide tables, classic family: one series per column of a row-major (bars, series) float64 table",
             "", f"CPU time of the calling thread, one thread (median of {rounds}); ratio = Python loop / "
             f"columns; load average {os.getloadavg()[0]:.2f}.", ""]
    prices = {"high": 0, "low": 1, "close": 2}
    for series, bars in WIDE_SIZES:
        tables = [t.astype(np.float64) for t in make_bars(series, bars)]
        lines += [f"#### {series} series x {bars} bars", "", "| function | loop ms | columns ms | ratio |",
                  "|---|---:|---:|---:|"]
        for entry in classic.REGISTRY:
            if not entry["lanes"]:
                continue
            name = entry["name"]
            arrays = [tables[prices.get(key, 2)] for key in entry["inputs"]]
            split = [[np.ascontiguousarray(a[:, j]) for a in arrays] for j in range(series)]
            function, batched = getattr(classic, name), getattr(classic_batch, name)
            loop = cpu_time(lambda: [function(*one) for one in split], rounds)
            columns = cpu_time(lambda: batched(*arrays, axis=0, threads=1), rounds)
            lines.append(f"| `{name}` | {loop * 1e3:.1f} | {columns * 1e3:.1f} | {loop / columns:.2f} |")
            print(series, bars, lines[-1], flush=True)
        lines.append("")
    return lines


def frontend_routes(high, low, close):
    """The front-ends on a long frame against batch on the already grouped float32 arrays (RSI 14)."""
    import pandas as pd
    import polars as pl

    import velkized_ta.pandas  # noqa: F401
    import velkized_ta.polars as vp

    series, bars = close.shape[1], close.shape[0]
    long_close = close.T.ravel().copy()
    offsets = np.arange(series + 1, dtype=np.int64) * bars
    frame = pd.DataFrame({"symbol": np.repeat(np.arange(series), bars), "close": long_close.astype(np.float64)})
    table = pl.DataFrame({"symbol": np.repeat(np.arange(series), bars), "close": long_close})
    return {
        "batch, offsets, live (the front-ends' values)": lambda: batch.velk_rsi(long_close, 14, offsets=offsets,
                                                                                live=True, errors="nan"),
        "pandas by=": lambda: frame.velk.rsi(14, by="symbol"),
        "polars by=": lambda: table.select(vp.rsi(pl.col("close"), 14, by="symbol")),
        "polars .over": lambda: table.select(vp.rsi(pl.col("close"), 14).over("symbol")),
        "polars native cum_sum .over (reference)": lambda: table.select(pl.col("close").cum_sum().over("symbol")),
        "pandas groupby-transform": lambda: frame.groupby("symbol")["close"].transform(
            lambda s: velk_ta_funcs.velk_rsi(s.to_numpy(np.float32), 14)),
    }


def peak_extra_memory(function):
    tracemalloc.start()
    function()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return peak


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--series", type=int, default=2000)
    parser.add_argument("--bars", type=int, default=2500)
    parser.add_argument("--out", default=str(HERE / "MANY_SERIES.md"))
    parser.add_argument("--wide-only", action="store_true", help="only the wide-table sections")
    parser.add_argument("--classic-wide-only", action="store_true", help="only the classic wide-table section")
    parser.add_argument("--functions", help="with --wide-only: only these functions' rows (comma-separated "
                        "names, velk_willr,velk_stochf), and no classic section; for checking a few rows quickly")
    parser.add_argument("--against", metavar="SO", help="with --wide-only: time the column layout's native pass "
                        "against another build's _many module (path to its .so), both in this process")
    args = parser.parse_args(argv)
    rounds = 3 if args.quick else 7
    functions = FUNCTION_NAMES
    if args.functions:
        functions = [name.strip() for name in args.functions.split(",") if name.strip()]
        unknown = sorted(set(functions) - set(FUNCTION_NAMES))
        if unknown or not args.wide_only:
            parser.error(f"--functions needs --wide-only and names of functions (unknown: {unknown})")
    if args.against:
        if not args.wide_only:
            parser.error("--against needs --wide-only")
        lines = ["## Many series per call", ""] + against_section(args.against, 3 * rounds, functions)
        Path(args.out).write_text("\n".join(lines) + "\n")
        print(f"wrote {args.out}")
        return 0
    threads = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    if args.wide_only or args.classic_wide_only:
        lines = [f"## Many series per call", ""]
        if not args.classic_wide_only:
            lines += wide_table_section(rounds, threads, functions)
        if not args.functions:
            lines += classic_wide_table_section(rounds)
        Path(args.out).write_text("\n".join(lines) + "\n")
        print(f"wrote {args.out}")
        return 0
    high, low, close = make_bars(args.series, args.bars)
    lines = [f"## Many series per call ({args.series} series x {args.bars} bars)", "",
             f"Median of {rounds} interleaved rounds; ratio = route / `batch, offsets, threads=1`; "
             f"{threads} usable cores; load average {os.getloadavg()[0]:.2f}.", ""]
    for name in WORKLOAD:
        routes = routes_for(name, high, low, close, threads)
        times = interleaved(routes, rounds)
        base = times["batch, offsets, threads=1"]
        lines += [f"### `{name}`", "", "| route | ms | ratio |", "|---|---:|---:|"]
        lines += [f"| {route} | {seconds * 1e3:.1f} | {seconds / base:.2f} |" for route, seconds in times.items()]
        lines.append("")
        print(name, {k: round(v * 1e3, 1) for k, v in times.items()}, flush=True)
    output_bytes = 4 * args.series * args.bars
    peak = peak_extra_memory(lambda: batch.velk_rsi(close, 14, errors="nan"))
    lines += [f"Peak traced memory of `batch.velk_rsi` on the 2-D table: {peak / 1e6:.1f} MB for an output of "
              f"{output_bytes / 1e6:.1f} MB (input {3 * output_bytes / 1e6:.1f} MB, not copied).", ""]
    lines += wide_table_section(rounds, threads)
    lines += classic_wide_table_section(rounds)
    try:
        times = interleaved(frontend_routes(high, low, close), rounds)
        base = times["batch, offsets, live (the front-ends' values)"]
        lines += ["### Front-ends (`rsi`, 14; conversion from float64 included for pandas)", "",
                  "| route | ms | ratio to batch |", "|---|---:|---:|"]
        lines += [f"| {route} | {seconds * 1e3:.1f} | {seconds / base:.2f} |" for route, seconds in times.items()]
        lines.append("")
    except ImportError as error:
        lines += [f"Front-ends not measured: {error}", ""]
    Path(args.out).write_text("\n".join(lines) + "\n")
    print(f"wrote {args.out}")


if __name__ == "__main__":
    sys.exit(main())
