// Neighbours of binary32 and binary16 values and the move of a nearest-even result to the
// rounding mode (shared/mode_steps.inc), for the baseline loops.
#pragma once

#include <cstdint>

#include "f16.hpp"
#include "lift_modes.hpp"
#include "modes.hpp"

namespace pelm_ossrel {

#include "shared/mode_steps.inc"

// adjust_to_mode with the mode chosen at run time.
template <class T>
inline T adjust_to_mode(RoundingMode mode, T r, double s, bool negative) noexcept {
    return with_rounding(mode, [&]<RoundingMode M>() { return adjust_to_mode<M>(r, s, negative); });
}

}  // namespace pelm_ossrel
