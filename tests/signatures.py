"""What the tests need to know about each function's parameters, read from the registry (the declarations)."""

from velkized_ta import _registry

KIND_NAMES = {"series": "array", "int": "int", "flag": "flag"}


def declared_parameters():
    """{function name: [(parameter, kind)]} in declaration order."""
    return {name: [(p, KIND_NAMES[kind]) for p, kind, _ in _registry.parameters(name)] for name in _registry.NAMES}


PARAMETERS = declared_parameters()
_KINDS = {p: kind for params in PARAMETERS.values() for p, kind in params}


def kind_of(name):
    """'int', 'flag' or 'array' for a parameter name (the same for every function that has it)."""
    return _KINDS[name]


# The array whose length is the length of the result.
LENGTH_PARAM = {
    "velk_sma": "input_array", "velk_lin": "input_array", "velk_mid": "close", "velk_ema": "input_array",
    "velk_ema2": "input_array", "velk_ema3": "input_array", "velk_dema": "input1", "velk_tema": "input1",
    "velk_trix": "arr", "velk_roc": "input_array", "velk_rsi": "close", "velk_willr": "close_arr",
    "velk_cci": "close_arr", "velk_dx": "high", "velk_adx": "close_arr", "velk_adxr": "close_arr",
    "velk_cmo": "close_arr", "velk_natr": "close_arr", "velk_ult": "close_arr", "velk_stochf": "close_arr",
    "velk_wick": "close_arr", "velk_macd": "input0", "velk_adif": "input_array_1", "velk_rdif": "input_array_1",
}
