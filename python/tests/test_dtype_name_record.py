"""The element-type name of an array is the same on every call, whichever descriptor it has.

The module derives the names of NumPy's built-in descriptors for exact ndarrays from their
type numbers, and reads every other name through the attribute lookups; these tests call each
kind of array several times, interleaved with arrays of other descriptors that share a type
number or a name, and require the outcome of the first call every time.
"""

import numpy as np
import pytest

from _ossrel_rs import cast_array, cast_array_into
from support.modes import NE


class Sub(np.ndarray):
    pass


class NamedInt8(np.ndarray):
    @property
    def dtype(self):
        return np.dtype("int8")


def swapped(name):
    return np.dtype(name).newbyteorder()


# (id, array maker); every array holds the values 0, 1, 2.
ARRAYS = [
    ("int16", lambda: np.arange(3, dtype=np.int16)),
    ("int32", lambda: np.arange(3, dtype=np.int32)),
    ("float64", lambda: np.arange(3, dtype=np.float64)),
    ("float16", lambda: np.arange(3, dtype=np.float16)),
    ("uint64", lambda: np.arange(3, dtype=np.uint64)),
    # Another type number with the name "int64" / "uint64".
    ("longlong", lambda: np.arange(3, dtype=np.longlong)),
    ("ulonglong", lambda: np.arange(3, dtype=np.ulonglong)),
    # The same name as a built-in descriptor, but another descriptor object.
    ("swapped-int16", lambda: np.arange(3, dtype=np.int16).astype(swapped("int16"))),
    ("swapped-float64", lambda: np.arange(3, dtype=np.float64).astype(swapped("float64"))),
    ("metadata-int16", lambda: np.arange(3, dtype=np.dtype(np.int16, metadata={"unit": "m"}))),
    # Subclasses: the attribute lookup decides.
    ("subclass-int16", lambda: np.arange(3, dtype=np.int16).view(Sub)),
    ("named-int8-over-int32", lambda: np.arange(3, dtype=np.int32).view(NamedInt8)),
    ("bool", lambda: np.zeros(3, dtype=bool)),
]


def outcome(call):
    try:
        result = call()
    except Exception as error:  # noqa: BLE001 - the outcome is compared as a whole
        return (type(error), str(error))
    if result is None:
        return None
    return (result.dtype.str, result.tolist())


def outcomes_of_every_kind():
    made = {key: make() for key, make in ARRAYS}
    into = {key: np.zeros(3, dtype=np.float32) for key in made}
    seen = {}
    for key, arr in made.items():
        seen[key] = (
            outcome(lambda: cast_array(arr, target_dtype="float32", rounding_mode=NE)),
            outcome(lambda: cast_array_into(arr, into[key], rounding_mode=NE)),
            outcome(lambda: cast_array_into(np.arange(3, dtype=np.uint8), arr, rounding_mode=NE)),
        )
    return seen


def test_every_call_sees_the_first_calls_outcome():
    first = outcomes_of_every_kind()
    for _ in range(3):
        assert outcomes_of_every_kind() == first


@pytest.mark.parametrize("key", [key for key, _ in ARRAYS])
def test_outcome_per_kind(key):
    got = outcomes_of_every_kind()[key]
    native = {"int16", "int32", "float64", "float16", "uint64", "longlong", "ulonglong", "metadata-int16",
              "subclass-int16"}
    if key in native:
        assert got[0] == ("<f4", [0.0, 1.0, 2.0])
        assert got[1] is None
    elif key == "bool":
        assert got[0] == (TypeError, "Unsupported numpy dtype: bool")
    else:
        # The name matched an element type, but the descriptor is not the native one.
        assert got[0][0] is TypeError
        assert got[0][1].endswith("object cannot be converted to 'PyArray<T, D>'")
