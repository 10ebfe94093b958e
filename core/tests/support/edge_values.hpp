// Values at the edges of the element types, for the native tests: NaNs of every kind, the limits
// of every type and their neighbours, ties, subnormals, and targets that no conversion produces.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "element_types.hpp"
#include "f16.hpp"
#include "support/buffers.hpp"
#include "support/path_rules.hpp"

namespace pelm_ossrel::testing_support {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A floating value for a conversion to the integer type D: integral, half-integral or arbitrary,
// mostly well inside D's range (and float16's); the small arbitrary ones may lie just below an
// unsigned D's range.
template <class D>
double ordinary_value_for(std::mt19937_64& rng) {
    const double lo = std::max(static_cast<double>(std::numeric_limits<D>::min()), -60000.0) + 2.0;
    const double hi = std::min(static_cast<double>(std::numeric_limits<D>::max()), 60000.0) - 2.0;
    double v = std::uniform_real_distribution<double>(lo, hi)(rng);
    switch (rng() % 4) {
        case 0: v = std::round(v); break;
        case 1: v = std::floor(v) + 0.5; break;
        case 2: v = std::uniform_real_distribution<double>(-2.0, 2.0)(rng); break;
        default: break;
    }
    return v;
}

// The values of v with distinct bit patterns, in their first order.
template <class T>
std::vector<T> distinct(const std::vector<T>& v) {
    std::vector<T> out;
    for (const T& x : v) {
        const auto same = [&](const T& y) { return pattern(y) == pattern(x); };
        if (std::none_of(out.begin(), out.end(), same)) out.push_back(x);
    }
    return out;
}

// A random element of a non-empty v.
template <class T>
const T& pick(const std::vector<T>& v, std::mt19937_64& rng) {
    return v[rng() % v.size()];
}

// The largest finite value of a floating type.
template <class T>
T largest_finite() {
    if constexpr (std::is_same_v<T, f16>) return f16{0x7BFF};
    else return std::numeric_limits<T>::max();
}

// NaNs of every kind: both signs, quiet and signalling, payloads at the top, at the bottom and
// in the bits a narrowing drops.
template <class T>
std::vector<T> nan_values() {
    std::vector<std::uint64_t> bits;
    if constexpr (std::is_same_v<T, f16>) bits = {0x7E00, 0xFE00, 0x7C01, 0xFC01, 0x7D00, 0x7FFF, 0xFFFF, 0x7E01};
    else if constexpr (std::is_same_v<T, float>)
        bits = {0x7FC00000, 0xFFC00000, 0x7F800001, 0xFF800001, 0x7FA00000, 0x7FFFFFFF, 0x7F802000, 0xFFC00001};
    else
        bits = {0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001, 0xFFF0000000000001, 0x7FF4000000000000,
                0x7FFFFFFFFFFFFFFF, 0x7FF0000020000000, 0x7FF0000010000000, 0xFFF4000020000000};
    std::vector<T> out;
    for (std::uint64_t b : bits) out.push_back(from_pattern<T>(b));
    return out;
}

// Floating values at the edges of every type: zeros, halves, the limits of every integer type
// and their neighbours, powers of two where precision runs out, the largest finite values and
// the ties beyond them, subnormals, infinities.
inline std::vector<double> edge_doubles() {
    std::vector<double> v = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -1.5, 2.5, -2.5, 0.49999999999999994,
                             -0.49999999999999994, 0.75, -0.25, kInfinity, -kInfinity, 65504.0, -65504.0, 65519.99,
                             65520.0, -65520.0, 3.4028234663852886e38, -3.4028234663852886e38, 3.4028235677973366e38,
                             -3.4028235677973366e38, 3.4028235677973362e38, 3.5e38, 1e39, 1e300, -1e300,
                             std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 1e-40, -1e-40,
                             0x1p-149, 0x1p-150, -0x1p-150, 0x1.8p-149, 0x1p-126, 0x1p-24, 0x1p-25, 0x1.8p-24, 3e-8,
                             1e-310, 5e-324, -5e-324};
    for (int k : {7, 8, 15, 16, 24, 31, 32, 51, 52, 53, 63, 64, 65}) {
        const double p = std::ldexp(1.0, k);
        for (double d : {p, p - 1, p + 1, p - 0.5, p + 0.5, p + 2, p * (1 + 0x1p-52), p * (1 - 0x1p-53)}) {
            v.push_back(d);
            v.push_back(-d);
        }
    }
    return v;
}

