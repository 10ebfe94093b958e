"""Element-type names of arrays, target names, shape comparison and the order of these checks."""

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.expect import raises_exactly
from support.int_model import INT_PAIRS, TYPE_NUMBER
from support.modes import NE
SAMPLE = np.arange(3, dtype=np.int16)

UNSUPPORTED_DTYPES = [
    np.dtype(bool), np.dtype(np.complex64), np.dtype(np.complex128), np.dtype(np.longdouble),
    np.dtype(object), np.dtype("S3"), np.dtype("U2"), np.dtype("M8[ns]"), np.dtype("m8[s]"),
    np.dtype("V4"), np.dtype([("a", "<i4")]),
]


@pytest.mark.parametrize("dtype", UNSUPPORTED_DTYPES, ids=str)
def test_unsupported_source_dtype(dtype):
    arr = np.zeros(3, dtype=dtype)
    message = f"Unsupported numpy dtype: {dtype.name}"
    raises_exactly(TypeError, message, cast_array, arr, target_dtype="uint8", rounding_mode=NE)
    # Whatever the target text is.
    raises_exactly(TypeError, message, cast_array, arr, target_dtype="bogus", rounding_mode=NE)
    raises_exactly(TypeError, message, cast_array_into, arr, np.zeros(3, np.uint8), rounding_mode=NE)


@pytest.mark.parametrize("dtype", UNSUPPORTED_DTYPES, ids=str)
def test_unsupported_output_dtype(dtype):
    out = np.zeros(3, dtype=dtype)
    raises_exactly(TypeError, f"Unsupported numpy dtype: {dtype.name}",
                   cast_array_into, SAMPLE, out, rounding_mode=NE)


def test_bool_messages():
    raises_exactly(TypeError, "Unsupported numpy dtype: bool",
                   cast_array, np.array([True]), target_dtype="int", rounding_mode=NE)
    raises_exactly(TypeError, "Unsupported target dtype: int",
                   cast_array, SAMPLE, target_dtype="int", rounding_mode=NE)


UNSUPPORTED_TARGETS = [
    "int", "Float32", "f4", "<f4", "i1", "u1", "UINT8", "Int8", "uint8 ", " uint8", "int 8",
    "", "int8\x00", "uint\x008", "bool", "float128", "complex64", "\u00fcint8", "int8\u200b",
]


@pytest.mark.parametrize("target", UNSUPPORTED_TARGETS, ids=repr)
def test_unsupported_target_dtype(target):
    raises_exactly(TypeError, f"Unsupported target dtype: {target}",
                   cast_array, SAMPLE, target_dtype=target, rounding_mode=NE)


SHAPE_MISMATCHES = [
    ((2, 3), (3, 2), "Shape mismatch: input shape [2, 3] != output shape [3, 2]"),
    ((), (1,), "Shape mismatch: input shape [] != output shape [1]"),
    ((1,), (), "Shape mismatch: input shape [1] != output shape []"),
    ((0,), (0, 0), "Shape mismatch: input shape [0] != output shape [0, 0]"),
    ((3,), (1, 3), "Shape mismatch: input shape [3] != output shape [1, 3]"),
    ((2, 3), (2, 4), "Shape mismatch: input shape [2, 3] != output shape [2, 4]"),
    ((4,), (5,), "Shape mismatch: input shape [4] != output shape [5]"),
    ((1, 1, 12), (12,), "Shape mismatch: input shape [1, 1, 12] != output shape [12]"),
]


@pytest.mark.parametrize("in_shape, out_shape, message", SHAPE_MISMATCHES)
def test_shape_mismatch(in_shape, out_shape, message):
    arr = np.zeros(in_shape, np.int32)
    out = np.full(out_shape, 7, np.int8)
    raises_exactly(ValueError, message, cast_array_into, arr, out, rounding_mode=NE)
    assert (out == 7).all()


def _f_order_int32():
    return np.zeros((2, 3), np.int32, order="F")


def _swapped_int32(shape=(3,)):
    return np.zeros(shape, np.dtype("int32").newbyteorder())


