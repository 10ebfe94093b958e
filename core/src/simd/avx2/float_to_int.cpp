// The floating-to-integer block loop for processors of the x86-64-v3 level (the screen and the
// conversion of float_to_int_blocks.hpp, eight binary32 or four binary64 lanes at a time, with
// the processor's round-to-integral instruction). Compiled with that level's flags and reached
// only through the run-time selection; see simd/float_to_int_kernels.hpp for the contract.
//
// Like the other per-level kernels, everything here uses compiler builtins, intrinsics and the
// internal-linkage helpers of simd/kernel_shapes.hpp only, never an inline function or template
// of another header, so that no code compiled for this level can be merged by the linker with a
// baseline copy.
#include "simd/float_to_int_kernels.hpp"

#include "f16.hpp"
#include "simd/kernel_shapes.hpp"

#if !defined(__AVX2__) || !defined(__F16C__)
#error "simd/avx2/float_to_int.cpp must be compiled for the x86-64-v3 level with F16C"
#endif

#include <immintrin.h>

namespace pelm_ossrel::simd::avx2::body {
namespace {

constexpr std::uint8_t kClamp = static_cast<std::uint8_t>(OutOfRangeMode::Clamp);
constexpr std::uint8_t kWrap = static_cast<std::uint8_t>(OutOfRangeMode::Wrap);
constexpr std::uint8_t kAbsent = OptionalOutOfRangeMode::kAbsent;

constexpr double pow2(int e) noexcept {
    double r = 1.0;
    for (int i = 0; i < e; ++i) r *= 2.0;
    return r;
}

// ---- Targets and windows ------------------------------------------------------------------

template <class D>
inline constexpr bool kSigned = static_cast<D>(-1) < static_cast<D>(0);
template <class D>
inline constexpr int kDigits = static_cast<int>(sizeof(D) * 8) - (kSigned<D> ? 1 : 0);
template <class D>
inline constexpr bool kWide = sizeof(D) == 8;

// Digits of the working precision: binary32 for binary16 and binary32 sources, binary64 for
// binary64 ones.
template <class W>
inline constexpr int kPrecision = sizeof(W) == 4 ? 24 : 53;

// The magnitude bound of the 64-bit targets: integers up to 2^51 convert exactly through the
// significand of 1.5 * 2^52.
inline constexpr double kWideBound = pow2(51);

// [kLow, kHigh]: the working values that the lanes convert. For targets of up to 32 bits the
// target's range, except that where W cannot hold the maximum the window stops at the largest
// W below 2^digits (values at or above 2^digits then store the maximum under clamp); for 64-bit
// targets the target's range cut to +-2^51.
template <class D, class W>
inline constexpr W kLow = kWide<D> ? (kSigned<D> ? static_cast<W>(-kWideBound) : W(0))
                                   : (kSigned<D> ? static_cast<W>(-pow2(kDigits<D>)) : W(0));
template <class D, class W>
inline constexpr W kHigh = kWide<D> ? static_cast<W>(kWideBound)
                           : kDigits<D> <= kPrecision<W>
                               ? static_cast<W>(pow2(kDigits<D>) - 1.0)
                               : static_cast<W>(pow2(kDigits<D>) - pow2(kDigits<D> - kPrecision<W>));
// Whether clamp must store the maximum for values at or above 2^digits by itself.
template <class D, class W>
inline constexpr bool kSaturateAbove = !kWide<D> && kDigits<D> > kPrecision<W>;

// ---- Lane operations, overloaded for binary32 (__m256) and binary64 (__m256d) lanes -----------

inline __m256 splat(float x) noexcept { return _mm256_set1_ps(x); }
inline __m256d splat(double x) noexcept { return _mm256_set1_pd(x); }
inline __m256 bit_or(__m256 a, __m256 b) noexcept { return _mm256_or_ps(a, b); }
inline __m256d bit_or(__m256d a, __m256d b) noexcept { return _mm256_or_pd(a, b); }
// Lanes where low <= a <= high does not hold (NaN lanes included).
inline __m256 outside(__m256 a, __m256 low, __m256 high) noexcept {
    return _mm256_or_ps(_mm256_cmp_ps(a, low, _CMP_NGE_UQ), _mm256_cmp_ps(a, high, _CMP_NLE_UQ));
}
inline __m256d outside(__m256d a, __m256d low, __m256d high) noexcept {
    return _mm256_or_pd(_mm256_cmp_pd(a, low, _CMP_NGE_UQ), _mm256_cmp_pd(a, high, _CMP_NLE_UQ));
}
inline __m256 above(__m256 a, __m256 b) noexcept { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
inline __m256d above(__m256d a, __m256d b) noexcept { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline __m256 below(__m256 a, __m256 b) noexcept { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
inline __m256d below(__m256d a, __m256d b) noexcept { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline __m256 clamp_lanes(__m256 a, __m256 low, __m256 high) noexcept { return clamp_ps(a, low, high); }
inline __m256d clamp_lanes(__m256d a, __m256d low, __m256d high) noexcept { return clamp_pd(a, low, high); }
inline bool any(__m256 mask) noexcept { return _mm256_movemask_ps(mask) != 0; }
inline bool any(__m256d mask) noexcept { return _mm256_movemask_pd(mask) != 0; }

// Rounding to an integral value under M (the rounding of kernel_shapes.hpp, lane for lane
// the element loop's rounding of a finite value).
template <RoundingMode M>
inline __m256 round_lanes(__m256 x) noexcept { return round_ps<M>(x); }
template <RoundingMode M>
inline __m256d round_lanes(__m256d x) noexcept { return round_pd<M>(x); }

// The rounded value of each lane of v; lanes the block must not store by this path are added
// to `reject`. Without a mode or under wrap: every lane outside the window (NaNs included),
// where the element loop may fail or wrap. Under clamp: NaNs, and for 64-bit targets the lanes
// beyond +-2^51 that clamping to the window would not decide; the others are clamped to the
// window before rounding, which stores the element loop's saturating conversion.
template <class D, class W, RoundingMode M, std::uint8_t Oor, class V>
inline V screen_and_round(V v, V& reject) noexcept {
    const V low = splat(kLow<D, W>);
    const V high = splat(kHigh<D, W>);
    if constexpr (Oor == kClamp) {
        reject = bit_or(reject, nan_lanes(v));
        if constexpr (kWide<D>) {
            reject = bit_or(reject, above(v, high));
            if constexpr (kSigned<D>) reject = bit_or(reject, below(v, low));
        }
        v = clamp_lanes(v, low, high);
    } else {
        reject = bit_or(reject, outside(v, low, high));
    }
    return round_lanes<M>(v);
}

// ---- Conversion of rounded lanes ------------------------------------------------------------

// int32 lanes of rounded binary32 values inside the window of a target of at most 32 bits;
// under clamp, lanes whose source v is at or above 2^digits store the target's maximum.
template <class D, std::uint8_t Oor>
inline __m256i to_i32_lanes(__m256 r, __m256 v) noexcept {
    __m256i t;
    if constexpr (sizeof(D) == 4 && !kSigned<D>) {
        // [0, 2^32): the upper half is converted from r - 2^31 and its top bit set back.
        const __m256 top = _mm256_cmp_ps(r, _mm256_set1_ps(2147483648.0f), _CMP_GE_OQ);
        const __m256 shifted = _mm256_sub_ps(r, _mm256_and_ps(top, _mm256_set1_ps(2147483648.0f)));
        t = _mm256_xor_si256(_mm256_cvttps_epi32(shifted),
                             _mm256_and_si256(_mm256_castps_si256(top), _mm256_set1_epi32(INT32_MIN)));
    } else {
        t = _mm256_cvttps_epi32(r);
    }
    if constexpr (Oor == kClamp && kSaturateAbove<D, float>) {
        const __m256 saturate = _mm256_cmp_ps(v, _mm256_set1_ps(static_cast<float>(pow2(kDigits<D>))), _CMP_GE_OQ);
        const int max = kSigned<D> ? INT32_MAX : -1;  // 0xFFFFFFFF for uint32
        t = _mm256_blendv_epi8(t, _mm256_set1_epi32(max), _mm256_castps_si256(saturate));
    }
    return t;
}

// int64 lanes of rounded binary64 values of magnitude at most 2^51: r + 1.5 * 2^52 is exact and
// its bit pattern, less that of 1.5 * 2^52, is r.
inline __m256i to_i64_lanes(__m256d r) noexcept {
    const __m256d magic = _mm256_set1_pd(6755399441055744.0);
    return _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(r, magic)), _mm256_castpd_si256(magic));
}

// uint32 values of rounded binary64 values in [0, 2^32): the low halves of r + 2^52.
inline __m128i to_u32_from_f64(__m256d r) noexcept {
    const __m256i bits = _mm256_castpd_si256(_mm256_add_pd(r, _mm256_set1_pd(4503599627370496.0)));
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bits, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7)));
}

inline void store256(unsigned char* p, __m256i v) noexcept { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline void store128(unsigned char* p, __m128i v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Stores 16 int32 values (four groups of four), each inside D's range, as D.
template <class D>
inline void store_i32_groups(const __m128i (&q)[4], unsigned char* out) noexcept {
    if constexpr (sizeof(D) == 4) {
        for (int k = 0; k < 4; ++k) store128(out + 16 * k, q[k]);
    } else if constexpr (sizeof(D) == 2) {
        if constexpr (kSigned<D>) {
            store128(out, _mm_packs_epi32(q[0], q[1]));
            store128(out + 16, _mm_packs_epi32(q[2], q[3]));
        } else {
            store128(out, _mm_packus_epi32(q[0], q[1]));
            store128(out + 16, _mm_packus_epi32(q[2], q[3]));
        }
    } else {
        // Every value fits 16 bits, so the first pack is exact; the second is as well.
        const __m128i lo = _mm_packs_epi32(q[0], q[1]);
        const __m128i hi = _mm_packs_epi32(q[2], q[3]);
        store128(out, kSigned<D> ? _mm_packs_epi16(lo, hi) : _mm_packus_epi16(lo, hi));
    }
}

// ---- Groups of blocks of 16 ------------------------------------------------------------------

// The stores of one block from its rounded binary32 lanes r0, r1 (sources v0, v1).
template <class D, std::uint8_t Oor>
inline void store_f32_block(__m256 r0, __m256 r1, __m256 v0, __m256 v1, unsigned char* out) noexcept {
    if constexpr (kWide<D>) {
        const __m256d r[4] = {_mm256_cvtps_pd(_mm256_castps256_ps128(r0)), _mm256_cvtps_pd(_mm256_extractf128_ps(r0, 1)),
                              _mm256_cvtps_pd(_mm256_castps256_ps128(r1)), _mm256_cvtps_pd(_mm256_extractf128_ps(r1, 1))};
        for (int k = 0; k < 4; ++k) store256(out + 32 * k, to_i64_lanes(r[k]));
    } else {
        const __m256i t0 = to_i32_lanes<D, Oor>(r0, v0);
        const __m256i t1 = to_i32_lanes<D, Oor>(r1, v1);
        if constexpr (sizeof(D) == 4) {
            store256(out, t0);
            store256(out + 32, t1);
        } else {
            // The 256-bit packs work within 128-bit halves; the permutation restores the order.
            const __m256i words = _mm256_permute4x64_epi64(
                kSigned<D> || sizeof(D) == 1 ? _mm256_packs_epi32(t0, t1) : _mm256_packus_epi32(t0, t1), 0xD8);
            if constexpr (sizeof(D) == 2) {
                store256(out, words);
            } else {
                const __m128i lo = _mm256_castsi256_si128(words);
                const __m128i hi = _mm256_extracti128_si256(words, 1);
                store128(out, kSigned<D> ? _mm_packs_epi16(lo, hi) : _mm_packus_epi16(lo, hi));
            }
        }
    }
}

// G blocks of binary32 working values (two vectors of eight each): all stored when none holds
// a rejected lane, otherwise none.
template <std::size_t G, class S, class D, RoundingMode M, std::uint8_t Oor>
inline bool f32_blocks(const unsigned char* in, unsigned char* out) noexcept {
    constexpr std::size_t K = 2 * G;
    __m256 v[K];
    __m256 r[K];
    __m256 reject = _mm256_setzero_ps();
#pragma GCC unroll 16
    for (std::size_t k = 0; k < K; ++k) {
        if constexpr (sizeof(S) == 2) {
            v[k] = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * k)));
        } else {
            v[k] = _mm256_loadu_ps(reinterpret_cast<const float*>(in + 32 * k));
        }
        r[k] = screen_and_round<D, float, M, Oor>(v[k], reject);
    }
    if (any(reject)) return false;
#pragma GCC unroll 16
    for (std::size_t g = 0; g < G; ++g) {
        store_f32_block<D, Oor>(r[2 * g], r[2 * g + 1], v[2 * g], v[2 * g + 1], out + g * kFloatToIntBlock * sizeof(D));
    }
    return true;
}

