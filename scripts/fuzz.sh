#!/usr/bin/env bash
# Builds the core's fuzz target with clang++, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for FUZZ_SECONDS (default 60) from the corpus kept
# in fuzz/corpus. New inputs go to build/fuzz/corpus, a failing input to build/fuzz/artifacts.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
FUZZ_BUILD="$BUILD/fuzz"

# find_clang: the newest clang++ on PATH, with its libFuzzer runtime (Debian's clang-NN and
# libclang-rt-NN-dev, installed when missing).
find_clang() {
    local cand
    for cand in clang++ $(compgen -c clang++- | sort -t- -k2 -n -r | uniq); do
        if command -v "$cand" >/dev/null 2>&1 &&
            echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
            "$cand" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
            command -v "$cand"
            return 0
        fi
    done
    return 1
}

CLANGXX="$(find_clang)" || {
    echo "== installing clang and its libFuzzer runtime"
    apt_update
    version="$(apt-cache policy clang | sed -n 's/^ *Candidate: *1:\([0-9]*\).*/\1/p')"
    apt_install "clang-$version" "libclang-rt-$version-dev"
    CLANGXX="$(find_clang)" || { echo "error: no clang++ with libFuzzer" >&2; exit 1; }
}

# CMake and Ninja come from the venv that `make test` uses.
enter_venv "$(require_python 12)" venv-py312-np2 "numpy>=2"

echo "== fuzz target ($CLANGXX)"
# A build folder configured from another source folder (the fuzz target was once a project of
# its own) is started afresh.
if [[ -f "$FUZZ_BUILD/CMakeCache.txt" ]] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$ROOT" "$FUZZ_BUILD/CMakeCache.txt"; then
    rm -rf "$FUZZ_BUILD"
fi
OSSREL_CLANGXX="$CLANGXX" configure_preset fuzz
cmake --build "$FUZZ_BUILD" -j"$(nproc)" --target fuzz_core

mkdir -p "$FUZZ_BUILD/corpus" "$FUZZ_BUILD/artifacts"
echo "== fuzzing for $FUZZ_SECONDS s"
"$FUZZ_BUILD/fuzz/fuzz_core" -max_total_time="$FUZZ_SECONDS" -max_len=1024 -print_final_stats=1 \
    -artifact_prefix="$FUZZ_BUILD/artifacts/" "$FUZZ_BUILD/corpus" "$ROOT/fuzz/corpus"
