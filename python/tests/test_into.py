"""cast_array_into: checks of the caller's output, what is written, and shared buffers."""

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

from _ossrel_rs import cast_array_into
from support.arrays import read_only
from support.expect import raises_exactly
from support.int_model import convert
from support.modes import NE
from support.overlap import reinterpreted, same_array, shifted
LAYOUT_MESSAGE = "Output array must be row-major (C-contiguous) and writeable"
KIND_MESSAGE = "'ndarray' object cannot be converted to 'PyArray<T, D>'"


def _packed_int32_field(n):
    return np.zeros(n, dtype=[("a", "u1"), ("b", "<i4")])["b"]


# Each maker returns (out, base): base holds the memory of out, to see that nothing was written.
def _view(base, index):
    return base[index], base


REFUSED_OUTPUTS = {
    "step-2": lambda: _view(np.full(8, 7, np.int32), slice(None, None, 2)),
    "reversed": lambda: _view(np.full(4, 7, np.int32), slice(None, None, -1)),
    "reversed-two": lambda: _view(np.full(2, 7, np.int32), slice(None, None, -1)),
    "column-major": lambda: (lambda b: (b, b))(np.asfortranarray(np.full((2, 2), 7, np.int32))),
    "transposed": lambda: (lambda b: (b.T, b))(np.full((2, 2), 7, np.int32)),
    "packed-field": lambda: (lambda b: (b, b.base))(_packed_int32_field(4)),
    "read-only": lambda: (lambda b: (b, b))(read_only(np.full(4, 7, np.int32))),
    "read-only-rank-0": lambda: (lambda b: (b, b))(read_only(np.array(7, np.int32))),
    "middle-axis": lambda: _view(np.full((2, 4, 2), 7, np.int32), (slice(None), slice(None, None, 2))),
}


@pytest.mark.parametrize("make", REFUSED_OUTPUTS.values(), ids=REFUSED_OUTPUTS.keys())
def test_refused_outputs(make):
    out, base = make()
    before = base.tobytes()
    arr = np.ones(out.shape, np.int16)
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array_into, arr, out, rounding_mode=NE)
    assert base.tobytes() == before


def _unaligned_int32(n):
    buf = bytearray(4 * n + 1)
    out = np.frombuffer(buf, dtype=np.int32, offset=1)
    assert out.flags.writeable and not out.flags.aligned
    return out, buf


def _strided_row(n):
    base = np.full(n + 300, 7, np.int32)
    return as_strided(base, shape=(1, n), strides=(1000, 4)), base


def _strided_column(n):
    base = np.full(n, 7, np.int32)
    return as_strided(base, shape=(n, 1), strides=(4, 12)), base


def _single_element_any_stride():
    base = np.full(10, 7, np.int32)
    return as_strided(base[3:], shape=(1,), strides=(-20,)), base


ACCEPTED_OUTPUTS = {
    "row-with-any-outer-stride": lambda: _strided_row(5),
    "column-with-any-inner-stride": lambda: _strided_column(5),
    "single-element-any-stride": _single_element_any_stride,
    "unaligned": lambda: _unaligned_int32(6),
    "rank-0": lambda: (lambda b: (b, b))(np.array(7, np.int32)),
    "longlong-named-int64": lambda: (lambda b: (b, b))(np.full(3, 7, np.longlong)),
}


@pytest.mark.parametrize("make", ACCEPTED_OUTPUTS.values(), ids=ACCEPTED_OUTPUTS.keys())
def test_accepted_outputs(make):
    out, _ = make()
    target = out.dtype.name
    arr = np.arange(-2, out.size - 2, dtype=np.int16).reshape(out.shape)
    assert cast_array_into(arr, out, rounding_mode=NE) is None
    assert out.ravel().tolist() == arr.ravel().tolist()
    assert out.dtype.name == target


def test_unaligned_output_of_every_width():
    values = np.array([-3, -2, -1, 0, 1, 2, 300, 40000, 5], dtype=np.int64)
    for name in ("int16", "uint16", "int32", "uint32", "int64", "uint64"):
        size = np.dtype(name).itemsize
        for offset in (1, size - 1):
            buf = bytearray(size * values.size + offset + 3)
            out = np.frombuffer(buf, dtype=name, offset=offset, count=values.size)
            cast_array_into(values, out, rounding_mode=NE, out_of_range_mode="wrap")
            assert out.tolist() == [convert(v, name, "wrap") for v in values.tolist()]
            assert bytes(buf[:offset]) == b"\0" * offset
            assert bytes(buf[offset + out.nbytes:]) == b"\0" * 3


SWAPPED_TARGETS = ("int16", "uint16", "int32", "uint32", "int64", "uint64")


@pytest.mark.parametrize("name", SWAPPED_TARGETS)
def test_other_byte_order_output_is_refused(name):
    out = np.full(3, 7, np.dtype(name).newbyteorder())
    assert out.dtype.name == name
    before = out.tobytes()
    raises_exactly(TypeError, KIND_MESSAGE, cast_array_into, np.arange(3, dtype=np.int8), out, rounding_mode=NE)
    assert out.tobytes() == before


def test_other_byte_order_output_subclass_names_its_type():
    class Target(np.ndarray):
        pass

    out = np.zeros(3, ">u2").view(Target)
    raises_exactly(TypeError, f"'{Target.__qualname__}' object cannot be converted to 'PyArray<T, D>'",
                   cast_array_into, np.arange(3, dtype=np.int8), out, rounding_mode=NE)


