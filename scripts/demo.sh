#!/usr/bin/env bash
# Builds the module into a venv and runs the demo on its embedded sample.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PY="$(find_default_python)"
VER="$("$PY" -c 'import sys; print(f"{sys.version_info[0]}{sys.version_info[1]}")')"
echo "== first run: installs the build requirements and builds the module" >&2
enter_venv "$PY" "venv-py$VER-np2" "numpy>=2"
install_module "$VENV" >&2
echo >&2
"$VENV/bin/python" "$ROOT/examples/demo.py"
