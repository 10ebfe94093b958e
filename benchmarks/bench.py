"""Times _ossrel_rs.cast_array against NumPy's own conversions.

Every case converts one 10^7-element array (one element for the per-call case) with
cast_array and with its NumPy baseline, both in this process and interleaved: each
repetition runs the two once, in alternating order, so that both see the same machine state.
The table shows the median time of each and the ratio ours / NumPy (lower is better) against
the case's target. A case whose pair the module refuses as unsupported prints "unsupported".

Before timing, the result of cast_array is compared with the baseline's wherever the two must
agree (the baseline is then exact for the chosen values), so that a fast but wrong path
cannot pass for a fast one.

With --modes it times instead every pair under every rounding mode, out-of-range mode and
scalar map, plus NaN-heavy and out-of-range data, each cell into one warm caller's buffer and
divided by the pair's base: the faster of np.copyto(out, x, casting="unsafe") and the module's
nearest-even call without mode or map. It prints the worst cells, the median and worst ratio per
family and column and a one-line summary; --json saves every cell, --compare prints two saved
runs side by side.

    python benchmarks/bench.py [--repeat N] [--size N] [--calls N] [--only TEXT] [--matrix]
    python benchmarks/bench.py --modes [--repeat N] [--size N] [--only PAIR] [--json FILE]
    python benchmarks/bench.py --compare BEFORE.json AFTER.json
"""

from __future__ import annotations

import argparse
import dataclasses
import functools
import json
import os
import platform
import statistics
import sys
import time
from typing import Callable

import numpy as np

import _ossrel_rs

cast_array = _ossrel_rs.cast_array


@dataclasses.dataclass
class Case:
    name: str
    baseline_text: str
    target: float
    make_input: Callable[[np.random.Generator, int], np.ndarray]
    ours: Callable[[np.ndarray], np.ndarray]
    baseline: Callable[[np.ndarray], np.ndarray]
    # Whether the two results must be equal element for element for the generated input.
    same_result: bool = True
    # Calls per timed sample (per-call cases); 0 times one call on the large array.
    calls: int = 0
    # What the baseline converts instead of the input itself (made once, before timing).
    baseline_input: Callable[[np.ndarray], np.ndarray] | None = None


def uniform(dtype, lo, hi):
    def make(rng, n):
        return rng.uniform(lo, hi, n).astype(dtype)

    return make


def integers(dtype, lo, hi):
    def make(rng, n):
        return rng.integers(lo, hi, n, dtype=np.int64, endpoint=True).astype(dtype)

    return make


def wide_float64(rng, n):
    # Magnitudes spread over 10^-30 .. 10^30, both signs: well inside float32's range, and
    # almost every value needs rounding.
    return rng.standard_normal(n) * 10.0 ** rng.uniform(-30, 30, n)


def half_values(rng, n):
    # Every finite float16 magnitude, subnormals included, both signs.
    bits = rng.integers(0, 0x7C00, n, dtype=np.uint16) | (rng.integers(0, 2, n, dtype=np.uint16) << 15)
    return bits.view(np.float16)


def readings_with_dropouts(rng, n):
    # Readings partly outside 0..255 with one in five a dropout (NaN), like the README's frame.
    x = rng.uniform(-40.0, 300.0, n)
    x[rng.random(n) < 0.2] = np.nan
    return x


def dropouts_as_zero(x):
    return np.where(np.isnan(x), 0.0, x)


def ours(target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None):
    def run(x):
        return cast_array(
            x, target_dtype=target_dtype, rounding_mode=rounding_mode, out_of_range_mode=out_of_range_mode,
            scalar_map_entries=scalar_map_entries,
        )

    return run


def clip_rint_u8(x):
    return np.clip(np.rint(x), 0, 255).astype(np.uint8)


def clip_i8(x):
    return np.clip(x, -128, 127).astype(np.int8)


def astype(dtype):
    def run(x):
        return x.astype(dtype)

    return run


def clip_trunc_i16(x):
    return np.clip(np.trunc(x), -32768, 32767).astype(np.int16)


