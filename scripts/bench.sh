#!/usr/bin/env bash
# Builds the module into the CPython 3.12 / NumPy 2 venv and runs the benchmark against NumPy.
# Arguments are passed on to benchmarks/bench.py (for example --repeat 31 or --only int32).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PY312="$(find_python 12)" || { echo "error: CPython 3.12 not found" >&2; exit 1; }
VENV="$BUILD/venv-py312-np2"
echo "== preparing $VENV ($PY312)" >&2
make_venv "$VENV" "$PY312" "${BUILD_REQS[@]}" "numpy>=2" >&2
export PATH="$VENV/bin:$PATH"
install_module "$VENV" >&2
echo >&2
"$VENV/bin/python" "$ROOT/benchmarks/bench.py" "$@"
