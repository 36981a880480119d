"""Live updates: handles that give, bar by bar, exactly what the batch functions give.

For each of the 24 functions there is an opener of the same name that takes the
function's arguments without ``n_values`` and returns a handle::

    h = stream.velk_rsi(close_history, 14)   # the history may be empty
    h.update(101.5)                          # one float per series -> the new value
    h.peek(101.7)                            # the value that bar would give, not consumed
    h.value                                  # the value after the last consumed bar
    h.update_many(closes)                    # many bars -> float32 array of their values
    h.copy(); pickle.dumps(h)                # independent copies; pickled state is versioned

Bars take one float per series the function reads, in the function's order: the
price series, and each stage handed in with a flag (``velk_dema(x, s2, 10,
input2_is_ema2=True)`` takes ``update(price, stage2)``). ``velk_adx`` and
``velk_adxr`` take high, low and close even when close carries DX or ADX (high
and low are then ignored); ``velk_macd`` always takes ``input0`` first.

The contract: after opening with history H and consuming bars b1..bk, ``h.value``
equals, bit for bit, the last element of the batch call on H + b1..bk with the
same arguments:

* ``h.matches == "full"``: the full call. Every function except five.
* ``h.matches == "trailing"``: the call with ``n_values=1``. ``velk_sma`` and
  ``velk_ult``: their full call seeds its running sums with the series' *last*
  element (position -1), so every new bar changes the sums from the very first
  position; the full value cannot be followed without replaying the history.
  ``velk_lin``, ``velk_cmo`` and ``velk_cci``: their full call slides float32
  window sums along the whole series (adding each entering value, subtracting
  each leaving one), so its rounding error accumulates with the history's
  length; the call with ``n_values=1`` sums each window afresh, and the live
  value stays accurate however long the handle runs (O(period) per bar).

While the bars so far are too few for the batch call (it raises IndexError for
its warm-up), each bar is consumed and the value is NaN. Any other failure of
the batch call on the bars so far plus the new bar (ZeroDivisionError "float
division" at a zero divisor) is raised by ``update`` with the same type and
message, and nothing is consumed. ``update_many`` is all or nothing.

Training and serving: ``stream.velk_x(empty, ...).update_many(history)`` yields
exactly the values a live handle would have produced bar by bar, so features for
training can be computed with the serving code path (``velkized_ta.batch`` with
``live=True`` does so for many series at once). For the "full" handles that is
also the batch call's output; for the "trailing" ones it is the batch call with
``n_values=1`` at every bar, which stays accurate where the full call drifts.
Measured on a float32 random walk (seed 0: close = 1000 + cumsum of N(0, 1)
steps, high/low = close -/+ |N(0, 1)|), period 14, last value:

======================  ===========  ============  ===============  ==================
function                bars         full call     n_values=1       float64 reference
======================  ===========  ============  ===============  ==================
``velk_lin(x, 14)``     10,000       0.73161       0.152168         0.152140 (polyfit)
``velk_lin(x, 14)``     1,000,000    -22.594       -0.142524        -0.142451 (polyfit)
``velk_sma(x, 14)``     10,000       1062.6969     1062.6958        1062.6958 (mean)
``velk_sma(x, 14)``     1,000,000    1999.0071     1998.9479        1998.9477 (mean)
======================  ===========  ============  ===============  ==================

(``velk_sma`` with ``normalize=False``.) ``velk_cci(h, l, c, 14)`` over 100,000
bars of the same walk, against the float64 population formula: the full call
gives NaN (a negative variance of its drifted sums) at 81.1% of the positions
and a median relative error of 0.32 elsewhere; the call with ``n_values=1`` at
0.05% of them and 0.028 (what float32 ``E[x^2] - mean^2`` allows at a price
level of 1000). ``velk_cmo``'s sums of float32 changes stay exact on such walks,
but a level shift leaves a lasting error: 5,000 falling to 2 within 50 bars,
then 100,000 bars of N(0, 0.001) steps, gives a median error of 2.1e-4 (max
9.3e-4) in the full call over the last 50,000 bars, against 3.6e-9 for the
call with ``n_values=1``.

Cost: an update is O(1) for the recursive indicators and O(period) at most for
windowed ones; a handle holds O(period) state, never the history; opening runs
the kernel over the history once (the "trailing" ones read only its last bars).

Arguments are converted as the batch functions convert them (ints, bools, numpy
integers and anything with ``__int__``, in 32 bits; the same TypeError or
OverflowError otherwise). Memory follows the bars: windows grow as bars arrive,
so a huge period costs nothing until that many bars are seen, and a failed
allocation raises MemoryError. A step that calls numpy (and so possibly Python
code: a warnings hook, another thread) holds its handle; any call on the same
handle meanwhile raises RuntimeError ("handle in use"). Handles come from the
openers and from unpickling only (``Handle()`` raises TypeError); a pickled state
is checked against its parameters when restored, and damaged or forged bytes
raise ValueError.

Deviations from the batch functions: periods outside the range each opener
documents are rejected with ValueError (after letting the batch function raise
its own error on the history, if it does, other than IndexError for too few
bars); warnings the batch call would emit
(numpy's, from ``nanmean`` of an all-NaN seed window or the square root of a
negative variance) are emitted when the handle reaches that bar.
"""

