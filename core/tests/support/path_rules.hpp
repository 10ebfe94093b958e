// The rules of each conversion path, written from the exact model (exact_model.hpp) without any
// code of the core: what the element loop stores and reports, what the fast-path bodies do with
// their blocks, and what the direct pairs store with a scalar map. The fuzz target measures every
// path against them.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "cast_error.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "support/exact_model.hpp"

namespace pelm_ossrel::testing_support {

using exact_model::Exact;
using exact_model::Format;
using exact_model::i128;
using exact_model::u128;

template <class T>
inline constexpr bool is_f16_v = std::is_same_v<T, f16>;

template <class T>
std::uint64_t pattern(T v) {
    if constexpr (std::is_same_v<T, f16>) return v.bits;
    else if constexpr (std::is_same_v<T, float>) return std::bit_cast<std::uint32_t>(v);
    else if constexpr (std::is_same_v<T, double>) return std::bit_cast<std::uint64_t>(v);
    else return static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(v));
}

template <class T>
T from_pattern(std::uint64_t bits) {
    if constexpr (std::is_same_v<T, f16>) return f16{static_cast<std::uint16_t>(bits)};
    else if constexpr (std::is_same_v<T, float>) return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    else if constexpr (std::is_same_v<T, double>) return std::bit_cast<double>(bits);
    else return static_cast<T>(static_cast<std::make_unsigned_t<T>>(bits));
}

// ---- Exact model --------------------------------------------------------------------------

inline double model_f64(i128 v) {
    return exact_model::to_double(
        exact_model::round_to_format(exact_model::from_integer(v), exact_model::kBinary64,
                                     RoundingMode::NearestEven));
}

// The pattern of a value that the format holds exactly.
inline std::uint64_t encode(Exact x, Format f) {
    const std::uint64_t sign = std::uint64_t{x.negative} << (f.fraction_bits + f.exponent_bits);
    const std::uint64_t exponent_all = ((std::uint64_t{1} << f.exponent_bits) - 1) << f.fraction_bits;
    if (x.kind == Exact::Kind::Inf) return sign | exponent_all;
    x = exact_model::normalized(x);
    if (x.mantissa == 0) return sign;
    const int w = exact_model::bit_width(x.mantissa) - 1;
    const int top = w + x.exponent;
    const int min_normal = f.min_quantum + f.fraction_bits;
    if (top < min_normal) return sign | static_cast<std::uint64_t>(x.mantissa << (x.exponent - f.min_quantum));
    const std::uint64_t fraction =
        static_cast<std::uint64_t>(x.mantissa << (f.fraction_bits - w)) & ((std::uint64_t{1} << f.fraction_bits) - 1);
    return sign | (static_cast<std::uint64_t>(top - min_normal + 1) << f.fraction_bits) | fraction;
}

template <class T>
bool is_nan_model(T v) {
    if constexpr (is_float_element_v<T>) return exact_model::decode(v).kind == Exact::Kind::NaN;
    else return false;
}

// Scalar-map keys: integers by equality; floats by value (either zero matches the other), and
// a NaN element matches any NaN key.
template <class S>
bool key_matches(S key, S x) {
    if constexpr (is_float_element_v<S>) {
        const Exact k = exact_model::decode(key);
        const Exact v = exact_model::decode(x);
        if (v.kind == Exact::Kind::NaN) return k.kind == Exact::Kind::NaN;
        if (k.kind == Exact::Kind::NaN) return false;
        if (k.is_zero() && v.is_zero()) return true;
        return exact_model::same(k, v);
    } else {
        return key == x;
    }
}

// What the element loop does with one element that no map entry matches.
template <class D>
struct Outcome {
    std::optional<CastError> error;
    D value{};
};

