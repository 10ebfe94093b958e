// The argument wrappers of the two module functions: binding of the vectorcall arguments to the
// parameters, conversion of each bound value, then the function body.
#pragma once

#include "errors.hpp"

namespace pelm_ossrel::py {

// cast_array(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)
Result<py_ref> __pyfunction_cast_array(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// cast_array_into(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)
Result<py_ref> __pyfunction_cast_array_into(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace pelm_ossrel::py
