#!/usr/bin/env bash
# Builds everything and runs every test: the core's native tests, then the module's
# pytest suite on each interpreter / NumPy combination of the supported matrix.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_gtest
use_compiler_cache

PY312="$(require_python 12)"
enter_venv "$PY312" venv-py312-np2 "${TEST_REQS[@]}" "numpy>=2"
BASE_VENV="$VENV"

echo "== native build and tests"
configure_preset native
cmake --build "$BUILD/native" -j"$(nproc)"
(cd "$BUILD/native" && ctest --output-on-failure -j"$(nproc)")

# The supported matrix: CPython 3.12 and 3.13, each with the newest NumPy 2, and CPython 3.12
# with NumPy 1.26 (the wheel built against NumPy 2 headers runs on both).
if [[ -n "$(ls "$ROOT"/python/src/*.cpp 2>/dev/null)" ]]; then
    echo "== module: CPython 3.12, newest NumPy 2"
    WHEEL312="$(build_wheel "$BASE_VENV")"
    install_module "$BASE_VENV" "$WHEEL312"
    run_pytest "$BASE_VENV"

    echo "== module: CPython 3.12, NumPy 1.26"
    NP1_VENV="$BUILD/venv-py312-np1"
    make_venv "$NP1_VENV" "$PY312" "${TEST_REQS[@]}" "numpy==1.26.*"
    install_module "$NP1_VENV" "$WHEEL312"
    run_pytest "$NP1_VENV"

    if PY313="$(find_python 13)"; then
        echo "== module: CPython 3.13, newest NumPy 2 ($PY313)"
        VENV313="$BUILD/venv-py313-np2"
        make_venv "$VENV313" "$PY313" "${BUILD_REQS[@]}" "${TEST_REQS[@]}" "numpy>=2"
        install_module "$VENV313"
        run_pytest "$VENV313"
    elif [[ "${CI:-}" == true ]]; then
        echo "error: CPython 3.13 not found on PATH or through pyenv" >&2
        exit 1
    else
        echo "== warning: CPython 3.13 not found on PATH or through pyenv: its part of the matrix is skipped" >&2
    fi
fi
echo "== all tests passed"
