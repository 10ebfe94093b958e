"""The drivers of the 57 pairs with a floating side: the frames' checks and their order, the
direct pairs, NaNs and infinities, conversion errors and what they leave written, scalar maps,
shared and unaligned buffers."""

import itertools
import math
import sys
import zlib

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import filled, from_bits, read_only, stored
from support.expect import raises_exactly, raises_internal_fault
from support.float_model import UINT, Failure, bits_of_value, expected, f64_bits, quiet_nan_bits
from support.int_model import ALL_NAMES, FLOAT_NAMES, INT_NAMES, TYPE_NUMBER, int_range
from support.modes import NE, OUT_OF_RANGE_MODES, ROUNDING_MODES
from support.np_compat import AXIS_LIMIT, MANY_AXES, MANY_AXES_EMPTY, requires_numpy2
from support.overlap import reinterpreted, same_array, shifted

ALL_MODES = tuple(itertools.product(ROUNDING_MODES, OUT_OF_RANGE_MODES))

INPUT_LAYOUT = "Input array must be row-major (C-contiguous)"
OUTPUT_LAYOUT = "Output array must be row-major (C-contiguous) and writeable"
KIND = "'ndarray' object cannot be converted to 'PyArray<T, D>'"
MAP_START = "scalar_map_entries must be a dict or an iterable of (source, target) pairs"
NAN_MESSAGE = "Cannot cast NaN to integer type without scalar_map"

FLOAT_PAIRS = tuple((s, t) for s, t in itertools.product(ALL_NAMES, ALL_NAMES)
                    if s in FLOAT_NAMES or t in FLOAT_NAMES)
DIRECT_FLOAT_SIDE = tuple(
    [(s, "float64") for s in INT_NAMES] + [(s, "float32") for s in ("int8", "uint8", "int16", "uint16")]
    + [("float32", "float32"), ("float64", "float64")])
assert len(FLOAT_PAIRS) == 57 and len(DIRECT_FLOAT_SIDE) == 14


def both_forms(arr, target, **kwargs):
    """The stored values through cast_array and through cast_array_into (which must agree)."""
    result = cast_array(arr, target_dtype=target, **kwargs)
    out = filled(arr.shape, target)
    assert cast_array_into(arr, out, **kwargs) is None
    assert stored(out) == stored(result)
    return stored(result)


def refused_in_both_forms(exc_type, message, arr, target, **kwargs):
    raises_exactly(exc_type, message, cast_array, arr, target_dtype=target, **kwargs)
    out = filled(arr.shape, target)
    before = out.tobytes()
    raises_exactly(exc_type, message, cast_array_into, arr, out, **kwargs)
    return out, before


# --- the frames: checks, their order and their messages -------------------------------------

def _refused_outputs(name):
    """Non-empty outputs of shape (4,) or (2, 2) that the layout test refuses, with the array
    holding their memory."""
    base = filled(8, name)
    yield base[::2], base
    base = filled(4, name)
    yield base[::-1], base
    base = np.asfortranarray(filled((2, 2), name))
    yield base, base
    base = read_only(filled(4, name))
    yield base, base


@pytest.mark.parametrize("source, target", FLOAT_PAIRS)
def test_frame_checks_in_order(source, target):
    swappable_source = np.dtype(source).itemsize > 1
    swappable_target = np.dtype(target).itemsize > 1
    # The input view comes first: its layout, then its element type, before the scalar map.
    f_order = np.zeros((2, 2), source, order="F")
    raises_exactly(ValueError, INPUT_LAYOUT, cast_array, f_order, target_dtype=target, rounding_mode=NE,
                   scalar_map_entries=5)
    raises_exactly(ValueError, INPUT_LAYOUT, cast_array_into, f_order, np.zeros((2, 2), target),
                   rounding_mode=NE, scalar_map_entries=5)
    if swappable_source:
        swapped = np.zeros(4, np.dtype(source).newbyteorder())
        raises_exactly(TypeError, KIND, cast_array, swapped, target_dtype=target, rounding_mode=NE,
                       scalar_map_entries=5)
        raises_exactly(TypeError, KIND, cast_array_into, swapped, np.zeros(4, target), rounding_mode=NE,
                       scalar_map_entries=5)

    # The scalar map is parsed before anything about the output is looked at, empty arrays too.
    arr = np.zeros(4, source)
    outputs = [out for out, _ in _refused_outputs(target)] + [np.zeros((0, 3), target)]
    if swappable_target:
        outputs.append(np.zeros(4, np.dtype(target).newbyteorder()))
    for out in outputs:
        source_arr = np.zeros(out.shape, source)
        raises_exactly(TypeError, MAP_START, cast_array_into, source_arr, out, rounding_mode=NE,
                       scalar_map_entries=5)
    raises_exactly(TypeError, MAP_START, cast_array, np.zeros((2, 0, 3), source), target_dtype=target,
                   rounding_mode=NE, scalar_map_entries=5)

    # The output's element type, before its emptiness; an empty output is not tested further.
    if swappable_target:
        for shape in ((4,), (0,)):
            raises_exactly(TypeError, KIND, cast_array_into, np.zeros(shape, source),
                           np.zeros(shape, np.dtype(target).newbyteorder()), rounding_mode=NE)
    empty = np.zeros((3, 0), source)
    assert cast_array_into(empty, read_only(np.zeros((3, 0), target)), rounding_mode=NE) is None
    assert cast_array_into(empty, np.zeros((6, 0), target)[::-2], rounding_mode=NE) is None
    created = cast_array(empty, target_dtype=target, rounding_mode=NE)
    assert created.shape == (3, 0) and created.dtype == np.dtype(target)

    # Then the layout, with the output untouched.
    for out, base in _refused_outputs(target):
        before = base.tobytes()
        raises_exactly(ValueError, OUTPUT_LAYOUT, cast_array_into, np.zeros(out.shape, source), out,
                       rounding_mode=NE)
        assert base.tobytes() == before


