// The integer-to-integer block loops for processors of the x86-64-v3 level. This file is
// compiled with that level's flags and is reached only through the run-time selection in
// int_to_int.hpp.
//
// The loops work on blocks of 64 elements with 256-bit loads and stores, unaligned. Clamp
// first clamps each lane to [lo, hi] in the source's own width; then clamp, wrap and the
// checked loop all convert by cutting each lane to its low bytes (narrowing: masks, packs and a
// permutation) or by sign extension (the widening pairs all have a signed source). The results
// are those of the baseline loops to the bit, and the checked loop stores a block only when
// every value of it lies inside D's range. The elements after the last whole block go one at
// a time.
//
// Like every level file it calls no inline function or template of another header, only
// intrinsics and compiler builtins (type traits, which compile to no code, aside): the limits
// are computed here by hand.
#include "simd/int_kernels.hpp"

#include <immintrin.h>

#include <type_traits>

#if !defined(__AVX2__)
#error "simd/avx2/int_to_int.cpp must be compiled for the x86-64-v3 level"
#endif

namespace pelm_ossrel::simd::avx2 {
namespace {

constexpr std::size_t kBlock = 64;

template <class T>
constexpr bool kSigned = static_cast<T>(-1) < static_cast<T>(0);

// A type trait only: nothing of it is compiled into code.
template <class T>
using Unsigned = std::make_unsigned_t<T>;

template <class T>
constexpr T kMax = kSigned<T> ? static_cast<T>(static_cast<Unsigned<T>>(~Unsigned<T>{0}) >> 1)
                              : static_cast<T>(~Unsigned<T>{0});
template <class T>
constexpr T kMin = kSigned<T> ? static_cast<T>(-kMax<T> - 1) : T{0};

// a < b as mathematical values, whatever the two types' signedness.
template <class A, class B>
constexpr bool less(A a, B b) noexcept {
    if constexpr (kSigned<A> == kSigned<B>) {
        return a < b;
    } else if constexpr (kSigned<A>) {
        return a < 0 || static_cast<std::uint64_t>(a) < static_cast<std::uint64_t>(b);
    } else {
        return b >= 0 && static_cast<std::uint64_t>(a) < static_cast<std::uint64_t>(b);
    }
}

// The pairs served: D cannot hold every value of S.
template <class S, class D>
constexpr bool kCorePair = less(kMin<S>, kMin<D>) || less(kMax<D>, kMax<S>);

// [lo, hi]: the values of S that D can hold, as S values.
template <class S, class D>
constexpr S kLo = less(kMin<S>, kMin<D>) ? static_cast<S>(kMin<D>) : kMin<S>;
template <class S, class D>
constexpr S kHi = less(kMax<D>, kMax<S>) ? static_cast<S>(kMax<D>) : kMax<S>;

// ---- Lanes ----------------------------------------------------------------------------------
//
// A vector holds 32 / sizeof(T) lanes of T; the operations below act on lanes of the type
// they are instantiated for.

inline __m256i load(const unsigned char* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline void store(unsigned char* p, __m256i v) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Every lane of T set to v.
template <class T>
inline __m256i splat(T v) noexcept {
    const Unsigned<T> bits = static_cast<Unsigned<T>>(v);
    if constexpr (sizeof(T) == 1) return _mm256_set1_epi8(static_cast<char>(bits));
    else if constexpr (sizeof(T) == 2) return _mm256_set1_epi16(static_cast<short>(bits));
    else if constexpr (sizeof(T) == 4) return _mm256_set1_epi32(static_cast<int>(bits));
    else return _mm256_set1_epi64x(static_cast<long long>(bits));
}

template <class T>
inline __m256i sub(__m256i a, __m256i b) noexcept {
    if constexpr (sizeof(T) == 1) return _mm256_sub_epi8(a, b);
    else if constexpr (sizeof(T) == 2) return _mm256_sub_epi16(a, b);
    else if constexpr (sizeof(T) == 4) return _mm256_sub_epi32(a, b);
    else return _mm256_sub_epi64(a, b);
}

// All ones in the lanes where a > b, as T values. Only 64-bit lanes need it.
template <class T>
inline __m256i greater64(__m256i a, __m256i b) noexcept {
    static_assert(sizeof(T) == 8);
    if constexpr (kSigned<T>) {
        return _mm256_cmpgt_epi64(a, b);
    } else {
        const __m256i flip = _mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ull));
        return _mm256_cmpgt_epi64(_mm256_xor_si256(a, flip), _mm256_xor_si256(b, flip));
    }
}

template <class T>
inline __m256i lane_max(__m256i a, __m256i b) noexcept {
    if constexpr (sizeof(T) == 1) return kSigned<T> ? _mm256_max_epi8(a, b) : _mm256_max_epu8(a, b);
    else if constexpr (sizeof(T) == 2) return kSigned<T> ? _mm256_max_epi16(a, b) : _mm256_max_epu16(a, b);
    else if constexpr (sizeof(T) == 4) return kSigned<T> ? _mm256_max_epi32(a, b) : _mm256_max_epu32(a, b);
    else return _mm256_blendv_epi8(b, a, greater64<T>(a, b));
}

template <class T>
inline __m256i lane_min(__m256i a, __m256i b) noexcept {
    if constexpr (sizeof(T) == 1) return kSigned<T> ? _mm256_min_epi8(a, b) : _mm256_min_epu8(a, b);
    else if constexpr (sizeof(T) == 2) return kSigned<T> ? _mm256_min_epi16(a, b) : _mm256_min_epu16(a, b);
    else if constexpr (sizeof(T) == 4) return kSigned<T> ? _mm256_min_epi32(a, b) : _mm256_min_epu32(a, b);
    else return _mm256_blendv_epi8(a, b, greater64<T>(a, b));
}

// Two vectors of W-byte lanes to one of W/2-byte lanes, each lane cut to its low half, the
// lanes of a first. The 256-bit packs and shuffles work within 128-bit halves; the final
// permutation puts the four 64-bit quarters back in index order.
template <std::size_t W>
inline __m256i halve(__m256i a, __m256i b) noexcept {
    if constexpr (W == 8) {
        const __m256 low = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88);
        return _mm256_permute4x64_epi64(_mm256_castps_si256(low), 0xD8);
    } else if constexpr (W == 4) {
        const __m256i mask = _mm256_set1_epi32(0xFFFF);
        return _mm256_permute4x64_epi64(
            _mm256_packus_epi32(_mm256_and_si256(a, mask), _mm256_and_si256(b, mask)), 0xD8);
    } else {
        static_assert(W == 2);
        const __m256i mask = _mm256_set1_epi16(0xFF);
        return _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_and_si256(a, mask), _mm256_and_si256(b, mask)), 0xD8);
    }
}

