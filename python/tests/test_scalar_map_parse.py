"""Reading scalar_map_entries: the accepted shapes, the order of the steps, which error wins,
errors passed on unchanged or replaced, and what the caller's objects see."""

import collections
import collections.abc
import json
import operator
import subprocess
import sys

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.expect import raises_exactly, raises_internal_fault
from support.int_model import INT_PAIRS, int_range
from support.modes import NE
from support.paths import PATHS, cast, refuse

ITERABLE_START = "scalar_map_entries must be a dict or an iterable of (source, target) pairs"
ENTRY_SHAPE = "Each scalar_map entry must be a (source, target) pair"
MAPPING_LENGTH = "Failed to get length of scalar_map dict."


def raises_this(path, arr, target, entries, expected):
    """The cast must fail with the very exception object `expected`."""
    with pytest.raises(BaseException) as info:
        cast(path, arr, target, entries)
    assert info.value is expected


I8 = np.array([1, 3, 5, -128], np.int8)


def on_i8(path, entries):
    return cast(path, I8, "int8", entries).tolist()


# ---------------------------------------------------------------------------------------------
# Mapped values are stored unchanged, for every integer pair.

@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("source, target", INT_PAIRS)
def test_integer_pair_stores_targets_unchanged(path, source, target):
    smin, smax = int_range(source)
    dmin, dmax = int_range(target)
    arr = np.array([smax, 1, smin, smax], dtype=source)
    # The extremes of the source map to the far ends of the target, also where the value
    # itself would not fit and no out-of-range mode is given.
    for entries in ({smax: dmin, smin: dmax}, [(smax, dmin), (smin, dmax)]):
        assert cast(path, arr, target, entries).tolist() == [dmin, 1, dmax, dmin]


@pytest.mark.parametrize("path", PATHS)
def test_mapped_value_needs_no_mode(path):
    arr = np.array([300, 1], np.int32)
    assert cast(path, arr, "uint8", {300: 7}).tolist() == [7, 1]
    assert cast(path, arr, "uint8", {300: 7}, out_of_range_mode="wrap").tolist() == [7, 1]


# ---------------------------------------------------------------------------------------------
# Where the parse stands among the steps of a call.

class NeverRead:
    """An argument that fails the test when the parse reads it."""

    def __iter__(self):
        raise AssertionError("the scalar map was read")


@pytest.mark.parametrize("call", [
    lambda m: cast_array(I8, target_dtype="int8", rounding_mode="bogus", scalar_map_entries=m),
    lambda m: cast_array(I8, target_dtype="int8", rounding_mode=NE, out_of_range_mode="Clamp",
                         scalar_map_entries=m),
    lambda m: cast_array(I8, target_dtype="int7", rounding_mode=NE, scalar_map_entries=m),
    lambda m: cast_array(np.zeros((2, 2), np.int8, order="F"), target_dtype="int8", rounding_mode=NE,
                         scalar_map_entries=m),
    lambda m: cast_array_into(I8, np.zeros(3, np.int8), rounding_mode=NE, scalar_map_entries=m),
], ids=["rounding mode", "out-of-range mode", "target name", "input layout", "shapes"])
def test_map_not_read_after_earlier_refusal(call):
    with pytest.raises((TypeError, ValueError)):
        call(NeverRead())


@pytest.mark.parametrize("out", [
    np.zeros(4, ">i2"), np.zeros(4, np.int16)[::-1], np.zeros((4, 2), np.int16)[:, 0],
    np.frombuffer(bytes(8), np.int16),
], ids=["byte-swapped", "reversed", "strided", "read-only"])
def test_map_refused_before_output_is_examined(out):
    before = out.tobytes()
    raises_exactly(TypeError, ITERABLE_START, cast_array_into, I8, out, rounding_mode=NE, scalar_map_entries=5)
    assert out.tobytes() == before


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("shape", [(0,), (2, 0, 3)])
def test_map_read_for_empty_input(path, shape):
    refuse(path, np.zeros(shape, np.int32), "uint8", 5, raises_exactly, TypeError, ITERABLE_START)
    assert cast(path, np.zeros(shape, np.int32), "uint8", {1: 2}).shape == shape