def test_layout_is_tested_before_the_conversion():
    # A failing conversion is not reached when the output is refused.
    arr = np.array([np.nan, 1e300], np.float64)
    out = read_only(np.zeros(2, np.int8))
    raises_exactly(ValueError, OUTPUT_LAYOUT, cast_array_into, arr, out, rounding_mode=NE)


SHAPES = [(), (1,), (5,), (2, 3), (2, 1, 3)]


@pytest.mark.parametrize("shape", SHAPES, ids=str)
@pytest.mark.parametrize("source, target", FLOAT_PAIRS)
def test_new_array(source, target, shape):
    arr = np.arange(int(np.prod(shape)), dtype=source).reshape(shape)
    result = cast_array(arr, target_dtype=target, rounding_mode=NE)
    assert type(result) is np.ndarray and result.shape == shape
    assert result.dtype == np.dtype(target) and result.dtype.num == TYPE_NUMBER[target]
    assert result.dtype.isnative
    assert result.flags.c_contiguous and result.flags.writeable and result.flags.owndata
    assert result.base is None and not np.shares_memory(result, arr)
    assert result.tolist() == arr.tolist()
    assert sys.getrefcount(result) == 2
    out = filled(shape, target)
    assert cast_array_into(arr, out, rounding_mode=NE) is None
    assert out.tolist() == arr.tolist()


def test_rank_0():
    assert cast_array(np.array(2.5), target_dtype="int8", rounding_mode=NE).tolist() == 2
    assert cast_array(np.array(2.5), target_dtype="int8", rounding_mode="nearest-away").tolist() == 3
    out = np.array(0, np.float16)
    assert cast_array_into(np.array(70000, np.int32), out, rounding_mode="towards-zero") is None
    assert float(out) == 65504.0
    raises_exactly(ValueError, NAN_MESSAGE, cast_array, np.array(np.nan, np.float32),
                   target_dtype="uint16", rounding_mode=NE, out_of_range_mode="clamp")


@requires_numpy2
@pytest.mark.parametrize("source, target", [("float64", "int8"), ("int16", "float16"), ("int16", "float64"),
                                            ("float64", "float32"), ("float32", "float32")])
def test_more_than_32_axes(source, target):
    arr = np.arange(3, dtype=source).reshape(MANY_AXES)
    raises_internal_fault(cast_array, arr, target_dtype=target, rounding_mode=NE)
    out = filled(MANY_AXES, target)
    before = out.tobytes()
    raises_internal_fault(cast_array_into, arr, out, rounding_mode=NE)
    assert out.tobytes() == before
    empty = cast_array(np.zeros(MANY_AXES_EMPTY, source), target_dtype=target, rounding_mode=NE)
    assert empty.shape == MANY_AXES_EMPTY
    assert cast_array(np.arange(3, dtype=source).reshape(AXIS_LIMIT), target_dtype=target,
                      rounding_mode=NE).ravel().tolist() == [0, 1, 2]


# --- direct pairs: no mode consulted ---------------------------------------------------------

