"""Module object, registered functions, docstrings and signatures."""

import importlib
import inspect
import subprocess
import sys

import pytest

import _ossrel_rs

CAST_ARRAY_SIGNATURE = (
    "(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)"
)
CAST_ARRAY_INTO_SIGNATURE = (
    "(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)"
)

CAST_ARRAY_DOC = (
    "Cast a numpy array to a new dtype, allocating a new output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    '* `target_dtype` - Target dtype string (e.g. "uint8", "float32")\n'
    '* `rounding_mode` - Rounding mode string (e.g. "nearest-even")\n'
    '* `out_of_range_mode` - Optional out-of-range handling ("clamp" or "wrap")\n'
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "A new numpy array with the target dtype.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Returns `PyValueError` for invalid rounding/out-of-range modes or\n"
    "conversion errors. Returns `PyTypeError` for unsupported dtypes."
)

CAST_ARRAY_INTO_DOC = (
    "Cast a numpy array into a pre-allocated output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `out` - Pre-allocated output numpy array (must match input shape)\n"
    '* `rounding_mode` - Rounding mode string (e.g. "nearest-even")\n'
    '* `out_of_range_mode` - Optional out-of-range handling ("clamp" or "wrap")\n'
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "None on success.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Returns `PyValueError` for shape mismatch, invalid modes, or conversion\n"
    "errors. Returns `PyTypeError` for unsupported dtypes."
)

FUNCTIONS = [
    ("cast_array", CAST_ARRAY_SIGNATURE, CAST_ARRAY_DOC, 671),
    ("cast_array_into", CAST_ARRAY_INTO_SIGNATURE, CAST_ARRAY_INTO_DOC, 629),
]


def test_module_attributes():
    assert _ossrel_rs.__name__ == "_ossrel_rs"
    assert _ossrel_rs.__doc__ == ""
    assert type(_ossrel_rs.__all__) is list
    assert _ossrel_rs.__all__ == ["cast_array", "cast_array_into"]
    public = sorted(name for name in dir(_ossrel_rs) if not name.startswith("_"))
    assert public == ["cast_array", "cast_array_into"]
    assert not hasattr(_ossrel_rs, "PanicException")


@pytest.mark.parametrize("name, signature, doc, full_length", FUNCTIONS)
def test_function_object(name, signature, doc, full_length):
    func = getattr(_ossrel_rs, name)
    # The registered docstring is the signature line, "--", an empty line, then the text.
    assert len(name + signature + "\n--\n\n" + doc) == full_length
    assert type(func).__name__ == "builtin_function_or_method"
    assert func.__name__ == name
    assert func.__qualname__ == name
    assert func.__module__ == "_ossrel_rs"
    assert func.__self__ is _ossrel_rs
    assert func.__text_signature__ == signature
    assert func.__doc__ == doc
    assert str(inspect.signature(func)) == signature


def test_signature_parameter_kinds():
    kinds = {
        name: [(p.name, p.kind, p.default) for p in inspect.signature(getattr(_ossrel_rs, name)).parameters.values()]
        for name in ("cast_array", "cast_array_into")
    }
    P = inspect.Parameter
    assert kinds["cast_array"] == [
        ("arr", P.POSITIONAL_OR_KEYWORD, P.empty),
        ("target_dtype", P.KEYWORD_ONLY, P.empty),
        ("rounding_mode", P.KEYWORD_ONLY, P.empty),
        ("out_of_range_mode", P.KEYWORD_ONLY, None),
        ("scalar_map_entries", P.KEYWORD_ONLY, None),
    ]
    assert kinds["cast_array_into"] == [
        ("arr", P.POSITIONAL_OR_KEYWORD, P.empty),
        ("out", P.POSITIONAL_OR_KEYWORD, P.empty),
        ("rounding_mode", P.KEYWORD_ONLY, P.empty),
        ("out_of_range_mode", P.KEYWORD_ONLY, None),
        ("scalar_map_entries", P.KEYWORD_ONLY, None),
    ]


def test_reimport_gives_the_same_module():
    first = sys.modules.pop("_ossrel_rs")
    try:
        again = importlib.import_module("_ossrel_rs")
        assert again is first
        assert again.cast_array is first.cast_array
    finally:
        sys.modules["_ossrel_rs"] = first


def test_import_does_nothing_else():
    # Importing the module neither imports NumPy nor publishes the borrow registry.
    code = (
        "import sys, _ossrel_rs\n"
        "assert 'numpy' not in sys.modules, sorted(m for m in sys.modules if 'numpy' in m)\n"
        "import numpy\n"
        "ma = numpy._core.multiarray if int(numpy.__version__.split('.')[0]) >= 2 else numpy.core.multiarray\n"
        "assert not hasattr(ma, '_ossrel_borrow_registry')\n"
        "_ossrel_rs.cast_array(numpy.zeros(2, numpy.int16), target_dtype='int8', rounding_mode='nearest-even')\n"
        "assert hasattr(ma, '_ossrel_borrow_registry')\n"
        "print('ok')\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout == "ok\n"
    assert run.stderr == ""