CASES = [
    # The README's first example: its map costs little beside the same call on NaN-free data.
    Case("float64+NaN -> uint8, clamp, map NaN -> 0", "the same call, no map (NaN replaced by 0)", 1.3,
         readings_with_dropouts, ours("uint8", "nearest-even", "clamp", [(np.nan, 0)]),
         ours("uint8", "nearest-even", "clamp"), baseline_input=dropouts_as_zero),
    Case("float64 -> uint8, nearest-even, clamp", "x.astype(np.uint8)", 1.0,
         uniform(np.float64, -40.0, 300.0), ours("uint8", "nearest-even", "clamp"),
         astype(np.uint8), same_result=False),
    Case("float64 -> uint8, nearest-even, clamp", "np.clip(np.rint(x), 0, 255).astype(np.uint8)", 0.1,
         uniform(np.float64, -40.0, 300.0), ours("uint8", "nearest-even", "clamp"), clip_rint_u8),
    Case("float32 -> uint8, nearest-even, clamp", "x.astype(np.uint8)", 1.0,
         uniform(np.float32, -40.0, 300.0), ours("uint8", "nearest-even", "clamp"),
         astype(np.uint8), same_result=False),
    Case("float64 -> int32, nearest-even, no mode", "x.astype(np.int32)", 1.0,
         uniform(np.float64, -2.0**31 + 1, 2.0**31 - 2), ours("int32", "nearest-even"),
         astype(np.int32), same_result=False),
    Case("float64 -> float32, nearest-even, no mode", "x.astype(np.float32)", 1.0,
         wide_float64, ours("float32", "nearest-even"), astype(np.float32)),
    Case("float64 -> float16, nearest-even, clamp", "x.astype(np.float16)", 0.25,
         uniform(np.float64, -70000.0, 70000.0), ours("float16", "nearest-even", "clamp"),
         astype(np.float16), same_result=False),
    Case("float16 -> float32", "x.astype(np.float32)", 0.5,
         half_values, ours("float32", "nearest-even"), astype(np.float32)),
    Case("float32 -> int16, towards-zero, clamp", "x.astype(np.int16)", 1.5,
         uniform(np.float32, -40000.0, 40000.0), ours("int16", "towards-zero", "clamp"),
         astype(np.int16), same_result=False),
    Case("int32 -> int8, clamp", "np.clip(x, -128, 127).astype(np.int8)", 0.5,
         integers(np.int32, -300, 300), ours("int8", "nearest-even", "clamp"), clip_i8),
    Case("int32 -> int8, wrap", "x.astype(np.int8)", 1.2,
         integers(np.int32, -2**31, 2**31 - 1), ours("int8", "nearest-even", "wrap"), astype(np.int8)),
    Case("int64 -> float64", "x.astype(np.float64)", 1.2,
         integers(np.int64, -2**62, 2**62), ours("float64", "nearest-even"), astype(np.float64)),
    Case("int64 -> float32, towards-zero", "x.astype(np.float32)", 2.0,
         integers(np.int64, -2**62, 2**62), ours("float32", "towards-zero"), astype(np.float32),
         same_result=False),
    Case("1-element float64 -> uint8, clamp (per call)", "x.astype(np.uint8)", 2.0,
         lambda rng, n: np.array([float(rng.integers(0, 256))]), ours("uint8", "nearest-even", "clamp"),
         astype(np.uint8), calls=20000),
]

# Where the baseline is exact for the generated values, the results must be equal; for the
# cases marked same_result=False the baseline's answer differs on purpose (it does not clamp,
# or rounds differently), and a second, exact reference is used instead.
REFERENCES = {
    "float64 -> uint8, nearest-even, clamp": clip_rint_u8,
    "float32 -> uint8, nearest-even, clamp": clip_rint_u8,
    "float32 -> int16, towards-zero, clamp": clip_trunc_i16,
    "float64 -> int32, nearest-even, no mode": lambda x: np.rint(x).astype(np.int32),
    "float64 -> float16, nearest-even, clamp": lambda x: x.astype(np.float32).astype(np.float16),
}


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def cpu_flags() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("flags"):
                    flags = set(line.split(":", 1)[1].split())
                    wanted = ["avx", "avx2", "fma", "f16c", "avx512f", "avx512_fp16"]
                    return " ".join(w for w in wanted if w in flags)
    except OSError:
        pass
    return ""


