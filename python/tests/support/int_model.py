"""Reference model of the integer element types, computed in Python integers."""

import itertools

import numpy as np

from .number_text import out_of_range_message

INT_NAMES = ("int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64")
FLOAT_NAMES = ("float16", "float32", "float64")
ALL_NAMES = INT_NAMES + FLOAT_NAMES

# NumPy type numbers of the native descriptors the module creates and accepts.
TYPE_NUMBER = {
    "int8": 1, "uint8": 2, "int16": 3, "uint16": 4,
    "int32": 5, "uint32": 6, "int64": 7, "uint64": 8,
    "float32": 11, "float64": 12, "float16": 23,
}

INT_PAIRS = tuple(itertools.product(INT_NAMES, INT_NAMES))


def width(name: str) -> int:
    return int(name.lstrip("uint"))


def is_signed(name: str) -> bool:
    return not name.startswith("u")


def int_range(name: str) -> tuple[int, int]:
    w = width(name)
    if is_signed(name):
        return -(1 << (w - 1)), (1 << (w - 1)) - 1
    return 0, (1 << w) - 1


def is_direct(source: str, target: str) -> bool:
    """Every value of the source type is a value of the target type."""
    smin, smax = int_range(source)
    dmin, dmax = int_range(target)
    return dmin <= smin and smax <= dmax


CORE_PAIRS = tuple(p for p in INT_PAIRS if not is_direct(*p))
DIRECT_PAIRS = tuple(p for p in INT_PAIRS if is_direct(*p))


def fits(value: int, name: str) -> bool:
    lo, hi = int_range(name)
    return lo <= value <= hi


def clamp(value: int, name: str) -> int:
    lo, hi = int_range(name)
    return min(max(value, lo), hi)


def wrap(value: int, name: str) -> int:
    w = width(name)
    low_bits = value & ((1 << w) - 1)
    if is_signed(name) and low_bits >> (w - 1):
        return low_bits - (1 << w)
    return low_bits


def shown_bounds(source: str, target: str) -> tuple[int, int]:
    """The source values the target can hold: the bounds an error message shows."""
    smin, smax = int_range(source)
    dmin, dmax = int_range(target)
    return max(smin, dmin), min(smax, dmax)


def range_error(value: int, source: str, target: str) -> str:
    lo, hi = shown_bounds(source, target)
    return out_of_range_message(float(value), float(lo), float(hi))


def convert(value: int, target: str, mode):
    """The stored value, or None when the conversion must fail."""
    if mode == "clamp":
        return clamp(value, target)
    if mode == "wrap":
        return wrap(value, target)
    return value if fits(value, target) else None


def edge_values(source: str, target: str) -> list[int]:
    """Values of the source type at and beyond the limits of the target type."""
    smin, smax = int_range(source)
    dmin, dmax = int_range(target)
    candidates = {
        smin, smin + 1, smax - 1, smax,
        dmin - 1, dmin, dmin + 1, dmax - 1, dmax, dmax + 1,
        -129, -128, -1, 0, 1, 2, 127, 128, 200, 255, 256, 300,
        (1 << 53) + 1, (1 << 63) - 1, 1 << 63, -(1 << 63) + 1,
    }
    return sorted(v for v in candidates if smin <= v <= smax)


def np_array(values, name: str, **kwargs) -> np.ndarray:
    return np.array(values, dtype=np.dtype(name), **kwargs)
