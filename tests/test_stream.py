"""Stream handles against the batch functions, bar by bar and bit for bit."""

import pickle

import numpy as np
import pytest

from velkized_ta import stream, velk_ta_funcs as exact

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

# name -> (series the bars carry, parameter sets, does the handle match the trailing call)
P = [1, 2, 3, 5, 8]
ONE_PERIOD = [{"timeperiod": p} for p in P]
CASES = {
    "velk_sma": (1, [{"timeperiod": p, "normalize": nz} for p in P for nz in (True, False)]),
    "velk_lin": (1, ONE_PERIOD),
    "velk_mid": (3, [{"timeperiod": p, "normalize": nz} for p in P for nz in (True, False)]),
    "velk_ema": (1, [{"timeperiod": p, "normalize": nz} for p in (0, 1, 3, 8) for nz in (True, False)]),
    "velk_ema2": (1, [{"timeperiod": p, "input_is_ema1": f} for p in (1, 4) for f in (False, True)]),
    "velk_ema3": (1, [{"timeperiod": 4, "input_is_ema2": a, "input_is_ema1": b} for a in (0, 1) for b in (0, 1)]),
    "velk_dema": (1, [{"timeperiod": p, "input1_is_ema1": a, "input2_is_ema2": b}
                      for p in (1, 4) for a in (0, 1) for b in (0, 1)]),
    "velk_tema": (1, [{"timeperiod": 3, "input1_is_ema1": a, "input2_is_ema2": b, "input3_is_ema3": c}
                      for a in (0, 1) for b in (0, 1) for c in (0, 1)]),
    "velk_trix": (1, [{"timeperiod": 3, "input_is_ema3": a, "input_is_ema2": b, "input_is_ema1": c}
                      for a, b, c in ((0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 1, 1))]),
    "velk_macd": (1, [{"short_period": s, "long_period": lp, "input1_is_fast_ema": a, "input2_is_slow_ema": b}
                      for s, lp in ((1, 1), (3, 7), (5, 0)) for a in (0, 1) for b in (0, 1)]),
    "velk_roc": (1, ONE_PERIOD),
    "velk_rsi": (1, ONE_PERIOD),
    "velk_cmo": (1, ONE_PERIOD),
    "velk_willr": (3, ONE_PERIOD),
    "velk_stochf": (3, ONE_PERIOD),
    "velk_cci": (3, ONE_PERIOD),
    "velk_ult": (3, [{"short_period": s, "medium_period": m, "long_period": lp}
                     for s, m, lp in ((1, 1, 1), (2, 3, 5), (3, 5, 9), (4, 4, 4))]),
    "velk_dx": (3, ONE_PERIOD),
    "velk_adx": (3, [{"timeperiod": p, "close_arr_is_dx": f} for p in P for f in (False, True)]),
    "velk_adxr": (3, [{"timeperiod": p, "close_arr_is_adx": f} for p in (1, 2, 4) for f in (False, True)]),
    "velk_natr": (3, ONE_PERIOD),
    "velk_wick": (3, ONE_PERIOD),
    "velk_adif": (2, [{}]),
    "velk_rdif": (2, [{}]),
}
TRAILING = {"velk_sma", "velk_ult", "velk_lin", "velk_cmo", "velk_cci"}
# Flags that add a series to the bar, and that series' position among the arguments.
STAGE_FLAGS = {"input2_is_ema2": 1, "input3_is_ema3": 2, "input1_is_fast_ema": 1, "input2_is_slow_ema": 2}
SERIES_NAMES = {
    "velk_dema": ("input1", "input2"), "velk_tema": ("input1", "input2", "input3"),
    "velk_macd": ("input0", "input1", "input2"),
}


