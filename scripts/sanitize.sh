#!/usr/bin/env bash
# Builds the core and the module with AddressSanitizer and UndefinedBehaviorSanitizer
# (float-cast-overflow included, every finding fatal) and runs every test under them: the
# core's native tests, then the module's pytest suite in an interpreter started with the
# sanitizer runtimes preloaded, and last a leak check of the module's own allocations.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_gtest
use_compiler_cache

enter_venv "$(require_python 12)" venv-py312-sanitize "${TEST_REQS[@]}" "numpy>=2"

# Every report stops the run with a stack; ASan's own exit code makes the test fail.
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:report_error_type=1"
SAN_BUILD_TYPE=RelWithDebInfo

echo "== native build and tests (sanitizers)"
configure_preset sanitize
cmake --build "$BUILD/sanitize" -j"$(nproc)"
# One process for the whole suite: ASan's start-up per test case would cost more than the tests.
ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1" \
    "$BUILD/sanitize/core/tests/pelm_ossrel_tests" --gtest_brief=1

if [[ -z "$(ls "$ROOT"/python/src/*.cpp 2>/dev/null)" ]]; then
    echo "(no module yet)"
    exit 0
fi

echo "== module wheel (sanitizers)"
DIST="$BUILD/dist/sanitize"
rm -rf "$DIST"
"$VENV/bin/python" -m pip wheel "${PIP_FLAGS[@]}" --no-build-isolation --no-deps -w "$DIST" \
    -C cmake.define.OSSREL_SANITIZE=ON -C cmake.build-type="$SAN_BUILD_TYPE" \
    -C build-dir="$BUILD/sanitize-wheel" "$ROOT"
install_module "$VENV" "$(ls "$DIST"/*.whl)"

# The interpreter is not built with the sanitizers: their runtimes must be loaded first, and
# every Python allocation goes through malloc so that ASan sees it. CPython keeps memory to
# the end by design, so the test run does not look for leaks; the check below does, for the
# module's allocations only.
SAN_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"

echo "== module tests (sanitizers)"
run_pytest "$VENV" LD_PRELOAD="$SAN_PRELOAD" PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0

echo "== module leak check (sanitizers)"
# Every call path of the module, successful and failing, then LeakSanitizer at exit. Of the
# blocks it finds unreachable, those allocated by the interpreter and NumPy for themselves
# are theirs; any block with a frame of the module or the core in its allocation stack is a
# leak of ours.
LEAK_LOG="$BUILD/sanitize/leaks"
rm -f "$LEAK_LOG".*
# The internal faults among them write their texts to standard error: kept aside, shown only
# if the run itself fails.
(cd "$ROOT/python/tests" && env LD_PRELOAD="$SAN_PRELOAD" PYTHONMALLOC=malloc \
    ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:log_path=$LEAK_LOG:exitcode=0" \
    "$VENV/bin/python" -c "import test_leaks; test_leaks.run_all(repeat=20)" 2>"$LEAK_LOG.stderr") ||
    { cat "$LEAK_LOG.stderr" >&2; exit 1; }
if compgen -G "$LEAK_LOG.[0-9]*" >/dev/null; then
    # exitcode=0 keeps the interpreter's own leaks from failing the run: any other report of
    # the sanitizer in the log does.
    if grep -q "ERROR: AddressSanitizer" "$LEAK_LOG".[0-9]*; then
        cat "$LEAK_LOG".[0-9]* >&2
        exit 1
    fi
    ours="$(awk -v RS= '/(Direct|Indirect) leak/ && /_ossrel_rs|pelm_ossrel|python\/src\/|core\/src\//' "$LEAK_LOG".[0-9]*)"
    if [[ -n "$ours" ]]; then
        echo "error: the module leaks:" >&2
        echo "$ours" >&2
        exit 1
    fi
fi
echo "== sanitizers: clean"