def is_unsupported(error: BaseException) -> bool:
    return isinstance(error, TypeError) and str(error).startswith("Unsupported")


def unsigned_view(a: np.ndarray) -> np.ndarray:
    return a.view({1: np.uint8, 2: np.uint16, 4: np.uint32, 8: np.uint64}[a.dtype.itemsize])


def verify(case: Case, x: np.ndarray, x_base: np.ndarray) -> str | None:
    """Compares ours with the baseline or the exact reference; returns a complaint or None."""
    got = case.ours(x)
    if case.same_result:
        want = case.baseline(x_base)
    elif case.name in REFERENCES:
        want = REFERENCES[case.name](x)
    else:
        return None
    if got.dtype != want.dtype or got.shape != want.shape:
        return f"result {got.dtype}{got.shape} differs from reference {want.dtype}{want.shape}"
    differs = np.flatnonzero(unsigned_view(got) != unsigned_view(want))
    if differs.size:
        i = differs[0]
        return f"{differs.size} elements differ from the reference, first at {i}: {got[i]!r} != {want[i]!r}"
    return None


def time_once(fn: Callable[[np.ndarray], np.ndarray], x: np.ndarray, calls: int) -> float:
    """Seconds per call."""
    if calls:
        start = time.perf_counter_ns()
        for _ in range(calls):
            fn(x)
        return (time.perf_counter_ns() - start) / calls * 1e-9
    start = time.perf_counter_ns()
    result = fn(x)
    elapsed = time.perf_counter_ns() - start
    del result
    return elapsed * 1e-9


def measure(case: Case, x: np.ndarray, x_base: np.ndarray, repeat: int) -> tuple[float, float]:
    ours_times: list[float] = []
    base_times: list[float] = []
    # One untimed warm-up of each: first-use lookups, page faults of the allocator's first use.
    time_once(case.ours, x, case.calls)
    time_once(case.baseline, x_base, case.calls)
    for rep in range(repeat):
        pair = [(case.ours, x, ours_times), (case.baseline, x_base, base_times)]
        if rep % 2:
            pair.reverse()
        for fn, arg, sink in pair:
            sink.append(time_once(fn, arg, case.calls))
    return statistics.median(ours_times), statistics.median(base_times)


NAMES = ["int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64",
         "float16", "float32", "float64"]


def matrix_input(rng, source: str, target: str, n: int) -> np.ndarray:
    """Values of `source` that `target` holds (after rounding), so that no mode is needed."""
    def limits(name):
        if name.startswith("float"):
            return (-60000.0, 60000.0) if name == "float16" else (-1e9, 1e9)
        info = np.iinfo(name)
        return float(info.min), float(info.max)
    lo = max(limits(source)[0], limits(target)[0])
    hi = min(limits(source)[1], limits(target)[1])
    if source.startswith("float"):
        return rng.uniform(lo + 1, hi - 1, n).astype(source)
    return rng.integers(max(int(lo), -2**62), min(int(hi), 2**62), n, endpoint=True,
                        dtype=np.int64).astype(source)


def run_matrix(rng, size: int, repeat: int) -> None:
    """ours / astype for every pair, nearest-even, values in range (no out-of-range mode)."""
    print(f"ours / x.astype(target) per pair, nearest-even, in-range values, {size} elements")
    print("source \\ target " + "".join(f"{t:>9}" for t in NAMES))
    for source in NAMES:
        row = f"{source:<16}"
        for target in NAMES:
            x = matrix_input(rng, source, target, size)
            case = Case(f"{source} -> {target}", "astype", 0.0, lambda r, n: x,
                        ours(target, "nearest-even"), astype(np.dtype(target)))
            t_ours, t_base = measure(case, x, x, repeat)
            row += f"{t_ours / t_base:9.2f}"
        print(row, flush=True)


# The mode matrix: every (source, target) pair under every rounding mode, out-of-range mode and
# scalar map, each cell over the pair's base (the faster of NumPy's unchecked copyto and our own
# default call), into one warm caller's buffer.

