"""Argument binding, text arguments and mode parsing, with their messages and order."""

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.expect import raises_exactly
from support.modes import NE, ROUNDING_MODES

A = np.arange(3, dtype=np.int16)
B = np.zeros(3, dtype=np.int8)


class Outer:
    class Inner:
        pass


class StrSubclass(str):
    pass


# (id, function, positional arguments, keyword arguments, message); all are exactly TypeError.
BINDING_ERRORS = [
    ("too-many-positional", cast_array, (A, "uint8"), {},
     "cast_array() takes 1 positional arguments but 2 were given"),
    ("too-many-positional-three", cast_array, (A, A, A), {"target_dtype": "int8", "rounding_mode": NE},
     "cast_array() takes 1 positional arguments but 3 were given"),
    ("into-too-many-positional", cast_array_into, (A, B, B), {"rounding_mode": NE},
     "cast_array_into() takes 2 positional arguments but 3 were given"),
    # Too many positional values is reported before any keyword is looked at.
    ("positional-before-keywords", cast_array, (A, "uint8"), {"mode": "clamp", "arr": A},
     "cast_array() takes 1 positional arguments but 2 were given"),
    ("unexpected-keyword", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": NE, "mode": "clamp"},
     "cast_array() got an unexpected keyword argument 'mode'"),
    ("unexpected-out-for-cast-array", cast_array, (A,), {"out": B, "target_dtype": "int8", "rounding_mode": NE},
     "cast_array() got an unexpected keyword argument 'out'"),
    ("unexpected-target-dtype-for-into", cast_array_into, (A, B), {"target_dtype": "int8", "rounding_mode": NE},
     "cast_array_into() got an unexpected keyword argument 'target_dtype'"),
    ("unexpected-keyword-case", cast_array, (A,), {"Target_dtype": "uint8", "rounding_mode": NE},
     "cast_array() got an unexpected keyword argument 'Target_dtype'"),
    ("unexpected-keyword-surrogate", cast_array, (A,), {"\udc80": 1},
     "cast_array() got an unexpected keyword argument '\udc80'"),
    ("multiple-values-arr", cast_array, (A,), {"arr": A, "target_dtype": "uint8", "rounding_mode": NE},
     "cast_array() got multiple values for argument 'arr'"),
    ("into-multiple-values-out", cast_array_into, (A, B), {"out": B, "rounding_mode": NE},
     "cast_array_into() got multiple values for argument 'out'"),
    # Keyword names are examined in their order: the first faulty one is reported.
    ("multiple-before-unexpected", cast_array, (A,), {"arr": A, "bogus": 1},
     "cast_array() got multiple values for argument 'arr'"),
    ("unexpected-before-multiple", cast_array, (A,), {"bogus": 1, "arr": A},
     "cast_array() got an unexpected keyword argument 'bogus'"),
    # Keyword faults come before missing parameters.
    ("unexpected-before-missing", cast_array, (), {"mode": 1},
     "cast_array() got an unexpected keyword argument 'mode'"),
    ("missing-arr", cast_array, (), {},
     "cast_array() missing 1 required positional argument: 'arr'"),
    ("missing-arr-with-keywords", cast_array, (), {"target_dtype": "uint8", "rounding_mode": NE},
     "cast_array() missing 1 required positional argument: 'arr'"),
    ("missing-both-keywords", cast_array, (A,), {},
     "cast_array() missing 2 required keyword arguments: 'target_dtype' and 'rounding_mode'"),
    ("arr-by-keyword-missing-keywords", cast_array, (), {"arr": A},
     "cast_array() missing 2 required keyword arguments: 'target_dtype' and 'rounding_mode'"),
    ("missing-rounding-mode", cast_array, (A,), {"target_dtype": "uint8", "out_of_range_mode": "clamp"},
     "cast_array() missing 1 required keyword argument: 'rounding_mode'"),
    # Binding comes before any conversion: the invalid mode text is not examined.
    ("missing-target-dtype", cast_array, (A,), {"rounding_mode": "bogus"},
     "cast_array() missing 1 required keyword argument: 'target_dtype'"),
    ("missing-before-arr-kind", cast_array, ([1, 2],), {"rounding_mode": NE},
     "cast_array() missing 1 required keyword argument: 'target_dtype'"),
    ("into-missing-both", cast_array_into, (), {},
     "cast_array_into() missing 2 required positional arguments: 'arr' and 'out'"),
    ("into-missing-out", cast_array_into, (A,), {"rounding_mode": NE},
     "cast_array_into() missing 1 required positional argument: 'out'"),
    ("into-missing-arr", cast_array_into, (), {"out": B, "rounding_mode": NE},
     "cast_array_into() missing 1 required positional argument: 'arr'"),
    ("into-missing-rounding-mode", cast_array_into, (A, B), {},
     "cast_array_into() missing 1 required keyword argument: 'rounding_mode'"),
    ("into-by-keyword-missing-rounding-mode", cast_array_into, (), {"out": B, "arr": A},
     "cast_array_into() missing 1 required keyword argument: 'rounding_mode'"),
]


