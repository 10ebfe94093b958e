// Rounding of floating values to integral values, the Euclidean remainder, and the
// per-pair limits that a floating-to-integer conversion compares against.
//
// Every operation works in the source's own precision: binary64 for double, binary32 for
// float, and binary32 for f16 (a binary16 value is widened exactly, rounded in binary32 and
// the integral result, always representable, narrowed back).
//
// The rounding helpers are straight-line arithmetic that relies only on the default
// floating-point environment (round to nearest, no flush to zero); they never call into
// the C library and never depend on the current rounding direction beyond that default.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "f16.hpp"
#include "modes.hpp"

namespace pelm_ossrel {

namespace detail {

// 2^n as a floating value of type F (exact for every n used here).
template <class F>
constexpr F pow2(int n) noexcept {
    F v = F(1);
    for (int i = 0; i < n; ++i) v *= F(2);
    return v;
}

// The smallest power of two from which every F is an integer: 2^52 (double), 2^23 (float).
template <class F>
inline constexpr F kIntegralFrom = pow2<F>(std::numeric_limits<F>::digits - 1);

// Truncation of a value below kIntegralFrom in magnitude: the integer conversion is exact
// and in range there.
template <class F>
inline F truncate_small(F a) noexcept {
    return static_cast<F>(static_cast<std::int64_t>(a));
}

template <class F>
inline F round_nearest_even(F x) noexcept {
    const F a = std::fabs(x);
    if (!(a < kIntegralFrom<F>)) return x;  // already integral, infinite or NaN
    // a + 2^(p-1) is rounded to an integer, ties to even, by the addition itself.
    const F y = (a + kIntegralFrom<F>) - kIntegralFrom<F>;
    return std::copysign(y, x);
}

template <class F>
inline F round_towards_zero(F x) noexcept {
    const F a = std::fabs(x);
    if (!(a < kIntegralFrom<F>)) return x;
    return std::copysign(truncate_small(a), x);
}

template <class F>
inline F round_towards_negative(F x) noexcept {
    F t = round_towards_zero(x);
    if (t > x) t -= F(1);
    return t;
}

template <class F>
inline F round_towards_positive(F x) noexcept {
    F t = round_towards_zero(x);
    if (t < x) t += F(1);  // -0.5 keeps -0
    return t;
}

// The magnitude plus one half, rounded to F, then its floor, with the sign of x. The sum is
// rounded first, so the largest value below one half gives 1 and, between 2^(p-1) and 2^p,
// every odd integer gives the next integer away from zero.
template <class F>
inline F round_nearest_away(F x) noexcept {
    const F s = std::fabs(x) + F(0.5);
    const F f = s < kIntegralFrom<F> ? truncate_small(s) : s;
    return std::copysign(f, x);
}

template <RoundingMode M, class F>
inline F round_integral(F x) noexcept {
    if constexpr (M == RoundingMode::NearestEven) return round_nearest_even(x);
    else if constexpr (M == RoundingMode::TowardsZero) return round_towards_zero(x);
    else if constexpr (M == RoundingMode::TowardsPositive) return round_towards_positive(x);
    else if constexpr (M == RoundingMode::TowardsNegative) return round_towards_negative(x);
    else return round_nearest_away(x);
}

template <class F>
inline F round_integral_with(F x, RoundingMode mode) noexcept {
    switch (mode) {
        case RoundingMode::NearestEven: return round_integral<RoundingMode::NearestEven>(x);
        case RoundingMode::TowardsZero: return round_integral<RoundingMode::TowardsZero>(x);
        case RoundingMode::TowardsPositive: return round_integral<RoundingMode::TowardsPositive>(x);
        case RoundingMode::TowardsNegative: return round_integral<RoundingMode::TowardsNegative>(x);
        case RoundingMode::NearestAway: return round_integral<RoundingMode::NearestAway>(x);
    }
    return round_integral<RoundingMode::NearestEven>(x);
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
struct CastFloat;

template <>
struct CastFloat<double> {
    using Work = double;

    static Work widen(double x) noexcept { return x; }
    static double to_f64(double x) noexcept { return x; }

    template <RoundingMode M>
    static Work round(Work x) noexcept { return detail::round_integral<M>(x); }

    // Infinities come back unchanged; never called with a NaN.
    static double round_with_mode(double x, RoundingMode mode) noexcept {
        return detail::round_integral_with(x, mode);
    }
    static double rem_euclid(double x, double rhs) noexcept { return detail::rem_euclid(x, rhs); }
};

template <>
struct CastFloat<float> {
    using Work = float;

    static Work widen(float x) noexcept { return x; }
    static double to_f64(float x) noexcept { return x; }

    template <RoundingMode M>
    static Work round(Work x) noexcept { return detail::round_integral<M>(x); }

    static float round_with_mode(float x, RoundingMode mode) noexcept {
        return detail::round_integral_with(x, mode);
    }
    static float rem_euclid(float x, float rhs) noexcept { return detail::rem_euclid(x, rhs); }
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

    static f16 round_with_mode(f16 x, RoundingMode mode) noexcept {
        return float16_impls::round_with_mode(x, mode);
    }
    static f16 rem_euclid(f16 x, f16 rhs) noexcept { return float16_impls::rem_euclid(x, rhs); }
};

// ---- Per-pair limits ----------------------------------------------------------------

// lo and hi: D's minimum and maximum rounded to S (ties to even; for f16 through binary32,
// so a limit of 65520 or more is an infinity). m = (hi - lo) + 1 computed in S. The
// `_work` forms are the same values in CastFloat<S>::Work.
template <class S, class D>
struct FloatToIntLimits {
    static_assert(std::is_integral_v<D>);
    using Work = typename CastFloat<S>::Work;

    static constexpr S lo = static_cast<S>(std::numeric_limits<D>::min());
    static constexpr S hi = static_cast<S>(std::numeric_limits<D>::max());
    static constexpr S m = (hi - lo) + S(1);
    static constexpr Work lo_work = lo;
    static constexpr Work hi_work = hi;
};

template <class D>
struct FloatToIntLimits<f16, D> {
    static_assert(std::is_integral_v<D>);
    using Work = float;

    static constexpr f16 lo = f32_to_f16_soft(static_cast<float>(std::numeric_limits<D>::min()));
    static constexpr f16 hi = f32_to_f16_soft(static_cast<float>(std::numeric_limits<D>::max()));
    // sub and add as the binary16 operations compute them: in binary32, rounded to binary16.
    static constexpr f16 m = f32_to_f16_soft(
        f16_to_f32_soft(f32_to_f16_soft(f16_to_f32_soft(hi) - f16_to_f32_soft(lo))) + 1.0f);
    static constexpr Work lo_work = f16_to_f32_soft(lo);
    static constexpr Work hi_work = f16_to_f32_soft(hi);
};

}  // namespace pelm_ossrel
