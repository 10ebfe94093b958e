// The bodies of the AVX level: the fast paths in 256-bit lanes; the block loops are the generic
// level's sources compiled for AVX. Compiled with -mavx and reached only through the table of
// the active level (simd/bodies.hpp).
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "map_entry.hpp"
#include "simd/bodies.hpp"

#if !defined(__AVX__)
#error "simd/avx/level.cpp must be compiled with AVX enabled"
#endif

namespace pelm_ossrel::simd::avx {
namespace {

#include "simd/kernels/level_common.inc"
#include "simd/kernels/avx_lanes.inc"
#include "simd/avx/fast_paths.inc"
#include "simd/kernels/map_lanes_portable.inc"
#include "simd/kernels/map_blend.inc"
#include "simd/kernels/block_run.inc"
#include "simd/kernels/portable_families.inc"
#include "simd/kernels/tables.inc"

constexpr LevelBodies kBodies = make_bodies(Level::Avx, FastPathBodies{
                                                            blocks_body<F32ToU8Clamp, 8, 2>,
                                                            blocks_body<F64ToU8Clamp, 4, 4>,
                                                            blocks_body<F64ToI32Clamp, 4, 4>,
                                                            blocks_body<F64ToI32Check, 4, 4>,
                                                            f64_to_f32_nearest_body<false>,
                                                        });

}  // namespace

const LevelBodies& bodies() noexcept { return kBodies; }

}  // namespace pelm_ossrel::simd::avx