WIDE_TO_FLOAT64 = [
    ("int64", 2**53 + 1, 2**53), ("int64", 2**53 + 3, 2**53 + 4), ("int64", -(2**53 + 1), -2**53),
    ("int64", 2**63 - 1, 2**63), ("int64", -2**63, -2**63), ("int64", 2**53 - 1, 2**53 - 1),
    ("uint64", 2**64 - 1, 2**64), ("uint64", 2**63, 2**63), ("uint64", 2**63 + 1024, 2**63),
    ("uint64", 2**63 + 1025, 2**63 + 2048), ("uint64", 2**63 + 3072, 2**63 + 4096),
]


@pytest.mark.parametrize("rounding_mode, out_of_range_mode", ALL_MODES)
def test_int64_and_uint64_to_float64_round_to_nearest_even_whatever_the_mode(rounding_mode, out_of_range_mode):
    for source in ("int64", "uint64"):
        cases = [(v, e) for s, v, e in WIDE_TO_FLOAT64 if s == source]
        arr = np.array([v for v, _ in cases], dtype=source)
        got = both_forms(arr, "float64", rounding_mode=rounding_mode, out_of_range_mode=out_of_range_mode)
        assert got == [f64_bits(float(e)) for _, e in cases]


def test_core_and_direct_int_to_float_pairs_differ_in_taking_the_mode():
    arr = np.array([2**24 + 1], np.int32)
    assert both_forms(arr, "float32", rounding_mode=NE) == [bits_of_value(2.0**24, "float32")]
    assert both_forms(arr, "float32", rounding_mode="towards-positive") == [bits_of_value(2.0**24 + 2, "float32")]
    for mode in ROUNDING_MODES:
        assert both_forms(arr, "float64", rounding_mode=mode) == [f64_bits(2.0**24 + 1)]
    wide = np.array([65535], np.uint16)
    for out_of_range_mode in OUT_OF_RANGE_MODES:
        assert both_forms(wide, "float16", rounding_mode=NE, out_of_range_mode=out_of_range_mode) == [0x7C00]
        assert both_forms(wide, "float16", rounding_mode="towards-zero",
                          out_of_range_mode=out_of_range_mode) == [0x7BFF]


def _random_source(rng, name, n):
    if name in INT_NAMES:
        lo, hi = int_range(name)
        values = rng.integers(lo, hi, n, dtype=name, endpoint=True)
        values[: min(n, 4)] = [lo, hi, 0, -1 if lo < 0 else 1][: min(n, 4)]
        return values
    # Any pattern: NaNs of every payload, signalling ones included, subnormals, zeros.
    return rng.integers(0, 2 ** (8 * np.dtype(name).itemsize), n, dtype=UINT[name], endpoint=False).view(name)


def _direct_expectation(arr, target):
    if arr.dtype.name == target:
        return stored(arr)
    return [bits_of_value(float(v), target) for v in arr.tolist()]


# Lengths around the vector blocks, and a longer run.
LENGTHS = tuple(range(0, 20)) + (31, 32, 33, 1000)


@pytest.mark.parametrize("source, target", DIRECT_FLOAT_SIDE)
def test_direct_pairs_over_lengths_offsets_and_modes(source, target):
    rng = np.random.default_rng(zlib.crc32(f"{source}-{target}".encode()))
    isize, osize = np.dtype(source).itemsize, np.dtype(target).itemsize
    for n in LENGTHS:
        values = _random_source(rng, source, n)
        want = _direct_expectation(values, target)
        for offset in (0, 1):
            in_buf = bytearray(isize * n + offset)
            arr = np.frombuffer(in_buf, dtype=source, count=n, offset=offset)
            arr[...] = values
            out_buf = bytearray(osize * n + 2 * offset)
            out = np.frombuffer(out_buf, dtype=target, count=n, offset=offset)
            mode, out_of_range_mode = ALL_MODES[(n + offset) % len(ALL_MODES)]
            assert cast_array_into(arr, out, rounding_mode=mode, out_of_range_mode=out_of_range_mode) is None
            assert stored(out) == want
            assert bytes(out_buf[:offset]) == bytes(offset) and bytes(out_buf[offset + osize * n:]) == bytes(offset)
            result = cast_array(arr, target_dtype=target, rounding_mode=mode, out_of_range_mode=out_of_range_mode)
            assert stored(result) == want


SPECIAL_PATTERNS = {
    "float32": [0x7F800001, 0xFFBFFFFF, 0x7FC12345, 0x80000000, 0x00000001, 0x807FFFFF, 0x7F800000, 0xFF800000],
    "float64": [0x7FF0000000000001, 0xFFF7FFFFFFFFFFFF, 0x7FF8123456789ABC, 0x8000000000000000, 0x1,
                0x800FFFFFFFFFFFFF, 0x7FF0000000000000, 0xFFF0000000000000],
}


