// Kernels for processors of the x86-64-v3 level (AVX2, FMA, BMI1/2, LZCNT...). This file is
// compiled with that level's flags and is reached only through the run-time selection.
#include "simd/kernel_shapes.hpp"

#if !defined(__AVX2__)
#error "simd/avx2/kernels.cpp must be compiled for the x86-64-v3 level"
#endif

namespace pelm_ossrel::simd::avx2 {
namespace {

// float32 -> uint8, clamp: blocks of 16, two 8-lane vectors. The int32 lanes are narrowed with
// the saturating packs; the 256-bit packs work within 128-bit halves, so a permutation puts
// the lanes back in index order before the store.
template <RoundingMode M>
struct F32ToU8Clamp {
    static constexpr std::size_t kBlock = 16;
    const unsigned char* src;
    unsigned char* dst;

    static __m256i to_int(__m256 v) noexcept {
        return _mm256_cvttps_epi32(clamp_ps(round_ps<M>(v), _mm256_setzero_ps(), _mm256_set1_ps(255.0f)));
    }

    template <std::size_t G>
    bool convert_blocks(std::size_t i) const noexcept {
        constexpr std::size_t kVectors = 2 * G;
        __m256 v[kVectors];
        __m256 nan = _mm256_setzero_ps();
#pragma GCC unroll 16
        for (std::size_t k = 0; k < kVectors; ++k) {
            v[k] = load_ps(src, i + 8 * k);
            nan = _mm256_or_ps(nan, nan_lanes(v[k]));
        }
        if (_mm256_movemask_ps(nan) != 0) return false;
        if constexpr (G % 2 == 0) {
            // Two blocks per store: 32 bytes.
#pragma GCC unroll 8
            for (std::size_t g = 0; g < G; g += 2) {
                const __m256i ab = _mm256_packus_epi32(to_int(v[2 * g]), to_int(v[2 * g + 1]));
                const __m256i cd = _mm256_packus_epi32(to_int(v[2 * g + 2]), to_int(v[2 * g + 3]));
                // Per half: a0-3 b0-3 c0-3 d0-3 | a4-7 b4-7 c4-7 d4-7, as bytes.
                const __m256i bytes = _mm256_packus_epi16(ab, cd);
                const __m256i ordered =
                    _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + kBlock * g), ordered);
            }
        } else {
#pragma GCC unroll 8
            for (std::size_t g = 0; g < G; ++g) {
                // a0-3 b0-3 | a4-7 b4-7 as 16-bit lanes, then a0-7 | b0-7.
                const __m256i ab = _mm256_permute4x64_epi64(
                    _mm256_packus_epi32(to_int(v[2 * g]), to_int(v[2 * g + 1])), 0xD8);
                const __m128i bytes =
                    _mm_packus_epi16(_mm256_castsi256_si128(ab), _mm256_extracti128_si256(ab, 1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + kBlock * g), bytes);
            }
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

// float64 -> uint8, clamp: blocks of 16, four 4-lane vectors, each converted to four int32
// lanes and the four narrowed together to 16 bytes.
template <RoundingMode M>
struct F64ToU8Clamp {
    static constexpr std::size_t kBlock = 16;
    const unsigned char* src;
    unsigned char* dst;

    static __m128i to_int(__m256d v) noexcept {
        return _mm256_cvttpd_epi32(clamp_pd(round_pd<M>(v), _mm256_setzero_pd(), _mm256_set1_pd(255.0)));
    }

    template <std::size_t G>
    bool convert_blocks(std::size_t i) const noexcept {
        constexpr std::size_t kVectors = 4 * G;
        __m256d v[kVectors];
        __m256d nan = _mm256_setzero_pd();
#pragma GCC unroll 16
        for (std::size_t k = 0; k < kVectors; ++k) {
            v[k] = load_pd(src, i + 4 * k);
            nan = _mm256_or_pd(nan, nan_lanes(v[k]));
        }
        if (_mm256_movemask_pd(nan) != 0) return false;
#pragma GCC unroll 8
        for (std::size_t g = 0; g < G; ++g) {
            const __m128i ab = _mm_packus_epi32(to_int(v[4 * g]), to_int(v[4 * g + 1]));
            const __m128i cd = _mm_packus_epi32(to_int(v[4 * g + 2]), to_int(v[4 * g + 3]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + kBlock * g), _mm_packus_epi16(ab, cd));
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
        return run_blocks<16, 2>(F32ToU8Clamp<M>{src, dst}, n);
    });
}

KernelStatus f64_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept {
    return with_rounding_mode(mode, [&]<RoundingMode M>() {
        return run_blocks<16, 1>(F64ToU8Clamp<M>{src, dst}, n);
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
    return f64_to_f32_nearest_kernel<true>(src, dst, n, check);
}

}  // namespace body
}  // namespace pelm_ossrel::simd::avx2
