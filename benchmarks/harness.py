"""Measurement helpers: bar data, interleaved timing, agreement checks, memory and thread probes,
and the native chain-only kernels."""

from __future__ import annotations

import ctypes
import gc
import os
import shutil
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent

# The extension's floating-point flags, so the chain kernels round exactly as the indicators do.
CHAIN_CFLAGS = ["-O2", "-ffp-contract=off", "-fno-fast-math", "-fno-associative-math", "-fno-reciprocal-math"]


# ---------------------------------------------------------------- bars


@dataclass
class Bars:
    """A random-walk OHLC series in float32, with the converted copies peers need cached."""

    open: np.ndarray
    high: np.ndarray
    low: np.ndarray
    close: np.ndarray
    _cache: dict = field(default_factory=dict, repr=False)

    def __len__(self) -> int:
        return len(self.close)

    def f32(self, name: str) -> np.ndarray:
        return getattr(self, name)

    def f64(self, name: str) -> np.ndarray:
        key = ("f64", name)
        if key not in self._cache:
            self._cache[key] = getattr(self, name).astype(np.float64)
        return self._cache[key]

    def series(self, name: str):
        """pandas Series over the float64 copy (pandas computes in float64 anyway)."""
        import pandas as pd

        key = ("pd", name)
        if key not in self._cache:
            self._cache[key] = pd.Series(self.f64(name))
        return self._cache[key]

    def polars(self, name: str):
        import polars as pl

        key = ("pl", name)
        if key not in self._cache:
            self._cache[key] = pl.Series(name, getattr(self, name))
        return self._cache[key]

    def derived(self, key: str, make):
        """Per-bar inputs of the chain kernels, computed once outside any timing."""
        if key not in self._cache:
            self._cache[key] = make(self)
        return self._cache[key]


def random_walk_bars(n: int, seed: int) -> Bars:
    """Random-walk bars: log-price steps of 1 %, reflected inside a band of e**±0.5 around 100
    so that a million bars keep the price level (and float32 resolution) of the first ones."""
    rng = np.random.default_rng(seed)
    walk = np.cumsum(rng.normal(0.0, 0.01, n))
    band = 0.5
    folded = band - np.abs(np.mod(walk - band, 4 * band) - 2 * band)
    close = 100.0 * np.exp(folded)
    open_ = np.concatenate(([close[0]], close[:-1]))
    reach = np.abs(rng.normal(0.0, 0.006, n)) * close
    high = np.maximum(open_, close) + reach * rng.random(n)
    low = np.minimum(open_, close) - reach * rng.random(n)
    return Bars(*(np.ascontiguousarray(a, dtype=np.float32) for a in (open_, high, low, close)))


# ---------------------------------------------------------------- timing


def interleaved_medians(contenders: dict, rounds: int, min_sample_s: float = 0.0) -> tuple:
    """Median seconds per call of each zero-argument callable, and the spread of its samples.

    Every round runs each contender once (a batch of calls when one call is shorter than
    min_sample_s), in an order rotated from round to round, so slow drifts of the machine
    spread evenly over the contenders.
    """
    names = list(contenders)
    batch = {}
    for name in names:
        f = contenders[name]
        f()  # warm-up: first-call costs (imports, caches) stay out of the samples
        begin = time.perf_counter()
        f()
        single = max(time.perf_counter() - begin, 1e-9)
        batch[name] = max(1, int(min_sample_s / single)) if min_sample_s else 1
    samples = {name: [] for name in names}
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for r in range(rounds):
            k = r % len(names)
            for name in names[k:] + names[:k]:
                f, b = contenders[name], batch[name]
                begin = time.perf_counter()
                for _ in range(b):
                    f()
                samples[name].append((time.perf_counter() - begin) / b)
            gc.collect()
    finally:
        if gc_was_enabled:
            gc.enable()
    medians = {name: float(np.median(samples[name])) for name in names}
    return medians, {name: _spread(samples[name]) for name in names}


def _spread(values) -> float:
    """Interquartile range relative to the median: a noise indicator for one contender."""
    q1, q2, q3 = np.percentile(values, [25, 50, 75])
    return float((q3 - q1) / q2) if q2 > 0 else float("nan")


