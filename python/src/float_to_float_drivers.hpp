// The floating-to-floating drivers: one allocating and one into driver per pair of floating
// types.
#pragma once

#include "driver_table.hpp"

namespace pelm_ossrel::py {

// Rows and columns in the order of FloatElements (float16, float32, float64).
const DriverTable<3, 3>& float_to_float_drivers() noexcept;

}  // namespace pelm_ossrel::py
