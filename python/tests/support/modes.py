"""The mode texts the module accepts."""

NE = "nearest-even"
ROUNDING_MODES = ("nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away")
OUT_OF_RANGE_MODES = (None, "clamp", "wrap")
