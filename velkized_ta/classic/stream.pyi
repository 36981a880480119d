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
def bbands(
    close: _Input,
    timeperiod: SupportsInt = 5,
    nbdevup: float = 2.0,
    nbdevdn: float = 2.0,
) -> Handle: ...
def cmf(
    high: _Input,
    low: _Input,
    close: _Input,
    volume: _Input,
    timeperiod: SupportsInt = 20,
) -> Handle: ...
def donchian(
    high: _Input,
    low: _Input,
    timeperiod: SupportsInt = 20,
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
def ichimoku(
    high: _Input,
    low: _Input,
    close: _Input,
    tenkan: SupportsInt = 9,
    kijun: SupportsInt = 26,
    senkou: SupportsInt = 52,
) -> Handle: ...
def keltner(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 20,
    multiplier: float = 2.0,
) -> Handle: ...
def macd(
    close: _Input,
    fastperiod: SupportsInt = 12,
    slowperiod: SupportsInt = 26,
    signalperiod: SupportsInt = 9,
) -> Handle: ...
def obv(
    close: _Input,
    volume: _Input,
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
def stoch(
    high: _Input,
    low: _Input,
    close: _Input,
    fastk_period: SupportsInt = 5,
    slowk_period: SupportsInt = 3,
    slowd_period: SupportsInt = 3,
) -> Handle: ...
def supertrend(
    high: _Input,
    low: _Input,
    close: _Input,
    timeperiod: SupportsInt = 10,
    multiplier: float = 3.0,
) -> Handle: ...
def trange(
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
    session: _Input,
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
