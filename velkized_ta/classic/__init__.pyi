"""Type stubs for velkized_ta.classic (written by tools/layer_stubs.py)."""

from typing import Any, Literal, SupportsInt

import numpy as np
import numpy.typing as npt

_Input = npt.ArrayLike
_Result = npt.NDArray[np.float64]
_DType = Any


__all__: list[str]
REGISTRY: tuple[dict[str, Any], ...]
NAMES: tuple[str, ...]
def descriptor(name_or_function: object) -> dict[str, Any]: ...
def lookback(name_or_function: object, *args: Any, **kwargs: Any) -> int: ...

def adx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def apo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def atr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def bbands(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdevup: float = 2.0,
    nbdevdn: float = 2.0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def cci(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def dema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def kama(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def macd(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    signalperiod: SupportsInt = 9,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def midpoint(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def midprice(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def minus_di(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def mom(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def obv(
    close: _Input,
    volume: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def plus_di(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ppo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def roc(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def rsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def sma(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def stoch(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    slowk_period: SupportsInt = 3,
    slowd_period: SupportsInt = 3,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def stochf(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def stochrsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def t3(
    close: _Input,
    timeperiod: SupportsInt = 5,
    vfactor: float = 0.7,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def tema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def trange(
    high: _Input,
    low: _Input,
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def trima(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def willr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def wma(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
