"""Reference model of the conversions with a floating side, computed exactly in Python.

Values are exact: a floating element is a Python float (every float16, float32 and float64
value is one), rounding to a floating format is done on fractions.Fraction, and rounding to
an integral value with Python's exact integer operations. Floating results are bit patterns,
compared as such; failures are the whole message texts.

The rules modelled:
- floating to integer: a NaN fails in every mode; the value is rounded to an integral value
  in the source's precision ("nearest-away" adds one half in that precision, float16 in
  binary32, before taking the floor); the limits are the target's minimum and maximum rounded
  to the source type (float16 through binary32, so a limit beyond 65504 may be an infinity);
  with no out-of-range mode a rounded value outside the limits fails, "clamp" saturates,
  "wrap" fails on an infinity and otherwise stores the target value congruent to the rounded
  value modulo 2^w when it lies outside the limits (exactly), saturating inside them;
- integer to floating: the core pairs round the integer to nearest, ties to even, under
  "nearest-even", and otherwise round its binary64 value by the mode; the direct pairs (every
  integer type to float64, 8- and 16-bit integers to float32) take the nearest-even value
  whatever the mode;
- floating to floating: widenings are exact; narrowings take the nearest-even result (float64
  to float16 through binary32, two roundings), then the directed modes take the directed
  rounding of the source value and "nearest-away" moves only an exact tie away from zero; a
  finite value whose result is an infinity fails unless the mode is "clamp"; a NaN that changes
  width keeps its sign and upper payload bits and comes out quiet; float16 to float16,
  float32 to float32 and float64 to float64 keep the pattern.
"""

import math
import struct
from fractions import Fraction

import numpy as np

from .int_model import INT_NAMES, clamp, int_range, range_error, wrap
from .int_model import convert as convert_int
from .number_text import out_of_range_message, render_number

# precision in bits (the leading bit included), smallest normal exponent, largest exponent,
# fraction bits
FORMATS = {
    "float16": (11, -14, 15, 10),
    "float32": (24, -126, 127, 23),
    "float64": (53, -1022, 1023, 52),
}
UINT = {"float16": np.uint16, "float32": np.uint32, "float64": np.uint64}
WIDTH = {"float16": 16, "float32": 32, "float64": 64}


class Failure(str):
    """The message of a conversion that must fail."""


def max_finite(name) -> Fraction:
    p, _, emax, _ = FORMATS[name]
    return (2 - Fraction(2) ** (1 - p)) * Fraction(2) ** emax


# --- bit patterns -----------------------------------------------------------------------------

