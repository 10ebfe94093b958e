// The integer-to-floating family: do_int_to_float_into and do_int_to_float_alloc for the 24
// pairs of an integer source and a floating target. No pair of this family fails.
//
// The 12 pairs whose values may need rounding (every integer type to float16; int32, uint32,
// int64 and uint64 to float32) go through the core's convert_slice_int_to_float with the
// rounding mode. The 12 direct pairs (every integer type to float64; int8, uint8, int16 and
// uint16 to float32) convert themselves (convert_direct_pair) and take no mode: int64 and
// uint64 round to nearest, ties to even, whatever the call's rounding mode. No pair takes an
// out-of-range mode.
#include "int_to_float_drivers.hpp"

#include "config.hpp"
#include "direct_pair.hpp"
#include "driver_frame.hpp"
#include "int_to_float.hpp"

namespace pelm_ossrel::py {
namespace {

template <class S, class D>
struct IntToFloatStep {
    RoundingMode rounding_mode;

    CastResult operator()(SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) const noexcept {
        return convert_slice_int_to_float<S, D>(input, output, IntToFloatConfig<S, D>{map, rounding_mode});
    }
};

template <class S, class D>
    requires is_core_int_to_float_pair_v<S, D>
Result<py_ref> do_int_to_float_into(PyObject* arr, PyObject* out, RoundingMode rounding_mode,
                                    PyObject* scalar_map_entries, std::string_view source_dtype_name,
                                    std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              IntToFloatStep<S, D>{rounding_mode});
}

template <class S, class D>
    requires is_direct_int_to_float_pair_v<S, D>
Result<py_ref> do_int_to_float_into(PyObject* arr, PyObject* out, PyObject* scalar_map_entries,
                                    std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              DirectPairStep<S, D>{});
}

template <class S, class D>
    requires is_core_int_to_float_pair_v<S, D>
Result<py_ref> do_int_to_float_alloc(PyObject* arr, RoundingMode rounding_mode, PyObject* scalar_map_entries,
                                     std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               IntToFloatStep<S, D>{rounding_mode});
}

template <class S, class D>
    requires is_direct_int_to_float_pair_v<S, D>
Result<py_ref> do_int_to_float_alloc(PyObject* arr, PyObject* scalar_map_entries,
                                     std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               DirectPairStep<S, D>{});
}

// Hands each driver of the pair the parameters of its kind: the rounding mode to a core pair,
// no mode to a direct one.
template <class S, class D>
struct IntToFloatFamily {
    static Result<py_ref> alloc(PyObject* arr, const DriverCall& call) {
        if constexpr (is_direct_int_to_float_pair_v<S, D>) {
            return do_int_to_float_alloc<S, D>(arr, call.scalar_map_entries, call.source_dtype_name,
                                               call.target_dtype_name);
        } else {
            return do_int_to_float_alloc<S, D>(arr, call.rounding_mode, call.scalar_map_entries,
                                               call.source_dtype_name, call.target_dtype_name);
        }
    }
    static Result<py_ref> into(PyObject* arr, PyObject* out, const DriverCall& call) {
        if constexpr (is_direct_int_to_float_pair_v<S, D>) {
            return do_int_to_float_into<S, D>(arr, out, call.scalar_map_entries, call.source_dtype_name,
                                              call.target_dtype_name);
        } else {
            return do_int_to_float_into<S, D>(arr, out, call.rounding_mode, call.scalar_map_entries,
                                              call.source_dtype_name, call.target_dtype_name);
        }
    }
};

constexpr DriverTable<8, 3> kIntToFloatDrivers =
    make_driver_table<IntToFloatFamily>(IntegerElements{}, FloatElements{});

}  // namespace

const DriverTable<8, 3>& int_to_float_drivers() noexcept { return kIntToFloatDrivers; }

}  // namespace pelm_ossrel::py
