// A scalar-map pair of a (source, target) element-type pair.
#pragma once

#include <span>

namespace pelm_ossrel {

template <class S, class D>
struct MapEntry {
    S source;
    D target;
};

// The ordered scalar map that a conversion reads (elements and length only).
template <class S, class D>
using ScalarMap = std::span<const MapEntry<S, D>>;

}  // namespace pelm_ossrel
