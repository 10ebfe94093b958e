"""Repeated calls leave nothing behind: after a warm-up round, many more rounds of each call,
successful or failing on any of its paths, leave the interpreter's count of allocated blocks and
the reference counts of every object handed to the call where they were.

`run_all` runs every call path without pytest, for a leak check of native allocations under
the sanitizers (scripts/sanitize.sh)."""

import collections.abc
import gc
import sys

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import read_only
from support.borrow_registry import open_registry
from support.expect import is_internal_fault
from support.modes import NE
from support.np_compat import MANY_AXES, NUMPY2
from support.objects import fresh

ROUNDS = 200
# Blocks that may come and go between two measurements without any call leaking (free lists,
# caches of the interpreter); a leak of one block per call shows as ROUNDS.
TOLERANCE = 10
FAULT = "fault"


class Pairs:
    """An iterable of (source, target) pairs."""

    def __init__(self, pairs):
        self.pairs = pairs

    def __iter__(self):
        return iter(self.pairs)


class Items(collections.abc.Mapping):
    def __init__(self, pairs):
        self.pairs = dict(pairs)

    def __getitem__(self, key):
        return self.pairs[key]

    def __iter__(self):
        return iter(self.pairs)

    def __len__(self):
        return len(self.pairs)


class LenRaises(dict):
    def __len__(self):
        raise KeyError("length")


class ItemsRaise(dict):
    def items(self):
        raise LookupError("items")


class IterationRaises:
    def __iter__(self):
        yield (1, 2)
        raise RuntimeError("midway")


class IndexRaises:
    def __init__(self, exc_type):
        self.exc_type = exc_type

    def __index__(self):
        raise self.exc_type("index")


class NoText:
    """Converts to nothing, and neither its repr nor its str can be taken."""

    def __repr__(self):
        raise ValueError("no repr")

    def __str__(self):
        raise ValueError("no str")


class ClassRaises:
    """The instance test against Mapping raises (reported as unraisable); then iterable."""

    @property
    def __class__(self):
        raise ValueError("no class")

    def __iter__(self):
        return iter([(1, 2)])


class DtypeRaises(np.ndarray):
    @property
    def dtype(self):
        raise ValueError("no dtype")


def _panic_type():
    registry = open_registry()
    arr = np.zeros(1, np.int32)
    with registry.exclusive(arr):
        try:
            cast_array(arr, target_dtype="int8", rounding_mode=NE)
        except BaseException as exc:  # noqa: B902 - internal faults derive from BaseException
            assert is_internal_fault(exc)
            return type(exc)
    raise AssertionError("no internal fault")


def _nan_f64(n=40, at=17):
    arr = np.arange(n, dtype=np.float64)
    arr[at] = np.nan
    return arr


class Call:
    """One call of a module function with its own objects, and its expected outcome."""

    def __init__(self, name, outcome, arr, out=None, target="int8", rounding=NE, out_of_range=None,
                 entries=None, extra=None):
        self.name = name
        self.outcome = outcome  # None (success), an exception type, or FAULT
        self.arr = arr
        self.out = out
        self.kwargs = {"rounding_mode": fresh(rounding) if isinstance(rounding, str) else rounding}
        if out is None and target is not None:
            self.kwargs["target_dtype"] = fresh(target) if isinstance(target, str) else target
        if out_of_range is not None:
            self.kwargs["out_of_range_mode"] = fresh(out_of_range) if isinstance(out_of_range, str) else out_of_range
        if entries is not None:
            self.kwargs["scalar_map_entries"] = entries
        if extra:
            self.kwargs.update(extra)

    def objects(self):
        objs = [self.arr, *self.kwargs.values()]
        if self.out is not None:
            objs.append(self.out)
        # Exact type tests: some of the objects raise from their class or their dtype.
        entries = self.kwargs.get("scalar_map_entries")
        if type(entries) is list:
            objs.extend(entries)
        elif type(entries) is dict:
            objs.extend(entries.keys())
            objs.extend(entries.values())
        objs.extend(a.dtype for a in (self.arr, self.out) if type(a) is np.ndarray)
        return objs

    def once(self):
        try:
            if self.out is None:
                result = cast_array(self.arr, **self.kwargs)
            else:
                result = cast_array_into(self.arr, self.out, **self.kwargs)
        except BaseException as exc:  # noqa: B902 - internal faults derive from BaseException
            expected = self.outcome
            if expected is None or not (is_internal_fault(exc) if expected == FAULT else type(exc) is expected):
                raise
        else:
            assert self.outcome is None, f"{self.name}: no {self.outcome}"
            del result

    def rounds(self, count):
        for _ in range(count):
            self.once()


