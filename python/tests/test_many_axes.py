"""Arrays of more than 32 axes (NumPy 2): a non-empty output is an internal fault."""

import numpy as np

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import read_only
from support.expect import raises_internal_fault
from support.modes import NE
from support.np_compat import AXIS_LIMIT, MANY_AXES, MANY_AXES_EMPTY, requires_numpy2


@requires_numpy2
def test_alloc_of_more_than_32_axes():
    arr = np.arange(3, dtype=np.int16).reshape(MANY_AXES)
    for target in ("int8", "int16", "int64"):
        raises_internal_fault(cast_array, arr, target_dtype=target, rounding_mode=NE)
    empty = cast_array(np.zeros(MANY_AXES_EMPTY, np.int16), target_dtype="int8", rounding_mode=NE)
    assert empty.shape == MANY_AXES_EMPTY and empty.dtype == np.int8


@requires_numpy2
def test_into_of_more_than_32_axes():
    arr = np.arange(3, dtype=np.int16).reshape(MANY_AXES)
    for out in (np.full(MANY_AXES, 7, np.int8), np.full(MANY_AXES, 7, np.int16)):
        raises_internal_fault(cast_array_into, arr, out, rounding_mode=NE)
        assert (out == 7).all()
    # The axis limit is tested before the layout.
    raises_internal_fault(cast_array_into, arr, read_only(np.full(MANY_AXES, 7, np.int8)), rounding_mode=NE)
    empty_out = read_only(np.zeros(MANY_AXES_EMPTY, np.int8))
    assert cast_array_into(np.zeros(MANY_AXES_EMPTY, np.int16), empty_out, rounding_mode=NE) is None


def test_32_axes_are_converted():
    arr = np.array([-1, 2, 300], dtype=np.int16).reshape(AXIS_LIMIT)
    result = cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="clamp")
    assert result.shape == AXIS_LIMIT and result.ravel().tolist() == [0, 2, 255]
    out = np.zeros(AXIS_LIMIT, np.uint8)
    cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode="wrap")
    assert out.ravel().tolist() == [255, 2, 44]
