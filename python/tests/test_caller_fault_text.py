"""An internal fault raised by the caller's code inside a call keeps its exact text.

The caller's objects can raise the module's own internal-fault exception (for instance one it
caught from an earlier call). The call then ends with that fault: the exception type is the
module's, and its text is the string form of the caller's exception, unchanged, lone
surrogates included; when that string form cannot be obtained, a fixed text. The type is
recognised by identity only: renaming it changes nothing.
"""

import collections.abc

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.modes import NE
from support.objects import HookRaises

UNPRINTABLE = "an internal fault whose text could not be obtained"


@pytest.fixture(scope="module")
def panic(registry):
    arr = np.arange(4, dtype=np.int32)
    with registry.exclusive(arr):
        try:
            cast_array(arr, target_dtype="int8", rounding_mode=NE)
        except BaseException as exc:  # noqa: BLE001 - the internal fault is what is wanted
            return type(exc)
    raise AssertionError("no internal fault was raised")


class RaisingIterable:
    def __init__(self, exc):
        self.exc = exc

    def __iter__(self):
        raise self.exc


class RaisingMapping(collections.abc.Mapping):
    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(())

    def __len__(self):
        return 1

    def items(self):
        raise self.exc


# (id, scalar map raising exc, source dtype)
PLACES = [
    ("iter", RaisingIterable, "int32"),
    ("int-key", lambda exc: [(HookRaises(exc), 0)], "int32"),
    ("float-key", lambda exc: [(HookRaises(exc), 0)], "float64"),
    ("int-target", lambda exc: [(1, HookRaises(exc))], "int16"),
    ("mapping-items", RaisingMapping, "int32"),
]

TEXTS = ["x\udc80y", "\udcff", "\ud800\udc00", "plain", "", "accents é ü and \U0001F600", "a\x00b",
         "back\\slash"]


def call(form, source, scalar_map):
    arr = np.arange(3, dtype=source)
    if form == "alloc":
        return cast_array(arr, target_dtype="int64", rounding_mode=NE, scalar_map_entries=scalar_map)
    return cast_array_into(arr, np.zeros(3, np.int64), rounding_mode=NE, scalar_map_entries=scalar_map)


def fault_of(form, source, scalar_map):
    with pytest.raises(BaseException) as info:
        call(form, source, scalar_map)
    return info.value


@pytest.mark.parametrize("form", ["alloc", "into"])
@pytest.mark.parametrize("text", TEXTS, ids=[ascii(t) for t in TEXTS])
@pytest.mark.parametrize("make_map, source", [p[1:] for p in PLACES], ids=[p[0] for p in PLACES])
def test_fault_text_is_kept_exactly(panic, make_map, source, text, form):
    exc = fault_of(form, source, make_map(panic(text)))
    assert type(exc) is panic
    assert exc.args == (text,)
    assert str(exc) == text


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


class NotText:
    def __str__(self):
        return 5


@pytest.mark.parametrize("form", ["alloc", "into"])
@pytest.mark.parametrize("argument", [Unprintable(), NotText()], ids=["str-raises", "str-not-a-str"])
@pytest.mark.parametrize("make_map, source", [p[1:] for p in PLACES], ids=[p[0] for p in PLACES])
def test_fault_without_text_gets_a_fixed_one(panic, make_map, source, argument, form):
    exc = fault_of(form, source, make_map(panic(argument)))
    assert type(exc) is panic
    assert exc.args == (UNPRINTABLE,)


def test_subclass_of_the_fault_type_is_the_callers_own(panic):
    class Own(panic):
        pass

    raised = Own("own text")
    exc = fault_of("alloc", "int32", RaisingMapping(raised))
    assert exc is raised


@pytest.mark.parametrize("name", [None, "Renamed", "ValueError"])
def test_fault_type_is_recognised_by_identity(panic, capfd, name):
    original = panic.__name__, panic.__qualname__
    try:
        if name is not None:
            panic.__name__ = panic.__qualname__ = name
        capfd.readouterr()
        exc = fault_of("alloc", "int32", RaisingIterable(panic("identity fault")))
        err = capfd.readouterr().err
    finally:
        panic.__name__, panic.__qualname__ = original
    assert type(exc) is panic
    assert exc.args == ("identity fault",)
    # The caller's fault is written to standard error with its traceback, then the call's own
    # report of it.
    assert "Traceback (most recent call last)" in err
    assert err.count("identity fault") == 2
    assert err.endswith("_ossrel_rs: internal fault: identity fault\n")