ROUNDING_MODES = ["nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away"]
OUT_OF_RANGE_MODES = [None, "clamp", "wrap"]
MAP_COLUMNS = ["no map", "1-entry map", "4-entry map"]
NAN_COLUMN = "dense NaN"
OUT_COLUMN = "out of range"
COLUMNS = MAP_COLUMNS + [NAN_COLUMN, OUT_COLUMN]
FAMILIES = ["integer -> integer", "float -> integer", "integer -> float", "float -> float"]
# Share of the elements that the keys of a map match (all keys together), that are NaN in the
# dense-NaN column, and that lie outside the target's range in the out-of-range column.
MAP_SHARE = 0.01
NAN_SHARE = 0.3
OUT_SHARE = 0.3
# The most a cell may take over its pair's base, and how many of the worst cells are listed.
CELL_LIMIT = 2.5
WORST_SHOWN = 25


def is_float(name: str) -> bool:
    return name.startswith("float")


def family_of(source: str, target: str) -> str:
    kind = {True: "float", False: "integer"}
    return f"{kind[is_float(source)]} -> {kind[is_float(target)]}"


def pair_name(source: str, target: str) -> str:
    return f"{source} -> {target}"


def matches(x: np.ndarray, key) -> np.ndarray:
    """Where x equals key as the map compares them (IEEE equality; a NaN key matches NaN)."""
    if isinstance(key, float) and key != key:
        return np.isnan(x)
    return x == key


def with_map_keys(rng, x: np.ndarray, count: int) -> tuple[np.ndarray, list]:
    """A copy of x in which `count` distinct values of x fill MAP_SHARE of the elements between
    them, equally often, and appear nowhere else; returns it with the keys (Python scalars)."""
    keys: list = []
    for i in rng.integers(0, x.size, 64 * count):
        if not any(x[i] == k for k in keys):
            keys.append(x[i])
        if len(keys) == count:
            break
    y = x.copy()
    taken = np.zeros(x.size, dtype=bool)
    for k in keys:
        taken |= y == k
    y[taken] = x[np.flatnonzero(~taken)[0]]
    spots = rng.choice(x.size, size=max(count, round(x.size * MAP_SHARE)), replace=False)
    y[spots] = np.resize(np.array(keys, dtype=x.dtype), spots.size)
    return y, [k.item() for k in keys]


def map_entries(target: str, keys: list) -> list[tuple]:
    """The keys paired with small target values that every target type holds (1, 2, ...)."""
    return [(k, np.dtype(target).type(i + 1).item()) for i, k in enumerate(keys)]


def with_nans(rng, x: np.ndarray) -> np.ndarray:
    y = x.copy()
    y[rng.random(x.size) < NAN_SHARE] = np.nan
    return y


def outside_sides(source: str, target: str) -> list[tuple[float, float, bool]]:
    """The ranges (low end, high end, below the target's range) of source values beyond the
    target's limits as the source type rounds them, each as wide as the target's span (at most
    2^53); empty when the target holds every source value."""
    lo, hi = int(np.iinfo(target).min), int(np.iinfo(target).max)
    width = min(hi - lo + 1, 2**53)
    if is_float(source):
        top = float(np.finfo(source).max)
        bottom = -top
        with np.errstate(over="ignore"):
            lo, hi = (float(np.array(float(v)).astype(source)) for v in (lo, hi))
    else:
        bottom, top = int(np.iinfo(source).min), int(np.iinfo(source).max)
    sides = []
    if bottom < lo:
        sides.append((max(bottom, lo - width), lo, True))
    if top > hi:
        sides.append((hi, min(top, hi + width), False))
    return sides


