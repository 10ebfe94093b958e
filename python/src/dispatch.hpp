// The bodies of the two module functions and the selection of the typed driver of a pair.
#pragma once

#include <string_view>

#include "errors.hpp"
#include "modes.hpp"

namespace pelm_ossrel::py {

// cast_array: the new array of the target type, or an error. Objects are borrowed;
// scalar_map_entries is nullptr when none was given.
Result<py_ref> cast_array(PyObject* arr, std::string_view target_dtype, RoundingMode rounding_mode,
                          OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries);

// cast_array_into: None, or an error.
Result<py_ref> cast_array_into(PyObject* arr, PyObject* out, RoundingMode rounding_mode,
                               OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries);

// The allocating driver of (source, target): the source name is canonical; a target that is not
// one of the eleven names fails with TypeError "Unsupported target dtype: {}".
Result<py_ref> dispatch_alloc(PyObject* arr, std::string_view source_dtype_name,
                              std::string_view target_dtype_name, RoundingMode rounding_mode,
                              OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries);

// The into driver of (source, target); both names are canonical.
Result<py_ref> dispatch_into(PyObject* arr, PyObject* out, std::string_view source_dtype_name,
                             std::string_view target_dtype_name, RoundingMode rounding_mode,
                             OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries);

}  // namespace pelm_ossrel::py
