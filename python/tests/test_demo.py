"""The demo that `make demo` runs: it completes quietly and prints the lines its story relies on."""

import subprocess
import sys
from pathlib import Path

import pytest

DEMO = Path(__file__).resolve().parents[2] / "examples" / "demo.py"

HINT = "Set out_of_range='clamp' or out_of_range='wrap' to handle this."

# Whole lines of the demo's output: columns of 8 after a label column of 34, indented by 2; a label
# is the arguments the row's call passes, on a line of its own when longer than its column.
EXPECTED_LINES = (
    "  frame (float64)                       12.4    87.5   254.6     nan    -3.2   300.7     0.5   128.5",
    '  out_of_range_mode="clamp"         ValueError: Cannot cast NaN to integer type without scalar_map',
    '  out_of_range_mode="clamp", scalar_map_entries=[(nan, 0)]',
    "                                          12      88     255       0       0     255       0     128",
    '  out_of_range_mode="wrap", scalar_map_entries=[(nan, 0)]',
    "                                          12      88     255       0     253      45       0     128",
    f"  scalar_map_entries=[(nan, 0)]     ValueError: Value -3 out of range [0, 255]. {HINT}",
    "  ties (float64)                        -2.5    -1.5    -0.5     0.5     1.5     2.5",
    '  rounding_mode="nearest-even"            -2      -2       0       0       2       2',
    '  rounding_mode="towards-zero"            -2      -1       0       0       1       2',
    '  rounding_mode="towards-positive"        -2      -1       0       1       2       3',
    '  rounding_mode="towards-negative"        -3      -2      -1       0       1       2',
    '  rounding_mode="nearest-away"            -3      -2      -1       1       2       3',
    "  x (float64)                            0.1 3.14159    2049   -2049",
    '  rounding_mode="towards-positive"   0.10004   3.143    2050   -2048',
    "  x (float64)                        1000000",
    f'  rounding_mode="towards-positive"  ValueError: Value 1000000 out of range [-65504, 65504]. {HINT}',
    '  rounding_mode="towards-zero"         65504',
    '  rounding_mode="nearest-even", out_of_range_mode="clamp"',
    "                                         inf",
    'cast_array_into(frame, image[1], rounding_mode="nearest-even", out_of_range_mode="clamp",',
    "  image[0]                                 7       7       7       7       7       7       7       7",
    "  image[1]                                12      88     255       0       0     255       0     128",
    '  out_of_range_mode="clamp"                0       0     255     255     255',
    '  out_of_range_mode="wrap"               253       0     255       0      44',
    f"  out_of_range_mode=None            ValueError: Value -3 out of range [0, 255]. {HINT}",
)


@pytest.fixture(scope="module")
def demo():
    return subprocess.run([sys.executable, str(DEMO)], capture_output=True, text=True, timeout=120)


def test_demo_runs_quietly(demo):
    assert demo.returncode == 0, demo.stderr
    assert demo.stderr == ""
    # One screen: the story fits in about forty lines.
    assert len(demo.stdout.splitlines()) <= 45


def test_demo_shows_astype_beside_the_module(demo):
    # NumPy's values for NaN and out-of-range elements depend on the platform: only the label
    # and the note that says so are fixed.
    lines = demo.stdout.splitlines()
    assert any(line.startswith("  frame.astype(np.uint8)  ") for line in lines)
    assert "  (astype truncates; its NaN and out-of-range cells are platform-dependent)" in lines


@pytest.mark.parametrize("line", EXPECTED_LINES)
def test_demo_prints_line(demo, line):
    assert line in demo.stdout.splitlines()
