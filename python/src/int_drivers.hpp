// The integer-to-integer drivers: one allocating and one into driver per pair of the eight
// integer types.
#pragma once

#include "driver_table.hpp"

namespace pelm_ossrel::py {

// Rows and columns in the order of IntegerElements (int8, uint8, ..., uint64).
const DriverTable<8, 8>& int_to_int_drivers() noexcept;

}  // namespace pelm_ossrel::py
