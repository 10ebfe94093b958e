"""The caller's code that runs in the middle of a call cannot change what the call reads.

The scalar map is read after the input is held, and reading it runs the caller's own code (an
iterable's __iter__, a key's __index__ or __float__). That code may change the input's dtype,
shape or strides, replace or shrink its buffer, or call the module again on it. The call
converts exactly the elements held when it began, from the buffer held then: a new array takes
the shape the input has after the map was read, with zeros past the held elements; a buffer
that is no longer the held one is an internal fault and is not read. Afterwards no borrow of
the input remains and no reference is left behind.
"""

import sys

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.child_interpreter import run_child
from support.expect import raises_exactly
from support.modes import NE
from support.np_compat import NUMPY2

# The changes themselves are what NumPy 2 deprecates.
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

VALUES = [1, 2, 3, 4, 5, 6, 7, 8]  # exact in every element type

# (family, source, target, a narrower and a wider dtype of the source's kind)
PAIRS = [
    ("int-core", "int32", "int8", np.int16, np.int64),
    ("int-direct", "int32", "int64", np.int16, np.int64),
    ("float-to-int", "float32", "int16", np.float16, np.float64),
    ("int-to-float-core", "int32", "float16", np.int16, np.int64),
    ("int-to-float-direct", "int32", "float64", np.int16, np.int64),
    ("float-to-float-core", "float64", "float32", np.float32, np.complex128),
    ("float-to-float-direct", "float32", "float32", np.float16, np.float64),
]


class Changing:
    """A scalar map: an iterable, or the key of its one entry, that runs `change` once."""

    def __init__(self, change, where):
        self.change = change
        self.where = where
        self.nested = []

    def _run(self):
        if self.change is not None:
            change, self.change = self.change, None
            change(self)

    def __iter__(self):
        if self.where == "iter":
            self._run()
            return iter(())
        return iter([(self, 0)])

    # The key of the entry: a value that matches no element.
    def __index__(self):
        self._run()
        return 100

    def __float__(self):
        self._run()
        return 100.0


def call(form, arr, target, scalar_map):
    if form == "alloc":
        return cast_array(arr, target_dtype=target, rounding_mode=NE, scalar_map_entries=scalar_map)
    out = np.zeros(arr.shape, target)
    assert cast_array_into(arr, out, rounding_mode=NE, scalar_map_entries=scalar_map) is None
    return out


def expected_values(target, values, shape=None, size=None):
    """values as `target`, padded with zeros to `size` and given `shape`."""
    size = len(values) if size is None else size
    got = np.zeros(size, target)
    got[: min(size, len(values))] = values[:size]
    return got.reshape(shape if shape is not None else (size,))


def same_array(a, b):
    assert a.dtype == b.dtype and a.shape == b.shape
    assert a.tobytes() == b.tobytes()


# Each change: (id, change of the map's input, expected result for alloc, expected for into).
# The input always holds VALUES; `n` is 8. The into output always has the original shape.
def _narrow(m):
    m.arr.dtype = m.narrower


def _widen(m):
    m.arr.dtype = m.wider


def _reshape(m):
    m.arr.shape = (2, 4)


def _zero_strides(m):
    m.arr.strides = (0,)


def _reshape_and_strides(m):
    m.arr.shape = (2, 4)
    m.arr.strides = (0, m.arr.itemsize)


def _reenter(m):
    m.nested.append(cast_array(m.arr, target_dtype=m.target, rounding_mode=NE))
    out = np.zeros(m.arr.shape, m.target)
    cast_array_into(m.arr, out, rounding_mode=NE)
    m.nested.append(out)


def _strides_then_reenter(m):
    m.arr.strides = (0,)
    try:
        cast_array(m.arr, target_dtype=m.target, rounding_mode=NE)
    except ValueError as exc:  # the traceback is not kept: it would hold the frames' references
        m.nested.append(str(exc))


CHANGES = [
    ("narrow-dtype", _narrow, lambda t: expected_values(t, VALUES, size=16)),
    ("widen-dtype", _widen, lambda t: expected_values(t, VALUES, size=4)),
    ("reshape", _reshape, lambda t: expected_values(t, VALUES, shape=(2, 4))),
    ("zero-strides", _zero_strides, lambda t: expected_values(t, VALUES)),
    ("reshape-and-strides", _reshape_and_strides, lambda t: expected_values(t, VALUES, shape=(2, 4))),
    ("call-again", _reenter, lambda t: expected_values(t, VALUES)),
    ("strides-then-call-again", _strides_then_reenter, lambda t: expected_values(t, VALUES)),
]