@pytest.mark.parametrize("func, args, kwargs, message",
                         [case[1:] for case in BINDING_ERRORS], ids=[case[0] for case in BINDING_ERRORS])
def test_binding_errors(func, args, kwargs, message):
    raises_exactly(TypeError, message, func, *args, **kwargs)


# (id, function, positional arguments, keyword arguments, exception type, message)
CONVERSION_ERRORS = [
    ("arr-list", cast_array, ([1, 2],), {"target_dtype": "uint8", "rounding_mode": NE},
     TypeError, "argument 'arr': 'list' object cannot be converted to 'PyUntypedArray'"),
    ("arr-none", cast_array, (None,), {"target_dtype": "uint8", "rounding_mode": NE},
     TypeError, "argument 'arr': 'NoneType' object cannot be converted to 'PyUntypedArray'"),
    ("arr-numpy-scalar", cast_array, (np.int16(3),), {"target_dtype": "uint8", "rounding_mode": NE},
     TypeError, "argument 'arr': 'int16' object cannot be converted to 'PyUntypedArray'"),
    ("arr-qualified-name", cast_array, (Outer.Inner(),), {"target_dtype": "uint8", "rounding_mode": NE},
     TypeError, "argument 'arr': 'Outer.Inner' object cannot be converted to 'PyUntypedArray'"),
    ("arr-memoryview", cast_array, (memoryview(b"ab"),), {"target_dtype": "uint8", "rounding_mode": NE},
     TypeError, "argument 'arr': 'memoryview' object cannot be converted to 'PyUntypedArray'"),
    ("into-arr-tuple", cast_array_into, ((1,), B), {"rounding_mode": NE},
     TypeError, "argument 'arr': 'tuple' object cannot be converted to 'PyUntypedArray'"),
    ("into-out-tuple", cast_array_into, (A, (1,)), {"rounding_mode": NE},
     TypeError, "argument 'out': 'tuple' object cannot be converted to 'PyUntypedArray'"),
    ("into-out-list-by-keyword", cast_array_into, (), {"arr": A, "out": [0, 0, 0], "rounding_mode": NE},
     TypeError, "argument 'out': 'list' object cannot be converted to 'PyUntypedArray'"),
    ("target-dtype-int", cast_array, (A,), {"target_dtype": 5, "rounding_mode": NE},
     TypeError, "argument 'target_dtype': 'int' object cannot be converted to 'PyString'"),
    ("target-dtype-bytes", cast_array, (A,), {"target_dtype": b"uint8", "rounding_mode": NE},
     TypeError, "argument 'target_dtype': 'bytes' object cannot be converted to 'PyString'"),
    ("target-dtype-type", cast_array, (A,), {"target_dtype": np.uint8, "rounding_mode": NE},
     TypeError, "argument 'target_dtype': 'type' object cannot be converted to 'PyString'"),
    ("target-dtype-dtype", cast_array, (A,), {"target_dtype": np.dtype("uint8"), "rounding_mode": NE},
     TypeError, f"argument 'target_dtype': '{type(np.dtype('uint8')).__qualname__}' object cannot be converted to 'PyString'"),
    ("target-dtype-none", cast_array, (A,), {"target_dtype": None, "rounding_mode": NE},
     TypeError, "argument 'target_dtype': 'NoneType' object cannot be converted to 'PyString'"),
    ("rounding-mode-none", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": None},
     TypeError, "argument 'rounding_mode': 'NoneType' object cannot be converted to 'PyString'"),
    ("into-rounding-mode-int", cast_array_into, (A, B), {"rounding_mode": 0},
     TypeError, "argument 'rounding_mode': 'int' object cannot be converted to 'PyString'"),
    ("out-of-range-mode-int", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": NE, "out_of_range_mode": 1},
     TypeError, "argument 'out_of_range_mode': 'int' object cannot be converted to 'PyString'"),
    ("out-of-range-mode-false", cast_array_into, (A, B), {"rounding_mode": NE, "out_of_range_mode": False},
     TypeError, "argument 'out_of_range_mode': 'bool' object cannot be converted to 'PyString'"),
    ("rounding-mode-case", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": "Nearest-Even"},
     ValueError, "Unknown rounding mode: Nearest-Even"),
    ("rounding-mode-upper", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": "NEAREST-EVEN"},
     ValueError, "Unknown rounding mode: NEAREST-EVEN"),
    ("rounding-mode-leading-blank", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": " nearest-even"},
     ValueError, "Unknown rounding mode:  nearest-even"),
    ("rounding-mode-trailing-blank", cast_array_into, (A, B), {"rounding_mode": "towards-zero "},
     ValueError, "Unknown rounding mode: towards-zero "),
    ("rounding-mode-underscore", cast_array_into, (A, B), {"rounding_mode": "nearest_even"},
     ValueError, "Unknown rounding mode: nearest_even"),
    ("rounding-mode-empty", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": ""},
     ValueError, "Unknown rounding mode: "),
    ("rounding-mode-embedded-nul", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": "nearest-even\x00"},
     ValueError, "Unknown rounding mode: nearest-even\x00"),
    ("rounding-mode-non-ascii", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": "nearest-\u00e9ven"},
     ValueError, "Unknown rounding mode: nearest-\u00e9ven"),
    ("out-of-range-mode-blank", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": NE, "out_of_range_mode": " clamp"},
     ValueError, "Unknown out_of_range mode:  clamp"),
    ("out-of-range-mode-trailing", cast_array, (A,), {"target_dtype": "uint8", "rounding_mode": NE, "out_of_range_mode": "clamp "},
     ValueError, "Unknown out_of_range mode: clamp "),
    ("out-of-range-mode-case", cast_array_into, (A, B), {"rounding_mode": NE, "out_of_range_mode": "Wrap"},
     ValueError, "Unknown out_of_range mode: Wrap"),
    ("out-of-range-mode-empty", cast_array_into, (A, B), {"rounding_mode": NE, "out_of_range_mode": ""},
     ValueError, "Unknown out_of_range mode: "),
    ("out-of-range-mode-none-text", cast_array_into, (A, B), {"rounding_mode": NE, "out_of_range_mode": "None"},
     ValueError, "Unknown out_of_range mode: None"),
    ("out-of-range-mode-nul", cast_array_into, (A, B), {"rounding_mode": NE, "out_of_range_mode": "wrap\x00"},
     ValueError, "Unknown out_of_range mode: wrap\x00"),
]


