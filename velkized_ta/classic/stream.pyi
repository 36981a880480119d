"""Type stubs for velkized_ta.classic.stream (written by tools/layer_stubs.py)."""

from typing import Any, Literal, SupportsInt

import numpy as np
import numpy.typing as npt

_Input = npt.ArrayLike
_Result = npt.NDArray[np.float64]
_DType = Any


__all__: list[str]
STATE_VERSION: int

class Handle:
    @property
    def value(self) -> Any: ...
    @property
    def name(self) -> str: ...
    @property
    def params(self) -> tuple[Any, ...]: ...
    def update(self, *bar: float | None, **named: float | None) -> Any: ...
    def peek(self, *bar: float | None, **named: float | None) -> Any: ...
    def update_many(self, *series: _Input | None, **named: _Input | None) -> Any: ...
    def copy(self) -> Handle: ...

def ad(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
) -> Handle: ...
def adosc(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    fastperiod: SupportsInt = 3,
    slowperiod: SupportsInt = 10,
) -> Handle: ...
def adx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def adxr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def apo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    matype: SupportsInt = 1,
) -> Handle: ...
def aroon(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def aroonosc(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def atr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def avgprice(
    open: _Input,
    high: _Input,
    low: _Input,
    close: _Input,
) -> Handle: ...
def bbands(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdevup: float = 2.0,
    nbdevdn: float = 2.0,
    matype: SupportsInt = 0,
) -> Handle: ...
def beta(
    real0: _Input,
    real1: _Input,
    timeperiod: SupportsInt = 5,
) -> Handle: ...
def bop(
    open: _Input,
    high: _Input,
    low: _Input,
    close: _Input,
) -> Handle: ...
def cci(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def cmf(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    timeperiod: SupportsInt = 20,
) -> Handle: ...
def cmo(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def correl(
    real0: _Input,
    real1: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def dema(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def donchian(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 20,
) -> Handle: ...
def dx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def ema(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def heikin_ashi(
    open: _Input,
    high: _Input,
    low: _Input,
    close: _Input,
) -> Handle: ...
def hma(
    close: _Input,
    timeperiod: SupportsInt = 20,
) -> Handle: ...
def ht_dcperiod(
    close: _Input,
) -> Handle: ...
def ht_dcphase(
    close: _Input,
) -> Handle: ...
def ht_phasor(
    close: _Input,
) -> Handle: ...
def ht_sine(
    close: _Input,
) -> Handle: ...
def ht_trendline(
    close: _Input,
) -> Handle: ...
def ht_trendmode(
    close: _Input,
) -> Handle: ...
def ichimoku(
    high: _Input,
    low: _Input,
    close: _Input,
    tenkan: SupportsInt = 9,
    kijun: SupportsInt = 26,
    senkou: SupportsInt = 52,
) -> Handle: ...
def kama(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def keltner(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 20,
    multiplier: float = 2.0,
) -> Handle: ...
def linearreg(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def linearreg_angle(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def linearreg_intercept(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def linearreg_slope(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def macd(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    signalperiod: SupportsInt = 9,
) -> Handle: ...
def macdext(
    close: _Input,
    fastperiod: SupportsInt = 12,
    fastmatype: SupportsInt = 0,
    slowperiod: SupportsInt = 26,
    slowmatype: SupportsInt = 0,
    signalperiod: SupportsInt = 9,
    signalmatype: SupportsInt = 0,
) -> Handle: ...
def mama(
    close: _Input,
    fastlimit: float = 0.5,
    slowlimit: float = 0.05,
) -> Handle: ...
def medprice(
    high: _Input,
    low: _Input,
) -> Handle: ...
def mfi(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def midpoint(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def midprice(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def minus_di(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def minus_dm(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def mom(
    close: _Input,
    timeperiod: SupportsInt = 10,
) -> Handle: ...
def natr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def obv(
    close: _Input,
    volume: _Input,
) -> Handle: ...
def plus_di(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def plus_dm(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def ppo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    matype: SupportsInt = 1,
) -> Handle: ...
def roc(
    close: _Input,
    timeperiod: SupportsInt = 10,
) -> Handle: ...
def rocp(
    close: _Input,
    timeperiod: SupportsInt = 10,
) -> Handle: ...
def rocr(
    close: _Input,
    timeperiod: SupportsInt = 10,
) -> Handle: ...
def rocr100(
    close: _Input,
    timeperiod: SupportsInt = 10,
) -> Handle: ...
def rsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def sar(
    high: _Input,
    low: _Input,
    acceleration: float = 0.02,
    maximum: float = 0.2,
) -> Handle: ...
def sma(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def stddev(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdev: float = 1.0,
) -> Handle: ...
def stoch(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    slowk_period: SupportsInt = 3,
    slowd_period: SupportsInt = 3,
    slowk_matype: SupportsInt = 0,
    slowd_matype: SupportsInt = 0,
) -> Handle: ...
def stochf(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    fastd_matype: SupportsInt = 0,
) -> Handle: ...
def stochrsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
    fastd_matype: SupportsInt = 0,
) -> Handle: ...
def supertrend(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 10,
    multiplier: float = 3.0,
) -> Handle: ...
def t3(
    close: _Input,
    timeperiod: SupportsInt = 5,
    vfactor: float = 0.7,
) -> Handle: ...
def tema(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def trange(
    high: _Input,
    low: _Input,
    close: _Input,
) -> Handle: ...
def trima(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def trix(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def tsf(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def typprice(
    high: _Input,
    low: _Input,
    close: _Input,
) -> Handle: ...
def ultosc(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod1: SupportsInt = 7,
    timeperiod2: SupportsInt = 14,
    timeperiod3: SupportsInt = 28,
) -> Handle: ...
def var(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdev: float = 1.0,
) -> Handle: ...
def vortex(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def vwap(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    anchor: _Input | None = None,
) -> Handle: ...
def wclprice(
    high: _Input,
    low: _Input,
    close: _Input,
) -> Handle: ...
def willr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def wma(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def zlema(
    close: _Input,
    timeperiod: SupportsInt = 20,
) -> Handle: ...
def zscore(
    close: _Input,
    timeperiod: SupportsInt = 20,
) -> Handle: ...
