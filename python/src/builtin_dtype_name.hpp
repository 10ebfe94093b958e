// The element-type name of an exact ndarray whose descriptor is one of NumPy's built-in native
// descriptors, derived from the descriptor's type number, so that the common call does not run
// NumPy's Python-level `dtype.name` getter.
//
// It applies only where reading `arr.dtype.name` cannot give another answer than NumPy's own:
// `arr` is exactly a numpy.ndarray (whose `dtype` is its descriptor, and whose type cannot be
// changed), and its descriptor is the very object NumPy gives for its type number. Every other
// array has its name read through the ordinary attribute lookups. Nothing that Python code
// returns is recorded.
#pragma once

#include <optional>
#include <string_view>

#include "py_ref.hpp"

namespace pelm_ossrel::py {

// The canonical name (static text) of the descriptor of `arr`, or nothing when `arr` is not an
// exact ndarray with a built-in native descriptor of one of the eleven element types. Needs
// NumPy's function table.
std::optional<std::string_view> builtin_dtype_name(PyObject* arr) noexcept;

}  // namespace pelm_ossrel::py
