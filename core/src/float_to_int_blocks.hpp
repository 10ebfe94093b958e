// The floating-to-integer element loop in blocks of 16, for runs without a scalar map. Targets
// whose values fit 32-bit lanes (int8, uint8, int16, uint16, int32) are converted in the lanes;
// uint32, int64 and uint64 from the rounded lanes, one element at a time.
//
// Each block is first screened: it is stored by the vector path only when every element lies
// inside the target's range (window_lanes below), where no mode fails or wraps and every mode
// stores the element's rounding; under clamp, only a NaN stops a block. Such a block stores
// exactly what the element loop stores: the same rounding, in the same precision, and the
// saturating conversion. A block that the screen rejects, and the last n mod 16 elements, go
// through the element loop itself, so the error reported and the elements written before it
// are the element loop's.
//
// On processors of the x86-64-v3 level the blocks go to the body in simd/avx2/float_to_int.cpp
// instead: the same screen (narrower for 64-bit targets) and the same stored values, in 256-bit
// lanes with the processor's rounding instruction; the SSE2 lanes below serve the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "cast_error.hpp"
#include "cast_float.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "modes.hpp"
#include "slice.hpp"
#include "simd/float_to_int_kernels.hpp"
#include "sse2_lanes.hpp"

namespace pelm_ossrel::detail {

inline constexpr std::uint8_t kBlockOorClamp = static_cast<std::uint8_t>(OutOfRangeMode::Clamp);

// Integer targets whose every value fits a signed 32-bit lane; the others (uint32, int64,
// uint64) are converted from the rounded lanes one element at a time.
template <class D>
inline constexpr bool fits_i32_lanes_v =
    std::is_same_v<D, std::int8_t> || std::is_same_v<D, std::uint8_t> ||
    std::is_same_v<D, std::int16_t> || std::is_same_v<D, std::uint16_t> ||
    std::is_same_v<D, std::int32_t>;

template <class S, class D>
inline constexpr bool has_float_to_int_blocks_v =
    kHaveSse2Lanes && is_float_element_v<S> && is_integer_element_v<D>;

inline constexpr std::size_t kFloatToIntBlock = 16;

#if defined(__SSE2__)

// The block's source elements in the working precision: binary16 widened exactly to binary32
// (with F16C where the processor has it; the same bits either way).
template <class S>
inline void load_work_block(const unsigned char* p, typename CastFloat<S>::Work* out) noexcept {
    constexpr std::size_t B = kFloatToIntBlock;
    if constexpr (std::is_same_v<S, f16>) {
        f16_run_to_f32(p, out, B);
    } else {
        std::memcpy(out, p, B * sizeof(S));
    }
}

// Stores 16 int32 lanes, every one inside D's range, as 16 elements of D.
template <class D>
inline void store_i32_lanes(const __m128i (&q)[4], unsigned char* out) noexcept {
    if constexpr (std::is_same_v<D, std::int32_t>) {
        for (std::size_t k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), q[k]);
    } else if constexpr (std::is_same_v<D, std::int16_t>) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(q[0], q[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_packs_epi32(q[2], q[3]));
    } else if constexpr (std::is_same_v<D, std::uint16_t>) {
        // 0..65535 moved to -32768..32767, packed, and moved back on the 16-bit pattern.
        const __m128i bias = _mm_set1_epi32(32768);
        const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
        const __m128i lo = _mm_packs_epi32(_mm_sub_epi32(q[0], bias), _mm_sub_epi32(q[1], bias));
        const __m128i hi = _mm_packs_epi32(_mm_sub_epi32(q[2], bias), _mm_sub_epi32(q[3], bias));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(lo, flip));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_xor_si128(hi, flip));
    } else {
        // Every value fits 16 bits, so the first pack is exact; the second is exact as well.
        const __m128i lo = _mm_packs_epi32(q[0], q[1]);
        const __m128i hi = _mm_packs_epi32(q[2], q[3]);
        const __m128i bytes = std::is_same_v<D, std::int8_t> ? _mm_packs_epi16(lo, hi) : _mm_packus_epi16(lo, hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    }
}

// The window of working values that the lanes convert directly: [D's minimum, D's maximum],
// except that binary32 cannot hold int32's maximum and stops at the largest value below 2^31.
// Both ends are integers, which W holds exactly.
template <class D, class W>
inline constexpr W kWindowLow = static_cast<W>(std::numeric_limits<D>::min());
template <class D, class W>
inline constexpr W kWindowHigh =
    std::numeric_limits<D>::digits <= std::numeric_limits<W>::digits
        ? static_cast<W>(std::numeric_limits<D>::max())
        // The largest W below 2^digits(D), an integer since it lies above 2^digits(W).
        : pow2<W>(std::numeric_limits<D>::digits) -
              pow2<W>(std::numeric_limits<D>::digits - std::numeric_limits<W>::digits);

