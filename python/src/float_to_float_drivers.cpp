// The floating-to-floating family: the drivers of the 9 pairs of floating types.
//
// float32 to float32 and float64 to float64 are direct pairs: a bit copy (the scalar map
// first), no mode, no failure. The other 7, float16 to float16 included, go through the
// core's convert_slice_float_to_float with both modes; only the narrowing pairs (float64 to
// float32, float64 to float16, float32 to float16) can fail, on a finite value that becomes
// an infinity.
#include "driver_frame.hpp"

namespace pelm_ossrel::py {

const DriverTable<3, 3>& float_to_float_drivers() noexcept {
    static constexpr DriverTable<3, 3> kDrivers = make_driver_table(FloatElements{}, FloatElements{});
    return kDrivers;
}

}  // namespace pelm_ossrel::py
