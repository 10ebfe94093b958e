"""One screen of _ossrel_rs: a float64 sensor frame turned into uint8 under explicit rules.

Run with the module installed:  python examples/demo.py
Every value and message printed below is computed by the module (or NumPy) as the demo runs.
"""

import numpy as np

import _ossrel_rs

MODES = ("nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away")
LABEL = 24  # width of the label column
CELL = 9  # width of one value column


def text(value):
    """A value as printed: a floating one as an integer when it is one (float16's largest
    finite value is 65504, not its shortest digits 65500), else the shortest digits of its type."""
    if isinstance(value, np.floating):
        if np.isfinite(value) and value == np.trunc(value):
            return str(int(value))
        return np.format_float_positional(value, trim="-")
    return str(value)


def row(label, values):
    """One aligned line: a label, then each value right-aligned in its column."""
    print(f"  {label:<{LABEL}}" + "".join(f"{text(v):>{CELL}}" for v in values))


def attempt(label, cast, *args, **kwargs):
    """Print the result of one cast, or the error it raises, on one line."""
    try:
        result = cast(*args, **kwargs)
    except ValueError as error:
        print(f"  {label:<{LABEL}}ValueError: {error}")
    else:
        row(label, result)


def to_u8(frame, **rules):
    return _ossrel_rs.cast_array(frame, target_dtype="uint8", rounding_mode="nearest-even", **rules)


# A row of a float64 sensor frame bound for an 8-bit display: one dropout (NaN) and two values
# outside 0..255 (an undershoot and a saturated pixel); 87.5 and 0.5 are exact ties.
frame = np.array([12.4, 87.5, 254.6, np.nan, -3.2, 300.7, 0.5, 128.5])
DROPOUT = [(np.nan, 0)]  # scalar map: a dropout becomes the sentinel 0

print("_ossrel_rs: a float64 sensor frame to uint8, under rules the caller states")
print()
row("frame (float64)", frame)
with np.errstate(invalid="ignore"):  # NumPy's cast of NaN / out-of-range values warns
    row("astype(np.uint8)", frame.astype(np.uint8))
print("  (astype truncates; its NaN and out-of-range cells are platform-dependent)")
print()
print('cast_array(frame, target_dtype="uint8", rounding_mode="nearest-even", ...):')
attempt("clamp, no scalar map", to_u8, frame, out_of_range_mode="clamp")
attempt("clamp, NaN -> 0", to_u8, frame, out_of_range_mode="clamp", scalar_map_entries=DROPOUT)
attempt("wrap, NaN -> 0", to_u8, frame, out_of_range_mode="wrap", scalar_map_entries=DROPOUT)
attempt("no mode, NaN -> 0", to_u8, frame, scalar_map_entries=DROPOUT)
print()

ties = np.array([-2.5, -1.5, -0.5, 0.5, 1.5, 2.5])
print("The five rounding modes on ties (float64 -> int8):")
row("value", ties)
for mode in MODES:
    row(mode, _ossrel_rs.cast_array(ties, target_dtype="int8", rounding_mode=mode))
print()

# float16 keeps 11 significant bits: 0.1 and 3.14159 are inexact, and above 2048 the step is 2.
narrow = np.array([0.1, 3.14159, 2049.0, -2049.0])
print("float64 -> float16 (11 significant bits; above 2048 the step is 2):")
row("value", narrow)
for mode in ("nearest-even", "towards-positive"):
    row(mode, _ossrel_rs.cast_array(narrow, target_dtype="float16", rounding_mode=mode))
huge = np.array([1e6])
attempt("1e6, towards-positive", _ossrel_rs.cast_array, huge, target_dtype="float16",
        rounding_mode="towards-positive")
attempt("1e6, towards-zero", _ossrel_rs.cast_array, huge, target_dtype="float16",
        rounding_mode="towards-zero")
attempt("1e6, nearest-even, clamp", _ossrel_rs.cast_array, huge, target_dtype="float16",
        rounding_mode="nearest-even", out_of_range_mode="clamp")
print()

# cast_array_into writes into an array the caller owns, here row 1 of a display image.
image = np.full((3, frame.size), 7, dtype=np.uint8)
_ossrel_rs.cast_array_into(frame, image[1], rounding_mode="nearest-even",
                           out_of_range_mode="clamp", scalar_map_entries=DROPOUT)
print("cast_array_into(frame, image[1], ..., clamp, NaN -> 0) into a caller's 3x8 uint8 image:")
for index, line in enumerate(image):
    row(f"image[{index}]", line)
print()

# Integer sources take the same out-of-range rules (and no rounding).
counts = np.array([-3, 0, 255, 256, 300], dtype=np.int32)
print("int32 -> uint8:")
row("value", counts)
for mode in ("clamp", "wrap"):
    attempt(mode, to_u8, counts, out_of_range_mode=mode)
attempt("no mode", to_u8, counts)