# ---------------------------------------------------------------------------------------------
# Accepted shapes.

class Items(collections.abc.Mapping):
    """A Mapping whose length and items() are whatever the test says."""

    def __init__(self, items, length=None):
        self._items = items
        self._length = len(items) if length is None else length

    def __len__(self):
        return self._length

    def __getitem__(self, key):
        raise AssertionError("the parse never indexes a mapping")

    def __iter__(self):
        raise AssertionError("the parse never iterates a mapping")

    def items(self):
        return self._items


class OverridingDict(dict):
    def items(self):
        return [(1, 10), (3, 30)]


class KeysAndItems:
    """Offers keys(), items() and indexing but is no Mapping: it is iterated."""

    def keys(self):
        return [1]

    def items(self):
        return [(1, 99)]

    def __getitem__(self, key):
        return 99

    def __iter__(self):
        return iter([(3, 33)])


Pair = collections.namedtuple("Pair", "source target")


def _gen(pairs):
    yield from pairs


ACCEPTED_SHAPES = [
    ("dict", lambda: {1: 10, 3: 30}),
    ("dict subclass", lambda: collections.OrderedDict([(1, 10), (3, 30)])),
    ("dict subclass overriding items", OverridingDict),
    ("Mapping", lambda: Items([(1, 10), (3, 30)])),
    ("Mapping of named tuples", lambda: Items([Pair(1, 10), Pair(3, 30)])),
    ("Mapping reporting length 0", lambda: Items([(1, 10), (3, 30)], length=0)),
    ("Mapping reporting length 10", lambda: Items([(1, 10), (3, 30)], length=10)),
    ("Mapping whose items() is an iterator", lambda: Items(iter([(1, 10), (3, 30)]), length=2)),
    ("list of tuples", lambda: [(1, 10), (3, 30)]),
    ("list of lists", lambda: [[1, 10], [3, 30]]),
    ("tuple of tuples", lambda: ((1, 10), (3, 30))),
    ("generator", lambda: _gen([(1, 10), (3, 30)])),
    ("iterator", lambda: iter([(1, 10), (3, 30)])),
    ("array of rows", lambda: np.array([[1, 10], [3, 30]])),
    ("bytes entries", lambda: [b"\x01\x0a", bytes([3, 30])]),
    ("array entries", lambda: [np.array([1, 10]), np.array([3, 30], np.uint8)]),
    ("dict entries", lambda: [{0: 1, 1: 10}, {1: 30, 0: 3}]),
    ("range entries", lambda: [range(1, 11, 9), range(3, 31, 27)]),
]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("make", [m for _, m in ACCEPTED_SHAPES], ids=[n for n, _ in ACCEPTED_SHAPES])
def test_accepted_shapes(path, make):
    assert on_i8(path, make()) == [10, 30, 5, -128]


@pytest.mark.parametrize("path", PATHS)
def test_keys_and_items_without_mapping_is_iterated(path):
    assert on_i8(path, KeysAndItems()) == [1, 33, 5, -128]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("empty", [{}, [], (), iter([]), _gen([]), Items([]), collections.OrderedDict()],
                         ids=["dict", "list", "tuple", "iterator", "generator", "Mapping", "dict subclass"])
def test_empty_map_is_no_map(path, empty):
    assert on_i8(path, empty) == on_i8(path, None) == I8.tolist()


@pytest.mark.parametrize("path", PATHS)
def test_first_entry_wins_and_duplicates_stay(path):
    assert on_i8(path, [(1, 2), (1, 3)]) == [2, 3, 5, -128]
    assert on_i8(path, Items([(1, 2), (1, 3), (5, 6), (5, 7)])) == [2, 3, 6, -128]
    assert on_i8(path, {1: 2, 5: 6, -128: 127}) == [2, 3, 6, 127]


