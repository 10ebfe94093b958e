// IEEE 754 binary16 (f16_type.hpp) and its operations.
//
// Nothing is computed in binary16 arithmetic: values widen exactly to binary32 or binary64 and
// come back through the one rounding conversion from binary32 (nearest, ties to even). Every
// result is fixed to the bit, NaNs included. The conversions of single values are the software
// forms of shared/binary16.inc; runs of values are converted by the vector bodies of the
// processor level (simd/), with the F16C instructions where the level has them, to the same bits.
#pragma once

#include <cstdint>

#include "f16_type.hpp"

namespace pelm_ossrel {

#include "shared/binary16.inc"

inline f16 f32_to_f16(float x) noexcept { return f32_to_f16_soft(x); }
inline float f16_to_f32(f16 x) noexcept { return f16_to_f32_soft(x); }
inline double f16_to_f64(f16 x) noexcept { return f16_to_f64_soft(x); }
inline f16 f64_to_f16(double x) noexcept { return f64_to_f16_soft(x); }

// Sum and difference, computed in binary32 and rounded once to binary16.
f16 add(f16 a, f16 b) noexcept;
f16 sub(f16 a, f16 b) noexcept;

// Absolute value: the sign cleared through binary32, so a signalling NaN comes back quiet.
inline f16 abs(f16 a) noexcept {
    const std::uint32_t u = __builtin_bit_cast(std::uint32_t, f16_to_f32(a)) & 0x7FFFFFFFu;
    return f32_to_f16(__builtin_bit_cast(float, u));
}

// IEEE comparisons on the patterns: a NaN is unordered with everything, +0 equals -0.

constexpr bool operator==(f16 a, f16 b) noexcept {
    return !a.is_nan() && !b.is_nan() && (a.bits == b.bits || ((a.bits | b.bits) & 0x7FFFu) == 0);
}

constexpr bool operator!=(f16 a, f16 b) noexcept { return !(a == b); }

constexpr bool operator<(f16 a, f16 b) noexcept {
    if (a.is_nan() || b.is_nan()) return false;
    const bool a_neg = (a.bits & 0x8000u) != 0;
    const bool b_neg = (b.bits & 0x8000u) != 0;
    if (a_neg != b_neg) return a_neg && ((a.bits | b.bits) & 0x7FFFu) != 0;
    return a_neg ? a.bits > b.bits : a.bits < b.bits;
}

constexpr bool operator>(f16 a, f16 b) noexcept { return b < a; }

constexpr bool operator<=(f16 a, f16 b) noexcept { return a < b || a == b; }

constexpr bool operator>=(f16 a, f16 b) noexcept { return b < a || a == b; }

}  // namespace pelm_ossrel
