# The compile flags of every build of this project, declared once: the main build (the core, its
# tests and the module), the sanitizer build and the fuzz target all take them from here, and the
# presets of CMakePresets.json only choose among the options below.

# Exact IEEE arithmetic: no contraction into FMA, no fast-math, default environment.
set(OSSREL_COMMON_OPTIONS -Wall -Wextra -Wpedantic -ffp-contract=off -fno-fast-math)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # clang reads the compound literals inside the F16C intrinsic macros as a C99 extension.
  list(APPEND OSSREL_COMMON_OPTIONS -Wno-c99-extensions)
endif()

# The processor levels of src/simd: each level's translation unit is compiled with its flags
# alone; everything else is baseline x86-64.
set(OSSREL_AVX_OPTIONS -mavx)
set(OSSREL_AVX2_OPTIONS -mavx2 -mfma -mbmi -mbmi2 -mlzcnt -mpopcnt -msse4.2 -mf16c)

# AddressSanitizer and UndefinedBehaviorSanitizer, float-cast-overflow included, every finding
# fatal: the sanitizer build and the fuzz target.
set(OSSREL_SANITIZERS address,undefined,float-cast-overflow)
set(OSSREL_SANITIZE_OPTIONS -fsanitize=${OSSREL_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
