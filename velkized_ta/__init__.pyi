from velkized_ta.velk_ta_funcs import (
    velk_adif as velk_adif,
    velk_adx as velk_adx,
    velk_adxr as velk_adxr,
    velk_cci as velk_cci,
    velk_cmo as velk_cmo,
    velk_dema as velk_dema,
    velk_dx as velk_dx,
    velk_ema as velk_ema,
    velk_ema2 as velk_ema2,
    velk_ema3 as velk_ema3,
    velk_lin as velk_lin,
    velk_macd as velk_macd,
    velk_mid as velk_mid,
    velk_natr as velk_natr,
    velk_rdif as velk_rdif,
    velk_roc as velk_roc,
    velk_rsi as velk_rsi,
    velk_sma as velk_sma,
    velk_stochf as velk_stochf,
    velk_tema as velk_tema,
    velk_trix as velk_trix,
    velk_ult as velk_ult,
    velk_wick as velk_wick,
    velk_willr as velk_willr,
)

FUNCTION_NAMES: tuple[str, ...]
__all__: list[str]
__version__: str