from __future__ import annotations

import inspect
from typing import Any

import numpy as np

from velkized_ta import _live
from velkized_ta import velk_ta_funcs as _exact
from velkized_ta import _registry
from velkized_ta._registry import NAMES as FUNCTION_NAMES
from velkized_ta._signatures import exact_int

__all__ = list(FUNCTION_NAMES) + ["Handle", "STATE_VERSION"]

Handle = _live.Handle
STATE_VERSION = _live.STATE_VERSION


def _rejected(name: str, call: tuple, message: str) -> ValueError:
    """Lets the batch function raise its own error on the history; else our ValueError. Too few
    bars for its warm-up (IndexError) says nothing about the arguments: the refusal stands."""
    args, kwargs = call
    try:
        getattr(_exact, name)(*args, **kwargs)
    except IndexError:
        pass
    return ValueError(f"{name} stream: {message}")


def _int(name: str, call: tuple, value: Any) -> int:
    """The batch function's conversion: what it accepts, in 32 bits, and its error for the rest."""
    del name, call
    return exact_int(value)


def _open(name: str, kernel: str, params: tuple, series: tuple, call: tuple) -> Handle:
    for s in series:
        if not (isinstance(s, np.ndarray) and s.dtype == np.float32 and s.ndim == 1):
            raise _rejected(name, call, "history series must be one-dimensional float32 numpy arrays")
    if len({len(s) for s in series}) > 1:
        raise _rejected(name, call, "history series must have one length")
    return _live.open(name, kernel, tuple(int(p) for p in params), series)


def _at_least(name: str, call: tuple, floor: int, **periods: int) -> None:
    for label, value in periods.items():
        if value < floor:
            raise _rejected(name, call, f"{label} must be at least {floor}")


def _ema_period(name: str, call: tuple, **periods: int) -> None:
    for label, value in periods.items():
        if value == -1:
            raise _rejected(name, call, f"{label} must not be -1")


def _stand_in(series: Any, like: np.ndarray) -> np.ndarray:
    """High and low of DX/ADX-fed handles are not read; None becomes zeros."""
    return np.zeros(len(like), dtype=np.float32) if series is None else series


# The series whose values make a bar, for the functions that read some series only under a flag.
_FLAGGED_SERIES = {
    "velk_dema": (("input1", None), ("input2", "input2_is_ema2")),
    "velk_tema": (("input1", None), ("input2", "input2_is_ema2"), ("input3", "input3_is_ema3")),
    "velk_macd": (("input0", None), ("input1", "input1_is_fast_ema"), ("input2", "input2_is_slow_ema")),
}
_FLAG_DEFAULTS = {"input2_is_ema2": False, "input3_is_ema3": False, "input1_is_fast_ema": False,
                  "input2_is_slow_ema": False}