template <class D, class W>
inline constexpr bool kWindowBelowMax =
    static_cast<long double>(kWindowHigh<D, W>) < static_cast<long double>(std::numeric_limits<D>::max());

// The rounded working values of one register v, each inside the window when the block is
// stored; lanes that the block must not store by this path are added to `reject`.
//
// Rounding to an integer is monotonic and keeps integers, so every mode takes a value inside
// the window to an integer inside the window, which is inside [lo, hi] as well: with no
// out-of-range mode or with wrap such a value neither fails nor wraps, and the element loop
// stores its rounding unchanged. Lanes outside the window (NaNs included) are rejected; the
// element loop then decides them. Under clamp only NaNs are rejected: v is clamped to the
// window before rounding, which stores what the element loop's rounding followed by the
// saturating conversion stores, except that where the window ends below D's maximum (W cannot
// hold it) a value at or above 2^digits(D) must store the maximum: the callers do that. Where
// the window lies inside +-2^(p-3), adding and subtracting 1.5 * 2^(p-1) rounds to the nearest
// integer with ties to even (the constant is even and the sum's unit is 1); the truncating
// conversion that follows is the rounding towards zero.
template <class D, class W, RoundingMode M, std::uint8_t Oor>
inline typename Lanes<W>::V window_round(typename Lanes<W>::V v, typename Lanes<W>::V& reject) noexcept {
    using L = Lanes<W>;
    const auto low = L::splat(kWindowLow<D, W>);
    const auto high = L::splat(kWindowHigh<D, W>);
    if constexpr (Oor == kBlockOorClamp) {
        reject = L::bit_or(reject, L::unordered(v, v));
        v = L::min(L::max(v, low), high);
    } else {
        // Not (low <= v <= high): NaNs and every value that may fail or wrap.
        const auto inside = L::bit_and(L::ge(v, low), L::ge(high, v));
        reject = L::bit_or(reject, L::and_not(L::splat_all_ones(), inside));
    }
    constexpr bool kShiftRounds = static_cast<long double>(kWindowHigh<D, W>) <
                                  static_cast<long double>(pow2<W>(std::numeric_limits<W>::digits - 3));
    if constexpr (M == RoundingMode::NearestEven && kShiftRounds) {
        const auto shift = L::splat(kIntegralFrom<W> + kIntegralFrom<W> / W(2));
        return L::sub(L::add(v, shift), shift);
    } else if constexpr (M == RoundingMode::TowardsZero) {
        return v;
    } else {
        return round_lanes<M, W>(v);
    }
}

// The 32-bit results of one register for a target of at most 32 bits (fits_i32_lanes_v).
template <class D, class W, RoundingMode M, std::uint8_t Oor>
inline __m128i window_lanes(typename Lanes<W>::V v, typename Lanes<W>::V& reject) noexcept {
    static_assert(fits_i32_lanes_v<D>);
    using L = Lanes<W>;
    const typename L::V r = window_round<D, W, M, Oor>(v, reject);
    if constexpr (Oor == kBlockOorClamp && kWindowBelowMax<D, W>) {
        const auto saturate = L::ge(v, L::splat(pow2<W>(std::numeric_limits<D>::digits)));
        return L::to_i32(r, saturate, std::numeric_limits<D>::max());
    } else {
        return L::to_i32(r);
    }
}

