"""What each indicator returns: family, unit, range and warm-up, for tables, charts and checks.

>>> from velkized_ta.catalog import INDICATORS
>>> INDICATORS["velk_adx"].warm_up(timeperiod=14)
28

`CLASSIC` holds the classic (textbook, float64) family, read from its registry:

>>> from velkized_ta.catalog import CLASSIC
>>> CLASSIC["macd"].outputs, CLASSIC["macd"].talib, CLASSIC["macd"].warm_up(signalperiod=5)
(('macd', 'macdsignal', 'macdhist'), 'MACD', 29)
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from functools import partial
from typing import Callable, Dict, Optional, Tuple

from velkized_ta import _registry

FAMILIES = (
    "Averages and regression",
    "Exponential smoothing",
    "Momentum oscillators",
    "Directional movement and volatility",
    "Candles and spreads",
)


@dataclass(frozen=True)
class Indicator:
    """One indicator's output as a reader needs to know it.

    `unit` names what the default output is measured in; `percent` says whether it is a fraction best
    read as a percentage; `bounds` is the closed range of every value on well-formed bars
    (low <= open, close <= high), None when unbounded; `in_price_units` says whether the output scales
    with the prices (a price, a price per bar) rather than being a pure number (fractions, ratios,
    points). `warm_up` gives the first position with a value on a series without NaN, from the call's
    period arguments. The tests measure the units, ranges and warm-ups stated here, and check that the
    docs and docstrings state the same.
    """

    name: str
    family: str
    title: str
    unit: str
    percent: bool
    bounds: Optional[Tuple[float, float]]
    warm_up_text: str
    first_value: Callable[..., int]
    in_price_units: bool = False

    def warm_up(self, **arguments) -> int:
        """First position with a value (default `n_values`, no NaN in the input)."""
        return self.first_value(**arguments)

    def format(self, value: float) -> str:
        """`value` with its unit, for a table cell."""
        if math.isnan(value):
            return "NaN"
        if self.percent:
            return f"{value * 100:+.3g} %"
        return f"{value:.4g}"


def _entry(name, family, title, unit, percent=False, bounds=None, in_price_units=False):
    # The warm-up is the declaration's (velkized_ta/indicators/declarations/), through the registry.
    return Indicator(name, FAMILIES[family], title, unit, percent, bounds, _registry.warm_up_text(name),
                     partial(_registry.warm_up, name), in_price_units)


# Each declaration states its output (velkized_ta/indicators/declarations/); by family, in export order.
_ENTRIES = tuple(sorted((_entry(entry["name"], **entry["output"]) for entry in _registry.REGISTRY),
                        key=lambda indicator: FAMILIES.index(indicator.family)))

INDICATORS = {entry.name: entry for entry in _ENTRIES}


# The classic (textbook, float64) family, read from its registry: a new registry entry is here
# without an edit. Groups in the order the docs list them; a group not named here follows by name.
CLASSIC_GROUPS = {
    "overlap": "Overlap studies: averages and bands",
    "momentum": "Momentum oscillators",
    "directional": "Directional movement",
    "volume": "Volume",
    "volatility": "Volatility",
    "statistic": "Statistics",
    "price": "Price transforms",
    "cycle": "Cycle indicators",
}
_TALIB_NAME = re.compile(r"\bTA-Lib ([A-Z][A-Z0-9_]+)\b")


@dataclass(frozen=True)
class ClassicIndicator:
    """One classic indicator as its registry describes it, for tables, docs and checks.

    `params` holds the registry's parameter dicts (name, kind, default, min, max, doc); `talib` is
    the TA-Lib function the definition follows (named in the registry's comparison text), None
    when TA-Lib has none.
    """

    name: str
    group: str
    title: str
    inputs: Tuple[str, ...]
    outputs: Tuple[str, ...]
    params: Tuple[dict, ...]
    talib: Optional[str]
    doc: str

    @property
    def group_title(self) -> str:
        return CLASSIC_GROUPS.get(self.group, self.group.capitalize())

    def warm_up(self, **params) -> int:
        """First position from which every output has a value on a series without NaN (the
        registry's lookback)."""
        from velkized_ta import classic

        return classic.lookback(self.name, **params)

    def first_positions(self, **params) -> Dict[str, int]:
        """Each output's first position with a value on a series without NaN, by output name."""
        from velkized_ta import classic

        return dict(zip(self.outputs, classic.first_positions(self.name, **params)))

    @property
    def optional_inputs(self) -> Tuple[str, ...]:
        """Inputs a caller may leave out (a label per bar; left out, one session)."""
        from velkized_ta import classic

        return tuple(classic.descriptor(self.name)["optional_inputs"])


def _classic_entries():
    from velkized_ta.classic import REGISTRY

    for entry in REGISTRY:
        found = _TALIB_NAME.search(entry["doc"])
        yield ClassicIndicator(entry["name"], entry["group"], entry["summary"], tuple(entry["inputs"]),
                               tuple(entry["outputs"]), tuple(entry["params"]), found and found.group(1),
                               entry["doc"])


CLASSIC = {entry.name: entry for entry in _classic_entries()}
"""Classic indicators by name, in the registry's order."""


def classic_by_group():
    """[(group title, [ClassicIndicator, ...]), ...] in CLASSIC_GROUPS' order, then other groups by name."""
    order = list(CLASSIC_GROUPS) + sorted({e.group for e in CLASSIC.values()} - set(CLASSIC_GROUPS))
    groups = []
    for group in order:
        members = [e for e in CLASSIC.values() if e.group == group]
        if members:
            groups.append((members[0].group_title, members))
    return groups