// G blocks of binary64 working values (four vectors of four each), all or none.
template <std::size_t G, class D, RoundingMode M, std::uint8_t Oor>
inline bool f64_blocks(const unsigned char* in, unsigned char* out) noexcept {
    constexpr std::size_t K = 4 * G;
    __m256d r[K];
    __m256d reject = _mm256_setzero_pd();
#pragma GCC unroll 16
    for (std::size_t k = 0; k < K; ++k) {
        r[k] = screen_and_round<D, double, M, Oor>(_mm256_loadu_pd(reinterpret_cast<const double*>(in + 32 * k)),
                                                   reject);
    }
    if (any(reject)) return false;
    static_assert(!kSaturateAbove<D, double>);
#pragma GCC unroll 16
    for (std::size_t g = 0; g < G; ++g) {
        const __m256d* b = r + 4 * g;
        unsigned char* o = out + g * kFloatToIntBlock * sizeof(D);
        if constexpr (kWide<D>) {
            for (int k = 0; k < 4; ++k) store256(o + 32 * k, to_i64_lanes(b[k]));
        } else if constexpr (sizeof(D) == 4 && !kSigned<D>) {
            for (int k = 0; k < 4; ++k) store128(o + 16 * k, to_u32_from_f64(b[k]));
        } else {
            const __m128i q[4] = {_mm256_cvttpd_epi32(b[0]), _mm256_cvttpd_epi32(b[1]), _mm256_cvttpd_epi32(b[2]),
                                  _mm256_cvttpd_epi32(b[3])};
            store_i32_groups<D>(q, o);
        }
    }
    return true;
}