# ---------------------------------------------------------------------------------------------
# Refused arguments: messages, and replaced errors carry no chain.

class Outer:
    class Inner:
        pass


class NoLen:
    pass


collections.abc.Mapping.register(NoLen)


class Len:
    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length


class LenRaising(dict):
    items_called = False

    def __len__(self):
        raise KeyError("length")

    def items(self):
        LenRaising.items_called = True
        return []


REFUSALS = [
    # (id, argument, exception type, message)
    ("int", 5, TypeError, ITERABLE_START),
    ("True", True, TypeError, ITERABLE_START),
    ("float", 1.5, TypeError, ITERABLE_START),
    ("str", "ab", ValueError, ENTRY_SHAPE),
    ("three elements", [(1, 2, 3)], ValueError, ENTRY_SHAPE),
    ("one element", [(1,)], ValueError, ENTRY_SHAPE),
    ("int entry", [5], ValueError, ENTRY_SHAPE),
    ("None entry", [None], ValueError, ENTRY_SHAPE),
    ("dict entry of three", [{0: 1, 1: 2, 2: 3}], ValueError, ENTRY_SHAPE),
    ("negative length entry", [Len(-1)], ValueError, ENTRY_SHAPE),
    ("length 3 after a good one", [(1, 2), (1, 2, 3)], ValueError, ENTRY_SHAPE),
    ("str entry", ["ab"], TypeError,
     "scalar_map source value 'a': expected a value convertible to source dtype int8"),
    ("Mapping of lists", Items([[1, 2]]), TypeError, "'list' object cannot be converted to 'PyTuple'"),
    ("Mapping of ints", Items([1]), TypeError, "'int' object cannot be converted to 'PyTuple'"),
    ("Mapping of nested class", Items([Outer.Inner()]), TypeError,
     "'Outer.Inner' object cannot be converted to 'PyTuple'"),
    ("Mapping of triples", Items([(1, 2, 3)]), ValueError,
     "expected tuple of length 2, but got tuple of length 3"),
    ("Mapping of empty tuples", Items([()]), ValueError,
     "expected tuple of length 2, but got tuple of length 0"),
    ("Mapping, bad item after a good one", Items([(1, 2), (1,)]), ValueError,
     "expected tuple of length 2, but got tuple of length 1"),
    ("Mapping whose len raises", LenRaising(), TypeError, MAPPING_LENGTH),
    ("Mapping with negative len", Items([(1, 2)], length=-3), TypeError, MAPPING_LENGTH),
    ("registered Mapping without len", NoLen(), TypeError, MAPPING_LENGTH),
    ("key and value both fail", {300: 300}, TypeError,
     "scalar_map source value 300: expected a value convertible to source dtype int8"),
    ("value fails", [(1, 2), (3, "x")], TypeError,
     "scalar_map target value 'x': expected a value convertible to target dtype int8"),
]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("argument, exc_type, message", [r[1:] for r in REFUSALS],
                         ids=[r[0] for r in REFUSALS])
def test_refusals(path, argument, exc_type, message):
    refuse(path, I8, "int8", argument, raises_exactly, exc_type, message)


def test_items_not_called_when_length_fails():
    LenRaising.items_called = False
    refuse("alloc", I8, "int8", LenRaising(), raises_exactly, TypeError, MAPPING_LENGTH)
    assert not LenRaising.items_called


def _mapping_with(method, exc):
    def fail(self, *args):
        raise exc
    if method == "__len__":
        return type("M", (Items,), {"__len__": fail})([(1, 2)])
    return type("M", (Items,), {"items": fail})([(1, 2)])


