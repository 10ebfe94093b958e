"""The shared borrow registry: inputs are read under a shared borrow that never outlives a call."""

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.borrow_registry import ATTRIBUTE, CAPSULE_NAME
from support.expect import raises_internal_fault
from support.arrays import read_only
from support.modes import NE
from support.np_compat import MULTIARRAY


def alloc(arr, **kwargs):
    return cast_array(arr, target_dtype="int16", rounding_mode=NE, **kwargs)


def test_registry_capsule(registry):
    capsule = getattr(MULTIARRAY, ATTRIBUTE)
    assert type(capsule).__name__ == "PyCapsule"
    assert registry.name == CAPSULE_NAME
    assert registry.record.version == 1


def test_exclusive_borrow_of_input_is_an_internal_fault(registry):
    arr = np.arange(6, dtype=np.int32)
    out = np.full(6, 7, np.int16)
    with registry.exclusive(arr):
        raises_internal_fault(alloc, arr)
        raises_internal_fault(cast_array_into, arr, out, rounding_mode=NE)
        assert out.tolist() == [7] * 6
    assert alloc(arr).tolist() == list(range(6))
    cast_array_into(arr, out, rounding_mode=NE)
    assert out.tolist() == list(range(6))
    registry.assert_not_borrowed(arr)


def _frombuffer_pair():
    whole = np.frombuffer(bytearray(40), dtype=np.int32)
    return whole, whole[2:4]


# (id, maker of (held, arr): `held` is borrowed exclusively, then `arr` is cast, conflict expected?)
CONFLICTS = [
    ("same-array", lambda: (lambda a: (a, a))(np.arange(10, dtype=np.int32)), True),
    ("overlapping-views", lambda: (lambda b: (b[2:6], b[5:8]))(np.arange(10, dtype=np.int32)), True),
    ("adjacent-views", lambda: (lambda b: (b[2:6], b[6:8]))(np.arange(10, dtype=np.int32)), False),
    ("view-of-a-view", lambda: (lambda b: (b[4:5], b[1:9][2:6]))(np.arange(10, dtype=np.int32)), True),
    ("whole-and-part", lambda: (lambda b: (b, b[9:]))(np.arange(10, dtype=np.int32)), True),
    ("strided-range-covers-gap", lambda: (lambda b: (b[::2], b[1:2]))(np.arange(10, dtype=np.int32)), True),
    ("reversed-view", lambda: (lambda b: (b[::-1], b[0:1]))(np.arange(10, dtype=np.int32)), True),
    ("reshaped-view", lambda: (lambda b: (b.reshape(2, 5)[1], b[5:6]))(np.arange(10, dtype=np.int32)), True),
    ("other-dtype-view", lambda: (lambda b: (b.view(np.int8)[7:8], b[1:2]))(np.arange(10, dtype=np.int32)), True),
    ("other-dtype-view-disjoint", lambda: (lambda b: (b.view(np.int8)[8:12], b[1:2]))(np.arange(10, dtype=np.int32)), False),
    ("buffer-owner", _frombuffer_pair, True),
    ("unrelated-equal-array", lambda: (np.arange(10, dtype=np.int32), np.arange(10, dtype=np.int32)), False),
    ("empty-input", lambda: (lambda b: (b, b[3:3]))(np.arange(10, dtype=np.int32)), False),
    ("empty-held", lambda: (lambda b: (b[3:3], b))(np.arange(10, dtype=np.int32)), False),
]


@pytest.mark.parametrize("make, conflict", [c[1:] for c in CONFLICTS], ids=[c[0] for c in CONFLICTS])
def test_conflicts_by_owner_and_memory_range(registry, make, conflict):
    held, arr = make()
    with registry.exclusive(held):
        if conflict:
            raises_internal_fault(alloc, arr)
        else:
            assert alloc(arr).tolist() == arr.tolist()
    registry.assert_not_borrowed(arr)


def test_output_is_never_registered(registry):
    arr = np.array([1, 2, 3], np.int32)
    out = np.zeros(3, np.int8)
    with registry.exclusive(out):
        cast_array_into(arr, out, rounding_mode=NE)
    assert out.tolist() == [1, 2, 3]
    # An input and an output of the same memory never conflict within the module.
    shared = np.frombuffer(bytearray(12), dtype=np.int32)
    cast_array_into(shared, shared, rounding_mode=NE)
    registry.assert_not_borrowed(shared)


def test_shared_borrow_of_another_party_is_compatible(registry):
    arr = np.array([1, 2, 3], np.int32)
    assert registry.acquire_shared(arr) == 0
    assert registry.acquire_shared(arr) == 0
    try:
        assert alloc(arr).tolist() == [1, 2, 3]
        assert registry.acquire_exclusive(arr) == 1
        assert registry.release_shared(arr) == 0
        assert registry.acquire_exclusive(arr) == 1
    finally:
        assert registry.release_shared(arr) == 0
    registry.assert_not_borrowed(arr)


def test_release_of_a_borrow_not_held(registry):
    arr = np.array([1, 2, 3], np.int32)
    with pytest.raises(RuntimeError):
        registry.release_exclusive(arr)
    with pytest.raises(RuntimeError):
        registry.release_shared(arr)


# Calls that end in every way: (id, call of arr)
CALLS = [
    ("alloc-success", lambda a: alloc(a)),
    ("into-success", lambda a: cast_array_into(a, np.zeros(a.shape, np.int16), rounding_mode=NE)),
    ("alloc-conversion-error", lambda a: cast_array(a, target_dtype="int8", rounding_mode=NE)),
    ("into-conversion-error", lambda a: cast_array_into(a, np.zeros(a.shape, np.uint8), rounding_mode=NE)),
    ("into-read-only-output", lambda a: cast_array_into(a, read_only(np.zeros(a.shape, np.int8)), rounding_mode=NE)),
    ("into-strided-output", lambda a: cast_array_into(a, np.zeros(2 * a.size, np.int8)[::2], rounding_mode=NE)),
    ("into-swapped-output", lambda a: cast_array_into(a, np.zeros(a.shape, ">i4"), rounding_mode=NE)),
    ("into-shape-mismatch", lambda a: cast_array_into(a, np.zeros(a.size + 1, np.int8), rounding_mode=NE)),
    ("unknown-mode", lambda a: cast_array(a, target_dtype="int8", rounding_mode="up")),
    ("unsupported-target", lambda a: cast_array(a, target_dtype="int4", rounding_mode=NE)),
    ("alloc-clamp", lambda a: cast_array(a, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="clamp")),
]


@pytest.mark.parametrize("call", [c[1] for c in CALLS], ids=[c[0] for c in CALLS])
def test_no_borrow_remains_after_a_call(registry, call):
    arr = np.array([1, -2, 300, 4], np.int32)
    try:
        call(arr)
    except (TypeError, ValueError):
        pass
    registry.assert_not_borrowed(arr)


def test_no_borrow_remains_after_a_borrow_conflict(registry):
    base = np.arange(10, dtype=np.int32)
    arr = base[2:8]
    with registry.exclusive(base[:3]):
        raises_internal_fault(alloc, arr)
    registry.assert_not_borrowed(arr)
    registry.assert_not_borrowed(base)

