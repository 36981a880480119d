"""Type stubs for the velkized_ta.velk_ta_funcs extension module."""

from types import ModuleType
from typing import Any, SupportsInt

import numpy as np
import numpy.typing as npt

_Series = npt.NDArray[np.float32]
_Int = SupportsInt

np: ModuleType
__test__: dict[str, Any]

def velk_sma(input_array: _Series, timeperiod: _Int, normalize: object = True, n_values: _Int = 999999999) -> _Series: ...
def velk_lin(input_array: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series: ...
def velk_mid(
    high: _Series, low: _Series, close: _Series, timeperiod: _Int, normalize: object = True, n_values: _Int = 999999999
) -> _Series: ...
def velk_ema(input_array: _Series, timeperiod: _Int, normalize: object = True, n_values: _Int = 999999999) -> _Series: ...
def velk_ema2(
    input_array: _Series, timeperiod: _Int, input_is_ema1: object = False, n_values: _Int = 999999999
) -> _Series: ...
def velk_ema3(
    input_array: _Series,
    timeperiod: _Int,
    input_is_ema2: object = False,
    input_is_ema1: object = False,
    n_values: _Int = 999999999,
) -> _Series: ...
def velk_dema(
    input1: _Series,
    input2: _Series | None = None,
    timeperiod: _Int = 1,
    input1_is_ema1: object = False,
    input2_is_ema2: object = False,
    n_values: _Int = 999999999,
) -> _Series: ...
def velk_tema(
    input1: _Series,
    input2: _Series | None = None,
    input3: _Series | None = None,
    timeperiod: _Int = 1,
    input3_is_ema3: object = False,
    input2_is_ema2: object = False,
    input1_is_ema1: object = False,
    n_values: _Int = 999999999,
) -> _Series: ...
def velk_trix(
    arr: _Series,
    timeperiod: _Int = 1,
    input_is_ema3: object = False,
    input_is_ema2: object = False,
    input_is_ema1: object = False,
    n_values: _Int = 999999999,
) -> _Series: ...
def velk_roc(input_array: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series: ...
def velk_rsi(close: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series: ...
def velk_willr(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series: ...
def velk_cci(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series: ...
def velk_dx(high: _Series, low: _Series, close: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series: ...
def velk_adx(
    high_arr: _Series | None = None,
    low_arr: _Series | None = None,
    close_arr: _Series | None = None,
    timeperiod: _Int = 1,
    n_values: _Int = 999999999,
    close_arr_is_dx: object = False,
) -> _Series: ...
def velk_adxr(
    high_arr: _Series | None,
    low_arr: _Series | None,
    close_arr: _Series,
    timeperiod: _Int,
    n_values: _Int = 999999999,
    close_arr_is_adx: object = False,
) -> _Series: ...
def velk_cmo(close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999) -> _Series: ...
def velk_natr(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series: ...
def velk_ult(
    high_arr: _Series,
    low_arr: _Series,
    close_arr: _Series,
    short_period: _Int,
    medium_period: _Int,
    long_period: _Int,
    n_values: _Int = 999999999,
) -> _Series: ...
def velk_stochf(
    high_arr: _Series,
    low_arr: _Series,
    close_arr: _Series,
    timeperiod: _Int,
    stream: object = False,
    last_value_only: object = False,
) -> _Series: ...
def velk_wick(
    high_arr: _Series, low_arr: _Series, close_arr: _Series, timeperiod: _Int, n_values: _Int = 999999999
) -> _Series: ...
def velk_macd(
    input0: _Series | None = None,
    input1: _Series | None = None,
    input2: _Series | None = None,
    short_period: _Int = 1,
    long_period: _Int = 1,
    input1_is_fast_ema: object = False,
    input2_is_slow_ema: object = False,
    n_values: _Int = 999999999,
) -> _Series: ...
def velk_adif(input_array_1: _Series, input_array_2: _Series, n_values: _Int = 999999999) -> _Series: ...
def velk_rdif(input_array_1: _Series, input_array_2: _Series, n_values: _Int = 999999999) -> _Series: ...
