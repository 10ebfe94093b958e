// Nearest results of a block of 16 elements at once, for the block loops of the
// floating-to-floating and integer-to-floating conversions.
//
// Each function gives, element for element, the value that the element loop's own nearest
// conversion gives (float_nearest in float_to_float.hpp, int_to_float_nearest in
// int_to_float.hpp): binary64 to binary32 with the SSE2 conversion (round to nearest, ties to
// even), binary16 through the bulk F16C conversions where the processor has them and the
// software conversions otherwise (the same bits either way). A block holding a NaN where the
// element loop builds the NaN from its bits is not converted here: the function answers false
// and the caller runs the element loop on that block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "f16.hpp"
#include "sse2_lanes.hpp"

namespace pelm_ossrel::detail {

inline constexpr std::size_t kFloatBlock = 16;

#if defined(__SSE2__)

// Binary32 values to binary16, to nearest with ties to even.
inline void f32_block_to_f16(const float* in, f16* out) noexcept {
    if (f16_uses_f16c()) {
        f32_to_f16_x86_f16c_n(reinterpret_cast<const unsigned char*>(in), reinterpret_cast<unsigned char*>(out),
                              kFloatBlock);
    } else {
        for (std::size_t j = 0; j < kFloatBlock; ++j) out[j] = f32_to_f16_soft(in[j]);
    }
}

// Whether any of the block's binary64 (or binary32) values is a NaN.
template <class F>
inline bool block_has_nan(const unsigned char* in) noexcept {
    using L = Lanes<F>;
    typename L::V nan = L::splat(F(0));
    for (std::size_t k = 0; k < kFloatBlock; k += L::kCount) {
        const typename L::V v = L::load(reinterpret_cast<const F*>(in + k * sizeof(F)));
        nan = L::bit_or(nan, L::unordered(v, v));
    }
    return L::any(nan);
}

inline bool f16_block_has_nan(const unsigned char* in) noexcept {
    const __m128i magnitude = _mm_set1_epi16(0x7FFF);
    const __m128i inf = _mm_set1_epi16(0x7C00);
    const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), magnitude);
    const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16)), magnitude);
    // Both operands are below 0x8000, so the signed comparison is the unsigned one.
    const __m128i nan = _mm_or_si128(_mm_cmpgt_epi16(a, inf), _mm_cmpgt_epi16(b, inf));
    return _mm_movemask_epi8(nan) != 0;
}

// Binary64 to binary32 for a block without NaNs.
inline void f64_block_to_f32(const unsigned char* in, float* out) noexcept {
    for (std::size_t k = 0; k < kFloatBlock; k += 4) {
        const __m128 lo = _mm_cvtpd_ps(_mm_loadu_pd(reinterpret_cast<const double*>(in + k * 8)));
        const __m128 hi = _mm_cvtpd_ps(_mm_loadu_pd(reinterpret_cast<const double*>(in + k * 8 + 16)));
        _mm_storeu_ps(out + k, _mm_movelh_ps(lo, hi));
    }
}

// Binary32 to binary64 (exact) for values without NaNs.
inline void f32_block_to_f64(const float* in, double* out) noexcept {
    for (std::size_t k = 0; k < kFloatBlock; k += 4) {
        const __m128 v = _mm_loadu_ps(in + k);
        _mm_storeu_pd(out + k, _mm_cvtps_pd(v));
        _mm_storeu_pd(out + k + 2, _mm_cvtps_pd(_mm_movehl_ps(v, v)));
    }
}

// The nearest results of the 16 elements at `in`, or false (nothing written) for a block that
// the element loop must convert.
template <class S, class D>
inline bool float_nearest_block(const unsigned char* in, D* r) noexcept {
    if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) {
        if (block_has_nan<double>(in)) return false;
        f64_block_to_f32(in, r);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, f16>) {
        if (block_has_nan<double>(in)) return false;
        float narrowed[kFloatBlock];
        f64_block_to_f32(in, narrowed);
        f32_block_to_f16(narrowed, r);
    } else if constexpr (std::is_same_v<S, float> && std::is_same_v<D, f16>) {
        float x[kFloatBlock];
        std::memcpy(x, in, sizeof x);
        f32_block_to_f16(x, r);
    } else if constexpr (std::is_same_v<S, f16> && std::is_same_v<D, float>) {
        f16_run_to_f32(in, r, kFloatBlock);
    } else if constexpr (std::is_same_v<S, f16> && std::is_same_v<D, double>) {
        if (f16_block_has_nan(in)) return false;
        float widened[kFloatBlock];
        f16_run_to_f32(in, widened, kFloatBlock);
        f32_block_to_f64(widened, r);
    } else {
        static_assert(std::is_same_v<S, float> && std::is_same_v<D, double>);
        if (block_has_nan<float>(in)) return false;
        float x[kFloatBlock];
        std::memcpy(x, in, sizeof x);
        f32_block_to_f64(x, r);
    }
    return true;
}

// The nearest float16 results of 16 integers at `in`: each rounded to binary32 first, as the
// element loop does (exact below 2^24 in magnitude, where every float16 result lies).
template <class S>
inline void int_to_f16_nearest_block(const unsigned char* in, f16* r) noexcept {
    S x[kFloatBlock];
    std::memcpy(x, in, sizeof x);
    float widened[kFloatBlock];
    for (std::size_t j = 0; j < kFloatBlock; ++j) widened[j] = static_cast<float>(x[j]);
    f32_block_to_f16(widened, r);
}

#endif

}  // namespace pelm_ossrel::detail