// N vectors of W-byte lanes, in index order, to N * V / W vectors of V-byte lanes.
template <std::size_t W, std::size_t V, std::size_t N>
inline __m256i narrow(const __m256i* v) noexcept {
    if constexpr (W == V) {
        static_assert(N == 1);
        return v[0];
    } else {
        __m256i halves[N / 2];
#pragma GCC unroll 8
        for (std::size_t k = 0; k < N / 2; ++k) halves[k] = halve<W>(v[2 * k], v[2 * k + 1]);
        return narrow<W / 2, V, N / 2>(halves);
    }
}

// The 32 * sizeof(S) / sizeof(D) bytes at p, sizeof(S) < sizeof(D), widened to D lanes (sign
// extension for a signed S).
template <class S, class D>
inline __m128i load_piece(const unsigned char* p) noexcept {
    constexpr std::size_t kBytes = 32 * sizeof(S) / sizeof(D);
    if constexpr (kBytes == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else if constexpr (kBytes == 8) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    else {
        static_assert(kBytes == 4);
        return _mm_loadu_si32(p);
    }
}

template <class S, class D>
inline __m256i widen(__m128i v) noexcept {
    static_assert(kSigned<S>, "only signed sources are widened here");
    if constexpr (sizeof(S) == 1 && sizeof(D) == 2) return _mm256_cvtepi8_epi16(v);
    else if constexpr (sizeof(S) == 1 && sizeof(D) == 4) return _mm256_cvtepi8_epi32(v);
    else if constexpr (sizeof(S) == 1 && sizeof(D) == 8) return _mm256_cvtepi8_epi64(v);
    else if constexpr (sizeof(S) == 2 && sizeof(D) == 4) return _mm256_cvtepi16_epi32(v);
    else if constexpr (sizeof(S) == 2 && sizeof(D) == 8) return _mm256_cvtepi16_epi64(v);
    else {
        static_assert(sizeof(S) == 4 && sizeof(D) == 8);
        return _mm256_cvtepi32_epi64(v);
    }
}

// ---- The two operations, per element and per vector of S lanes -------------------------------

// Clamp to [lo, hi]; then every lane holds a value of D, and cutting or extending it to D's
// width is the conversion.
template <class S, class D>
struct Clamp {
    static constexpr bool kRaise = less(kMin<S>, kMin<D>);
    static constexpr bool kLower = less(kMax<D>, kMax<S>);

    static D apply(S v) noexcept {
        if constexpr (kRaise) v = v < kLo<S, D> ? kLo<S, D> : v;
        if constexpr (kLower) v = v > kHi<S, D> ? kHi<S, D> : v;
        return static_cast<D>(v);
    }
    static __m256i lanes(__m256i v) noexcept {
        if constexpr (kRaise) v = lane_max<S>(v, splat<S>(kLo<S, D>));
        if constexpr (kLower) v = lane_min<S>(v, splat<S>(kHi<S, D>));
        return v;
    }
    // A widened pair has a signed S and lo = 0, hi = S's maximum.
    static __m128i lanes(__m128i v) noexcept {
        static_assert(kSigned<S> && kLo<S, D> == 0 && !kLower);
        if constexpr (sizeof(S) == 1) return _mm_max_epi8(v, _mm_setzero_si128());
        else if constexpr (sizeof(S) == 2) return _mm_max_epi16(v, _mm_setzero_si128());
        else return _mm_max_epi32(v, _mm_setzero_si128());
    }
};

// Two's-complement low bits: cutting or extending is the whole conversion.
template <class S, class D>
struct Wrap {
    static D apply(S v) noexcept { return static_cast<D>(v); }
    static __m256i lanes(__m256i v) noexcept { return v; }
    static __m128i lanes(__m128i v) noexcept { return v; }
};

// ---- Blocks -----------------------------------------------------------------------------------

// The 64 elements at src converted with Op to the 64 at dst.
template <class S, class D, class Op>
inline void convert_block(const unsigned char* src, unsigned char* dst) noexcept {
    constexpr std::size_t kOutVectors = kBlock * sizeof(D) / 32;
    if constexpr (sizeof(D) < sizeof(S)) {
        constexpr std::size_t kRatio = sizeof(S) / sizeof(D);
#pragma GCC unroll 16
        for (std::size_t o = 0; o < kOutVectors; ++o) {
            __m256i v[kRatio];
#pragma GCC unroll 8
            for (std::size_t r = 0; r < kRatio; ++r) v[r] = Op::lanes(load(src + (o * kRatio + r) * 32));
            store(dst + o * 32, narrow<sizeof(S), sizeof(D), kRatio>(v));
        }
    } else if constexpr (sizeof(D) > sizeof(S)) {
        constexpr std::size_t kPiece = 32 * sizeof(S) / sizeof(D);
#pragma GCC unroll 16
        for (std::size_t o = 0; o < kOutVectors; ++o) {
            store(dst + o * 32, widen<S, D>(Op::lanes(load_piece<S, D>(src + o * kPiece))));
        }
    } else {
#pragma GCC unroll 16
        for (std::size_t o = 0; o < kOutVectors; ++o) store(dst + o * 32, Op::lanes(load(src + o * 32)));
    }
}

// Whether any of the 64 elements at src lies outside [lo, hi]. [lo, hi] is [lo, lo + 2^k) for
// every pair (lo is 0 or -2^(k-1)), so v fits exactly when v - lo, unsigned, has no bit at or
// above k: one OR over the block of those differences and one test of its high bits.
template <class S, class D>
inline bool block_outside(const unsigned char* src) noexcept {
    constexpr Unsigned<S> kSpan =
        static_cast<Unsigned<S>>(static_cast<Unsigned<S>>(kHi<S, D>) - static_cast<Unsigned<S>>(kLo<S, D>));
    static_assert((kSpan & (kSpan + 1)) == 0, "the range must be a power of two long");
    constexpr std::size_t kVectors = kBlock * sizeof(S) / 32;
    const __m256i lo = splat<S>(kLo<S, D>);
    __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 16
    for (std::size_t k = 0; k < kVectors; ++k) {
        const __m256i v = load(src + k * 32);
        any = _mm256_or_si256(any, kLo<S, D> == 0 ? v : sub<S>(v, lo));
    }
    return _mm256_testz_si256(any, splat<S>(static_cast<S>(static_cast<Unsigned<S>>(~kSpan)))) == 0;
}

// dst[i] = Op(src[i]) for i < n: whole blocks, then the tail one element at a time.
template <class S, class D, class Op>
void transform(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; n - i >= kBlock; i += kBlock) convert_block<S, D, Op>(src + i * sizeof(S), dst + i * sizeof(D));
    for (; i < n; ++i) {
        S v;
        __builtin_memcpy(&v, src + i * sizeof(S), sizeof v);
        const D r = Op::apply(v);
        __builtin_memcpy(dst + i * sizeof(D), &r, sizeof r);
    }
}

