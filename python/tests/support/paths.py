"""The two paths of a cast: "alloc" (cast_array, a new output) and "into" (cast_array_into, a
caller's output)."""

import numpy as np

from _ossrel_rs import cast_array, cast_array_into

from .modes import NE

PATHS = ("alloc", "into")


def cast(path, arr, target, entries=None, **modes):
    """The result of one cast with scalar_map_entries=entries, through either function."""
    if path == "alloc":
        return cast_array(arr, target_dtype=target, rounding_mode=NE, scalar_map_entries=entries, **modes)
    out = np.zeros(arr.shape, dtype=target)
    assert cast_array_into(arr, out, rounding_mode=NE, scalar_map_entries=entries, **modes) is None
    return out


def refuse(path, arr, target, entries, check, *check_args):
    """Run a cast that must fail, through `check` (raises_exactly or raises_internal_fault);
    a caller-supplied output must stay untouched."""
    if path == "alloc":
        return check(*check_args, cast_array, arr, target_dtype=target, rounding_mode=NE,
                     scalar_map_entries=entries)
    out = np.full(arr.shape, 0x5A, dtype=target)
    before = out.tobytes()
    exc = check(*check_args, cast_array_into, arr, out, rounding_mode=NE, scalar_map_entries=entries)
    assert out.tobytes() == before
    return exc
