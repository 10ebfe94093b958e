// Neighbours of binary32 and binary16 values, and the move of a nearest-even result by at
// most one step to honour the other rounding modes.
//
// A conversion to a narrower floating type first rounds to nearest, ties to even; when the
// rounding mode is another one, adjust_to_mode compares that result with the source value
// (as binary64) and steps to the neighbour the mode asks for.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "f16.hpp"
#include "modes.hpp"

namespace pelm_ossrel {

namespace detail {

// Bit layout of the two narrow formats, for stepping on the pattern.
template <class U>
struct StepLayout {
    U sign;  // the sign bit
    U inf;   // the pattern of +infinity
};

// The steps are written with masks rather than branches: which way a value moves depends on
// the data, and mispredicted branches would dominate the loops that call these.
template <class U>
constexpr U select(bool condition, U if_true, U if_false) noexcept {
    const U mask = static_cast<U>(U{0} - static_cast<U>(condition));
    return static_cast<U>((if_true & mask) | (if_false & static_cast<U>(~mask)));
}

template <class U>
constexpr U step_up(U bits, StepLayout<U> layout) noexcept {
    const bool negative = (bits & layout.sign) != 0;
    const bool zero = static_cast<U>(bits & static_cast<U>(~layout.sign)) == 0;
    // A positive value moves away from zero, a negative one towards it (-inf gives the
    // lowest finite value, the smallest negative subnormal gives -0).
    const U stepped = static_cast<U>(bits + 1u - 2u * static_cast<U>(negative));
    const U moved = select(zero, U{1}, stepped);  // +0 and -0: the smallest positive subnormal
    return select(bits == layout.inf, bits, moved);
}

template <class U>
constexpr U step_down(U bits, StepLayout<U> layout) noexcept {
    const bool negative = (bits & layout.sign) != 0;
    const bool zero = static_cast<U>(bits & static_cast<U>(~layout.sign)) == 0;
    // A positive value moves towards zero (+inf gives the largest finite value, the smallest
    // positive subnormal gives +0), a negative one away from it (the lowest finite gives -inf).
    const U stepped = static_cast<U>(bits - 1u + 2u * static_cast<U>(negative));
    const U moved = select(zero, static_cast<U>(layout.sign | 1u), stepped);
    return select(bits == static_cast<U>(layout.sign | layout.inf), bits, moved);
}

inline constexpr StepLayout<std::uint32_t> kBinary32Layout{0x80000000u, 0x7F800000u};
inline constexpr StepLayout<std::uint16_t> kBinary16Layout{0x8000u, 0x7C00u};

inline double exact_f64(float x) noexcept { return x; }
inline double exact_f64(f16 x) noexcept { return f16_to_f64(x); }

inline std::uint32_t pattern(float x) noexcept { return std::bit_cast<std::uint32_t>(x); }
inline std::uint16_t pattern(f16 x) noexcept { return x.bits; }
inline float with_pattern(float, std::uint32_t bits) noexcept { return std::bit_cast<float>(bits); }
inline f16 with_pattern(f16, std::uint16_t bits) noexcept { return f16{bits}; }

// r, or (when the condition holds) `moved`, chosen without a branch.
template <class T>
inline T choose(bool condition, T moved, T r) noexcept {
    return with_pattern(r, select(condition, pattern(moved), pattern(r)));
}

}  // namespace detail

// next_up / next_down of a non-NaN value: the adjacent value towards +infinity / -infinity.
inline float next_up(float x) noexcept {
    return std::bit_cast<float>(detail::step_up(std::bit_cast<std::uint32_t>(x), detail::kBinary32Layout));
}
inline float next_down(float x) noexcept {
    return std::bit_cast<float>(
        detail::step_down(std::bit_cast<std::uint32_t>(x), detail::kBinary32Layout));
}
inline constexpr f16 next_up(f16 x) noexcept {
    return f16{detail::step_up(x.bits, detail::kBinary16Layout)};
}
inline constexpr f16 next_down(f16 x) noexcept {
    return f16{detail::step_down(x.bits, detail::kBinary16Layout)};
}

// r: the nearest-even result in the target type T (float or f16); s: the source value as
// binary64; negative: whether the source is below zero. Returns the value to store under M.
// Every comparison is made in binary64, where r and its neighbours are exact.
template <RoundingMode M, class T>
inline T adjust_to_mode(T r, double s, bool negative) noexcept {
    if constexpr (M == RoundingMode::NearestEven) return r;
    // When r equals s none of the conditions below holds and r comes back unchanged.
    using detail::choose;
    const double rd = detail::exact_f64(r);
    if constexpr (M == RoundingMode::TowardsZero) {
        const T towards_zero = choose(negative, next_up(r), next_down(r));
        return choose(std::fabs(rd) > std::fabs(s), towards_zero, r);
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        return choose(s > rd, next_up(r), r);
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return choose(rd > s, next_down(r), r);
    } else {
        // The neighbour towards s replaces r only on an exact tie, and only when it lies
        // farther from zero.
        const T o = choose(s > rd, next_up(r), next_down(r));
        const double od = detail::exact_f64(o);
        const double mid = (rd + od) * 0.5;
        return choose(rd != s && mid == s && std::fabs(od) > std::fabs(rd), o, r);
    }
}

template <class T>
inline T adjust_to_mode(RoundingMode mode, T r, double s, bool negative) noexcept {
    switch (mode) {
        case RoundingMode::NearestEven: return r;
        case RoundingMode::TowardsZero:
            return adjust_to_mode<RoundingMode::TowardsZero>(r, s, negative);
        case RoundingMode::TowardsPositive:
            return adjust_to_mode<RoundingMode::TowardsPositive>(r, s, negative);
        case RoundingMode::TowardsNegative:
            return adjust_to_mode<RoundingMode::TowardsNegative>(r, s, negative);
        case RoundingMode::NearestAway:
            return adjust_to_mode<RoundingMode::NearestAway>(r, s, negative);
    }
    return r;
}

}  // namespace pelm_ossrel
