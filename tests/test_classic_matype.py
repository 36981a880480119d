"""The moving-average types behind `matype` are the averages of the same names, bit for bit."""

import numpy as np
import pytest
from classic_cases import bars

from velkized_ta import classic

# TA-Lib's numbering of the types, and the function each one must reproduce.
AVERAGES = {
    0: lambda x, n: classic.sma(x, n),
    1: lambda x, n: classic.ema(x, n),
    2: lambda x, n: classic.wma(x, n),
    3: lambda x, n: classic.dema(x, n),
    4: lambda x, n: classic.tema(x, n),
    5: lambda x, n: classic.trima(x, n),
    6: lambda x, n: classic.kama(x, n),
    7: lambda x, n: classic.mama(x)[0],
    8: lambda x, n: classic.t3(x, n, 0.7),
}


def with_gaps(n):
    close = bars(n, 3)["close"].copy()
    close[:7] = np.nan
    close[[50, 51, 300]] = np.nan
    return close


@pytest.mark.every_dispatch
@pytest.mark.parametrize("matype", sorted(AVERAGES))
def test_each_matype_is_its_average(matype):
    close = with_gaps(600)
    period = 6
    # The middle band is the chosen average (its first value at the later of the two lookbacks).
    middle = classic.bbands(close, period, matype=matype)[1]
    expected = AVERAGES[matype](close, period)
    first = np.flatnonzero(~np.isnan(middle))[0]
    assert first >= np.flatnonzero(~np.isnan(expected))[0]
    if matype == 0:  # bbands' own window mean, kept beside its deviations: a rounding apart
        np.testing.assert_allclose(middle[first:], expected[first:], rtol=1e-13)
    else:
        np.testing.assert_array_equal(middle[first:], expected[first:])
    # The slow average of apo and the fast %D of stochf run the same block.
    fast = AVERAGES[matype](close, 3)
    np.testing.assert_array_equal(classic.apo(close, 3, period, matype=matype), fast - expected)


@pytest.mark.every_dispatch
def test_matype_period_one_is_the_value_itself():
    close = with_gaps(400)
    for matype in sorted(AVERAGES):
        fastk, fastd = classic.stochf(close, close, close, 5, 1, fastd_matype=matype)
        np.testing.assert_array_equal(fastd, fastk)


@pytest.mark.every_dispatch
def test_macdext_with_emas_is_macd():
    close = with_gaps(800)
    for ours, reference in zip(classic.macdext(close, 12, 1, 26, 1, 9, 1), classic.macd(close, 12, 26, 9)):
        np.testing.assert_array_equal(ours, reference)
