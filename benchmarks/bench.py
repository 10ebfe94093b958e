"""Times _ossrel_rs.cast_array against NumPy's own conversions.

Every case converts one 10^7-element array (one element for the per-call case) with
cast_array and with its NumPy baseline, both in this process and interleaved: each
repetition runs the two once, in alternating order, so that both see the same machine state.
The table shows the median time of each and the ratio ours / NumPy (lower is better) against
the case's target. A case whose pair the module refuses as unsupported prints "unsupported".

Before timing, the result of cast_array is compared with the baseline's wherever the two must
agree (the baseline is then exact for the chosen values), so that a fast but wrong path
cannot pass for a fast one.

    python benchmarks/bench.py [--repeat N] [--size N] [--calls N] [--only TEXT] [--matrix]
"""

from __future__ import annotations

import argparse
import dataclasses
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


def ours(target_dtype, rounding_mode, out_of_range_mode=None):
    def run(x):
        return cast_array(
            x, target_dtype=target_dtype, rounding_mode=rounding_mode, out_of_range_mode=out_of_range_mode
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


def verify(case: Case, x: np.ndarray) -> str | None:
    """Compares ours with the baseline or the exact reference; returns a complaint or None."""
    got = case.ours(x)
    reference = case.baseline if case.same_result else REFERENCES.get(case.name)
    if reference is None:
        return None
    want = reference(x)
    if got.dtype != want.dtype or got.shape != want.shape:
        return f"result {got.dtype}{got.shape} differs from reference {want.dtype}{want.shape}"
    unsigned = {1: np.uint8, 2: np.uint16, 4: np.uint32, 8: np.uint64}[got.dtype.itemsize]
    differs = np.flatnonzero(got.view(unsigned) != want.view(unsigned))
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


def measure(case: Case, x: np.ndarray, repeat: int) -> tuple[float, float]:
    ours_times: list[float] = []
    base_times: list[float] = []
    # One untimed warm-up of each: first-use lookups, page faults of the allocator's first use.
    time_once(case.ours, x, case.calls)
    time_once(case.baseline, x, case.calls)
    for rep in range(repeat):
        pair = [(case.ours, ours_times), (case.baseline, base_times)]
        if rep % 2:
            pair.reverse()
        for fn, sink in pair:
            sink.append(time_once(fn, x, case.calls))
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
            t_ours, t_base = measure(case, x, repeat)
            row += f"{t_ours / t_base:9.2f}"
        print(row, flush=True)


def format_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:8.1f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:8.2f} us"
    return f"{seconds * 1e3:8.2f} ms"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=15, help="timed repetitions per case")
    parser.add_argument("--size", type=int, default=10**7, help="elements of the large arrays")
    parser.add_argument("--calls", type=int, default=0, help="calls per sample of the per-call case")
    parser.add_argument("--only", default="", help="run only the cases whose name contains this text")
    parser.add_argument("--matrix", action="store_true",
                        help="instead of the cases, print ours / astype for all 121 pairs")
    args = parser.parse_args(argv)

    rng = np.random.default_rng(20240607)
    print(f"CPU: {cpu_model()} ({os.cpu_count()} logical CPUs; {cpu_flags()})")
    print(f"Python {platform.python_version()}, NumPy {np.__version__}, "
          f"{args.size} elements, median of {args.repeat} interleaved repetitions")
    print()
    if args.matrix:
        run_matrix(rng, args.size, args.repeat)
        return 0

    header = f"{'case':<46} {'baseline':<46} {'ours':>11} {'numpy':>11} {'ratio':>6} {'target':>7}  ok"
    print(header)
    print("-" * len(header))
    missed = 0
    failed = 0
    for case in CASES:
        if args.only and args.only not in case.name:
            continue
        x = case.make_input(rng, args.size)
        if case.calls and args.calls:
            case.calls = args.calls
        row = f"{case.name:<46} {case.baseline_text:<46}"
        try:
            complaint = verify(case, x)
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
        t_ours, t_base = measure(case, x, args.repeat)
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