def bars(rng, n, width, kind):
    """Random walks with NaN runs, flat stretches and, for kind 'zeros', zero prices."""
    close = (100 + np.cumsum(rng.normal(0, 1, n))).astype(np.float32)
    spread = np.abs(rng.normal(0, 1, n)).astype(np.float32)
    high, low = close + spread, close - spread * np.float32(0.7)
    if kind in ("flat", "nan"):
        a = rng.integers(0, n - 8)
        close[a:a + 8] = high[a:a + 8] = low[a:a + 8] = close[a]
    if kind == "nan":
        for _ in range(2):
            a = rng.integers(0, n - 3)
            [high, low, close][rng.integers(0, 3)][a:a + rng.integers(1, 4)] = np.nan
        close[:2] = np.nan
    if kind == "zeros":
        close[rng.integers(0, n, 3)] = 0.0
    return [high, low, close][-width:] if width <= 3 else None


def batch_last(name, series, kw, trailing):
    """The batch call's last value, NaN for its warm-up IndexError, or its exception."""
    args, kwargs = split(name, series, kw)
    if trailing:
        kwargs["n_values"] = 1
    try:
        with np.errstate(all="ignore"):
            out = getattr(exact, name)(*args, **kwargs)
    except IndexError:
        return np.float32(np.nan)
    except Exception as exc:  # noqa: BLE001 - compared by type and message
        return exc
    return out[-1] if len(out) else np.float32(np.nan)


def split(name, series, kw):
    """Batch arguments for bars that carry `series` (the price first, then each flagged stage)."""
    kw = dict(kw)
    if name in SERIES_NAMES:
        names = SERIES_NAMES[name]
        given = sorted(STAGE_FLAGS[f] for f, v in kw.items() if f in STAGE_FLAGS and v)
        for slot, s in zip([0] + given, series):
            kw[names[slot]] = s
        return (), kw
    return tuple(series), kw


def open_handle(name, series, kw):
    args, kwargs = split(name, series, kw)
    return getattr(stream, name)(*args, **kwargs)


def bits(values):
    return np.asarray(values, dtype=np.float32).view(np.uint32)


def width_of(name, kw):
    width = CASES[name][0]
    if name in SERIES_NAMES:
        width += sum(1 for f, v in kw.items() if f in STAGE_FLAGS and v)
    return width


@pytest.mark.parametrize("kind", ["plain", "flat", "nan", "zeros"])
@pytest.mark.parametrize("name", sorted(CASES))
def test_updates_follow_the_batch_call(name, kind):
    rng = np.random.default_rng(abs(hash((name, kind))) % 2**32)
    trailing = name in TRAILING
    for kw in CASES[name][1]:
        width = width_of(name, kw)
        n = 40
        data = [s for s in bars(rng, n, min(width, 3), kind)]
        while len(data) < width:
            data.append(data[-1] * np.float32(1.01))
        split_at = int(rng.integers(0, 12))
        history = [s[:split_at] for s in data]
        expected = batch_last(name, history, kw, trailing)
        if isinstance(expected, Exception):
            with pytest.raises(type(expected), match=str(expected)):
                open_handle(name, history, kw)
            continue
        h = open_handle(name, history, kw)
        assert h.matches == ("trailing" if trailing else "full")
        assert bits(h.value) == bits(expected), (kw, split_at)
        consumed = list(history)
        got, want = [], []
        for i in range(split_at, n):
            bar = [float(s[i]) for s in data]
            candidate = [np.append(c, np.float32(b)) for c, b in zip(consumed, bar)]
            expected = batch_last(name, candidate, kw, trailing)
            if isinstance(expected, Exception):
                before = h.value
                with pytest.raises(type(expected), match=str(expected)):
                    h.update(*bar)
                assert bits(h.value) == bits(before)
                continue
            peeked = h.peek(*bar)
            got.append(h.update(*bar))
            want.append(expected)
            assert bits(peeked) == bits(got[-1])
            consumed = candidate
        assert np.array_equal(bits(got), bits(want)), (kw, split_at, bits(got), bits(want))


