"""Type stubs for velkized_ta.velk_ta_funcs (written by tools/layer_stubs.py)."""

from types import ModuleType
from typing import Any, SupportsInt

import numpy as np
import numpy.typing as npt

_Series = npt.NDArray[np.float32]
_Int = SupportsInt

np: ModuleType
__test__: dict[str, Any]

def velk_sma(input_array: _Series, timeperiod: _Int, normalize: object = True, n_values: _Int = 999999999) -> _Series:
    """Mean of the last `timeperiod` values, skipping NaN.

    Returns (mean - value) / value, a fraction; normalize=False returns the mean itself.
    First value at position timeperiod - 1. Raises ZeroDivisionError at a zero value when normalizing.
    """

def velk_lin(input_array: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series:
    """Least-squares slope of the last `timeperiod` values, in price units per bar.

    Float32 running sums: they drift on long series; n_values restarts them near the end.
    First value at position timeperiod - 1 (after leading NaN). A later NaN makes every later value NaN.
    """

def velk_mid(
    high: _Series, low: _Series, close: _Series, timeperiod: _Int, normalize: object = True, n_values: _Int = 999999999
) -> _Series:
    """Midpoint (highest high + lowest low) / 2 of the last `timeperiod` bars.

    Returns (midpoint - close) / close, a fraction; normalize=False returns the midpoint.
    First value at position timeperiod - 1.
    """

def velk_ema(input_array: _Series, timeperiod: _Int, normalize: object = True, n_values: _Int = 999999999) -> _Series:
    """Exponential moving average, alpha = 2 / (timeperiod + 1), seeded with the first non-NaN value.

    Returns (ema - price) / price, a fraction; normalize=False returns the average.
    First value at position 0 (the first non-NaN value). A later NaN makes every later value NaN.
    """

def velk_ema2(
    input_array: _Series, timeperiod: _Int, input_is_ema1: object = False, n_values: _Int = 999999999
) -> _Series:
    """Stage 2 of the EMA chain: the plain EMA of velk_ema(input_array, timeperiod), a fraction.

    input_is_ema1=True: input_array already is stage 1.
    First value at position 0.
    """

def velk_ema3(
    input_array: _Series,
    timeperiod: _Int,
    input_is_ema2: object = False,
    input_is_ema1: object = False,
    n_values: _Int = 999999999,
) -> _Series:
    """Stage 3 of the EMA chain: the plain EMA of stage 2, a fraction.

    input_is_ema2 / input_is_ema1: input_array already is stage 2 / stage 1.
    First value at position 0.
    """

def velk_dema(
    input1: _Series,
    input2: _Series | None = None,
    timeperiod: _Int = 1,
    input1_is_ema1: object = False,
    input2_is_ema2: object = False,
    n_values: _Int = 999999999,
) -> _Series:
    """2 * stage1 - stage2 of the EMA chain, a fraction (not the textbook DEMA of the price).

    Pass timeperiod by keyword: the second position is input2 (a precomputed stage 2).
    First value at position 0.
    """

def velk_tema(
    input1: _Series,
    input2: _Series | None = None,
    input3: _Series | None = None,
    timeperiod: _Int = 1,
    input3_is_ema3: object = False,
    input2_is_ema2: object = False,
    input1_is_ema1: object = False,
    n_values: _Int = 999999999,
) -> _Series:
    """3 * stage1 - 3 * stage2 + stage3 of the EMA chain, a fraction (not the textbook TEMA).

    Pass timeperiod by keyword: positions two and three are precomputed stages.
    First value at position 0.
    """

def velk_trix(
    arr: _Series,
    timeperiod: _Int = 1,
    input_is_ema3: object = False,
    input_is_ema2: object = False,
    input_is_ema1: object = False,
    n_values: _Int = 999999999,
) -> _Series:
    """One-bar relative change of stage 3 of the EMA chain, a fraction (not times 100).

    Spikes where stage 3 crosses zero; the first values are dominated by the seed.
    First value at position 1.
    """

def velk_roc(input_array: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series:
    """Rate of change (x[t] - x[t - timeperiod]) / x[t - timeperiod], a fraction (not times 100).

    A zero base is replaced by 1e-9.
    First value at position timeperiod.
    """

def velk_rsi(close: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series:
    """Wilder's relative strength index, 0 ... 100; 100 where there are no losses (also flat prices).

    First value at position timeperiod + 1.
    """

def velk_willr(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series:
    """Williams %R as a fraction: (highest high - close) / (highest high - lowest low), 0 ... 1.

    0 at the window's high, 1 at its low; NaN where the window has no range.
    First value at position timeperiod - 1.
    """

def velk_cci(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series:
    """Commodity channel index over the standard deviation: (tp - mean) / (0.015 * std).

    Float32 running sums of tp and tp**2: on long series the variance drifts (NaN where it rounds below 0);
    n_values restarts the sums near the end.
    First value at position timeperiod - 1.
    """

def velk_dx(high: _Series, low: _Series, close: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series:
    """Directional movement index |DI+ - DI-| / (DI+ + DI-), 0 ... 1, Wilder-smoothed.

    Raises ZeroDivisionError where the smoothed range or movement is zero (flat prices).
    First value at position timeperiod + 1.
    """

def velk_adx(
    high_arr: _Series | None = None,
    low_arr: _Series | None = None,
    close_arr: _Series | None = None,
    timeperiod: _Int = 1,
    n_values: _Int = 999999999,
    close_arr_is_dx: object = False,
) -> _Series:
    """Wilder average of velk_dx, 0 ... 1. Pass all of high, low, close and timeperiod.

    close_arr_is_dx=True: close_arr already is the DX series.
    First value at position 2 * timeperiod.
    """

def velk_adxr(
    high_arr: _Series | None,
    low_arr: _Series | None,
    close_arr: _Series,
    timeperiod: _Int,
    n_values: _Int = 999999999,
    close_arr_is_adx: object = False,
) -> _Series:
    """(ADX[t] + ADX[t - timeperiod]) / 2, 0 ... 1.

    close_arr_is_adx=True: close_arr already is the ADX series.
    First value at position 3 * timeperiod.
    """

def velk_cmo(close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series:
    """Chande momentum oscillator over plain window sums: (gains - losses) / (gains + losses), -1 ... 1.

    First value at position timeperiod. Raises IndexError for n_values <= 0.
    """

def velk_natr(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series:
    """Wilder average true range divided by the close, a fraction (not times 100).

    First value at position timeperiod.
    """

def velk_ult(
    high_arr: _Series,
    low_arr: _Series,
    close_arr: _Series,
    short_period: _Int,
    medium_period: _Int,
    long_period: _Int,
    n_values: _Int = 999999999,
) -> _Series:
    """Ultimate oscillator, 0 ... 1: buying pressure over true range in three windows.

    Ratios weighted crosswise: short by long_period, medium by medium_period, long by short_period.
    First value at position long_period.
    """

def velk_stochf(
    high_arr: _Series,
    low_arr: _Series,
    close_arr: _Series,
    timeperiod: _Int,
    stream: object = False,
    last_value_only: object = False,
) -> _Series:
    """Fast stochastic %K as a fraction: (close - lowest low) / (highest high - lowest low), 0 ... 1.

    No %D line; stream and last_value_only are ignored.
    First value at position timeperiod - 1.
    """

def velk_wick(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series:
    """Upper minus lower wick of a candle spanning the last `timeperiod` bars, over the close.

    The candle opens at close[t - timeperiod] and closes at close[t].
    First value at position timeperiod.
    """

def velk_macd(
    input0: _Series | None = None,
    input1: _Series | None = None,
    input2: _Series | None = None,
    short_period: _Int = 1,
    long_period: _Int = 1,
    input1_is_fast_ema: object = False,
    input2_is_slow_ema: object = False,
    n_values: _Int = 999999999,
) -> _Series:
    """MACD line over the price: velk_ema(x, short_period) - velk_ema(x, long_period), a fraction.

    Pass the periods by keyword. No signal line or histogram.
    First value at position long_period.
    """

def velk_adif(input_array_1: _Series, input_array_2: _Series, n_values: _Int = 999999999) -> _Series:
    """input_array_1 - input_array_2, element by element.

    First value at position 0.
    """

def velk_rdif(input_array_1: _Series, input_array_2: _Series, n_values: _Int = 999999999) -> _Series:
    """(input_array_1 - input_array_2) / input_array_2, a fraction; a zero divisor becomes 1e-9.

    First value at position 0.
    """