def _bar_series(name: str, series_names: tuple, arguments: dict) -> tuple:
    """The names of the series a handle of `name` opened with `arguments` takes in each bar, in order."""
    flagged = _FLAGGED_SERIES.get(name)
    if flagged is None:
        return series_names
    return tuple(series for series, flag in flagged
                 if flag is None or bool(arguments.get(flag, _FLAG_DEFAULTS[flag])))


# ---------------------------------------------------------------- averages

def velk_sma(input_array, timeperiod, normalize=True) -> Handle:
    """Live ``velk_sma``; ``update(price)``. Matches "trailing" (``n_values=1``): the full call's
    pre-fill adds the series' last element to its running sum, so each new bar changes the sum from
    the first position on. timeperiod >= 1."""
    call = ((input_array, timeperiod, normalize), {})
    p = _int("velk_sma", call, timeperiod)
    _at_least("velk_sma", call, 1, timeperiod=p)
    return _open("velk_sma", "velk_sma", (p, bool(normalize)), (input_array,), call)


def velk_lin(input_array, timeperiod) -> Handle:
    """Live ``velk_lin``; ``update(price)``. Matches "trailing" (``n_values=1``): the full call
    slides float32 regression sums over the whole series, so its slope drifts with the history's
    length (-22.6 where a float64 fit of the last window gives -0.142 after 10^6 bars of a random
    walk; see the module docstring); the handle fits each window afresh, O(period) per bar.
    timeperiod >= 1."""
    call = ((input_array, timeperiod), {})
    p = _int("velk_lin", call, timeperiod)
    _at_least("velk_lin", call, 1, timeperiod=p)
    return _open("velk_lin", "velk_lin", (p,), (input_array,), call)


def velk_mid(high, low, close, timeperiod, normalize=True) -> Handle:
    """Live ``velk_mid``; ``update(high, low, close)``. Matches "full". timeperiod >= 1."""
    call = ((high, low, close, timeperiod, normalize), {})
    p = _int("velk_mid", call, timeperiod)
    _at_least("velk_mid", call, 1, timeperiod=p)
    return _open("velk_mid", "velk_mid", (p, bool(normalize)), (high, low, close), call)


# ---------------------------------------------------------------- exponential smoothing

def velk_ema(input_array, timeperiod, normalize=True) -> Handle:
    """Live ``velk_ema``; ``update(price)``. Matches "full". timeperiod != -1."""
    call = ((input_array, timeperiod, normalize), {})
    p = _int("velk_ema", call, timeperiod)
    _ema_period("velk_ema", call, timeperiod=p)
    return _open("velk_ema", "velk_ema", (p, bool(normalize)), (input_array,), call)


def velk_ema2(input_array, timeperiod, input_is_ema1=False) -> Handle:
    """Live ``velk_ema2``; ``update(value)`` with the price, or stage 1 when ``input_is_ema1``.
    Matches "full". timeperiod != -1."""
    call = ((input_array, timeperiod, input_is_ema1), {})
    p = _int("velk_ema2", call, timeperiod)
    _ema_period("velk_ema2", call, timeperiod=p)
    g1 = bool(input_is_ema1)
    return _open("velk_ema2", "chain", (p, g1, 0, 0, 2, 0), (input_array,), call)


def velk_ema3(input_array, timeperiod, input_is_ema2=False, input_is_ema1=False) -> Handle:
    """Live ``velk_ema3``; ``update(value)`` with the price, or the stage its flag names.
    Matches "full". timeperiod != -1."""
    call = ((input_array, timeperiod, input_is_ema2, input_is_ema1), {})
    p = _int("velk_ema3", call, timeperiod)
    _ema_period("velk_ema3", call, timeperiod=p)
    g2 = bool(input_is_ema2)
    g1 = g2 or bool(input_is_ema1)
    return _open("velk_ema3", "chain", (p, g1, g2, 0, 3, 0), (input_array,), call)