@pytest.mark.parametrize("name", sorted(CASES))
def test_update_many_copy_and_pickle_agree_with_updates(name):
    rng = np.random.default_rng(7)
    kw = CASES[name][1][-1]
    width = width_of(name, kw)
    data = bars(rng, 60, min(width, 3), "nan")
    while len(data) < width:
        data.append(data[-1] * np.float32(1.01))
    data = [np.where(s == 0, np.float32(1), s) for s in data]
    empty = [s[:0] for s in data]
    one = open_handle(name, empty, kw)
    many = open_handle(name, empty, kw)
    head = many.update_many(*[s[:25] for s in data])
    clone = pickle.loads(pickle.dumps(many))
    twin = many.copy()
    tail = many.update_many(*[s[25:] for s in data])
    singles = [one.update(*[float(s[i]) for s in data]) for i in range(60)]
    assert head.dtype == np.float32
    assert np.array_equal(bits(np.concatenate([head, tail])), bits(singles))
    for other in (clone, twin):
        assert np.array_equal(bits(other.update_many(*[s[25:] for s in data])), bits(tail))
    assert bits(many.value) == bits(singles[-1])


def test_failed_bars_are_not_consumed():
    history = [np.array([5, 6, 7], np.float32) - d for d in (0, 1, 0.5)]
    h = stream.velk_dx(*history, 1)
    with pytest.raises(ZeroDivisionError, match="float division"):
        h.update(6.5, 6.5, 6.5)
    with pytest.raises(ZeroDivisionError, match="float division"):
        h.update_many(np.array([7, 6.5], np.float32), np.array([6, 6.5], np.float32),
                      np.array([6.5, 6.5], np.float32))
    assert bits(h.value) == bits(exact.velk_dx(*history, 1)[-1])
    bar = (9.0, 7.0, 8.0)
    assert bits(h.update(*bar)) == bits(exact.velk_dx(*[np.append(s, np.float32(b)) for s, b in zip(history, bar)], 1)[-1])


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda h: h.update(1.0, 2.0), "velk_rsi stream update\\(\\) takes 1 bar value \\(2 given\\)"),
        (lambda h: h.peek("1"), "velk_rsi stream peek\\(\\) takes real numbers, got str"),
        (lambda h: h.update_many(), "velk_rsi stream update_many\\(\\) takes 1 series"),
    ],
)
def test_bad_bars_raise_type_error_naming_the_function(call, error):
    h = stream.velk_rsi(np.arange(1, 30, dtype=np.float32), 14)
    with pytest.raises(TypeError, match=error):
        call(h)


@pytest.mark.parametrize(
    "open_, error",
    [
        (lambda: stream.velk_rsi(np.arange(5.0), 3), "Buffer dtype mismatch"),
        (lambda: stream.velk_rsi([1.0, 2.0], 3), "incorrect type"),
        (lambda: stream.velk_dx(*[np.zeros(3, np.float32)] * 3, 0), "float division"),
        (lambda: stream.velk_ema(np.ones(3, np.float32), -1), "float division"),
        (lambda: stream.velk_roc(np.ones(30, np.float32), 0), "timeperiod must be at least 1"),
        (lambda: stream.velk_rsi(np.ones(30, np.float32), None), "an integer is required"),
    ],
)
def test_invalid_openings_raise_what_the_batch_call_raises(open_, error):
    with pytest.raises((TypeError, ValueError, ZeroDivisionError), match=error):
        open_()


def test_state_of_another_version_is_refused():
    h = stream.velk_ema(np.ones(3, np.float32), 3)
    restore, args = h.__reduce__()
    with pytest.raises(ValueError, match="version"):
        restore(args[0] + 1, *args[1:])


def test_live_regression_slope_stays_accurate_on_a_long_history():
    # The full call's sliding float32 sums drift (its slope here ends near -20 against a fit of
    # about -0.1); the live handle refits each window, so every window stays within float32
    # rounding of a float64 least-squares fit.
    period, n = 14, 1_000_000
    rng = np.random.default_rng(11)
    x = (1000 + np.cumsum(rng.normal(0, 1, n))).astype(np.float32)
    live = stream.velk_lin(x[:0], period).update_many(x)
    ends = np.arange(2 * period, n, 997)
    windows = np.stack([x[e - period + 1:e + 1] for e in ends], axis=1).astype(np.float64)
    fit = np.polyfit(np.arange(1, period + 1), windows, 1)[0]
    # Both numerator terms, period * sum(y * x) and sum(y) * sum(x), are at most
    # period * sum(y) * max|x|; each is a float32 sum of about period + 4 rounded steps
    # (the first window, then one slide), so the classic summation bound gives this.
    largest = np.abs(windows).max(axis=0)
    numerator_scale = 2 * period * (period * (period + 1) / 2) * largest
    denominator = period * period * (period * period - 1) / 12
    bound = (period + 4) * np.finfo(np.float32).eps * numerator_scale / denominator
    assert np.all(np.abs(live[ends] - fit) <= bound)
    for e in ends[::40]:
        assert bits(live[e]) == bits(exact.velk_lin(x[:e + 1], period, n_values=1)[-1]), e


