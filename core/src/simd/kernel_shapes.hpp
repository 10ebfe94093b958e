// The shape that the kernels of every processor level share: the choice of the rounding mode,
// the walk over blocks and tail, the element-by-element forms of each conversion and, for the
// two AVX levels, the kernels whose vector code is the same on both.
//
// Included only by the kernel translation units under simd/, each compiled with its own
// level's flags. Everything here has internal linkage (unnamed namespace), so every level gets
// its own copy compiled for its own instructions, and it calls no inline function or template
// of another header (only compiler builtins and intrinsics): nothing compiled here can be
// merged by the linker with a baseline copy of the same function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "modes.hpp"
#include "simd/kernels.hpp"

#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace pelm_ossrel::simd {
namespace {

constexpr KernelStatus kDone{KernelStatus::Code::Done, 0.0};

constexpr bool failed(KernelStatus status) noexcept { return status.code != KernelStatus::Code::Done; }

// ---- Rounding mode ------------------------------------------------------------------------

// Calls fn.template operator()<M>() with the mode as a compile-time constant, so that each
// kernel loop is compiled for one mode and never tests it per element.
template <class Fn>
inline KernelStatus with_rounding_mode(RoundingMode mode, Fn&& fn) noexcept {
    switch (mode) {
        case RoundingMode::NearestEven: break;
        case RoundingMode::TowardsZero:
            return fn.template operator()<RoundingMode::TowardsZero>();
        case RoundingMode::TowardsPositive:
            return fn.template operator()<RoundingMode::TowardsPositive>();
        case RoundingMode::TowardsNegative:
            return fn.template operator()<RoundingMode::TowardsNegative>();
        case RoundingMode::NearestAway:
            return fn.template operator()<RoundingMode::NearestAway>();
    }
    return fn.template operator()<RoundingMode::NearestEven>();
}

// ---- Walk over blocks and tail ------------------------------------------------------------

// K provides, for source index i:
//   template <std::size_t G> bool convert_blocks(i): tests G consecutive blocks starting at i;
//     if none holds a failing element, converts and stores all of them and returns true;
//     otherwise writes nothing and returns false.
//   KernelStatus block_error(i): the error of the block at i, found by looking at its elements.
//   KernelStatus element(i): converts and stores element i alone, or returns its error.
//
// Whole blocks from index 0, then the n mod kBlock tail elements one at a time. kGroup blocks
// are tried under one test while none fails; a group that fails is taken again block by block,
// so the blocks before the failing one are still written and the failing block is not.
template <std::size_t kBlock, std::size_t kGroup, class K>
inline KernelStatus run_blocks(const K& k, std::size_t n) noexcept {
    std::size_t i = 0;
    if constexpr (kGroup > 1) {
        constexpr std::size_t kStep = kBlock * kGroup;
        while (n - i >= kStep && k.template convert_blocks<kGroup>(i)) i += kStep;
    }
    for (; n - i >= kBlock; i += kBlock) {
        if (!k.template convert_blocks<1>(i)) return k.block_error(i);
    }
    for (; i < n; ++i) {
        const KernelStatus status = k.element(i);
        if (failed(status)) return status;
    }
    return kDone;
}

// ---- Elements -----------------------------------------------------------------------------

template <class T>
inline T load(const unsigned char* p, std::size_t i) noexcept {
    T v;
    __builtin_memcpy(&v, p + i * sizeof(T), sizeof(T));
    return v;
}

template <class T>
inline void store(unsigned char* p, std::size_t i, T v) noexcept {
    __builtin_memcpy(p + i * sizeof(T), &v, sizeof(T));
}

// Target ranges of the clamp and check kernels, as values of the source type (all exact).
template <class S, class D>
inline constexpr S kLow = std::is_same_v<D, std::uint8_t> ? S(0) : S(-2147483648.0);
template <class S, class D>
inline constexpr S kHigh = std::is_same_v<D, std::uint8_t> ? S(255) : S(2147483647.0);

inline constexpr double kInt32Low = -2147483648.0;
inline constexpr double kInt32High = 2147483647.0;

inline bool is_nan(double x) noexcept { return x != x; }
inline bool is_nan(float x) noexcept { return x != x; }

inline KernelStatus not_a_number(double x) noexcept { return {KernelStatus::Code::NotANumber, x}; }
inline KernelStatus outside_int32(double x) noexcept { return {KernelStatus::Code::Int32Range, x}; }

// In the element forms below, Round is the level's scalar rounding: a type whose static
// `apply<M>(x)` gives the integral value of a non-NaN x under mode M.

// Clamp to the range of D and convert; r is integral and not a NaN, so the conversion is
// exact (a -0 becomes 0).
template <class D, class S>
inline D clamp_integral(S r) noexcept {
    S c = r < kLow<S, D> ? kLow<S, D> : r;
    c = c > kHigh<S, D> ? kHigh<S, D> : c;
    return static_cast<D>(c);
}

// One element of a clamp kernel: NaN fails, otherwise round, clamp, convert, store.
template <class S, class D, RoundingMode M, class Round>
inline KernelStatus clamp_element(const unsigned char* src, unsigned char* dst, std::size_t i) noexcept {
    const S x = load<S>(src, i);
    if (is_nan(x)) return not_a_number(static_cast<double>(x));
    store<D>(dst, i, clamp_integral<D>(Round::template apply<M>(x)));
    return kDone;
}

// One element of the check kernel: NaN fails; a rounded value outside the int32 range fails
// with the element as it was before rounding; otherwise convert and store.
template <RoundingMode M, class Round>
inline KernelStatus check_element(const unsigned char* src, unsigned char* dst, std::size_t i) noexcept {
    const double x = load<double>(src, i);
    if (is_nan(x)) return not_a_number(x);
    const double r = Round::template apply<M>(x);
    if (r < kInt32Low || r > kInt32High) return outside_int32(x);
    store<std::int32_t>(dst, i, static_cast<std::int32_t>(r));
    return kDone;
}

// The first NaN among elements [begin, end), or done.
template <class S>
inline KernelStatus first_nan(const unsigned char* src, std::size_t begin, std::size_t end) noexcept {
    for (std::size_t j = begin; j < end; ++j) {
        const S x = load<S>(src, j);
        if (is_nan(x)) return not_a_number(static_cast<double>(x));
    }
    return kDone;
}

// The error of a failing block [begin, end) of a clamp kernel: its first NaN. Should the block
// hold none, it is converted element by element instead, so the walk never skips a block.
template <class S, class D, RoundingMode M, class Round>
inline KernelStatus clamp_block_error(const unsigned char* src, unsigned char* dst, std::size_t begin,
                                      std::size_t end) noexcept {
    const KernelStatus nan = first_nan<S>(src, begin, end);
    if (failed(nan)) return nan;
    for (std::size_t j = begin; j < end; ++j) {
        const KernelStatus status = clamp_element<S, D, M, Round>(src, dst, j);
        if (failed(status)) return status;
    }
    return kDone;
}

// The error of a failing block of the check kernel: its first NaN, else its first element
// that rounds outside the int32 range (the block rounded anew, element by element).
template <RoundingMode M, class Round>
inline KernelStatus check_block_error(const unsigned char* src, unsigned char* dst, std::size_t begin,
                                      std::size_t end) noexcept {
    const KernelStatus nan = first_nan<double>(src, begin, end);
    if (failed(nan)) return nan;
    for (std::size_t j = begin; j < end; ++j) {
        const double x = load<double>(src, j);
        const double r = Round::template apply<M>(x);
        if (r < kInt32Low || r > kInt32High) return outside_int32(x);
    }
    for (std::size_t j = begin; j < end; ++j) {
        const KernelStatus status = check_element<M, Round>(src, dst, j);
        if (failed(status)) return status;
    }
    return kDone;
}

#if defined(__AVX__)

// ---- Rounding with the processor's round-to-integral instructions ----------------------------
//
// The rounding direction is always an immediate of the instruction, never the one in MXCSR.
// NearestAway (which the selection never hands to a kernel, but which the kernels still honour)
// is the floor of |x| + 1/2, the sum rounded in the source precision, with the sign of x.

template <RoundingMode M>
inline constexpr int kRoundImm =
    M == RoundingMode::NearestEven       ? (_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)
    : M == RoundingMode::TowardsZero     ? (_MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)
    : M == RoundingMode::TowardsPositive ? (_MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)
                                         : (_MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);

struct ScalarRound {
    template <RoundingMode M>
    static double apply(double x) noexcept {
        if constexpr (M == RoundingMode::NearestAway) {
            const __m128d s = _mm_set_sd(__builtin_fabs(x) + 0.5);
            return __builtin_copysign(_mm_cvtsd_f64(_mm_round_sd(s, s, kRoundImm<M>)), x);
        } else {
            const __m128d v = _mm_set_sd(x);
            return _mm_cvtsd_f64(_mm_round_sd(v, v, kRoundImm<M>));
        }
    }
    template <RoundingMode M>
    static float apply(float x) noexcept {
        if constexpr (M == RoundingMode::NearestAway) {
            const __m128 s = _mm_set_ss(__builtin_fabsf(x) + 0.5f);
            return __builtin_copysignf(_mm_cvtss_f32(_mm_round_ss(s, s, kRoundImm<M>)), x);
        } else {
            const __m128 v = _mm_set_ss(x);
            return _mm_cvtss_f32(_mm_round_ss(v, v, kRoundImm<M>));
        }
    }
};

template <RoundingMode M>
inline __m256d round_pd(__m256d x) noexcept {
    if constexpr (M == RoundingMode::NearestAway) {
        const __m256d sign_bit = _mm256_set1_pd(-0.0);
        const __m256d s = _mm256_add_pd(_mm256_andnot_pd(sign_bit, x), _mm256_set1_pd(0.5));
        return _mm256_or_pd(_mm256_round_pd(s, kRoundImm<M>), _mm256_and_pd(sign_bit, x));
    } else {
        return _mm256_round_pd(x, kRoundImm<M>);
    }
}

template <RoundingMode M>
inline __m256 round_ps(__m256 x) noexcept {
    if constexpr (M == RoundingMode::NearestAway) {
        const __m256 sign_bit = _mm256_set1_ps(-0.0f);
        const __m256 s = _mm256_add_ps(_mm256_andnot_ps(sign_bit, x), _mm256_set1_ps(0.5f));
        return _mm256_or_ps(_mm256_round_ps(s, kRoundImm<M>), _mm256_and_ps(sign_bit, x));
    } else {
        return _mm256_round_ps(x, kRoundImm<M>);
    }
}

// Lanes that are NaN, as a mask of all-ones lanes.
inline __m256d nan_lanes(__m256d x) noexcept { return _mm256_cmp_pd(x, x, _CMP_UNORD_Q); }
inline __m256 nan_lanes(__m256 x) noexcept { return _mm256_cmp_ps(x, x, _CMP_UNORD_Q); }

// Clamp of non-NaN lanes to [lo, hi]. max and min return their second operand when the lanes
// compare equal, so -0 becomes the +0 of a zero lower bound; the conversion gives 0 either way.
inline __m256d clamp_pd(__m256d r, __m256d lo, __m256d hi) noexcept {
    return _mm256_min_pd(_mm256_max_pd(r, lo), hi);
}
inline __m256 clamp_ps(__m256 r, __m256 lo, __m256 hi) noexcept {
    return _mm256_min_ps(_mm256_max_ps(r, lo), hi);
}

inline __m256d load_pd(const unsigned char* p, std::size_t i) noexcept {
    return _mm256_loadu_pd(reinterpret_cast<const double*>(p + i * sizeof(double)));
}
inline __m256 load_ps(const unsigned char* p, std::size_t i) noexcept {
    return _mm256_loadu_ps(reinterpret_cast<const float*>(p + i * sizeof(float)));
}

// ---- float64 -> int32, clamp: blocks of 4 -----------------------------------------------------

template <RoundingMode M>
struct F64ToI32Clamp {
    static constexpr std::size_t kBlock = 4;
    const unsigned char* src;
    unsigned char* dst;

