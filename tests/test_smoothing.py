import numpy as np
import pytest

from velkized_ta import velk_ta_funcs as m

# Worked values and identities, bit for bit: re-run on every dispatch path.
pytestmark = pytest.mark.every_dispatch

f32 = np.float32
NAN = np.nan
X = np.array([1, 2, 3, 4], f32)  # period 3: alpha 0.5, every stage exact in float32
PRICES = (100 + np.random.default_rng(5).standard_normal(300).cumsum()).astype(f32)


def arr(*values):
    return np.array(values, f32)


def same(a, b):
    np.testing.assert_array_equal(a, b, strict=True)


# --- velk_ema ------------------------------------------------------------------------------------

@pytest.mark.parametrize("x, p, normalize, n_values, expected", [
    (X, 3, False, 999999999, [1, 1.5, 2.25, 3.125]),
    (X, 3, True, 999999999, [0, -0.25, -0.25, -0.21875]),
    (X, 3, False, 2, [NAN, NAN, 2.25, 3.125]),
    (X, 3, False, 0, [NAN] * 4),
    (arr(NAN, 1, 2), 3, False, 999999999, [NAN, 1, 1.5]),
    (arr(1, NAN, 2), 3, False, 999999999, [1, NAN, NAN]),
    (arr(NAN, NAN), 3, True, 999999999, [NAN, NAN]),
    (arr(1, 2, 3), 0, False, 999999999, [1, 3, 3]),  # alpha 2: 2x - previous
    (arr(0, 1, 2), 3, True, 1, [NAN, NAN, -0.375]),  # the zero price is never written
    (arr(), 3, True, 0, []),
])
def test_ema_worked_values(x, p, normalize, n_values, expected):
    same(m.velk_ema(x, p, normalize, n_values), arr(*expected))


@pytest.mark.parametrize("p", [1, 3, 7, 20])
def test_ema_update_is_one_double_rounding(p):
    # c * ema is exact in double, so the stated fused update equals this float64 expression.
    alpha = f32(2 / (p + 1))
    ema, expected = PRICES[0], []
    for v in PRICES:
        ema = f32((1.0 - float(alpha)) * float(ema) + float(alpha * v))
        expected.append(ema)
    same(m.velk_ema(PRICES, p, False), np.array(expected, f32))


def test_ema_period_one_and_trailing_window():
    same(m.velk_ema(PRICES, 1, False), PRICES)
    same(m.velk_ema(PRICES, 1), np.zeros_like(PRICES))
    full, tail = m.velk_ema(PRICES, 9), m.velk_ema(PRICES, 9, n_values=50)
    assert np.isnan(tail[:-50]).all()
    np.testing.assert_allclose(tail[-50:], full[-50:], rtol=1e-5)


@pytest.mark.parametrize("args, error", [
    ((X, -1), ZeroDivisionError),
    ((arr(), -1), ZeroDivisionError),
    ((arr(0, 1), 3), ZeroDivisionError),
    ((arr(1, 0), 3), ZeroDivisionError),
    ((arr(), 3), IndexError),
    ((arr(), 3, True, -1), IndexError),
    ((X, 3, True, -1), IndexError),
    ((None, 3), TypeError),
])
def test_ema_errors(args, error):
    with pytest.raises(error):
        m.velk_ema(*args)


# --- chained stages, DEMA, TEMA ------------------------------------------------------------------

S1, S2, S3 = arr(0, -0.25, -0.25, -0.21875), arr(0, -0.125, -0.1875, -0.203125), arr(0, -0.0625, -0.125, -0.1640625)


def test_chain_worked_values_and_identities():
    same(m.velk_ema2(X, 3), S2)
    same(m.velk_ema3(X, 3), S3)
    same(m.velk_dema(X, timeperiod=3), arr(0, -0.375, -0.3125, -0.234375))
    same(m.velk_tema(X, timeperiod=3), arr(0, -0.4375, -0.3125, -0.2109375))
    s1, s2, s3 = m.velk_ema(PRICES, 9), m.velk_ema2(PRICES, 9), m.velk_ema3(PRICES, 9)
    same(m.velk_ema2(s1, 9, True), s2)
    same(m.velk_ema3(s2, 9, True), s3)
    same(m.velk_ema3(s1, 9, False, True), s3)
    same(m.velk_ema3(s2, 9, True, True), s3)
    same(m.velk_ema3(arr(5, 5, 5), 4), arr(0, 0, 0))
    same(m.velk_ema3(S2, 3, True, np.array([1, 2])), S3)  # input_is_ema1 not tested: stage 2 handed in
    same(m.velk_ema2(arr(0, 0), 3, True), arr(0, 0))  # zero prices only matter when normalizing


