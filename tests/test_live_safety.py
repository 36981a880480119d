"""Live handles and live batches under hostile use: re-entrant calls, forged handles and states,
huge periods and thread counts, interrupts, and the live routes' argument rules.

Whatever could crash the interpreter runs in a child process, which must end with exit status 0
(never a signal, an abort or a timeout)."""

import os
import pickle
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from velkized_ta import batch, stream, velk_ta_funcs
from velkized_ta._signatures import parameters
from velkized_ta.sample import example_arguments, sample_ohlc

SANITIZED = bool(os.environ.get("VELK_SANITIZE_RUN"))


def run_child(code, timeout=120, **kwargs):
    """Runs `code` in a fresh interpreter; returns its stdout. Fails on a signal, an error or a hang."""
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, cwd=os.path.dirname(__file__), **kwargs)
    assert done.returncode == 0, (done.returncode, done.stderr[-3000:])
    return done.stdout


# ---------------------------------------------------------------- re-entrant calls

# A step that calls numpy (ADX's all-NaN seed window, CCI's negative variance) runs the warnings
# machinery; a hook there that calls the same handle, directly or from another thread, is refused.
REENTRANT = """
import threading, warnings
import numpy as np
from velkized_ta import stream

def opened(kind):
    if kind == "adx":
        h = stream.velk_adx(*[np.empty(0, np.float32)] * 3, 3)
        bar = (np.nan, np.nan, np.nan)
    else:
        h = stream.velk_cci(*[np.empty(0, np.float32)] * 3, 5)
        bar = None
    return h, bar

refused = []
def call_again(handle, how):
    def call():
        try:
            {"update_many": lambda: handle.update_many(*[np.empty(0, np.float32)] * 3),
             "update": lambda: handle.update(1.0, 1.0, 1.0), "peek": lambda: handle.peek(1.0, 1.0, 1.0),
             "copy": handle.copy, "pickle": lambda: handle.__reduce__()}[how]()
        except RuntimeError as error:
            assert "handle in use" in str(error)
            refused.append(how)
    return call

for kind in ("adx", "cci"):
    for how in ("update_many", "update", "peek", "copy", "pickle"):
        for thread in (False, True):
            h, bar = opened(kind)
            again = call_again(h, how)
            def hook(*args, **kwargs):
                if thread:
                    t = threading.Thread(target=again)
                    t.start()
                    t.join()
                else:
                    again()
            with warnings.catch_warnings():
                warnings.simplefilter("always")
                warnings.showwarning = hook
                if kind == "adx":
                    for _ in range(8):
                        h.update(*bar)
                else:
                    x = (10000 + np.random.default_rng(1).integers(0, 3, size=40) * 0.001).astype(np.float32)
                    h.update_many(x, x, x)
            h.update_many(*[np.ones(3, np.float32)] * 3)  # still a working handle
print(len(refused))
"""


def test_a_running_step_refuses_reentrant_calls():
    assert int(run_child(REENTRANT)) >= 20


def test_handles_come_only_from_openers():
    with pytest.raises(TypeError):
        stream.Handle()
    with pytest.raises(TypeError):
        stream.Handle.__new__(stream.Handle)


def test_handles_do_not_leak_their_type():
    x = np.ones(20, dtype=np.float32)
    before = sys.getrefcount(stream.Handle)
    for _ in range(1000):
        pickle.loads(pickle.dumps(stream.velk_rsi(x, 3).copy()))
    assert sys.getrefcount(stream.Handle) - before < 10


# ---------------------------------------------------------------- memory and threads

