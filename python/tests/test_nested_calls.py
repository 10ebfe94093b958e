"""Calls of the module made again by the scalar map's own code, from inside a call (through an
iterable's __iter__, a mapping's items(), a key's __index__ and a value's __float__).

Deep but bounded nesting gives every level its values. Nesting without end stops with an
exception, never a crash: it runs in a child interpreter, so that a crash fails the test instead
of ending the run, on a thread of 2 MiB at the default recursion limit, on the main thread with
the limit raised to 100,000 and on a thread so small that only the module's own check of the
native stack can stop it. What the outer caller sees follows the rules of the map parse for an
error of the caller's code; afterwards the module works as before in the same process, no borrow
of the input remains and reference counts are flat."""

import gc
import os
import sys

import numpy as np
import pytest

from support.child_interpreter import run_child
from support.nesting import FORMS, KINDS, SOURCE, Nesting, expected

LEVELS = 200
RECURSION = "builtins.RecursionError"
LIMIT_TEXT = "maximum recursion depth exceeded"
FUNCTIONS = {"alloc": "cast_array", "into": "cast_array_into"}

# AddressSanitizer makes the module's frames several times larger and its stack margin with them.
ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
# A thread whose stack is used up long before the interpreter's counts are, whatever the version.
SMALL_STACK = (1024 if ASAN else 256) << 10


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("kind", KINDS)
def test_deep_nesting_gives_every_level_its_values(kind, form, registry):
    chain = Nesting(kind, form, levels=LEVELS)
    gc.collect()  # the chains of earlier tests hold SOURCE in cycles
    before = sys.getrefcount(SOURCE)
    outer = chain.call()
    assert outer.tobytes() == expected(0).tobytes()
    assert chain.deepest == LEVELS
    assert sorted(chain.results) == list(range(1, LEVELS + 1))
    for level, result in chain.results.items():
        assert result.dtype == np.float64
        assert result.tobytes() == expected(level).tobytes(), level
    assert chain.innermost is None
    assert sys.getrefcount(SOURCE) == before
    registry.assert_not_borrowed(SOURCE)


CHILD = r'''
import gc, json, sys, threading
import numpy as np
import _ossrel_rs
from support.borrow_registry import open_registry
from support.modes import NE
from support.nesting import FORMS, KINDS, SOURCE, Nesting, expected

place, small_stack = sys.argv[1], int(sys.argv[2])
registry = open_registry()
# At the recursion limit the interpreter's own isinstance() test of a map may fail; the module
# reports that as unraisable and goes on, which is not what is looked at here.
sys.unraisablehook = lambda unraisable: None


def outcome(chain):
    try:
        chain.call()
    except BaseException as exc:
        cls = type(exc)
        return [f"{cls.__module__}.{cls.__qualname__}", str(exc)]
    return None


def endless(kind, form):
    gc.collect()  # earlier chains hold SOURCE in cycles
    before = sys.getrefcount(SOURCE)
    runs, made = [], []
    # Twice: the second chain reaches the same depth, as every level left the recursion accounting.
    for _ in range(2):
        chain = Nesting(kind, form)
        shown = repr(chain.shown())
        runs.append({"outcome": outcome(chain), "deepest": chain.deepest, "innermost": chain.innermost,
                     "shown": shown})
        made += chain.made
        del chain
    gc.collect()
    got = {"runs": runs, "alive": sum(ref() is not None for ref in made)}
    registry.assert_not_borrowed(SOURCE)
    got["refcount"] = sys.getrefcount(SOURCE) - before
    # The module works as before, nested calls included.
    bounded = Nesting(kind, form, levels=20)
    got["bounded"] = (bounded.call().tolist(), bounded.results[20].tolist())
    got["plain"] = _ossrel_rs.cast_array(np.array([1, 2], np.int32), target_dtype="int8",
                                         rounding_mode=NE, scalar_map_entries={2: 7}).tolist()
    return got


def run():
    results.update({f"{kind}-{form}": endless(kind, form) for kind in KINDS for form in FORMS})


results = {}
if place == "main":
    sys.setrecursionlimit(100000)
    run()
else:
    threading.stack_size(small_stack if place == "small" else 2 << 20)
    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
print(json.dumps(results))
'''

PLACES = ("thread-2MiB", "main-100000", "small")


@pytest.fixture(scope="module")
def endless_runs():
    runs = {}

    def run(place):
        if place not in runs:
            runs[place], _ = run_child(CHILD, place.split("-")[0], str(SMALL_STACK))
        return runs[place]
    return run


def outer_outcome(kind, form, shown):
    """What the outer call raises when a call nested under it is refused."""
    if kind == "iter":
        # An error in the start of an iteration is replaced.
        return ["builtins.TypeError", "scalar_map_entries must be a dict or an iterable of (source, target) pairs"]
    if kind == "index":
        return ["builtins.TypeError",
                f"scalar_map source value {shown}: expected a value convertible to source dtype int32"]
    if kind == "float":
        return ["builtins.TypeError",
                f"scalar_map target value {shown}: expected a value convertible to target dtype float64"]
    return None  # items(): its error passes unchanged


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("place", PLACES)
def test_endless_nesting_ends_in_an_exception(endless_runs, place, kind, form):
    got = endless_runs(place)[f"{kind}-{form}"]
    for run in got["runs"]:
        want = outer_outcome(kind, form, run["shown"])
        if want is None:
            assert run["outcome"][0] == RECURSION
            assert run["outcome"][1].startswith(LIMIT_TEXT)
        else:
            assert run["outcome"] == want
        assert run["deepest"] >= (20 if place == "small" else 100)
        if place == "small":
            # Only the native stack can have stopped it: the innermost call was refused by the module.
            assert run["innermost"] == [RECURSION, f"{LIMIT_TEXT} while calling {FUNCTIONS[form]}"]
    assert got["runs"][1]["deepest"] == got["runs"][0]["deepest"]
    assert got["alive"] == 0
    assert got["refcount"] == 0
    assert got["bounded"] == [expected(0).tolist(), expected(20).tolist()]
    assert got["plain"] == [1, 7]