def velk_dema(input1, input2=None, timeperiod=1, input1_is_ema1=False, input2_is_ema2=False) -> Handle:
    """Live ``velk_dema``; ``update(input1[, stage2])``: the stage-2 value only with ``input2_is_ema2``.
    Matches "full". timeperiod != -1."""
    call = ((input1, input2, timeperiod, input1_is_ema1, input2_is_ema2), {})
    p = _int("velk_dema", call, timeperiod)
    _ema_period("velk_dema", call, timeperiod=p)
    g1, g2 = bool(input1_is_ema1), bool(input2_is_ema2)
    series = (input1,) + ((input2,) if g2 else ())
    return _open("velk_dema", "chain", (p, g1, g2, 0, 2, 1), series, call)


def velk_tema(input1, input2=None, input3=None, timeperiod=1, input3_is_ema3=False, input2_is_ema2=False,
              input1_is_ema1=False) -> Handle:
    """Live ``velk_tema``; ``update(input1[, stage2][, stage3])``: each stage value only with its flag.
    Matches "full". timeperiod != -1."""
    call = ((input1, input2, input3, timeperiod, input3_is_ema3, input2_is_ema2, input1_is_ema1), {})
    p = _int("velk_tema", call, timeperiod)
    _ema_period("velk_tema", call, timeperiod=p)
    g1, g2, g3 = bool(input1_is_ema1), bool(input2_is_ema2), bool(input3_is_ema3)
    series = (input1,) + ((input2,) if g2 else ()) + ((input3,) if g3 else ())
    return _open("velk_tema", "chain", (p, g1, g2, g3, 3, 2), series, call)


def velk_trix(arr, timeperiod=1, input_is_ema3=False, input_is_ema2=False, input_is_ema1=False) -> Handle:
    """Live ``velk_trix``; ``update(value)`` with the price, or the stage its flag names.
    Matches "full". timeperiod != -1."""
    call = ((arr, timeperiod, input_is_ema3, input_is_ema2, input_is_ema1), {})
    p = _int("velk_trix", call, timeperiod)
    _ema_period("velk_trix", call, timeperiod=p)
    flags = (bool(input_is_ema3), bool(input_is_ema2), bool(input_is_ema1))
    return _open("velk_trix", "velk_trix", (p,) + flags, (arr,), call)


def velk_macd(input0=None, input1=None, input2=None, short_period=1, long_period=1, input1_is_fast_ema=False,
              input2_is_slow_ema=False) -> Handle:
    """Live ``velk_macd``; ``update(price[, fast][, slow])``: each average only with its flag.
    Matches "full". Periods != -1, long_period >= 0."""
    call = ((input0, input1, input2, short_period, long_period, input1_is_fast_ema, input2_is_slow_ema), {})
    s = _int("velk_macd", call, short_period)
    l_ = _int("velk_macd", call, long_period)
    _ema_period("velk_macd", call, short_period=s, long_period=l_)
    _at_least("velk_macd", call, 0, long_period=l_)
    gf, gs = bool(input1_is_fast_ema), bool(input2_is_slow_ema)
    series = (input0,) + ((input1,) if gf else ()) + ((input2,) if gs else ())
    return _open("velk_macd", "velk_macd", (s, l_, gf, gs), series, call)


# ---------------------------------------------------------------- momentum

def _one_period(name: str, series: tuple, timeperiod: Any, extra: tuple = ()) -> Handle:
    call = (series + (timeperiod,) + extra, {})
    p = _int(name, call, timeperiod)
    _at_least(name, call, 1, timeperiod=p)
    return _open(name, name, (p,), series, call)


def velk_roc(input_array, timeperiod) -> Handle:
    """Live ``velk_roc``; ``update(price)``. Matches "full". timeperiod >= 1."""
    return _one_period("velk_roc", (input_array,), timeperiod)


def velk_rsi(close, timeperiod) -> Handle:
    """Live ``velk_rsi``; ``update(close)``. Matches "full" (O(1) per bar). timeperiod >= 1."""
    return _one_period("velk_rsi", (close,), timeperiod)


