// The eleven element types and their NumPy names.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "f16.hpp"

namespace pelm_ossrel {

template <class T>
inline constexpr bool is_integer_element_v =
    std::is_same_v<T, std::int8_t> || std::is_same_v<T, std::uint8_t> ||
    std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::uint16_t> ||
    std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::uint32_t> ||
    std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>;

template <class T>
inline constexpr bool is_float_element_v =
    std::is_same_v<T, f16> || std::is_same_v<T, float> || std::is_same_v<T, double>;

template <class T>
inline constexpr bool is_element_v = is_integer_element_v<T> || is_float_element_v<T>;

namespace element_kind_detail {
#include "shared/element_kinds.inc"
}  // namespace element_kind_detail

// The width of an element type's values in bits, spelled out per type (a type that is not one
// of the eleven has none).
template <class T>
inline constexpr int element_bits_v = element_kind_detail::kBitsOf<T>;

template <class T>
constexpr std::string_view element_name() noexcept {
    if constexpr (std::is_same_v<T, std::int8_t>) return "int8";
    else if constexpr (std::is_same_v<T, std::uint8_t>) return "uint8";
    else if constexpr (std::is_same_v<T, std::int16_t>) return "int16";
    else if constexpr (std::is_same_v<T, std::uint16_t>) return "uint16";
    else if constexpr (std::is_same_v<T, std::int32_t>) return "int32";
    else if constexpr (std::is_same_v<T, std::uint32_t>) return "uint32";
    else if constexpr (std::is_same_v<T, std::int64_t>) return "int64";
    else if constexpr (std::is_same_v<T, std::uint64_t>) return "uint64";
    else if constexpr (std::is_same_v<T, f16>) return "float16";
    else if constexpr (std::is_same_v<T, float>) return "float32";
    else {
        static_assert(std::is_same_v<T, double>, "not an element type");
        return "float64";
    }
}

template <class... Ts>
struct TypeList {};

using IntegerElements = TypeList<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t,
                                 std::int32_t, std::uint32_t, std::int64_t, std::uint64_t>;
using FloatElements = TypeList<f16, float, double>;
using AllElements = TypeList<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                             std::uint32_t, std::int64_t, std::uint64_t, f16, float, double>;

}  // namespace pelm_ossrel
