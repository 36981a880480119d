"""What each exact function's parameters are (from the registry), and its integer conversion."""

from velkized_ta._registry import parameters


def series_names(function_name: str):
    """The names of the function's series (array) parameters, in order."""
    return tuple(name for name, kind, _ in parameters(function_name) if kind == "series")


def exact_int(value) -> int:
    """An integer argument as the exact functions convert it: ints (and bools) as they are, any other
    object through its ``__int__`` (numpy integers, floats truncated), into 32 bits; the same error
    types and messages for the rest."""
    if not isinstance(value, int):
        convert = getattr(type(value), "__int__", None)
        if convert is None:
            raise TypeError("an integer is required")
        value = convert(value)
        if not isinstance(value, int):
            raise TypeError(f"__int__ returned non-int (type {type(value).__name__})")
    value = int(value)
    if not -2**63 <= value < 2**63:
        raise OverflowError("Python int too large to convert to C long")
    if not -2**31 <= value < 2**31:
        raise OverflowError("value too large to convert to int")
    return value
