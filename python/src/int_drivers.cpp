// The integer family: do_int_to_int_into and do_int_to_int_alloc for the 64 integer pairs.
//
// The 38 pairs whose target cannot hold every source value go through the core's
// convert_slice_int_to_int with the out-of-range mode; the 26 direct pairs convert themselves
// (convert_direct_pair) and take no mode. No integer pair takes a rounding mode.
#include "int_drivers.hpp"

#include "config.hpp"
#include "direct_pair.hpp"
#include "driver_frame.hpp"
#include "int_to_int.hpp"

namespace pelm_ossrel::py {
namespace {

template <class S, class D>
struct IntToIntStep {
    OptionalOutOfRangeMode out_of_range;

    CastResult operator()(SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) const noexcept {
        return convert_slice_int_to_int<S, D>(input, output, IntToIntConfig<S, D>{map, out_of_range});
    }
};

template <class S, class D>
    requires is_core_int_pair_v<S, D>
Result<py_ref> do_int_to_int_into(PyObject* arr, PyObject* out, OptionalOutOfRangeMode out_of_range_mode,
                                  PyObject* scalar_map_entries, std::string_view source_dtype_name,
                                  std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              IntToIntStep<S, D>{out_of_range_mode});
}

template <class S, class D>
    requires is_direct_int_pair_v<S, D>
Result<py_ref> do_int_to_int_into(PyObject* arr, PyObject* out, PyObject* scalar_map_entries,
                                  std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_into<S, D>(arr, out, scalar_map_entries, source_dtype_name, target_dtype_name,
                              DirectPairStep<S, D>{});
}

template <class S, class D>
    requires is_core_int_pair_v<S, D>
Result<py_ref> do_int_to_int_alloc(PyObject* arr, OptionalOutOfRangeMode out_of_range_mode,
                                   PyObject* scalar_map_entries, std::string_view source_dtype_name,
                                   std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               IntToIntStep<S, D>{out_of_range_mode});
}

template <class S, class D>
    requires is_direct_int_pair_v<S, D>
Result<py_ref> do_int_to_int_alloc(PyObject* arr, PyObject* scalar_map_entries,
                                   std::string_view source_dtype_name, std::string_view target_dtype_name) {
    return convert_alloc<S, D>(arr, scalar_map_entries, source_dtype_name, target_dtype_name,
                               DirectPairStep<S, D>{});
}

// Hands each driver of the pair the parameters of its kind.
template <class S, class D>
struct IntToIntFamily {
    static Result<py_ref> alloc(PyObject* arr, const DriverCall& call) {
        if constexpr (is_direct_int_pair_v<S, D>) {
            return do_int_to_int_alloc<S, D>(arr, call.scalar_map_entries, call.source_dtype_name,
                                             call.target_dtype_name);
        } else {
            return do_int_to_int_alloc<S, D>(arr, call.out_of_range_mode, call.scalar_map_entries,
                                             call.source_dtype_name, call.target_dtype_name);
        }
    }
    static Result<py_ref> into(PyObject* arr, PyObject* out, const DriverCall& call) {
        if constexpr (is_direct_int_pair_v<S, D>) {
            return do_int_to_int_into<S, D>(arr, out, call.scalar_map_entries, call.source_dtype_name,
                                            call.target_dtype_name);
        } else {
            return do_int_to_int_into<S, D>(arr, out, call.out_of_range_mode, call.scalar_map_entries,
                                            call.source_dtype_name, call.target_dtype_name);
        }
    }
};

constexpr DriverTable<8, 8> kIntToIntDrivers =
    make_driver_table<IntToIntFamily>(IntegerElements{}, IntegerElements{});

}  // namespace

const DriverTable<8, 8>& int_to_int_drivers() noexcept { return kIntToIntDrivers; }

}  // namespace pelm_ossrel::py