// Integers at the edges of every type: every power of two and its neighbours, the ties of
// float32 and float64 above their precision, and the float16 limits.
inline std::vector<i128> edge_integers() {
    std::vector<i128> v = {0, 2047, 2049, 2051, 4097, 65503, 65504, 65505, 65519, 65520, 65521, 100};
    const auto p = [](int k) { return static_cast<i128>(1) << k; };
    for (int k = 0; k <= 64; ++k) {
        for (i128 d : {p(k), p(k) - 1, p(k) + 1}) v.push_back(d);
        if (k >= 25) {
            for (i128 d : {p(k) + p(k - 24), p(k) + p(k - 24) + 1, p(k) + p(k - 24) - 1, p(k) - p(k - 25)})
                v.push_back(d);
        }
        if (k >= 54) {
            for (i128 d : {p(k) + p(k - 53), p(k) + p(k - 53) + 1, p(k) + p(k - 53) - 1}) v.push_back(d);
        }
    }
    const std::size_t positive = v.size();
    for (std::size_t i = 0; i < positive; ++i) v.push_back(-v[i]);
    return v;
}

// Whether the integer type S holds v.
template <class S>
bool holds(i128 v) {
    return v >= static_cast<i128>(std::numeric_limits<S>::min()) &&
           v <= static_cast<i128>(std::numeric_limits<S>::max());
}

// The values as S (rounded to nearest), distinct.
template <class S>
std::vector<S> as_values(const std::vector<double>& values) {
    std::vector<S> out;
    for (double v : values) out.push_back(from_double<S>(v));
    return distinct(out);
}

// The values that S holds, as S, distinct.
template <class S>
std::vector<S> as_integers(const std::vector<i128>& values) {
    std::vector<S> out;
    for (i128 v : values)
        if (holds<S>(v)) out.push_back(static_cast<S>(v));
    return distinct(out);
}

// Edge values of S and random patterns.
template <class S>
std::vector<S> edge_values(std::mt19937_64& rng) {
    std::vector<S> v;
    if constexpr (is_float_element_v<S>) {
        v = as_values<S>(edge_doubles());
        for (S x : nan_values<S>()) v.push_back(x);
        v.push_back(largest_finite<S>());
        for (int i = 0; i < 24; ++i) {
            const int e = std::is_same_v<S, f16> ? 16 : std::is_same_v<S, float> ? 128 : 1024;
            const double m = std::uniform_real_distribution<double>(1.0, 2.0)(rng);
            const double x = std::ldexp(m, static_cast<int>(rng() % static_cast<unsigned>(2 * e)) - e);
            v.push_back(from_double<S>(rng() % 2 ? x : -x));
        }
    } else {
        v = as_integers<S>(edge_integers());
    }
    for (int i = 0; i < 24; ++i) v.push_back(from_pattern<S>(rng()));
    return distinct(v);
}

// Targets that the conversion could never produce, or that no mode would let through: NaNs
// with payloads, -0.0, infinities, the limits, the sentinel's pattern, random patterns.
template <class D>
std::vector<D> target_values(std::mt19937_64& rng) {
    std::vector<D> t;
    if constexpr (is_float_element_v<D>) {
        t = nan_values<D>();
        for (double v : {-0.0, 0.0, kInfinity, -kInfinity, 1.0, -2.5, 1e-40}) t.push_back(from_double<D>(v));
        t.push_back(largest_finite<D>());
        t.push_back(from_pattern<D>(1));
    } else {
        t = {std::numeric_limits<D>::min(), std::numeric_limits<D>::max(), D{0}, D{1}, static_cast<D>(-1)};
    }
    t.push_back(from_pattern<D>(0xA5A5A5A5A5A5A5A5u));
    for (int i = 0; i < 6; ++i) t.push_back(from_pattern<D>(rng()));
    return t;
}

}  // namespace pelm_ossrel::testing_support