@pytest.mark.parametrize("name", ["float32", "float64"])
@pytest.mark.parametrize("rounding_mode, out_of_range_mode", ALL_MODES)
def test_same_type_floats_are_bit_copies(name, rounding_mode, out_of_range_mode):
    arr = from_bits(SPECIAL_PATTERNS[name], name)
    assert both_forms(arr, name, rounding_mode=rounding_mode,
                      out_of_range_mode=out_of_range_mode) == SPECIAL_PATTERNS[name]
    # A map that matches nothing leaves the patterns as they are, signalling NaNs included.
    assert both_forms(arr, name, rounding_mode=rounding_mode, out_of_range_mode=out_of_range_mode,
                      scalar_map_entries=[(5.0, 6.0)]) == SPECIAL_PATTERNS[name]


# --- scalar maps -----------------------------------------------------------------------------

NAN_PAYLOAD = np.array([0x7FF800000000BEEF], np.uint64).view(np.float64)[0]


def _same_type_map_cases(name):
    """(source patterns, entries, expected patterns) for a same-type floating pair."""
    def b(x):
        return bits_of_value(x, name)

    nans = SPECIAL_PATTERNS[name][:3]
    inf, ninf = SPECIAL_PATTERNS[name][6:8]
    return [
        ([b(0.0), b(-0.0), b(1.0)], {0.0: 7.0}, [b(7.0), b(7.0), b(1.0)]),
        ([b(0.0), b(-0.0)], [(-0.0, 1.0), (0.0, 2.0)], [b(1.0), b(1.0)]),
        (nans + [b(1.0)], [(1.0, 3.0), (math.nan, 9.0), (-math.nan, 8.0)], [b(9.0)] * 3 + [b(3.0)]),
        (nans + [b(1.0)], [(1.0, 3.0)], nans + [b(3.0)]),
        ([inf, ninf], [(math.inf, 1.0)], [b(1.0), ninf]),
        ([b(5.0), b(5.0)], [(5.0, 1.0), (5.0, 2.0)], [b(1.0), b(1.0)]),
    ] + ([([b(2.0), b(3.0)], [(2.0, NAN_PAYLOAD)], [f64_bits(NAN_PAYLOAD), b(3.0)])] if name == "float64" else [])


@pytest.mark.parametrize("name", ["float32", "float64"])
def test_same_type_float_maps(name):
    for patterns, entries, want in _same_type_map_cases(name):
        arr = from_bits(patterns, name)
        for mode in ("towards-positive", NE):
            assert both_forms(arr, name, rounding_mode=mode, out_of_range_mode="clamp",
                              scalar_map_entries=entries) == want, entries


DIRECT_INT_MAPS = [
    ("int32", "float64", [5, 6, 5], [(5, 1.0), (5, 2.0)], [1.0, 6.0, 1.0]),
    ("int8", "float64", [-1, 0, -1, 7], {-1: math.nan}, [math.nan, 0.0, math.nan, 7.0]),
    ("int16", "float32", [0, 1, 0], {0: -0.0}, [-0.0, 1.0, -0.0]),
    ("uint64", "float64", [2**64 - 1, 2**64 - 2], {2**64 - 1: 1.0}, [1.0, 2.0**64]),
    ("uint8", "float32", [1, 2, 3], [(9, 9.0)], [1.0, 2.0, 3.0]),
]


@pytest.mark.parametrize("source, target, values, entries, want", DIRECT_INT_MAPS)
def test_direct_int_to_float_maps(source, target, values, entries, want):
    arr = np.array(values, dtype=source)
    for mode in ROUNDING_MODES:
        assert both_forms(arr, target, rounding_mode=mode,
                          scalar_map_entries=entries) == [bits_of_value(w, target) for w in want]


# (source, target, values, entries, modes, stored values): the map wins over rounding, range
# tests and errors, and its target is stored unchanged.
CORE_MAPS = [
    ("int32", "float16", [70000, 1], [(70000, 1.5)], {}, [1.5, 1.0]),
    ("int32", "float16", [70000], [], {}, [math.inf]),
    ("float64", "int8", [math.nan, 300.0, 2.5], {math.nan: -1, 300.0: 7}, {}, [-1, 7, 2]),
    ("float64", "int8", [0.0, -0.0, 2.5], [(-0.0, 9), (2.5, 4)], {"rounding_mode": "towards-zero"}, [9, 9, 4]),
    ("float16", "uint8", [math.inf, -math.inf, math.nan], {math.inf: 1, -math.inf: 2, math.nan: 3},
     {"out_of_range_mode": "wrap"}, [1, 2, 3]),
    ("float32", "int64", [1.5, -1.5], [(1.5, -5)], {"rounding_mode": "towards-positive"}, [-5, -1]),
    ("float64", "float32", [1e39, 1.0], [(1e39, 2.0)], {}, [2.0, 1.0]),
    ("float64", "float16", [1e5, 0.1], [(1e5, -0.0)], {"rounding_mode": "towards-zero"},
     [-0.0, 0.0999755859375]),
    ("float32", "float16", [3.0, math.nan], [(math.nan, 4.0)], {}, [3.0, 4.0]),
    ("float16", "float16", [2.0, 3.0], [(2.0, 5.0)], {}, [5.0, 3.0]),
    ("float16", "float64", [2.0, -0.0], [(0.0, 1.0)], {}, [2.0, 1.0]),
]


