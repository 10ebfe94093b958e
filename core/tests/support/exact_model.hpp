// An independent, exact model of the conversions, for differential tests.
//
// Values are decoded from their bit patterns into sign, integer mantissa and power-of-two
// exponent and rounded with integer arithmetic only (128-bit integers, no floating
// operations), so that the model shares no code path with the conversions it checks.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>

#include "cast_error.hpp"
#include "f16.hpp"
#include "modes.hpp"

namespace exact_model {

__extension__ typedef __int128 i128;
__extension__ typedef unsigned __int128 u128;

using pelm_ossrel::f16;
using pelm_ossrel::RoundingMode;

// ---- Exact values ---------------------------------------------------------------------

// (-1)^negative * mantissa * 2^exponent, or an infinity, or a NaN.
struct Exact {
    enum class Kind { Finite, Inf, NaN };
    Kind kind = Kind::Finite;
    bool negative = false;
    u128 mantissa = 0;
    int exponent = 0;

    bool is_zero() const { return kind == Kind::Finite && mantissa == 0; }
};

// Canonical form: odd mantissa (or zero with exponent 0), so equal values compare equal.
inline Exact normalized(Exact x) {
    if (x.kind != Exact::Kind::Finite) return x;
    if (x.mantissa == 0) {
        x.exponent = 0;
        return x;
    }
    const auto low = static_cast<std::uint64_t>(x.mantissa);
    const int zeros = low != 0 ? std::countr_zero(low)
                               : 64 + std::countr_zero(static_cast<std::uint64_t>(x.mantissa >> 64));
    x.mantissa >>= zeros;
    x.exponent += zeros;
    return x;
}

inline bool same(Exact a, Exact b) {
    a = normalized(a);
    b = normalized(b);
    if (a.kind != b.kind) return false;
    if (a.kind == Exact::Kind::NaN) return true;
    if (a.kind == Exact::Kind::Inf) return a.negative == b.negative;
    return a.negative == b.negative && a.mantissa == b.mantissa && a.exponent == b.exponent;
}

// An IEEE binary format: precision p (with the leading bit), exponent of the smallest
// quantum (subnormal step), largest exponent of a finite value.
struct Format {
    int precision;
    int fraction_bits;
    int exponent_bits;
    int min_quantum;
    int max_exponent;
};

inline constexpr Format kBinary16{11, 10, 5, -24, 15};
inline constexpr Format kBinary32{24, 23, 8, -149, 127};
inline constexpr Format kBinary64{53, 52, 11, -1074, 1023};

inline Exact decode_bits(std::uint64_t bits, Format f) {
    Exact x;
    x.negative = ((bits >> (f.fraction_bits + f.exponent_bits)) & 1) != 0;
    const std::uint64_t e = (bits >> f.fraction_bits) & ((std::uint64_t{1} << f.exponent_bits) - 1);
    const std::uint64_t m = bits & ((std::uint64_t{1} << f.fraction_bits) - 1);
    const std::uint64_t e_max = (std::uint64_t{1} << f.exponent_bits) - 1;
    if (e == e_max) {
        x.kind = m == 0 ? Exact::Kind::Inf : Exact::Kind::NaN;
        return x;
    }
    if (e == 0) {
        x.mantissa = m;
        x.exponent = f.min_quantum;
    } else {
        x.mantissa = m | (std::uint64_t{1} << f.fraction_bits);
        x.exponent = static_cast<int>(e) - 1 + f.min_quantum;
    }
    return x;
}

template <class T>
constexpr Format format_of() {
    if constexpr (std::is_same_v<T, f16>) return kBinary16;
    else if constexpr (std::is_same_v<T, float>) return kBinary32;
    else return kBinary64;
}

template <class T>
std::uint64_t bits_of(T v) {
    if constexpr (std::is_same_v<T, f16>) return v.bits;
    else if constexpr (std::is_same_v<T, float>) return std::bit_cast<std::uint32_t>(v);
    else return std::bit_cast<std::uint64_t>(v);
}

template <class T>
Exact decode(T v) {
    return decode_bits(bits_of(v), format_of<T>());
}

inline Exact from_integer(i128 v) {
    Exact x;
    x.negative = v < 0;
    x.mantissa = v < 0 ? static_cast<u128>(0) - static_cast<u128>(v) : static_cast<u128>(v);
    return x;
}

inline int bit_width(u128 v) {
    const auto high = static_cast<std::uint64_t>(v >> 64);
    return high != 0 ? 64 + std::bit_width(high) : std::bit_width(static_cast<std::uint64_t>(v));
}

// ---- Rounding --------------------------------------------------------------------------

enum class Remainder { Exact, Below, Tie, Above };

struct Quotient {
    u128 value;
    Remainder remainder;
};

// |x| / 2^q split into its integer part and the class of what is left.
inline Quotient divide_by_power(u128 mantissa, int exponent, int q) {
    const int shift = q - exponent;
    if (shift <= 0) return {mantissa << (-shift), Remainder::Exact};
    if (shift > 126) return {0, mantissa == 0 ? Remainder::Exact : Remainder::Below};
    const u128 quotient = mantissa >> shift;
    const u128 rest = mantissa & ((static_cast<u128>(1) << shift) - 1);
    const u128 half = static_cast<u128>(1) << (shift - 1);
    const Remainder r = rest == 0 ? Remainder::Exact
                        : rest < half ? Remainder::Below
                        : rest == half ? Remainder::Tie
                                       : Remainder::Above;
    return {quotient, r};
}

// Whether the magnitude is rounded up, for a value with this remainder, sign and quotient.
inline bool rounds_up(Remainder r, bool negative, u128 quotient, RoundingMode mode) {
    if (r == Remainder::Exact) return false;
    switch (mode) {
        case RoundingMode::NearestEven:
            return r == Remainder::Above || (r == Remainder::Tie && (quotient & 1) != 0);
        case RoundingMode::NearestAway: return r != Remainder::Below;
        case RoundingMode::TowardsZero: return false;
        case RoundingMode::TowardsPositive: return !negative;
        case RoundingMode::TowardsNegative: return negative;
    }
    return false;
}

// x rounded to a multiple of 2^q under the mode.
inline Exact round_to_quantum(Exact x, int q, RoundingMode mode, Remainder* remainder = nullptr) {
    const Quotient d = divide_by_power(x.mantissa, x.exponent, q);
    if (remainder != nullptr) *remainder = d.remainder;
    Exact r = x;
    r.mantissa = d.value + (rounds_up(d.remainder, x.negative, d.value, mode) ? 1 : 0);
    r.exponent = q;
    return r;
}

// IEEE rounding of a finite x into the format under the mode (overflow included).
inline Exact round_to_format(Exact x, Format f, RoundingMode mode, Remainder* remainder = nullptr) {
    if (x.kind != Exact::Kind::Finite) return x;
    if (x.mantissa == 0) {
        if (remainder != nullptr) *remainder = Remainder::Exact;
        return normalized(x);
    }
    const int msb = bit_width(x.mantissa) - 1 + x.exponent;
    const int q = msb - (f.precision - 1) > f.min_quantum ? msb - (f.precision - 1) : f.min_quantum;
    Exact r = round_to_quantum(x, q, mode, remainder);
    if (r.mantissa != 0 && bit_width(r.mantissa) - 1 + r.exponent > f.max_exponent) {
        const bool away = mode == RoundingMode::NearestEven || mode == RoundingMode::NearestAway ||
                          (mode == RoundingMode::TowardsPositive && !x.negative) ||
                          (mode == RoundingMode::TowardsNegative && x.negative);
        if (away) {
            r.kind = Exact::Kind::Inf;
        } else {
            r.mantissa = (static_cast<u128>(1) << f.precision) - 1;
            r.exponent = f.max_exponent - (f.precision - 1);
        }
    }
    return normalized(r);
}

// An exact value as a binary64 number (the value must be one).
inline double to_double(Exact x) {
    if (x.kind == Exact::Kind::NaN) return std::numeric_limits<double>::quiet_NaN();
    if (x.kind == Exact::Kind::Inf)
        return x.negative ? -std::numeric_limits<double>::infinity()
                          : std::numeric_limits<double>::infinity();
    x = normalized(x);
    // Build the pattern from the odd mantissa and exponent.
    if (x.mantissa == 0) return x.negative ? -0.0 : 0.0;
    const int msb = bit_width(x.mantissa) - 1;
    const int e = msb + x.exponent;  // value in [2^e, 2^(e+1))
    std::uint64_t bits = 0;
    if (e >= -1022) {
        const u128 m = x.mantissa << (52 - msb);  // msb <= 52 for a binary64 value
        bits = (static_cast<std::uint64_t>(e + 1023) << 52) |
               (static_cast<std::uint64_t>(m) & ((std::uint64_t{1} << 52) - 1));
    } else {
        bits = static_cast<std::uint64_t>(x.mantissa << (x.exponent + 1074));
    }
    if (x.negative) bits |= std::uint64_t{1} << 63;
    return std::bit_cast<double>(bits);
}

// ---- Integer values with infinities ---------------------------------------------------

// An integral value or an infinity; `huge` marks |value| >= 2^120 (then low64 holds its
// residue modulo 2^64, and value_f64 its binary64 value).
struct Integral {
    bool inf = false;
    bool negative = false;
    bool huge = false;
    i128 value = 0;  // when !inf && !huge
    std::uint64_t huge_low64 = 0;
    double huge_f64 = 0;
};

inline Integral integral_of(Exact x) {
    Integral r;
    r.negative = x.negative;
    if (x.kind == Exact::Kind::Inf) {
        r.inf = true;
        return r;
    }
    x = normalized(x);
    if (x.mantissa != 0 && bit_width(x.mantissa) + x.exponent > 120) {
        r.huge = true;
        r.huge_low64 = x.exponent >= 64 ? 0 : static_cast<std::uint64_t>(x.mantissa << x.exponent);
        if (x.negative) r.huge_low64 = 0 - r.huge_low64;
        r.huge_f64 = to_double(x);
        return r;
    }
    const i128 mag = static_cast<i128>(x.mantissa << x.exponent);
    r.value = x.negative ? -mag : mag;
    return r;
}

// -1, 0, 1 for a < b, a == b, a > b.
inline int compare(const Integral& a, const Integral& b) {
    auto rank = [](const Integral& v) { return v.inf || v.huge ? (v.negative ? -1 : 1) : 0; };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra != 0) {
        if (a.inf && b.inf) return 0;
        if (a.inf) return ra;
        if (b.inf) return -ra;
        return a.huge_f64 < b.huge_f64 ? -1 : a.huge_f64 > b.huge_f64 ? 1 : 0;
    }
    return a.value < b.value ? -1 : a.value > b.value ? 1 : 0;
}