@pytest.mark.parametrize("name", ["velk_lin", "velk_cci", "velk_adx", "velk_willr", "velk_tema"])
def test_pickled_handle_continues_alike_in_another_process(name, tmp_path):
    import subprocess
    import sys

    kw = CASES[name][1][-1]
    width = width_of(name, kw)
    data = bars(np.random.default_rng(3), 80, min(width, 3), "plain")
    while len(data) < width:
        data.append(data[-1] * np.float32(1.01))
    h = open_handle(name, [s[:0] for s in data], kw)
    h.update_many(*[s[:50] for s in data])
    rest = [s[50:] for s in data]
    child = (
        "import pickle, sys\n"
        "h, rest = pickle.loads(sys.stdin.buffer.read())\n"
        "sys.stdout.buffer.write(pickle.dumps((h.update_many(*rest), h.value)))\n"
    )
    # Run outside the checkout, whose source package would shadow the installed one.
    done = subprocess.run([sys.executable, "-c", child], input=pickle.dumps((h, rest)), capture_output=True,
                          check=True, cwd=tmp_path)
    there, last = pickle.loads(done.stdout)
    assert np.array_equal(bits(there), bits(h.update_many(*rest)))
    assert bits(last) == bits(h.value)


@pytest.mark.parametrize("name, kw", [("velk_willr", {"timeperiod": 5}), ("velk_stochf", {"timeperiod": 1}),
                                      ("velk_stochf", {"timeperiod": 9}), ("velk_ema", {"timeperiod": 6}),
                                      ("velk_ema", {"timeperiod": 3, "normalize": False}), ("velk_rsi", {"timeperiod": 4}),
                                      ("velk_macd", {"short_period": 3, "long_period": 40}),
                                      ("velk_macd", {"short_period": 5, "long_period": 2}),
                                      ("velk_adx", {"timeperiod": 4}), ("velk_adx", {"timeperiod": 20})])
@pytest.mark.parametrize("holes", [False, True])
def test_bulk_runs_in_pieces_follow_the_full_call(name, kw, holes):
    # Long runs take the kernels' own bulk loops (NaN inside a window takes the folds'
    # queue fallback); pieces of any size, then single updates, must carry the state across exactly.
    data = bars(np.random.default_rng(9), 400, CASES[name][0], "plain")
    if holes:
        data[0][100:103] = np.nan
        data[min(1, len(data) - 1)][262] = np.nan
    h = open_handle(name, [s[:7] for s in data], kw)
    got = []
    for a, b in ((7, 30), (30, 31), (31, 250), (250, 390)):
        got.extend(h.update_many(*[s[a:b] for s in data]))
    got.extend(h.update(*[float(s[i]) for s in data]) for i in range(390, 400))
    args, kwargs = split(name, data, kw)
    assert np.array_equal(bits(got), bits(getattr(exact, name)(*args, **kwargs)[7:]))


def test_bulk_run_refusing_a_zero_price_keeps_the_handle():
    # MACD's bulk loop meets the zero past its warm-up: nothing of the run is kept.
    close = bars(np.random.default_rng(4), 400, 1, "plain")[0]
    h = stream.velk_macd(close[:50], short_period=3, long_period=9)
    before = h.value
    spoiled = close.copy()
    spoiled[300] = 0.0
    with pytest.raises(ZeroDivisionError, match="float division"):
        h.update_many(spoiled[50:])
    assert bits(h.value) == bits(before)
    assert np.array_equal(bits(h.update_many(close[50:])),
                          bits(exact.velk_macd(input0=close, short_period=3, long_period=9)[50:]))
