"""Which Python objects convert to which element type, and the value they give, seen through
the scalar map: a key must convert to the source type, a value to the target type, and a
mapped value is stored unchanged."""

from decimal import Decimal

import numpy as np
import pytest

from support.expect import raises_exactly
from support.float_model import UINT, f32_bits, f64_bits, f64_from_bits
from support.int_model import FLOAT_NAMES, INT_NAMES, int_range
from support.paths import PATHS, cast, refuse


def refused(path, side, dtype, obj):
    """A key (side "source") or value ("target") that does not convert to dtype."""
    if side == "source":
        arr, target, entries = np.zeros(1, dtype), "int8", [(obj, 1)]
    else:
        arr, target, entries = np.zeros(1, np.int8), dtype, [(0, obj)]
    message = (f"scalar_map {side} value {obj!r}: "
               f"expected a value convertible to {side} dtype {dtype}")
    refuse(path, arr, target, entries, raises_exactly, TypeError, message)


# ---------------------------------------------------------------------------------------------
# Objects with conversion hooks of their own.

class IntSub(int):
    """An int subclass: its own value counts, its __index__ is not called."""

    def __index__(self):
        return 7

    def __repr__(self):
        return f"IntSub({int(self)})"


class IntSubFloat(int):
    def __float__(self):
        return 9.5

    def __repr__(self):
        return f"IntSubFloat({int(self)})"


class FloatSub(float):
    """A float subclass: its stored value counts, its __float__ is not called."""

    def __float__(self):
        return 9.5

    def __repr__(self):
        return f"FloatSub({float.__repr__(self)})"


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexOnly({self.value})"


class FloatOnly:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"FloatOnly({self.value!r})"


class IntOnly:
    def __int__(self):
        return 5

    def __repr__(self):
        return "IntOnly()"


class Raises:
    """Every conversion hook raises the given exception."""

    def __init__(self, exc_type):
        self.exc_type = exc_type

    def __index__(self):
        raise self.exc_type("index")

    def __float__(self):
        raise self.exc_type("float")

    def __repr__(self):
        return f"Raises({self.exc_type.__name__})"


RAISING = [Raises(t) for t in (ValueError, TypeError, OverflowError, KeyboardInterrupt, SystemExit,
                                MemoryError)]

# ---------------------------------------------------------------------------------------------
# Integer element types.

BOUNDS = sorted({b + d for name in INT_NAMES for b in int_range(name) for d in (-1, 0, 1)})

# (object, its integer value): accepted exactly when the value is in the type's range.
INTEGRAL = [(v, v) for v in BOUNDS] + [
    (True, 1), (False, 0), (IntSub(3), 3), (IntSubFloat(3), 3),
    (IndexOnly(-1), -1), (IndexOnly(2**63 - 1), 2**63 - 1), (IndexOnly(2**64 - 1), 2**64 - 1),
    (IndexOnly(2**64), 2**64), (IndexOnly(-(2**63) - 1), -(2**63) - 1),
    (np.int8(-5), -5), (np.uint8(200), 200), (np.int64(-(2**63)), -(2**63)),
    (np.uint64(2**64 - 1), 2**64 - 1), (np.uint64(2**63), 2**63),
    (10**30, 10**30), (-(10**30), -(10**30)),
]

# Refused by every integer type.
NOT_INTEGRAL = [
    2.0, 2.5, -1.0, float("nan"), float("inf"), np.float64(2.0), np.float32(1.0), np.float16(0.0),
    FloatSub(1.0), "5", "1", b"5", None, 1 + 0j, IntOnly(), FloatOnly(2.0), Decimal(2), [1], (1,),
    *RAISING,
]


def _id(obj):
    return repr(obj)[:40]


def integral_cases():
    for name in INT_NAMES:
        lo, hi = int_range(name)
        for obj, value in INTEGRAL:
            yield pytest.param(name, obj, value, lo <= value <= hi, id=f"{name}-{_id(obj)}")


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("dtype, obj, value, accepted", list(integral_cases()))
def test_integer_key(path, dtype, obj, value, accepted):
    if not accepted:
        refused(path, "source", dtype, obj)
        return
    arr = np.array([value, 0 if value else 1], dtype)
    assert cast(path, arr, "int8", [(obj, 7)]).tolist() == [7, 0 if value else 1]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("dtype, obj, value, accepted", list(integral_cases()))
