// The uniform entry of a typed driver, and the tables of drivers that dispatch picks from.
//
// Each driver family (integer to integer, floating to integer, integer to floating, floating to
// floating) exports, from its own translation unit, one table of function pointers over its
// (source, target) pairs: the two driver frames (driver_frame.hpp) instantiated for each pair.
#pragma once

#include <array>
#include <cstddef>

#include "element_types.hpp"
#include "errors.hpp"
#include "modes.hpp"

namespace pelm_ossrel::py {

// What the dispatchers hand to a driver besides the arrays; all borrowed for the call. Each pair
// reads the modes of its family (pair_step.hpp).
struct DriverCall {
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range_mode;
    PyObject* scalar_map_entries;  // nullptr when none (or None) was given
};

// Allocating form: the new array. Into form: None.
using AllocDriver = Result<py_ref> (*)(PyObject* arr, const DriverCall& call);
using IntoDriver = Result<py_ref> (*)(PyObject* arr, PyObject* out, const DriverCall& call);

struct PairDrivers {
    AllocDriver alloc;
    IntoDriver into;
};

// Rows: the source types of a list; columns: the target types of another, in list order.
template <std::size_t Rows, std::size_t Cols>
using DriverTable = std::array<std::array<PairDrivers, Cols>, Rows>;

// Rows and columns in the order of IntegerElements (int8, uint8, ..., uint64) and FloatElements
// (float16, float32, float64), core/src/element_types.hpp.
const DriverTable<8, 8>& int_to_int_drivers() noexcept;
const DriverTable<3, 8>& float_to_int_drivers() noexcept;
const DriverTable<8, 3>& int_to_float_drivers() noexcept;
const DriverTable<3, 3>& float_to_float_drivers() noexcept;

}  // namespace pelm_ossrel::py
