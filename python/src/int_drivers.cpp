// The integer family: the drivers of the 64 integer pairs.
//
// The 38 pairs whose target cannot hold every source value go through the core's
// convert_slice_int_to_int with the out-of-range mode; the 26 direct pairs convert themselves
// (convert_direct_pair) and take no mode. No integer pair takes a rounding mode.
#include "driver_frame.hpp"

namespace pelm_ossrel::py {

const DriverTable<8, 8>& int_to_int_drivers() noexcept {
    static constexpr DriverTable<8, 8> kDrivers = make_driver_table(IntegerElements{}, IntegerElements{});
    return kDrivers;
}

}  // namespace pelm_ossrel::py
