"""Integer-to-integer casts of all 64 pairs against a model computed in Python integers."""

import zlib

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import filled, prefill
from support.expect import raises_exactly
from support.int_model import (CORE_PAIRS, DIRECT_PAIRS, INT_PAIRS, convert, edge_values, fits, int_range,
                               range_error)
from support.modes import NE

MODES = ("clamp", "wrap", None)


def run_cast(form, arr, target, mode):
    """The converted values as a list, through cast_array or cast_array_into."""
    if form == "alloc":
        result = cast_array(arr, target_dtype=target, rounding_mode=NE, out_of_range_mode=mode)
        assert result.dtype == np.dtype(target)
        assert result.shape == arr.shape
        return result.tolist()
    out = filled(arr.shape, target)
    assert cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode=mode) is None
    return out.tolist()


@pytest.mark.parametrize("form", ["alloc", "into"])
@pytest.mark.parametrize("mode", MODES, ids=str)
@pytest.mark.parametrize("source, target", INT_PAIRS)
def test_edge_values(source, target, mode, form):
    values = edge_values(source, target)
    if mode is not None:
        arr = np.array(values, dtype=source)
        assert run_cast(form, arr, target, mode) == [convert(v, target, mode) for v in values]
        return
    inside = [v for v in values if fits(v, target)]
    assert run_cast(form, np.array(inside, dtype=source), target, None) == inside
    for v in values:
        if fits(v, target):
            continue
        arr = np.array([v], dtype=source)
        if form == "alloc":
            raises_exactly(ValueError, range_error(v, source, target),
                           cast_array, arr, target_dtype=target, rounding_mode=NE)
        else:
            out = filled(1, target)
            raises_exactly(ValueError, range_error(v, source, target),
                           cast_array_into, arr, out, rounding_mode=NE)
            assert out.tolist() == [prefill(target)]


def _random_values(rng, name, n):
    lo, hi = int_range(name)
    return rng.integers(lo, hi, size=n, dtype=np.dtype(name), endpoint=True)


LENGTHS = (0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 255, 256, 257, 1000)


@pytest.mark.parametrize("mode", ["clamp", "wrap"])
@pytest.mark.parametrize("source, target", INT_PAIRS)
def test_every_length(source, target, mode):
    rng = np.random.default_rng(zlib.crc32(f"{source} {target} {mode}".encode()))
    arr = _random_values(rng, source, max(LENGTHS))
    # Make sure the limits of both types occur, at positions that vary with the pair.
    for v in edge_values(source, target):
        arr[int(rng.integers(0, arr.size))] = v
    expected = [convert(v, target, mode) for v in arr.tolist()]
    for n in LENGTHS:
        assert cast_array(arr[:n], target_dtype=target, rounding_mode=NE,
                          out_of_range_mode=mode).tolist() == expected[:n]
    out = np.zeros(arr.size, dtype=target)
    cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode=mode)
    assert out.tolist() == expected


FAIL_POSITIONS = (0, 1, 3, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 200, 511, 998, 999)


@pytest.mark.parametrize("source, target", CORE_PAIRS)
def test_first_failure_ends_the_conversion(source, target):
    rng = np.random.default_rng(len(source) * 100 + len(target))
    lo, hi = max(int_range(source)[0], int_range(target)[0]), min(int_range(source)[1], int_range(target)[1])
    inside = rng.integers(lo, hi, size=1000, endpoint=True, dtype=np.dtype(source))
    bad_values = [v for v in edge_values(source, target) if not fits(v, target)]
    sentinel = prefill(target)
    for k, pos in enumerate(FAIL_POSITIONS):
        bad = bad_values[k % len(bad_values)]
        arr = inside.copy()
        arr[pos] = bad
        if pos + 5 < arr.size:
            arr[pos + 5] = bad_values[-1 - k % len(bad_values)]
        message = range_error(bad, source, target)
        out = np.full(arr.size, sentinel, dtype=target)
        raises_exactly(ValueError, message, cast_array_into, arr, out, rounding_mode=NE)
        assert out.tolist() == inside[:pos].tolist() + [sentinel] * (arr.size - pos)
        raises_exactly(ValueError, message, cast_array, arr, target_dtype=target, rounding_mode=NE)


