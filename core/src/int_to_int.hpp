// Integer-to-integer slice conversion for the pairs whose target cannot hold every source
// value: every narrowing, every signed source with an unsigned target at least as wide, and
// every unsigned source with the signed type of its width (38 pairs). The other integer
// pairs keep every value and are converted by the drivers themselves.
//
// Per element: the scalar map first; otherwise the out-of-range mode:
//   - absent: a value inside D's range is stored, any other ends the conversion with an
//     OutOfRange error showing [lo, hi], the values of S that D can hold;
//   - clamp: the nearer of lo and hi for a value outside them (the same as D's limits);
//   - wrap: the low bits of the value's two's-complement form, read as D.
// The mode is chosen once per call and the integer-to-integer bodies of the active processor
// level (simd/bodies.hpp) do the work, the scalar map's targets blended into their blocks:
// clamp and wrap convert the whole run (with a map, its whole blocks of 64, and the element loop
// the rest); without a mode, whole blocks of 64 whose every value fits (once the mapped elements
// are set aside) are stored at once and a block holding a value outside goes element by element
// (block_loop.hpp), so an error leaves exactly the elements before the failing one written.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "block_loop.hpp"
#include "cast_error.hpp"
#include "config.hpp"
#include "default_float_control.hpp"
#include "element_types.hpp"
#include "lift_modes.hpp"
#include "modes.hpp"
#include "scalar_map.hpp"
#include "simd/bodies.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

namespace int_to_int_detail {

#include "shared/int_ranges.inc"

template <class S, class D>
constexpr bool is_core_pair() noexcept {
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) return kNarrowingIntPair<S, D>;
    else return false;
}

}  // namespace int_to_int_detail

// True exactly for the integer pairs that convert_slice_int_to_int serves: D cannot hold
// every value of S.
template <class S, class D>
inline constexpr bool is_core_int_pair_v = int_to_int_detail::is_core_pair<S, D>();

namespace int_to_int_detail {

template <class S, class D>
inline bool fits(S v) noexcept {
    return v >= kLo<S, D> && v <= kHi<S, D>;
}

template <class S, class D>
inline CastError out_of_range(S v) noexcept {
    return CastError::out_of_range(static_cast<double>(v), static_cast<double>(kLo<S, D>),
                                   static_cast<double>(kHi<S, D>));
}

// The element loop. Clamp stores the nearer of lo and hi for a value outside them; wrap the
// value congruent to v modulo 2^w (integral conversion, a signed source sign-extended first).
template <class S, class D, OutOfRange O, bool HasMap>
CastResult int_to_int_loop(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const S v = src[i];
        if (store_mapped<HasMap>(map, v, dst, i)) continue;
        if constexpr (O == OutOfRange::Clamp) {
            dst.set(i, static_cast<D>(std::min(std::max(v, kLo<S, D>), kHi<S, D>)));
        } else if constexpr (O == OutOfRange::Wrap) {
            dst.set(i, static_cast<D>(v));
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
    // No floating arithmetic but for the error's values, whose conversion to binary64 rounds.
    const DefaultFloatControl control;

    const std::size_t n = std::min(src.size(), dst.size());
    if (n == 0) return std::nullopt;

    const OutOfRange rule = config.out_of_range.rule();
    const simd::LevelBodies& bodies = simd::active_bodies();
    const simd::Body body = pair_body<S, D>(rule == OutOfRange::Clamp  ? bodies.int_to_int_clamp
                                            : rule == OutOfRange::Wrap ? bodies.int_to_int_wrap
                                                                       : bodies.int_to_int_checked);
    const simd::BodyModes modes{RoundingMode::NearestEven, rule, body_map(config.scalar_map)};
    return with_out_of_range(rule, [&]<OutOfRange O>() {
        return run_block_body(body, src, dst, n, modes, simd::kIntBlock,
                              [&](SrcSlice<S> s, DstSlice<D> d, std::size_t k) noexcept {
                                  if (config.scalar_map.empty()) return int_to_int_loop<S, D, O, false>(s, d, {}, k);
                                  return int_to_int_loop<S, D, O, true>(s, d, config.scalar_map, k);
                              });
    });
}

}  // namespace pelm_ossrel
