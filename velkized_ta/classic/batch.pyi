"""Type stubs for velkized_ta.classic.batch (written by tools/layer_stubs.py)."""

from typing import Any, Literal, SupportsInt

import numpy as np
import numpy.typing as npt

_Input = npt.ArrayLike
_Result = npt.NDArray[np.float64]
_DType = Any


__all__: list[str]

def batch(
    name_or_function: object,
    *args: Any,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
    **kwargs: Any,
) -> Any: ...

def adx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def apo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def atr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def bbands(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdevup: float = 2.0,
    nbdevdn: float = 2.0,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def cci(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def dema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def ema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def kama(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def macd(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    signalperiod: SupportsInt = 9,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def midpoint(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def midprice(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def minus_di(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def mom(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def obv(
    close: _Input,
    volume: _Input,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def plus_di(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def ppo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def roc(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def rsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def sma(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
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
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def stochf(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def stochrsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def t3(
    close: _Input,
    timeperiod: SupportsInt = 5,
    vfactor: float = 0.7,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def tema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def trange(
    high: _Input,
    low: _Input,
    close: _Input,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def trima(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def willr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
def wma(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    offsets: _Input | None = None,
    axis: int = 0,
    threads: int | None = None,
    errors: Literal['raise', 'nan'] = 'raise',
    dtype: _DType = np.float64,
) -> _Result: ...
