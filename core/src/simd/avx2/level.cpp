// The bodies of the x86-64-v3 level (AVX2, FMA, BMI1/2, LZCNT, F16C...): every body in 256-bit
// lanes, binary16 with F16C. Compiled with that level's flags and reached only through the table
// of the active level (simd/bodies.hpp).
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "map_entry.hpp"
#include "simd/bodies.hpp"

#if !defined(__AVX2__) || !defined(__F16C__)
#error "simd/avx2/level.cpp must be compiled for the x86-64-v3 level with F16C"
#endif

namespace pelm_ossrel::simd::avx2 {
namespace {

#include "simd/kernels/level_common.inc"
#include "simd/kernels/avx_lanes.inc"
#include "simd/avx2/fast_paths.inc"
#include "simd/avx2/float_lanes.inc"
#include "simd/avx2/float_blocks.inc"
#include "simd/avx2/narrow_to_f16.inc"
#include "simd/avx2/map_lanes.inc"
#include "simd/kernels/map_blend.inc"
#include "simd/kernels/block_run.inc"

namespace float_to_int {
#include "simd/avx2/float_to_int.inc"
}
namespace float_to_float {
#include "simd/kernels/float_to_float.inc"
}
namespace int_to_float {
#include "simd/avx2/int_to_float.inc"
}
namespace int_to_int {
#include "simd/avx2/int_to_int.inc"
}
namespace direct {
#include "simd/kernels/direct.inc"
}

#include "simd/kernels/tables.inc"

constexpr LevelBodies kBodies = make_bodies(Level::Avx2, FastPathBodies{
                                                             blocks_body<F32ToU8Clamp, 16, 2>,
                                                             blocks_body<F64ToU8Clamp, 16, 1>,
                                                             blocks_body<F64ToI32Clamp, 4, 4>,
                                                             blocks_body<F64ToI32Check, 4, 4>,
                                                             f64_to_f32_nearest_body<true>,
                                                         });

}  // namespace

const LevelBodies& bodies() noexcept { return kBodies; }

}  // namespace pelm_ossrel::simd::avx2