def _iterable_with(method, exc):
    if method == "__iter__":
        class It:
            def __iter__(self):
                raise exc
        return It()
    if method == "__next__":
        def gen():
            yield (1, 10)
            raise exc
        return gen()

    class Entry:
        def __len__(self):
            if method == "entry __len__":
                raise exc
            return 2

        def __getitem__(self, index):
            if method == f"__getitem__({index})":
                raise exc
            return (1, 10)[index]
    return [(3, 30), Entry()]


# Replaced by the parse's own message whatever their type; passed on unchanged otherwise.
REPLACED = [
    ("mapping length", TypeError, MAPPING_LENGTH),
    ("iteration start", TypeError, ITERABLE_START),
    ("entry length", ValueError, ENTRY_SHAPE),
]
PASSED_ON = ["items", "next entry", "element 0", "element 1"]
SITE_ARGUMENT = {
    "mapping length": lambda e: _mapping_with("__len__", e),
    "items": lambda e: _mapping_with("items", e),
    "iteration start": lambda e: _iterable_with("__iter__", e),
    "next entry": lambda e: _iterable_with("__next__", e),
    "entry length": lambda e: _iterable_with("entry __len__", e),
    "element 0": lambda e: _iterable_with("__getitem__(0)", e),
    "element 1": lambda e: _iterable_with("__getitem__(1)", e),
}
CALLER_EXCEPTIONS = [ValueError, KeyError, KeyboardInterrupt, SystemExit, MemoryError, StopIteration]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("exc_class", CALLER_EXCEPTIONS)
@pytest.mark.parametrize("site, exc_type, message", REPLACED)
def test_replaced_errors_are_not_chained(path, exc_class, site, exc_type, message):
    argument = SITE_ARGUMENT[site](exc_class("own"))
    refuse(path, I8, "int8", argument, raises_exactly, exc_type, message)


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("site, exc_class", [
    (site, exc_class) for site in PASSED_ON for exc_class in CALLER_EXCEPTIONS
    # A generator turns a StopIteration of its own into RuntimeError.
    if not (site == "next entry" and exc_class is StopIteration)
])
def test_passed_on_errors_are_the_same_object(path, site, exc_class):
    exc = exc_class("own")
    raises_this(path, I8, "int8", SITE_ARGUMENT[site](exc), exc)


@pytest.mark.parametrize("path", PATHS)
def test_interpreter_lookup_errors_pass_unchanged(path):
    with pytest.raises(TypeError) as expected:
        operator.getitem({1, 2}, 0)
    refuse(path, I8, "int8", [{1, 2}], raises_exactly, TypeError, str(expected.value))
    with pytest.raises(KeyError) as info:
        cast(path, I8, "int8", [{5: 1, 6: 2}])
    assert info.value.args == (0,)


# ---------------------------------------------------------------------------------------------
# What the caller's objects see.

class Counting:
    """An iterator of entries that records how many were taken."""

    def __init__(self, entries):
        self.entries = list(entries)
        self.taken = 0

    def __iter__(self):
        return self

    def __next__(self):
        if self.taken == len(self.entries):
            raise StopIteration
        self.taken += 1
        return self.entries[self.taken - 1]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("bad, message", [
    ((300, 0), "scalar_map source value 300: expected a value convertible to source dtype int8"),
    ((0, 300), "scalar_map target value 300: expected a value convertible to target dtype int8"),
    ((1, 2, 3), ENTRY_SHAPE),
])
def test_iterator_stops_right_after_failing_entry(path, bad, message):
    entries = Counting([(1, 2), bad, (3, 4)])
    refuse(path, I8, "int8", entries, raises_exactly, type_of(message), message)
    assert entries.taken == 2
    assert next(entries) == (3, 4)


def type_of(message):
    return ValueError if message == ENTRY_SHAPE else TypeError


