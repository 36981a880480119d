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
    def update(self, *bar: float) -> Any: ...
    def peek(self, *bar: float) -> Any: ...
    def update_many(self, *series: _Input) -> Any: ...
    def copy(self) -> Handle: ...

def adx(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def apo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
) -> Handle: ...
def atr(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def bbands(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdevup: float = 2.0,
    nbdevdn: float = 2.0,
) -> Handle: ...
def cci(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def dema(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def ema(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def kama(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def macd(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    signalperiod: SupportsInt = 9,
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
def mom(
    close: _Input,
    timeperiod: SupportsInt = 10,
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
def ppo(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
) -> Handle: ...
def roc(
    close: _Input,
    timeperiod: SupportsInt = 10,
) -> Handle: ...
def rsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
) -> Handle: ...
def sma(
    close: _Input,
    timeperiod: SupportsInt = 30,
) -> Handle: ...
def stoch(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    slowk_period: SupportsInt = 3,
    slowd_period: SupportsInt = 3,
) -> Handle: ...
def stochf(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
) -> Handle: ...
def stochrsi(
    close: _Input,
    timeperiod: SupportsInt = 14,
    fastk_period: SupportsInt = 5,
    fastd_period: SupportsInt = 3,
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
