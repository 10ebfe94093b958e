"""Differences between NumPy 1.26 and NumPy 2 that the tests depend on."""

import importlib

import numpy as np
import pytest

NUMPY2 = np.lib.NumpyVersion(np.__version__) >= "2.0.0"

MULTIARRAY = importlib.import_module("numpy._core.multiarray" if NUMPY2 else "numpy.core.multiarray")

requires_numpy2 = pytest.mark.skipif(
    not NUMPY2, reason="arrays of more than 32 axes exist only under NumPy 2"
)

# Shapes at the module's limit of 32 axes (a NumPy 1 array has at most 32).
MANY_AXES = (1,) * 32 + (3,)  # 33 axes, 3 elements
MANY_AXES_EMPTY = (1,) * 31 + (0, 2)  # 33 axes, no element
AXIS_LIMIT = (1,) * 31 + (3,)  # 32 axes
