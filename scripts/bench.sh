#!/usr/bin/env bash
# Builds the module into the CPython 3.12 / NumPy 2 venv and runs the benchmark against NumPy.
# Arguments are passed on to benchmarks/bench.py (for example --repeat 31 or --only int32).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

enter_venv "$(require_python 12)" venv-py312-np2 "numpy>=2"
install_module "$VENV" >&2
echo >&2
"$VENV/bin/python" "$ROOT/benchmarks/bench.py" "$@"
