"""Internal faults reach Python as pyo3_runtime.PanicException, a BaseException."""

import numpy as np

import _ossrel_rs
from _ossrel_rs import cast_array
from support.expect import is_internal_fault
from support.modes import NE


def _fault(registry):
    arr = np.arange(4, dtype=np.int32)
    with registry.exclusive(arr):
        try:
            cast_array(arr, target_dtype="int8", rounding_mode=NE)
        except Exception:  # an internal fault must not be caught here
            raise AssertionError("an internal fault was caught as an Exception")
        except BaseException as exc:
            return exc
    raise AssertionError("no internal fault was raised")


def test_panic_exception_type(registry):
    exc = _fault(registry)
    cls = type(exc)
    assert is_internal_fault(exc)
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__qualname__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not isinstance(exc, Exception)
    assert isinstance(cls.__doc__, str) and cls.__doc__
    assert len(exc.args) == 1 and isinstance(exc.args[0], str) and exc.args[0]
    # One type for every fault, and not exposed by the module.
    assert type(_fault(registry)) is cls
    assert cls not in vars(_ossrel_rs).values()


def test_fault_text_is_written_to_stderr(registry, capfd):
    capfd.readouterr()
    exc = _fault(registry)
    captured = capfd.readouterr()
    assert captured.out == ""
    assert str(exc) in captured.err


def test_module_stays_usable_after_a_fault(registry):
    _fault(registry)
    arr = np.array([-1, 256], np.int32)
    assert cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="wrap").tolist() == [255, 0]
    assert _ossrel_rs.cast_array_into(arr, np.zeros(2, np.int64), rounding_mode=NE) is None


def test_successful_and_refused_calls_write_nothing(capfd):
    capfd.readouterr()
    arr = np.array([-1, 256], np.int32)
    cast_array(arr, target_dtype="uint8", rounding_mode=NE, out_of_range_mode="clamp")
    try:
        cast_array(arr, target_dtype="uint8", rounding_mode=NE)
    except ValueError:
        pass
    assert capfd.readouterr() == ("", "")


def test_internal_fault_met_in_caller_code_is_reported_again(registry, capfd):
    panic = type(_fault(registry))

    class FaultyDtype(np.ndarray):
        @property
        def dtype(self):
            raise panic("fault of a nested call")

    class OtherFault(panic):
        pass

    class OtherDtype(np.ndarray):
        @property
        def dtype(self):
            raise OtherFault("not the module's own type")

    capfd.readouterr()
    arr = np.zeros(3, np.int32).view(FaultyDtype)
    try:
        cast_array(arr, target_dtype="int8", rounding_mode=NE)
    except BaseException as exc:
        assert type(exc) is panic
        assert exc.args == ("fault of a nested call",)
    else:
        raise AssertionError("no internal fault was raised")
    assert "fault of a nested call" in capfd.readouterr().err

    # A subclass of the fault type is an error of the caller's own and passes unchanged.
    arr = np.zeros(3, np.int32).view(OtherDtype)
    try:
        _ossrel_rs.cast_array_into(np.zeros(3, np.int8), arr, rounding_mode=NE)
    except BaseException as exc:
        assert type(exc) is OtherFault
    else:
        raise AssertionError("no error was raised")
    assert capfd.readouterr().err == ""
