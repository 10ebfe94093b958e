// The per-element results of the conversions to a floating type (shared/float_results.inc), for
// the element loops of the families.
#pragma once

#include "adjust_to_mode.hpp"
#include "f16.hpp"
#include "modes.hpp"

namespace pelm_ossrel::detail {

#include "shared/float_results.inc"

}  // namespace pelm_ossrel::detail