def test_long_periods_take_memory_by_the_bars():
    out = run_child("""
        import resource
        import numpy as np
        from velkized_ta import batch, stream
        x = np.linspace(1, 2, 10, dtype=np.float32)
        for period in (2**31 - 1, 100_000_000):
            for name in ("velk_willr", "velk_stochf", "velk_mid", "velk_wick", "velk_cci", "velk_ult"):
                args = (x, x, x) + ((1, 1, period) if name == "velk_ult" else (period,))
                h = getattr(stream, name)(*args)
                h.update_many(x, x, x)
            for name in ("velk_sma", "velk_lin", "velk_roc", "velk_cmo", "velk_rsi", "velk_ema"):
                getattr(stream, name)(x, period).update_many(x)
            stream.velk_adxr(x, x, x, period).update_many(x, x, x)
            stream.velk_natr(x, x, x, period).update_many(x, x, x)
            assert np.isnan(batch.velk_sma(np.tile(x[:, None], 4), period, live=True)).all()
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
    """)
    assert SANITIZED or int(out) < 400  # MiB; the windows' full size alone would be 8 GiB


@pytest.mark.skipif(SANITIZED or sys.platform != "linux", reason="an address-space limit")
def test_a_failed_allocation_raises_memory_error():
    out = run_child("""
        import resource
        import numpy as np
        from velkized_ta import stream
        x = np.ones(30_000_000, dtype=np.float32)
        h = stream.velk_lin(x[:0], 2**30)
        used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 64 * 2**20, resource.RLIM_INFINITY))
        try:
            h.update_many(x)
        except MemoryError:
            print("MemoryError")
        h.update(1.0)
    """)
    assert out.strip() == "MemoryError"


def test_thread_counts_are_capped():
    out = run_child("""
        import numpy as np
        from velkized_ta import batch
        closes = np.cumsum(np.ones((30, 3000), np.float32), axis=0)
        live = batch.velk_rsi(closes, 3, live=True, threads=40000)
        assert np.array_equal(live, batch.velk_rsi(closes, 3, threads=1), equal_nan=True)
        print("ok")
    """)
    assert out.strip() == "ok"


@pytest.mark.skipif(sys.platform == "win32", reason="signals")
def test_ctrl_c_stops_a_live_batch():
    out = run_child("""
        import os, signal, threading, time
        import numpy as np
        from velkized_ta import batch
        closes = np.ones((400_000, 40), np.float32)
        # A child started with SIGINT ignored (a background job's, as under CI) would never see it.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        fired = []

        def interrupt():
            fired.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)

        threading.Timer(0.5, interrupt).start()
        try:
            for _ in range(10_000):  # a fast machine may finish one call before the signal
                batch.velk_cci(closes, closes, closes, 50, live=True, threads=2)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - fired[0])
    """, timeout=300)
    word, seconds = out.split()
    assert word == "interrupted" and (SANITIZED or float(seconds) < 5)


# ---------------------------------------------------------------- restored states

BARS = sample_ohlc(60)
FLAGGED = [("velk_tema", {"input1_is_ema1": True}), ("velk_tema", {"input2_is_ema2": True, "input3_is_ema3": True}),
           ("velk_dema", {"input2_is_ema2": True}), ("velk_ema3", {"input_is_ema2": True}),
           ("velk_trix", {"input_is_ema1": True}), ("velk_macd", {"input1_is_fast_ema": True}),
           ("velk_adx", {"close_arr_is_dx": True}), ("velk_adxr", {"close_arr_is_adx": True}),
           ("velk_sma", {"normalize": False})]
OPENERS = [(name, {}) for name in stream.__all__ if name.startswith("velk_")] + FLAGGED


def opened(name, flags, length):
    """A handle of `name` over the first `length` sample bars, and its bars' series."""
    kwargs = example_arguments(getattr(velk_ta_funcs, name), BARS, 4)
    kwargs.pop("n_values", None)
    kwargs.update(flags)
    for parameter, kind, _ in parameters(name):  # stages left out are taken when flagged, else ignored
        if kind == "series" and kwargs.get(parameter) is None:
            kwargs[parameter] = BARS["close"]
    series = {k: v[:length] for k, v in kwargs.items() if isinstance(v, np.ndarray)}
    handle = getattr(stream, name)(**{**kwargs, **series})
    bars = [BARS["close"][length:]] * handle.arity
    return handle, bars


