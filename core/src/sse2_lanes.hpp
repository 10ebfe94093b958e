// Four binary32 or two binary64 lanes of an SSE2 register, with the few operations the block
// loops of the conversion families need.
//
// SSE2 is part of every x86-64 processor, so this code needs no run-time test and no special
// compiler flags. Every operation is an exact IEEE operation (add, subtract, compare, bitwise
// select) or a truncating conversion of values already known to fit; nothing depends on MXCSR
// beyond the default round-to-nearest, and nothing is contracted or reassociated. Where SSE2 is
// not available, kHaveSse2Lanes is false and the block loops are not compiled in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cast_float.hpp"
#include "modes.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelm_ossrel::detail {

#if defined(__SSE2__)
inline constexpr bool kHaveSse2Lanes = true;

template <class F>
struct Lanes;

template <>
struct Lanes<float> {
    using V = __m128;
    static constexpr std::size_t kCount = 4;

    static V load(const float* p) noexcept { return _mm_loadu_ps(p); }
    static void store(float* p, V v) noexcept { _mm_storeu_ps(p, v); }
    static V splat(float x) noexcept { return _mm_set1_ps(x); }
    static V add(V a, V b) noexcept { return _mm_add_ps(a, b); }
    static V sub(V a, V b) noexcept { return _mm_sub_ps(a, b); }
    static V bit_and(V a, V b) noexcept { return _mm_and_ps(a, b); }
    static V bit_or(V a, V b) noexcept { return _mm_or_ps(a, b); }
    // a & ~b
    static V and_not(V a, V b) noexcept { return _mm_andnot_ps(b, a); }
    static V lt(V a, V b) noexcept { return _mm_cmplt_ps(a, b); }
    static V gt(V a, V b) noexcept { return _mm_cmpgt_ps(a, b); }
    static V ge(V a, V b) noexcept { return _mm_cmpge_ps(a, b); }
    static V eq(V a, V b) noexcept { return _mm_cmpeq_ps(a, b); }
    static V unordered(V a, V b) noexcept { return _mm_cmpunord_ps(a, b); }
    // mask ? a : b, lane by lane (mask lanes all ones or all zeros).
    static V select(V mask, V a, V b) noexcept { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }
    static V max(V a, V b) noexcept { return _mm_max_ps(a, b); }
    static V min(V a, V b) noexcept { return _mm_min_ps(a, b); }
    static V sign_mask() noexcept { return _mm_castsi128_ps(_mm_set1_epi32(INT32_MIN)); }
    static V splat_all_ones() noexcept { return _mm_castsi128_ps(_mm_set1_epi32(-1)); }
    static bool any(V mask) noexcept { return _mm_movemask_ps(mask) != 0; }

    // The truncated values of lanes that lie strictly inside int32's range, as four int32;
    // lanes where `saturate` is set become `max` instead.
    static __m128i to_i32(V x) noexcept { return _mm_cvttps_epi32(x); }
    static __m128i to_i32(V x, V saturate, std::int32_t max) noexcept {
        const __m128i t = _mm_cvttps_epi32(x);
        const __m128i m = _mm_castps_si128(saturate);
        return _mm_or_si128(_mm_and_si128(m, _mm_set1_epi32(max)), _mm_andnot_si128(m, t));
    }
};

template <>
struct Lanes<double> {
    using V = __m128d;
    static constexpr std::size_t kCount = 2;