@pytest.mark.parametrize("func, args, kwargs, exc_type, message",
                         [case[1:] for case in CONVERSION_ERRORS], ids=[case[0] for case in CONVERSION_ERRORS])
def test_conversion_errors(func, args, kwargs, exc_type, message):
    raises_exactly(exc_type, message, func, *args, **kwargs)


BOOL = np.zeros(3, dtype=bool)

# Two or more faults in one call: the first check in the order of the parameters wins.
# (id, function, positional arguments, keyword arguments, exception type, message)
ORDER_CASES = [
    ("arr-before-target-dtype", cast_array, ([1],), {"target_dtype": 5, "rounding_mode": "bad"},
     TypeError, "argument 'arr': 'list' object cannot be converted to 'PyUntypedArray'"),
    ("target-dtype-kind-before-rounding-mode", cast_array, (A,), {"target_dtype": 5, "rounding_mode": "bad"},
     TypeError, "argument 'target_dtype': 'int' object cannot be converted to 'PyString'"),
    ("rounding-mode-before-target-name", cast_array, (A,), {"target_dtype": "bogus", "rounding_mode": "bad"},
     ValueError, "Unknown rounding mode: bad"),
    ("rounding-mode-before-out-of-range-mode", cast_array, (A,),
     {"target_dtype": "uint8", "rounding_mode": "bad", "out_of_range_mode": "worse"},
     ValueError, "Unknown rounding mode: bad"),
    ("rounding-mode-kind-before-out-of-range-kind", cast_array, (A,),
     {"target_dtype": "uint8", "rounding_mode": 1, "out_of_range_mode": 2},
     TypeError, "argument 'rounding_mode': 'int' object cannot be converted to 'PyString'"),
    ("modes-before-source-dtype", cast_array, (BOOL,),
     {"target_dtype": "uint8", "rounding_mode": NE, "out_of_range_mode": "worse"},
     ValueError, "Unknown out_of_range mode: worse"),
    ("modes-before-source-dtype-into", cast_array_into, (BOOL, BOOL), {"rounding_mode": "x"},
     ValueError, "Unknown rounding mode: x"),
    ("into-arr-before-out", cast_array_into, ([1], (1,)), {"rounding_mode": NE},
     TypeError, "argument 'arr': 'list' object cannot be converted to 'PyUntypedArray'"),
    ("into-out-before-rounding-mode", cast_array_into, (A, (1,)), {"rounding_mode": None},
     TypeError, "argument 'out': 'tuple' object cannot be converted to 'PyUntypedArray'"),
    ("out-of-range-mode-before-dispatch", cast_array, (A,),
     {"target_dtype": "Float32", "rounding_mode": NE, "out_of_range_mode": "CLAMP"},
     ValueError, "Unknown out_of_range mode: CLAMP"),
]