# ---------------------------------------------------------------- agreement


@dataclass
class Agreement:
    ok: bool
    checked: int
    max_err: float
    full_max_err: float
    reason: str = ""


def agreement(ours: np.ndarray, theirs: np.ndarray, *, skip: int = 0, tol: float = 1e-5, head: int = 2000,
              frac: float = 1.0) -> Agreement:
    """Do two series carry the same quantity?

    The error at a position is |a - b| / (|b| + s), s being the median |b| of the compared
    positions: relative for ordinary values, scaled by the series' typical size near zero
    crossings. The check covers `head` positions from the later of `skip` and both series'
    first finite value; there the finite positions must coincide and at least `frac` of them
    must be within `tol`. Window sums carried in float32 drift slowly over a million bars,
    so the head is where the formulas are compared; the whole overlap's largest error is
    reported as full_max_err.
    """
    a = np.asarray(ours, dtype=np.float64)
    b = np.asarray(theirs, dtype=np.float64)
    if a.shape != b.shape:
        return Agreement(False, 0, float("inf"), float("inf"), f"length {a.shape} vs {b.shape}")
    fa, fb = np.isfinite(a), np.isfinite(b)
    if not fa.any() or not fb.any():
        return Agreement(False, 0, float("inf"), float("inf"), "no finite values")
    start = max(skip, int(np.argmax(fa)), int(np.argmax(fb)))
    if start >= len(a):
        return Agreement(True, 0, 0.0, 0.0, "nothing to compare")
    stop = min(len(a), start + head)
    if not np.array_equal(fa[start:stop], fb[start:stop]):
        where = start + int(np.argmax(fa[start:stop] != fb[start:stop]))
        return Agreement(False, 0, float("inf"), float("inf"), f"finite at different positions from {where}")
    err = _errors(a[start:], b[start:], fa[start:] & fb[start:])
    head_err = err[: stop - start]
    head_err = head_err[~np.isnan(head_err)]
    within = float(np.mean(head_err <= tol)) if len(head_err) else 1.0
    max_err = float(head_err.max()) if len(head_err) else 0.0
    full = err[~np.isnan(err)]
    full_max = float(full.max()) if len(full) else 0.0
    ok = within >= frac
    reason = "" if ok else f"{100 * (1 - within):.2f} % of positions beyond {tol:g}"
    return Agreement(ok, len(head_err), max_err, full_max, reason)


def _errors(a, b, both) -> np.ndarray:
    err = np.full(len(a), np.nan)
    if both.any():
        scale = float(np.median(np.abs(b[both])))
        err[both] = np.abs(a[both] - b[both]) / (np.abs(b[both]) + scale)
    return err


def pad_front(values, n: int) -> np.ndarray:
    """A peer's output that omits its warm-up, aligned to the end of an n-long series."""
    values = np.asarray(values, dtype=np.float64)
    out = np.full(n, np.nan)
    out[n - len(values):] = values
    return out


# ---------------------------------------------------------------- threads


def thread_speedup(make_call, bars_a: Bars, bars_b: Bars, calls: int, repeats: int) -> float:
    """Throughput of two threads, each calling on its own series, over that of one thread."""
    one, other = make_call(bars_a), make_call(bars_b)
    one(), other()
    ratios = []
    for _ in range(repeats):
        begin = time.perf_counter()
        for _ in range(calls):
            one()
        single = time.perf_counter() - begin

        barrier = threading.Barrier(3)
        threads = [threading.Thread(target=_repeat, args=(f, calls, barrier)) for f in (one, other)]
        for t in threads:
            t.start()
        barrier.wait()
        begin = time.perf_counter()
        for t in threads:
            t.join()
        double = time.perf_counter() - begin
        ratios.append(2 * single / double)
    return float(np.median(ratios))


def _repeat(f, calls: int, barrier: threading.Barrier):
    barrier.wait()
    for _ in range(calls):
        f()


