"""A second interpreter in the process is refused at import."""

import os

import numpy as np
import pytest

import _ossrel_rs

try:
    import _xxsubinterpreters as _subinterpreters  # CPython 3.12
except ImportError:
    try:
        import _interpreters as _subinterpreters  # CPython 3.13
    except ImportError:
        _subinterpreters = None


def _create_legacy_interpreter():
    # A legacy (non-isolated) interpreter lets single-phase modules reach their own
    # initialisation, so the refusal seen is the module's own.
    try:
        return _subinterpreters.create(isolated=False)
    except TypeError:
        return _subinterpreters.create("legacy")


@pytest.mark.skipif(_subinterpreters is None, reason="this interpreter offers no sub-interpreter API")
def test_import_in_a_sub_interpreter_is_refused():
    module_dir = os.path.dirname(_ossrel_rs.__file__)
    read_end, write_end = os.pipe()
    code = (
        "import os, sys\n"
        f"sys.path.insert(0, {module_dir!r})\n"
        "results = []\n"
        "for attempt in range(2):\n"
        "    try:\n"
        "        import _ossrel_rs\n"
        "        results.append('imported')\n"
        "    except ImportError as exc:\n"
        "        results.append(type(exc).__name__ + ': ' + str(exc))\n"
        f"os.write({write_end}, '\\n'.join(results).encode())\n"
    )
    interp = _create_legacy_interpreter()
    try:
        failure = _subinterpreters.run_string(interp, code)
        assert failure is None
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            results = pipe.read().decode().split("\n")
    finally:
        _subinterpreters.destroy(interp)
    assert len(results) == 2
    for line in results:
        assert line.startswith("ImportError: "), line
        assert "interpreter" in line.lower(), line
        assert "does not support loading in subinterpreters" not in line, line
    # The main interpreter's module keeps working.
    arr = np.array([1, 2, 300], np.int32)
    assert _ossrel_rs.cast_array(arr, target_dtype="uint8", rounding_mode="nearest-even",
                                 out_of_range_mode="clamp").tolist() == [1, 2, 255]
