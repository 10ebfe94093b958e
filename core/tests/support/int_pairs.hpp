// Iteration over the integer pairs that convert_slice_int_to_int serves, for the native tests.
#pragma once

#include "element_types.hpp"
#include "int_to_int.hpp"

namespace pelm_ossrel {

// fn.template operator()<S, D>() for each of the 38 pairs whose target cannot hold every
// source value.
template <class Fn>
void for_each_core_int_pair(const Fn& fn) {
    [&]<class... Ss>(TypeList<Ss...>) {
        (
            [&]<class S>() {
                [&]<class... Ds>(TypeList<Ds...>) {
                    (
                        [&]<class D>() {
                            if constexpr (is_core_int_pair_v<S, D>) fn.template operator()<S, D>();
                        }.template operator()<Ds>(),
                        ...);
                }(IntegerElements{});
            }.template operator()<Ss>(),
            ...);
    }(IntegerElements{});
}

}  // namespace pelm_ossrel
