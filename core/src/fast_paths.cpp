#include "fast_paths.hpp"

#include "cpu_features.hpp"
#include "simd/kernels.hpp"

namespace pelm_ossrel {

namespace {

// The conversions never offer nearest-away; should a call bring it anyway, it is declined and
// the element loop, with its element-by-element error rules, does the work.
bool kernel_rounds(RoundingMode mode) noexcept { return mode != RoundingMode::NearestAway; }

bool has_avx() noexcept { return (cpu_feature_word() & kCpuAVX) != 0; }

}  // namespace

FastPathResult try_f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst,
                                   RoundingMode mode) noexcept {
    if (!kernel_rounds(mode)) return FastPathResult::not_handled();
    if (has_x86_64_v3()) return FastPathResult::from_kernel(simd::avx2::f32_to_u8_clamp(src, dst, mode));
    if (has_avx()) return FastPathResult::from_kernel(simd::avx::f32_to_u8_clamp(src, dst, mode));
    return FastPathResult::from_kernel(simd::generic::f32_to_u8_clamp(src, dst, mode));
}

FastPathResult try_f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst,
                                   RoundingMode mode) noexcept {
    if (!kernel_rounds(mode)) return FastPathResult::not_handled();
    if (has_x86_64_v3()) return FastPathResult::from_kernel(simd::avx2::f64_to_u8_clamp(src, dst, mode));
    if (has_avx()) return FastPathResult::from_kernel(simd::avx::f64_to_u8_clamp(src, dst, mode));
    return FastPathResult::from_kernel(simd::generic::f64_to_u8_clamp(src, dst, mode));
}

FastPathResult try_f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                    RoundingMode mode) noexcept {
    if (!kernel_rounds(mode)) return FastPathResult::not_handled();
    if (has_x86_64_v3()) return FastPathResult::from_kernel(simd::avx2::f64_to_i32_clamp(src, dst, mode));
    if (has_avx()) return FastPathResult::from_kernel(simd::avx::f64_to_i32_clamp(src, dst, mode));
    return FastPathResult::from_kernel(simd::generic::f64_to_i32_clamp(src, dst, mode));
}

FastPathResult try_f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                    RoundingMode mode) noexcept {
    if (!kernel_rounds(mode)) return FastPathResult::not_handled();
    if (has_x86_64_v3()) return FastPathResult::from_kernel(simd::avx2::f64_to_i32_check(src, dst, mode));
    if (has_avx()) return FastPathResult::from_kernel(simd::avx::f64_to_i32_check(src, dst, mode));
    return FastPathResult::not_handled();
}

FastPathResult try_f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept {
    if (has_x86_64_v3()) return FastPathResult::from_kernel(simd::avx2::f64_to_f32_nearest(src, dst, check));
    if (has_avx()) return FastPathResult::from_kernel(simd::avx::f64_to_f32_nearest(src, dst, check));
    return FastPathResult::not_handled();
}

}  // namespace pelm_ossrel
