// A per-process record of the element-type names of NumPy's built-in descriptors, so that the
// common call does not run NumPy's Python-level `dtype.name` getter every time.
//
// The record is used only where reading `arr.dtype.name` cannot give another answer: `arr` is
// exactly a numpy.ndarray (whose `dtype` is its descriptor, and whose type cannot be changed),
// and its descriptor is NumPy's built-in descriptor of one of the eleven element types, of a
// type that cannot be changed either. The name itself is what the ordinary attribute lookups
// returned the first time such an array was seen.
#pragma once

#include <optional>
#include <string_view>

#include "py_ref.hpp"

namespace pelm_ossrel::py {

// The canonical name recorded for the descriptor of `arr`, or nothing when `arr` does not
// qualify or its descriptor has not been recorded yet. Needs NumPy's function table.
std::optional<std::string_view> recorded_dtype_name(PyObject* arr) noexcept;

// Records `canonical`, the name just read through `arr.dtype.name` with `dtype` being the object
// that `arr.dtype` returned, when `arr` and `dtype` qualify; otherwise does nothing.
void record_dtype_name(PyObject* arr, PyObject* dtype, std::string_view canonical) noexcept;

}  // namespace pelm_ossrel::py