# Two faults in one call: (id, function, positional arguments, keyword arguments, type, message)
ORDER_CASES = [
    ("input-dtype-before-output-dtype", cast_array_into,
     (np.zeros(3, np.complex64), np.zeros(3, bool)), {"rounding_mode": NE},
     TypeError, "Unsupported numpy dtype: complex64"),
    ("output-dtype-before-shape", cast_array_into,
     (np.zeros(2, np.int16), np.zeros(3, bool)), {"rounding_mode": NE},
     TypeError, "Unsupported numpy dtype: bool"),
    ("shape-before-input-layout", cast_array_into,
     (_f_order_int32(), np.zeros((3, 2), np.int8)), {"rounding_mode": NE},
     ValueError, "Shape mismatch: input shape [2, 3] != output shape [3, 2]"),
    ("shape-before-input-byte-order", cast_array_into,
     (_swapped_int32(), np.zeros(4, np.int8)), {"rounding_mode": NE},
     ValueError, "Shape mismatch: input shape [3] != output shape [4]"),
    ("shape-before-output-layout", cast_array_into,
     (np.zeros(3, np.int32), np.zeros(8, np.int8)[::2]), {"rounding_mode": NE},
     ValueError, "Shape mismatch: input shape [3] != output shape [4]"),
    ("target-name-before-input-layout", cast_array,
     (_f_order_int32(),), {"target_dtype": "bogus", "rounding_mode": NE},
     TypeError, "Unsupported target dtype: bogus"),
    ("target-name-before-input-byte-order", cast_array,
     (_swapped_int32(),), {"target_dtype": "int32 ", "rounding_mode": NE},
     TypeError, "Unsupported target dtype: int32 "),
    ("source-name-before-target-name", cast_array,
     (np.zeros(2, np.float128),), {"target_dtype": "bogus", "rounding_mode": NE},
     TypeError, "Unsupported numpy dtype: float128"),
]


@pytest.mark.parametrize("func, args, kwargs, exc_type, message",
                         [case[1:] for case in ORDER_CASES], ids=[case[0] for case in ORDER_CASES])
def test_check_order(func, args, kwargs, exc_type, message):
    raises_exactly(exc_type, message, func, *args, **kwargs)


@pytest.mark.parametrize("source, target", INT_PAIRS)
def test_each_integer_pair_reaches_its_own_instance(source, target):
    arr = np.array([0, 1, 2, 100], dtype=source)
    result = cast_array(arr, target_dtype=target, rounding_mode=NE)
    assert result.dtype == np.dtype(target)
    assert result.dtype.num == TYPE_NUMBER[target]
    assert result.tolist() == [0, 1, 2, 100]
    out = np.full(4, 5, dtype=target)
    assert cast_array_into(arr, out, rounding_mode=NE) is None
    assert out.tolist() == [0, 1, 2, 100]


# --- ndarray subclasses that supply their own `dtype` attribute -------------------------------

class RaisingDtype(np.ndarray):
    @property
    def dtype(self):
        raise KeyError("no dtype here")


class NamelessDtype(np.ndarray):
    class _Descr:
        name = 5

    @property
    def dtype(self):
        return self._Descr()


class BoolNamed(np.ndarray):
    class _Descr:
        name = "bool"

    @property
    def dtype(self):
        return self._Descr()


class SurrogateNamed(np.ndarray):
    class _Descr:
        name = "int\udc808"

    @property
    def dtype(self):
        return self._Descr()


class ClaimsUint8(np.ndarray):
    @property
    def dtype(self):
        return np.dtype("uint8")


def test_dtype_attribute_error_passes_unchanged():
    arr = np.zeros(3, np.int32).view(RaisingDtype)
    for call in (lambda: cast_array(arr, target_dtype="int8", rounding_mode=NE),
                 lambda: cast_array_into(arr, np.zeros(3, np.int8), rounding_mode=NE),
                 lambda: cast_array_into(np.zeros(3, np.int8), arr, rounding_mode=NE)):
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value) is KeyError
        assert info.value.args == ("no dtype here",)


def test_dtype_name_must_be_text():
    arr = np.zeros(3, np.int32).view(NamelessDtype)
    message = "'int' object cannot be converted to 'PyString'"
    raises_exactly(TypeError, message, cast_array, arr, target_dtype="int8", rounding_mode=NE)
    raises_exactly(TypeError, message, cast_array_into, SAMPLE, arr, rounding_mode=NE)


def test_dtype_name_encoding_error_passes_unchanged():
    arr = np.zeros(3, np.int32).view(SurrogateNamed)
    with pytest.raises(BaseException) as info:
        cast_array(arr, target_dtype="int8", rounding_mode=NE)
    assert type(info.value) is UnicodeEncodeError


def test_dtype_name_is_read_through_the_attribute():
    arr = np.zeros(3, np.int32).view(BoolNamed)
    raises_exactly(TypeError, "Unsupported numpy dtype: bool", cast_array, arr, target_dtype="int8", rounding_mode=NE)
    raises_exactly(TypeError, "Unsupported numpy dtype: bool", cast_array_into, SAMPLE, arr, rounding_mode=NE)


def test_claimed_name_is_checked_against_the_real_descriptor():
    liar = np.zeros(3, np.int32).view(ClaimsUint8)
    message = "'ClaimsUint8' object cannot be converted to 'PyArray<T, D>'"
    raises_exactly(TypeError, message, cast_array, liar, target_dtype="int8", rounding_mode=NE)
    raises_exactly(TypeError, message, cast_array_into, liar, np.zeros(3, np.int8), rounding_mode=NE)
    out = np.zeros(3, np.int32).view(ClaimsUint8)
    raises_exactly(TypeError, message, cast_array_into, SAMPLE, out, rounding_mode=NE)
    assert np.ndarray.view(out, np.ndarray).tolist() == [0, 0, 0]
