"""How the module writes a binary64 number inside a conversion-error message.

Shortest round-trip digits (Python's repr), positional notation, no exponent,
no trailing ".0", "-0" for negative zero, "NaN", "inf" and "-inf".
"""

import math
from decimal import Decimal


def render_number(x: float) -> str:
    x = float(x)
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "-inf" if x < 0 else "inf"
    if x == 0.0:
        return "-0" if math.copysign(1.0, x) < 0 else "0"
    text = format(Decimal(repr(x)).normalize(), "f")
    return text


def out_of_range_message(value, lo, hi) -> str:
    return (
        f"Value {render_number(value)} out of range "
        f"[{render_number(lo)}, {render_number(hi)}]. "
        "Set out_of_range='clamp' or out_of_range='wrap' to handle this."
    )
