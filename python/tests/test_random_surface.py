"""Random calls of both functions over the module's whole surface, checked against the models.

Each example draws a (source, target) pair, a shape (rank 0, empty, up to five axes), the input's
elements, its layout (C order, an offset view, an unaligned buffer, read-only, byte-swapped,
strided, column-major), the modes (an unknown text now and then), a scalar map (none, pairs,
a dict, or an iterable whose code changes the input, calls the module again or raises), and
for cast_array_into an output (C order, read-only, strided, byte-swapped). The outcome, values
to the bit or the whole message, comes from int_model and float_model. After every call no
borrow of the input remains and the input's reference count is what it was.

Under `make sanitize` the same examples run with AddressSanitizer, so that a read outside the
input's buffer is a failure of its own, not a wrong value that the model might miss.
"""

import math
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from _ossrel_rs import cast_array, cast_array_into
from support.float_model import UINT, Failure, bits_of_value, expected, value_of_bits
from support.int_model import ALL_NAMES, INT_NAMES, int_range
from support.modes import OUT_OF_RANGE_MODES, ROUNDING_MODES
from support.number_text import out_of_range_message

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

SETTINGS = settings(max_examples=700, deadline=None, derandomize=True, database=None, print_blob=True,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

NOT_ROW_MAJOR = "Input array must be row-major (C-contiguous)"
BAD_OUTPUT = "Output array must be row-major (C-contiguous) and writeable"
NOT_NATIVE = "'ndarray' object cannot be converted to 'PyArray<T, D>'"
NOT_ITERABLE = "scalar_map_entries must be a dict or an iterable of (source, target) pairs"
FLOAT_WIDTH = {"float16": 16, "float32": 32, "float64": 64}
SPECIAL_FLOATS = [0.0, -0.0, 0.5, -0.5, 1.5, 2.5, -2.5, 127.5, 128.0, -128.5, -129.0, 255.5, 256.0,
                  32767.5, 65504.0, 65520.0, 2.0 ** 31, -(2.0 ** 31) - 1, 2.0 ** 32, 2.0 ** 63, 2.0 ** 64,
                  1e300, 3.4e38, 1e-40, math.inf, -math.inf]


class Boom(Exception):
    """An error of the caller's own, raised while the map is read."""


def itemsize(name):
    return np.dtype(name).itemsize


def representable(value, name):
    if name == "float64":
        return True
    with np.errstate(over="ignore"):
        return float(np.array([value], np.float64).astype(name)[0]) == value


def element_strategy(name):
    """An element: a value for an integer type, a bit pattern for a floating one."""
    if name in INT_NAMES:
        lo, hi = int_range(name)
        edges = sorted({v for v in (lo, lo + 1, -129, -128, -1, 0, 1, 127, 128, 255, 256, 65535, 65536,
                                    2 ** 31, 2 ** 32, 2 ** 63, hi - 1, hi) if lo <= v <= hi})
        return st.one_of(st.integers(lo, hi), st.sampled_from(edges), st.integers(max(lo, -3), min(hi, 300)))
    width = FLOAT_WIDTH[name]
    specials = [bits_of_value(v, name) for v in SPECIAL_FLOATS if representable(v, name)]
    nans = [(1 << width) - 1, ((1 << width) - 1) >> 1, (((1 << width) - 1) >> 1) ^ (1 << (width - 2))]
    return st.one_of(st.integers(0, (1 << width) - 1), st.sampled_from(specials + nans))


def target_value_strategy(name):
    """A scalar-map target that the target type holds exactly (no NaN)."""
    if name in INT_NAMES:
        return st.integers(*int_range(name))
    width = FLOAT_WIDTH[name]
    return st.integers(0, (1 << width) - 1).map(lambda b: value_of_bits(b, name)).filter(
        lambda v: not math.isnan(v))


def key_of(element, name):
    return element if name in INT_NAMES else value_of_bits(element, name)


def make_array(elements, name, shape):
    if name in INT_NAMES:
        flat = np.array(elements, dtype=name)
    else:
        flat = np.array(elements, dtype=UINT[name]).view(name)
    return flat.reshape(shape)


def lay_out(data, layout):
    """data (C order, native) in the given layout, with the same values."""
    if layout == "offset-view":
        bigger = np.zeros(data.size + 3, data.dtype)
        bigger[3:] = data.reshape(-1)
        return bigger[3:].reshape(data.shape)
    if layout == "unaligned":
        raw = np.zeros(data.nbytes + 1, np.uint8)
        arr = raw[1:].view(data.dtype).reshape(data.shape)
        arr[...] = data
        return arr
    if layout == "read-only":
        data.flags.writeable = False
        return data
    if layout == "byte-swapped":
        return data.astype(data.dtype.newbyteorder())
    if layout == "strided" and data.ndim > 0:
        wide = np.zeros(data.shape[:-1] + (2 * data.shape[-1],), data.dtype)
        wide[..., ::2] = data
        return wide[..., ::2]
    if layout == "column-major":
        return np.array(data, order="F")
    return data


def is_native(arr):
    return arr.dtype.isnative or arr.dtype.itemsize == 1


# --- maps whose code runs in the middle of the call --------------------------------------------

def change_input(arr, change):
    """Applies a change to the input as the caller's code might; a change NumPy refuses is
    simply not made."""
    try:
        if change == "reinterpret":
            arr.dtype = np.dtype(f"u{arr.dtype.itemsize}").newbyteorder(arr.dtype.byteorder)
        elif change == "halve" and arr.dtype.itemsize > 1:
            arr.dtype = np.dtype(f"i{arr.dtype.itemsize // 2}")
        elif change == "double" and arr.dtype.itemsize < 8:
            arr.dtype = np.dtype(f"i{arr.dtype.itemsize * 2}")
        elif change == "flatten":
            arr.shape = (arr.size,)
        elif change == "zero-stride" and arr.ndim > 0:
            arr.strides = arr.strides[:-1] + (0,)
    except (ValueError, AttributeError, TypeError):
        pass


class CallerMap:
    """An iterable of pairs whose __iter__ changes the input and may call the module on it
    again, and whose iteration may end with an error of the caller's own."""

    def __init__(self, arr, pairs, change, call_again, fail):
        self.arr, self.pairs, self.change, self.call_again, self.fail = arr, pairs, change, call_again, fail

    def __iter__(self):
        if self.call_again:
            try:
                cast_array(self.arr, target_dtype="float64", rounding_mode="nearest-even")
            except (TypeError, ValueError):
                pass
        change_input(self.arr, self.change)
        if self.fail == "start":
            raise Boom("at the start")
        return self._pairs()

    def _pairs(self):
        yield from self.pairs
        if self.fail == "end":
            raise Boom("at the end")


@st.composite
def calls(draw):
    source = draw(st.sampled_from(ALL_NAMES))
    target = draw(st.sampled_from(ALL_NAMES))
    rank = draw(st.integers(0, 5))
    top = 4 if rank <= 3 else 2
    # Mostly non-empty: an extent of 0 now and then.
    extent = st.integers(1, top) if draw(st.integers(0, 5)) else st.integers(0, top)
    shape = tuple(draw(st.lists(extent, min_size=rank, max_size=rank)))
    n = math.prod(shape)
    elements = draw(st.lists(element_strategy(source), min_size=n, max_size=n))
    layout = draw(st.sampled_from(["c", "c", "c", "offset-view", "unaligned", "read-only", "byte-swapped",
                                   "strided", "column-major"]))
    rounding = draw(st.sampled_from(ROUNDING_MODES)) if draw(st.integers(0, 30)) else "Nearest-Even"
    out_of_range = draw(st.sampled_from(OUT_OF_RANGE_MODES)) if draw(st.integers(0, 30)) else "saturate"
    target_text = target if draw(st.integers(0, 30)) else "f4"

    keys = st.one_of(st.sampled_from([key_of(e, source) for e in elements]) if elements else st.nothing(),
                     element_strategy(source).map(lambda e: key_of(e, source)))
    pairs = draw(st.lists(st.tuples(keys, target_value_strategy(target)), max_size=4))
    map_kind = draw(st.sampled_from(["none", "pairs", "dict", "caller", "caller"]))
    caller = None
    if map_kind == "caller":
        caller = {"change": draw(st.sampled_from(["none", "reinterpret", "halve", "double", "flatten",
                                                  "zero-stride"])),
                  "call_again": draw(st.booleans()),
                  "fail": draw(st.sampled_from([None, None, None, None, "start", "end"]))}
    form = draw(st.sampled_from(["alloc", "into"]))
    out_layout = draw(st.sampled_from(["c", "c", "c", "c", "read-only", "strided", "byte-swapped"]))
    return dict(source=source, target=target, shape=shape, elements=elements, layout=layout,
                rounding=rounding, out_of_range=out_of_range, target_text=target_text, pairs=pairs,
                map_kind=map_kind, caller=caller, form=form, out_layout=out_layout)


# --- the model of one call -----------------------------------------------------------------------

def stored_of(arr, name):
    flat = np.ascontiguousarray(arr).reshape(-1)
    if name in INT_NAMES:
        return [int(v) for v in flat]
    return [int(v) for v in flat.view(UINT[name])]


def map_entries(case):
    if case["map_kind"] == "dict":
        return list(dict(case["pairs"]).items())
    if case["map_kind"] in ("pairs", "caller"):
        return list(case["pairs"])
    return []


def mapped(element, source, target, entries):
    """The stored value of the first entry matching element, or None."""
    if source in INT_NAMES:
        hit = next((v for k, v in entries if k == element), None)
    else:
        x = value_of_bits(element, source)
        hit = next((v for k, v in entries if k == x or (math.isnan(k) and math.isnan(x))), None)
    if hit is None:
        return None
    return hit if target in INT_NAMES else bits_of_value(hit, target)


def failure_messages(results, source, target, elements, rounding, out_of_range):
    """The messages the conversion may report: those of the failing elements in the block of
    the first failure (a vectorised path reports a NaN of a block before a value out of
    range), and the float64-to-int32 path's report of the value before rounding."""
    first = next(i for i, r in enumerate(results) if isinstance(r, Failure))
    messages = set()
    for i in range(first, min(first + 16, len(results))):
        if not isinstance(results[i], Failure):
            continue
        messages.add(str(results[i]))
        if (source, target, out_of_range) == ("float64", "int32", None) and rounding != "nearest-away":
            x = value_of_bits(elements[i], source)
            if x == x:
                messages.add(out_of_range_message(x, -2147483648.0, 2147483647.0))
    return messages


def check_call(case, registry):
    source, target = case["source"], case["target"]
    data = make_array(case["elements"], source, case["shape"])
    arr = lay_out(data, case["layout"])
    whole = arr.view()
    entries = map_entries(case)
    caller = case["caller"]
    if case["map_kind"] == "none":
        scalar_map = None
    elif case["map_kind"] == "dict":
        scalar_map = dict(case["pairs"])
    elif case["map_kind"] == "pairs":
        scalar_map = list(case["pairs"])
    else:
        scalar_map = CallerMap(arr, entries, caller["change"], caller["call_again"], caller["fail"])
    out = None
    if case["form"] == "into":
        out = lay_out(np.zeros(case["shape"], target), case["out_layout"])
    kwargs = {"rounding_mode": case["rounding"], "out_of_range_mode": case["out_of_range"],
              "scalar_map_entries": scalar_map}
    refs = sys.getrefcount(arr)

    try:
        if out is None:
            result = cast_array(arr, target_dtype=case["target_text"], **kwargs)
        else:
            result = cast_array_into(arr, out, **kwargs)
        outcome = None
    except Exception as exc:  # noqa: BLE001 - an internal fault (BaseException) fails the test
        result = None
        outcome = (type(exc), str(exc), exc.args, exc.__cause__, exc.__context__)

    want = expected_outcome(case, arr, entries, out)
    event(f"outcome: {want[0].__name__ if isinstance(want, tuple) else 'values'}")
    if caller is not None:
        event(f"caller map: change {caller['change']}, applied {arr.shape != whole.shape or arr.dtype != whole.dtype}")
    assert sys.getrefcount(arr) == refs
    registry.assert_not_borrowed(arr)
    registry.assert_not_borrowed(whole)

    if isinstance(want, tuple):  # an error: (type, set of messages)
        assert outcome is not None, f"no error; expected {want}"
        exc_type, message, args, cause, context = outcome
        assert exc_type is want[0] and message in want[1], (outcome[:2], want)
        if exc_type is not Boom:
            assert args == (message,) and cause is None and context is None
        return
    assert outcome is None, outcome[:2]
    if case["form"] == "into":
        assert result is None
        assert stored_of(out, target) == want["stored"]
        return
    assert result.dtype == np.dtype(target) and result.dtype.isnative
    assert result.shape == want["shape"]
    assert result.flags.c_contiguous and result.flags.owndata and result.flags.writeable
    assert stored_of(result, target) == want["stored"]


def expected_outcome(case, arr, entries, out):
    """(type, messages) for an error, else {"shape", "stored"}. `arr` is the input as it is after
    the call (the caller's map may have changed it)."""
    source, target = case["source"], case["target"]
    if case["rounding"] not in ROUNDING_MODES:
        return ValueError, {f"Unknown rounding mode: {case['rounding']}"}
    if case["out_of_range"] not in OUT_OF_RANGE_MODES:
        return ValueError, {f"Unknown out_of_range mode: {case['out_of_range']}"}
    if case["form"] == "alloc" and case["target_text"] != target:
        return TypeError, {f"Unsupported target dtype: {case['target_text']}"}
    held = lay_out(make_array(case["elements"], source, case["shape"]), case["layout"])
    if not held.flags.c_contiguous:
        return ValueError, {NOT_ROW_MAJOR}
    if not is_native(held):
        return TypeError, {NOT_NATIVE}
    caller = case["caller"]
    if caller is not None and caller["fail"] == "start":
        return TypeError, {NOT_ITERABLE}
    if caller is not None and caller["fail"] == "end":
        return Boom, {"at the end"}
    n = len(case["elements"])
    if case["form"] == "into":
        if not is_native(out):
            return TypeError, {NOT_NATIVE}
        if out.size == 0:
            return {"stored": []}
        if not (out.flags.c_contiguous and out.flags.writeable):
            return ValueError, {BAD_OUTPUT}
        n_out, shape = n, case["shape"]
    else:
        shape = arr.shape
        n_out = math.prod(shape)
        if n_out == 0:
            return {"shape": shape, "stored": []}
    count = min(n, n_out)
    results = []
    for element in case["elements"][:count]:
        hit = mapped(element, source, target, entries)
        results.append(hit if hit is not None else
                       expected(element, source, target, case["rounding"], case["out_of_range"]))
    if any(isinstance(r, Failure) for r in results):
        return ValueError, failure_messages(results, source, target, case["elements"], case["rounding"],
                                            case["out_of_range"])
    return {"shape": shape, "stored": results + [0] * (n_out - count)}


@SETTINGS
@given(case=calls())
def test_random_calls_against_the_models(registry, case):
    check_call(case, registry)
