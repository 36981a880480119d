"""Runs every indicator on the embedded sample bars and prints its last value and timing."""

import time

import numpy as np

import velkized_ta
from velkized_ta import velk_ta_funcs
from velkized_ta.sample import example_arguments, sample_ohlc

BARS = sample_ohlc()
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
        kwargs = example_arguments(function, BARS)
        result = function(**kwargs)
        seconds = median_seconds(function, kwargs)
        values = np.asarray(result)
        print(f"{name:<14}{values[-1]:>16.7g}{int(np.count_nonzero(~np.isnan(values))):>10}"
              f"{seconds * 1e6:>13.1f} us")


if __name__ == "__main__":
    main()
