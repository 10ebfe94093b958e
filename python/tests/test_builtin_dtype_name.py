"""The element type of an exact ndarray with one of NumPy's built-in descriptors comes from the
descriptor's type number, never from what Python code returned for `dtype.name`.

Each case runs in a fresh interpreter, so that its first call is the first of the process: a
patched `numpy.dtype.name` getter active during that call must not change what later calls see.
"""

from support.child_interpreter import run_child

CHILD = r'''
import ctypes, gc, json, sys
import numpy as np
import _ossrel_rs

NE = "nearest-even"
getter = np.dtype.__dict__["name"]


def patch(name_of):
    gc.get_referents(np.dtype.__dict__)[0]["name"] = property(name_of)
    ctypes.pythonapi.PyType_Modified(ctypes.py_object(np.dtype))


def unpatch():
    gc.get_referents(np.dtype.__dict__)[0]["name"] = getter
    ctypes.pythonapi.PyType_Modified(ctypes.py_object(np.dtype))


class Sub(np.ndarray):
    pass


def outcome(fn):
    try:
        result = fn()
    except BaseException as exc:
        return [type(exc).__name__, str(exc)]
    return [result.dtype.str, result.tolist()]


ARRAYS = {
    "int16": lambda: np.arange(3, dtype=np.int16),
    "float64": lambda: np.arange(3, dtype=np.float64),
    "longlong": lambda: np.arange(3, dtype=np.longlong),
    "intp": lambda: np.arange(3, dtype=np.intp),
    "uint64": lambda: np.arange(3, dtype=np.uint64),
    "float16": lambda: np.arange(3, dtype=np.float16),
    "subclass-int16": lambda: np.arange(3, dtype=np.int16).view(Sub),
}


def round_of_calls():
    return {key: outcome(lambda: _ossrel_rs.cast_array(make(), target_dtype="int32", rounding_mode=NE))
            for key, make in ARRAYS.items()}


patch(lambda descr: "uint8")
seen = {"patched": round_of_calls(), "names": {k: m().dtype.name for k, m in ARRAYS.items()}}
unpatch()
seen["restored"] = round_of_calls()
print(json.dumps(seen))
'''

NATIVE = ["int16", "float64", "longlong", "intp", "uint64", "float16"]
CONVERTED = ["<i4", [0, 1, 2]]


def test_patched_name_getter_is_not_recorded():
    seen, _ = run_child(CHILD)
    # The patch is in force for Python code.
    assert set(seen["names"].values()) == {"uint8"}
    for key in NATIVE:
        assert seen["patched"][key] == CONVERTED, key
        assert seen["restored"][key] == CONVERTED, key
    # A subclass's dtype name is read through the attribute lookups, patch included.
    assert seen["patched"]["subclass-int16"] == [
        "TypeError", "'Sub' object cannot be converted to 'PyArray<T, D>'"]
    assert seen["restored"]["subclass-int16"] == CONVERTED
