#!/usr/bin/env bash
# Runs the demo on its embedded sample.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PY="$(find_default_python)"
cmake -S "$ROOT" -B "$BUILD/demo" -DCMAKE_BUILD_TYPE=Release -DOSSREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD/demo" --target native_demo -j"$(nproc)" >/dev/null
"$BUILD/demo/examples/native_demo"
