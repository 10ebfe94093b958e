"""The errors for a scalar-map key or value that does not convert: the value's text (repr,
the str fallback, lone surrogates, unprintable texts), the element type's name, and that the
conversion's own exception is dropped."""

import numpy as np
import pytest

from _ossrel_rs import cast_array
from support.expect import raises_exactly, raises_internal_fault
from support.int_model import ALL_NAMES
from support.modes import NE
from support.objects import HookRaises
from support.paths import PATHS, refuse

FORMS = ("mapping", "iterable")


def source_message(text, dtype):
    return f"scalar_map source value {text}: expected a value convertible to source dtype {dtype}"


def target_message(text, dtype):
    return f"scalar_map target value {text}: expected a value convertible to target dtype {dtype}"


def entries_of(form, key, value):
    return {key: value} if form == "mapping" else [(key, value)]


def bad_key(path, form, dtype, key, check, *check_args):
    return refuse(path, np.zeros(2, dtype), "int8", entries_of(form, key, 1), check, *check_args)


def bad_value(path, form, dtype, value, check, *check_args):
    return refuse(path, np.zeros(2, np.int8), dtype, entries_of(form, 0, value), check, *check_args)


# ---------------------------------------------------------------------------------------------
# The texts.

class Shown:
    """An object that converts to nothing, with a repr and a str of the test's choosing."""

    def __init__(self, repr_result=None, str_result=None, repr_exc=None):
        self.repr_result = repr_result
        self.str_result = str_result
        self.repr_exc = repr_exc

    def __repr__(self):
        if self.repr_exc is not None:
            raise self.repr_exc
        return self.repr_result

    def __str__(self):
        return self.str_result

    __hash__ = object.__hash__


class OtherStr(str):
    """A str subclass whose str() is another text."""

    def __str__(self):
        return "other"


TEXTS = [
    # (refused object, the text the message shows)
    (2**40, "1099511627776"),
    (-1.5, "-1.5"),
    ("a", "'a'"),
    ("it's", "\"it's\""),
    ("1.5", "'1.5'"),
    (None, "None"),
    (b"5", "b'5'"),
    (1 + 0j, "(1+0j)"),
    (Shown("R", "S"), "R"),
    (Shown(str_result="S", repr_exc=ValueError("repr")), "S"),
    (Shown(str_result="S", repr_exc=KeyboardInterrupt()), "S"),
    (Shown(str_result="S", repr_exc=SystemExit(1)), "S"),
    (Shown("x\ud800y"), "x\ufffd\ufffd\ufffdy"),
    (Shown("\udfff\ud800"), "\ufffd" * 6),
    (Shown("\ud83d\ude00"), "\ufffd" * 6),  # a surrogate pair in a str stays two lone surrogates
    (Shown(str_result="<\udc80>", repr_exc=ValueError()), "<\ufffd\ufffd\ufffd>"),
    (Shown("\U0001f600 \u00e9 \u4e2d"), "\U0001f600 \u00e9 \u4e2d"),
    (Shown(OtherStr("own")), "other"),
    (Shown(""), ""),
    (Shown("r" * 10_000), "r" * 10_000),
    (Shown("{} {0} %s"), "{} {0} %s"),
    (Shown("nul\x00inside"), "nul\x00inside"),
]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("obj, text", TEXTS, ids=[f"text{i}" for i in range(len(TEXTS))])
def test_value_text(path, form, obj, text, unraisable):
    bad_key(path, form, "int32", obj, raises_exactly, TypeError, source_message(text, "int32"))
    bad_value(path, form, "uint32", obj, raises_exactly, TypeError, target_message(text, "uint32"))
    assert unraisable == []


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("dtype", ALL_NAMES)
def test_dtype_names(path, form, dtype):
    bad_key(path, form, dtype, "a", raises_exactly, TypeError, source_message("'a'", dtype))
    bad_value(path, form, dtype, "a", raises_exactly, TypeError, target_message("'a'", dtype))


SIDE_EXAMPLES = [
    ("source", "int8", 300, "300"),
    ("source", "int32", 2147483648, "2147483648"),
    ("source", "int32", "a", "'a'"),
    ("target", "uint32", -1, "-1"),
    ("target", "float64", "1.5", "'1.5'"),
    ("target", "float16", None, "None"),
    ("target", "float32", "a", "'a'"),
    ("source", "int16", "a", "'a'"),
]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("side, dtype, obj, text", SIDE_EXAMPLES)
def test_range_and_kind_failures_alike(path, form, side, dtype, obj, text):
    if side == "source":
        bad_key(path, form, dtype, obj, raises_exactly, TypeError, source_message(text, dtype))
    else:
        bad_value(path, form, dtype, obj, raises_exactly, TypeError, target_message(text, dtype))