@pytest.mark.parametrize("flags", [(a, b, c) for a in (0, 1) for b in (0, 1) for c in (0, 1)])
def test_handed_in_stages_match_computed(flags):
    s1, s2, s3 = m.velk_ema(PRICES, 9), m.velk_ema2(PRICES, 9), m.velk_ema3(PRICES, 9)
    one, two, three = flags
    same(m.velk_tema(s1 if one else PRICES, s2, s3, 9, three, two, one), m.velk_tema(PRICES, timeperiod=9))
    same(m.velk_dema(s1 if one else PRICES, s2, 9, one, two), m.velk_dema(PRICES, timeperiod=9))


def test_dema_tema_combine_in_double():
    a = arr(1 + 2**-23)  # 3a is not a float32
    assert m.velk_tema(a, arr(1), arr(0), 1, True, True, True)[0] == 3 * 2**-23
    big = arr(3e38)  # 2a and 3a overflow float32 but not double
    same(m.velk_dema(big, big, 1, True, True), big)
    same(m.velk_tema(big, big, arr(0), 1, True, True, True), arr(0))


def test_dema_tema_windows_and_nan():
    same(m.velk_dema(X, X, 3, True, True, n_values=-5), arr(*[NAN] * 4))
    same(m.velk_tema(arr(NAN, 2, 3), timeperiod=3)[:2], arr(NAN, 0))
    tail = m.velk_tema(PRICES, timeperiod=9, n_values=40)
    assert np.isnan(tail[:-40]).all()
    same(tail[-40:], m.velk_tema(PRICES, timeperiod=9)[-40:])  # the later stages are seeded with 0
    same(m.velk_dema(S1, np.concatenate([S2, arr(7)]), 3, True, True), m.velk_dema(X, timeperiod=3))


@pytest.mark.parametrize("call, error", [
    (lambda: m.velk_ema2(arr(1, 0), 3), ZeroDivisionError),
    (lambda: m.velk_ema3(X, 3, False, np.array([1, 2])), ValueError),  # ambiguous truth value
    (lambda: m.velk_dema(X, S2[:2], 3, False, True), IndexError),
    (lambda: m.velk_dema(X, None, 3, True, True), IndexError),
    (lambda: m.velk_tema(X, None, None, 3, False, True, True), TypeError),  # len(None) in the stage call
])
def test_chain_errors(call, error):
    with pytest.raises(error):
        call()


# --- TRIX, MACD ----------------------------------------------------------------------------------

@pytest.mark.parametrize("args, kwargs, expected", [
    ((X, 3), {}, [NAN, -6.25e7, 1, 0.3125]),
    ((arr(0, 0.3),), {"input_is_ema3": True}, [NAN, 3e8]),  # a / 1e-9 in double
    ((arr(2, 2, 2),), {"input_is_ema3": True}, [NAN, 0, 0]),
    ((arr(NAN, 1),), {"input_is_ema3": True}, [NAN, NAN]),
    ((X, 3), {"n_values": 0}, [NAN] * 4),
    ((arr(7),), {}, [NAN]),
])
def test_trix_values(args, kwargs, expected):
    same(m.velk_trix(*args, **kwargs), arr(*expected))


def test_trix_from_handed_in_stages():
    full = m.velk_trix(PRICES, 9)
    same(m.velk_trix(m.velk_ema(PRICES, 9), 9, input_is_ema1=True), full)
    same(m.velk_trix(m.velk_ema2(PRICES, 9), 9, input_is_ema2=True), full)
    with pytest.raises(TypeError, match="arr"):
        m.velk_trix(None)


def test_macd():
    same(m.velk_macd(X, short_period=1, long_period=3), arr(NAN, NAN, NAN, 0.21875))
    same(m.velk_macd(X), arr(NAN, 0, 0, 0))
    same(m.velk_macd(X, S1, S2, 1, -2, True, True), m.velk_macd(X, S1, S2, 1, 0, True, True))
    fast, slow = m.velk_ema(PRICES, 5), m.velk_ema(PRICES, 17)
    expected = m.velk_macd(PRICES, short_period=5, long_period=17)
    for f1, f2 in [(1, 0), (0, 1), (1, 1)]:
        same(m.velk_macd(PRICES, fast, slow, 5, 17, f1, f2), expected)
    same(m.velk_macd(X, X, X, 1, 1, True, True, n_values=-1), arr(*[NAN] * 4))
    for call, error in [(lambda: m.velk_macd(None, X, X, 1, 1, True, True), TypeError),
                        (lambda: m.velk_macd(X, X[:2], X, 1, 1, True, True), IndexError),
                        (lambda: m.velk_macd(X, long_period=-5), IndexError)]:
        with pytest.raises(error):
            call()