@pytest.mark.parametrize("source, target, values, entries, modes, want", CORE_MAPS)
def test_core_pairs_consult_the_map_first(source, target, values, entries, modes, want):
    arr = np.array(values, dtype=source)
    kwargs = {"rounding_mode": NE, **modes}
    got = both_forms(arr, target, scalar_map_entries=entries, **kwargs)
    if target in INT_NAMES:
        assert got == want
    else:
        assert got == [bits_of_value(w, target) for w in want]


# --- NaNs and infinities ---------------------------------------------------------------------

@pytest.mark.parametrize("source", FLOAT_NAMES)
@pytest.mark.parametrize("target", INT_NAMES)
def test_nan_and_infinity_to_integers(source, target):
    lo, hi = int_range(target)
    nans = from_bits({"float16": [0x7E00, 0xFE00, 0x7C01],
                      "float32": [0x7FC00000, 0xFFC00000, 0x7F800001],
                      "float64": [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001]}[source], source)
    for rounding_mode, out_of_range_mode in ALL_MODES:
        kwargs = {"rounding_mode": rounding_mode, "out_of_range_mode": out_of_range_mode}
        for i in range(3):
            refused_in_both_forms(ValueError, NAN_MESSAGE, nans[i:i + 1], target, **kwargs)
        infinities = np.array([math.inf, -math.inf], dtype=source)
        if out_of_range_mode == "clamp":
            assert both_forms(infinities, target, **kwargs) == [hi, lo]
        elif out_of_range_mode == "wrap":
            refused_in_both_forms(ValueError, "Cannot cast inf to integer type without scalar_map",
                                  infinities[:1], target, **kwargs)
            refused_in_both_forms(ValueError, "Cannot cast -inf to integer type without scalar_map",
                                  infinities[1:], target, **kwargs)
        else:
            for value in (math.inf, -math.inf):
                arr = np.array([value], dtype=source)
                want = expected(stored(arr)[0], source, target, rounding_mode, None)
                if isinstance(want, Failure):
                    refused_in_both_forms(ValueError, want, arr, target, **kwargs)
                else:
                    # A float16 limit that float16 cannot hold is an infinity, which passes.
                    assert source == "float16" and want in (lo, hi)
                    assert both_forms(arr, target, **kwargs) == [want]


INFINITY_MESSAGES = [
    ("float64", "int8", math.inf, "Value inf out of range [-128, 127]. "
     "Set out_of_range='clamp' or out_of_range='wrap' to handle this."),
    ("float16", "uint8", -math.inf, "Value -inf out of range [0, 255]. "
     "Set out_of_range='clamp' or out_of_range='wrap' to handle this."),
    ("float16", "uint32", -math.inf, "Value -inf out of range [0, inf]. "
     "Set out_of_range='clamp' or out_of_range='wrap' to handle this."),
]


@pytest.mark.parametrize("source, target, value, message", INFINITY_MESSAGES)
def test_infinity_messages(source, target, value, message):
    refused_in_both_forms(ValueError, message, np.array([value], source), target, rounding_mode=NE)


def test_float16_infinities_pass_limits_that_float16_cannot_hold():
    arr = np.array([math.inf, -math.inf], np.float16)
    assert both_forms(arr, "int32", rounding_mode=NE) == [2**31 - 1, -2**31]
    assert both_forms(arr[:1], "uint64", rounding_mode=NE) == [2**64 - 1]
    assert both_forms(arr[:1], "int16", rounding_mode=NE, out_of_range_mode="clamp") == [32767]