    template <std::size_t G>
    bool convert_blocks(std::size_t i) const noexcept {
        __m256d v[G];
        __m256d nan = _mm256_setzero_pd();
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            v[g] = load_pd(src, i + g * kBlock);
            nan = _mm256_or_pd(nan, nan_lanes(v[g]));
        }
        if (_mm256_movemask_pd(nan) != 0) return false;
        const __m256d lo = _mm256_set1_pd(kInt32Low);
        const __m256d hi = _mm256_set1_pd(kInt32High);
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            const __m128i q = _mm256_cvttpd_epi32(clamp_pd(round_pd<M>(v[g]), lo, hi));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (i + g * kBlock) * 4), q);
        }
        return true;
    }
    KernelStatus block_error(std::size_t i) const noexcept {
        return clamp_block_error<double, std::int32_t, M, ScalarRound>(src, dst, i, i + kBlock);
    }
    KernelStatus element(std::size_t i) const noexcept {
        return clamp_element<double, std::int32_t, M, ScalarRound>(src, dst, i);
    }
};

// ---- float64 -> int32, no out-of-range mode: blocks of 4 --------------------------------------

template <RoundingMode M>
struct F64ToI32Check {
    static constexpr std::size_t kBlock = 4;
    const unsigned char* src;
    unsigned char* dst;