# Whole messages quoted literally, for values whose binary64 form is rounded or signed.
LITERAL_ERRORS = [
    ("int32", "int8", [1, 300, 2], 300, "Value 300 out of range [-128, 127]."),
    ("int8", "uint8", [-1], -1, "Value -1 out of range [0, 127]."),
    ("uint8", "int8", [200], 200, "Value 200 out of range [0, 127]."),
    ("int16", "uint16", [5, -32768], -32768, "Value -32768 out of range [0, 32767]."),
    ("int64", "uint64", [-1], -1, "Value -1 out of range [0, 9223372036854776000]."),
    ("uint64", "int64", [18446744073709551615], 18446744073709551615,
     "Value 18446744073709552000 out of range [0, 9223372036854776000]."),
    ("uint64", "int32", [9007199254740993], 9007199254740993, "Value 9007199254740992 out of range [0, 2147483647]."),
    ("int64", "uint32", [-9223372036854775808], -9223372036854775808,
     "Value -9223372036854776000 out of range [0, 4294967295]."),
    ("int64", "int8", [9223372036854775807], 9223372036854775807,
     "Value 9223372036854776000 out of range [-128, 127]."),
    ("uint32", "int32", [2147483648], 2147483648, "Value 2147483648 out of range [0, 2147483647]."),
    ("int32", "uint8", [300], 300, "Value 300 out of range [0, 255]."),
]
SUFFIX = " Set out_of_range='clamp' or out_of_range='wrap' to handle this."


@pytest.mark.parametrize("source, target, values, bad, message", LITERAL_ERRORS)
def test_literal_error_messages(source, target, values, bad, message):
    arr = np.array(values, dtype=source)
    raises_exactly(ValueError, message + SUFFIX, cast_array, arr, target_dtype=target, rounding_mode=NE)
    sentinel = prefill(target)
    out = np.full(arr.shape, sentinel, dtype=target)
    raises_exactly(ValueError, message + SUFFIX, cast_array_into, arr, out, rounding_mode=NE)
    k = values.index(bad)
    assert out.tolist() == values[:k] + [sentinel] * (len(values) - k)


# (source, target, mode, input values, stored values), quoted literally.
LITERAL_RESULTS = [
    ("int32", "uint8", "clamp", [-5, 300], [0, 255]),
    ("uint64", "int64", "clamp", [9223372036854775808], [9223372036854775807]),
    ("int8", "uint64", "clamp", [-1], [0]),
    ("uint32", "int32", "wrap", [4294967295], [-1]),
    ("int8", "uint64", "wrap", [-1, -2], [18446744073709551615, 18446744073709551614]),
    ("int16", "int8", "wrap", [300, -129], [44, 127]),
    ("uint8", "int8", "wrap", [200], [-56]),
    ("uint16", "int16", "wrap", [65535], [-1]),
    ("int32", "uint8", "wrap", [-1, 256, 300], [255, 0, 44]),
    ("int64", "uint64", "wrap", [-9223372036854775808], [9223372036854775808]),
    ("int8", "int16", None, [-1], [-1]),
    ("int8", "int32", None, [-1], [-1]),
    ("int8", "int64", None, [-1, -128], [-1, -128]),
    ("uint8", "int16", None, [255], [255]),
    ("uint8", "uint64", None, [255], [255]),
    ("uint32", "int64", None, [4294967295], [4294967295]),
    ("int16", "int64", None, [-32768], [-32768]),
    ("int64", "int64", None, [-9223372036854775808], [-9223372036854775808]),
    ("uint64", "uint64", None, [18446744073709551615], [18446744073709551615]),
    ("int8", "int16", "wrap", [-1, 127], [-1, 127]),
]


@pytest.mark.parametrize("source, target, mode, values, stored", LITERAL_RESULTS, ids=str)
def test_literal_results(source, target, mode, values, stored):
    arr = np.array(values, dtype=source)
    expected = np.array(stored, dtype=target).tobytes()
    assert cast_array(arr, target_dtype=target, rounding_mode=NE, out_of_range_mode=mode).tobytes() == expected
    out = np.zeros(arr.shape, dtype=target)
    cast_array_into(arr, out, rounding_mode=NE, out_of_range_mode=mode)
    assert out.tobytes() == expected


@pytest.mark.parametrize("mode", MODES, ids=str)
@pytest.mark.parametrize("source, target", DIRECT_PAIRS)
def test_direct_pairs_ignore_the_out_of_range_mode(source, target, mode):
    rng = np.random.default_rng(7)
    arr = _random_values(rng, source, 100)
    arr[:2] = int_range(source)
    result = cast_array(arr, target_dtype=target, rounding_mode="towards-negative", out_of_range_mode=mode)
    assert result.tolist() == arr.tolist()
    if source == target:
        assert result.tobytes() == arr.tobytes()
        assert not np.shares_memory(result, arr)
