// Scalar-map lookup: the first entry whose source matches an element wins.
//
// Integer sources match by equality. Floating sources match by IEEE equality (0.0 and -0.0
// match each other), and a NaN element matches the first NaN source of any sign or payload.
// float16 sources are compared on their bit patterns by the same rule.
#pragma once

#include <cstdint>
#include <type_traits>

#include "f16.hpp"
#include "map_entry.hpp"

namespace pelm_ossrel {

namespace scalar_map_detail {

// IEEE equality of two binary16 patterns when at least one of them is not a NaN.
constexpr bool f16_bits_equal(std::uint16_t a, std::uint16_t b) noexcept {
    return a == b || ((a | b) & 0x7FFFu) == 0;
}

}  // namespace scalar_map_detail

// The target of the first entry of `map` whose source matches x, or nullptr when none does.
// The pointer refers into the map's own storage.
template <class S, class D>
const D* find_mapped(ScalarMap<S, D> map, S x) noexcept {
    if constexpr (std::is_same_v<S, f16>) {
        using namespace scalar_map_detail;
        if (f16_bits_nan(x.bits)) {
            for (const auto& entry : map)
                if (f16_bits_nan(entry.source.bits)) return &entry.target;
        } else {
            // x is not a NaN, so neither is any source that equals it.
            for (const auto& entry : map)
                if (f16_bits_equal(entry.source.bits, x.bits)) return &entry.target;
        }
    } else if constexpr (std::is_floating_point_v<S>) {
        if (x != x) {
            for (const auto& entry : map)
                if (entry.source != entry.source) return &entry.target;
        } else {
            for (const auto& entry : map)
                if (entry.source == x) return &entry.target;
        }
    } else {
        static_assert(std::is_integral_v<S>, "scalar-map sources are integers or floats");
        for (const auto& entry : map)
            if (entry.source == x) return &entry.target;
    }
    return nullptr;
}

}  // namespace pelm_ossrel