def out_of_range_values(rng, source: str, target: str, k: int) -> np.ndarray:
    """k values of `source` outside the target's range under every rounding mode, drawn from
    its sides in turn (none when the target holds every source value)."""
    sides = outside_sides(source, target)
    got: list[np.ndarray] = []
    have = 0
    while sides and have < k:
        a, b, below = sides[len(got) % len(sides)]
        if is_float(source):
            v = rng.uniform(a, b, k).astype(source)
            # Every rounding of v stays on v's side of the limit when its ceiling (floor) does.
            keep = np.ceil(v.astype(np.float64)) < b if below else np.floor(v.astype(np.float64)) > a
        else:
            v = rng.integers(a, b, k, endpoint=True, dtype=np.uint64 if b >= 2**63 else np.int64)
            v = v.astype(source)
            keep = v < b if below else v > a
        got.append(v[keep][: (k + 1) // len(sides)])
        have += got[-1].size
    return np.concatenate(got)[:k] if got else np.empty(0, dtype=source)


def with_out_of_range(rng, x: np.ndarray, source: str, target: str) -> np.ndarray | None:
    """A copy of x with OUT_SHARE of its elements (in random places) outside the target's range,
    or None when the target holds every value of the source type."""
    if not outside_sides(source, target):
        return None
    spots = rng.choice(x.size, size=max(1, round(x.size * OUT_SHARE)), replace=False)
    y = x.copy()
    y[spots] = rng.permutation(out_of_range_values(rng, source, target, spots.size))
    return y


@dataclasses.dataclass
class ModeCell:
    source: str
    target: str
    rounding_mode: str
    out_of_range_mode: str | None
    column: str
    x: np.ndarray
    entries: list[tuple] | None
    # The input and the expected result at matched elements that check the map's effect:
    # (input without the keys or NaNs, mask of the matched elements, target value per element).
    check: tuple[np.ndarray, np.ndarray, np.ndarray] | None = None
    times: list[float] = dataclasses.field(default_factory=list)

    def call(self, out: np.ndarray) -> None:
        _ossrel_rs.cast_array_into(self.x, out, rounding_mode=self.rounding_mode,
                                   out_of_range_mode=self.out_of_range_mode,
                                   scalar_map_entries=self.entries)

    def describe(self) -> str:
        return (f"{pair_name(self.source, self.target)}, {self.rounding_mode}, "
                f"{self.out_of_range_mode or 'no mode'}, {self.column}")

    def record(self, base: float) -> dict:
        time_ = TIME_STATISTIC(self.times)
        return {"pair": pair_name(self.source, self.target), "source": self.source,
                "target": self.target, "family": family_of(self.source, self.target),
                "rounding_mode": self.rounding_mode, "out_of_range_mode": self.out_of_range_mode,
                "column": self.column, "times": self.times, "time": time_, "base": base,
                "ratio": time_ / base}


def map_check(y: np.ndarray, entries: list[tuple], target: str, fill: np.ndarray):
    """What checks a cell with a map on y: (y with its matched elements replaced by fill's, which
    converts without the map; where the map matches; the first matching entry's value there)."""
    matched = np.zeros(y.size, dtype=bool)
    values = np.zeros(y.size, dtype=target)
    for key, value in reversed(entries):
        hit = matches(y, key)
        matched |= hit
        values[hit] = value
    return np.where(matched, fill, y), matched, values


def mode_cells(rng, source: str, target: str, size: int) -> list[ModeCell]:
    """Every cell of one pair; the first is the module's default call (nearest-even, no mode,
    no map), which is also the module's part of the pair's base."""
    x = matrix_input(rng, source, target, size)
    inputs = [("no map", x, None, None)]
    for column, count in (("1-entry map", 1), ("4-entry map", 4)):
        y, keys = with_map_keys(rng, x, count)
        entries = map_entries(target, keys)
        inputs.append((column, y, entries, map_check(y, entries, target, x)))
    cells = [ModeCell(source, target, rounding, oor, column, data, entries, check)
             for column, data, entries, check in inputs
             for oor in OUT_OF_RANGE_MODES for rounding in ROUNDING_MODES]
    if is_float(source) and not is_float(target):
        y = with_nans(rng, x)
        entries = [(float("nan"), 0)]
        check = map_check(y, entries, target, x)
        cells += [ModeCell(source, target, rounding, "clamp", NAN_COLUMN, y, entries, check)
                  for rounding in ROUNDING_MODES]
    if not is_float(target):
        y = with_out_of_range(rng, x, source, target)
        if y is not None:
            cells += [ModeCell(source, target, rounding, oor, OUT_COLUMN, y, None)
                      for oor in ("clamp", "wrap") for rounding in ROUNDING_MODES]
    return cells


def check_cell(cell: ModeCell, out: np.ndarray, scratch: np.ndarray) -> str | None:
    """After the cell's call into out: compares out with the module's result without the map,
    the map's values put in at the matched elements; returns a complaint or None."""
    if cell.check is None:
        return None
    clean, matched, values = cell.check
    _ossrel_rs.cast_array_into(clean, scratch, rounding_mode=cell.rounding_mode,
                               out_of_range_mode=cell.out_of_range_mode)
    scratch[matched] = values[matched]
    differs = np.flatnonzero(unsigned_view(out) != unsigned_view(scratch))
    if differs.size:
        i = differs[0]
        return (f"{differs.size} elements differ from the call without the map, first at {i}: "
                f"{cell.x[i]!r} gave {out[i]!r}, expected {scratch[i]!r}")
    return None


# How the repetitions of a --modes cell make its time: the median, or with --best the fastest
# (steadier on a machine that other work shares).
TIME_STATISTIC = statistics.median


def time_call(fn: Callable[[], object]) -> float:
    start = time.perf_counter_ns()
    fn()
    return (time.perf_counter_ns() - start) * 1e-9


def run_mode_pair(rng, source: str, target: str, size: int, repeat: int,
                  failures: list[dict]) -> tuple[list[dict], dict]:
    """Times every cell of one pair and the pair's base, interleaved: each repetition calls all of
    them once, in alternating order. Returns the cells' records and the base's."""
    cells = mode_cells(rng, source, target, size)
    x = cells[0].x
    out = np.empty(size, dtype=target)
    scratch = np.empty(size, dtype=target)
    copyto_times: list[float] = []
    runs = [(lambda: np.copyto(out, x, casting="unsafe"), copyto_times)]
    # The untimed first call of each cell also checks it: a call that raises or stores the
    # wrong values is reported and left out of the timing.
    for cell in cells:
        try:
            cell.call(out)
            complaint = check_cell(cell, out, scratch)
        except Exception as error:  # noqa: BLE001 - reported and counted
            complaint = f"{type(error).__name__}: {error}"
        if complaint:
            print(f"  FAILED {cell.describe()}: {complaint}", flush=True)
            failures.append({"pair": pair_name(source, target), "rounding_mode": cell.rounding_mode,
                             "out_of_range_mode": cell.out_of_range_mode, "column": cell.column,
                             "error": complaint})
            continue
        runs.append((functools.partial(cell.call, out), cell.times))
    np.copyto(out, x, casting="unsafe")
    for rep in range(repeat):
        for fn, sink in runs if rep % 2 == 0 else reversed(runs):
            sink.append(time_call(fn))
    default = cells[0]
    copyto = TIME_STATISTIC(copyto_times)
    base = min(copyto, TIME_STATISTIC(default.times)) if default.times else copyto
    records = [cell.record(base) for cell in cells if cell.times]
    return records, {"pair": pair_name(source, target), "copyto_times": copyto_times,
                     "ours_times": default.times, "base": base}


def median_worst(records: list[dict]) -> str:
    if not records:
        return "-"
    ratios = [r["ratio"] for r in records]
    return f"{statistics.median(ratios):.2f} / {max(ratios):.2f}"


def cell_text(record: dict) -> str:
    return (f"{record['pair']}, {record['rounding_mode']}, {record['out_of_range_mode'] or 'no mode'}, "
            f"{record['column']}")


def summary_line(records: list[dict], failed: int) -> str:
    if not records:
        return f"0 cells, {failed} failed"
    worst = max(records, key=lambda r: r["ratio"])
    over = sum(r["ratio"] > CELL_LIMIT for r in records)
    median = statistics.median(r["ratio"] for r in records)
    return (f"{len(records)} cells, {over} over {CELL_LIMIT}, median cell {median:.2f}, "
            f"worst cell {worst['ratio']:.2f} ({cell_text(worst)}), {failed} failed")


def grid(records: list[dict]) -> None:
    """Median / worst ratio per family (rows) and column."""
    print(f"{'family':<20}" + "".join(f"  {c:>15}" for c in COLUMNS + ["all"]))
    for family in FAMILIES + ["all"]:
        print(f"{family:<20}" + "".join(f"  {median_worst(select(records, family, c)):>15}"
                                       for c in COLUMNS + ["all"]))


def select(records: list[dict], family: str, column: str) -> list[dict]:
    return [r for r in records if family in ("all", r["family"]) and column in ("all", r["column"])]


def compare_grid(before: list[dict], after: list[dict]) -> None:
    """Median / worst ratio per family and column of two runs, one line per (family, column)."""
    print(f"{'family':<20} {'column':<13} {'cells':>6}  {'before':>15}  {'after':>15}")
    for family in FAMILIES + ["all"]:
        for column in COLUMNS + ["all"]:
            old, new = select(before, family, column), select(after, family, column)
            if old or new:
                print(f"{family:<20} {column:<13} {len(new):>6}  {median_worst(old):>15}  "
                      f"{median_worst(new):>15}")


def worst_table(records: list[dict], before: dict[tuple, dict] | None = None) -> None:
    shown = sorted(records, key=lambda r: r["ratio"], reverse=True)[:WORST_SHOWN]
    print(f"{'pair':<18} {'rounding mode':<17} {'out of range':<12} {'column':<13} "
          f"{'cell':>11} {'base':>11} {'ratio':>7}" + ("  before" if before is not None else ""))
    for r in shown:
        row = (f"{r['pair']:<18} {r['rounding_mode']:<17} {r['out_of_range_mode'] or '-':<12} "
               f"{r['column']:<13} {format_time(r['time']):>11} {format_time(r['base']):>11} "
               f"{r['ratio']:7.2f}")
        if before is not None:
            old = before.get(cell_key(r))
            row += f"  {old['ratio']:6.2f}" if old else "       -"
        print(row)


def cell_key(record: dict) -> tuple:
    return (record["pair"], record["rounding_mode"], record["out_of_range_mode"], record["column"])


def report(records: list[dict], failed: int) -> None:
    print()
    print(f"The {WORST_SHOWN} worst cells (ratio = the cell's median time / the pair's base):")
    worst_table(records)
    print()
    print("Median / worst ratio per family and column:")
    grid(records)
    print()
    print("summary: " + summary_line(records, failed))


def run_modes(rng, args) -> int:
    only = args.only.replace(" ", "")
    pairs = [(s, t) for s in NAMES for t in NAMES if only in f"{s}->{t}"]
    print(f"mode matrix: {len(pairs)} pairs, each cell into one warm buffer, over the pair's base "
          f"(the faster of np.copyto(out, x, casting=\"unsafe\") and the nearest-even call without "
          f"mode or map)")
    print(f"{'pair':<18} {'copyto':>11} {'ours':>11} {'cells':>6}  median / worst")
    started = time.perf_counter()
    records: list[dict] = []
    bases: list[dict] = []
    failures: list[dict] = []
    for source, target in pairs:
        cells, base = run_mode_pair(rng, source, target, args.size, args.repeat, failures)
        records += cells
        bases.append(base)
        ours_time = format_time(statistics.median(base["ours_times"])) if base["ours_times"] else "-"
        print(f"{base['pair']:<18} {format_time(statistics.median(base['copyto_times'])):>11} "
              f"{ours_time:>11} {len(cells):6}  {median_worst(cells)}", flush=True)
    elapsed = time.perf_counter() - started
    report(records, len(failures))
    print(f"elapsed: {elapsed:.0f} s")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"cpu": cpu_model(), "cpu_flags": cpu_flags(), "python": platform.python_version(),
                       "numpy": np.__version__, "size": args.size, "repeat": args.repeat,
                       "elapsed_seconds": elapsed, "bases": bases, "cells": records,
                       "failures": failures}, f, indent=1)
        print(f"saved to {args.json}")
    return 1 if failures else 0