    // One test per block serves both rules: the ordered comparisons are false for a NaN lane,
    // so a block passes only when every lane is a number that rounds into the range.
    template <std::size_t G>
    bool convert_blocks(std::size_t i) const noexcept {
        const __m256d lo = _mm256_set1_pd(kInt32Low);
        const __m256d hi = _mm256_set1_pd(kInt32High);
        __m256d r[G];
        __m256d inside = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            r[g] = round_pd<M>(load_pd(src, i + g * kBlock));
            const __m256d ok = _mm256_and_pd(_mm256_cmp_pd(r[g], lo, _CMP_GE_OQ),
                                             _mm256_cmp_pd(r[g], hi, _CMP_LE_OQ));
            inside = _mm256_and_pd(inside, ok);
        }
        if (_mm256_movemask_pd(inside) != 0xF) return false;
#pragma GCC unroll 16
        for (std::size_t g = 0; g < G; ++g) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (i + g * kBlock) * 4),
                             _mm256_cvttpd_epi32(r[g]));
        }
        return true;
    }
    KernelStatus block_error(std::size_t i) const noexcept {
        return check_block_error<M, ScalarRound>(src, dst, i, i + kBlock);
    }
    KernelStatus element(std::size_t i) const noexcept {
        return check_element<M, ScalarRound>(src, dst, i);
    }
};

