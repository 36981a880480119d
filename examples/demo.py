"""Runs every indicator on the embedded sample bars and prints its last value and timing."""

import inspect
import time

import numpy as np

import velkized_ta
from velkized_ta import velk_ta_funcs
from velkized_ta.sample import sample_ohlc

BARS = sample_ohlc()
SERIES = {
    "input_array": "close", "arr": "close", "input0": "close", "input1": "close", "close": "close",
    "close_arr": "close", "high": "high", "high_arr": "high", "low": "low", "low_arr": "low",
    "input_array_1": "close", "input_array_2": "open",
}
PERIODS = {"timeperiod": 14, "short_period": 7, "medium_period": 14, "long_period": 28}
OVERRIDES = {
    "velk_macd": {"short_period": 12, "long_period": 26},
    # every argument of velk_adx is optional, so its series are not picked up above
    "velk_adx": {"high_arr": BARS["high"], "low_arr": BARS["low"], "close_arr": BARS["close"], "timeperiod": 14},
}


def arguments(name):
    """Keyword arguments for a demo call: every series parameter gets bars, every period a default."""
    params = inspect.signature(getattr(velk_ta_funcs, name)).parameters
    kwargs = {}
    for param in params:
        if param in SERIES and (params[param].default is inspect.Parameter.empty or name == "velk_macd"):
            kwargs[param] = BARS[SERIES[param]]
        elif param in PERIODS and params[param].default is inspect.Parameter.empty:
            kwargs[param] = PERIODS[param]
    if name == "velk_macd":
        kwargs = {"input0": BARS["close"]}
    kwargs.update(OVERRIDES.get(name, {}))
    return kwargs


def median_seconds(function, kwargs, repeats=50):
    times = []
    for _ in range(repeats):
        begin = time.perf_counter()
        function(**kwargs)
        times.append(time.perf_counter() - begin)
    return float(np.median(times))


def main():
    n = len(BARS["close"])
    print(f"velkized_ta {velkized_ta.__version__}, numpy {np.__version__}, {n} sample bars\n")
    print(f"{'function':<14}{'last value':>16}{'non-NaN':>10}{'time per call':>16}")
    for name in velkized_ta.FUNCTION_NAMES:
        function = getattr(velk_ta_funcs, name)
        kwargs = arguments(name)
        try:
            result = function(**kwargs)
        except NotImplementedError:
            print(f"{name:<14}{'(not built yet)':>16}")
            continue
        seconds = median_seconds(function, kwargs)
        values = np.asarray(result)
        print(f"{name:<14}{values[-1]:>16.7g}{int(np.count_nonzero(~np.isnan(values))):>10}"
              f"{seconds * 1e6:>13.1f} us")


if __name__ == "__main__":
    main()