EMPTY_SHAPES = [(0,), (2, 0, 3), (0, 0), (3, 0), (0, 1)]


@pytest.mark.parametrize("shape", EMPTY_SHAPES, ids=str)
def test_empty_output_returns_none_without_further_checks(shape):
    arr = np.zeros(shape, np.int32)
    assert cast_array_into(arr, np.zeros(shape, np.int8), rounding_mode=NE) is None
    assert cast_array_into(arr, read_only(np.zeros(shape, np.int8)), rounding_mode=NE) is None
    wide = np.zeros(tuple(2 * n + 1 for n in shape), np.int8)
    strided = wide[tuple(slice(0, n * 2, 2) for n in shape)]
    assert strided.shape == shape
    assert cast_array_into(arr, strided, rounding_mode=NE) is None
    assert (wide == 0).all()
    # The element type of the output is checked before its emptiness.
    raises_exactly(TypeError, KIND_MESSAGE, cast_array_into, arr, np.zeros(shape, ">i2"), rounding_mode=NE)


# Two faults of one call: the element type of the output, then its emptiness, then its layout,
# then the conversion.
def test_driver_check_order():
    arr = np.array([1, 300], dtype=np.int32)
    swapped_read_only = read_only(np.zeros(2, ">i2"))
    raises_exactly(TypeError, KIND_MESSAGE, cast_array_into, arr, swapped_read_only, rounding_mode=NE)
    column_major = np.asfortranarray(np.full((2, 2), 7, np.int8))
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array_into,
                   np.full((2, 2), 300, np.int32), column_major, rounding_mode=NE)
    assert (column_major == 7).all()
    raises_exactly(ValueError, LAYOUT_MESSAGE, cast_array_into, arr, read_only(np.full(2, 7, np.int8)),
                   rounding_mode=NE)


def test_rank_0_arrays():
    out = np.array(5, np.uint8)
    assert cast_array_into(np.array(-1, np.int8), out, rounding_mode=NE, out_of_range_mode="clamp") is None
    assert out.shape == () and int(out) == 0
    cast_array_into(np.array(-1, np.int8), out, rounding_mode=NE, out_of_range_mode="wrap")
    assert int(out) == 255
    raises_exactly(ValueError,
                   "Value -1 out of range [0, 127]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.",
                   cast_array_into, np.array(-1, np.int8), out, rounding_mode=NE)
    assert int(out) == 255


def test_partial_write_in_two_dimensions():
    arr = np.arange(12, dtype=np.int32).reshape(3, 4)
    arr[1, 2] = -1000
    arr[2, 0] = 1000
    out = np.full((3, 4), 99, np.int8)
    raises_exactly(ValueError,
                   "Value -1000 out of range [-128, 127]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.",
                   cast_array_into, arr, out, rounding_mode=NE)
    assert out.ravel().tolist() == [0, 1, 2, 3, 4, 5] + [99] * 6


def test_output_of_a_different_type_than_input_chooses_the_target():
    arr = np.array([-1, 256, 65536], dtype=np.int64)
    for name in ("int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64"):
        out = np.zeros(3, name)
        cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode="wrap")
        assert out.tolist() == [convert(v, name, "wrap") for v in arr.tolist()]


# --- input and output sharing memory ----------------------------------------------------------
# Whatever the overlap, the result equals that of a cast from a separate copy of the input.

def _same_array(name):
    """One array of 64 bytes as input and output."""
    return same_array(name, 64 // np.dtype(name).itemsize)


def _shifted(name, shift):
    """arr and out of one type, arr `shift` elements after out (before it when negative)."""
    return shifted(name, name, shift * np.dtype(name).itemsize, 40)


OVERLAPS = {
    "same-array-int32": _same_array("int32"),
    "same-array-uint8": _same_array("uint8"),
    "same-array-int64": _same_array("int64"),
    "narrowing-int16-to-int8": reinterpreted("int16", "int8", 40),
    "narrowing-int64-to-uint8": reinterpreted("int64", "uint8", 40),
    "narrowing-uint32-to-int16": reinterpreted("uint32", "int16", 40),
    "widening-int8-to-int16": reinterpreted("int8", "int16", 40),
    "widening-uint8-to-int64": reinterpreted("uint8", "int64", 40),
    "widening-int16-to-int32": reinterpreted("int16", "int32", 40),
    "widening-uint32-to-uint64": reinterpreted("uint32", "uint64", 40),
    "sign-change-int32-to-uint32": reinterpreted("int32", "uint32", 40),
    "shift-down-int32": _shifted("int32", 1),
    "shift-up-int32": _shifted("int32", -1),
    "shift-up-uint8-by-3": _shifted("uint8", -3),
    "shift-up-int64-by-5": _shifted("int64", -5),
}


@pytest.mark.parametrize("mode", ["clamp", "wrap"])
@pytest.mark.parametrize("make", OVERLAPS.values(), ids=OVERLAPS.keys())
def test_overlapping_input_and_output(make, mode):
    arr, out = make(np.random.default_rng(64))
    assert np.shares_memory(arr, out)
    expected = [convert(v, out.dtype.name, mode) for v in arr.tolist()]
    cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode=mode)
    assert out.tolist() == expected
