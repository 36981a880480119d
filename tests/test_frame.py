"""Argument binding, conversions, typed views and error reporting shared by every function."""

import sys
import traceback
import warnings

import numpy as np
import pytest

from velkized_ta import velk_ta_funcs
from velkized_ta.velk_ta_funcs import velk_sma, velk_trix

X = np.array([1, 2, 3, 4], dtype=np.float32)


def raised(function, *args, **kwargs):
    with pytest.raises(Exception) as info:
        function(*args, **kwargs)
    return info.value


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: velk_sma(X), "velk_sma() takes at least 2 positional arguments (1 given)"),
        (lambda: velk_sma(X, 2, True, 5, 6), "velk_sma() takes at most 4 positional arguments (5 given)"),
        (lambda: velk_trix(), "velk_trix() takes at least 1 positional argument (0 given)"),
        (lambda: velk_sma(input_array=X), "velk_sma() takes at least 2 positional arguments (1 given)"),
        (lambda: velk_sma(timeperiod=2), "velk_sma() takes at least 2 positional arguments (0 given)"),
        (lambda: velk_sma(X, 2, True, 5, 6, normalize=True),
         "velk_sma() takes at most 4 positional arguments (5 given)"),
        (lambda: velk_sma(X, 3, timeperiod=2), "velk_sma() got multiple values for keyword argument 'timeperiod'"),
        (lambda: velk_sma(X, 3, period=2), "velk_sma() got an unexpected keyword argument 'period'"),
        (lambda: velk_sma(X, 3, normalize=False, period=2, input_array=X),
         "velk_sma() got an unexpected keyword argument 'period'"),
        (lambda: velk_sma(X, 3, input_array=X, period=2),
         "velk_sma() got multiple values for keyword argument 'input_array'"),
    ],
)
def test_binding_errors(call, message):
    error = raised(call)
    assert type(error) is TypeError
    assert str(error) == message


def test_keywords_bind_in_any_order():
    expected = velk_sma(X, 2, False, 3)
    for kwargs in ({"n_values": 3, "normalize": False, "timeperiod": 2, "input_array": X},
                   {"timeperiod": 2, "input_array": X, "n_values": 3, "normalize": False}):
        np.testing.assert_array_equal(velk_sma(**kwargs), expected)
    np.testing.assert_array_equal(velk_sma(X, 2, n_values=3, normalize=False), expected)


class IntSubclass(int):
    pass


class IntReturnsSubclass:
    def __int__(self):
        return IntSubclass(2)


class IntReturnsFloat:
    def __int__(self):
        return 2.0


class IntRaises:
    def __int__(self):
        raise KeyError("boom")


class IndexOnly:
    def __index__(self):
        return 2


@pytest.mark.parametrize("period", [2, 2.9, np.int64(2), np.float32(2.5), IntSubclass(2), np.int8(2)])
def test_period_conversions_accepted(period):
    np.testing.assert_array_equal(velk_sma(X, period, False), velk_sma(X, 2, False))


def test_true_acts_as_one_and_fourteen_point_nine_as_fourteen():
    np.testing.assert_array_equal(velk_sma(X, True, False), velk_sma(X, 1, False))
    long = np.arange(1, 30, dtype=np.float32)
    np.testing.assert_array_equal(velk_sma(long, 14.9), velk_sma(long, 14))


@pytest.mark.parametrize(
    "period, error_type, message",
    [
        (None, TypeError, "an integer is required"),
        ("2", TypeError, "an integer is required"),
        ([2], TypeError, "an integer is required"),
        (IndexOnly(), TypeError, "an integer is required"),
        (2**31, OverflowError, "value too large to convert to int"),
        (-(2**31) - 1, OverflowError, "value too large to convert to int"),
        (float(2**40), OverflowError, "value too large to convert to int"),
        (IntReturnsFloat(), TypeError, "__int__ returned non-int (type float)"),
        (IntRaises(), KeyError, "'boom'"),
        (float("nan"), ValueError, None),
        (2**70, OverflowError, None),
    ],
)
def test_period_conversion_errors(period, error_type, message):
    error = raised(velk_sma, X, period)
    assert type(error) is error_type
    if message is not None:
        assert str(error) == message


def test_int_extremes_are_accepted():
    for period in (2**31 - 1, -(2**31)):
        result = velk_sma(X, 2, n_values=period)
        assert result.dtype == np.float32


def test_int_subclass_from_dunder_int_warns():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        np.testing.assert_array_equal(velk_sma(X, IntReturnsSubclass(), False), velk_sma(X, 2, False))
    assert any(issubclass(w.category, DeprecationWarning) and "__int__ returned non-int (type IntSubclass)"
               in str(w.message) for w in caught)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            velk_sma(X, IntReturnsSubclass())


@pytest.mark.parametrize("flag, normalized", [(0, False), (None, False), (0.0, False), ("", False),
                                              (1, True), ("no", True), (np.bool_(False), False)])
def test_truth_value_conversion(flag, normalized):
    np.testing.assert_array_equal(velk_sma(X, 2, flag), velk_sma(X, 2, normalized))


def test_truth_value_errors_propagate():
    error = raised(velk_sma, X, 2, np.array([True, False]))
    assert type(error) is ValueError and "truth value" in str(error)


