"""Exact float32 technical-analysis indicators over numpy arrays.

The indicators live in the C++ extension module :mod:`velkized_ta.velk_ta_funcs`
and are re-exported here.
"""

from velkized_ta.velk_ta_funcs import (  # noqa: F401
    velk_adif,
    velk_adx,
    velk_adxr,
    velk_cci,
    velk_cmo,
    velk_dema,
    velk_dx,
    velk_ema,
    velk_ema2,
    velk_ema3,
    velk_lin,
    velk_macd,
    velk_mid,
    velk_natr,
    velk_rdif,
    velk_roc,
    velk_rsi,
    velk_sma,
    velk_stochf,
    velk_tema,
    velk_trix,
    velk_ult,
    velk_wick,
    velk_willr,
)

FUNCTION_NAMES = (
    "velk_sma", "velk_lin", "velk_mid", "velk_ema", "velk_ema2", "velk_ema3", "velk_dema", "velk_tema",
    "velk_trix", "velk_roc", "velk_rsi", "velk_willr", "velk_cci", "velk_dx", "velk_adx", "velk_adxr",
    "velk_cmo", "velk_natr", "velk_ult", "velk_stochf", "velk_wick", "velk_macd", "velk_adif", "velk_rdif",
)

__all__ = list(FUNCTION_NAMES)
__version__ = "0.1.0"
