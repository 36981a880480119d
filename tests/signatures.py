"""What the tests need to know about each function's parameters."""


def kind_of(name):
    """'int', 'flag' or 'array' for a parameter name."""
    if name == "n_values" or name.endswith("period"):
        return "int"
    if "_is_" in name or name in ("normalize", "stream", "last_value_only"):
        return "flag"
    return "array"


# The array whose length is the length of the result.
LENGTH_PARAM = {
    "velk_sma": "input_array", "velk_lin": "input_array", "velk_mid": "close", "velk_ema": "input_array",
    "velk_ema2": "input_array", "velk_ema3": "input_array", "velk_dema": "input1", "velk_tema": "input1",
    "velk_trix": "arr", "velk_roc": "input_array", "velk_rsi": "close", "velk_willr": "close_arr",
    "velk_cci": "close_arr", "velk_dx": "high", "velk_adx": "close_arr", "velk_adxr": "close_arr",
    "velk_cmo": "close_arr", "velk_natr": "close_arr", "velk_ult": "close_arr", "velk_stochf": "close_arr",
    "velk_wick": "close_arr", "velk_macd": "input0", "velk_adif": "input_array_1", "velk_rdif": "input_array_1",
}