def calls(panic):
    """Every path of the two functions, each as (id, Call)."""
    i32 = np.array([1, -2, 300], np.int32)
    f64 = np.array([1.5, -2.5, 1e300, np.inf], np.float64)
    c = [
        # Successful calls, through the core, the direct pairs, the fast paths and the map.
        Call("alloc int", None, i32, out_of_range="clamp"),
        Call("into int", None, i32, out=np.zeros(3, np.int8), out_of_range="wrap"),
        Call("alloc direct pair", None, i32, target="int64"),
        Call("into direct pair", None, np.zeros(3, np.float32), out=np.zeros(3, np.float32)),
        Call("alloc float to int", None, f64, target="int16", rounding="towards-zero", out_of_range="clamp"),
        Call("alloc float to float", None, f64, target="float16", out_of_range="clamp"),
        Call("alloc int to float", None, i32, target="float16", rounding="nearest-away"),
        Call("into fast path u8", None, np.arange(40.0), out=np.zeros(40, np.uint8), out_of_range="clamp"),
        Call("into fast path i32", None, np.arange(40.0), out=np.zeros(40, np.int32)),
        Call("into fast path f32", None, np.arange(40.0), out=np.zeros(40, np.float32)),
        Call("alloc empty", None, np.zeros((2, 0), np.int32)),
        Call("into empty", None, np.zeros((0, 2), np.float64), out=np.zeros((0, 2), np.int8)),
        Call("alloc rank 0", None, np.array(7, np.int16), target="float64"),
        Call("alloc map dict", None, i32, entries={300: 5, -2: 0}),
        Call("alloc map list", None, f64, target="uint8", entries=[(np.inf, 1), (1e300, 2), (-2.5, 3)]),
        Call("alloc map mapping", None, i32, entries=Items({300: 7, -2: 1})),
        Call("alloc map iterable", None, i32, entries=Pairs([(300, 1), (-2, 1)])),
        Call("alloc map empty iterable", None, i32, entries=Pairs([]), out_of_range="clamp"),
        Call("alloc map NaN key", None, f64, target="float16", entries={float("nan"): 0.0, 1e300: 1.0}),
        Call("alloc map instance test raises", None, i32, out_of_range="clamp", entries=ClassRaises()),
        # Argument binding and mode texts.
        Call("missing keyword", TypeError, i32, target=None),
        Call("unknown keyword", TypeError, i32, extra={"colour": 1}),
        Call("target not text", TypeError, i32, target=5),
        Call("rounding not text", TypeError, i32, rounding=b"nearest-even"),
        Call("arr not an array", TypeError, [1, 2, 3]),
        Call("out not an array", TypeError, i32, out=[0, 0, 0]),
        Call("unknown rounding mode", ValueError, i32, rounding="nearest"),
        Call("unknown out-of-range mode", ValueError, i32, out_of_range="saturate"),
        Call("dtype attribute raises", ValueError, np.zeros(3, np.int32).view(DtypeRaises)),
        # Element types and dispatch.
        Call("unsupported source", TypeError, np.zeros(3, bool)),
        Call("unsupported target", TypeError, i32, target="int9"),
        Call("unsupported output", TypeError, i32, out=np.zeros(3, np.complex64)),
        Call("shape mismatch", ValueError, i32, out=np.zeros(4, np.int8)),
        # The input view.
        Call("input not row-major", ValueError, np.zeros((3, 2), np.int32).T),
        Call("input byte-swapped", TypeError, np.zeros(3, ">i4"), out=np.zeros(3, np.int8)),
        # The output tests.
        Call("output read-only", ValueError, i32, out=read_only(np.zeros(3, np.int8))),
        Call("output not row-major", ValueError, np.zeros((2, 3), np.int32),
             out=np.zeros((3, 2), np.int8).T),
        Call("output byte-swapped", TypeError, f64, out=np.zeros(4, ">f4")),
        # The scalar map.
        Call("map not iterable", TypeError, i32, entries=5),
        Call("map length raises", TypeError, i32, entries=LenRaises({1: 2})),
        Call("map items raise", LookupError, i32, entries=ItemsRaise({1: 2})),
        Call("map iteration raises", RuntimeError, i32, entries=IterationRaises()),
        Call("map entry of length 3", ValueError, i32, entries=[(1, 2, 3)]),
        Call("map entry not a pair", ValueError, i32, entries=[5]),
        Call("map source unconvertible", TypeError, i32, entries=[("a", 1)]),
        Call("map target unconvertible", TypeError, f64, target="float32", entries={1.5: "b"}),
        Call("map source out of range", TypeError, i32, entries=[(2**40, 1)]),
        Call("map index raises", TypeError, i32, entries=[(IndexRaises(TypeError), 1)]),
        # Conversion errors, in the element loops and the fast paths.
        Call("int out of range", ValueError, i32),
        Call("into int out of range", ValueError, i32, out=np.zeros(3, np.uint8)),
        Call("float NaN to int", ValueError, _nan_f64(), target="int16"),
        Call("float to int out of range", ValueError, f64, target="int8"),
        Call("float to float overflow", ValueError, f64, target="float32"),
        Call("fast path u8 NaN", ValueError, _nan_f64(), out=np.zeros(40, np.uint8), out_of_range="clamp"),
        Call("fast path i32 check", ValueError, np.full(40, 3e9), target="int32"),
        Call("fast path f32 overflow", ValueError, np.full(40, 1e39), out=np.zeros(40, np.float32)),
        # Internal faults.
        Call("map value without text", FAULT, i32, entries=[(NoText(), 1)]),
        Call("nested internal fault", FAULT, i32, entries=[(IndexRaises(panic), 1)]),
    ]
    if NUMPY2:
        c.append(Call("more than 32 axes", FAULT, i32.reshape(MANY_AXES), out=np.zeros(MANY_AXES, np.int8)))
    return [(call.name, call) for call in c]


