"""Which input arrays are accepted: row-major by NumPy's flag, native element type, in place."""

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import read_only
from support.expect import raises_exactly
from support.modes import NE
LAYOUT_MESSAGE = "Input array must be row-major (C-contiguous)"


def _record_field():
    rec = np.zeros(4, dtype=[("a", "u1"), ("b", "<i4")])
    rec["b"] = [1, 2, 3, 4]
    return rec["b"]


def _middle_axis_strided():
    return np.arange(24, dtype=np.int16).reshape(2, 6, 2)[:, ::2, :]


NOT_ROW_MAJOR = {
    "column-major-2d": lambda: np.asfortranarray(np.arange(6, dtype=np.int32).reshape(2, 3)),
    "transposed-row-major": lambda: np.arange(6, dtype=np.int32).reshape(2, 3).T,
    "step-2": lambda: np.arange(8, dtype=np.int32)[::2],
    "reversed": lambda: np.arange(4, dtype=np.int32)[::-1],
    "record-field": _record_field,
    "middle-axis-strided": _middle_axis_strided,
}


@pytest.mark.parametrize("make", NOT_ROW_MAJOR.values(), ids=NOT_ROW_MAJOR.keys())
def test_not_row_major_input_is_refused(make):
    arr = make()
    target = "int8" if arr.dtype != np.int8 else "int16"
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array, arr, target_dtype=target, rounding_mode=NE)
    out = np.full(arr.shape, 7, dtype=target)
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array_into, arr, out, rounding_mode=NE)
    assert (out == 7).all()


ROW_MAJOR = {
    "transposed-column-major": lambda: np.asfortranarray(np.arange(6, dtype=np.int32).reshape(2, 3)).T,
    "one-dimensional": lambda: np.arange(5, dtype=np.int32),
    "single-element-strided": lambda: np.arange(10, dtype=np.int32)[3::5][:1],
    "single-element-2d-column-major": lambda: np.asfortranarray(np.full((1, 1), 9, dtype=np.int32)),
    "column-of-row-major": lambda: np.arange(6, dtype=np.int32).reshape(6, 1),
    "read-only": lambda: read_only(np.arange(5, dtype=np.int32)),
    "rank-0": lambda: np.array(-7, dtype=np.int32),
    "longlong-named-int64": lambda: np.arange(4, dtype=np.longlong),
    "unaligned": lambda: _unaligned(np.array([5, -6, 7, 300], dtype=np.int32)),
}


def _unaligned(values):
    buf = bytearray(values.nbytes + 1)
    arr = np.frombuffer(buf, dtype=values.dtype, offset=1)
    arr[...] = values
    assert not arr.flags.aligned
    return arr


@pytest.mark.parametrize("make", ROW_MAJOR.values(), ids=ROW_MAJOR.keys())
def test_row_major_input_is_accepted_in_place(make):
    arr = make()
    expected = [min(max(int(v), -128), 127) for v in arr.ravel().tolist()]
    result = cast_array(arr, target_dtype="int8", rounding_mode=NE, out_of_range_mode="clamp")
    assert result.shape == arr.shape
    assert result.ravel().tolist() == expected
    out = np.zeros(arr.shape, np.int8)
    cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode="clamp")
    assert out.ravel().tolist() == expected


def test_unaligned_input_of_every_width():
    for name in ("int16", "uint16", "int32", "uint32", "int64", "uint64"):
        values = np.array([1, 2, 3, 200, 5, 6, 7, 8, 9], dtype=name)
        for offset in (1, 3):
            buf = bytearray(values.nbytes + offset)
            arr = np.frombuffer(buf, dtype=name, offset=offset)
            arr[...] = values
            assert cast_array(arr, target_dtype="uint8", rounding_mode=NE).tolist() == values.tolist()
            assert cast_array(arr, target_dtype=name, rounding_mode=NE).tolist() == values.tolist()


SWAPPED = [np.dtype(name).newbyteorder() for name in ("int16", "uint16", "int32", "uint32", "int64", "uint64")]


@pytest.mark.parametrize("dtype", SWAPPED, ids=str)
def test_other_byte_order_input_is_refused(dtype):
    arr = np.arange(3, dtype=dtype)
    assert arr.dtype.name == dtype.newbyteorder().name
    message = "'ndarray' object cannot be converted to 'PyArray<T, D>'"
    raises_exactly(TypeError, message, cast_array, arr, target_dtype="int64", rounding_mode=NE)
    out = np.full(3, 7, np.int64)
    raises_exactly(TypeError, message, cast_array_into, arr, out, rounding_mode=NE)
    assert out.tolist() == [7, 7, 7]
    raises_exactly(TypeError, message, cast_array, arr[:0], target_dtype="int64", rounding_mode=NE)


def test_other_byte_order_subclass_names_its_type():
    class Swapped(np.ndarray):
        pass

    arr = np.arange(3, dtype=">i4").view(Swapped)
    raises_exactly(TypeError, f"'{Swapped.__qualname__}' object cannot be converted to 'PyArray<T, D>'",
                   cast_array, arr, target_dtype="int8", rounding_mode=NE)


def test_layout_is_tested_before_byte_order():
    arr = np.asfortranarray(np.arange(6, dtype=">i2").reshape(2, 3))
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array, arr, target_dtype="int8", rounding_mode=NE)


def test_input_view_comes_before_output_checks():
    arr = np.arange(8, dtype=np.int32)[::2]
    swapped_out = np.zeros(4, ">i4")
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array_into, arr, swapped_out, rounding_mode=NE)
    read_only_out = read_only(np.zeros(4, np.int8))
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array_into, arr, read_only_out, rounding_mode=NE)
    swapped_in = np.arange(4, dtype=">i4")
    raises_exactly(TypeError, "'ndarray' object cannot be converted to 'PyArray<T, D>'",
                   cast_array_into, swapped_in, read_only_out, rounding_mode=NE)


def test_input_is_not_modified():
    arr = np.array([-1, 300, 7], dtype=np.int32)
    before = arr.tobytes()
    cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="wrap")
    cast_array_into(arr, np.zeros(3, np.uint8), rounding_mode=NE, out_of_range_mode="clamp")
    with pytest.raises(ValueError):
        cast_array(arr, target_dtype="uint8", rounding_mode=NE)
    assert arr.tobytes() == before
    assert arr.flags.writeable and arr.flags.c_contiguous
