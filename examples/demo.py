"""One screen of _ossrel_rs: a float64 sensor frame turned into uint8 under explicit rules.

Run with the module installed:  python examples/demo.py
Every value and message printed below is computed by the module (or NumPy) as the demo runs, and
each row names the arguments its call passes besides those its section's heading shows.
"""

from functools import partial

import numpy as np

import _ossrel_rs

MODES = ("nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away")
LABEL = 34  # width of the label column; a longer label takes a line of its own
CELL = 8  # width of one value column


def text(value):
    """A value as printed: a floating one as an integer when it is one (float16's largest
    finite value is 65504, not its shortest digits 65500), else the shortest digits of its type."""
    if isinstance(value, np.floating):
        if np.isfinite(value) and value == np.trunc(value):
            return str(int(value))
        return np.format_float_positional(value, trim="-")
    return str(value)


def arguments(**kwargs):
    """Keyword arguments as a call writes them: name="text" or name=repr(value)."""
    return ", ".join(f'{name}="{value}"' if isinstance(value, str) else f"{name}={value!r}"
                     for name, value in kwargs.items())


def label_column(label):
    """The start of a row: the label in its column, or on a line of its own when longer."""
    if len(label) > LABEL:
        print(f"  {label}")
        label = ""
    return f"  {label:<{LABEL}}"


def row(label, values):
    """One aligned line: a label, then each value right-aligned in its column."""
    print(label_column(label) + "".join(f"{text(v):>{CELL}}" for v in values))


def attempt(cast, value, **kwargs):
    """One call of cast on value, labelled by its keyword arguments: the result, or the error."""
    try:
        result = cast(value, **kwargs)
    except ValueError as error:
        print(label_column(arguments(**kwargs)) + f"ValueError: {error}")
    else:
        row(arguments(**kwargs), result)


# A row of a float64 sensor frame bound for an 8-bit display: one dropout (NaN) and two values
# outside 0..255 (an undershoot and a saturated pixel); 87.5 and 0.5 are exact ties.
frame = np.array([12.4, 87.5, 254.6, np.nan, -3.2, 300.7, 0.5, 128.5])
DROPOUT = [(np.nan, 0)]  # scalar map: a dropout becomes the sentinel 0
to_u8 = partial(_ossrel_rs.cast_array, target_dtype="uint8", rounding_mode="nearest-even")

print("_ossrel_rs: a float64 sensor frame to uint8, under rules the caller states")
print()
row("frame (float64)", frame)
with np.errstate(invalid="ignore"):  # NumPy's cast of NaN / out-of-range values warns
    row("frame.astype(np.uint8)", frame.astype(np.uint8))
print("  (astype truncates; its NaN and out-of-range cells are platform-dependent)")
print()
print('cast_array(frame, target_dtype="uint8", rounding_mode="nearest-even", ...) with:')
attempt(to_u8, frame, out_of_range_mode="clamp")
attempt(to_u8, frame, out_of_range_mode="clamp", scalar_map_entries=DROPOUT)
attempt(to_u8, frame, out_of_range_mode="wrap", scalar_map_entries=DROPOUT)
attempt(to_u8, frame, scalar_map_entries=DROPOUT)
print()

ties = np.array([-2.5, -1.5, -0.5, 0.5, 1.5, 2.5])
print('The five rounding modes on ties: cast_array(ties, target_dtype="int8", ...) with:')
row("ties (float64)", ties)
for mode in MODES:
    attempt(partial(_ossrel_rs.cast_array, target_dtype="int8"), ties, rounding_mode=mode)
print()

# float16 keeps 11 significant bits: 0.1 and 3.14159 are inexact, and above 2048 the step is 2.
to_f16 = partial(_ossrel_rs.cast_array, target_dtype="float16")
narrow = np.array([0.1, 3.14159, 2049.0, -2049.0])
huge = np.array([1e6])
print('float64 -> float16, 11 significant bits: cast_array(x, target_dtype="float16", ...) with:')
row("x (float64)", narrow)
for mode in ("nearest-even", "towards-positive"):
    attempt(to_f16, narrow, rounding_mode=mode)
row("x (float64)", huge)
attempt(to_f16, huge, rounding_mode="towards-positive")
attempt(to_f16, huge, rounding_mode="towards-zero")
attempt(to_f16, huge, rounding_mode="nearest-even", out_of_range_mode="clamp")
print()

# cast_array_into writes into an array the caller owns, here row 1 of a display image.
image = np.full((3, frame.size), 7, dtype=np.uint8)
modes = dict(rounding_mode="nearest-even", out_of_range_mode="clamp")
_ossrel_rs.cast_array_into(frame, image[1], **modes, scalar_map_entries=DROPOUT)
print(f"cast_array_into(frame, image[1], {arguments(**modes)},")
print(f"                {arguments(scalar_map_entries=DROPOUT)}), image a caller's 3x8 uint8 array of 7s:")
for index, line in enumerate(image):
    row(f"image[{index}]", line)
print()

# Integer sources take the same out-of-range rules (and no rounding).
counts = np.array([-3, 0, 255, 256, 300], dtype=np.int32)
print('int32 -> uint8: cast_array(counts, target_dtype="uint8", rounding_mode="nearest-even", ...) with:')
row("counts (int32)", counts)
for mode in ("clamp", "wrap", None):
    attempt(to_u8, counts, out_of_range_mode=mode)
