"""How the module uses a borrow registry published by another party (each run in a fresh process)."""

import json
import os
import subprocess
import sys

import pytest

import _ossrel_rs

PRELUDE = r'''
import ctypes, json, sys
import numpy as np
import _ossrel_rs

NUMPY2 = np.lib.NumpyVersion(np.__version__) >= "2.0.0"
MA = np._core.multiarray if NUMPY2 else np.core.multiarray
FN = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)

class Record(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint64), ("state", ctypes.c_void_p),
                ("acquire_shared", FN), ("release_shared", FN),
                ("acquire_exclusive", FN), ("release_exclusive", FN)]

log = []
answer = {"acquire_shared": 0}
watched = [None]

def kind(obj):
    if obj is watched[0]:
        return "input"
    if getattr(obj, "base", None) is watched[0]:
        return "input-view"
    return "other"

def logger(name):
    def call(state, arr):
        # Only the classification is kept: the log holds no reference to the array.
        log.append((name, kind(arr), sys.getrefcount(arr)))
        return answer.get(name, 0)
    return FN(call)

CALLBACKS = [logger(n) for n in ("acquire_shared", "release_shared", "acquire_exclusive", "release_exclusive")]

_new = ctypes.pythonapi.PyCapsule_New
_new.restype = ctypes.py_object
_new.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]

def publish(name, version):
    global RECORD, NAME
    RECORD = Record(version, None, *CALLBACKS)
    NAME = ctypes.create_string_buffer(name)
    setattr(MA, "_ossrel_borrow_registry", _new(ctypes.addressof(RECORD), ctypes.addressof(NAME), None))

def outcome(call):
    try:
        call()
        return "ok"
    except BaseException as exc:
        cls = type(exc)
        return f"{cls.__module__}.{cls.__qualname__}"
'''

SCENARIOS = PRELUDE + r'''
publish(b"_ossrel_borrow_registry", 1)
NE = "nearest-even"

def swapped_out(a): return np.zeros(a.shape, ">i2")
def read_only_out(a):
    o = np.zeros(a.shape, np.int8); o.flags.writeable = False; return o

CASES = {
    "alloc-success": (lambda a: _ossrel_rs.cast_array(a, target_dtype="int16", rounding_mode=NE), 0),
    "alloc-empty": (lambda a: _ossrel_rs.cast_array(a[:0], target_dtype="int16", rounding_mode=NE), 0),
    "into-success": (lambda a: _ossrel_rs.cast_array_into(a, np.zeros(a.shape, np.int64), rounding_mode=NE), 0),
    "alloc-conversion-error": (lambda a: _ossrel_rs.cast_array(a, target_dtype="int8", rounding_mode=NE), 0),
    "into-conversion-error": (lambda a: _ossrel_rs.cast_array_into(a, np.zeros(a.shape, np.uint8), rounding_mode=NE), 0),
    "into-read-only-output": (lambda a: _ossrel_rs.cast_array_into(a, read_only_out(a), rounding_mode=NE), 0),
    "into-swapped-output": (lambda a: _ossrel_rs.cast_array_into(a, swapped_out(a), rounding_mode=NE), 0),
    "into-shape-mismatch": (lambda a: _ossrel_rs.cast_array_into(a, np.zeros(1, np.int8), rounding_mode=NE), 0),
    "input-not-row-major": (lambda a: _ossrel_rs.cast_array(a.reshape(2, 2).T, target_dtype="int8", rounding_mode=NE), 0),
    "input-swapped": (lambda a: _ossrel_rs.cast_array(a.astype(">i4"), target_dtype="int8", rounding_mode=NE), 0),
    "unknown-mode": (lambda a: _ossrel_rs.cast_array(a, target_dtype="int8", rounding_mode="up"), 0),
    "refused": (lambda a: _ossrel_rs.cast_array(a, target_dtype="int16", rounding_mode=NE), 1),
    "into-refused": (lambda a: _ossrel_rs.cast_array_into(a, np.zeros(a.shape, np.int64), rounding_mode=NE), 1),
    "undefined-answer": (lambda a: _ossrel_rs.cast_array(a, target_dtype="int16", rounding_mode=NE), 7),
    "after-refusal": (lambda a: _ossrel_rs.cast_array(a, target_dtype="int16", rounding_mode=NE), 0),
}

report = {}
for name, (call, code) in CASES.items():
    arr = np.array([1, -2, 300, 4], np.int32)
    answer["acquire_shared"] = code
    watched[0] = arr
    log.clear()
    before = sys.getrefcount(arr)
    result = outcome(lambda: call(arr))
    after = sys.getrefcount(arr)
    report[name] = {"outcome": result, "calls": [list(e[:2]) for e in log],
                    "refcounts": [e[2] for e in log], "leak": after - before}
print(json.dumps(report))
'''