    static V load(const double* p) noexcept { return _mm_loadu_pd(p); }
    static void store(double* p, V v) noexcept { _mm_storeu_pd(p, v); }
    static V splat(double x) noexcept { return _mm_set1_pd(x); }
    static V add(V a, V b) noexcept { return _mm_add_pd(a, b); }
    static V sub(V a, V b) noexcept { return _mm_sub_pd(a, b); }
    static V bit_and(V a, V b) noexcept { return _mm_and_pd(a, b); }
    static V bit_or(V a, V b) noexcept { return _mm_or_pd(a, b); }
    static V and_not(V a, V b) noexcept { return _mm_andnot_pd(b, a); }
    static V lt(V a, V b) noexcept { return _mm_cmplt_pd(a, b); }
    static V gt(V a, V b) noexcept { return _mm_cmpgt_pd(a, b); }
    static V ge(V a, V b) noexcept { return _mm_cmpge_pd(a, b); }
    static V eq(V a, V b) noexcept { return _mm_cmpeq_pd(a, b); }
    static V unordered(V a, V b) noexcept { return _mm_cmpunord_pd(a, b); }
    static V select(V mask, V a, V b) noexcept { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }
    static V max(V a, V b) noexcept { return _mm_max_pd(a, b); }
    static V min(V a, V b) noexcept { return _mm_min_pd(a, b); }
    static V sign_mask() noexcept { return _mm_castsi128_pd(_mm_set1_epi64x(INT64_MIN)); }
    static V splat_all_ones() noexcept { return _mm_castsi128_pd(_mm_set1_epi32(-1)); }
    static bool any(V mask) noexcept { return _mm_movemask_pd(mask) != 0; }

    // The truncated values of the two lanes (strictly inside int32's range) in the low two
    // int32 of the result; lanes where `saturate` is set become `max` instead.
    static __m128i to_i32(V x) noexcept { return _mm_cvttpd_epi32(x); }
    static __m128i to_i32(V x, V saturate, std::int32_t max) noexcept {
        const __m128i t = _mm_cvttpd_epi32(x);
        // The two 64-bit mask lanes as the low two 32-bit lanes.
        const __m128i m = _mm_shuffle_epi32(_mm_castpd_si128(saturate), _MM_SHUFFLE(3, 3, 2, 0));
        return _mm_or_si128(_mm_and_si128(m, _mm_set1_epi32(max)), _mm_andnot_si128(m, t));
    }
};

// Rounding of every lane to an integral value under M, lane for lane the same value as
// round_integral<M> of cast_float.hpp: integral values, infinities (and NaNs) come back
// unchanged; below 2^(p-1) in magnitude the addition and subtraction of 2^(p-1) round to an
// integer with ties to even, and truncation corrects that result by one where it went up.
template <RoundingMode M, class F>
inline typename Lanes<F>::V round_lanes(typename Lanes<F>::V x) noexcept {
    using L = Lanes<F>;
    const auto big = L::splat(kIntegralFrom<F>);
    const auto one = L::splat(F(1));
    const auto sign = L::bit_and(x, L::sign_mask());
    const auto a = L::and_not(x, L::sign_mask());
    // t(v) for 0 <= v < 2^(p-1): the integer nearest v (ties to even), then the truncation.
    auto nearest_of = [&](typename L::V v) { return L::sub(L::add(v, big), big); };
    auto truncation_of = [&](typename L::V v) {
        const auto y = nearest_of(v);
        return L::select(L::gt(y, v), L::sub(y, one), y);
    };
    if constexpr (M == RoundingMode::NearestAway) {
        const auto s = L::add(a, L::splat(F(0.5)));
        const auto f = L::select(L::lt(s, big), truncation_of(s), s);
        return L::bit_or(f, sign);
    } else {
        const auto small = L::lt(a, big);  // false for infinities and NaNs
        if constexpr (M == RoundingMode::NearestEven) {
            return L::select(small, L::bit_or(nearest_of(a), sign), x);
        } else {
            const auto t = L::select(small, L::bit_or(truncation_of(a), sign), x);
            if constexpr (M == RoundingMode::TowardsZero) return t;
            else if constexpr (M == RoundingMode::TowardsNegative) {
                return L::select(L::gt(t, x), L::sub(t, one), t);
            } else {
                static_assert(M == RoundingMode::TowardsPositive);
                return L::select(L::lt(t, x), L::add(t, one), t);
            }
        }
    }
}

#else
inline constexpr bool kHaveSse2Lanes = false;
#endif

}  // namespace pelm_ossrel::detail
