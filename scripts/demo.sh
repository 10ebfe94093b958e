#!/usr/bin/env bash
# Runs the demo on its embedded sample. The venv and the module are installed only when the venv
# is missing or its module is not the one the current sources build; only then is it announced.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PY="$(find_default_python)"
VER="$("$PY" -c 'import sys; print(f"{sys.version_info[0]}{sys.version_info[1]}")')"
NAME="venv-py$VER-np2"
VENV="$BUILD/$NAME"
STAMP="$VENV/.demo-module-sources"

# module_sources: one digest of every file the module's wheel is built from.
module_sources() {
    (cd "$ROOT" && find pyproject.toml CMakeLists.txt cmake core/CMakeLists.txt core/src \
        python/CMakeLists.txt python/src examples/CMakeLists.txt examples/native_demo.cpp \
        -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1)
}

# install_notice: what is about to be installed, or nothing when the venv's module is current.
install_notice() {
    if [[ ! -x "$VENV/bin/python" ]]; then
        echo "== first run: installs the build requirements and builds the module"
    elif [[ "$(cat "$STAMP" 2>/dev/null)" != "$SOURCES" ]] ||
        ! "$VENV/bin/python" -c "import numpy, _ossrel_rs" 2>/dev/null; then
        echo "== the module is missing or older than its sources: builds and installs it"
    fi
}

SOURCES="$(module_sources)"
NOTICE="$(install_notice)"
if [[ -n "$NOTICE" ]]; then
    echo "$NOTICE" >&2
    enter_venv "$PY" "$NAME" "numpy>=2"
    install_module "$VENV" >&2
    echo "$SOURCES" >"$STAMP"
    echo >&2
fi
"$VENV/bin/python" "$ROOT/examples/demo.py"
