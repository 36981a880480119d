"""Live handles for the classic indicators, mirroring :mod:`velkized_ta.stream`.

Each indicator has an opener of the same name taking its inputs as history (possibly empty) and
its parameters::

    h = stream.rsi(close_history, 14)
    h.update(101.5)          # one float per input -> the new value (a tuple for several outputs)
    h.update(close=101.5)    # inputs by name, too
    h.peek(101.7)            # the value that bar would give; nothing consumed
    h.value                  # the value after the last consumed bar (NaN before any)
    h.update_many(closes)    # many bars -> float64 array(s) of their values, all or nothing
    h.copy(); pickle.dumps(h)

After opening with history H and consuming bars b1..bk, ``h.value`` equals, bit for bit, the last
element of the classic function on H + b1..bk: both run the same step. A bar with a NaN gives
NaN and leaves the state as it was. Pickled state is versioned (``STATE_VERSION``) and checked
when loaded: bytes that are not a state of that indicator and parameters raise ValueError. A call
on a handle while another call on it runs (from another thread during ``update_many``, or from a
conversion it triggers) raises RuntimeError.

An optional input (``vwap``'s ``anchor``, a session label) may be left out of the history (it
reads 0 on every bar) and of any bar: a bar without it repeats the value last given, so
``h.update(high, low, close, volume)`` stays in the current session and
``h.update(high, low, close, volume, anchor=day)`` starts a new one when ``day`` changes.
"""

from __future__ import annotations

import numpy as np

from velkized_ta import _classic
from velkized_ta.classic import INDEX, NAMES, REGISTRY, input_signature

__all__ = list(NAMES) + ["Handle", "STATE_VERSION"]

Handle = _classic.Handle
STATE_VERSION = _classic.STATE_VERSION


def _make(entry):
    name = entry["name"]
    inputs = list(entry["inputs"])
    params = [(spec["name"], spec["default"]) for spec in entry["params"]]
    signature = ", ".join(input_signature(entry) + [f"{p}={d!r}" for p, d in params])
    source = (f"def {name}({signature}):\n"
              f"    return _open(_index, ({''.join(p + ', ' for p, _ in params)}), "
              f"({''.join(i + ', ' for i in inputs)}))\n")
    namespace = {"_open": _classic.open, "_index": INDEX[name]}
    exec(source, namespace)
    function = namespace[name]
    function.__module__ = __name__
    function.__qualname__ = name
    function.__doc__ = (f"Opens a live {name} handle after consuming the history ({', '.join(inputs)}; may be\n"
                        f"empty). update(*bar) takes {len(inputs)} value(s) in that order.\n\n{entry['summary']}")
    return function


for _entry in REGISTRY:
    globals()[_entry["name"]] = _make(_entry)
del _entry
