"""Wrong kinds of input, in every slot of every function, give clear errors."""

import inspect
import resource
import time
import tracemalloc
import traceback

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

from velkized_ta import FUNCTION_NAMES, velk_ta_funcs
from velkized_ta.sample import example_arguments, sample_ohlc
from signatures import kind_of, LENGTH_PARAM

BARS = sample_ohlc(60)


def slots(kind):
    return [(name, p) for name in FUNCTION_NAMES
            for p in inspect.signature(getattr(velk_ta_funcs, name)).parameters if kind_of(p) == kind]


def valid_call(name):
    function = getattr(velk_ta_funcs, name)
    return function, example_arguments(function, BARS)


def raised(function, kwargs):
    with pytest.raises(Exception) as info:
        function(**kwargs)
    return info.value


def entry_names(error):
    return [frame.name for frame in traceback.extract_tb(error.__traceback__)]


class LooksLikeAnArray:
    """What a data-frame column offers: length and numpy conversion, but no ndarray type."""

    def __init__(self, values):
        self.values = values

    def __len__(self):
        return len(self.values)

    def __array__(self, dtype=None, copy=None):
        return self.values


NOT_ARRAYS = [
    ([1.0, 2.0, 3.0], "list"),
    ((1.0, 2.0), "tuple"),
    (2.5, "float"),
    (np.float32(2.5), "numpy.float32"),
    (b"\0\0\0\0", "bytes"),
    (memoryview(np.ones(3, np.float32)), "memoryview"),
    (LooksLikeAnArray(np.ones(3, np.float32)), "LooksLikeAnArray"),
]


@pytest.mark.parametrize("name, param", slots("array"))
@pytest.mark.parametrize("value, type_name", NOT_ARRAYS, ids=[t for _, t in NOT_ARRAYS])
def test_non_arrays_fail_the_type_test(name, param, value, type_name):
    function, kwargs = valid_call(name)
    kwargs[param] = value
    error = raised(function, kwargs)
    assert type(error) is TypeError
    assert str(error) == f"Argument '{param}' has incorrect type (expected numpy.ndarray, got {type_name})"
    assert f"velkized_ta.velk_ta_funcs.{name}" not in entry_names(error)


@pytest.mark.parametrize("name, param", slots("array"))
def test_pandas_objects_fail_the_type_test(name, param):
    pd = pytest.importorskip("pandas")
    function, kwargs = valid_call(name)
    for value in (pd.Series(BARS["close"]), pd.DataFrame({"close": BARS["close"]})):
        kwargs[param] = value
        error = raised(function, kwargs)
        assert type(error) is TypeError and "has incorrect type (expected numpy.ndarray" in str(error)


x = BARS["close"]
BAD_VIEWS = [
    (x.astype(np.float64), "Buffer dtype mismatch, expected 'float32_t' but got 'double'"),
    (x.astype(np.int32), "Buffer dtype mismatch, expected 'float32_t' but got 'int'"),
    (x.astype(np.int64), "Buffer dtype mismatch, expected 'float32_t' but got 'long'"),
    (x.astype(np.uint32), "Buffer dtype mismatch, expected 'float32_t' but got 'unsigned int'"),
    (x > 100, "Buffer dtype mismatch, expected 'float32_t' but got 'bool'"),
    (x.astype(np.complex64), "Buffer dtype mismatch, expected 'float32_t' but got 'complex float'"),
    (x.astype(object), "Buffer dtype mismatch, expected 'float32_t' but got Python object"),
    (x.astype(np.float16), "Does not understand character buffer dtype format string ('e')"),
    (x.astype(">f4"), "Big-endian buffer not supported on little-endian compiler"),
    (np.array(x[0]), "Buffer has wrong number of dimensions (expected 1, got 0)"),
    (x.reshape(6, 10), "Buffer has wrong number of dimensions (expected 1, got 2)"),
    (x.reshape(1, 60, 1), "Buffer has wrong number of dimensions (expected 1, got 3)"),
    (x.reshape(1, 60).view(np.matrix), "Buffer has wrong number of dimensions (expected 1, got 2)"),
]
BAD_VIEW_IDS = ["float64", "int32", "int64", "uint32", "bool", "complex64", "object", "float16", "big-endian",
                "0-d", "2-d", "3-d", "matrix"]


@pytest.mark.parametrize("name, param", slots("array"))
@pytest.mark.parametrize("array, message", BAD_VIEWS, ids=BAD_VIEW_IDS)
def test_unusable_arrays_fail_the_view_even_where_unused(name, param, array, message):
    function, kwargs = valid_call(name)
    kwargs[param] = array
    error = raised(function, kwargs)
    assert type(error) is ValueError
    assert str(error) == message
    assert entry_names(error)[-1] == f"velkized_ta.velk_ta_funcs.{name}"


