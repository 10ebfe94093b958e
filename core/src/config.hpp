// What a driver hands to a slice conversion besides the two slices.
#pragma once

#include "map_entry.hpp"
#include "modes.hpp"

namespace pelm_ossrel {

template <class S, class D>
struct IntToIntConfig {
    ScalarMap<S, D> scalar_map;
    OptionalOutOfRangeMode out_of_range;
};

template <class S, class D>
struct IntToFloatConfig {
    ScalarMap<S, D> scalar_map;
    RoundingMode rounding_mode = RoundingMode::NearestEven;
};

template <class S, class D>
struct CastConfig {
    ScalarMap<S, D> scalar_map;
    OptionalOutOfRangeMode out_of_range;
    RoundingMode rounding_mode = RoundingMode::NearestEven;
};

}  // namespace pelm_ossrel