inline double integral_to_double(const Integral& v) {
    if (v.inf)
        return v.negative ? -std::numeric_limits<double>::infinity()
                          : std::numeric_limits<double>::infinity();
    if (v.huge) return v.huge_f64;
    return to_double(from_integer(v.value));
}

// ---- Floating to integer ----------------------------------------------------------------

// Working precision of a floating source: binary64, binary32, and binary32 for float16.
template <class S>
constexpr Format working_format() {
    return std::is_same_v<S, double> ? kBinary64 : kBinary32;
}

// D's minimum and maximum as the source type rounds them.
template <class S, class D>
Integral model_limit(bool upper) {
    const i128 v = upper ? static_cast<i128>(std::numeric_limits<D>::max())
                         : static_cast<i128>(std::numeric_limits<D>::min());
    Exact x = from_integer(v);
    if constexpr (std::is_same_v<S, f16>) {
        x = round_to_format(round_to_format(x, kBinary32, RoundingMode::NearestEven), kBinary16,
                            RoundingMode::NearestEven);
    } else {
        x = round_to_format(x, format_of<S>(), RoundingMode::NearestEven);
    }
    return integral_of(x);
}

// The integral value that the rounding mode chooses, in the working precision.
template <class S>
Exact model_round_integral(Exact x, RoundingMode mode) {
    if (x.kind != Exact::Kind::Finite) return x;
    if (mode != RoundingMode::NearestAway) return round_to_quantum(x, x.exponent < 0 ? 0 : x.exponent, mode);
    // |x| + 1/2 rounded to the working precision, then its floor, with x's sign.
    Exact s = x;
    s.negative = false;
    if (x.exponent >= 0 && bit_width(x.mantissa) + x.exponent > 70) {
        // |x| >= 2^69: the half is far below the precision.
    } else if (x.exponent < -121) {
        s.mantissa = 1;  // tiny: the sum rounds to 1/2 in every working precision
        s.exponent = -1;
    } else {
        const int e = x.exponent < -1 ? x.exponent : -1;
        s.mantissa = (x.mantissa << (x.exponent - e)) + (static_cast<u128>(1) << (-1 - e));
        s.exponent = e;
        s = round_to_format(s, working_format<S>(), RoundingMode::NearestEven);
    }
    Exact r = round_to_quantum(s, s.exponent < 0 ? 0 : s.exponent, RoundingMode::TowardsZero);
    r.negative = x.negative;
    return r;
}

