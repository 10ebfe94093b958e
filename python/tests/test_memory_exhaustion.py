"""A new array that memory cannot hold is MemoryError, not an internal fault.

Run in a child interpreter whose address space is limited (resource.setrlimit) so that the
input fits but the new array does not.
"""

import os

import pytest

from support.child_interpreter import run_child

CHILD = r'''
import json, resource, sys
import numpy as np
import _ossrel_rs
from support.borrow_registry import open_registry

registry = open_registry()
NE = "nearest-even"
arr = np.ones(1 << 24, np.uint8)  # 16 MiB; as float64 the new array needs 128 MiB
small = np.array([1, 2, 3], np.int32)
_ossrel_rs.cast_array(small, target_dtype="float64", rounding_mode=NE)


def vm_size():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024


soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (vm_size() + (64 << 20), hard))
report = {}
for target in ("float64", "int64"):
    try:
        _ossrel_rs.cast_array(arr, target_dtype=target, rounding_mode=NE)
        report[target] = "no error"
    except BaseException as exc:
        report[target] = {"memory_error": isinstance(exc, MemoryError),
                          "exception": isinstance(exc, Exception),
                          "type": f"{type(exc).__module__}.{type(exc).__qualname__}"}
registry.assert_not_borrowed(arr)
report["after"] = _ossrel_rs.cast_array(small, target_dtype="float64", rounding_mode=NE).tolist()
report["after-large"] = int(_ossrel_rs.cast_array(arr, target_dtype="int16", rounding_mode=NE).sum())
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(json.dumps(report))
'''


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer reserves more address space than any limit allows")
def test_new_array_beyond_the_address_space_limit_is_memory_error():
    report, stderr = run_child(CHILD)
    for target in ("float64", "int64"):
        assert report[target]["memory_error"] is True, report
        assert report[target]["exception"] is True, report
    # Nothing was reported as an internal fault.
    assert stderr == ""
    assert report["after"] == [1.0, 2.0, 3.0]
    assert report["after-large"] == 1 << 24