def velk_cmo(close_arr, timeperiod) -> Handle:
    """Live ``velk_cmo``; ``update(close)``. Matches "trailing" (``n_values=1``): the full call
    slides float32 sums of gains and losses over the whole series, which keep the rounding of every
    change that passed through them (after a level shift, errors around 2e-4 that never go away);
    the handle sums the window's changes afresh, O(period) per bar. timeperiod >= 1."""
    return _one_period("velk_cmo", (close_arr,), timeperiod)


def velk_willr(high_arr, low_arr, close_arr, timeperiod) -> Handle:
    """Live ``velk_willr``; ``update(high, low, close)``. Matches "full". timeperiod >= 1."""
    return _one_period("velk_willr", (high_arr, low_arr, close_arr), timeperiod)


def velk_stochf(high_arr, low_arr, close_arr, timeperiod, stream=False, last_value_only=False) -> Handle:
    """Live ``velk_stochf``; ``update(high, low, close)``. Matches "full"; the two flags change
    nothing, as in the function. timeperiod >= 1."""
    return _one_period("velk_stochf", (high_arr, low_arr, close_arr), timeperiod, (stream, last_value_only))


def velk_cci(high_arr, low_arr, close_arr, timeperiod) -> Handle:
    """Live ``velk_cci``; ``update(high, low, close)``. Matches "trailing" (``n_values=1``): the
    full call slides float32 sums of the typical price and its square over the whole series, which
    drift until the variance comes out negative (NaN at 81% of 10^5 bars of a random walk, against
    0.05% for fresh sums); the handle sums each window afresh, O(period) per bar, and takes numpy's
    root of a negative variance at every bar that has one, as each such call does. timeperiod >= 1."""
    return _one_period("velk_cci", (high_arr, low_arr, close_arr), timeperiod)


def velk_ult(high_arr, low_arr, close_arr, short_period, medium_period, long_period) -> Handle:
    """Live ``velk_ult``; ``update(high, low, close)``. Matches "trailing" (``n_values=1``): the full
    call seeds its six running sums with a first bar whose previous close is the series' last one, so
    each new bar changes the sums from the first position on. 1 <= short, medium <= long."""
    call = ((high_arr, low_arr, close_arr, short_period, medium_period, long_period), {})
    s = _int("velk_ult", call, short_period)
    m = _int("velk_ult", call, medium_period)
    l_ = _int("velk_ult", call, long_period)
    _at_least("velk_ult", call, 1, short_period=s, medium_period=m)
    if s > l_ or m > l_:
        raise _rejected("velk_ult", call, "long_period must be at least short_period and medium_period")
    return _open("velk_ult", "velk_ult", (s, m, l_), (high_arr, low_arr, close_arr), call)


# ---------------------------------------------------------------- directional movement

def velk_dx(high, low, close, timeperiod) -> Handle:
    """Live ``velk_dx``; ``update(high, low, close)``. Matches "full" (O(1) per bar). timeperiod >= 1."""
    return _one_period("velk_dx", (high, low, close), timeperiod)


def velk_natr(high_arr, low_arr, close_arr, timeperiod) -> Handle:
    """Live ``velk_natr``; ``update(high, low, close)``. Matches "full"; the seed is numpy's nanmean,
    as in the function. timeperiod >= 1."""
    return _one_period("velk_natr", (high_arr, low_arr, close_arr), timeperiod)


def _wilder_of(name: str, high_arr, low_arr, close_arr, timeperiod, flag: str, given: Any) -> Handle:
    """ADX and ADXR: close may carry the series one level down, and high and low are then unused."""
    call = ((high_arr, low_arr, close_arr, timeperiod), {flag: given})
    p = _int(name, call, timeperiod)
    _at_least(name, call, 1, timeperiod=p)
    if given and isinstance(close_arr, np.ndarray):
        high_arr, low_arr = _stand_in(high_arr, close_arr), _stand_in(low_arr, close_arr)
    return _open(name, name, (p, bool(given)), (high_arr, low_arr, close_arr), call)


