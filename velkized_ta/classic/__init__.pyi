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
def first_positions(name_or_function: object, *args: Any, **kwargs: Any) -> tuple[int, ...]: ...
def input_signature(entry: dict[str, Any]) -> list[str]: ...

def ad(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def adosc(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    fastperiod: SupportsInt = 3,
    slowperiod: SupportsInt = 10,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def adx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def adxr(
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
    matype: SupportsInt = 1,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def aroon(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def aroonosc(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
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
def avgprice(
    open: _Input,
    high: _Input,
    low: _Input,
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def bbands(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdevup: float = 2.0,
    nbdevdn: float = 2.0,
    matype: SupportsInt = 0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def beta(
    real0: _Input,
    real1: _Input,
    timeperiod: SupportsInt = 5,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def bop(
    open: _Input,
    high: _Input,
    low: _Input,
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def cci(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def cmf(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    timeperiod: SupportsInt = 20,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def cmo(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def correl(
    real0: _Input,
    real1: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def dema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def donchian(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 20,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def dx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ema(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def heikin_ashi(
    open: _Input,
    high: _Input,
    low: _Input,
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result, _Result]: ...
def hma(
    close: _Input,
    timeperiod: SupportsInt = 20,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ht_dcperiod(
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ht_dcphase(
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ht_phasor(
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def ht_sine(
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def ht_trendline(
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ht_trendmode(
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ichimoku(
    high: _Input,
    low: _Input,
    close: _Input,
    tenkan: SupportsInt = 9,
    kijun: SupportsInt = 26,
    senkou: SupportsInt = 52,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result, _Result]: ...
def kama(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def keltner(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 20,
    multiplier: float = 2.0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def linearreg(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def linearreg_angle(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def linearreg_intercept(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def linearreg_slope(
    close: _Input,
    timeperiod: SupportsInt = 14,
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
def macdext(
    close: _Input,
    fastperiod: SupportsInt = 12,
    fastmatype: SupportsInt = 0,
    slowperiod: SupportsInt = 26,
    slowmatype: SupportsInt = 0,
    signalperiod: SupportsInt = 9,
    signalmatype: SupportsInt = 0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result, _Result]: ...
def mama(
    close: _Input,
    fastlimit: float = 0.5,
    slowlimit: float = 0.05,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def medprice(
    high: _Input,
    low: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def mfi(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
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
def minus_dm(
    high: _Input,
    low: _Input,
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
def natr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
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
def plus_dm(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ppo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    matype: SupportsInt = 1,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def roc(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def rocp(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def rocr(
    close: _Input,
    timeperiod: SupportsInt = 10,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def rocr100(
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
def sar(
    high: _Input,
    low: _Input,
    acceleration: float = 0.02,
    maximum: float = 0.2,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def sma(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def stddev(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdev: float = 1.0,
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
    slowk_matype: SupportsInt = 0,
    slowd_matype: SupportsInt = 0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def stochf(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    fastd_matype: SupportsInt = 0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def stochrsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    fastd_matype: SupportsInt = 0,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def supertrend(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 10,
    multiplier: float = 3.0,
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
def trix(
    close: _Input,
    timeperiod: SupportsInt = 30,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def tsf(
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def typprice(
    high: _Input,
    low: _Input,
    close: _Input,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def ultosc(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod1: SupportsInt = 7,
    timeperiod2: SupportsInt = 14,
    timeperiod3: SupportsInt = 28,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def var(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdev: float = 1.0,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def vortex(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
    *,
    dtype: _DType = np.float64,
) -> tuple[_Result, _Result]: ...
def vwap(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    anchor: _Input | None = None,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def wclprice(
    high: _Input,
    low: _Input,
    close: _Input,
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
def zlema(
    close: _Input,
    timeperiod: SupportsInt = 20,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
def zscore(
    close: _Input,
    timeperiod: SupportsInt = 20,
    *,
    dtype: _DType = np.float64,
) -> _Result: ...
