// Integer-to-floating slice conversion for the pairs whose values may need rounding: every
// integer type to float16, and int32, uint32, int64, uint64 to float32. It never fails.
//
// Per element: the scalar map first; otherwise the integer rounded to nearest, ties to even,
// in one rounding (float16 through binary32, which holds every integer that float16 can
// reach); under another rounding mode that result is moved by at most one step, judged
// against the integer as binary64 (exact up to 2^53, the binary64 rounding above).
//
// The integer-to-floating body of the active processor level (simd/bodies.hpp) converts the run:
// blocks of 16, the nearest results at once, then the adjustment to the mode, the scalar map's
// targets blended in; every element stores what the loop stores. Without a map the body converts
// all of the run, with one its whole blocks and the element loop the rest.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "adjust_to_mode.hpp"
#include "block_loop.hpp"
#include "cast_error.hpp"
#include "config.hpp"
#include "default_float_control.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "float_results.hpp"
#include "lift_modes.hpp"
#include "modes.hpp"
#include "scalar_map.hpp"
#include "simd/bodies.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

// The integer-to-floating pairs that this family serves; the others (every integer type
// to float64, 8- and 16-bit integers to float32) are exact and converted by the drivers.
template <class S, class D>
inline constexpr bool is_core_int_to_float_pair_v =
    is_integer_element_v<S> &&
    (std::is_same_v<D, f16> || (std::is_same_v<D, float> && element_bits_v<S> >= 32));

namespace detail {


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
        if (store_mapped<HasMap>(map, x, dst, i)) continue;
        dst.set(i, finish_int_element<S, D, M>(x, int_nearest<D>(x)));
    }
    return std::nullopt;
}

}  // namespace detail

template <class S, class D>
CastResult convert_slice_int_to_float(SrcSlice<S> src, DstSlice<D> dst,
                                      const IntToFloatConfig<S, D>& config) noexcept {
    static_assert(is_core_int_to_float_pair_v<S, D>);
    const DefaultFloatControl control;

    const std::size_t n = std::min(src.size(), dst.size());
    if (n == 0) return std::nullopt;

    const simd::BodyModes modes{config.rounding_mode, OutOfRange::Absent, body_map(config.scalar_map)};
    return with_rounding(config.rounding_mode, [&]<RoundingMode M>() {
        return run_block_body(pair_body<S, D>(simd::active_bodies().int_to_float), src, dst, n, modes,
                              simd::kFloatBlock, [&](SrcSlice<S> s, DstSlice<D> d, std::size_t k) noexcept {
                                  if (config.scalar_map.empty()) return detail::int_to_float_loop<S, D, M, false>(s, d, {}, k);
                                  return detail::int_to_float_loop<S, D, M, true>(s, d, config.scalar_map, k);
                              });
    });
}

}  // namespace pelm_ossrel
