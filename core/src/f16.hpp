// IEEE 754 binary16, carried as its bit pattern, and its operations.
//
// Nothing is computed in binary16 arithmetic: values widen exactly to binary32 or binary64 and
// come back through the one rounding conversion from binary32 (nearest, ties to even). Every
// result is fixed to the bit, NaNs included. The software forms below are the definition; where
// the processor has F16C the dispatching forms use it, and it gives the same bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cpu_features.hpp"
#include "f16c/f16c.hpp"

namespace pelm_ossrel {

struct f16 {
    std::uint16_t bits;

    static constexpr f16 from_bits(std::uint16_t b) noexcept { return f16{b}; }
    constexpr bool is_nan() const noexcept { return (bits & 0x7FFFu) > 0x7C00u; }
};

static_assert(sizeof(f16) == 2);

// Software conversions: straight-line bit manipulation.

// binary32 -> binary16, to nearest with ties to even; overflow gives an infinity, a NaN keeps its
// sign and top ten fraction bits and comes out quiet.
constexpr f16 f32_to_f16_soft(float x) noexcept {
    const std::uint32_t u = std::bit_cast<std::uint32_t>(x);
    const std::uint32_t sign = (u >> 16) & 0x8000u;
    const std::uint32_t e = (u >> 23) & 0xFFu;
    const std::uint32_t m = u & 0x7FFFFFu;
    std::uint32_t h;
    if (e >= 113u) {
        if (e <= 142u) {
            // Normal range. Bit 12 is the first discarded bit; the increment fires when it is set
            // and either a lower (sticky) bit or the lowest kept bit (13) is set. It may carry
            // into the exponent, up to the infinity pattern.
            h = ((e - 112u) << 10) | (m >> 13);
            h += ((m >> 12) & 1u) & static_cast<std::uint32_t>((m & 0x2FFFu) != 0);
        } else if (e == 255u) {
            h = 0x7C00u | (m >> 13) | (m != 0 ? 0x0200u : 0u);
        } else {
            h = 0x7C00u;  // 65536 and beyond
        }
    } else if (e >= 102u) {
        // Subnormal range: shift the full significand right by k = 14..24, then round likewise.
        const std::uint32_t sig = m | 0x800000u;
        const std::uint32_t k = 126u - e;
        h = sig >> k;
        h += ((sig >> (k - 1u)) & 1u) &
             static_cast<std::uint32_t>((sig & ((3u << (k - 1u)) - 1u)) != 0);
    } else {
        h = 0;  // below 2^-25: a zero of the same sign
    }
    return f16{static_cast<std::uint16_t>(sign | h)};
}

// binary16 -> binary32, exact; a NaN comes out quiet with its payload at the top of the fraction.
constexpr float f16_to_f32_soft(f16 x) noexcept {
    const std::uint32_t sign = std::uint32_t{x.bits & 0x8000u} << 16;
    const std::uint32_t e = (x.bits >> 10) & 0x1Fu;
    const std::uint32_t f = x.bits & 0x3FFu;
    std::uint32_t u;
    if (e - 1u < 30u) {
        u = sign | ((e + 112u) << 23) | (f << 13);
    } else if (e == 31u) {
        u = f == 0 ? sign | 0x7F800000u : sign | 0x7FC00000u | (f << 13);
    } else if (f == 0) {
        u = sign;
    } else {
        const auto p = static_cast<std::uint32_t>(31 - std::countl_zero(f));  // 0..9
        u = sign | ((103u + p) << 23) | ((f << (23u - p)) & 0x7FFFFFu);
    }
    return std::bit_cast<float>(u);
}

// binary16 -> binary64, exact; equal to f16_to_f32_soft followed by the widening.
constexpr double f16_to_f64_soft(f16 x) noexcept {
    const std::uint64_t sign = std::uint64_t{x.bits & 0x8000u} << 48;
    const std::uint64_t e = (x.bits >> 10) & 0x1Fu;
    const std::uint64_t f = x.bits & 0x3FFu;
    std::uint64_t u;
    if (e - 1u < 30u) {
        u = sign | ((e + 1008u) << 52) | (f << 42);
    } else if (e == 31u) {
        u = f == 0 ? sign | 0x7FF0000000000000u : sign | 0x7FF8000000000000u | (f << 42);
    } else if (f == 0) {
        u = sign;
    } else {
        const auto p = static_cast<std::uint64_t>(63 - std::countl_zero(f));  // 0..9
        u = sign | ((999u + p) << 52) | ((f << (52u - p)) & 0xFFFFFFFFFFFFFu);
    }
    return std::bit_cast<double>(u);
}

// Whether the conversions below take the F16C path: one load and one bit test once probed.
inline bool f16_uses_f16c() noexcept { return (cpu_feature_word() & kCpuF16C) != 0; }

// Dispatching conversions: F16C when present, else software; the same bits either way.

inline f16 f32_to_f16(float x) noexcept {
    if (f16_uses_f16c()) return f32_to_f16_x86_f16c(x);
    return f32_to_f16_soft(x);
}

inline float f16_to_f32(f16 x) noexcept {
    if (f16_uses_f16c()) return f16_to_f32_x86_f16c(x);
    return f16_to_f32_soft(x);
}

inline double f16_to_f64(f16 x) noexcept {
    if (f16_uses_f16c()) return static_cast<double>(f16_to_f32_x86_f16c(x));
    return f16_to_f64_soft(x);
}

// n binary16 patterns, read from unaligned bytes, to binary32.
inline void f16_run_to_f32(const unsigned char* in, float* out, std::size_t n) noexcept {
    if (f16_uses_f16c()) {
        f16_to_f32_x86_f16c_n(in, reinterpret_cast<unsigned char*>(out), n);
        return;
    }
    for (std::size_t j = 0; j < n; ++j) {
        f16 h;
        std::memcpy(&h, in + j * sizeof(f16), sizeof h);
        out[j] = f16_to_f32_soft(h);
    }
}

// binary64 -> binary16 in two roundings: to binary32 (nearest, ties to even), then f32_to_f16.
// A NaN is built from its bits rather than left to the binary32 conversion, so that the result
// never depends on how a compiler folds a signalling NaN: sign, quiet bit, top nine payload bits.
inline f16 f64_to_f16(double x) noexcept {
    if (x != x) {
        const std::uint64_t u = std::bit_cast<std::uint64_t>(x);
        const auto sign = static_cast<std::uint16_t>((u >> 48) & 0x8000u);
        const auto payload = static_cast<std::uint16_t>((u >> 42) & 0x3FFu);
        return f16{static_cast<std::uint16_t>(sign | 0x7E00u | payload)};
    }
    // IEEE conversion: a finite value beyond the binary32 range becomes an infinity.
    return f32_to_f16(static_cast<float>(x));
}

// Sum and difference, computed in binary32 and rounded once to binary16.
f16 add(f16 a, f16 b) noexcept;
f16 sub(f16 a, f16 b) noexcept;

// Absolute value: the sign cleared through binary32, so a signalling NaN comes back quiet.
inline f16 abs(f16 a) noexcept {
    const std::uint32_t u = std::bit_cast<std::uint32_t>(f16_to_f32(a)) & 0x7FFFFFFFu;
    return f32_to_f16(std::bit_cast<float>(u));
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
