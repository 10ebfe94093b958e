// Integer-to-integer slice conversion for the pairs whose target cannot hold every source
// value: every narrowing, every signed source with an unsigned target at least as wide, and
// every unsigned source with the signed type of its width (38 pairs). The other integer
// pairs keep every value and are converted by the drivers themselves.
//
// Per element: the scalar map first; otherwise the out-of-range mode:
//   - absent: a value inside D's range is stored, any other ends the conversion with an
//     OutOfRange error showing [lo, hi], the values of S that D can hold (blocks whose every
//     value fits are stored at once, the others element by element);
//   - clamp: the nearer of lo and hi for a value outside them (the same as D's limits);
//   - wrap: the low bits of the value's two's-complement form, read as D.
// Without a map the mode is chosen once per call and the clamp and wrap loops are straight
// element transforms that the compiler vectorises; for equal widths wrap is a byte copy. On
// processors of the x86-64-v3 level the three loops without a map run the 256-bit bodies of
// simd/int_kernels.hpp instead, with the same results, errors and partial writes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>

#include "cast_error.hpp"
#include "config.hpp"
#include "cpu_features.hpp"
#include "element_types.hpp"
#include "modes.hpp"
#include "scalar_map.hpp"
#include "simd/int_kernels.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

namespace int_to_int_detail {

template <class S, class D>
constexpr bool is_core_pair() noexcept {
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) {
        return !(std::in_range<D>(std::numeric_limits<S>::min()) &&
                 std::in_range<D>(std::numeric_limits<S>::max()));
    } else {
        return false;
    }
}

}  // namespace int_to_int_detail

// True exactly for the integer pairs that convert_slice_int_to_int serves: D cannot hold
// every value of S.
template <class S, class D>
inline constexpr bool is_core_int_pair_v = int_to_int_detail::is_core_pair<S, D>();

namespace int_to_int_detail {

// [lo, hi]: the values of S that D can hold, as S values. They are also D's limits as far
// as any S value can reach them, so clamping to them is clamping to D's range.
template <class S, class D>
inline constexpr S kLo = std::cmp_less(std::numeric_limits<S>::min(), std::numeric_limits<D>::min())
                             ? static_cast<S>(std::numeric_limits<D>::min())
                             : std::numeric_limits<S>::min();
template <class S, class D>
inline constexpr S kHi = std::cmp_less(std::numeric_limits<D>::max(), std::numeric_limits<S>::max())
                             ? static_cast<S>(std::numeric_limits<D>::max())
                             : std::numeric_limits<S>::max();

enum class Mode : std::uint8_t { Absent, Clamp, Wrap };

template <class S, class D>
inline bool fits(S v) noexcept {
    return v >= kLo<S, D> && v <= kHi<S, D>;
}

template <class S, class D>
inline D clamp_one(S v) noexcept {
    return static_cast<D>(std::min(std::max(v, kLo<S, D>), kHi<S, D>));
}

// Integral conversion is modular: the value congruent to v modulo 2^w, w the width of D,
// with a signed source sign-extended first where D is wider.
template <class S, class D>
inline D wrap_one(S v) noexcept {
    return static_cast<D>(v);
}

template <class S, class D>
inline CastError out_of_range(S v) noexcept {
    return CastError::out_of_range(static_cast<double>(v), static_cast<double>(kLo<S, D>),
                                   static_cast<double>(kHi<S, D>));
}

// dst[i] = op(src[i]) for i < n. Full blocks go through a local buffer, so the inner loop
// has a fixed trip count and no possible aliasing with the source: the compiler vectorises
// it without run-time checks or a scalar remainder.
template <class S, class D, D (*Op)(S) noexcept>
inline void transform(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    constexpr std::size_t kBlock = 64;
    const unsigned char* const in = src.bytes();
    unsigned char* const out = dst.bytes();
    const std::size_t full = n - n % kBlock;
    for (std::size_t i = 0; i < full; i += kBlock) {
        D block[kBlock];
        for (std::size_t j = 0; j < kBlock; ++j) {
            S v;
            std::memcpy(&v, in + (i + j) * sizeof(S), sizeof(S));
            block[j] = Op(v);
        }
        std::memcpy(out + i * sizeof(D), block, sizeof block);
    }
    for (std::size_t i = full; i < n; ++i) dst.set(i, Op(src[i]));
}

template <class S, class D>
CastResult convert_checked_elements(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const S v = src[i];
        if (!fits<S, D>(v)) return out_of_range<S, D>(v);
        dst.set(i, static_cast<D>(v));
    }
    return std::nullopt;
}