@pytest.mark.parametrize("path", PATHS)
def test_generator_stops_right_after_failing_entry(path):
    def gen():
        yield (1, 2)
        yield (300, 0)
        yield (3, 4)
    g = gen()
    refuse(path, I8, "int8", g, raises_exactly, TypeError,
           "scalar_map source value 300: expected a value convertible to source dtype int8")
    assert next(g) == (3, 4)


@pytest.mark.parametrize("path", PATHS)
def test_exhausted_after_success(path):
    entries = Counting([(1, 2)])
    assert on_i8(path, entries) == [2, 3, 5, -128]
    assert entries.taken == 1
    with pytest.raises(StopIteration):
        next(entries)


class Recorder:
    """An entry that logs its calls; element 1 raises."""

    def __init__(self, log, first):
        self.log = log
        self.first = first

    def __len__(self):
        self.log.append("len")
        return 2

    def __getitem__(self, index):
        self.log.append(index)
        if index == 1:
            raise LookupError("index 1")
        return self.first


class Index:
    def __init__(self, log, value):
        self.log = log
        self.value = value

    def __index__(self):
        self.log.append(("index", self.value))
        return self.value

    def __repr__(self):
        return f"Index({self.value})"


@pytest.mark.parametrize("path", PATHS)
def test_iterable_entry_steps_in_order(path):
    log = []
    # Element 0 fails: element 1 is never looked up.
    refuse(path, I8, "int8", [Recorder(log, Index(log, 300))], raises_exactly, TypeError,
           "scalar_map source value Index(300): expected a value convertible to source dtype int8")
    assert log == ["len", 0, ("index", 300)]
    # Element 0 converts before element 1 is looked up, whose error passes.
    log.clear()
    with pytest.raises(LookupError):
        cast(path, I8, "int8", [Recorder(log, Index(log, 1))])
    assert log == ["len", 0, ("index", 1), 1]


@pytest.mark.parametrize("path", PATHS)
def test_mapping_steps_in_order(path):
    log = []

    class Logged(Items):
        def __len__(self):
            log.append("len")
            return 2

        def items(self):
            log.append("items")
            return [(Index(log, 1), Index(log, 2)), (Index(log, 3), Index(log, 300))]

    refuse(path, I8, "int8", Logged([]), raises_exactly, TypeError,
           "scalar_map target value Index(300): expected a value convertible to target dtype int8")
    assert log == ["len", "items", ("index", 1), ("index", 2), ("index", 3), ("index", 300)]


@pytest.mark.parametrize("path", PATHS)
def test_empty_dict_still_asks_for_items(path):
    calls = []

    class Spy(dict):
        def items(self):
            calls.append("items")
            return super().items()

    assert on_i8(path, Spy()) == I8.tolist()
    assert calls == ["items"]


class Kept(collections.abc.Mapping):
    """items() returns a list that the mapping keeps; the first key's hook edits it."""

    def __init__(self, edit):
        self.edit = edit
        self.kept = []

        class Key:
            def __index__(key):
                self.edit(self.kept)
                return 1
        self.kept.extend([(Key(), 10), (3, 30)])

    def __len__(self):
        return 2

    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(())

    def items(self):
        return self.kept


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("edit, expected", [
    (lambda kept: kept.clear(), [10, 3, 5, -128]),
    (lambda kept: kept.append((5, 50)), [10, 30, 5, -128]),
    (lambda kept: kept.pop(), [10, 3, 5, -128]),
], ids=["cleared", "appended", "shrunk"])
def test_walk_bounded_by_items_list(path, edit, expected):
    assert on_i8(path, Kept(edit)) == expected


# ---------------------------------------------------------------------------------------------
# The mapping test.

class ClassRaises:
    """Its __class__ raises, so the instance test against Mapping raises."""

    def __init__(self, exc, entries=None):
        self.exc = exc
        self.entries = entries

    @property
    def __class__(self):
        raise self.exc

    def __iter__(self):
        if self.entries is None:
            raise AssertionError("not iterable")
        return iter(self.entries)


class NotIterableClassRaises(ClassRaises):
    __iter__ = None