struct IntOutcome {
    std::optional<pelm_ossrel::CastError> error;
    std::uint64_t stored = 0;  // the D value, as its two's-complement pattern in 64 bits
};

template <class D>
std::uint64_t saturate_model(const Integral& v) {
    const i128 lo = static_cast<i128>(std::numeric_limits<D>::min());
    const i128 hi = static_cast<i128>(std::numeric_limits<D>::max());
    i128 r = 0;
    if (v.inf || v.huge) r = v.negative ? lo : hi;
    else r = v.value < lo ? lo : v.value > hi ? hi : v.value;
    return static_cast<std::uint64_t>(static_cast<u128>(r));
}

template <class D>
std::uint64_t pattern_of(D v) {
    return static_cast<std::uint64_t>(static_cast<u128>(static_cast<i128>(v)));
}

template <class S, class D>
IntOutcome model_float_to_int(S source, RoundingMode mode, pelm_ossrel::OptionalOutOfRangeMode oor) {
    using pelm_ossrel::CastError;
    using pelm_ossrel::OutOfRangeMode;
    IntOutcome out;
    const Exact x = decode(source);
    if (x.kind == Exact::Kind::NaN) {
        out.error = CastError::non_finite(std::numeric_limits<double>::quiet_NaN());
        return out;
    }
    const Integral r = integral_of(model_round_integral<S>(x, mode));
    static const Integral lo = model_limit<S, D>(false);
    static const Integral hi = model_limit<S, D>(true);
    const bool outside = compare(r, lo) < 0 || compare(r, hi) > 0;
    constexpr int width = std::numeric_limits<D>::digits + (std::is_signed_v<D> ? 1 : 0);
    if (!oor.has_value()) {
        if (outside) {
            out.error = CastError::out_of_range(integral_to_double(r), integral_to_double(lo),
                                                integral_to_double(hi));
        } else {
            out.stored = saturate_model<D>(r);
        }
    } else if (*oor == OutOfRangeMode::Clamp) {
        out.stored = compare(r, lo) < 0 ? pattern_of(std::numeric_limits<D>::min())
                                        : saturate_model<D>(compare(r, hi) > 0 ? hi : r);
    } else {
        if (r.inf) {
            out.error = CastError::non_finite(integral_to_double(r));
        } else if (outside) {
            const std::uint64_t low = r.huge ? r.huge_low64
                                             : static_cast<std::uint64_t>(static_cast<u128>(r.value));
            const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
            std::uint64_t v = low & mask;
            if (std::is_signed_v<D> && width < 64 && (v >> (width - 1)) != 0) v |= ~mask;  // sign-extend
            out.stored = v;
        } else {
            out.stored = saturate_model<D>(r);
        }
    }
    return out;
}