def f64_bits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def f64_from_bits(bits: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def f32_bits(x: float) -> int:
    """The pattern of x rounded to binary32 by the platform (an overflow is an error)."""
    return struct.unpack("<I", struct.pack("<f", x))[0]


def value_of_bits(bits: int, name: str) -> float:
    """The value of a floating pattern as a Python float (exact); NaNs come out as nan."""
    return float(np.array([bits], dtype=UINT[name]).view(name)[0])


def bits_of_value(value: float, name: str) -> int:
    """The pattern of a value that the format holds exactly (an infinity, a signed zero, ...)."""
    if name == "float64":
        return f64_bits(value)
    converted = np.array([value], dtype=np.float64).astype(name)
    assert math.isnan(value) or float(converted[0]) == value, (value, name)
    return int(converted.view(UINT[name])[0])


def is_nan_bits(bits: int, name: str) -> bool:
    _, _, _, fraction = FORMATS[name]
    exponent_mask = ((1 << (WIDTH[name] - 1 - fraction)) - 1) << fraction
    return bits & exponent_mask == exponent_mask and bits & ((1 << fraction) - 1) != 0


def quiet_nan_bits(bits: int, source: str, target: str) -> int:
    """A NaN of `source` in `target`: its sign, its fraction's upper bits, the quiet bit set."""
    fs = FORMATS[source][3]
    ft = FORMATS[target][3]
    sign = bits >> (WIDTH[source] - 1)
    fraction = bits & ((1 << fs) - 1)
    fraction = fraction << (ft - fs) if ft >= fs else fraction >> (fs - ft)
    exponent = ((1 << (WIDTH[target] - 1 - ft)) - 1) << ft
    return (sign << (WIDTH[target] - 1)) | exponent | (1 << (ft - 1)) | fraction


# --- rounding to a floating format --------------------------------------------------------------

def round_to_format(q, name: str, mode: str) -> float:
    """The exact value q (Fraction, int or finite float) rounded to the format `name` under
    `mode`, IEEE style (overflow to an infinity or to the largest finite value by the mode);
    a zero keeps the sign of q, so q must not be a zero itself."""
    q = Fraction(q)
    assert q != 0
    p, emin, _, _ = FORMATS[name]
    negative = q < 0
    a = -q if negative else q
    e = a.numerator.bit_length() - a.denominator.bit_length()
    if Fraction(2) ** e > a:
        e -= 1
    quantum = Fraction(2) ** (max(e, emin) - p + 1)
    n, rest = divmod(a, quantum)
    half = quantum / 2
    if mode == "nearest-even":
        n += rest > half or (rest == half and n % 2 == 1)
    elif mode == "nearest-away":
        n += rest >= half
    elif mode == "towards-positive":
        n += rest > 0 and not negative
    elif mode == "towards-negative":
        n += rest > 0 and negative
    magnitude = n * quantum
    if magnitude > max_finite(name):
        to_infinity = (mode in ("nearest-even", "nearest-away")
                       or (mode == "towards-positive" and not negative)
                       or (mode == "towards-negative" and negative))
        result = math.inf if to_infinity else float(max_finite(name))
    else:
        result = float(magnitude)
    return -result if negative else result


def round_value(x: float, name: str, mode: str) -> float:
    """round_to_format for any float, zeros and infinities passing unchanged."""
    if x == 0 or math.isinf(x):
        return x
    return round_to_format(x, name, mode)


def nearest_even_narrowed(x: float, source: str, target: str) -> float:
    """The plain narrowing: float64 to float16 goes through binary32 (two roundings)."""
    if source == "float64" and target == "float16":
        return round_value(round_value(x, "float32", "nearest-even"), "float16", "nearest-even")
    return round_value(x, target, "nearest-even")


def is_tie(x: float, name: str) -> bool:
    """Whether x lies exactly halfway between two adjacent finite values of the format."""
    if x == 0 or math.isinf(x):
        return False
    down = round_to_format(x, name, "towards-zero")
    up = round_to_format(x, name, "towards-positive" if x > 0 else "towards-negative")
    return down != up and not math.isinf(up) and (Fraction(down) + Fraction(up)) / 2 == Fraction(x)


# --- rounding to an integral value, in the source's precision -----------------------------------

def round_integral(x: float, source: str, mode: str):
    """x (finite) rounded to an integral value as the source type computes it: an int."""
    if mode == "nearest-even":
        return round(x)
    if mode == "towards-zero":
        return math.trunc(x)
    if mode == "towards-positive":
        return math.ceil(x)
    if mode == "towards-negative":
        return math.floor(x)
    # nearest-away: the magnitude plus one half, the sum rounded in the source's precision
    if source == "float64":
        s = abs(x) + 0.5
    else:
        s = float(np.float32(abs(x)) + np.float32(0.5))
    return math.floor(s) if x >= 0 else -math.floor(s)


def float_limits(source: str, target: str) -> tuple[float, float]:
    """The target's minimum and maximum rounded to the source type (float16 through binary32)."""
    def rounded(m):
        if m == 0:
            return 0.0
        if source == "float16":
            return round_value(round_to_format(m, "float32", "nearest-even"), "float16", "nearest-even")
        return round_to_format(m, source, "nearest-even")
    lo, hi = int_range(target)
    return rounded(lo), rounded(hi)


def non_finite_message(value: float) -> str:
    return f"Cannot cast {render_number(value)} to integer type without scalar_map"


# --- the three floating families ------------------------------------------------------------

def float_to_int(x: float, source: str, target: str, mode: str, out_of_range):
    """The stored integer, or a Failure."""
    if math.isnan(x):
        return Failure(non_finite_message(x))
    r = x if math.isinf(x) else round_integral(x, source, mode)
    lo, hi = float_limits(source, target)
    if out_of_range == "clamp":
        return clamp(r, target)
    if out_of_range == "wrap":
        if math.isinf(r):
            return Failure(non_finite_message(r))
        return wrap(r, target) if r < lo or r > hi else clamp(r, target)
    if r < lo or r > hi:
        return Failure(out_of_range_message(float(r), lo, hi))
    return clamp(r, target)


def is_direct_int_to_float(source: str, target: str) -> bool:
    return target == "float64" or (target == "float32" and source in ("int8", "uint8", "int16", "uint16"))


def int_to_float(x: int, source: str, target: str, mode: str) -> int:
    """The stored pattern; this family never fails."""
    if x == 0:
        return 0
    if is_direct_int_to_float(source, target) or mode == "nearest-even":
        return bits_of_value(round_to_format(x, target, "nearest-even"), target)
    return bits_of_value(round_to_format(float(x), target, mode), target)


def float_to_float(bits: int, source: str, target: str, mode: str, out_of_range):
    """The stored pattern, or a Failure."""
    if source == target:
        return bits
    if is_nan_bits(bits, source):
        return quiet_nan_bits(bits, source, target)
    x = value_of_bits(bits, source)
    if WIDTH[target] > WIDTH[source]:
        return bits_of_value(x, target)
    r = nearest_even_narrowed(x, source, target)
    if mode in ("towards-zero", "towards-positive", "towards-negative"):
        r = round_value(x, target, mode)
    elif mode == "nearest-away" and is_tie(x, target):
        r = round_value(x, target, "nearest-away")
    if math.isinf(r) and not math.isinf(x) and out_of_range != "clamp":
        limit = float(max_finite(target))
        return Failure(out_of_range_message(x, -limit, limit))
    return bits_of_value(r, target)


def expected(element: int, source: str, target: str, mode: str, out_of_range):
    """The stored value (an integer, or a pattern for a floating target) of one source element
    (a value for an integer source, a pattern for a floating one), or a Failure."""
    if source in INT_NAMES and target in INT_NAMES:
        stored = convert_int(element, target, out_of_range)
        return Failure(range_error(element, source, target)) if stored is None else stored
    if source in INT_NAMES:
        return int_to_float(element, source, target, mode)
    if target in INT_NAMES:
        return float_to_int(value_of_bits(element, source), source, target, mode, out_of_range)
    return float_to_float(element, source, target, mode, out_of_range)

