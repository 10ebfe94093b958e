// The bodies of the generic level: baseline x86-64, SSE2 lanes and software binary16.
//
// Like every level, this translation unit includes the shared kernel sources inside its own
// namespace (an unnamed one, so nothing but bodies() has a name outside), and at file scope only
// declarations and the intrinsics of its instruction set.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "map_entry.hpp"
#include "simd/bodies.hpp"

namespace pelm_ossrel::simd::generic {
namespace {

#include "simd/kernels/level_common.inc"
#include "simd/kernels/map_lanes_portable.inc"
#include "simd/kernels/map_blend.inc"
#include "simd/kernels/block_run.inc"
#include "simd/kernels/portable_families.inc"
#include "simd/kernels/tables.inc"

// The fast paths here are element by element; the check and nearest paths decline.
constexpr LevelBodies kBodies = make_bodies(Level::Generic, FastPathBodies{
                                                                clamp_elements<float, std::uint8_t>,
                                                                clamp_elements<double, std::uint8_t>,
                                                                clamp_elements<double, std::int32_t>,
                                                                nullptr,
                                                                nullptr,
                                                            });

}  // namespace

const LevelBodies& bodies() noexcept { return kBodies; }

}  // namespace pelm_ossrel::simd::generic