// ---- Integer to floating ----------------------------------------------------------------

// Nearest-even from the exact integer; any other mode is the IEEE rounding, in that mode,
// of the integer's binary64 value.
template <class D>
Exact model_int_to_float(i128 v, RoundingMode mode) {
    const Exact x = from_integer(v);
    if (mode == RoundingMode::NearestEven) return round_to_format(x, format_of<D>(), mode);
    const Exact s = round_to_format(x, kBinary64, RoundingMode::NearestEven);
    return round_to_format(s, format_of<D>(), mode);
}

// ---- Floating to floating ---------------------------------------------------------------

// The bits of a NaN after a change of width: sign kept, the fraction's top bits kept, the
// quiet bit set; float16 to float16 keeps the pattern.
template <class S, class D>
std::uint64_t model_nan_bits(S source) {
    constexpr Format fs = format_of<S>();
    constexpr Format fd = format_of<D>();
    const std::uint64_t b = bits_of(source);
    if constexpr (std::is_same_v<S, D>) return b;
    const std::uint64_t sign = (b >> (fs.fraction_bits + fs.exponent_bits)) & 1;
    const std::uint64_t fraction = b & ((std::uint64_t{1} << fs.fraction_bits) - 1);
    std::uint64_t fd_fraction = fd.fraction_bits >= fs.fraction_bits
                                    ? fraction << (fd.fraction_bits - fs.fraction_bits)
                                    : fraction >> (fs.fraction_bits - fd.fraction_bits);
    fd_fraction |= std::uint64_t{1} << (fd.fraction_bits - 1);
    const std::uint64_t exponent_all = ((std::uint64_t{1} << fd.exponent_bits) - 1) << fd.fraction_bits;
    return (sign << (fd.fraction_bits + fd.exponent_bits)) | exponent_all | fd_fraction;
}

