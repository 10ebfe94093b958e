// The conversion step of every pair, as the driver frames run it: the core's slice conversion
// of the pair's family with the config record and the modes that family reads, or, for a direct
// pair, the drivers' own conversion (direct_pair.hpp), which reads no mode.
//
//   integer -> integer (38 pairs): convert_slice_int_to_int, the out-of-range mode;
//   floating -> integer (24): convert_slice_float_to_int, both modes;
//   integer -> floating (12): convert_slice_int_to_float, the rounding mode;
//   floating -> floating (7, float16 -> float16 included): convert_slice_float_to_float, both;
//   the 40 direct pairs: convert_direct_pair, no mode, never a failure.
#pragma once

#include <optional>

#include "cast_error.hpp"
#include "config.hpp"
#include "direct_pair.hpp"
#include "element_types.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "slice.hpp"

namespace pelm_ossrel::py {

template <class S, class D>
struct PairStep {
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range;

    // Converts the whole input run into the output run.
    CastResult operator()(SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) const noexcept {
        if constexpr (is_direct_pair_v<S, D>) {
            convert_direct_pair<S, D>(input, output, map);
            return std::nullopt;
        } else if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) {
            return convert_slice_int_to_int<S, D>(input, output, IntToIntConfig<S, D>{map, out_of_range});
        } else if constexpr (is_integer_element_v<D>) {
            return convert_slice_float_to_int<S, D>(input, output, CastConfig<S, D>{map, out_of_range, rounding_mode});
        } else if constexpr (is_integer_element_v<S>) {
            return convert_slice_int_to_float<S, D>(input, output, IntToFloatConfig<S, D>{map, rounding_mode});
        } else {
            return convert_slice_float_to_float<S, D>(input, output,
                                                      CastConfig<S, D>{map, out_of_range, rounding_mode});
        }
    }
};

}  // namespace pelm_ossrel::py