// The blocks of the first `full` elements (a multiple of kFloatToIntBlock) in SSE2 lanes.
template <class S, class D, RoundingMode M, std::uint8_t Oor, class ElementLoop>
CastResult float_to_int_sse2_blocks(const unsigned char* in, unsigned char* out, std::size_t full,
                                    const ElementLoop& element_loop) noexcept {
    using W = typename CastFloat<S>::Work;
    using L = Lanes<W>;
    using V = typename L::V;
    constexpr std::size_t B = kFloatToIntBlock;
    constexpr std::size_t R = B / L::kCount;

    const V zero = L::splat(W(0));

    for (std::size_t i = 0; i < full; i += B) {
        // The working values: the source itself, or binary16 widened into a local block.
        // The source need not be aligned: it is copied into the local block, never read
        // through a typed pointer.
        W widened[B];
        const W* x = widened;
        load_work_block<S>(in + i * sizeof(S), widened);
        // One pass per register: the screen and the 32-bit results; nothing is stored before
        // the whole block has passed.
        V reject = zero;
        if constexpr (!fits_i32_lanes_v<D>) {
            W rounded[B];
            for (std::size_t k = 0; k < R; ++k) {
                L::store(rounded + k * L::kCount, window_round<D, W, M, Oor>(L::load(x + k * L::kCount), reject));
            }
            if (L::any(reject)) {
                const CastResult result = element_loop(SrcSlice<S>(in + i * sizeof(S), B),
                                                       DstSlice<D>(out + i * sizeof(D), B), B);
                if (result) return result;
                continue;
            }
            // Every rounded value lies in the window, inside D's range: the conversion is exact.
            // Under clamp a value at or above 2^digits(D) stores D's maximum, as in the element
            // loop; the window ends below it only where W cannot hold the maximum.
            D converted[B];
            for (std::size_t j = 0; j < B; ++j) {
                converted[j] = static_cast<D>(rounded[j]);
                if constexpr (Oor == kBlockOorClamp && kWindowBelowMax<D, W>) {
                    if (x[j] >= pow2<W>(std::numeric_limits<D>::digits)) converted[j] = std::numeric_limits<D>::max();
                }
            }
            std::memcpy(out + i * sizeof(D), converted, sizeof converted);
        } else {
            __m128i q[4];
            for (std::size_t k = 0; k < R; ++k) {
                const V v = L::load(x + k * L::kCount);
                const __m128i t = window_lanes<D, W, M, Oor>(v, reject);
                if constexpr (L::kCount == 4) {
                    q[k] = t;
                } else if (k % 2 == 0) {
                    q[k / 2] = t;
                } else {
                    q[k / 2] = _mm_unpacklo_epi64(q[k / 2], t);
                }
            }
            if (L::any(reject)) {
                const CastResult result = element_loop(SrcSlice<S>(in + i * sizeof(S), B),
                                                       DstSlice<D>(out + i * sizeof(D), B), B);
                if (result) return result;
                continue;
            }
            store_i32_lanes<D>(q, out + i * sizeof(D));
        }
    }
    return std::nullopt;
}

// Whether the x86-64-v3 body takes the blocks: the processor has the level, and F16C for a
// binary16 source.
template <class S>
inline bool use_x86_64_v3_blocks() noexcept {
    if (!has_x86_64_v3()) return false;
    if constexpr (std::is_same_v<S, f16>) return f16_uses_f16c();
    return true;
}

// ElementLoop: CastResult(SrcSlice<S>, DstSlice<D>, std::size_t n), the element loop of the
// same pair and modes without a scalar map.
template <class S, class D, RoundingMode M, std::uint8_t Oor, class ElementLoop>
CastResult float_to_int_blocks(SrcSlice<S> src, DstSlice<D> dst, std::size_t n,
                               const ElementLoop& element_loop) noexcept {
    static_assert(has_float_to_int_blocks_v<S, D>);
    constexpr std::size_t B = kFloatToIntBlock;
    const unsigned char* const in = src.bytes();
    unsigned char* const out = dst.bytes();
    const std::size_t full = n - n % B;
    if (use_x86_64_v3_blocks<S>()) {
        // The same screen and conversion, eight or four lanes at a time; the body stops at the
        // first block it cannot store, which the element loop then takes.
        static_assert(simd::avx2::body::kFloatToIntBlock == B);
        std::size_t i = 0;
        for (;;) {
            i += simd::avx2::body::float_to_int_blocks<S, D>(in + i * sizeof(S), out + i * sizeof(D), full - i, M, Oor);
            if (i == full) break;
            const CastResult result =
                element_loop(SrcSlice<S>(in + i * sizeof(S), B), DstSlice<D>(out + i * sizeof(D), B), B);
            if (result) return result;
            i += B;
        }
    } else {
        const CastResult result = float_to_int_sse2_blocks<S, D, M, Oor>(in, out, full, element_loop);
        if (result) return result;
    }
    if (full < n) {
        return element_loop(SrcSlice<S>(in + full * sizeof(S), n - full),
                            DstSlice<D>(out + full * sizeof(D), n - full), n - full);
    }
    return std::nullopt;
}

#else

// Never called without SSE2 (has_float_to_int_blocks_v is false); declared for the callers'
// discarded branches.
template <class S, class D, RoundingMode M, std::uint8_t Oor, class ElementLoop>
CastResult float_to_int_blocks(SrcSlice<S> src, DstSlice<D> dst, std::size_t n,
                               const ElementLoop& element_loop) noexcept;

#endif

}  // namespace pelm_ossrel::detail