@pytest.mark.parametrize(
    "value, type_name",
    [([1.0, 2.0], "list"), ((1.0,), "tuple"), (3.0, "float"), ("abc", "str"), (memoryview(X), "memoryview")],
)
def test_array_type_test(value, type_name):
    error = raised(velk_sma, value, 2)
    assert type(error) is TypeError
    assert str(error) == f"Argument 'input_array' has incorrect type (expected numpy.ndarray, got {type_name})"
    # no traceback entry of the module for the type test
    names = [frame.name for frame in traceback.extract_tb(error.__traceback__)]
    assert not any(name.startswith("velkized_ta.") for name in names)


@pytest.mark.parametrize(
    "array, error_type, message",
    [
        (np.zeros(4, np.float64), ValueError, "Buffer dtype mismatch, expected 'float32_t' but got 'double'"),
        (np.zeros(4, np.int32), ValueError, "Buffer dtype mismatch, expected 'float32_t' but got 'int'"),
        (np.zeros(4, np.int64), ValueError, "Buffer dtype mismatch, expected 'float32_t' but got 'long'"),
        (np.zeros(4, np.bool_), ValueError, "Buffer dtype mismatch, expected 'float32_t' but got 'bool'"),
        (np.zeros(4, np.uint32), ValueError, "Buffer dtype mismatch, expected 'float32_t' but got 'unsigned int'"),
        (np.zeros(4, np.complex64), ValueError,
         "Buffer dtype mismatch, expected 'float32_t' but got 'complex float'"),
        (np.zeros(4, np.float16), ValueError, "Does not understand character buffer dtype format string ('e')"),
        (np.zeros(4, ">f4"), ValueError, "Big-endian buffer not supported on little-endian compiler"),
        (np.zeros(4, ">f8"), ValueError, "Big-endian buffer not supported on little-endian compiler"),
        (np.zeros((2, 2), np.float32), ValueError, "Buffer has wrong number of dimensions (expected 1, got 2)"),
        (np.zeros((), np.float32), ValueError, "Buffer has wrong number of dimensions (expected 1, got 0)"),
    ],
)
def test_view_errors(array, error_type, message):
    error = raised(velk_sma, array, 2)
    assert type(error) is error_type
    assert str(error) == message
    entries = traceback.extract_tb(error.__traceback__)
    assert entries[-1].name == "velkized_ta.velk_ta_funcs.velk_sma"
    assert entries[-1].filename == "velkized_ta/velk_ta_funcs"


def test_little_endian_and_non_contiguous_views_are_accepted():
    base = np.arange(1, 21, dtype=np.float32)
    read_only = base.copy()
    read_only.flags.writeable = False
    cases = [base[::2], base[::-1], base[3:17:3], read_only, base.astype("<f4")]
    for view in cases:
        np.testing.assert_array_equal(velk_sma(view, 3), velk_sma(np.ascontiguousarray(view), 3))
    unaligned = np.frombuffer(b"\0" + base.tobytes(), dtype=np.float32, offset=1)
    assert not unaligned.flags.aligned
    np.testing.assert_array_equal(velk_sma(unaligned, 3), velk_sma(base, 3))


def test_subclass_of_ndarray_is_accepted():
    class Tagged(np.ndarray):
        pass

    tagged = X.view(Tagged)
    np.testing.assert_array_equal(velk_sma(tagged, 2), velk_sma(X, 2))


def test_none_array_fails_at_len():
    error = raised(velk_sma, None, 2)
    assert type(error) is TypeError and "len()" in str(error)
    assert traceback.extract_tb(error.__traceback__)[-1].name == "velkized_ta.velk_ta_funcs.velk_sma"


def test_results_are_new_float32_arrays_and_inputs_untouched():
    x = np.array([3, 1, 4, 1, 5], dtype=np.float32)
    before = x.copy()
    first, second = velk_sma(x, 2), velk_sma(x, 2)
    assert first is not second and first.dtype == np.float32 and first.shape == x.shape
    assert first.flags.owndata or first.base is not x
    np.testing.assert_array_equal(x, before)


@pytest.mark.parametrize("args", [(X, 2), (X, 9), (np.zeros(4, np.float64), 2), (np.array([0, 1], np.float32), 1)])
def test_no_reference_or_buffer_export_outlives_a_call(args):
    array = args[0]
    before = sys.getrefcount(array)
    for _ in range(50):
        try:
            velk_sma(*args)
        except (IndexError, ValueError, ZeroDivisionError):
            pass
    assert sys.getrefcount(array) == before  # a buffer export would hold a reference


def test_np_is_looked_up_at_each_call(restore_module_globals):
    module = restore_module_globals

    class FakeNumpy:
        nan = np.nan
        float32 = np.float32

        @staticmethod
        def full(n, value, dtype):
            return [value] * n

    module.np = FakeNumpy()
    error = raised(velk_sma, X, 2)
    assert type(error) is TypeError and str(error) == "Cannot convert list to numpy.ndarray"

    del module.np
    error = raised(velk_sma, X, 2)
    assert type(error) is NameError and str(error) == "name 'np' is not defined"

    class Counting:
        calls = 0

        def __getattr__(self, name):
            Counting.calls += 1
            return getattr(np, name)

    module.np = Counting()
    velk_sma(X, 2)
    assert Counting.calls >= 3  # full, nan, float32


def test_deep_recursion_through_rebinding_is_an_error_not_a_crash(restore_module_globals):
    module = restore_module_globals
    module.velk_dx = module.velk_adx  # velk_adx calls velk_dx by name with four positional arguments
    bars = np.arange(1, 10, dtype=np.float32)
    with pytest.raises(RecursionError):
        module.velk_adx(bars, bars, bars, 3)