# (source pattern, source, target, stored pattern)
NAN_WIDTHS = [
    (0x7F800001, "float32", "float64", 0x7FF8000020000000),
    (0xFFC00001, "float32", "float64", 0xFFF8000020000000),
    (0x7FF0000000000001, "float64", "float32", 0x7FC00000),
    (0x7FF4000000000000, "float64", "float32", 0x7FE00000),
    (0xFFFFFFFFE0000000, "float64", "float32", 0xFFFFFFFF),
    (0x7FF4000000000000, "float64", "float16", 0x7F00),
    (0xFFF0000000000001, "float64", "float16", 0xFE00),
    (0x7F800001, "float32", "float16", 0x7E00),
    (0x7FA02000, "float32", "float16", 0x7F01),
    (0x7C01, "float16", "float32", 0x7FC02000),
    (0xFD00, "float16", "float64", 0xFFFC000000000000),
    (0x7C01, "float16", "float64", 0x7FF8040000000000),
    (0x7C01, "float16", "float16", 0x7C01),
    (0xFE55, "float16", "float16", 0xFE55),
]


@pytest.mark.parametrize("pattern, source, target, want", NAN_WIDTHS)
def test_nans_between_floating_types(pattern, source, target, want):
    assert quiet_nan_bits(pattern, source, target) == want or source == target
    arr = from_bits([pattern], source)
    for rounding_mode, out_of_range_mode in ALL_MODES:
        for entries in (None, [(1.0, 2.0)]):
            assert both_forms(arr, target, rounding_mode=rounding_mode, out_of_range_mode=out_of_range_mode,
                              scalar_map_entries=entries) == [want]


@pytest.mark.parametrize("source, target", [("float64", "float32"), ("float64", "float16"),
                                            ("float32", "float16")])
def test_infinities_narrow_without_error_in_every_mode(source, target):
    arr = np.array([math.inf, -math.inf], dtype=source)
    inf = {"float32": [0x7F800000, 0xFF800000], "float16": [0x7C00, 0xFC00]}[target]
    for rounding_mode, out_of_range_mode in ALL_MODES:
        assert both_forms(arr, target, rounding_mode=rounding_mode, out_of_range_mode=out_of_range_mode) == inf


# --- overflow errors, whole messages ----------------------------------------------------------

TAIL = ". Set out_of_range='clamp' or out_of_range='wrap' to handle this."
F32_MAX = "340282346638528860000000000000000000000"

# (source, target, value, modes, message)
OVERFLOWS = [
    ("float64", "int8", 300.0, {}, "Value 300 out of range [-128, 127]" + TAIL),
    ("float64", "uint8", -0.6, {}, "Value -1 out of range [0, 255]" + TAIL),
    ("float64", "int64", 2.0**63 + 2048, {},
     "Value 9223372036854778000 out of range [-9223372036854776000, 9223372036854776000]" + TAIL),
    ("float32", "int32", 3e9, {}, "Value 3000000000 out of range [-2147483648, 2147483648]" + TAIL),
    ("float32", "uint64", -1.0, {}, "Value -1 out of range [0, 18446744073709552000]" + TAIL),
    ("float16", "int8", 200.0, {}, "Value 200 out of range [-128, 127]" + TAIL),
    ("float64", "int16", 32767.5, {"rounding_mode": "nearest-away"}, "Value 32768 out of range [-32768, 32767]" + TAIL),
    ("float64", "float32", 1e39, {}, f"Value 1{'0' * 39} out of range [-{F32_MAX}, {F32_MAX}]" + TAIL),
    ("float64", "float32", 1e39, {"out_of_range_mode": "wrap"},
     f"Value 1{'0' * 39} out of range [-{F32_MAX}, {F32_MAX}]" + TAIL),
    ("float64", "float32", 3.4028235677973366e38, {},
     f"Value 340282356779733660000000000000000000000 out of range [-{F32_MAX}, {F32_MAX}]" + TAIL),
    ("float32", "float16", 65520.0, {}, "Value 65520 out of range [-65504, 65504]" + TAIL),
    ("float64", "float16", -1e300, {}, f"Value -1{'0' * 300} out of range [-65504, 65504]" + TAIL),
    ("float64", "float16", 65519.0, {"rounding_mode": "towards-positive"},
     "Value 65519 out of range [-65504, 65504]" + TAIL),
]


@pytest.mark.parametrize("source, target, value, modes, message", OVERFLOWS)
def test_overflow_messages(source, target, value, modes, message):
    arr = np.array([value], dtype=source)
    kwargs = {"rounding_mode": NE, **modes}
    refused_in_both_forms(ValueError, message, arr, target, **kwargs)
    assert expected(stored(arr)[0], source, target, kwargs["rounding_mode"],
                    kwargs.get("out_of_range_mode")) == message