# --- calls through the module's velk_ema ---------------------------------------------------------

@pytest.mark.parametrize("name, args, kwargs, expected", [
    ("velk_ema2", (X, 3), {"n_values": 2}, [("X", 3, True), (0, 3, False, 2)]),
    ("velk_ema2", (X, 3, True, 2), {}, [("X", 3, False, 2)]),
    ("velk_ema3", (X, 3, False, 1, 2), {}, [("X", 3, False), (0, 3, False, 2)]),
    ("velk_ema3", (X, 3), {}, [("X", 3, True), (0, 3, False), (1, 3, False, 999999999)]),
    ("velk_dema", (X, X, 3, False, True, 2), {}, [("X", 3, True, 2)]),
    ("velk_tema", (X, X, X, 3, False, True, False, 2), {}, [("X", 3, True, 2), ("X", 3, False, 2)]),
    ("velk_tema", (X, X, X, 3, True, False, True, 2), {}, [("X", 3, False, 2)]),
    ("velk_tema", (X,), {"timeperiod": 3}, [("X", 3, True), (0, 3, False), (1, 3, False, 999999999)]),
    ("velk_trix", (X, 3, False, False, True, 2), {}, [("X", 3, False), (0, 3, False, 3)]),
    ("velk_macd", (X,), {"short_period": 2, "long_period": 3, "n_values": 2},
     [("X", {"timeperiod": 2, "n_values": 2}), ("X", {"timeperiod": 3, "n_values": 2})]),
])
def test_stage_calls_go_through_module_global(monkeypatch, name, args, kwargs, expected):
    original, calls, results = m.velk_ema, [], []

    # Recorded as (source, timeperiod, normalize[, n_values]), or (source, keywords) without a period.
    def recording(source, *rest, **kw):
        label = "X" if source is X else next(i for i, r in enumerate(results) if r is source)
        calls.append((label, *rest, *kw.values()) if rest else (label, kw))
        results.append(original(source, *rest, **kw))
        return results[-1]

    monkeypatch.setattr(m, "velk_ema", recording)
    getattr(m, name)(*args, **kwargs)
    assert calls == expected
    monkeypatch.setattr(m, "velk_ema", lambda *a, **k: [1.0])
    with pytest.raises(TypeError, match="Cannot convert list to numpy.ndarray"):
        m.velk_dema(X, timeperiod=3)
    monkeypatch.delattr(m, "velk_ema")
    with pytest.raises(NameError, match="velk_ema"):
        m.velk_ema2(X, 3)


# --- views and long series ----------------------------------------------------------------------

def strided(a, step):
    """The same values through a view of another stride (negative: walked backwards)."""
    return np.repeat(a if step > 0 else a[::-1], abs(step))[::step]


@pytest.mark.parametrize("step", [2, -1, -3])
def test_strided_inputs_give_the_same_bits(step):
    x = PRICES.copy()
    x[200] = NAN
    s1, s2, s3 = m.velk_ema(x, 9), m.velk_ema2(x, 9), m.velk_ema3(x, 9)
    v = lambda a: strided(a, step)
    for got, want in [(m.velk_ema(v(x), 9), s1), (m.velk_ema2(v(x), 9), s2),
                      (m.velk_dema(v(s1), v(s2), 9, True, True), m.velk_dema(x, timeperiod=9)),
                      (m.velk_tema(v(s1), v(s2), v(s3), 9, True, True, True), m.velk_tema(x, timeperiod=9)),
                      (m.velk_trix(v(s3), input_is_ema3=True), m.velk_trix(x, 9)),
                      (m.velk_macd(v(x), v(s1), v(s2), 1, 4, True, True), m.velk_macd(x, s1, s2, 1, 4, True, True))]:
        same(got.view(np.uint32), want.view(np.uint32))


def test_concurrent_calls_on_long_series():
    from concurrent.futures import ThreadPoolExecutor
    x = (100 + np.random.default_rng(9).standard_normal(60000).cumsum()).astype(f32)  # runs without the lock
    calls = [lambda: m.velk_ema(x, 14), lambda: m.velk_tema(x, timeperiod=14), lambda: m.velk_trix(x, 14),
             lambda: m.velk_macd(x, short_period=12, long_period=26)] * 2
    expected = [call() for call in calls]
    with ThreadPoolExecutor(3) as pool:
        for got, want in zip(pool.map(lambda call: call(), calls), expected):
            same(got.view(np.uint32), want.view(np.uint32))