def test_integer_value(path, dtype, obj, value, accepted):
    if not accepted:
        refused(path, "target", dtype, obj)
        return
    result = cast(path, np.array([0, 1], np.int8), dtype, {0: obj})
    assert result.dtype == np.dtype(dtype)
    assert result.tolist() == [value, 1]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("side", ["source", "target"])
@pytest.mark.parametrize("dtype", INT_NAMES)
@pytest.mark.parametrize("obj", NOT_INTEGRAL, ids=_id)
def test_integer_refusals(path, side, dtype, obj):
    refused(path, side, dtype, obj)


def test_int_subclass_index_not_called():
    # The key 3 matches 3, not the 7 its __index__ would give.
    arr = np.array([3, 7], np.uint64)
    assert cast("alloc", arr, "uint64", [(IntSub(3), 1)]).tolist() == [1, 7]
    assert cast("alloc", arr.astype(np.int16), "int16", [(IntSub(3), 1)]).tolist() == [1, 7]


# ---------------------------------------------------------------------------------------------
# Floating element types. Expected results: (float64 bits, float32 bits, float16 bits).

INF64, INF32, INF16 = 0x7FF0000000000000, 0x7F800000, 0x7C00

FLOATING = [
    # (object, float64 bits, float32 bits, float16 bits)
    (True, f64_bits(1.0), f32_bits(1.0), 0x3C00),
    (False, 0, 0, 0x0000),
    (3, f64_bits(3.0), f32_bits(3.0), 0x4200),
    (IntSub(3), f64_bits(3.0), f32_bits(3.0), 0x4200),
    (IntSubFloat(3), f64_bits(9.5), f32_bits(9.5), 0x48C0),
    (FloatSub(1.5), f64_bits(1.5), f32_bits(1.5), 0x3E00),
    (FloatOnly(-1.0), f64_bits(-1.0), f32_bits(-1.0), 0xBC00),
    (IndexOnly(-1), f64_bits(-1.0), f32_bits(-1.0), 0xBC00),
    (np.float64(2.5), f64_bits(2.5), f32_bits(2.5), 0x4100),
    (np.float32(0.1), f64_bits(float(np.float32(0.1))), 0x3DCCCCCD, 0x2E66),
    (np.int64(5), f64_bits(5.0), f32_bits(5.0), 0x4500),
    (Decimal("0.5"), f64_bits(0.5), f32_bits(0.5), 0x3800),
    (9007199254740993, f64_bits(9007199254740992.0), f32_bits(9007199254740992.0), INF16),
    (9007199791611905, f64_bits(9007199791611904.0), f32_bits(9007199254740992.0), INF16),
    (16777217, f64_bits(16777217.0), f32_bits(16777216.0), INF16),
    (2**1024 - 2**970 - 1, f64_bits(1.7976931348623157e308), INF32, INF16),
    (float("inf"), INF64, INF32, INF16),
    (float("-inf"), INF64 | 1 << 63, INF32 | 1 << 31, 0xFC00),
    (-0.0, 1 << 63, 1 << 31, 0x8000),
    (0.0, 0, 0, 0x0000),
    (float("nan"), f64_bits(float("nan")), 0x7FC00000, 0x7E00),
    (-float("nan"), f64_bits(-float("nan")), 0xFFC00000, 0xFE00),
    (f64_from_bits(0x7FF0000000000001), 0x7FF0000000000001, 0x7FC00000, 0x7E00),
    (f64_from_bits(0x7FF4000000000000), 0x7FF4000000000000, 0x7FE00000, 0x7F00),
    (1e300, f64_bits(1e300), INF32, INF16),
    (-1e300, f64_bits(-1e300), INF32 | 1 << 31, 0xFC00),
    (3.4028235677973362e38, f64_bits(3.4028235677973362e38), 0x7F7FFFFF, INF16),
    (3.4028235677973366e38, f64_bits(3.4028235677973366e38), INF32, INF16),
    (1e-50, f64_bits(1e-50), 0, 0x0000),
    (-1e-50, f64_bits(-1e-50), 1 << 31, 0x8000),
    (0.1, f64_bits(0.1), 0x3DCCCCCD, 0x2E66),
    (65504.0, f64_bits(65504.0), f32_bits(65504.0), 0x7BFF),
    (65519.0, f64_bits(65519.0), f32_bits(65519.0), 0x7BFF),
    (65519.99999, f64_bits(65519.99999), f32_bits(65520.0), INF16),
    (65520.0, f64_bits(65520.0), f32_bits(65520.0), INF16),
    (1e5, f64_bits(1e5), f32_bits(1e5), INF16),
    (-1e5, f64_bits(-1e5), f32_bits(-1e5), 0xFC00),
    (2049.0000001, f64_bits(2049.0000001), f32_bits(2049.0), 0x6800),
    (2049, f64_bits(2049.0), f32_bits(2049.0), 0x6800),
    (1.0004882812509095, f64_bits(1.0004882812509095), f32_bits(1.00048828125), 0x3C00),
    (1.0004882821813226, f64_bits(1.0004882821813226), f32_bits(1.00048828125), 0x3C00),
    (3e-8, f64_bits(3e-8), f32_bits(3e-8), 0x0001),
    (2.0**-25, f64_bits(2.0**-25), f32_bits(2.0**-25), 0x0000),
    (-1e-8, f64_bits(-1e-8), f32_bits(-1e-8), 0x8000),
    (2.0**-24, f64_bits(2.0**-24), f32_bits(2.0**-24), 0x0001),
    (6.103515625e-05, f64_bits(6.103515625e-05), f32_bits(6.103515625e-05), 0x0400),
]