# (source, target, value, modes, stored): values at the edge that are stored, not refused.
EDGES_STORED = [
    ("float64", "int64", 2.0**63, {}, 2**63 - 1),
    ("float64", "uint64", 2.0**64, {}, 2**64 - 1),
    ("float32", "int32", 2.0**31, {}, 2**31 - 1),
    ("float64", "int8", -128.5, {}, -128),
    ("float64", "uint8", -0.6, {"rounding_mode": "towards-zero"}, 0),
    ("float64", "int8", 300.0, {"out_of_range_mode": "wrap"}, 44),
    ("float64", "int8", 300.0, {"out_of_range_mode": "clamp"}, 127),
    ("float64", "uint64", -1.0, {"out_of_range_mode": "wrap"}, 2**64 - 1),
    ("float64", "int64", 1e300, {"out_of_range_mode": "wrap"}, 0),
    ("float64", "int32", 2.0**52 + 2.0**32 + 7, {"out_of_range_mode": "wrap"}, 7),
    ("float16", "int8", 65504.0, {"out_of_range_mode": "wrap"}, -32),
    ("float16", "uint8", -65504.0, {"out_of_range_mode": "wrap"}, 32),
    ("float32", "int16", -1e30, {"out_of_range_mode": "clamp"}, -32768),
]


@pytest.mark.parametrize("source, target, value, modes, want", EDGES_STORED)
def test_values_at_the_limits(source, target, value, modes, want):
    arr = np.array([value], dtype=source)
    assert both_forms(arr, target, **{"rounding_mode": NE, **modes}) == [want]


@pytest.mark.parametrize("source, target", [("float64", "float32"), ("float64", "float16"),
                                            ("float32", "float16")])
def test_overflow_under_the_other_modes(source, target):
    big = np.array([1e39 if source == "float64" else 1e5, -1e39 if source == "float64" else -1e5], source)
    inf, ninf, top, bottom = {"float32": (0x7F800000, 0xFF800000, 0x7F7FFFFF, 0xFF7FFFFF),
                              "float16": (0x7C00, 0xFC00, 0x7BFF, 0xFBFF)}[target]
    for mode in ROUNDING_MODES:
        assert both_forms(big, target, rounding_mode=mode, out_of_range_mode="clamp") == [
            top if mode in ("towards-zero", "towards-negative") else inf,
            bottom if mode in ("towards-zero", "towards-positive") else ninf]
    assert both_forms(big, target, rounding_mode="towards-zero") == [top, bottom]
    assert both_forms(big[1:], target, rounding_mode="towards-positive", out_of_range_mode="wrap") == [bottom]


# --- what a failing conversion leaves written -------------------------------------------------

# (source, target, values, modes, index of the failing element, message)
PARTIAL = [
    ("float64", "int16", [1.0, 2.0, 40000.0, 3.0, 70000.0], {}, 2, "Value 40000 out of range [-32768, 32767]" + TAIL),
    ("float16", "int8", [1, 2, 3, math.nan, 5, math.inf], {"out_of_range_mode": "clamp"}, 3, NAN_MESSAGE),
    ("float32", "uint64", [1.0, -0.4, -0.6, 2.0], {}, 2, "Value -1 out of range [0, 18446744073709552000]" + TAIL),
    ("float64", "int32", [1.5, 2.5, math.inf, 2.0], {"out_of_range_mode": "wrap"}, 2,
     "Cannot cast inf to integer type without scalar_map"),
    ("float32", "float16", [1.0, 2.0, 1e5, 4.0], {}, 2, "Value 100000 out of range [-65504, 65504]" + TAIL),
    ("float64", "float16", [0.5, 0.25, 1.0, -7e4, 1.0], {"out_of_range_mode": "wrap"}, 3,
     "Value -70000 out of range [-65504, 65504]" + TAIL),
    ("float64", "float32", [1.0, 0.1, 1e39, 2.0], {"rounding_mode": "towards-positive"}, 2,
     f"Value 1{'0' * 39} out of range [-{F32_MAX}, {F32_MAX}]" + TAIL),
]


@pytest.mark.parametrize("source, target, values, modes, index, message", PARTIAL)
def test_partial_write_on_error(source, target, values, modes, index, message):
    kwargs = {"rounding_mode": NE, **modes}
    arr = np.array(values, dtype=source)
    out, before = refused_in_both_forms(ValueError, message, arr, target, **kwargs)
    head = [expected(e, source, target, kwargs["rounding_mode"], kwargs.get("out_of_range_mode"))
            for e in stored(arr)[:index]]
    assert stored(out) == head + stored(filled(len(values), target))[index:]
    # In two dimensions the same elements, in row-major order.
    grid = np.array(values + values[:1], dtype=source).reshape(2, -1) if len(values) % 2 else arr.reshape(2, -1)
    out2 = filled(grid.shape, target)
    raises_exactly(ValueError, message, cast_array_into, grid, out2, **kwargs)
    assert stored(out2.ravel()) == head + stored(filled(grid.size, target))[index:]


