"""The midpoint and its deviation from the close are rounded to float32 once,
not after every step (nor only after the final division)."""

import numpy as np

from velkized_ta import velk_mid


def bits(value):
    return int(np.array(value, dtype=np.float32).view(np.uint32))


def f32(*values):
    return np.array(values, dtype=np.float32)


def test_deviation_keeps_the_half_step_lost_in_float32():
    # 1e8 + 4 lies halfway between two float32 values; rounded early it would
    # drop to 1e8 and the deviation would come out as 8 / close instead of 12 / close.
    close = f32(1e8 - 8)
    out = velk_mid(f32(1e8 + 8), f32(1e8), close, 1)
    assert out[0] == np.float32(12) / close[0]


def test_single_rounding_before_the_division():
    # Rounding every step gives bits 0xbf4c177d, dividing in double 0xbf4c177e.
    high, low, close = (np.array([float.fromhex(v)], dtype=np.float32)
                        for v in ("0x1.3212c4p+7", "0x1.12d052p+7", "0x1.6619d8p+9"))
    assert bits(velk_mid(high, low, close, 1)[0]) == 0xBF4C177F


def test_range_is_a_float32_difference():
    # In double the midpoint of +-3e38 would be 0; the float32 range overflows first.
    out = velk_mid(f32(3e38), f32(-3e38), f32(1), 1, False)
    assert np.isposinf(out[0])