@pytest.mark.parametrize("name, flags", OPENERS, ids=[f"{n}{sorted(f)}" for n, f in OPENERS])
def test_states_pickle_field_by_field(name, flags):
    handle, bars = opened(name, flags, 30)
    twin, _ = opened(name, flags, 30)
    assert pickle.dumps(handle) == pickle.dumps(twin) == pickle.dumps(pickle.loads(pickle.dumps(handle)))
    restored = pickle.loads(pickle.dumps(handle))
    assert np.array_equal(restored.update_many(*bars), handle.update_many(*bars), equal_nan=True)


def forged(handle, **changes):
    restore, (version, name, kernel, params, state, value) = handle.__reduce__()
    fields = dict(version=version, name=name, kernel=kernel, params=params, state=state, value=value)
    fields.update(changes)
    return lambda: restore(*fields.values())


def test_forged_states_and_parameters_are_refused():
    x = BARS["close"]
    sma5 = stream.velk_sma(x[:30], 5)
    state = sma5.__reduce__()[1][4]
    cases = [
        forged(sma5, params=(50, 1)),                       # a period-5 state under period 50
        forged(sma5, params=(5, 1), name="velk_lin"),       # another function's kernel
        forged(sma5, params=(5, 2)),                        # a flag that is not 0 or 1
        forged(sma5, params=(2**32 + 5, 1)),                # beyond 32 bits
        forged(sma5, params=(5,)),                          # too few parameters
        forged(sma5, version=2),                            # another version
        forged(sma5, state=state[:-1]),                     # truncated
        forged(sma5, state=state + b"\0"),                  # extended
        forged(stream.velk_ema2(x, 5), params=(5, 0, 0, 0, 7, 0)),  # chain depth beyond the stages
        forged(stream.velk_tema(x, timeperiod=5), name="velk_ema2"),
    ]
    for restore in cases:
        with pytest.raises(ValueError):
            restore()


def test_restored_windows_fit_their_parameters():
    x = BARS["close"]
    willr = stream.velk_willr(x[:30], x[:30], x[:30], 5)
    state = bytearray(willr.__reduce__()[1][4])
    # params (count, period), then n, then the highest highs' queue: its entry count first
    head = 4 + 4 + 8
    for count in (0, 2**40, -1, 6):
        bad = bytes(state[:head]) + np.int64(count).tobytes() + bytes(state[head + 8:])
        with pytest.raises(ValueError):
            forged(willr, state=bad)()
    ema = stream.velk_ema(x[:30], 5)
    state = ema.__reduce__()[1][4]
    with pytest.raises(ValueError):  # the seeded flag is one byte, 0 or 1
        forged(ema, state=state[:-1] + b"\x02")()


FUZZ = """
import pickle, sys
import numpy as np
sys.path.insert(0, ".")
from test_live_safety import OPENERS, opened
rng = np.random.default_rng(2024)
refused = worked = 0
for name, flags in OPENERS:
    for length in (0, 3, 9, 40):
        handle, bars = opened(name, flags, length)
        restore, (version, fname, kernel, params, state, value) = handle.__reduce__()
        for _ in range(ROUNDS):
            damaged = bytearray(state)
            for _ in range(rng.integers(1, 5)):
                if damaged:
                    damaged[rng.integers(len(damaged))] = rng.integers(256)
            try:
                h = restore(version, fname, kernel, params, bytes(damaged), value)
            except ValueError:
                refused += 1
                continue
            worked += 1
            try:
                h.update_many(*bars)
                h.update(*[1.0] * h.arity)
            except (ZeroDivisionError, RuntimeWarning):
                pass
            pickle.loads(pickle.dumps(h)).copy()
print(refused, worked)
"""


def test_damaged_states_restore_or_raise_value_error():
    rounds = 10 if SANITIZED else 60
    refused, worked = map(int, run_child(FUZZ.replace("ROUNDS", str(rounds)), timeout=600).split())
    assert refused > 0 and worked > 0


# ---------------------------------------------------------------- the live routes' arguments

X = BARS["close"]


@pytest.mark.parametrize("period, error", [(2**32 + 14, OverflowError), (2**31, OverflowError), ("14", TypeError),
                                           (None, TypeError), (np.uint64(2**63), OverflowError)])