// The checked loop in blocks of 64: a block whose every value fits is stored at once; a block
// holding a value outside, and the tail, go element by element, so that an error leaves
// exactly the elements before the failing one written.
template <class S, class D>
CastResult convert_checked(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    constexpr std::size_t kBlock = 64;
    const unsigned char* const in = src.bytes();
    unsigned char* const out = dst.bytes();
    const std::size_t full = n - n % kBlock;
    for (std::size_t i = 0; i < full; i += kBlock) {
        S block[kBlock];
        std::memcpy(block, in + i * sizeof(S), sizeof block);
        // [lo, hi] is [lo, lo + 2^k) for every pair (lo is 0 or -2^(k-1)): v fits exactly when
        // v - lo, as an unsigned value, has no bit at or above k. An OR over the block of those
        // shifted differences is a test with no comparison, which every vector unit has.
        using U = std::make_unsigned_t<S>;
        constexpr U kSpan = static_cast<U>(static_cast<U>(kHi<S, D>) - static_cast<U>(kLo<S, D>));
        constexpr int kBits = std::bit_width(kSpan);
        static_assert((kSpan & (kSpan + 1)) == 0, "the range must be a power of two long");
        U outside = 0;
        for (std::size_t j = 0; j < kBlock; ++j) {
            outside |= static_cast<U>(static_cast<U>(static_cast<U>(block[j]) - static_cast<U>(kLo<S, D>)) >> kBits);
        }
        if (outside != 0) {
            const CastResult result = convert_checked_elements<S, D>(
                SrcSlice<S>(in + i * sizeof(S), kBlock), DstSlice<D>(out + i * sizeof(D), kBlock), kBlock);
            if (result) return result;
            continue;
        }
        D converted[kBlock];
        for (std::size_t j = 0; j < kBlock; ++j) converted[j] = static_cast<D>(block[j]);
        std::memcpy(out + i * sizeof(D), converted, sizeof converted);
    }
    return convert_checked_elements<S, D>(SrcSlice<S>(in + full * sizeof(S), n - full),
                                          DstSlice<D>(out + full * sizeof(D), n - full), n - full);
}

template <class S, class D>
void convert_wrap(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    if constexpr (sizeof(S) == sizeof(D)) {
        // Same width: the two's-complement bytes are the result.
        std::memmove(dst.bytes(), src.bytes(), n * sizeof(S));
    } else {
        transform<S, D, wrap_one<S, D>>(src, dst, n);
    }
}

// The same three loops on the x86-64-v3 level; callers check the level first.
template <class S, class D>
inline void convert_clamp_avx2(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    simd::avx2::body::int_to_int_clamp(simd::int_code_of<S>(), simd::int_code_of<D>(), src.bytes(),
                                       dst.bytes(), n);
}

template <class S, class D>
inline void convert_wrap_avx2(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    if constexpr (sizeof(S) == sizeof(D)) {
        convert_wrap(src, dst, n);
    } else {
        simd::avx2::body::int_to_int_wrap(simd::int_code_of<S>(), simd::int_code_of<D>(), src.bytes(),
                                          dst.bytes(), n);
    }
}

// The vector body stores whole blocks while they fit; a block it stops at holds a value
// outside and is taken element by element, which reports the first such value after storing
// the elements before it.
template <class S, class D>
CastResult convert_checked_avx2(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    constexpr std::size_t kBlock = 64;
    const unsigned char* const in = src.bytes();
    unsigned char* const out = dst.bytes();
    std::size_t i = 0;
    while (true) {
        i += simd::avx2::body::int_to_int_checked_blocks(simd::int_code_of<S>(), simd::int_code_of<D>(),
                                                         in + i * sizeof(S), out + i * sizeof(D), n - i);
        if (n - i < kBlock) break;
        const CastResult result = convert_checked_elements<S, D>(
            SrcSlice<S>(in + i * sizeof(S), kBlock), DstSlice<D>(out + i * sizeof(D), kBlock), kBlock);
        if (result) return result;
        i += kBlock;
    }
    return convert_checked_elements<S, D>(SrcSlice<S>(in + i * sizeof(S), n - i),
                                          DstSlice<D>(out + i * sizeof(D), n - i), n - i);
}

template <class S, class D, Mode M>
CastResult convert_mapped(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map,
                          std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const S v = src[i];
        if (const D* target = find_mapped(map, v)) {
            dst.set(i, *target);
        } else if constexpr (M == Mode::Clamp) {
            dst.set(i, clamp_one<S, D>(v));
        } else if constexpr (M == Mode::Wrap) {
            dst.set(i, wrap_one<S, D>(v));
        } else {
            if (!fits<S, D>(v)) return out_of_range<S, D>(v);
            dst.set(i, static_cast<D>(v));
        }
    }
    return std::nullopt;
}

}  // namespace int_to_int_detail

template <class S, class D>
CastResult convert_slice_int_to_int(SrcSlice<S> src, DstSlice<D> dst,
                                    const IntToIntConfig<S, D>& config) noexcept {
    static_assert(is_core_int_pair_v<S, D>,
                  "only pairs whose target cannot hold every source value are converted here");
    using namespace int_to_int_detail;

    const std::size_t n = std::min(src.size(), dst.size());
    if (n == 0) return std::nullopt;

    const bool clamp = config.out_of_range.is(OutOfRangeMode::Clamp);
    const bool wrap = config.out_of_range.is(OutOfRangeMode::Wrap);
    if (!config.scalar_map.empty()) {
        if (clamp) return convert_mapped<S, D, Mode::Clamp>(src, dst, config.scalar_map, n);
        if (wrap) return convert_mapped<S, D, Mode::Wrap>(src, dst, config.scalar_map, n);
        return convert_mapped<S, D, Mode::Absent>(src, dst, config.scalar_map, n);
    }
    if (has_x86_64_v3()) {
        if (clamp) {
            convert_clamp_avx2(src, dst, n);
            return std::nullopt;
        }
        if (wrap) {
            convert_wrap_avx2(src, dst, n);
            return std::nullopt;
        }
        return convert_checked_avx2(src, dst, n);
    }
    if (clamp) {
        transform<S, D, clamp_one<S, D>>(src, dst, n);
        return std::nullopt;
    }
    if (wrap) {
        convert_wrap(src, dst, n);
        return std::nullopt;
    }
    return convert_checked(src, dst, n);
}

}  // namespace pelm_ossrel