@pytest.mark.parametrize("path", PATHS)
def test_failing_instance_test_is_unraisable_then_iterable(path, unraisable):
    exc = ValueError("no class")
    arg = ClassRaises(exc, [(1, 10)])
    assert on_i8(path, arg) == [10, 3, 5, -128]
    assert len(unraisable) == 1
    assert unraisable[0].exc_value is exc
    assert unraisable[0].object is arg


@pytest.mark.parametrize("path", PATHS)
def test_failing_instance_test_then_not_iterable(path, unraisable):
    exc = KeyboardInterrupt()
    arg = NotIterableClassRaises(exc)
    exc_out = refuse(path, I8, "int8", arg, raises_exactly, TypeError, ITERABLE_START)
    assert exc_out.__context__ is None
    assert [(u.exc_value, u.object) for u in unraisable] == [(exc, arg)]


@pytest.mark.parametrize("argument", [None, {1: 2}, collections.OrderedDict(), [(1, 2)], Items([])],
                         ids=["none", "dict", "dict subclass", "list", "Mapping"])
def test_ordinary_arguments_report_nothing(argument, unraisable):
    cast("alloc", I8, "int8", argument)
    assert unraisable == []


# collections.abc.Mapping is fetched on first need and then held; a failed fetch holds nothing.
# This runs in a new interpreter, where the class has not been fetched yet.
FETCH_SCRIPT = r"""
import json, sys, types
import numpy as np
from _ossrel_rs import cast_array

reports = []
sys.unraisablehook = reports.append
real = sys.modules["collections.abc"]
arr = np.array([1, 2], np.int8)
log = []

def step(name, entries):
    before = len(reports)
    result = cast_array(arr, target_dtype="int8", rounding_mode="nearest-even",
                        scalar_map_entries=entries).tolist()
    new = [(type(r.exc_value).__name__, str(r.exc_value), r.object is entries) for r in reports[before:]]
    log.append([name, result, new])

sys.modules["collections.abc"] = None
step("none", None)
step("dict", {1: 5})
step("dict subclass", type("D", (dict,), {})({1: 6}))
step("list", [(1, 7)])
step("list again", [(1, 8)])
sys.modules["collections.abc"] = types.SimpleNamespace(Mapping=5)
step("not a type", [(2, 9)])
sys.modules["collections.abc"] = real
step("restored", [(2, 10)])
sys.modules["collections.abc"] = None
step("held", [(2, 11)])
sys.modules["collections.abc"] = real
print(json.dumps(log))
"""


def test_mapping_class_fetch():
    done = subprocess.run([sys.executable, "-c", FETCH_SCRIPT], capture_output=True, text=True, check=True)
    halted = "import of collections.abc halted; None in sys.modules"
    assert json.loads(done.stdout) == [
        ["none", [1, 2], []],
        ["dict", [5, 2], []],
        ["dict subclass", [6, 2], []],
        ["list", [7, 2], [["ModuleNotFoundError", halted, True]]],
        ["list again", [8, 2], [["ModuleNotFoundError", halted, True]]],
        ["not a type", [1, 9], [["TypeError", "'int' object cannot be converted to 'PyType'", True]]],
        ["restored", [1, 10], []],
        ["held", [1, 11], []],
    ]


# ---------------------------------------------------------------------------------------------
# The size of the reservation.

class Claims(dict):
    """A dict subclass whose reported length is made up; its items are real."""

    def __init__(self, length, items=()):
        super().__init__(items)
        self.length = length
        self.items_called = False

    def __len__(self):
        return self.length

    def items(self):
        self.items_called = True
        return super().items()


