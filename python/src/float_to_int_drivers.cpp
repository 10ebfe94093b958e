// The floating-to-integer family: the drivers of the 24 pairs of a floating source (float16,
// float32, float64) and an integer target.
//
// Every pair goes through the core's convert_slice_float_to_int with both modes: the family
// has no direct pair. A NaN fails in every mode; the rest is the core's (rounding in the
// source's precision, the target's limits as the source rounds them, clamp, exact wrap).
#include "driver_frame.hpp"

namespace pelm_ossrel::py {

const DriverTable<3, 8>& float_to_int_drivers() noexcept {
    static constexpr DriverTable<3, 8> kDrivers = make_driver_table(FloatElements{}, IntegerElements{});
    return kDrivers;
}

}  // namespace pelm_ossrel::py