template <class S, class D>
Outcome<D> model_element(S x, RoundingMode mode, OptionalOutOfRangeMode oor) {
    Outcome<D> out;
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) {
        const i128 v = x;
        const i128 dmin = std::numeric_limits<D>::min(), dmax = std::numeric_limits<D>::max();
        const i128 smin = std::numeric_limits<S>::min(), smax = std::numeric_limits<S>::max();
        if (!oor.has_value()) {
            if (v < dmin || v > dmax)
                out.error = CastError::out_of_range(model_f64(v), model_f64(std::max(smin, dmin)),
                                                    model_f64(std::min(smax, dmax)));
            else out.value = static_cast<D>(v);
        } else if (*oor == OutOfRangeMode::Clamp) {
            out.value = static_cast<D>(v < dmin ? dmin : v > dmax ? dmax : v);
        } else {
            out.value = from_pattern<D>(static_cast<std::uint64_t>(static_cast<u128>(v)));
        }
    } else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) {
        const exact_model::IntOutcome r = exact_model::model_float_to_int<S, D>(x, mode, oor);
        out.error = r.error;
        out.value = from_pattern<D>(r.stored);
    } else if constexpr (is_integer_element_v<S>) {
        const Exact r = exact_model::model_int_to_float<D>(static_cast<i128>(x), mode);
        out.value = from_pattern<D>(encode(r, exact_model::format_of<D>()));
    } else {
        const exact_model::FloatOutcome r =
            exact_model::model_float_to_float<S, D>(x, mode, oor.is(OutOfRangeMode::Clamp));
        out.error = r.error;
        out.value = r.value.kind == Exact::Kind::NaN ? from_pattern<D>(r.nan_bits)
                                                     : from_pattern<D>(encode(r.value, exact_model::format_of<D>()));
    }
    return out;
}

template <class S, class D>
struct Case {
    RoundingMode mode = RoundingMode::NearestEven;
    OptionalOutOfRangeMode oor;
    std::vector<MapEntry<S, D>> map;
    std::vector<S> src;
    std::size_t dst_size = 0;
    std::size_t src_offset = 0, dst_offset = 0;
    unsigned char fill = 0;

    std::size_t n() const { return std::min(src.size(), dst_size); }
};

// What a path must leave behind: the destination's bytes and the result.
struct Expected {
    std::vector<unsigned char> dst;
    CastResult result;
};

template <class S, class D>
std::vector<unsigned char> untouched(const Case<S, D>& c) {
    return std::vector<unsigned char>(c.dst_size * sizeof(D), c.fill);
}

template <class D>
void put(std::vector<unsigned char>& dst, std::size_t i, D v) {
    std::memcpy(dst.data() + i * sizeof(D), &v, sizeof(D));
}

// The map first, then the element's own outcome (`own(x)`, an Outcome<D>); the first error
// stops the loop.
template <class S, class D, class Own>
Expected expect_mapped_loop(const Case<S, D>& c, const Own& own) {
    Expected e{untouched(c), std::nullopt};
    for (std::size_t i = 0; i < c.n(); ++i) {
        const auto hit = std::find_if(c.map.begin(), c.map.end(),
                                      [&](const MapEntry<S, D>& m) { return key_matches(m.source, c.src[i]); });
        if (hit != c.map.end()) {
            put(e.dst, i, hit->target);
            continue;
        }
        const Outcome<D> o = own(c.src[i]);
        if (o.error) {
            e.result = o.error;
            return e;
        }
        put(e.dst, i, o.value);
    }
    return e;
}

// The element loop of a pair the core converts under the case's modes.
template <class S, class D>
Expected expect_element_loop(const Case<S, D>& c) {
    return expect_mapped_loop(c, [&](S x) { return model_element<S, D>(x, c.mode, c.oor); });
}

// ---- Direct pairs -------------------------------------------------------------------------

// The value of an element of a direct pair (the target holds every source value) that no key
// matches, whatever the modes: the same type moves as its pattern (NaN payloads and signalling
// NaNs kept); an integer keeps its value; int64 and uint64 to float64 round to nearest, ties to
// even.
template <class S, class D>
D model_direct(S x) {
    if constexpr (std::is_same_v<S, D>) {
        return from_pattern<D>(pattern(x));
    } else if constexpr (is_integer_element_v<D>) {
        static_assert(is_integer_element_v<S> &&
                          static_cast<i128>(std::numeric_limits<S>::min()) >= std::numeric_limits<D>::min() &&
                          static_cast<i128>(std::numeric_limits<S>::max()) <= std::numeric_limits<D>::max(),
                      "a direct integer pair keeps every value");
        return static_cast<D>(static_cast<i128>(x));
    } else {
        static_assert(is_integer_element_v<S> && !is_f16_v<D>, "the direct pairs into a float are from integers");
        constexpr Format f = exact_model::format_of<D>();
        const Exact v = exact_model::from_integer(static_cast<i128>(x));
        // Every value of a source of at most p bits is a value of the target.
        if constexpr (std::numeric_limits<S>::digits <= f.precision) return from_pattern<D>(encode(v, f));
        else return from_pattern<D>(encode(exact_model::round_to_format(v, f, RoundingMode::NearestEven), f));
    }
}