// ---- float64 -> float32, nearest-even -------------------------------------------------------
//
// First pass: every element converted and stored, four per instruction, four groups per round,
// then the remaining whole groups, then the last up to three elements one by one. The binary32
// conversion rounds as MXCSR says, which in this system is always its default (round to
// nearest, ties to even, no flush to zero); it keeps a NaN's sign and upper payload and makes
// it quiet, exactly as the element loop does. While converting, the pass also notes whether any
// result is an infinity, so that the second pass, the search for a finite source that
// overflowed, runs only when one may exist.
//
// Second pass (check only): the first index whose result is infinite while its source is
// finite. kVectorScan looks at four results per test and at single elements only inside a
// group that holds an infinity; otherwise every element is looked at by itself.

inline __m128 infinite_lanes(__m128 f) noexcept {
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), f);
    return _mm_cmpeq_ps(magnitude, _mm_set1_ps(__builtin_inff()));
}

inline bool overflowed(const unsigned char* src, const unsigned char* dst, std::size_t i) noexcept {
    return __builtin_isinf(load<float>(dst, i)) && !__builtin_isinf(load<double>(src, i));
}

inline KernelStatus float32_overflow(double x) noexcept { return {KernelStatus::Code::Float32Overflow, x}; }

template <bool kVectorScan>
inline KernelStatus first_overflow(const unsigned char* src, const unsigned char* dst,
                                   std::size_t n) noexcept {
    std::size_t i = 0;
    if constexpr (kVectorScan) {
        for (; n - i >= 4; i += 4) {
            const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(dst + i * 4));
            if (_mm_movemask_ps(infinite_lanes(f)) == 0) continue;
            for (std::size_t j = i; j < i + 4; ++j) {
                if (overflowed(src, dst, j)) return float32_overflow(load<double>(src, j));
            }
        }
    }
    for (; i < n; ++i) {
        if (overflowed(src, dst, i)) return float32_overflow(load<double>(src, i));
    }
    return kDone;
}

template <bool kCheck>
inline __m128 convert_group(const unsigned char* src, unsigned char* dst, std::size_t i,
                            __m128 infinite) noexcept {
    const __m128 f = _mm256_cvtpd_ps(load_pd(src, i));
    _mm_storeu_ps(reinterpret_cast<float*>(dst + i * 4), f);
    if constexpr (kCheck) infinite = _mm_or_ps(infinite, infinite_lanes(f));
    return infinite;
}

template <bool kCheck, bool kVectorScan>
inline KernelStatus f64_to_f32_nearest_run(const unsigned char* src, unsigned char* dst,
                                           std::size_t n) noexcept {
    __m128 infinite = _mm_setzero_ps();
    std::size_t i = 0;
    for (; n - i >= 16; i += 16) {
        infinite = convert_group<kCheck>(src, dst, i, infinite);
        infinite = convert_group<kCheck>(src, dst, i + 4, infinite);
        infinite = convert_group<kCheck>(src, dst, i + 8, infinite);
        infinite = convert_group<kCheck>(src, dst, i + 12, infinite);
    }
    for (; n - i >= 4; i += 4) infinite = convert_group<kCheck>(src, dst, i, infinite);
    bool any_infinite = false;
    for (; i < n; ++i) {
        const float f = static_cast<float>(load<double>(src, i));
        store<float>(dst, i, f);
        any_infinite |= __builtin_isinf(f) != 0;
    }
    if constexpr (!kCheck) {
        return kDone;
    } else {
        if (_mm_movemask_ps(infinite) == 0 && !any_infinite) return kDone;
        return first_overflow<kVectorScan>(src, dst, n);
    }
}

template <bool kVectorScan>
inline KernelStatus f64_to_f32_nearest_kernel(const unsigned char* src, unsigned char* dst,
                                              std::size_t n, bool check) noexcept {
    if (check) return f64_to_f32_nearest_run<true, kVectorScan>(src, dst, n);
    return f64_to_f32_nearest_run<false, kVectorScan>(src, dst, n);
}

#endif  // __AVX__

}  // namespace
}  // namespace pelm_ossrel::simd
