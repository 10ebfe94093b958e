// Buffers and results of the native tests and the fuzz target: sentinel destinations, slices of
// vectors, whole-bit comparisons of stored elements and of errors.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "cast_error.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "slice.hpp"

namespace pelm_ossrel::testing_support {

template <class T>
std::string type_name() {
    return std::string(element_name<T>());
}

template <class T>
SrcSlice<T> in(const std::vector<T>& v) {
    return SrcSlice<T>(v.data(), v.size());
}
template <class T>
DstSlice<T> out(std::vector<T>& v) {
    return DstSlice<T>(v.data(), v.size());
}

// A destination filled with a pattern that no conversion stores by chance in every byte.
template <class D>
std::vector<D> sentinel(std::size_t n) {
    std::vector<D> v(n);
    if (n != 0) std::memset(v.data(), 0xA5, n * sizeof(D));
    return v;
}

template <class D>
bool same_bits(const std::vector<D>& a, const std::vector<D>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(D)) == 0);
}

inline std::string describe(const CastResult& r) {
    if (!r) return "success";
    return r->message() + " (value bits " + std::to_string(std::bit_cast<std::uint64_t>(r->value)) + ")";
}

// The same outcome to the bit: both successes, or the same kind of error with the same values.
inline bool same_result(const CastResult& a, const CastResult& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->kind == b->kind && std::bit_cast<std::uint64_t>(a->value) == std::bit_cast<std::uint64_t>(b->value) &&
           std::bit_cast<std::uint64_t>(a->lo) == std::bit_cast<std::uint64_t>(b->lo) &&
           std::bit_cast<std::uint64_t>(a->hi) == std::bit_cast<std::uint64_t>(b->hi);
}

template <class S>
S from_double(double v) {
    if constexpr (std::is_same_v<S, f16>) return f64_to_f16(v);
    else return static_cast<S>(v);
}

}  // namespace pelm_ossrel::testing_support
