"""Type stubs for velkized_ta.pandas (written by tools/layer_stubs.py)."""

from typing import Any, Hashable, Literal, Sequence, SupportsInt

import pandas as pd


__all__: list[str]

class UndefinedWarning(RuntimeWarning): ...
class PrecisionWarning(RuntimeWarning): ...
class RowOrderWarning(UserWarning): ...

class _Accessor:
    def sma(
        self,
        timeperiod: int = 20,
        *,
        normalize: bool = True,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def lin(
        self,
        timeperiod: int = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def mid(
        self,
        timeperiod: int = 14,
        *,
        normalize: bool = True,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def ema(
        self,
        timeperiod: int = 20,
        *,
        normalize: bool = True,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def ema2(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def ema3(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def dema(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def tema(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def trix(
        self,
        timeperiod: int = 15,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def macd(
        self,
        short_period: int = 12,
        long_period: int = 26,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def roc(
        self,
        timeperiod: int = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def rsi(
        self,
        timeperiod: int = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def cmo(
        self,
        timeperiod: int = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def willr(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def stochf(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def ult(
        self,
        short_period: int = 7,
        medium_period: int = 14,
        long_period: int = 28,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def cci(
        self,
        timeperiod: int = 20,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def dx(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def adx(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def adxr(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def natr(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def wick(
        self,
        timeperiod: int = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def adif(
        self,
        *,
        a: Hashable | None = None,
        b: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def rdif(
        self,
        *,
        a: Hashable | None = None,
        b: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    @property
    def classic(self) -> VelkClassicAccessor: ...

class VelkClassicAccessor:
    def ad(
        self,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        volume: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def adosc(
        self,
        fastperiod: SupportsInt = 3,
        slowperiod: SupportsInt = 10,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        volume: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def adx(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def adxr(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def apo(
        self,
        fastperiod: SupportsInt = 12,
        slowperiod: SupportsInt = 26,
        matype: SupportsInt = 1,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def aroon(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def aroonosc(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def atr(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def avgprice(
        self,
        *,
        open: Hashable | None = None,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def bbands(
        self,
        timeperiod: SupportsInt = 5,
        nbdevup: float = 2.0,
        nbdevdn: float = 2.0,
        matype: SupportsInt = 0,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def beta(
        self,
        timeperiod: SupportsInt = 5,
        *,
        real0: Hashable | None = None,
        real1: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def bop(
        self,
        *,
        open: Hashable | None = None,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def cci(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def cmf(
        self,
        timeperiod: SupportsInt = 20,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        volume: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def cmo(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def correl(
        self,
        timeperiod: SupportsInt = 30,
        *,
        real0: Hashable | None = None,
        real1: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def dema(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def donchian(
        self,
        timeperiod: SupportsInt = 20,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def dx(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ema(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def heikin_ashi(
        self,
        *,
        open: Hashable | None = None,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def hma(
        self,
        timeperiod: SupportsInt = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ht_dcperiod(
        self,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ht_dcphase(
        self,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ht_phasor(
        self,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def ht_sine(
        self,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def ht_trendline(
        self,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ht_trendmode(
        self,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ichimoku(
        self,
        tenkan: SupportsInt = 9,
        kijun: SupportsInt = 26,
        senkou: SupportsInt = 52,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def kama(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def keltner(
        self,
        timeperiod: SupportsInt = 20,
        multiplier: float = 2.0,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def linearreg(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def linearreg_angle(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def linearreg_intercept(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def linearreg_slope(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def macd(
        self,
        fastperiod: SupportsInt = 12,
        slowperiod: SupportsInt = 26,
        signalperiod: SupportsInt = 9,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def macdext(
        self,
        fastperiod: SupportsInt = 12,
        fastmatype: SupportsInt = 0,
        slowperiod: SupportsInt = 26,
        slowmatype: SupportsInt = 0,
        signalperiod: SupportsInt = 9,
        signalmatype: SupportsInt = 0,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def mama(
        self,
        fastlimit: float = 0.5,
        slowlimit: float = 0.05,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def medprice(
        self,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def mfi(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        volume: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def midpoint(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def midprice(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def minus_di(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def minus_dm(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def mom(
        self,
        timeperiod: SupportsInt = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def natr(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def obv(
        self,
        *,
        close: Hashable | None = None,
        volume: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def plus_di(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def plus_dm(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ppo(
        self,
        fastperiod: SupportsInt = 12,
        slowperiod: SupportsInt = 26,
        matype: SupportsInt = 1,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def roc(
        self,
        timeperiod: SupportsInt = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def rocp(
        self,
        timeperiod: SupportsInt = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def rocr(
        self,
        timeperiod: SupportsInt = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def rocr100(
        self,
        timeperiod: SupportsInt = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def rsi(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def sar(
        self,
        acceleration: float = 0.02,
        maximum: float = 0.2,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def sma(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def stddev(
        self,
        timeperiod: SupportsInt = 5,
        nbdev: float = 1.0,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def stoch(
        self,
        fastk_period: SupportsInt = 5,
        slowk_period: SupportsInt = 3,
        slowd_period: SupportsInt = 3,
        slowk_matype: SupportsInt = 0,
        slowd_matype: SupportsInt = 0,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def stochf(
        self,
        fastk_period: SupportsInt = 5,
        fastd_period: SupportsInt = 3,
        fastd_matype: SupportsInt = 0,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def stochrsi(
        self,
        timeperiod: SupportsInt = 14,
        fastk_period: SupportsInt = 5,
        fastd_period: SupportsInt = 3,
        fastd_matype: SupportsInt = 0,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def supertrend(
        self,
        timeperiod: SupportsInt = 10,
        multiplier: float = 3.0,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def t3(
        self,
        timeperiod: SupportsInt = 5,
        vfactor: float = 0.7,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def tema(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def trange(
        self,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def trima(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def trix(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def tsf(
        self,
        timeperiod: SupportsInt = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def typprice(
        self,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def ultosc(
        self,
        timeperiod1: SupportsInt = 7,
        timeperiod2: SupportsInt = 14,
        timeperiod3: SupportsInt = 28,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def var(
        self,
        timeperiod: SupportsInt = 5,
        nbdev: float = 1.0,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def vortex(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.DataFrame: ...
    def vwap(
        self,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        volume: Hashable | None = None,
        anchor: Hashable | Sequence[Any] | pd.Series | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def wclprice(
        self,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def willr(
        self,
        timeperiod: SupportsInt = 14,
        *,
        high: Hashable | None = None,
        low: Hashable | None = None,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def wma(
        self,
        timeperiod: SupportsInt = 30,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def zlema(
        self,
        timeperiod: SupportsInt = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...
    def zscore(
        self,
        timeperiod: SupportsInt = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        append: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pd.Series: ...

class VelkFrameAccessor(_Accessor): ...
class VelkSeriesAccessor(_Accessor): ...