NOT_FLOATING = [
    "1.5", "a", b"5", None, 1 + 0j, 10**400, -(10**400), 2**1024 - 2**970, IntOnly(), [1.0],
    *RAISING,
]

COLUMN = {"float64": 0, "float32": 1, "float16": 2}


def floating_cases():
    for name in FLOAT_NAMES:
        for row in FLOATING:
            yield pytest.param(name, row[0], row[1 + COLUMN[name]], id=f"{name}-{_id(row[0])}")


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("dtype, obj, bits", list(floating_cases()))
def test_floating_value_bits(path, dtype, obj, bits):
    result = cast(path, np.array([0, 1], np.int8), dtype, [(0, obj)])
    assert result.view(UINT[dtype]).tolist()[0] == bits


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("dtype, obj, bits", list(floating_cases()))
def test_floating_key_matches(path, dtype, obj, bits):
    arr = np.array([bits], UINT[dtype]).view(dtype)
    assert cast(path, arr, "int8", [(obj, 7)]).tolist() == [7]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("side", ["source", "target"])
@pytest.mark.parametrize("dtype", FLOAT_NAMES)
@pytest.mark.parametrize("obj", NOT_FLOATING, ids=_id)
def test_floating_refusals(path, side, dtype, obj):
    refused(path, side, dtype, obj)


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("source", FLOAT_NAMES)
@pytest.mark.parametrize("target", FLOAT_NAMES)
def test_floating_pair_stores_unchanged(path, source, target):
    # A mapped target is stored as it converted: no rounding, no range test, even where the
    # element itself would overflow the target or is a NaN.
    with np.errstate(over="ignore"):
        arr = np.array([1e300, float("nan"), -0.0, 2.5], np.float64).astype(source)
    entries = [(float(arr[0]), 65519.0), (float("nan"), -float("nan")), (0.0, 1e300)]
    result = cast(path, arr, target, entries)
    expect = {
        "float64": [f64_bits(65519.0), f64_bits(-float("nan")), f64_bits(1e300)],
        "float32": [f32_bits(65519.0), 0xFFC00000, INF32],
        "float16": [0x7BFF, 0xFE00, INF16],
    }[target]
    assert result.view(UINT[target]).tolist()[:3] == expect
    assert result[3] == 2.5


FLOATING_KEYS = [
    # (source, entries, elements, expected int8 results)
    ("float16", [(1e-50, 3), (2e-50, 4)], [0.0, -0.0], [3, 3]),
    ("float32", {1.5: 2}, [1.5, 2.5], [2, 2]),
    ("float32", [(1.5, 2)], [1.5, 2.5], [2, 2]),
    ("float32", [(1e300, 5), (-1e300, 6)], [float("inf"), float("-inf")], [5, 6]),
    ("float64", [(float("nan"), 1), (float("nan"), 2)], [float("nan"), -float("nan")], [1, 1]),
    ("float64", [(-0.0, 9)], [0.0, -0.0], [9, 9]),
    ("float16", {65519.99999: 8, 65519.0: 7}, [float("inf"), 65504.0], [8, 7]),
]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("source, entries, elements, expected", FLOATING_KEYS)
def test_floating_keys(path, source, entries, elements, expected):
    arr = np.array(elements, source)
    assert cast(path, arr, "int8", entries).tolist() == expected