@pytest.mark.parametrize("func, args, kwargs, exc_type, message",
                         [case[1:] for case in ORDER_CASES], ids=[case[0] for case in ORDER_CASES])
def test_check_order(func, args, kwargs, exc_type, message):
    raises_exactly(exc_type, message, func, *args, **kwargs)


def test_lone_surrogate_text_passes_encoding_error_unchanged():
    bad = "\udc80"
    with pytest.raises(UnicodeEncodeError) as expected:
        bad.encode("utf-8")
    for kwargs in ({"target_dtype": bad, "rounding_mode": NE},
                   {"target_dtype": "uint8", "rounding_mode": bad},
                   {"target_dtype": "uint8", "rounding_mode": NE, "out_of_range_mode": bad}):
        with pytest.raises(BaseException) as info:
            cast_array(A, **kwargs)
        assert type(info.value) is UnicodeEncodeError
        assert str(info.value) == str(expected.value)


@pytest.mark.parametrize("by_keyword", [False, True])
def test_accepted_spellings(by_keyword):
    if by_keyword:
        result = cast_array(arr=A, target_dtype="uint8", rounding_mode=NE)
        out = np.full(3, 9, dtype=np.int8)
        assert cast_array_into(out=out, arr=A, rounding_mode="towards-zero") is None
    else:
        result = cast_array(A, target_dtype="uint8", rounding_mode=NE)
        out = np.full(3, 9, dtype=np.int8)
        assert cast_array_into(A, out, rounding_mode="towards-zero") is None
    assert result.tolist() == [0, 1, 2] and result.dtype == np.uint8
    assert out.tolist() == [0, 1, 2]


def test_str_subclasses_are_text():
    result = cast_array(A, target_dtype=np.str_("int32"), rounding_mode=StrSubclass(NE),
                        out_of_range_mode=StrSubclass("clamp"))
    assert result.dtype == np.int32 and result.tolist() == [0, 1, 2]


def test_ndarray_subclass_is_an_array():
    class Sub(np.ndarray):
        pass

    arr = np.array([-1, 300], dtype=np.int32).view(Sub)
    out = np.zeros(2, dtype=np.uint8).view(Sub)
    assert cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode="clamp") is None
    assert out.tolist() == [0, 255]
    result = cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="wrap")
    assert type(result) is np.ndarray and result.tolist() == [255, 44]


@pytest.mark.parametrize("rounding_mode", ROUNDING_MODES)
def test_every_rounding_mode_is_accepted(rounding_mode):
    arr = np.array([-300, -1, 0, 1, 300], dtype=np.int32)
    assert cast_array(arr, target_dtype="uint8", rounding_mode=rounding_mode,
                      out_of_range_mode="clamp").tolist() == [0, 0, 0, 1, 255]
    out = np.zeros(5, dtype=np.int8)
    cast_array_into(arr, out, rounding_mode=rounding_mode, out_of_range_mode="wrap")
    assert out.tolist() == [-44, -1, 0, 1, 44]


def test_none_means_omitted():
    arr = np.array([1, 2, 3], dtype=np.int64)
    omitted = cast_array(arr, target_dtype="int8", rounding_mode=NE)
    explicit = cast_array(arr, target_dtype="int8", rounding_mode=NE, out_of_range_mode=None, scalar_map_entries=None)
    assert omitted.tolist() == explicit.tolist() == [1, 2, 3]
    bad = np.array([1, 200], dtype=np.int64)
    message = ("Value 200 out of range [-128, 127]. "
               "Set out_of_range='clamp' or out_of_range='wrap' to handle this.")
    raises_exactly(ValueError, message, cast_array, bad, target_dtype="int8", rounding_mode=NE,
                   out_of_range_mode=None, scalar_map_entries=None)
    out = np.zeros(2, dtype=np.int8)
    raises_exactly(ValueError, message, cast_array_into, bad, out, rounding_mode=NE,
                   out_of_range_mode=None, scalar_map_entries=None)