def _borrow_conflict():
    """A call whose input another party holds for writing: an internal fault."""
    return open_registry(), Call("borrow conflict", FAULT, np.array([1, 2, 3], np.int32))


def _quiet_unraisable():
    previous = sys.unraisablehook
    sys.unraisablehook = lambda unraisable: None
    return previous


def _snapshot(objs):
    gc.collect()
    return sys.getallocatedblocks(), [sys.getrefcount(o) for o in objs]


def assert_flat(call, rounds=ROUNDS, attempts=3):
    """After a warm-up round, a round of `rounds` calls leaves every reference count as it
    was and the allocated blocks within the tolerance. The interpreter's own caches make the
    block count drift now and then, so the block test passes when one of a few rounds stays
    within it; a leak of one block per call exceeds it in every round."""
    objs = call.objects()
    call.rounds(rounds)
    growths = []
    for _ in range(attempts):
        blocks, counts = _snapshot(objs)
        call.rounds(rounds)
        after_blocks, after_counts = _snapshot(objs)
        assert after_counts == counts, f"{call.name}: reference counts {counts} -> {after_counts}"
        growths.append(after_blocks - blocks)
        if growths[-1] <= TOLERANCE:
            return
    raise AssertionError(f"{call.name}: allocated blocks grew by {growths} over rounds of {rounds} calls")


_PANIC = _panic_type()
CALLS = calls(_PANIC)


@pytest.fixture
def no_unraisable_output(monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", lambda unraisable: None)


@pytest.mark.parametrize("call", [c for _, c in CALLS], ids=[name for name, _ in CALLS])
def test_repeated_calls_leave_nothing(call, no_unraisable_output, capfd):
    assert_flat(call)
    capfd.readouterr()  # internal faults write their text to standard error


def test_repeated_borrow_conflicts_leave_nothing(capfd):
    registry, call = _borrow_conflict()
    with registry.exclusive(call.arr):
        assert_flat(call)
    registry.assert_not_borrowed(call.arr)
    capfd.readouterr()


def run_all(repeat):
    """Every call path `repeat` times (for the sanitizers' leak check at exit)."""
    previous = _quiet_unraisable()
    try:
        for _, call in CALLS:
            call.rounds(repeat)
        registry, call = _borrow_conflict()
        with registry.exclusive(call.arr):
            call.rounds(repeat)
    finally:
        sys.unraisablehook = previous
