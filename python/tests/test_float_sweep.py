"""All 121 pairs, both forms, every rounding mode and out-of-range mode, over a table of values
whose results come from the exact model of float_model."""

import itertools

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.arrays import array_of, filled, stored
from support.float_model import UINT, Failure, expected, value_of_bits
from support.int_model import ALL_NAMES, INT_NAMES, edge_values, int_range
from support.modes import OUT_OF_RANGE_MODES, ROUNDING_MODES
from support.number_text import out_of_range_message

ALL_PAIRS = tuple(itertools.product(ALL_NAMES, ALL_NAMES))

# Source values of the floating types, given as float64 values and rounded to the source type
# by NumPy (the model reads back what the array holds): rounding ties and their neighbours, the
# "nearest-away" sum that rounds up (just below one half; odd integers from 2^(p-1) on), the
# limits of every integer type and their neighbours, the edges of float16 and float32, double
# rounding through binary32, subnormals, zeros and infinities.
FLOAT_VALUES = [
    0.0, -0.0, 0.25, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 3.7, -3.5, -0.7, 0.1,
    0.49999999999999994, 0.4999999701976776, -0.4999999701976776,
    2.0**52 + 1, 2.0**23 + 1, -(2.0**23 + 1), 2.0**24 + 1, 1025.0, 2049.0, 2051.0, 4097.0,
    127.4, 127.5, 128.0, -128.5, -128.6, -129.0, 255.5, 256.0, -1.0, 32767.5, 32768.0, -32768.5,
    -32769.0, 65535.5, 65536.0, 2.0**31 - 0.5, 2.0**31, -2.0**31 - 0.5, -2.0**31 - 1, 2.0**32 - 0.5,
    2.0**32, 2.0**63 - 1024, 2.0**63, 2.0**63 + 2048, -2.0**63, -2.0**63 - 2048, 2.0**64 - 2048,
    2.0**64, 1e19, -1e19, 1e20,
    65504.0, 65519.0, 65520.0, -65520.0, 1.0 + 2.0**-11, 1.0 + 2.0**-11 + 2.0**-40, -(1.0 + 2.0**-11),
    1.0 + 2.0**-24, 1.0 + 2.0**-24 + 2.0**-60, 3.4028234663852886e38, 3.4028235677973366e38,
    3.402823567797337e38, -3.4028235677973366e38, 1e39, 1e300, -1e300, 1.7976931348623157e308,
    5e-324, -1e-300, 1e-40, 6e-8, -3e-8, 2.0**-25,
    float("inf"), float("-inf"),
]

# NaNs: quiet and signalling, both signs, with payloads.
NAN_BITS = {
    "float16": [0x7E00, 0xFE00, 0x7C01, 0x7E55, 0xFD01],
    "float32": [0x7FC00000, 0xFFC00000, 0x7F800001, 0x7FD5A5A5, 0xFFA00001],
    "float64": [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001, 0x7FFDEADBEEF12345,
                0xFFF4000000000001],
}

# Integer source values beyond each integer type's limits: the float32 and float16 rounding
# edges, ties, and the int64 / uint64 values that float64 cannot hold.
INT_VALUES = [
    0, 1, -1, 2, -2, 100, -100, 2049, 2051, -2049, 4097, 65504, 65505, 65519, 65520, 65535, -65520,
    2**24 + 1, 2**24 + 3, -(2**24 + 1), 2**31 + 128, 2**31 + 129, 2**53 + 1, 2**53 + 3, -(2**53 + 1),
    2**60 + 2**36, 2**60 + 2**36 + 1, -(2**60 + 2**36 + 1), 2**63 + 1024, 2**63 + 1025, 2**63 + 3072,
    2**64 - 2,
]


def _unique(seq):
    return list(dict.fromkeys(seq))


def source_elements(source, target):
    """Values (integer sources) or patterns (floating sources) of the source type."""
    if source in INT_NAMES:
        lo, hi = int_range(source)
        limits = [v for name in INT_NAMES for m in int_range(name) for v in (m - 1, m, m + 1)]
        values = INT_VALUES + limits + (edge_values(source, target) if target in INT_NAMES else [])
        return _unique(v for v in values if lo <= v <= hi)
    with np.errstate(over="ignore"):
        rounded = np.array(FLOAT_VALUES, dtype=np.float64).astype(source)
    return _unique(rounded.view(UINT[source]).tolist() + NAN_BITS[source])


def vector_path_outcomes(source, target, mode, out_of_range, element, message):
    """Besides the element loop's, the messages a failing element may get and the patterns it
    may leave in a caller's output when the core takes one of its vectorised paths (empty
    scalar map, AVX): float64 to int32 with no out-of-range mode (not "nearest-away") reports
    the element before rounding with the int32 limits; float64 to float32 to nearest writes
    the whole destination before it reports."""
    messages, written = {message}, set()
    if (source, target, out_of_range) == ("float64", "int32", None) and mode != "nearest-away":
        x = value_of_bits(element, source)
        if x == x:
            messages.add(out_of_range_message(x, -2147483648.0, 2147483647.0))
    if (source, target, mode) == ("float64", "float32", "nearest-even"):
        written.add(0x7F800000 if value_of_bits(element, source) > 0 else 0xFF800000)
    return messages, written


def raises_one_of(messages, func, *args, **kwargs):
    """Call func and require a ValueError whose whole message is one of `messages`."""
    with pytest.raises(BaseException) as info:
        func(*args, **kwargs)
    exc = info.value
    assert type(exc) is ValueError, f"{type(exc).__name__}: {exc}"
    assert exc.args == (str(exc),) and str(exc) in messages, (str(exc), messages)
    assert exc.__cause__ is None and exc.__context__ is None


@pytest.mark.parametrize("source, target", ALL_PAIRS)
def test_every_pair_against_the_model(source, target):
    elements = source_elements(source, target)
    arr = array_of(elements, source)
    for mode, out_of_range in itertools.product(ROUNDING_MODES, OUT_OF_RANGE_MODES):
        context = (mode, out_of_range)
        kwargs = {"rounding_mode": mode, "out_of_range_mode": out_of_range}
        results = [expected(e, source, target, mode, out_of_range) for e in elements]
        converted = [i for i, r in enumerate(results) if not isinstance(r, Failure)]
        want = [results[i] for i in converted]

        result = cast_array(arr[converted], target_dtype=target, **kwargs)
        assert result.dtype == np.dtype(target) and result.shape == (len(converted),)
        assert stored(result) == want, context
        out = filled(len(converted), target)
        assert cast_array_into(arr[converted], out, **kwargs) is None
        assert stored(out) == want, context

        for i, message in enumerate(results):
            if not isinstance(message, Failure):
                continue
            one = arr[i:i + 1]
            messages, written = vector_path_outcomes(source, target, mode, out_of_range, elements[i], message)
            raises_one_of(messages, cast_array, one, target_dtype=target, **kwargs)
            out = filled(1, target)
            before = stored(out)
            raises_one_of(messages, cast_array_into, one, out, **kwargs)
            assert stored(out) == before or stored(out)[0] in written, context
