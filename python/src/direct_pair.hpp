// Direct pairs: the pairs that the drivers convert themselves, without the core and without any
// mode. They never fail. The scalar map is still consulted first.
//
//   - the same type on both sides (float16 excepted, which the core copies): a bit copy;
//   - the integer widenings that keep every value;
//   - every integer type to float64, and the 8- and 16-bit integer types to float32: the value
//     itself, exact but for int64 and uint64 to float64, which round to nearest, ties to even
//     (the plain conversion under the default floating-point control, which the conversion
//     holds whatever the calling thread's is), whatever the rounding mode of the call.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "default_float_control.hpp"
#include "direct_pairs.hpp"
#include "element_types.hpp"
#include "map_entry.hpp"
#include "slice.hpp"

namespace pelm_ossrel::py {

namespace direct_detail {

// output[i] = the value of input[i] in D for i < n: a straight loop over unaligned loads and
// stores that the compiler vectorises where the element widths allow (with a run-time check
// that the two runs are apart).
template <class S, class D>
void widen(SrcSlice<S> input, DstSlice<D> output, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) output.set(i, direct_value<D>(input[i]));
}

}  // namespace direct_detail

// Converts the first min(input.size(), output.size()) elements: the target of the first map
// entry that matches an element (integer equality; IEEE equality for floating sources, a NaN
// matching the first NaN source), else the element's own value in D. Never fails.
template <class S, class D>
void convert_direct_pair(SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) noexcept {
    static_assert(is_direct_pair_v<S, D>, "not a pair that the drivers convert themselves");
    const std::size_t n = input.size() < output.size() ? input.size() : output.size();
    if (n == 0) return;
    if (map.empty()) {
        if constexpr (std::is_same_v<S, D>) {
            std::memmove(output.bytes(), input.bytes(), n * sizeof(S));
        } else if constexpr (is_float_element_v<D>) {
            // float32 to float64 reads subnormals, int64 and uint64 to float64 round: both as
            // the default floating-point control has it.
            const DefaultFloatControl control;
            direct_detail::widen(input, output, n);
        } else {
            direct_detail::widen(input, output, n);
        }
        return;
    }
    convert_direct_with_map(input, output, map, n);  // under the default control of its own
}

}  // namespace pelm_ossrel::py
