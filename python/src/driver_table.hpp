// The uniform entry of a typed driver, and the tables of drivers that dispatch picks from.
//
// Each driver family (integer to integer, and the floating families) exports, from its own
// translation unit, one table of function pointers over its (source, target) pairs, built by
// make_driver_table from the family's adapter template. An adapter hands each typed driver
// only the parameters of its family.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "element_types.hpp"
#include "errors.hpp"
#include "modes.hpp"

namespace pelm_ossrel::py {

// What the dispatchers hand to a driver besides the arrays; all borrowed for the call.
struct DriverCall {
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range_mode;
    PyObject* scalar_map_entries;  // nullptr when none (or None) was given
    std::string_view source_dtype_name;
    std::string_view target_dtype_name;
};

// Allocating form: the new array. Into form: None.
using AllocDriver = Result<py_ref> (*)(PyObject* arr, const DriverCall& call);
using IntoDriver = Result<py_ref> (*)(PyObject* arr, PyObject* out, const DriverCall& call);

struct PairDrivers {
    AllocDriver alloc;
    IntoDriver into;
};

// Rows: the source types of SrcList; columns: the target types of DstList, in list order.
template <std::size_t Rows, std::size_t Cols>
using DriverTable = std::array<std::array<PairDrivers, Cols>, Rows>;

namespace detail {

template <template <class, class> class Family, class S, class... Ds>
constexpr std::array<PairDrivers, sizeof...(Ds)> driver_row(TypeList<Ds...>) {
    return {PairDrivers{&Family<S, Ds>::alloc, &Family<S, Ds>::into}...};
}

}  // namespace detail

// The table of Family<S, D>::alloc and Family<S, D>::into for every S of SrcList and D of
// DstList.
template <template <class, class> class Family, class... Ss, class DstList>
constexpr auto make_driver_table(TypeList<Ss...>, DstList dst) {
    return std::array{detail::driver_row<Family, Ss>(dst)...};
}

}  // namespace pelm_ossrel::py
