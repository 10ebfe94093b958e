// Iteration over the 121 pairs of element types, for the native tests.
#pragma once

#include "element_types.hpp"

namespace pelm_ossrel::testing_support {

// fn.template operator()<S, D>() for every source type S and target type D of the eleven.
template <class Fn>
void for_each_element_pair(const Fn& fn) {
    [&]<class... Ss>(TypeList<Ss...>) {
        (
            [&]<class S>() {
                [&]<class... Ds>(TypeList<Ds...>) { (fn.template operator()<S, Ds>(), ...); }(AllElements{});
            }.template operator()<Ss>(),
            ...);
    }(AllElements{});
}

}  // namespace pelm_ossrel::testing_support