struct FloatOutcome {
    std::optional<pelm_ossrel::CastError> error;
    Exact value;              // when not a NaN
    std::uint64_t nan_bits = 0;  // when value is a NaN
};

template <class S, class D>
FloatOutcome model_float_to_float(S source, RoundingMode mode, bool clamp) {
    FloatOutcome out;
    const Exact x = decode(source);
    if (x.kind == Exact::Kind::NaN) {
        out.value = x;
        out.nan_bits = model_nan_bits<S, D>(source);
        return out;
    }
    constexpr Format fd = format_of<D>();
    Exact r;
    if (x.kind == Exact::Kind::Inf || format_of<S>().precision <= fd.precision) {
        r = x;
    } else if (std::is_same_v<S, double> && std::is_same_v<D, f16> &&
               (mode == RoundingMode::NearestEven || mode == RoundingMode::NearestAway)) {
        // Two roundings to nearest; nearest-away moves away only on an exact tie of x itself.
        Remainder rem{};
        const Exact direct = round_to_format(x, fd, mode, &rem);
        if (mode == RoundingMode::NearestAway && rem == Remainder::Tie) r = direct;
        else r = round_to_format(round_to_format(x, kBinary32, RoundingMode::NearestEven), fd,
                                 RoundingMode::NearestEven);
    } else {
        r = round_to_format(x, fd, mode);
    }
    out.value = r;
    if (!clamp && x.kind == Exact::Kind::Finite && r.kind == Exact::Kind::Inf) {
        const double max = std::is_same_v<D, f16> ? 65504.0 : 3.4028234663852886e38;
        out.error = pelm_ossrel::CastError::out_of_range(to_double(x), -max, max);
    }
    return out;
}

}  // namespace exact_model
