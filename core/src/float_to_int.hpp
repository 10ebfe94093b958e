// Floating-to-integer slice conversion: float16, float32 or float64 into any of the eight
// integer element types, under a rounding mode, an optional out-of-range mode and a
// scalar map.
//
// Per element: the scalar map first; a NaN fails; the value is rounded to an integral value
// in the source's precision (CastFloat); the rounded value r is compared with the pair's
// limits lo and hi (D's minimum and maximum as the source type rounds them):
//   - no out-of-range mode: outside [lo, hi] is an OutOfRange error reporting r, lo, hi;
//   - clamp: below lo stores D's minimum, otherwise the saturating conversion of min(r, hi);
//   - wrap: an infinite r fails as NonFinite; outside [lo, hi] stores the D value congruent
//     to r modulo 2^w (w = D's width), computed exactly from r's binary expansion.
// Inside [lo, hi] every mode stores the saturating conversion of r, so a limit that rounds
// up (2^63 for int64) stores D's maximum.
//
// Every pair runs the loop in blocks of 16 through the floating-to-integer body of the active
// processor level (simd/bodies.hpp, block_loop.hpp), which blends the scalar map's targets in; a
// block holding an element that fails, or one the level leaves to the element loop, runs the
// element loop itself, so what is stored and reported never differs from the element loop.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "block_loop.hpp"
#include "cast_error.hpp"
#include "config.hpp"
#include "default_float_control.hpp"
#include "element_types.hpp"
#include "fast_paths.hpp"
#include "lift_modes.hpp"
#include "modes.hpp"
#include "rounding.hpp"
#include "scalar_map.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

namespace detail {

// Saturating conversion of a floating value v of F to D: NaN gives 0, at or below
// D's minimum the minimum, at or above D's maximum the maximum, otherwise v truncated.
// D's maximum is not representable in every F, so the upper test uses the exclusive bound
// 2^digits, which always is; between the two bounds the truncating conversion is defined.
// Written as two floating clamps, a truncation that is always in range and one select.
template <class D, class F>
inline D saturating_convert(F v) noexcept {
    constexpr F kMin = static_cast<F>(std::numeric_limits<D>::min());  // 0 or -2^(w-1): exact
    constexpr F kUpper = pow2<F>(std::numeric_limits<D>::digits);
    // The largest F below kUpper: it truncates to at most D's maximum.
    constexpr F kBelowUpper = kUpper - kUpper / pow2<F>(std::numeric_limits<F>::digits);
    if (v != v) return D{0};
    F c = v < kMin ? kMin : v;
    c = c < kBelowUpper ? c : kBelowUpper;
    const D truncated = static_cast<D>(c);
    return v >= kUpper ? std::numeric_limits<D>::max() : truncated;
}

// The low 64 bits of the integer |r|, r finite and integral.
template <class F>
inline std::uint64_t low_bits_of_magnitude(F r) noexcept {
    const F a = std::fabs(r);
    if (a < pow2<F>(64)) return static_cast<std::uint64_t>(a);
    // a = mantissa * 2^exponent with exponent >= 64 - (digits - 1) > 0.
    using Bits = std::conditional_t<std::is_same_v<F, double>, std::uint64_t, std::uint32_t>;
    constexpr int kFraction = std::numeric_limits<F>::digits - 1;
    constexpr int kBias = std::numeric_limits<F>::max_exponent - 1;
    const Bits bits = std::bit_cast<Bits>(a);
    const std::uint64_t mantissa =
        (static_cast<std::uint64_t>(bits) & ((std::uint64_t{1} << kFraction) - 1)) |
        (std::uint64_t{1} << kFraction);
    const int exponent = static_cast<int>(bits >> kFraction) - kBias - kFraction;
    return exponent >= 64 ? 0 : mantissa << exponent;
}

// The D value congruent to the integral, finite r modulo 2^w, w the width of D.
template <class D, class F>
inline D wrap_exact(F r) noexcept {
    using U = std::make_unsigned_t<D>;
    std::uint64_t low = low_bits_of_magnitude(r);
    if (r < F(0)) low = std::uint64_t{0} - low;
    return static_cast<D>(static_cast<U>(low));
}

template <class S, class D, RoundingMode M, OutOfRange O, bool HasMap>
CastResult float_to_int_loop(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map,
                             std::size_t n) noexcept {
    using CF = CastFloat<S>;
    using W = typename CF::Work;
    using L = FloatToIntLimits<S, D>;
    constexpr W lo = L::lo_work;
    constexpr W hi = L::hi_work;

    for (std::size_t i = 0; i < n; ++i) {
        const S x = src[i];
        if (store_mapped<HasMap>(map, x, dst, i)) continue;
        const W v = CF::widen(x);
        if (v != v) return CastError::non_finite(CF::to_f64(x));
        const W r = CF::template round<M>(v);

        if constexpr (O == OutOfRange::Clamp) {
            // Below lo the minimum, otherwise the saturating conversion of min(r, hi): as lo
            // is D's minimum (or -inf) and hi is at least D's maximum, that is the saturating
            // conversion of r itself.
            static_assert(static_cast<long double>(lo) <=
                              static_cast<long double>(std::numeric_limits<D>::min()));
            static_assert(static_cast<long double>(hi) >=
                          static_cast<long double>(std::numeric_limits<D>::max()));
            dst.set(i, saturating_convert<D>(r));
        } else if constexpr (O == OutOfRange::Wrap) {
            if (std::isinf(r)) return CastError::non_finite(static_cast<double>(r));
            dst.set(i, (r < lo || r > hi) ? wrap_exact<D>(r) : saturating_convert<D>(r));
        } else {
            if (r < lo || r > hi) {
                return CastError::out_of_range(static_cast<double>(r), static_cast<double>(lo),
                                               static_cast<double>(hi));
            }
            dst.set(i, saturating_convert<D>(r));
        }
    }
    return std::nullopt;
}

// The loop of one call: in blocks through the active level's body.
template <class S, class D, RoundingMode M, OutOfRange O>
CastResult float_to_int_run(SrcSlice<S> src, DstSlice<D> dst, ScalarMap<S, D> map, std::size_t n) noexcept {
    return run_call(simd::active_bodies().float_to_int, src, dst, map, n, {M, O}, simd::kFloatBlock,
                    []<bool HasMap>(SrcSlice<S> s, DstSlice<D> d, ScalarMap<S, D> m, std::size_t k) noexcept {
                        return float_to_int_loop<S, D, M, O, HasMap>(s, d, m, k);
                    });
}

}  // namespace detail

template <class S, class D>
CastResult convert_slice_float_to_int(SrcSlice<S> src, DstSlice<D> dst,
                                      const CastConfig<S, D>& config) noexcept {
    static_assert(is_float_element_v<S> && is_integer_element_v<D>);
    const DefaultFloatControl control;

    // The vectorised fast paths (float64 and float32 to uint8 under clamp, float64 to int32
    // under clamp or with no out-of-range mode) are offered the whole call first, with both
    // slices at their full lengths; when they decline, the call runs from the first element in
    // blocks through the level's body, as every pair does.
    if (const FastPathResult fast = offer_float_to_int_fast_path(src, dst, config); fast.decided())
        return fast.result();

    const std::size_t n = std::min(src.size(), dst.size());
    if (n == 0) return std::nullopt;

    return with_modes(config.rounding_mode, config.out_of_range.rule(), [&]<RoundingMode M, OutOfRange O>() {
        return detail::float_to_int_run<S, D, M, O>(src, dst, config.scalar_map, n);
    });
}

}  // namespace pelm_ossrel
