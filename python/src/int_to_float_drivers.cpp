// The integer-to-floating family: the drivers of the 24 pairs of an integer source and a
// floating target. No pair of this family fails.
//
// The 12 pairs whose values may need rounding (every integer type to float16; int32, uint32,
// int64 and uint64 to float32) go through the core's convert_slice_int_to_float with the
// rounding mode. The 12 direct pairs (every integer type to float64; int8, uint8, int16 and
// uint16 to float32) convert themselves (convert_direct_pair) and take no mode: int64 and
// uint64 round to nearest, ties to even, whatever the call's rounding mode. No pair takes an
// out-of-range mode.
#include "driver_frame.hpp"

namespace pelm_ossrel::py {

const DriverTable<8, 3>& int_to_float_drivers() noexcept {
    static constexpr DriverTable<8, 3> kDrivers = make_driver_table(IntegerElements{}, FloatElements{});
    return kDrivers;
}

}  // namespace pelm_ossrel::py
