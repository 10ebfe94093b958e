// Scalar-map lookup: the first entry whose source matches an element wins, by the key rule of
// shared/key_rule.inc (integers by equality; floating values by IEEE equality, 0.0 and -0.0
// matching each other, and a NaN element matching a NaN key of any sign or payload; float16 by
// the same rule on its patterns).
#pragma once

#include <cstddef>

#include "element_types.hpp"
#include "f16.hpp"
#include "map_entry.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

namespace key_rule_detail {
using namespace element_kind_detail;
#include "shared/key_rule.inc"
}  // namespace key_rule_detail

// The target of the first entry of `map` whose source matches x, or nullptr when none does.
// The pointer refers into the map's own storage.
template <class S, class D>
const D* find_mapped(ScalarMap<S, D> map, S x) noexcept {
    for (const auto& entry : map)
        if (key_rule_detail::element_matches_key(x, entry.source)) return &entry.target;
    return nullptr;
}

// The map's step of an element loop: with a map (HasMap), element i of dst takes the target of
// the first entry that matches x, if any; true when it did, and the loop goes on to the next.
template <bool HasMap, class S, class D>
inline bool store_mapped([[maybe_unused]] ScalarMap<S, D> map, [[maybe_unused]] S x,
                         [[maybe_unused]] DstSlice<D> dst, [[maybe_unused]] std::size_t i) noexcept {
    if constexpr (HasMap) {
        if (const D* target = find_mapped(map, x)) {
            dst.set(i, *target);
            return true;
        }
    }
    return false;
}

}  // namespace pelm_ossrel