def memory_scaling(megabytes: int = 160, rounds: int = 7) -> tuple[float, float]:
    """What the machine's memory gives one thread and two: GB/s read and written by numpy copying an
    array too large for the caches, whole on one thread, and by two threads a half each. Where two
    threads move little more than one, a batch bound by memory gains little from the second thread
    (and two threads splitting each row of a table then wait on memory twice as long each)."""
    n = megabytes * 2**20 // 8
    source, target = np.ones(n), np.empty(n)
    half = n // 2

    def one():
        np.copyto(target, source)

    def two():
        other = threading.Thread(target=np.copyto, args=(target[half:], source[half:]))
        other.start()
        np.copyto(target[:half], source[:half])
        other.join()

    speeds = []
    for run in (one, two):
        times = []
        for _ in range(rounds):
            begin = time.perf_counter()
            run()
            times.append(time.perf_counter() - begin)
        speeds.append(2 * source.nbytes / min(times) / 1e9)
    return speeds[0], speeds[1]


# ---------------------------------------------------------------- memory


def peak_memory(call) -> dict:
    """Peak extra memory of one call: traced allocations (numpy reports its data buffers to
    tracemalloc) and the resident-set high-water mark, which also sees native allocations."""
    import tracemalloc

    call()
    gc.collect()
    rss_ok = _reset_rss_peak()
    rss_before = _rss_kib("VmRSS") if rss_ok else None
    tracemalloc.start()
    tracemalloc.reset_peak()
    base = tracemalloc.get_traced_memory()[0]
    result = call()
    traced = tracemalloc.get_traced_memory()[1] - base
    tracemalloc.stop()
    rss = (_rss_kib("VmHWM") - rss_before) * 1024 if rss_ok else None
    del result
    return {"traced": int(traced), "rss": None if rss is None else int(rss)}


def _reset_rss_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def _rss_kib(field_name: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field_name + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field_name} missing from /proc/self/status")


# ---------------------------------------------------------------- native chain kernels


def cpu_has_fma() -> bool:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            return any(line.startswith("flags") and " fma " in f" {line.split(':', 1)[1].strip()} "
                       for line in cpuinfo)
    except OSError:
        return False


class Chains:
    """chains.c compiled at run time and loaded with ctypes."""

    def __init__(self, cc: str | None = None, extra_flags: list | None = None):
        cc = cc or os.environ.get("CC") or shutil.which("cc") or "gcc"
        if extra_flags is None:
            # The module runs its fused steps on the FMA unit when the CPU has one; so does the chain.
            extra_flags = ["-mfma"] if cpu_has_fma() else []
        self.flags = CHAIN_CFLAGS + list(extra_flags)
        self.compiler = cc
        self._dir = tempfile.mkdtemp(prefix="velk-chains-")
        lib = Path(self._dir) / "chains.so"
        # A sanitizer runtime preloaded into the tests must not be preloaded into the compiler.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        subprocess.run([cc, *self.flags, "-fPIC", "-shared", "-o", str(lib), str(HERE / "chains.c"), "-lm"],
                       check=True, env=env)
        self.lib = ctypes.CDLL(str(lib))
        f32 = np.ctypeslib.ndpointer(dtype=np.float32, ndim=1, flags="C_CONTIGUOUS")
        i32 = np.ctypeslib.ndpointer(dtype=np.int32, ndim=1, flags="C_CONTIGUOUS")
        n, p = ctypes.c_int64, ctypes.c_int32
        signatures = {
            "chain_window_sum": [f32, n, p],
            "chain_window_sum2": [f32, f32, n, p],
            "chain_sum_squares": [f32, n, p],
            "chain_six_sums": [f32, f32, n, p, p, p],
            "chain_regression": [f32, n, p],
            "chain_ema": [f32, n, ctypes.c_float],
            "chain_totals": [f32, f32, n, p],
            "chain_wilder": [f32, f32, f32, p, n, p],
            "chain_queues": [f32, f32, i32, i32, n, p],
        }
        for name, args in signatures.items():
            fn = getattr(self.lib, name)
            fn.argtypes = args
            fn.restype = ctypes.c_float
            setattr(self, name[len("chain_"):], fn)

    def close(self):
        shutil.rmtree(self._dir, ignore_errors=True)