template <std::size_t G, class S, class D, RoundingMode M, std::uint8_t Oor>
inline bool blocks(const unsigned char* in, unsigned char* out) noexcept {
    if constexpr (sizeof(S) == 8) return f64_blocks<G, D, M, Oor>(in, out);
    else return f32_blocks<G, S, D, M, Oor>(in, out);
}

// Binary32 working values: pairs of blocks under one test while both pass; at a pair that does
// not, its first block alone (if it passes, the second is the one that cannot be stored).
// Binary64 ones: one block per test (two blocks' sixteen vectors would not stay in registers).
template <class S, class D, RoundingMode M, std::uint8_t Oor>
std::size_t run(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept {
    constexpr std::size_t B = kFloatToIntBlock;
    std::size_t i = 0;
    if constexpr (sizeof(S) == 8) {
        while (n - i >= B && blocks<1, S, D, M, Oor>(src + i * sizeof(S), dst + i * sizeof(D))) i += B;
        return i;
    }
    for (; n - i >= 2 * B; i += 2 * B) {
        if (!blocks<2, S, D, M, Oor>(src + i * sizeof(S), dst + i * sizeof(D))) {
            if (blocks<1, S, D, M, Oor>(src + i * sizeof(S), dst + i * sizeof(D))) i += B;
            return i;
        }
    }
    if (n - i >= B && blocks<1, S, D, M, Oor>(src + i * sizeof(S), dst + i * sizeof(D))) i += B;
    return i;
}

template <class S, class D, RoundingMode M>
std::size_t run_with_mode(const unsigned char* src, unsigned char* dst, std::size_t n, std::uint8_t oor) noexcept {
    switch (oor) {
        case kClamp: return run<S, D, M, kClamp>(src, dst, n);
        case kWrap: return run<S, D, M, kWrap>(src, dst, n);
        default: return run<S, D, M, kAbsent>(src, dst, n);
    }
}

}  // namespace

