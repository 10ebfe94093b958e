// The run-time modes as template arguments (shared/lift_modes.inc), for the baseline loops.
#pragma once

#include "modes.hpp"

namespace pelm_ossrel {

#include "shared/lift_modes.inc"

}  // namespace pelm_ossrel
