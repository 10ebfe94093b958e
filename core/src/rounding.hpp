// Rounding of floating values to integral values (shared/rounding.inc), the Euclidean
// remainder, and the per-pair limits that a floating-to-integer conversion compares against.
//
// Every operation works in the source's own precision: binary64 for double, binary32 for
// float, and binary32 for f16 (a binary16 value is widened exactly, rounded in binary32 and
// the integral result, always representable, narrowed back).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "f16.hpp"
#include "lift_modes.hpp"
#include "modes.hpp"

namespace pelm_ossrel {

namespace detail {

#include "shared/rounding.inc"

template <class F>
inline F round_integral_with(F x, RoundingMode mode) noexcept {
    return with_rounding(mode, [&]<RoundingMode M>() { return round_integral<M>(x); });
}

// fmod remainder, plus the magnitude of rhs when negative, rounded to F.
template <class F>
inline F rem_euclid(F x, F rhs) noexcept {
    const F t = std::fmod(x, rhs);
    return t < F(0) ? t + std::fabs(rhs) : t;
}

}  // namespace detail

// ---- The trait ------------------------------------------------------------------------

// CastFloat<S>: rounding to an integral value under a RoundingMode, and the Euclidean
// remainder, for the three floating element types. `Work` is the type the element loops
// compute in; `widen` takes a source value into it exactly.
template <class S>
struct CastFloat {
    static_assert(std::is_same_v<S, float> || std::is_same_v<S, double>);
    using Work = S;

    static Work widen(S x) noexcept { return x; }
    static double to_f64(S x) noexcept { return x; }

    template <RoundingMode M>
    static Work round(Work x) noexcept { return detail::round_integral<M>(x); }

    // Infinities come back unchanged; never called with a NaN.
    static S round_with_mode(S x, RoundingMode mode) noexcept { return detail::round_integral_with(x, mode); }
    static S rem_euclid(S x, S rhs) noexcept { return detail::rem_euclid(x, rhs); }
};

// The binary16 forms: operands widened exactly to binary32, computed there, narrowed back.
namespace float16_impls {

inline f16 round_with_mode(f16 x, RoundingMode mode) noexcept {
    return f32_to_f16(detail::round_integral_with(f16_to_f32(x), mode));
}

inline f16 rem_euclid(f16 x, f16 rhs) noexcept {
    return f32_to_f16(detail::rem_euclid(f16_to_f32(x), f16_to_f32(rhs)));
}

}  // namespace float16_impls

template <>
struct CastFloat<f16> {
    // The loops keep a binary16 value as its exact binary32 widening: rounding it to an
    // integral value gives a value that binary16 holds, so nothing is narrowed back.
    using Work = float;

    static Work widen(f16 x) noexcept { return f16_to_f32(x); }
    static double to_f64(f16 x) noexcept { return f16_to_f64(x); }

    template <RoundingMode M>
    static Work round(Work x) noexcept { return detail::round_integral<M>(x); }

    static f16 round_with_mode(f16 x, RoundingMode mode) noexcept { return float16_impls::round_with_mode(x, mode); }
    static f16 rem_euclid(f16 x, f16 rhs) noexcept { return float16_impls::rem_euclid(x, rhs); }
};

// ---- Per-pair limits ----------------------------------------------------------------

// lo and hi: D's minimum and maximum rounded to S (ties to even; for f16 through binary32,
// so a limit of 65520 or more is an infinity). The `_work` forms are the same values in
// CastFloat<S>::Work.
template <class S, class D>
struct FloatToIntLimits {
    static_assert(std::is_integral_v<D>);
    using Work = typename CastFloat<S>::Work;

    static constexpr S lo = static_cast<S>(std::numeric_limits<D>::min());
    static constexpr S hi = static_cast<S>(std::numeric_limits<D>::max());
    static constexpr Work lo_work = lo;
    static constexpr Work hi_work = hi;
};

template <class D>
struct FloatToIntLimits<f16, D> {
    static_assert(std::is_integral_v<D>);
    using Work = float;

    static constexpr f16 lo = f32_to_f16_soft(static_cast<float>(std::numeric_limits<D>::min()));
    static constexpr f16 hi = f32_to_f16_soft(static_cast<float>(std::numeric_limits<D>::max()));
    static constexpr Work lo_work = f16_to_f32_soft(lo);
    static constexpr Work hi_work = f16_to_f32_soft(hi);
};

}  // namespace pelm_ossrel