@pytest.mark.parametrize("where", ["iter", "key"])
@pytest.mark.parametrize("form", ["alloc", "into"])
@pytest.mark.parametrize("change, expect_alloc", [c[1:] for c in CHANGES], ids=[c[0] for c in CHANGES])
@pytest.mark.parametrize("family, source, target, narrower, wider", PAIRS, ids=[p[0] for p in PAIRS])
def test_held_elements_are_converted(registry, family, source, target, narrower, wider, change,
                                     expect_alloc, form, where):
    arr = np.array(VALUES, source)
    whole = arr.view()  # the memory as it was held, for the registry check
    scalar_map = Changing(change, where)
    scalar_map.arr, scalar_map.target = arr, target
    scalar_map.narrower, scalar_map.wider = narrower, wider
    before = sys.getrefcount(arr), sys.getrefcount(scalar_map)

    result = call(form, arr, target, scalar_map)

    assert scalar_map.change is None  # the change did run
    same_array(result, expect_alloc(target) if form == "alloc" else expected_values(target, VALUES))
    if change is _reenter:
        same_array(scalar_map.nested[0], expected_values(target, VALUES))
        same_array(scalar_map.nested[1], expected_values(target, VALUES))
    if change is _strides_then_reenter:
        assert scalar_map.nested == ["Input array must be row-major (C-contiguous)"]
    scalar_map.nested.clear()
    assert (sys.getrefcount(arr), sys.getrefcount(scalar_map)) == before
    registry.assert_not_borrowed(arr)
    registry.assert_not_borrowed(whole)
    # The input, as it is now, can be read again as any other array.
    if arr.flags.c_contiguous and arr.dtype.name in ("int16", "int32", "int64", "float16", "float32", "float64"):
        cast_array(arr, target_dtype=arr.dtype.name, rounding_mode=NE)
        registry.assert_not_borrowed(arr)


def test_failure_after_a_change_releases_the_borrow(registry):
    # The conversion fails on a held element; the registry still gets back what it lent.
    arr = np.array([1, 2, 300, 4], np.int32)
    whole = arr.view()
    scalar_map = Changing(lambda m: setattr(arr, "strides", (0,)), "iter")
    raises_exactly(ValueError, "Value 300 out of range [-128, 127]. Set out_of_range='clamp' or "
                   "out_of_range='wrap' to handle this.",
                   cast_array, arr, target_dtype="int8", rounding_mode=NE, scalar_map_entries=scalar_map)
    registry.assert_not_borrowed(arr)
    registry.assert_not_borrowed(whole)


# --- changes that may leave the held pointer dangling: each in a child interpreter -------------

CHILD = r'''
import json, sys
import numpy as np
import _ossrel_rs
from support.borrow_registry import open_registry

registry = open_registry()
NE = "nearest-even"
source, target, form, change = sys.argv[1:5]
VALUES = list(range(1, 9))


def outcome(fn):
    try:
        result = fn()
    except BaseException as exc:
        cls = type(exc)
        return {"raised": f"{cls.__module__}.{cls.__qualname__}", "text": str(exc)}
    return {"result": None if result is None else [result.dtype.str, list(result.shape),
                                                   result.tobytes().hex()]}


class Map:
    def __init__(self, arr):
        self.arr = arr
        self.moved = None

    def __iter__(self):
        held = self.arr.ctypes.data
        if change == "resize-smaller":
            self.arr.resize((3,), refcheck=False)
        elif change == "resize-empty":
            self.arr.resize((0,), refcheck=False)
        elif change == "resize-larger":
            self.arr.resize((1 << 16,), refcheck=False)
        elif change == "assign-data":
            self.arr.data = bytearray(self.arr.nbytes)
        elif change == "narrow-large":
            self.arr.dtype = np.int16
        self.moved = self.arr.ctypes.data != held
        return iter(())


n = 1 << 22 if change == "narrow-large" else 8
arr = np.arange(1, n + 1, dtype=source)
# The memory as it was held: its key in the registry is computed from pointers only, so it can
# be asked about even after the buffer was freed.
whole = arr.view()
scalar_map = Map(arr)
before = sys.getrefcount(arr)
if form == "alloc":
    got = outcome(lambda: _ossrel_rs.cast_array(arr, target_dtype=target, rounding_mode=NE,
                                                 scalar_map_entries=scalar_map))
else:
    out = np.zeros(arr.shape, target)
    got = outcome(lambda: _ossrel_rs.cast_array_into(arr, out, rounding_mode=NE,
                                                      scalar_map_entries=scalar_map))
    if "result" in got:
        got["out"] = out[:8].tobytes().hex() if n > 8 else out.tobytes().hex()
if n > 8 and "result" in got and got["result"] is not None:
    got["result"][2] = got["result"][2][: 2 * 16 * np.dtype(target).itemsize]
got["moved"] = scalar_map.moved
got["leak"] = sys.getrefcount(arr) - before
registry.assert_not_borrowed(arr)
registry.assert_not_borrowed(whole)
got["after"] = _ossrel_rs.cast_array(np.array([5, 6], np.int32), target_dtype="int8", rounding_mode=NE).tolist()
print(json.dumps(got))
'''

