"""An input and a caller's output that share memory. Each maker returns a function of a
random generator that builds the pair (arr, out); `fill(view, rng)` writes the input's values,
or, when None, the shared buffer holds random bytes."""

import numpy as np


def _buffer(n_bytes, rng, fill):
    return bytearray(rng.bytes(n_bytes)) if fill is None else bytearray(n_bytes)


def same_array(name, n, fill=None):
    """arr and out are one array."""
    def make(rng):
        arr = np.frombuffer(_buffer(np.dtype(name).itemsize * n, rng, fill), dtype=name)
        if fill is not None:
            fill(arr, rng)
        return arr, arr
    return make


def shifted(source, target, shift, n, fill=None):
    """arr and out overlapping, arr starting `shift` bytes after out (before it when negative);
    a shift of 0 starts both at the same byte."""
    def make(rng):
        size = max(np.dtype(source).itemsize, np.dtype(target).itemsize) * n + abs(shift)
        buf = _buffer(size, rng, fill)
        a, o = (shift, 0) if shift > 0 else (0, -shift)
        arr = np.frombuffer(buf, dtype=source, count=n, offset=a)
        if fill is not None:
            fill(arr, rng)
        return arr, np.frombuffer(buf, dtype=target, count=n, offset=o)
    return make


def reinterpreted(source, target, n, fill=None):
    """arr and out start at the same byte, with different element types."""
    return shifted(source, target, 0, n, fill)
