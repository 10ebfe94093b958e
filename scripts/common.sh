# The preamble of every make target's script: the paths, finding CPython 3.12+, venvs,
# GoogleTest, the module's wheel and its tests. The builds themselves are the presets of
# CMakePresets.json, whose flags come from cmake/flags.cmake.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
PIP_FLAGS=(--quiet --disable-pip-version-check)

# find_python MINOR: prints the path of a CPython 3.MINOR interpreter (PATH first, then pyenv).
find_python() {
    local minor="$1" cand root
    for cand in "python3.$minor" python3 python; do
        if command -v "$cand" >/dev/null 2>&1 &&
            "$cand" -c "import sys; sys.exit(0 if sys.version_info[:2] == (3, $minor) else 1)" 2>/dev/null; then
            command -v "$cand"
            return 0
        fi
    done
    root="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"
    for cand in $(ls -d "$root"/versions/3."$minor".* 2>/dev/null | sort -V -r); do
        if [[ -x "$cand/bin/python3" ]]; then
            echo "$cand/bin/python3"
            return 0
        fi
    done
    return 1
}

# find_default_python: the newest-first search for any CPython 3.12 or newer.
find_default_python() {
    local minor
    for minor in 12 13 14; do
        if find_python "$minor"; then return 0; fi
    done
    echo "error: CPython 3.12 or newer not found on PATH or through pyenv" >&2
    return 1
}

# make_venv DIR PYTHON PACKAGES...: creates DIR (once) and installs the packages into it.
make_venv() {
    local dir="$1" py="$2"
    shift 2
    if [[ ! -x "$dir/bin/python" ]]; then
        "$py" -m venv "$dir"
    fi
    "$dir/bin/python" -m pip install "${PIP_FLAGS[@]}" --upgrade pip >/dev/null
    "$dir/bin/python" -m pip install "${PIP_FLAGS[@]}" "$@"
}

# as_root COMMAND...: runs COMMAND as root (through sudo when not root).
as_root() {
    if [[ "$(id -u)" == 0 ]]; then "$@"; else sudo "$@"; fi
}

# apt_update: refreshes Debian's package lists, once per script.
apt_update() {
    [[ -n "${APT_UPDATED:-}" ]] && return 0
    as_root apt-get update -qq
    APT_UPDATED=1
}

# apt_install PACKAGE...: installs Debian's packages.
apt_install() {
    apt_update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

# ensure_gtest: GoogleTest from Debian's packages when it is missing.
ensure_gtest() {
    if [[ -f /usr/include/gtest/gtest.h ]] && compgen -G "/usr/lib/*/libgtest.a" >/dev/null; then
        return 0
    fi
    echo "== installing GoogleTest (libgtest-dev)"
    apt_install libgtest-dev
}

# use_compiler_cache: one run compiles the core's translation units with the same flags several
# times (for the native tests and for each interpreter's wheel; for the sanitizer tests and the
# sanitizer wheel), and they take minutes each. ccache, from Debian's packages when it is
# missing, compiles each once; without it every build compiles afresh, as it would anyway.
use_compiler_cache() {
    if ! command -v ccache >/dev/null 2>&1; then
        echo "== installing ccache"
        apt_install ccache 2>/dev/null || {
            echo "== warning: ccache could not be installed: every build compiles afresh" >&2
            return 0
        }
    fi
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_DIR="$BUILD/ccache" CCACHE_MAXSIZE=4G
    # The builds lie in folders of their own, which is no part of what they compile; the
    # compiler is named alike in each, as ccache tells compilers apart by their names.
    export CCACHE_NOHASHDIR=true
    if [[ -z "${CXX:-}" ]] && command -v g++ >/dev/null 2>&1; then export CXX="$(command -v g++)"; fi
}

BUILD_REQS=("scikit-build-core>=0.10" "cmake>=3.21" ninja pytest)
# What the module's tests need besides NumPy.
TEST_REQS=(pytest hypothesis)

# require_python MINOR: prints the path of a CPython 3.MINOR interpreter, or stops the script.
require_python() {
    find_python "$1" || { echo "error: CPython 3.$1 not found" >&2; exit 1; }
}

# enter_venv PYTHON NAME [PACKAGES...]: the venv $BUILD/NAME of PYTHON with the build
# requirements and PACKAGES installed, put first on PATH (CMake and Ninja come from it) and named
# by $VENV.
enter_venv() {
    local py="$1" name="$2"
    shift 2
    VENV="$BUILD/$name"
    echo "== venv $VENV ($py)" >&2
    make_venv "$VENV" "$py" "${BUILD_REQS[@]}" "$@" >&2
    export PATH="$VENV/bin:$PATH"
}

# configure_preset NAME: configures the CMake preset NAME (its build folder is $BUILD/NAME).
configure_preset() {
    cmake --preset "$1" -S "$ROOT" >/dev/null
}

# build_wheel VENV: builds the module's wheel with VENV's NumPy 2 headers, prints its path.
build_wheel() {
    local venv="$1" dist="$BUILD/dist/$(basename "$1")"
    rm -rf "$dist"
    PATH="$venv/bin:$PATH" "$venv/bin/python" -m pip wheel "${PIP_FLAGS[@]}" --no-build-isolation \
        --no-deps -w "$dist" "$ROOT" >&2
    ls "$dist"/*.whl
}

# install_module VENV [WHEEL]: installs WHEEL (built from VENV when not given) into VENV.
install_module() {
    local venv="$1" wheel="${2:-}"
    if [[ -z "$wheel" ]]; then wheel="$(build_wheel "$venv")"; fi
    "$venv/bin/python" -m pip install "${PIP_FLAGS[@]}" --force-reinstall --no-deps "$wheel"
}

# run_pytest VENV [NAME=VALUE...]: the module's tests in VENV, in an environment with the given
# variables added; "no tests collected" (exit code 5) is not a failure.
run_pytest() {
    local venv="$1" rc=0
    shift
    if [[ -z "$(ls "$ROOT"/python/tests/test_*.py 2>/dev/null)" ]]; then
        echo "(no module tests yet)"
        return 0
    fi
    (cd "$ROOT" && env "$@" "$venv/bin/python" -m pytest -q -p no:cacheprovider python/tests) || rc=$?
    if [[ $rc -ne 0 && $rc -ne 5 ]]; then return $rc; fi
}
