"""Checks of raised exceptions: exact type, whole message, no chaining."""

import pytest


def raises_exactly(exc_type, message, func, *args, **kwargs):
    """Call func and require an exception of exactly exc_type carrying exactly message."""
    with pytest.raises(BaseException) as info:
        func(*args, **kwargs)
    exc = info.value
    assert type(exc) is exc_type, f"{type(exc).__name__}: {exc}"
    assert str(exc) == message
    assert exc.args == (message,)
    assert exc.__cause__ is None
    assert exc.__context__ is None
    return exc


def is_internal_fault(exc) -> bool:
    cls = type(exc)
    return cls.__module__ == "pyo3_runtime" and cls.__name__ == "PanicException"


def raises_internal_fault(func, *args, **kwargs):
    """Call func and require the module's internal-fault exception."""
    with pytest.raises(BaseException) as info:
        func(*args, **kwargs)
    exc = info.value
    assert is_internal_fault(exc), f"{type(exc).__module__}.{type(exc).__qualname__}: {exc}"
    return exc
