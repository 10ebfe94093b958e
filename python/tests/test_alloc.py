"""cast_array: the new array it returns."""

import sys

import numpy as np
import pytest

from _ossrel_rs import cast_array
from support.expect import raises_exactly
from support.int_model import INT_NAMES, INT_PAIRS, TYPE_NUMBER
from support.modes import NE

SHAPES = [(), (1,), (5,), (2, 3), (2, 1, 3), (1, 1, 1, 4)]


@pytest.mark.parametrize("shape", SHAPES, ids=str)
@pytest.mark.parametrize("source, target", INT_PAIRS)
def test_new_array(source, target, shape):
    arr = np.arange(int(np.prod(shape)), dtype=source).reshape(shape)
    result = cast_array(arr, target_dtype=target, rounding_mode=NE)
    assert type(result) is np.ndarray
    assert result.shape == shape
    assert result.dtype == np.dtype(target) and result.dtype.num == TYPE_NUMBER[target]
    assert result.dtype.isnative
    assert result.flags.c_contiguous and result.flags.writeable and result.flags.owndata
    assert result.base is None
    assert not np.shares_memory(result, arr)
    assert result.tolist() == arr.tolist()
    assert sys.getrefcount(result) == 2


EMPTY_SHAPES = [(0,), (2, 0, 3), (0, 0), (3, 0), (0, 5, 1)]


@pytest.mark.parametrize("shape", EMPTY_SHAPES, ids=str)
@pytest.mark.parametrize("target", INT_NAMES)
def test_empty_input_gives_new_empty_array(shape, target):
    arr = np.zeros(shape, np.int16)
    result = cast_array(arr, target_dtype=target, rounding_mode=NE)
    assert result.shape == shape and result.dtype == np.dtype(target)
    assert result.flags.c_contiguous and result.flags.owndata and result.flags.writeable


def test_rank_0():
    result = cast_array(np.array(-1, np.int8), target_dtype="uint8", rounding_mode=NE, out_of_range_mode="clamp")
    assert result.shape == () and result.dtype == np.uint8 and int(result) == 0
    raises_exactly(ValueError,
                   "Value -1 out of range [0, 127]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.",
                   cast_array, np.array([-1], np.int8), target_dtype="uint8", rounding_mode=NE)


def test_int32_300_to_uint8():
    arr = np.array([300], np.int32)
    assert cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="wrap").tolist() == [44]
    assert cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="clamp").tolist() == [255]


def test_result_of_a_view_input():
    base = np.arange(24, dtype=np.int32).reshape(4, 6)
    view = base[1:3]
    result = cast_array(view, target_dtype="int64", rounding_mode=NE)
    assert result.tolist() == view.tolist()
    assert result.base is None and not np.shares_memory(result, base)
