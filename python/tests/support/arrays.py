"""Arrays as the tests build and read them: contents as integers or bit patterns, outputs
prefilled with a recognisable value, read-only arrays."""

import numpy as np

from .float_model import UINT
from .int_model import INT_NAMES, int_range

# Per floating type, a NaN pattern that no conversion writes.
PREFILL_PATTERN = {"float16": 0x7D5A, "float32": 0x7FA5A5A5, "float64": 0x7FF5A5A5A5A5A5A5}


def stored(arr):
    """What an array holds: integers, or the bit patterns of a floating type."""
    name = arr.dtype.name
    return arr.tolist() if name in INT_NAMES else arr.view(UINT[name]).tolist()


def from_bits(patterns, name):
    """A floating array holding the given bit patterns."""
    return np.array(patterns, dtype=UINT[name]).view(name)


def array_of(elements, name):
    """An array of integers, or of a floating type from its bit patterns."""
    return np.array(elements, dtype=name) if name in INT_NAMES else from_bits(elements, name)


def prefill(name):
    """A recognisable value of an element type that no conversion here writes: an integer, or
    the bit pattern of a NaN for a floating type."""
    return int_range(name)[1] - 3 if name in INT_NAMES else PREFILL_PATTERN[name]


def filled(shape, name):
    """An output holding prefill(name) in every element."""
    if name in INT_NAMES:
        return np.full(shape, prefill(name), dtype=name)
    return np.full(shape, prefill(name), dtype=UINT[name]).view(name)


def read_only(arr):
    """arr, marked not writeable."""
    arr.flags.writeable = False
    return arr
