"""Type stubs for velkized_ta.polars (written by tools/layer_stubs.py)."""

from typing import Literal, SupportsInt

import polars as pl

_Price = pl.Expr | str | None


__all__: list[str]

class UndefinedWarning(RuntimeWarning): ...
class PrecisionWarning(RuntimeWarning): ...

def sma(
    close: _Price = None,
    timeperiod: int = 20,
    *,
    normalize: bool = True,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def lin(
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def mid(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    normalize: bool = True,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def ema(
    close: _Price = None,
    timeperiod: int = 20,
    *,
    normalize: bool = True,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def ema2(
    close: _Price = None,
    timeperiod: int = 20,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def ema3(
    close: _Price = None,
    timeperiod: int = 20,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def dema(
    close: _Price = None,
    timeperiod: int = 20,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def tema(
    close: _Price = None,
    timeperiod: int = 20,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def trix(
    close: _Price = None,
    timeperiod: int = 15,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def macd(
    close: _Price = None,
    short_period: int = 12,
    long_period: int = 26,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def roc(
    close: _Price = None,
    timeperiod: int = 10,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def rsi(
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def cmo(
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def willr(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def stochf(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def ult(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    short_period: int = 7,
    medium_period: int = 14,
    long_period: int = 28,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def cci(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 20,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def dx(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def adx(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def adxr(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def natr(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def wick(
    high: _Price = None,
    low: _Price = None,
    close: _Price = None,
    timeperiod: int = 14,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def adif(
    a: _Price = None,
    b: _Price = None,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
def rdif(
    a: _Price = None,
    b: _Price = None,
    *,
    by: _Price = None,
    exact: bool = False,
    nulls: bool = False,
    errors: Literal['raise', 'nan'] = 'raise',
) -> pl.Expr: ...
class _ClassicNamespace:
    @staticmethod
    def ad(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        volume: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def adosc(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        volume: _Price = None,
        fastperiod: SupportsInt = 3,
        slowperiod: SupportsInt = 10,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def adx(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def adxr(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def apo(
        close: _Price = None,
        fastperiod: SupportsInt = 12,
        slowperiod: SupportsInt = 26,
        matype: SupportsInt = 1,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def aroon(
        high: _Price = None,
        low: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def aroonosc(
        high: _Price = None,
        low: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def atr(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def avgprice(
        open: _Price = None,
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def bbands(
        close: _Price = None,
        timeperiod: SupportsInt = 5,
        nbdevup: float = 2.0,
        nbdevdn: float = 2.0,
        matype: SupportsInt = 0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def beta(
        real0: _Price = None,
        real1: _Price = None,
        timeperiod: SupportsInt = 5,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def bop(
        open: _Price = None,
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def cci(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def cmf(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        volume: _Price = None,
        timeperiod: SupportsInt = 20,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def cmo(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def correl(
        real0: _Price = None,
        real1: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def dema(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def donchian(
        high: _Price = None,
        low: _Price = None,
        timeperiod: SupportsInt = 20,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def dx(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ema(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def heikin_ashi(
        open: _Price = None,
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def hma(
        close: _Price = None,
        timeperiod: SupportsInt = 20,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ht_dcperiod(
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ht_dcphase(
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ht_phasor(
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ht_sine(
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ht_trendline(
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ht_trendmode(
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ichimoku(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        tenkan: SupportsInt = 9,
        kijun: SupportsInt = 26,
        senkou: SupportsInt = 52,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def kama(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def keltner(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 20,
        multiplier: float = 2.0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def linearreg(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def linearreg_angle(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def linearreg_intercept(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def linearreg_slope(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def macd(
        close: _Price = None,
        fastperiod: SupportsInt = 12,
        slowperiod: SupportsInt = 26,
        signalperiod: SupportsInt = 9,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def macdext(
        close: _Price = None,
        fastperiod: SupportsInt = 12,
        fastmatype: SupportsInt = 0,
        slowperiod: SupportsInt = 26,
        slowmatype: SupportsInt = 0,
        signalperiod: SupportsInt = 9,
        signalmatype: SupportsInt = 0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def mama(
        close: _Price = None,
        fastlimit: float = 0.5,
        slowlimit: float = 0.05,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def medprice(
        high: _Price = None,
        low: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def mfi(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        volume: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def midpoint(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def midprice(
        high: _Price = None,
        low: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def minus_di(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def minus_dm(
        high: _Price = None,
        low: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def mom(
        close: _Price = None,
        timeperiod: SupportsInt = 10,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def natr(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def obv(
        close: _Price = None,
        volume: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def plus_di(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def plus_dm(
        high: _Price = None,
        low: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ppo(
        close: _Price = None,
        fastperiod: SupportsInt = 12,
        slowperiod: SupportsInt = 26,
        matype: SupportsInt = 1,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def roc(
        close: _Price = None,
        timeperiod: SupportsInt = 10,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def rocp(
        close: _Price = None,
        timeperiod: SupportsInt = 10,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def rocr(
        close: _Price = None,
        timeperiod: SupportsInt = 10,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def rocr100(
        close: _Price = None,
        timeperiod: SupportsInt = 10,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def rsi(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def sar(
        high: _Price = None,
        low: _Price = None,
        acceleration: float = 0.02,
        maximum: float = 0.2,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def sma(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def stddev(
        close: _Price = None,
        timeperiod: SupportsInt = 5,
        nbdev: float = 1.0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def stoch(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        fastk_period: SupportsInt = 5,
        slowk_period: SupportsInt = 3,
        slowd_period: SupportsInt = 3,
        slowk_matype: SupportsInt = 0,
        slowd_matype: SupportsInt = 0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def stochf(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        fastk_period: SupportsInt = 5,
        fastd_period: SupportsInt = 3,
        fastd_matype: SupportsInt = 0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def stochrsi(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        fastk_period: SupportsInt = 5,
        fastd_period: SupportsInt = 3,
        fastd_matype: SupportsInt = 0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def supertrend(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 10,
        multiplier: float = 3.0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def t3(
        close: _Price = None,
        timeperiod: SupportsInt = 5,
        vfactor: float = 0.7,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def tema(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def trange(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def trima(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def trix(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def tsf(
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def typprice(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def ultosc(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod1: SupportsInt = 7,
        timeperiod2: SupportsInt = 14,
        timeperiod3: SupportsInt = 28,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def var(
        close: _Price = None,
        timeperiod: SupportsInt = 5,
        nbdev: float = 1.0,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def vortex(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def vwap(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        volume: _Price = None,
        anchor: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def wclprice(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def willr(
        high: _Price = None,
        low: _Price = None,
        close: _Price = None,
        timeperiod: SupportsInt = 14,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def wma(
        close: _Price = None,
        timeperiod: SupportsInt = 30,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def zlema(
        close: _Price = None,
        timeperiod: SupportsInt = 20,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...
    @staticmethod
    def zscore(
        close: _Price = None,
        timeperiod: SupportsInt = 20,
        *,
        by: _Price = None,
        nulls: bool = False,
        errors: Literal['raise', 'nan'] = 'raise',
    ) -> pl.Expr: ...

classic: _ClassicNamespace