// Whole blocks while every value fits; the number of elements stored.
template <class S, class D>
std::size_t checked_blocks(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; n - i >= kBlock; i += kBlock) {
        if (block_outside<S, D>(src + i * sizeof(S))) break;
        convert_block<S, D, Wrap<S, D>>(src + i * sizeof(S), dst + i * sizeof(D));
    }
    return i;
}

// fn.template operator()<T>() for the type of code c; nothing for a code outside the set.
template <class Fn>
inline void with_type(IntCode c, Fn&& fn) noexcept {
    switch (c) {
        case IntCode::I8: fn.template operator()<std::int8_t>(); break;
        case IntCode::U8: fn.template operator()<std::uint8_t>(); break;
        case IntCode::I16: fn.template operator()<std::int16_t>(); break;
        case IntCode::U16: fn.template operator()<std::uint16_t>(); break;
        case IntCode::I32: fn.template operator()<std::int32_t>(); break;
        case IntCode::U32: fn.template operator()<std::uint32_t>(); break;
        case IntCode::I64: fn.template operator()<std::int64_t>(); break;
        case IntCode::U64: fn.template operator()<std::uint64_t>(); break;
    }
}

// fn.template operator()<S, D>() for a core pair; nothing for any other combination.
template <class Fn>
inline void with_core_pair(IntCode s, IntCode d, Fn&& fn) noexcept {
    with_type(s, [&]<class S>() {
        with_type(d, [&]<class D>() {
            if constexpr (kCorePair<S, D>) fn.template operator()<S, D>();
        });
    });
}

}  // namespace

namespace body {

std::size_t int_to_int_checked_blocks(IntCode s, IntCode d, const unsigned char* src,
                                      unsigned char* dst, std::size_t n) noexcept {
    std::size_t done = 0;
    with_core_pair(s, d, [&]<class S, class D>() { done = checked_blocks<S, D>(src, dst, n); });
    return done;
}

void int_to_int_clamp(IntCode s, IntCode d, const unsigned char* src, unsigned char* dst,
                      std::size_t n) noexcept {
    with_core_pair(s, d, [&]<class S, class D>() { transform<S, D, Clamp<S, D>>(src, dst, n); });
}

void int_to_int_wrap(IntCode s, IntCode d, const unsigned char* src, unsigned char* dst,
                     std::size_t n) noexcept {
    with_core_pair(s, d, [&]<class S, class D>() { transform<S, D, Wrap<S, D>>(src, dst, n); });
}

}  // namespace body
}  // namespace pelm_ossrel::simd::avx2
