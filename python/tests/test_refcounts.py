"""Reference counts of every argument are unchanged after successful and failing calls."""

import sys

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import read_only
from support.expect import is_internal_fault
from support.np_compat import MANY_AXES, requires_numpy2
from support.objects import fresh

REPEAT = 100


class EmptyPairs:
    """A scalar map given as an iterable that yields no pair."""

    def __iter__(self):
        return iter(())


def objects(arr=None, out=None, target="int8", rounding="nearest-even", out_of_range="clamp"):
    return {
        "arr": np.array([1, -2, 300], np.int32) if arr is None else arr,
        "out": np.zeros(3, np.int8) if out is None else out,
        "target": fresh(target),
        "rounding": fresh(rounding),
        "out_of_range": None if out_of_range is None else fresh(out_of_range),
        "map": EmptyPairs(),
    }


def alloc(o):
    return cast_array(o["arr"], target_dtype=o["target"], rounding_mode=o["rounding"],
                      out_of_range_mode=o["out_of_range"], scalar_map_entries=o["map"])


def into(o):
    return cast_array_into(o["arr"], o["out"], rounding_mode=o["rounding"],
                           out_of_range_mode=o["out_of_range"], scalar_map_entries=o["map"])


def missing_keyword(o):
    return cast_array(o["arr"], rounding_mode=o["rounding"], scalar_map_entries=o["map"])


# (id, call, objects, expected outcome: None for success, else the exception type)
SCENARIOS = [
    ("alloc-success", alloc, lambda: objects(), None),
    ("into-success", into, lambda: objects(), None),
    ("alloc-direct-pair", alloc, lambda: objects(target="int64"), None),
    ("into-direct-pair", into, lambda: objects(out=np.zeros(3, np.int64)), None),
    ("alloc-empty", alloc, lambda: objects(arr=np.zeros((2, 0), np.int32)), None),
    ("into-empty", into, lambda: objects(arr=np.zeros((0, 2), np.int32), out=np.zeros((0, 2), np.int8)), None),
    ("alloc-conversion-error", alloc, lambda: objects(out_of_range=None), ValueError),
    ("into-conversion-error", into, lambda: objects(out_of_range=None), ValueError),
    ("into-read-only-output", into, lambda: objects(out=read_only(np.zeros(3, np.int8))), ValueError),
    ("into-swapped-output", into, lambda: objects(out=np.zeros(3, ">i2")), TypeError),
    ("into-shape-mismatch", into, lambda: objects(out=np.zeros(4, np.int8)), ValueError),
    ("input-not-row-major", alloc, lambda: objects(arr=np.zeros((3, 2), np.int32).T), ValueError),
    ("input-swapped", into, lambda: objects(arr=np.zeros(3, ">i4")), TypeError),
    ("unknown-rounding-mode", alloc, lambda: objects(rounding="nearest"), ValueError),
    ("unknown-out-of-range-mode", into, lambda: objects(out_of_range="saturate"), ValueError),
    ("unsupported-target", alloc, lambda: objects(target="int9"), TypeError),
    ("unsupported-source", alloc, lambda: objects(arr=np.zeros(3, bool)), TypeError),
    ("unsupported-output", into, lambda: objects(out=np.zeros(3, np.complex64)), TypeError),
    ("missing-keyword", missing_keyword, lambda: objects(), TypeError),
    ("input-not-an-array", alloc, lambda: objects(arr=EmptyPairs()), TypeError),
]


def _run(call, objs, outcome):
    for _ in range(REPEAT):
        try:
            result = call(objs)
        except BaseException as exc:  # noqa: B902 - internal faults derive from BaseException
            if outcome is None or not (type(exc) is outcome or (outcome == "fault" and is_internal_fault(exc))):
                raise
        else:
            assert outcome is None
            del result


def _check(call, objs, outcome, extra=()):
    tracked = list(objs.values()) + list(extra)
    # One call first, so that values obtained once per process are already in place.
    _run(call, objs, outcome)
    before = [sys.getrefcount(o) for o in tracked]
    _run(call, objs, outcome)
    after = [sys.getrefcount(o) for o in tracked]
    assert after == before, dict(zip(list(objs) + [repr(e) for e in extra], zip(before, after)))


@pytest.mark.parametrize("call, make, outcome", [s[1:] for s in SCENARIOS], ids=[s[0] for s in SCENARIOS])
def test_reference_counts(call, make, outcome):
    objs = make()
    descriptors = {np.dtype(objs["arr"].dtype.name) if isinstance(objs["arr"], np.ndarray) else np.dtype(np.int32),
                   np.dtype(np.int8), np.dtype(np.int64)}
    _check(call, objs, outcome, extra=sorted(descriptors, key=str))


def test_reference_counts_after_a_borrow_conflict(registry):
    objs = objects()
    with registry.exclusive(objs["arr"]):
        _check(alloc, objs, "fault")
        _check(into, objs, "fault")
    registry.assert_not_borrowed(objs["arr"])


@requires_numpy2
def test_reference_counts_after_an_axis_limit_fault():
    objs = objects(arr=np.array([1, -2, 300], np.int32).reshape(MANY_AXES), out=np.zeros(MANY_AXES, np.int8))
    _check(alloc, objs, "fault")
    _check(into, objs, "fault")