def test_failed_calls_release_the_input(registry):
    arr = np.array([1.0, 300.0], np.float64)
    for _ in range(2):
        raises_exactly(ValueError, "Value 300 out of range [-128, 127]" + TAIL, cast_array, arr,
                       target_dtype="int8", rounding_mode=NE)
        registry.assert_not_borrowed(arr)
    assert cast_array(arr, target_dtype="int8", rounding_mode=NE, out_of_range_mode="clamp").tolist() == [1, 127]
    raises_exactly(TypeError, MAP_START, cast_array_into, arr, np.zeros(2, np.float32), rounding_mode=NE,
                   scalar_map_entries=3.5)
    registry.assert_not_borrowed(arr)


# --- shared and unaligned buffers ----------------------------------------------------------

def _fill(view, rng):
    """Writes finite source values through `view` (each element a value its type holds)."""
    if view.dtype.name in INT_NAMES:
        lo, hi = int_range(view.dtype.name)
        view[...] = rng.integers(max(lo, -100000), min(hi, 100000), view.size, endpoint=True)
    else:
        view[...] = np.round(rng.uniform(-300, 300, view.size), 2)


def _reinterpreted(source, target):
    return reinterpreted(source, target, 37, _fill)


def _shifted(source, target, shift):
    return shifted(source, target, shift, 37, _fill)


OVERLAPS = {
    "same-float64": same_array("float64", 41),
    "same-float32": same_array("float32", 41),
    "same-float16": same_array("float16", 41),
    "float64-as-int64": _reinterpreted("float64", "int64"),
    "float64-to-uint8": _reinterpreted("float64", "uint8"),
    "float16-to-int64": _reinterpreted("float16", "int64"),
    "int32-as-float32": _reinterpreted("int32", "float32"),
    "int16-to-float64": _reinterpreted("int16", "float64"),
    "uint8-to-float32": _reinterpreted("uint8", "float32"),
    "int64-to-float16": _reinterpreted("int64", "float16"),
    "float32-to-float64": _reinterpreted("float32", "float64"),
    "float64-to-float32": _reinterpreted("float64", "float32"),
    "float64-to-float16": _reinterpreted("float64", "float16"),
    "float16-to-float32": _reinterpreted("float16", "float32"),
    "float64-shift-up": _shifted("float64", "float64", 8),
    "float64-shift-down": _shifted("float64", "float64", -8),
    "float32-to-float64-shifted": _shifted("float32", "float64", 12),
    "float64-to-int32-shifted": _shifted("float64", "int32", -3),
    "int8-to-float64-shifted": _shifted("int8", "float64", -5),
}


@pytest.mark.parametrize("make", OVERLAPS.values(), ids=OVERLAPS.keys())
def test_overlapping_input_and_output(make):
    arr, out = make(np.random.default_rng(7))
    assert np.shares_memory(arr, out)
    kwargs = {"rounding_mode": "towards-zero", "out_of_range_mode": "clamp"}
    want = stored(cast_array(arr.copy(), target_dtype=out.dtype.name, **kwargs))
    assert cast_array_into(arr, out, **kwargs) is None
    assert stored(out) == want


@pytest.mark.parametrize("source, target", [("float64", "int16"), ("float16", "uint32"), ("int64", "float32"),
                                            ("int8", "float16"), ("float32", "float16"), ("float16", "float64"),
                                            ("float64", "float64"), ("uint32", "float64")])
def test_unaligned_buffers(source, target):
    rng = np.random.default_rng(11)
    n = 23
    aligned = np.empty(n, source)
    _fill(aligned, rng)
    kwargs = {"rounding_mode": "nearest-away", "out_of_range_mode": "wrap"}
    want = stored(cast_array(aligned, target_dtype=target, **kwargs))
    isize, osize = np.dtype(source).itemsize, np.dtype(target).itemsize
    for offset in range(1, max(isize, osize)):
        arr = np.frombuffer(bytearray(isize * n + offset), dtype=source, count=n, offset=offset)
        arr[...] = aligned
        out = np.frombuffer(bytearray(osize * n + offset), dtype=target, count=n, offset=offset)
        assert cast_array_into(arr, out, **kwargs) is None
        assert stored(out) == want
        assert stored(cast_array(arr, target_dtype=target, **kwargs)) == want
