// The integer-to-floating drivers: one allocating and one into driver per pair of an integer
// source and a floating target.
#pragma once

#include "driver_table.hpp"

namespace pelm_ossrel::py {

// Rows in the order of IntegerElements (int8, uint8, ..., uint64), columns in the order of
// FloatElements (float16, float32, float64).
const DriverTable<8, 3>& int_to_float_drivers() noexcept;

}  // namespace pelm_ossrel::py
