// Integer-to-floating slice conversion for the pairs whose values may need rounding: every
// integer type to float16, and int32, uint32, int64, uint64 to float32. It never fails.
//
// Per element: the scalar map first; otherwise the integer rounded to nearest, ties to even,
// in one rounding (float16 through binary32, which holds every integer that float16 can
// reach); under another rounding mode that result is moved by at most one step, judged
// against the integer as binary64 (exact up to 2^53, the binary64 rounding above).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cast_error.hpp"
#include "config.hpp"
#include "element_types.hpp"
#include "f16.hpp"
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
        D r = int_to_float_nearest<D>(x);
        if constexpr (M != RoundingMode::NearestEven) {
            bool negative = false;
            if constexpr (std::is_signed_v<S>) negative = x < 0;
            r = adjust_to_mode<M>(r, static_cast<double>(x), negative);
        }
        dst.set(i, r);
    }
    return std::nullopt;
}

template <class S, class D, RoundingMode M>
CastResult int_to_float_with_map(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map,
                                 std::size_t n) noexcept {
    if (map.empty()) return int_to_float_loop<S, D, M, false>(src, dst, map, n);
    return int_to_float_loop<S, D, M, true>(src, dst, map, n);
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
