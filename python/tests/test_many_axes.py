"""Arrays of more than 32 axes (NumPy 2): a non-empty output is an internal fault."""

import numpy as np

from _ossrel_rs import cast_array, cast_array_into
from expect import raises_internal_fault
from np_compat import requires_numpy2

NE = "nearest-even"
MANY = (1,) * 32 + (3,)            # 33 axes, 3 elements
MANY_EMPTY = (1,) * 31 + (0, 2)    # 33 axes, no element
LIMIT = (1,) * 31 + (3,)           # 32 axes


@requires_numpy2
def test_alloc_of_more_than_32_axes():
    arr = np.arange(3, dtype=np.int16).reshape(MANY)
    for target in ("int8", "int16", "int64"):
        raises_internal_fault(cast_array, arr, target_dtype=target, rounding_mode=NE)
    empty = cast_array(np.zeros(MANY_EMPTY, np.int16), target_dtype="int8", rounding_mode=NE)
    assert empty.shape == MANY_EMPTY and empty.dtype == np.int8


@requires_numpy2
def test_into_of_more_than_32_axes():
    arr = np.arange(3, dtype=np.int16).reshape(MANY)
    for out in (np.full(MANY, 7, np.int8), np.full(MANY, 7, np.int16)):
        raises_internal_fault(cast_array_into, arr, out, rounding_mode=NE)
        assert (out == 7).all()
    # The axis limit is tested before the layout.
    read_only = np.full(MANY, 7, np.int8)
    read_only.flags.writeable = False
    raises_internal_fault(cast_array_into, arr, read_only, rounding_mode=NE)
    empty_out = np.zeros(MANY_EMPTY, np.int8)
    empty_out.flags.writeable = False
    assert cast_array_into(np.zeros(MANY_EMPTY, np.int16), empty_out, rounding_mode=NE) is None


def test_32_axes_are_converted():
    arr = np.array([-1, 2, 300], dtype=np.int16).reshape(LIMIT)
    result = cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="clamp")
    assert result.shape == LIMIT and result.ravel().tolist() == [0, 2, 255]
    out = np.zeros(LIMIT, np.uint8)
    cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode="wrap")
    assert out.ravel().tolist() == [255, 2, 44]
