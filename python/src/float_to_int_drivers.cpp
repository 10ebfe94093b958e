// The floating-to-integer family: do_float_to_int_into and do_float_to_int_alloc for the 24
// pairs of a floating source (float16, float32, float64) and an integer target.
//
// Every pair goes through the core's convert_slice_float_to_int with both modes: the family
// has no direct pair. A NaN fails in every mode; the rest is the core's (rounding in the
// source's precision, the target's limits as the source rounds them, clamp, exact wrap).
#include "float_to_int_drivers.hpp"

#include "config.hpp"
#include "driver_frame.hpp"
#include "float_to_int.hpp"

namespace pelm_ossrel::py {
namespace {

template <class S, class D>
struct FloatToIntStep {
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range;

    CastResult operator()(SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) const noexcept {
        return convert_slice_float_to_int<S, D>(input, output,
                                                CastConfig<S, D>{map, out_of_range, rounding_mode});
    }
};

template <class S, class D>
Result<py_ref> do_float_to_int_into(PyObject* arr, PyObject* out, RoundingMode rounding_mode,
                                    OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries,
                                    std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              FloatToIntStep<S, D>{rounding_mode, out_of_range_mode});
}

template <class S, class D>
Result<py_ref> do_float_to_int_alloc(PyObject* arr, RoundingMode rounding_mode,
                                     OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries,
                                     std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               FloatToIntStep<S, D>{rounding_mode, out_of_range_mode});
}

// Hands each driver both modes.
template <class S, class D>
struct FloatToIntFamily {
    static Result<py_ref> alloc(PyObject* arr, const DriverCall& call) {
        return do_float_to_int_alloc<S, D>(arr, call.rounding_mode, call.out_of_range_mode,
                                           call.scalar_map_entries, call.source_dtype_name,
                                           call.target_dtype_name);
    }
    static Result<py_ref> into(PyObject* arr, PyObject* out, const DriverCall& call) {
        return do_float_to_int_into<S, D>(arr, out, call.rounding_mode, call.out_of_range_mode,
                                          call.scalar_map_entries, call.source_dtype_name,
                                          call.target_dtype_name);
    }
};

constexpr DriverTable<3, 8> kFloatToIntDrivers =
    make_driver_table<FloatToIntFamily>(FloatElements{}, IntegerElements{});

}  // namespace

const DriverTable<3, 8>& float_to_int_drivers() noexcept { return kFloatToIntDrivers; }

}  // namespace pelm_ossrel::py