// A direct pair with a scalar map: the map first, then the element's own value; never fails.
template <class S, class D>
Expected expect_direct(const Case<S, D>& c) {
    return expect_mapped_loop(c, [](S x) { return Outcome<D>{std::nullopt, model_direct<S, D>(x)}; });
}

// The direct body: the whole blocks of `block` elements from index 0 as the loop above stores
// them, the rest untouched.
template <class S, class D>
Expected expect_direct_body(const Case<S, D>& c, std::size_t block) {
    Expected e = expect_direct(c);
    const std::size_t whole = c.n() - c.n() % block;
    std::fill(e.dst.begin() + static_cast<std::ptrdiff_t>(whole * sizeof(D)), e.dst.end(), c.fill);
    return e;
}

// A clamp or check kernel with blocks of `block` elements (1: element by element): whole
// blocks from index 0, each written only when none of its elements fails, then the tail one
// element at a time. `error_of` gives the error of a failing block.
template <class S, class D, class Outcomes, class BlockError>
Expected expect_blocks(const Case<S, D>& c, const Outcomes& outcomes, std::size_t block, BlockError error_of) {
    Expected e{untouched(c), std::nullopt};
    const std::size_t n = c.n();
    const std::size_t whole = n - n % block;
    for (std::size_t b = 0; b < whole; b += block) {
        for (std::size_t j = b; j < b + block; ++j) {
            if (outcomes[j].error) {
                e.result = error_of(b, b + block);
                return e;
            }
        }
        for (std::size_t j = b; j < b + block; ++j) put(e.dst, j, outcomes[j].value);
    }
    for (std::size_t j = whole; j < n; ++j) {
        if (outcomes[j].error) {
            e.result = error_of(j, j + 1);
            return e;
        }
        put(e.dst, j, outcomes[j].value);
    }
    return e;
}

template <class S, class D>
std::vector<Outcome<D>> outcomes_of(const Case<S, D>& c, RoundingMode mode, OptionalOutOfRangeMode oor) {
    std::vector<Outcome<D>> o;
    for (std::size_t i = 0; i < c.n(); ++i) o.push_back(model_element<S, D>(c.src[i], mode, oor));
    return o;
}

// Clamp kernels: the first NaN of the failing block (clamp fails on nothing else).
template <class S, class D>
Expected expect_clamp_kernel(const Case<S, D>& c, std::size_t block) {
    const auto o = outcomes_of(c, c.mode, OutOfRangeMode::Clamp);
    return expect_blocks(c, o, block, [&](std::size_t b, std::size_t end) -> CastResult {
        for (std::size_t j = b; j < end; ++j)
            if (o[j].error) return o[j].error;
        return std::nullopt;
    });
}

// The check kernel: within the failing block its first NaN, else its first element out of
// range, reported with the element as it was before rounding.
inline Expected expect_check_kernel(const Case<double, std::int32_t>& c, std::size_t block) {
    const auto o = outcomes_of(c, c.mode, std::nullopt);
    return expect_blocks(c, o, block, [&](std::size_t b, std::size_t end) -> CastResult {
        for (std::size_t j = b; j < end; ++j)
            if (is_nan_model(c.src[j])) return o[j].error;
        for (std::size_t j = b; j < end; ++j)
            if (o[j].error) return CastError::out_of_range(c.src[j], -2147483648.0, 2147483647.0);
        return std::nullopt;
    });
}

// The nearest kernel: every element written with its nearest binary32 value (overflow to an
// infinity), then, with the check, the element loop's error.
inline Expected expect_nearest_kernel(const Case<double, float>& c, bool check) {
    Expected e{untouched(c), std::nullopt};
    for (std::size_t i = 0; i < c.n(); ++i) {
        const Outcome<float> stored = model_element<double, float>(c.src[i], RoundingMode::NearestEven, OutOfRangeMode::Clamp);
        put(e.dst, i, stored.value);
        if (check && !e.result) {
            e.result = model_element<double, float>(c.src[i], RoundingMode::NearestEven, std::nullopt).error;
        }
    }
    return e;
}

}  // namespace pelm_ossrel::testing_support