@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_type_tests_come_before_any_view(name):
    params = [p for p in inspect.signature(getattr(velk_ta_funcs, name)).parameters if kind_of(p) == "array"]
    function, kwargs = valid_call(name)
    kwargs[params[0]] = x.astype(np.float64)
    kwargs[params[-1]] = [1.0]
    error = raised(function, kwargs)
    assert type(error) is TypeError and f"Argument '{params[-1]}'" in str(error)


class Boom(Exception):
    pass


class IntRaises:
    def __int__(self):
        raise Boom("no int")


class IntGivesFloat:
    def __int__(self):
        return 3.0


class BoolRaises:
    def __bool__(self):
        raise Boom("no truth")


BAD_INTS = [
    ("14", TypeError, "an integer is required"),
    (None, TypeError, "an integer is required"),
    ([14], TypeError, "an integer is required"),
    (2**31, OverflowError, "value too large to convert to int"),
    (-(2**31) - 1, OverflowError, "value too large to convert to int"),
    (float(2**40), OverflowError, "value too large to convert to int"),
    (2**64, OverflowError, None),  # the host's own message
    (float("inf"), OverflowError, None),
    (float("nan"), ValueError, None),
    (IntGivesFloat(), TypeError, "__int__ returned non-int (type float)"),
    (IntRaises(), Boom, "no int"),
]


@pytest.mark.parametrize("name, param", slots("int"))
@pytest.mark.parametrize("value, error_type, message", BAD_INTS,
                         ids=["str", "None", "list", "2**31", "-2**31-1", "2.0**40", "2**64", "inf", "nan",
                              "int-gives-float", "int-raises"])
def test_integer_arguments_that_do_not_convert(name, param, value, error_type, message):
    function, kwargs = valid_call(name)
    kwargs[param] = value
    error = raised(function, kwargs)
    assert type(error) is error_type
    if message is not None:
        assert str(error) == message


@pytest.mark.parametrize("name, param", slots("int"))
def test_integer_arguments_convert_through_int(name, param):
    function, kwargs = valid_call(name)
    value = kwargs.get(param, 3 if param != "n_values" else 999999999)
    kwargs[param] = value
    expected = function(**kwargs)
    for same in (float(value) + 0.9, np.int64(value), np.float32(value), np.uint8(value) if value < 256 else value):
        kwargs[param] = same
        np.testing.assert_array_equal(function(**kwargs), expected)


@pytest.mark.parametrize("name, param", slots("flag"))
def test_flags_whose_truth_test_fails(name, param):
    function, kwargs = valid_call(name)
    kwargs[param] = BoolRaises()
    with pytest.raises(Boom, match="no truth"):
        function(**kwargs)
    kwargs[param] = np.array([True, False])
    with pytest.raises(ValueError, match="truth value of an array"):
        function(**kwargs)


# --- series longer than 32-bit positions ---------------------------------------


def endless(length, value=100.0):
    """A read-only series of `length` equal elements in four bytes of memory."""
    return as_strided(np.full(1, value, np.float32), shape=(length,), strides=(0,), writeable=False)


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


@pytest.mark.parametrize("length", [2**31, 2**32 + 5], ids=["2**31", "2**32+5"])
@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_series_beyond_32_bit_lengths_are_refused_before_allocating(name, length):
    function, kwargs = valid_call(name)
    kwargs[LENGTH_PARAM[name]] = endless(length)
    rss = rss_bytes()
    tracemalloc.start()
    started = time.perf_counter()
    try:
        error = raised(function, kwargs)
        elapsed = time.perf_counter() - started
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert type(error) is OverflowError, repr(error)
    assert "2147483647" in str(error)
    assert elapsed < 2.0 and peak < 1 << 20
    assert rss_bytes() - rss < 64 << 20


# Companions that a sibling call receives as its own length-giving series.
LENGTH_OF_A_SIBLING_CALL = {
    ("velk_adx", "high_arr"): "velk_dx", ("velk_adxr", "high_arr"): "velk_dx", ("velk_tema", "input2"): "velk_ema"}


@pytest.mark.parametrize("name, param", [(n, p) for n, p in slots("array") if p != LENGTH_PARAM[n]])
def test_companions_beyond_32_bit_lengths_are_read_in_64_bits(name, param):
    if name == "velk_cci":
        pytest.skip("the typical price broadcasts its series together")
    function, kwargs = valid_call(name)
    n = len(kwargs[LENGTH_PARAM[name]])
    kwargs[param] = np.full(n, 100.0, np.float32)
    for flag in inspect.signature(function).parameters:
        if flag.startswith(param + "_is_"):  # use it as the handed-in stage
            kwargs[flag] = True
    expected = function(**kwargs)
    kwargs[param] = endless(2**32 + 5)
    if (name, param) in LENGTH_OF_A_SIBLING_CALL:
        with pytest.raises(OverflowError, match=LENGTH_OF_A_SIBLING_CALL[name, param]):
            function(**kwargs)
    else:
        np.testing.assert_array_equal(function(**kwargs), expected)
