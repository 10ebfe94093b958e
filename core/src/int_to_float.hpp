// Integer-to-floating slice conversion for the pairs whose values may need rounding: every
// integer type to float16, and int32, uint32, int64, uint64 to float32. It never fails.
//
// Per element: the scalar map first; otherwise the integer rounded to nearest, ties to even,
// in one rounding (float16 through binary32, which holds every integer that float16 can
// reach); under another rounding mode that result is moved by at most one step, judged
// against the integer as binary64 (exact up to 2^53, the binary64 rounding above).
//
// Without a scalar map the loop runs in blocks of 16: the nearest results at once (float16
// through the bulk conversions), then the adjustment to the mode, each a straight pass.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "cast_error.hpp"
#include "config.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "float_blocks.hpp"
#include "modes.hpp"
#include "next_after.hpp"
#include "scalar_map.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

// The integer-to-floating pairs that this family serves; the others (every integer type
// to float64, 8- and 16-bit integers to float32) are exact and converted by the drivers.
template <class S, class D>
inline constexpr bool is_core_int_to_float_pair_v =
    is_integer_element_v<S> &&
    (std::is_same_v<D, f16> || (std::is_same_v<D, float> && sizeof(S) >= 4));

namespace detail {

template <class D, class S>
inline D int_to_float_nearest(S x) noexcept {
    if constexpr (std::is_same_v<D, f16>) return f32_to_f16(static_cast<float>(x));
    else return static_cast<float>(x);
}

// adjust_to_mode for an integer source: the same result, with the neighbour written as a step
// of the pattern. For an integer source r is never a NaN, and r is a zero only for the source 0
// (then s is 0 and nothing moves); whenever a mode moves r, r is not a zero and has the source's
// sign, so the neighbour towards zero is the pattern minus one and the one away from zero the
// pattern plus one (the infinities included: -inf and +inf step towards zero to the lowest and
// largest finite values, and no mode moves an infinity away from zero).
template <RoundingMode M, class T>
inline T adjust_integer_source(T r, double s) noexcept {
    if constexpr (M == RoundingMode::NearestEven || M == RoundingMode::NearestAway) {
        return adjust_to_mode<M>(r, s, s < 0.0);
    } else {
        using U = decltype(pattern(r));
        const U bits = pattern(r);
        const bool negative = (bits >> (8 * sizeof(U) - 1)) != 0;
        const double rd = exact_f64(r);
        U step;  // 0, or the move of the pattern: +1 away from zero, -1 (all ones) towards it
        if constexpr (M == RoundingMode::TowardsZero) {
            step = std::fabs(rd) > std::fabs(s) ? static_cast<U>(~U{0}) : U{0};
        } else {
            const bool up = M == RoundingMode::TowardsPositive ? s > rd : rd > s;
            const bool away = (M == RoundingMode::TowardsPositive) != negative;
            step = up ? (away ? U{1} : static_cast<U>(~U{0})) : U{0};
        }
        return with_pattern(r, static_cast<U>(bits + step));
    }
}

// What the loop stores for x once its nearest result r is known.
template <class S, class D, RoundingMode M>
inline D finish_int_element(S x, D r) noexcept {
    if constexpr (M == RoundingMode::NearestEven) return r;
    else return adjust_integer_source<M>(r, static_cast<double>(x));
}

template <class S, class D, RoundingMode M, bool HasMap>
CastResult int_to_float_loop(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map,
                             std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const S x = src[i];
        if constexpr (HasMap) {
            if (const D* target = find_mapped(map, x)) {
                dst.set(i, *target);
                continue;
            }
        }
        dst.set(i, finish_int_element<S, D, M>(x, int_to_float_nearest<D>(x)));
    }
    return std::nullopt;
}

// The loop without a scalar map in blocks of 16: the nearest results of a block at once (for
// float16 through the bulk conversions of float_blocks.hpp), then, under a mode other than
// nearest-even, the sources as binary64 and the loop's own adjustment, each as a separate
// straight pass over the block. Every element stores what the loop stores.
template <class S, class D, RoundingMode M>
void int_to_float_blocks(SrcSlice<S> src, DstSlice<D> dst, std::size_t n) noexcept {
    constexpr std::size_t B = 16;
    const std::size_t full = n - n % B;
    for (std::size_t i = 0; i < full; i += B) {
        S x[B];
        std::memcpy(x, src.bytes() + i * sizeof(S), sizeof x);
        D r[B];
#if defined(__SSE2__)
        if constexpr (std::is_same_v<D, f16>) {
            static_assert(B == kFloatBlock);
            int_to_f16_nearest_block<S>(src.bytes() + i * sizeof(S), r);
        } else
#endif
        {
            for (std::size_t j = 0; j < B; ++j) r[j] = int_to_float_nearest<D>(x[j]);
        }
        if constexpr (M != RoundingMode::NearestEven) {
            double s[B];
            for (std::size_t j = 0; j < B; ++j) s[j] = static_cast<double>(x[j]);
            for (std::size_t j = 0; j < B; ++j) r[j] = adjust_integer_source<M>(r[j], s[j]);
        }
        std::memcpy(dst.bytes() + i * sizeof(D), r, sizeof r);
    }
    int_to_float_loop<S, D, M, false>(SrcSlice<S>(src.bytes() + full * sizeof(S), n - full),
                                      DstSlice<D>(dst.bytes() + full * sizeof(D), n - full),
                                      ScalarMap<S, D>{}, n - full);
}

template <class S, class D, RoundingMode M>
CastResult int_to_float_with_map(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map,
                                 std::size_t n) noexcept {
    if (!map.empty()) return int_to_float_loop<S, D, M, true>(src, dst, map, n);
    // A float32 target under nearest-even is the plain conversion loop already.
    if constexpr (std::is_same_v<D, f16> || M != RoundingMode::NearestEven) {
        int_to_float_blocks<S, D, M>(src, dst, n);
        return std::nullopt;
    }
    return int_to_float_loop<S, D, M, false>(src, dst, map, n);
}

}  // namespace detail

template <class S, class D>
CastResult convert_slice_int_to_float(SrcSlice<S> src, DstSlice<D> dst,
                                      const IntToFloatConfig<S, D>& config) noexcept {
    static_assert(is_core_int_to_float_pair_v<S, D>);

    const std::size_t n = std::min(src.size(), dst.size());
    if (n == 0) return std::nullopt;

    using detail::int_to_float_with_map;
    const ScalarMap<S, D> map = config.scalar_map;
    switch (config.rounding_mode) {
        case RoundingMode::NearestEven: break;
        case RoundingMode::TowardsZero:
            return int_to_float_with_map<S, D, RoundingMode::TowardsZero>(src, dst, map, n);
        case RoundingMode::TowardsPositive:
            return int_to_float_with_map<S, D, RoundingMode::TowardsPositive>(src, dst, map, n);
        case RoundingMode::TowardsNegative:
            return int_to_float_with_map<S, D, RoundingMode::TowardsNegative>(src, dst, map, n);
        case RoundingMode::NearestAway:
            return int_to_float_with_map<S, D, RoundingMode::NearestAway>(src, dst, map, n);
    }
    return int_to_float_with_map<S, D, RoundingMode::NearestEven>(src, dst, map, n);
}

}  // namespace pelm_ossrel