FAULT = "pyo3_runtime.PanicException"
LOST = ("the input array's buffer was replaced or shrunk while the call held it; "
        "the borrow of the input is broken")
CHILD_PAIRS = [("int32", "int64"), ("int32", "int8"), ("float32", "int16"), ("int32", "float16"),
               ("float64", "float32")]


def changed_in_child(source, target, form, change):
    return run_child(CHILD, source, target, form, change)


def held_bytes(target, count, size):
    return expected_values(target, list(range(1, count + 1)), size=size).tobytes().hex()


@pytest.mark.parametrize("form", ["alloc", "into"])
@pytest.mark.parametrize("change", ["resize-smaller", "resize-empty"])
@pytest.mark.parametrize("source, target", CHILD_PAIRS)
def test_shrunk_buffer_is_an_internal_fault(source, target, form, change):
    got, stderr = changed_in_child(source, target, form, change)
    if change == "resize-empty" and form == "alloc":
        # The new array takes the input's new, empty shape: nothing is read or converted.
        assert got["result"] == [np.dtype(target).str, [0], ""]
    else:
        assert {k: got[k] for k in ("raised", "text")} == {"raised": FAULT, "text": LOST}
        assert "_ossrel_rs: internal fault: " + LOST in stderr
    assert got["leak"] == 0
    assert got["after"] == [5, 6]


@pytest.mark.parametrize("form", ["alloc", "into"])
@pytest.mark.parametrize("source, target", CHILD_PAIRS)
def test_grown_buffer(source, target, form):
    got, _ = changed_in_child(source, target, form, "resize-larger")
    if got["moved"]:
        assert {k: got[k] for k in ("raised", "text")} == {"raised": FAULT, "text": LOST}
    elif form == "alloc":
        # Grown in place: the held elements are converted, the rest of the new shape is zero.
        assert got["result"] == [np.dtype(target).str, [1 << 16], held_bytes(target, 8, 16)]
    else:
        assert got["out"] == held_bytes(target, 8, 8)
    assert got["leak"] == 0
    assert got["after"] == [5, 6]


@pytest.mark.skipif(NUMPY2, reason="only NumPy 1 lets an array's data be assigned")
@pytest.mark.parametrize("form", ["alloc", "into"])
def test_replaced_buffer_is_an_internal_fault(form):
    got, _ = changed_in_child("int32", "int64", form, "assign-data")
    assert got["moved"] is True
    assert {k: got[k] for k in ("raised", "text")} == {"raised": FAULT, "text": LOST}
    assert got["leak"] == 0


@pytest.mark.parametrize("form", ["alloc", "into"])
def test_large_input_narrowed_in_the_call(form):
    # int32 viewed as int16 has twice the elements: only the held 2**22 are read.
    got, _ = changed_in_child("int32", "int64", form, "narrow-large")
    if form == "alloc":
        assert got["result"][:2] == ["<i8", [1 << 23]]
        assert got["result"][2] == held_bytes("int64", 16, 16)
    else:
        assert got["out"] == held_bytes("int64", 8, 8)
    assert got["leak"] == 0


def test_alloc_tail_is_zero_past_the_held_elements():
    # The new array is created after the map is read; it may hold more elements than were held.
    for _ in range(50):
        arr = np.full(64, -1, np.int32)
        scalar_map = Changing(lambda m: setattr(arr, "dtype", np.int8), "iter")
        got = cast_array(arr, target_dtype="int64", rounding_mode=NE, scalar_map_entries=scalar_map)
        assert got.shape == (256,)
        assert got[:64].tolist() == [-1] * 64
        assert not got[64:].any()
        del got

