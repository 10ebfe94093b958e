// The floating-to-floating family: do_float_to_float_into and do_float_to_float_alloc for the
// 9 pairs of floating types.
//
// float32 to float32 and float64 to float64 are direct pairs: a bit copy (the scalar map
// first), no mode, no failure. The other 7, float16 to float16 included, go through the
// core's convert_slice_float_to_float with both modes; only the narrowing pairs (float64 to
// float32, float64 to float16, float32 to float16) can fail, on a finite value that becomes
// an infinity.
#include "float_to_float_drivers.hpp"

#include "config.hpp"
#include "direct_pair.hpp"
#include "driver_frame.hpp"
#include "float_to_float.hpp"

namespace pelm_ossrel::py {
namespace {

template <class S, class D>
struct FloatToFloatStep {
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range;

    CastResult operator()(SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) const noexcept {
        return convert_slice_float_to_float<S, D>(input, output,
                                                  CastConfig<S, D>{map, out_of_range, rounding_mode});
    }
};

template <class S, class D>
    requires is_core_float_to_float_pair_v<S, D>
Result<py_ref> do_float_to_float_into(PyObject* arr, PyObject* out, RoundingMode rounding_mode,
                                      OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries,
                                      std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              FloatToFloatStep<S, D>{rounding_mode, out_of_range_mode});
}

template <class S, class D>
    requires is_direct_float_pair_v<S, D>
Result<py_ref> do_float_to_float_into(PyObject* arr, PyObject* out, PyObject* scalar_map_entries,
                                      std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              DirectPairStep<S, D>{});
}

template <class S, class D>
    requires is_core_float_to_float_pair_v<S, D>
Result<py_ref> do_float_to_float_alloc(PyObject* arr, RoundingMode rounding_mode,
                                       OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries,
                                       std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               FloatToFloatStep<S, D>{rounding_mode, out_of_range_mode});
}

template <class S, class D>
    requires is_direct_float_pair_v<S, D>
Result<py_ref> do_float_to_float_alloc(PyObject* arr, PyObject* scalar_map_entries,
                                       std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               DirectPairStep<S, D>{});
}

// Hands each driver of the pair the parameters of its kind: both modes to a core pair, none
// to a direct one.
template <class S, class D>
struct FloatToFloatFamily {
    static Result<py_ref> alloc(PyObject* arr, const DriverCall& call) {
        if constexpr (is_direct_float_pair_v<S, D>) {
            return do_float_to_float_alloc<S, D>(arr, call.scalar_map_entries, call.source_dtype_name,
                                                 call.target_dtype_name);
        } else {
            return do_float_to_float_alloc<S, D>(arr, call.rounding_mode, call.out_of_range_mode,
                                                 call.scalar_map_entries, call.source_dtype_name,
                                                 call.target_dtype_name);
        }
    }
    static Result<py_ref> into(PyObject* arr, PyObject* out, const DriverCall& call) {
        if constexpr (is_direct_float_pair_v<S, D>) {
            return do_float_to_float_into<S, D>(arr, out, call.scalar_map_entries, call.source_dtype_name,
                                                call.target_dtype_name);
        } else {
            return do_float_to_float_into<S, D>(arr, out, call.rounding_mode, call.out_of_range_mode,
                                                call.scalar_map_entries, call.source_dtype_name,
                                                call.target_dtype_name);
        }
    }
};

constexpr DriverTable<3, 3> kFloatToFloatDrivers =
    make_driver_table<FloatToFloatFamily>(FloatElements{}, FloatElements{});

}  // namespace

const DriverTable<3, 3>& float_to_float_drivers() noexcept { return kFloatToFloatDrivers; }

}  // namespace pelm_ossrel::py