ENTRY_BYTES = {"int8": 2, "uint16": 4, "int32": 8, "int64": 16, "uint64": 16}
LIMIT = sys.maxsize


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("dtype", ENTRY_BYTES)
def test_reservation_overflow_is_fault_before_items(path, dtype):
    arr = np.array([1, 2], dtype)
    for length in (LIMIT, LIMIT // ENTRY_BYTES[dtype] + 1):
        claims = Claims(length, {1: 2})
        refuse(path, arr, dtype, claims, raises_internal_fault)
        assert not claims.items_called


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("dtype", ENTRY_BYTES)
def test_huge_reported_length_still_parses(path, dtype):
    arr = np.array([1, 2], dtype)
    for length in (LIMIT // ENTRY_BYTES[dtype], LIMIT // 64, 2**40, 10**6):
        claims = Claims(length, {1: 2})
        assert cast(path, arr, dtype, claims).tolist() == [2, 2]
        assert claims.items_called


# ---------------------------------------------------------------------------------------------
# An internal fault raised by the caller's own code becomes a fault of this call.

@pytest.fixture(scope="module")
def fault_type():
    exc = raises_internal_fault(cast_array, I8, target_dtype="int8", rounding_mode=NE,
                                scalar_map_entries=Claims(LIMIT))
    return type(exc)


def test_fault_type(fault_type):
    assert fault_type.__module__ == "pyo3_runtime"
    assert fault_type.__qualname__ == "PanicException"
    assert issubclass(fault_type, BaseException)
    assert not issubclass(fault_type, Exception)


class IndexFaults:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class ReprFaults(IndexFaults):
    def __index__(self):
        raise TypeError("not an index")

    def __repr__(self):
        raise self.exc


NESTED_SITES = {
    **SITE_ARGUMENT,
    "instance test": lambda e: ClassRaises(e, [(1, 2)]),
    "source value": lambda e: [(IndexFaults(e), 1)],
    "target value": lambda e: {1: IndexFaults(e)},
    "repr of a refused value": lambda e: [(ReprFaults(e), 1)],
}


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("site", NESTED_SITES)
def test_nested_fault_is_fault_of_this_call(path, site, fault_type, unraisable, capfd):
    raised = fault_type("nested fault text")
    argument = NESTED_SITES[site](raised)
    exc = refuse(path, I8, "int8", argument, raises_internal_fault)
    assert exc is not raised
    assert exc.args == ("nested fault text",)
    assert unraisable == []
    err = capfd.readouterr().err
    assert "Traceback" in err and "nested fault text" in err


def test_still_usable_after_faults(fault_type):
    assert on_i8("alloc", {1: 2}) == [2, 3, 5, -128]


# ---------------------------------------------------------------------------------------------
# No reference is kept or lost, whichever way the parse ends.

class Tracked:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if self.value is None:
            raise ValueError("no index")
        return self.value

    def __repr__(self):
        return "Tracked"


REFERENCE_CASES = {
    "list": lambda k, v: [[k, v]],
    "dict": lambda k, v: {k: v},
    "Mapping": lambda k, v: Items([(k, v)]),
    "generator": lambda k, v: (p for p in [(k, v)]),
    "bad key": lambda k, v: [(Tracked(None), v), (k, v)],
    "bad value": lambda k, v: {k: Tracked(None), 2: v},
    "bad entry": lambda k, v: [(k, v), (k, v, k)],
    "bad item": lambda k, v: Items([(k, v), [k, v]]),
    "element raises": lambda k, v: [(k, v), Recorder([], k)],
    "overflow": lambda k, v: Claims(LIMIT, {k: v}),
}


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("case", REFERENCE_CASES)
def test_references_balanced(path, case):
    key, value = Tracked(1), Tracked(2)
    argument = REFERENCE_CASES[case](key, value)
    tracked = [key, value, argument]
    before = [sys.getrefcount(o) for o in tracked]
    for _ in range(3):
        try:
            cast(path, I8, "int8", argument)
        except BaseException:
            pass
        if case == "generator":
            argument = tracked[2] = REFERENCE_CASES[case](key, value)
    assert [sys.getrefcount(o) for o in tracked] == before