@pytest.mark.parametrize("path", PATHS)
def test_two_character_str_entry(path):
    refuse(path, np.zeros(1, np.int32), "int8", ["ab"], raises_exactly, TypeError,
         source_message("'a'", "int32"))


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("form", FORMS)
def test_key_reported_before_value(path, form):
    refuse(path, np.zeros(1, np.int8), "uint8", entries_of(form, "k", -1), raises_exactly, TypeError,
         source_message("'k'", "int8"))


# ---------------------------------------------------------------------------------------------
# Unprintable texts.

class MyStr(str):
    """A repr result whose own str() raises."""

    def __str__(self):
        raise RuntimeError("no str")


class Renamed(str):
    def __str__(self):
        raise RuntimeError("no str")


Renamed.__name__ = "R\u00e9nam\u00e9"


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("text_type, shown", [(MyStr, "MyStr"), (Renamed, "R\u00e9nam\u00e9")])
def test_unprintable_text_object(path, text_type, shown, unraisable):
    text_object = text_type("hidden")
    key = Shown(text_object)
    bad_key(path, "iterable", "int32", key, raises_exactly, TypeError,
            source_message(f"<unprintable {shown} object>", "int32"))
    assert len(unraisable) == 1
    assert unraisable[0].object is text_object
    assert type(unraisable[0].exc_value) is RuntimeError
    assert unraisable[0].exc_value.args == ("no str",)


class ReprRaisesStrFromObject:
    """object.__str__ goes through repr(), so both fail."""

    def __repr__(self):
        raise ValueError("no repr")


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("obj", [ReprRaisesStrFromObject(), 10**5000],
                         ids=["repr raises", "too many digits"])
def test_no_text_is_internal_fault(path, form, obj, unraisable):
    bad_key(path, form, "int32", obj, raises_internal_fault)
    bad_value(path, form, "int32", obj, raises_internal_fault)
    assert unraisable == []


# ---------------------------------------------------------------------------------------------
# The conversion's exception, and the internal-fault type.

@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("exc", [ValueError("v"), OverflowError("o"), KeyboardInterrupt(), SystemExit(2),
                                 MemoryError(), GeneratorExit()], ids=lambda e: type(e).__name__)
def test_conversion_exception_is_dropped(path, form, exc, unraisable, capfd):
    obj = HookRaises(exc)
    replaced = bad_key(path, form, "int16", obj, raises_exactly, TypeError,
                       source_message("HookRaises", "int16"))
    assert replaced is not exc and replaced.__suppress_context__ is False
    bad_value(path, form, "uint64", obj, raises_exactly, TypeError, target_message("HookRaises", "uint64"))
    assert unraisable == []
    assert capfd.readouterr().err == ""


@pytest.fixture(scope="module")
def fault_type():
    exc = raises_internal_fault(cast_array, np.zeros(1, np.int32), target_dtype="int8", rounding_mode=NE,
                                scalar_map_entries=[(ReprRaisesStrFromObject(), 1)])
    return type(exc)


class FaultIn:
    """Raises a nested internal fault from the hook that the test names."""

    def __init__(self, exc, where):
        self.exc = exc
        self.where = where

    def __index__(self):
        if self.where == "index":
            raise self.exc
        raise TypeError("not an index")

    def __repr__(self):
        if self.where == "repr":
            raise self.exc
        if self.where == "str of text":
            return FaultStr("x", self.exc)
        raise ValueError("no repr")

    def __str__(self):
        if self.where == "str":
            raise self.exc
        return "S"


class FaultStr(str):
    def __new__(cls, text, exc):
        self = super().__new__(cls, text)
        self.exc = exc
        return self

    def __str__(self):
        raise self.exc


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("where", ["index", "repr", "str", "str of text"])
def test_nested_fault_is_not_absorbed(path, where, fault_type, unraisable, capfd):
    raised = fault_type("nested text")
    exc = bad_key(path, "iterable", "int32", FaultIn(raised, where), raises_internal_fault)
    assert exc.args == ("nested text",)
    assert unraisable == []
    assert "nested text" in capfd.readouterr().err
