"""Access to the process-wide shared borrow registry through its capsule."""

import contextlib
import ctypes

import numpy as np

import _ossrel_rs
from .np_compat import MULTIARRAY

ATTRIBUTE = "_ossrel_borrow_registry"
CAPSULE_NAME = b"_ossrel_borrow_registry"

BorrowFunction = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)


class RegistryRecord(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint64),
        ("state", ctypes.c_void_p),
        ("acquire_shared", BorrowFunction),
        ("release_shared", BorrowFunction),
        ("acquire_exclusive", BorrowFunction),
        ("release_exclusive", BorrowFunction),
    ]


_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = ctypes.c_void_p
_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

_get_name = ctypes.pythonapi.PyCapsule_GetName
_get_name.restype = ctypes.c_char_p
_get_name.argtypes = [ctypes.py_object]


class BorrowRegistry:
    def __init__(self, capsule):
        self.capsule = capsule
        self.name = _get_name(capsule)
        self.record = RegistryRecord.from_address(_get_pointer(capsule, self.name))

    def acquire_shared(self, arr) -> int:
        return self.record.acquire_shared(self.record.state, arr)

    def release_shared(self, arr) -> int:
        return self.record.release_shared(self.record.state, arr)

    def acquire_exclusive(self, arr) -> int:
        return self.record.acquire_exclusive(self.record.state, arr)

    def release_exclusive(self, arr) -> int:
        return self.record.release_exclusive(self.record.state, arr)

    @contextlib.contextmanager
    def exclusive(self, arr):
        assert self.acquire_exclusive(arr) == 0
        try:
            yield
        finally:
            assert self.release_exclusive(arr) == 0

    @contextlib.contextmanager
    def shared(self, arr):
        assert self.acquire_shared(arr) == 0
        try:
            yield
        finally:
            assert self.release_shared(arr) == 0

    def assert_not_borrowed(self, arr):
        """No borrow of arr remains: an exclusive borrow can be taken and given back."""
        assert self.acquire_exclusive(arr) == 0
        assert self.release_exclusive(arr) == 0


def open_registry() -> BorrowRegistry:
    """The registry the module uses; one successful call makes sure it exists."""
    if not hasattr(MULTIARRAY, ATTRIBUTE):
        _ossrel_rs.cast_array(np.zeros(1, np.uint8), target_dtype="uint8", rounding_mode="nearest-even")
    return BorrowRegistry(getattr(MULTIARRAY, ATTRIBUTE))
