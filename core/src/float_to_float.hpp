// Floating-to-floating slice conversion: float64 to float32, float64 to float16 and
// float32 to float16 round; float16 to float32, float16 to float64 and float32 to float64
// widen exactly; float16 to float16 copies the pattern.
//
// Per element: the scalar map first; otherwise the nearest-even result (float64 to float16
// through binary32: two roundings), moved by at most one step under the other rounding
// modes. A finite value whose result is an infinity fails as OutOfRange unless the
// out-of-range mode is clamp, which stores the infinity; wrap acts as no mode here. A NaN
// that changes width comes out quiet, keeping its sign and the upper payload bits.
//
// The loop runs in blocks of 16 through the floating-to-floating body of the active processor
// level (simd/bodies.hpp, block_loop.hpp), which converts a block's results at once and blends the
// scalar map's targets in; the blocks that could differ in any way from the element loop (a NaN
// the level does not narrow in its lanes, an infinite result that may be an overflow) run the
// element loop itself.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "adjust_to_mode.hpp"
#include "block_loop.hpp"
#include "cast_error.hpp"
#include "config.hpp"
#include "default_float_control.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "float_results.hpp"
#include "fast_paths.hpp"
#include "lift_modes.hpp"
#include "modes.hpp"
#include "scalar_map.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

// The floating pairs this family serves: all but float32 -> float32 and float64 -> float64,
// which the drivers copy themselves.
template <class S, class D>
inline constexpr bool is_core_float_to_float_pair_v =
    is_float_element_v<S> && is_float_element_v<D> &&
    (!std::is_same_v<S, D> || std::is_same_v<S, f16>);

namespace detail {

// Whether D is narrower than S (the three pairs that round and can overflow).
template <class S, class D>
inline constexpr bool is_narrowing_float_pair_v = element_bits_v<D> < element_bits_v<S>;


// Binary64 to binary32 to nearest, ties to even; a NaN keeps its sign and the top 23 fraction
// bits and is made quiet.
inline float narrow_f64_to_f32(double x) noexcept {
    if (x != x) {
        const std::uint64_t b = std::bit_cast<std::uint64_t>(x);
        const auto sign = static_cast<std::uint32_t>(b >> 32) & 0x80000000u;
        const auto payload = static_cast<std::uint32_t>(b >> 29) & 0x007FFFFFu;
        return std::bit_cast<float>(sign | 0x7FC00000u | payload);
    }
    return static_cast<float>(x);
}

// Exact widening; a NaN keeps its sign and fraction (moved to the top) and is made quiet.
inline double widen_f32_to_f64(float x) noexcept {
    if (x != x) {
        const std::uint32_t b = std::bit_cast<std::uint32_t>(x);
        const std::uint64_t sign = static_cast<std::uint64_t>(b & 0x80000000u) << 32;
        const std::uint64_t payload = static_cast<std::uint64_t>(b & 0x007FFFFFu) << 29;
        return std::bit_cast<double>(sign | 0x7FF8000000000000u | payload);
    }
    return static_cast<double>(x);
}

template <class D, class S>
inline D float_nearest(S x) noexcept {
    if constexpr (std::is_same_v<S, D>) return x;  // f16 -> f16: the pattern itself
    else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) return narrow_f64_to_f32(x);
    else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, f16>) return f64_to_f16(x);
    else if constexpr (std::is_same_v<S, float> && std::is_same_v<D, f16>) return f32_to_f16(x);
    else if constexpr (std::is_same_v<S, f16> && std::is_same_v<D, float>) return f16_to_f32(x);
    else if constexpr (std::is_same_v<S, f16> && std::is_same_v<D, double>) return f16_to_f64(x);
    else {
        static_assert(std::is_same_v<S, float> && std::is_same_v<D, double>);
        return widen_f32_to_f64(x);
    }
}

// The target's lowest and largest finite values, as an overflow error reports them.
template <class D>
inline constexpr double kFiniteMax = std::is_same_v<D, f16> ? 65504.0
                                                              : double{std::numeric_limits<float>::max()};

// What the element loop does with x once its nearest result r is known: the move to the rounding
// mode, the overflow test and the store at index i; the overflow error otherwise.
template <class S, class D, RoundingMode M, OutOfRange O>
inline CastResult finish_float_element(S x, D r, DstSlice<D> dst, std::size_t i) noexcept {
    if constexpr (is_narrowing_float_pair_v<S, D>) {
        r = narrowed_to_mode<M>(x, r);
        if constexpr (O != OutOfRange::Clamp) {
            if (is_inf_value(r)) {
                const double s = as_f64(x);
                if (!std::isinf(s)) {
                    return CastError::out_of_range(s, -kFiniteMax<D>, kFiniteMax<D>);
                }
            }
        }
    }
    dst.set(i, r);
    return std::nullopt;
}

template <class S, class D, RoundingMode M, OutOfRange O, bool HasMap>
CastResult float_to_float_loop(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map,
                               std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const S x = src[i];
        if (store_mapped<HasMap>(map, x, dst, i)) continue;
        if (const CastResult failed = finish_float_element<S, D, M, O>(x, float_nearest<D>(x), dst, i))
            return failed;
    }
    return std::nullopt;
}

// The loop of one call: in blocks through the active level's body. Wrap has no meaning for a
// floating target and acts as no mode.
template <class S, class D, RoundingMode M, OutOfRange O>
CastResult float_to_float_run(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map, std::size_t n) noexcept {
    // float16 -> float16 comes here only with a scalar map: without one the run is copied.
    return run_call(simd::active_bodies().float_to_float, src, dst, map, n, {M, O}, simd::kFloatBlock,
                    []<bool HasMap>(SrcSlice<S> s, DstSlice<D> d, ScalarMap<S, D> m, std::size_t k) noexcept {
                        return float_to_float_loop<S, D, M, O, HasMap>(s, d, m, k);
                    });
}

}  // namespace detail

template <class S, class D>
CastResult convert_slice_float_to_float(SrcSlice<S> src, DstSlice<D> dst,
                                        const CastConfig<S, D>& config) noexcept {
    static_assert(is_core_float_to_float_pair_v<S, D>);
    const DefaultFloatControl control;

    // The vectorised fast path (float64 to float32 under nearest-even) is offered the whole
    // call first, with both slices at their full lengths; when it declines, the call runs from
    // the first element in blocks through the level's body, as every pair does.
    if (const FastPathResult fast = offer_float_to_float_fast_path(src, dst, config); fast.decided())
        return fast.result();

    const std::size_t n = std::min(src.size(), dst.size());
    if (n == 0) return std::nullopt;

    if constexpr (!detail::is_narrowing_float_pair_v<S, D>) {
        // Widening and the float16 copy: no mode changes a value and nothing fails.
        if constexpr (std::is_same_v<S, D>) {
            if (config.scalar_map.empty()) {
                std::memmove(dst.bytes(), src.bytes(), n * sizeof(D));
                return std::nullopt;
            }
        }
        return detail::float_to_float_run<S, D, RoundingMode::NearestEven, OutOfRange::Clamp>(src, dst,
                                                                                           config.scalar_map, n);
    } else {
        return with_modes(config.rounding_mode, config.out_of_range.rule(), [&]<RoundingMode M, OutOfRange O>() {
            return detail::float_to_float_run<S, D, M, O>(src, dst, config.scalar_map, n);
        });
    }
}

}  // namespace pelm_ossrel
