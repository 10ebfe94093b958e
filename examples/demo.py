"""One screen of _ossrel_rs: casting int32 sensor readings to uint8 under explicit rules.

Run with the module installed:  python examples/demo.py
"""

import numpy as np

import _ossrel_rs

# A row of readings from an 8-bit display channel, delivered as int32. Two of them do not fit
# in uint8: a dropout reported as -3 and a spike of 300.
readings = np.array([12, 87, 255, -3, 140, 300, 0, 64], dtype=np.int32)
print("readings (int32):        ", readings.tolist())

# "clamp": a value that does not fit becomes the nearest limit of uint8.
clamped = _ossrel_rs.cast_array(
    readings, target_dtype="uint8", rounding_mode="nearest-even", out_of_range_mode="clamp"
)
print("uint8, clamp:            ", clamped.tolist())

# "wrap": a value keeps its low 8 bits (it is taken modulo 256).
wrapped = _ossrel_rs.cast_array(
    readings, target_dtype="uint8", rounding_mode="nearest-even", out_of_range_mode="wrap"
)
print("uint8, wrap:             ", wrapped.tolist())

# No out-of-range mode: the first value that does not fit is an error, naming it and the range.
try:
    _ossrel_rs.cast_array(readings, target_dtype="uint8", rounding_mode="nearest-even")
except ValueError as error:
    print("uint8, no mode:           ValueError:", error)

# The same cast into an array the caller already has (it must have the input's shape).
display = np.zeros(readings.shape, dtype=np.uint8)
_ossrel_rs.cast_array_into(readings, display, rounding_mode="nearest-even", out_of_range_mode="clamp")
print("into a caller's uint8:   ", display.tolist())

# Widening never fails and keeps every value.
print("int64 (widening):        ",
      _ossrel_rs.cast_array(readings, target_dtype="int64", rounding_mode="nearest-even").tolist())
