// The direct pairs: the 40 pairs whose target holds every value of the source, which the drivers
// convert themselves, with no mode and no failure (the same type on both sides, float16 excepted;
// the integer widenings that keep every value; every integer type to float64; int8, uint8, int16
// and uint16 to float32), and their conversion with a scalar map, through the direct body of the
// active processor level (simd/bodies.hpp).
#pragma once

#include <cstddef>
#include <type_traits>

#include "block_loop.hpp"
#include "default_float_control.hpp"
#include "element_types.hpp"
#include "float_to_float.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "map_entry.hpp"
#include "scalar_map.hpp"
#include "simd/bodies.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

// The integer pairs whose target holds every value of the source.
template <class S, class D>
inline constexpr bool is_direct_int_pair_v =
    is_integer_element_v<S> && is_integer_element_v<D> && !is_core_int_pair_v<S, D>;

// Integer to float64, and int8, uint8, int16, uint16 to float32.
template <class S, class D>
inline constexpr bool is_direct_int_to_float_pair_v =
    is_integer_element_v<S> && is_float_element_v<D> && !is_core_int_to_float_pair_v<S, D>;

// float32 to float32 and float64 to float64.
template <class S, class D>
inline constexpr bool is_direct_float_pair_v =
    is_float_element_v<S> && is_float_element_v<D> && !is_core_float_to_float_pair_v<S, D>;

template <class S, class D>
inline constexpr bool is_direct_pair_v =
    is_direct_int_pair_v<S, D> || is_direct_int_to_float_pair_v<S, D> || is_direct_float_pair_v<S, D>;

// The value of v in D: v itself for the same type (a floating value moves as its pattern, NaN
// payloads and signalling NaNs included), else the plain conversion (int64 and uint64 to float64
// round to nearest, ties to even).
template <class D, class S>
inline D direct_value(S v) noexcept {
    if constexpr (std::is_same_v<S, D>) return v;
    else return static_cast<D>(v);
}

// The first n elements with a scalar map: each takes the target of the first entry that matches
// it (integer equality; IEEE equality for floating sources, a NaN matching the first NaN key),
// else its own value in D. Whole blocks go through the level's direct body, the rest element by
// element; the two store the same bits. Never fails. Runs under the default floating-point control
// (default_float_control.hpp): int64 and uint64 to float64 round by it.
template <class S, class D>
void convert_direct_with_map(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map, std::size_t n) noexcept {
    static_assert(is_direct_pair_v<S, D>, "not a direct pair");
    const DefaultFloatControl control;
    const simd::BodyModes modes{RoundingMode::NearestEven, OutOfRange::Absent, body_map(map)};
    run_block_body(pair_body<S, D>(simd::active_bodies().direct), src, dst, n, modes, simd::kDirectBlock,
                   [&](SrcSlice<S> s, DstSlice<D> d, std::size_t k) noexcept -> CastResult {
                       for (std::size_t i = 0; i < k; ++i) {
                           const S v = s[i];
                           const D* mapped = find_mapped(map, v);
                           d.set(i, mapped != nullptr ? *mapped : direct_value<D>(v));
                       }
                       return std::nullopt;
                   });
}

}  // namespace pelm_ossrel