def velk_adx(high_arr=None, low_arr=None, close_arr=None, timeperiod=1, close_arr_is_dx=False) -> Handle:
    """Live ``velk_adx``; ``update(high, low, close)``, close being DX with ``close_arr_is_dx`` (high
    and low are then ignored). Matches "full". timeperiod >= 1."""
    return _wilder_of("velk_adx", high_arr, low_arr, close_arr, timeperiod, "close_arr_is_dx", close_arr_is_dx)


def velk_adxr(high_arr, low_arr, close_arr, timeperiod, close_arr_is_adx=False) -> Handle:
    """Live ``velk_adxr``; ``update(high, low, close)``, close being ADX with ``close_arr_is_adx`` (high
    and low are then ignored). Matches "full". timeperiod >= 1."""
    return _wilder_of("velk_adxr", high_arr, low_arr, close_arr, timeperiod, "close_arr_is_adx", close_arr_is_adx)


# ---------------------------------------------------------------- candles and spreads

def velk_wick(high_arr, low_arr, close_arr, timeperiod) -> Handle:
    """Live ``velk_wick``; ``update(high, low, close)``. Matches "full". timeperiod >= 1."""
    return _one_period("velk_wick", (high_arr, low_arr, close_arr), timeperiod)


def velk_adif(input_array_1, input_array_2) -> Handle:
    """Live ``velk_adif``; ``update(a, b)``. Matches "full"."""
    call = ((input_array_1, input_array_2), {})
    return _open("velk_adif", "velk_adif", (), (input_array_1, input_array_2), call)


def velk_rdif(input_array_1, input_array_2) -> Handle:
    """Live ``velk_rdif``; ``update(a, b)``. Matches "full"."""
    call = ((input_array_1, input_array_2), {})
    return _open("velk_rdif", "velk_rdif", (), (input_array_1, input_array_2), call)


# ---------------------------------------------------------------- openers from the declarations

def _opener_of_declaration(name: str):
    """The opener of a function without one of its own: its kernel, named like the function, takes
    the int parameters (each at least 1) and flags in declaration order, and each bar one value of
    every series."""
    params = [(p, kind, default) for p, kind, default in _registry.parameters(name) if p != "n_values"]
    series = [p for p, kind, _ in params if kind == "series"]
    ints = [p for p, kind, _ in params if kind == "int"]
    signature = ", ".join(p if default is inspect.Parameter.empty else f"{p}={default!r}" for p, _, default in params)
    scalars = [(p, kind) for p, kind, _ in params if kind != "series"]
    kernel_params = ", ".join(f"_int(name, call, {p})" if kind == "int" else f"bool({p})" for p, kind in scalars)
    periods = ", ".join(f"{p}=params[{k}]" for k, (p, kind) in enumerate(scalars) if kind == "int")
    source = (f"from __future__ import annotations\ndef {name}({signature}) -> Handle:\n"
              f"    call = (({', '.join(p for p, _, _ in params)},), {{}})\n"
              f"    params = ({kernel_params}{',' if kernel_params else ''})\n"
              f"    _at_least(name, call, 1, {periods})\n"
              f"    return _open(name, name, params, ({', '.join(series)}{',' if series else ''}), call)\n")
    namespace = {"name": name, "_int": _int, "_at_least": _at_least, "_open": _open}
    exec(source, namespace)  # a real signature, as the hand-written openers have
    opener = namespace[name]
    empty = np.zeros(0, dtype=np.float32)
    matches = _live.open(name, name, tuple(1 if kind == "int" else 0 for _, kind in scalars),
                         (empty,) * len(series)).matches
    ranges = "".join(f" {p} >= 1." for p in ints)
    opener.__doc__ = f'Live ``{name}``; ``update({", ".join(series)})``. Matches "{matches}".{ranges}'
    opener.__module__ = __name__
    return opener


for _name in FUNCTION_NAMES:
    if _name not in globals():
        globals()[_name] = _opener_of_declaration(_name)