def test_live_routes_refuse_what_the_exact_function_refuses(period, error):
    with pytest.raises(error):
        velk_ta_funcs.velk_rsi(X, period)
    with pytest.raises(error):
        stream.velk_rsi(X, period)
    for errors in ("raise", "nan"):
        with pytest.raises(error):
            batch.velk_rsi(X[:, None], period, live=True, errors=errors)
        with pytest.raises(error):
            batch.velk_rsi(X[:, None], period, errors=errors)
    with pytest.raises(OverflowError):
        stream.velk_ema(X, 2**32 - 1)


@pytest.mark.parametrize("period", [np.int64(14), np.int32(14), 14.0, True])
def test_live_routes_take_what_the_exact_function_takes(period):
    expected = velk_ta_funcs.velk_rsi(X, period)
    assert np.array_equal(stream.velk_rsi(X[:0], period).update_many(X), expected, equal_nan=True)
    assert np.array_equal(batch.velk_rsi(X[:, None], period, live=True)[:, 0], expected, equal_nan=True)


@pytest.mark.parametrize("function, args, kwargs", [
    ("velk_adx", (None, None, "close", 5), {"close_arr_is_dx": True}),
    ("velk_adxr", (None, None, "close", 5), {"close_arr_is_adx": True}),
    ("velk_dema", ("close", "close", 5), {}),
    ("velk_tema", ("close", "close", "close", 5), {"input2_is_ema2": True}),
    ("velk_macd", ("close", "close", None, 3, 7), {}),
    ("velk_macd", ("close", None, "close", 3, 7), {"input2_is_slow_ema": True}),
    ("velk_rsi", ("close", 5), {"n_values": 7}),
    ("velk_ema", ("close", 5), {"n_values": 0}),
    ("velk_dx", ("high", "low", "close", 5), {"n_values": 2**31 - 1}),
])
def test_live_batches_take_the_exact_functions_calls(function, args, kwargs):
    def filled(columns):
        series = {a: np.tile(BARS[a][:, None], 3) if columns else BARS[a] for a in args if isinstance(a, str)}
        return [series.get(a, a) if isinstance(a, str) else a for a in args]
    expected = getattr(velk_ta_funcs, function)(*filled(False), **kwargs)
    live = getattr(batch, function)(*filled(True), **kwargs, live=True)
    for j in range(3):
        assert np.array_equal(live[:, j], expected, equal_nan=True)


@pytest.mark.parametrize("period", [0, -1, -5])
def test_periods_the_live_handles_refuse_raise_whatever_errors_says(period):
    with pytest.raises(ValueError, match="at least 1"):
        batch.velk_rsi(np.tile(X[:, None], 2), period, live=True, errors="nan")


def test_negative_windows_raise_on_the_live_route_as_on_the_exact_one():
    with pytest.raises(IndexError):
        velk_ta_funcs.velk_rsi(X, 5, n_values=-1)
    with pytest.raises(IndexError):
        batch.velk_rsi(X[:, None], 5, n_values=-1, live=True)


def test_batch_threads_and_offsets_arguments():
    columns = np.tile(X[:, None], 4)
    assert np.array_equal(batch.velk_rsi(columns, 5, threads=np.int64(2), live=True),
                          batch.velk_rsi(columns, 5, threads=1), equal_nan=True)
    for threads in (True, 0, 2.0, "2"):
        with pytest.raises(ValueError):
            batch.velk_rsi(columns, 5, threads=threads)
    for dtype in (np.uint64, np.uint32, np.int64):
        with pytest.raises(ValueError, match="ascending"):
            batch.velk_rsi(X, 5, offsets=np.array([0, 40, 30, 60], dtype=dtype))


def test_front_end_default_route_does_not_wrap_periods():
    pd = pytest.importorskip("pandas")
    import velkized_ta.pandas  # noqa: F401 - registers the accessor

    bars = pd.DataFrame({"close": X})
    with pytest.raises(OverflowError):
        bars.velk.rsi(2**32 + 14)
    assert np.array_equal(np.asarray(bars.velk.rsi(np.int64(14)), dtype=np.float32),
                          np.asarray(bars.velk.rsi(14), dtype=np.float32), equal_nan=True)
