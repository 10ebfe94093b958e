// Kernels for processors with AVX but without the x86-64-v3 level. This file is compiled with
// -mavx and is reached only through the run-time selection. AVX has 256-bit floating
// operations but only 128-bit integer ones, so the integer results are narrowed and stored
// from 128-bit halves.
#include "simd/kernel_shapes.hpp"

#if !defined(__AVX__)
#error "simd/avx/kernels.cpp must be compiled with AVX enabled"
#endif

namespace pelm_ossrel::simd::avx {
namespace {

// float32 -> uint8, clamp: blocks of 8, one 8-lane vector, narrowed to 8 bytes.
template <RoundingMode M>
struct F32ToU8Clamp {
    static constexpr std::size_t kBlock = 8;
    const unsigned char* src;
    unsigned char* dst;

    template <std::size_t G>
    bool convert_blocks(std::size_t i) const noexcept {
        __m256 v[G];
        __m256 nan = _mm256_setzero_ps();
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            v[g] = load_ps(src, i + kBlock * g);
            nan = _mm256_or_ps(nan, nan_lanes(v[g]));
        }
        if (_mm256_movemask_ps(nan) != 0) return false;
        const __m256 lo = _mm256_setzero_ps();
        const __m256 hi = _mm256_set1_ps(255.0f);
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            const __m256i q = _mm256_cvttps_epi32(clamp_ps(round_ps<M>(v[g]), lo, hi));
            const __m128i words =
                _mm_packus_epi32(_mm256_castsi256_si128(q), _mm256_extractf128_si256(q, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i + kBlock * g),
                             _mm_packus_epi16(words, words));
        }
        return true;
    }
    KernelStatus block_error(std::size_t i) const noexcept {
        return clamp_block_error<float, std::uint8_t, M, ScalarRound>(src, dst, i, i + kBlock);
    }
    KernelStatus element(std::size_t i) const noexcept {
        return clamp_element<float, std::uint8_t, M, ScalarRound>(src, dst, i);
    }
};

// float64 -> uint8, clamp: blocks of 4, one 4-lane vector, narrowed to 4 bytes.
template <RoundingMode M>
struct F64ToU8Clamp {
    static constexpr std::size_t kBlock = 4;
    const unsigned char* src;
    unsigned char* dst;

    template <std::size_t G>
    bool convert_blocks(std::size_t i) const noexcept {
        __m256d v[G];
        __m256d nan = _mm256_setzero_pd();
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            v[g] = load_pd(src, i + kBlock * g);
            nan = _mm256_or_pd(nan, nan_lanes(v[g]));
        }
        if (_mm256_movemask_pd(nan) != 0) return false;
        const __m256d lo = _mm256_setzero_pd();
        const __m256d hi = _mm256_set1_pd(255.0);
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            const __m128i q = _mm256_cvttpd_epi32(clamp_pd(round_pd<M>(v[g]), lo, hi));
            const __m128i words = _mm_packus_epi32(q, q);
            const __m128i bytes = _mm_packus_epi16(words, words);
            store<std::int32_t>(dst + i + kBlock * g, 0, _mm_cvtsi128_si32(bytes));
        }
        return true;
    }
    KernelStatus block_error(std::size_t i) const noexcept {
        return clamp_block_error<double, std::uint8_t, M, ScalarRound>(src, dst, i, i + kBlock);
    }
    KernelStatus element(std::size_t i) const noexcept {
        return clamp_element<double, std::uint8_t, M, ScalarRound>(src, dst, i);
    }
};

}  // namespace

namespace body {

KernelStatus f32_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept {
    return with_rounding_mode(mode, [&]<RoundingMode M>() {
        return run_blocks<8, 2>(F32ToU8Clamp<M>{src, dst}, n);
    });
}

KernelStatus f64_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept {
    return with_rounding_mode(mode, [&]<RoundingMode M>() {
        return run_blocks<4, 4>(F64ToU8Clamp<M>{src, dst}, n);
    });
}

KernelStatus f64_to_i32_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                              RoundingMode mode) noexcept {
    return with_rounding_mode(mode, [&]<RoundingMode M>() {
        return run_blocks<4, 4>(F64ToI32Clamp<M>{src, dst}, n);
    });
}

KernelStatus f64_to_i32_check(const unsigned char* src, unsigned char* dst, std::size_t n,
                              RoundingMode mode) noexcept {
    return with_rounding_mode(mode, [&]<RoundingMode M>() {
        return run_blocks<4, 4>(F64ToI32Check<M>{src, dst}, n);
    });
}

KernelStatus f64_to_f32_nearest(const unsigned char* src, unsigned char* dst, std::size_t n,
                                bool check) noexcept {
    return f64_to_f32_nearest_kernel<false>(src, dst, n, check);
}

}  // namespace body
}  // namespace pelm_ossrel::simd::avx