def _run(code):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        p for p in (os.path.dirname(_ossrel_rs.__file__), env.get("PYTHONPATH")) if p)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=120)


@pytest.fixture(scope="module")
def report():
    run = _run(SCENARIOS)
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


OK, VALUE, TYPE, FAULT = "ok", "builtins.ValueError", "builtins.TypeError", "pyo3_runtime.PanicException"
HELD = [["acquire_shared", "input"], ["release_shared", "input"]]
EXPECTED = {
    "alloc-success": (OK, HELD),
    "alloc-empty": (OK, [["acquire_shared", "input-view"], ["release_shared", "input-view"]]),
    "into-success": (OK, HELD),
    "alloc-conversion-error": (VALUE, HELD),
    "into-conversion-error": (VALUE, HELD),
    "into-read-only-output": (VALUE, HELD),
    "into-swapped-output": (TYPE, HELD),
    "into-shape-mismatch": (VALUE, []),
    "input-not-row-major": (VALUE, []),
    "input-swapped": (TYPE, []),
    "unknown-mode": (VALUE, []),
    "refused": (FAULT, [["acquire_shared", "input"]]),
    "into-refused": (FAULT, [["acquire_shared", "input"]]),
    "undefined-answer": (FAULT, [["acquire_shared", "input"]]),
    "after-refusal": (OK, HELD),
}


@pytest.mark.parametrize("case", EXPECTED)
def test_borrows_taken_and_given_back(report, case):
    outcome, calls = EXPECTED[case]
    got = report[case]
    assert (got["outcome"], got["calls"]) == (outcome, calls)
    # The borrow is given back while the extra reference is still held.
    assert len(set(got["refcounts"])) <= 1
    assert got["leak"] == 0


WRONG_RECORD = PRELUDE + r'''
publish(NAME_BYTES, VERSION)
arr = np.array([1, 2, 3], np.int32)
first = outcome(lambda: _ossrel_rs.cast_array(arr, target_dtype="int8", rounding_mode="nearest-even"))
delattr(MA, "_ossrel_borrow_registry")
second = outcome(lambda: _ossrel_rs.cast_array(arr, target_dtype="int8", rounding_mode="nearest-even"))
cap = getattr(MA, "_ossrel_borrow_registry")
get_name = ctypes.pythonapi.PyCapsule_GetName
get_name.restype = ctypes.c_char_p
get_name.argtypes = [ctypes.py_object]
print(json.dumps([first, second, get_name(cap).decode(), log == []]))
'''


@pytest.mark.parametrize("name, version", [(b"another_registry", 1), (b"_ossrel_borrow_registry", 2),
                                           (b"_ossrel_borrow_registry", 0)])
def test_foreign_record_is_an_internal_fault_and_is_tried_again(name, version):
    run = _run(WRONG_RECORD.replace("NAME_BYTES", repr(name)).replace("VERSION", str(version)))
    assert run.returncode == 0, run.stderr
    first, second, published, untouched = json.loads(run.stdout)
    assert first == FAULT
    # Obtaining the registry failed, so the next call tries again and creates its own.
    assert second == OK
    assert published == "_ossrel_borrow_registry"
    assert untouched
