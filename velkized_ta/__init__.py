"""Exact float32 technical-analysis indicators over numpy arrays.

The indicators live in the C++ extension module :mod:`velkized_ta.velk_ta_funcs`
and are re-exported here, every function its registry declares (``FUNCTION_NAMES``,
in export order).
"""

from velkized_ta import velk_ta_funcs as _exact
from velkized_ta._registry import NAMES as FUNCTION_NAMES

globals().update((_name, getattr(_exact, _name)) for _name in FUNCTION_NAMES)

__all__ = list(FUNCTION_NAMES)
__version__ = "0.1.0"