template <class S, class D>
std::size_t float_to_int_blocks(const unsigned char* src, unsigned char* dst, std::size_t n, RoundingMode mode,
                                std::uint8_t oor) noexcept {
    switch (mode) {
        case RoundingMode::NearestEven: break;
        case RoundingMode::TowardsZero: return run_with_mode<S, D, RoundingMode::TowardsZero>(src, dst, n, oor);
        case RoundingMode::TowardsPositive:
            return run_with_mode<S, D, RoundingMode::TowardsPositive>(src, dst, n, oor);
        case RoundingMode::TowardsNegative:
            return run_with_mode<S, D, RoundingMode::TowardsNegative>(src, dst, n, oor);
        case RoundingMode::NearestAway: return run_with_mode<S, D, RoundingMode::NearestAway>(src, dst, n, oor);
    }
    return run_with_mode<S, D, RoundingMode::NearestEven>(src, dst, n, oor);
}

#define PELM_OSSREL_INSTANTIATE(S)                                                                        \
    template std::size_t float_to_int_blocks<S, std::int8_t>(const unsigned char*, unsigned char*,      \
                                                             std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::uint8_t>(const unsigned char*, unsigned char*,     \
                                                              std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::int16_t>(const unsigned char*, unsigned char*,     \
                                                              std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::uint16_t>(const unsigned char*, unsigned char*,    \
                                                               std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::int32_t>(const unsigned char*, unsigned char*,     \
                                                              std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::uint32_t>(const unsigned char*, unsigned char*,    \
                                                               std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::int64_t>(const unsigned char*, unsigned char*,     \
                                                              std::size_t, RoundingMode, std::uint8_t) noexcept; \
    template std::size_t float_to_int_blocks<S, std::uint64_t>(const unsigned char*, unsigned char*,    \
                                                               std::size_t, RoundingMode, std::uint8_t) noexcept;
PELM_OSSREL_INSTANTIATE(f16)
PELM_OSSREL_INSTANTIATE(float)
PELM_OSSREL_INSTANTIATE(double)
#undef PELM_OSSREL_INSTANTIATE

}  // namespace pelm_ossrel::simd::avx2::body
