"""The exact functions' declarations, as the native code states them, in export order.

Each function is declared once, in ``velkized_ta/indicators/declarations/<name>.hpp``: its
parameters (name, kind, default) and where its first value lies. ``velkized_ta._many`` exports
those declarations; the names list, the parameter kinds of every layer, the catalogue's warm-ups
and the stubs are read from here, and the tests enumerate it, so a function missing from a route
fails a test.

>>> from velkized_ta._registry import NAMES, warm_up
>>> NAMES[0], warm_up("velk_adx", timeperiod=14)
('velk_sma', 28)
"""

import inspect

from velkized_ta import _many

REGISTRY = _many.registry()
"""One dict per exported function, in export order: ``name``; ``params``, dicts with ``name``,
``kind`` ('series', 'int' or 'flag') and ``default`` when the parameter has one; ``warm_up``,
(period parameter or None, scale, offset); ``summary``, what the function gives (the stub's docstring);
``output``, what the output is (the catalogue's ``family`` index, ``title``, ``unit``, ``percent``,
``bounds``, ``in_price_units``)."""

NAMES = tuple(entry["name"] for entry in REGISTRY)
_BY_NAME = {entry["name"]: entry for entry in REGISTRY}


def parameters(name: str) -> tuple:
    """((parameter, kind, default or inspect.Parameter.empty), ...) of function `name`, in order."""
    return tuple((p["name"], p["kind"], p.get("default", inspect.Parameter.empty))
                 for p in _BY_NAME[name]["params"])


def warm_up(name: str, **arguments) -> int:
    """First position with a value on a series without NaN (default ``n_values``); a period not
    given counts as 1."""
    period, scale, offset = _BY_NAME[name]["warm_up"]
    return offset if period is None else scale * arguments.get(period, 1) + offset


def warm_up_text(name: str) -> str:
    """The warm-up as a formula of the period parameter, for tables and pages ("2 × timeperiod")."""
    period, scale, offset = _BY_NAME[name]["warm_up"]
    if period is None:
        return str(offset)
    text = period if scale == 1 else f"{scale} × {period}"
    if offset:
        text += f" {'+' if offset > 0 else '−'} {abs(offset)}"
    return text
