// The floating-to-integer drivers: one allocating and one into driver per pair of a floating
// source and an integer target.
#pragma once

#include "driver_table.hpp"

namespace pelm_ossrel::py {

// Rows in the order of FloatElements (float16, float32, float64), columns in the order of
// IntegerElements (int8, uint8, ..., uint64).
const DriverTable<3, 8>& float_to_int_drivers() noexcept;

}  // namespace pelm_ossrel::py
