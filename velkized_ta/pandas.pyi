"""Type stubs for velkized_ta.pandas (written by tools/layer_stubs.py)."""

from typing import Hashable

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
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def lin(
        self,
        timeperiod: int = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def ema2(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def ema3(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def dema(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def tema(
        self,
        timeperiod: int = 20,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def trix(
        self,
        timeperiod: int = 15,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
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
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def roc(
        self,
        timeperiod: int = 10,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def rsi(
        self,
        timeperiod: int = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def cmo(
        self,
        timeperiod: int = 14,
        *,
        close: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
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
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def adif(
        self,
        *,
        a: Hashable | None = None,
        b: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...
    def rdif(
        self,
        *,
        a: Hashable | None = None,
        b: Hashable | None = None,
        by: Hashable | None = None,
        exact: bool = False,
        append: bool = False,
        errors: str = 'raise',
    ) -> pd.Series | pd.DataFrame: ...

class VelkFrameAccessor(_Accessor): ...
class VelkSeriesAccessor(_Accessor): ...