def compare_modes(before_file: str, after_file: str) -> int:
    runs = []
    for name in (before_file, after_file):
        with open(name, encoding="utf-8") as f:
            runs.append(json.load(f))
    for label, name, run in zip(("before:", "after: "), (before_file, after_file), runs):
        print(f"{label} {name}: {run['cpu']}, NumPy {run['numpy']}, {run['size']} elements, "
              f"median of {run['repeat']}, {run['elapsed_seconds']:.0f} s")
    before, after = (run["cells"] for run in runs)
    print()
    print(f"The {WORST_SHOWN} worst cells after, with their ratio before:")
    worst_table(after, {cell_key(r): r for r in before})
    print()
    print("Median / worst ratio per family and column, before and after:")
    compare_grid(before, after)
    print()
    print("before: " + summary_line(before, len(runs[0]["failures"])))
    print("after:  " + summary_line(after, len(runs[1]["failures"])))
    return 0


def format_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:8.1f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:8.2f} us"
    return f"{seconds * 1e3:8.2f} ms"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--best", action="store_true",
                        help="with --modes, time each cell by its fastest repetition, not the median")
    parser.add_argument("--repeat", type=int, default=None,
                        help="timed repetitions per case (default 15, with --modes 5)")
    parser.add_argument("--size", type=int, default=None,
                        help="elements of the large arrays (default 10^7, with --modes 2*10^6)")
    parser.add_argument("--calls", type=int, default=0, help="calls per sample of the per-call case")
    parser.add_argument("--only", default="",
                        help="run only the cases (with --modes the pairs, as 'float64->uint8') whose "
                             "name contains this text")
    parser.add_argument("--matrix", action="store_true",
                        help="instead of the cases, print ours / astype for all 121 pairs")
    parser.add_argument("--modes", action="store_true",
                        help="instead of the cases, time every pair under every rounding mode, "
                             "out-of-range mode and scalar map against the pair's base")
    parser.add_argument("--json", metavar="FILE", help="with --modes, save every cell to FILE")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                        help="print the --modes summaries of two saved runs side by side")
    args = parser.parse_args(argv)
    if args.compare:
        return compare_modes(*args.compare)
    if args.repeat is None:
        args.repeat = 5 if args.modes else 15
    if args.size is None:
        args.size = 2 * 10**6 if args.modes else 10**7

    global TIME_STATISTIC
    if args.best:
        TIME_STATISTIC = min
    rng = np.random.default_rng(20240607)
    print(f"CPU: {cpu_model()} ({os.cpu_count()} logical CPUs; {cpu_flags()})")
    print(f"Python {platform.python_version()}, NumPy {np.__version__}, "
          f"{args.size} elements, {'fastest' if args.best else 'median'} of {args.repeat} interleaved repetitions")
    print()
    if args.matrix:
        run_matrix(rng, args.size, args.repeat)
        return 0
    if args.modes:
        return run_modes(rng, args)

    header = f"{'case':<46} {'baseline':<46} {'ours':>11} {'numpy':>11} {'ratio':>6} {'target':>7}  ok"
    print(header)
    print("-" * len(header))
    missed = 0
    failed = 0
    for case in CASES:
        if args.only and args.only not in case.name:
            continue
        x = case.make_input(rng, args.size)
        x_base = case.baseline_input(x) if case.baseline_input else x
        if case.calls and args.calls:
            case.calls = args.calls
        row = f"{case.name:<46} {case.baseline_text:<46}"
        try:
            complaint = verify(case, x, x_base)
        except Exception as error:  # noqa: BLE001 - reported in the table
            if is_unsupported(error):
                print(f"{row} {'unsupported':>11}")
                continue
            print(f"{row} error: {type(error).__name__}: {error}")
            failed += 1
            continue
        if complaint:
            print(f"{row} WRONG RESULT: {complaint}")
            failed += 1
            continue
        t_ours, t_base = measure(case, x, x_base, args.repeat)
        ratio = t_ours / t_base
        ok = ratio <= case.target
        missed += not ok
        print(f"{row} {format_time(t_ours):>11} {format_time(t_base):>11} {ratio:6.2f} "
              f"{case.target:7.2f}  {'yes' if ok else 'NO'}", flush=True)
    print()
    print(f"{missed} target(s) missed, {failed} case(s) failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
