// The errors of a scalar-map key or value that does not convert to its element type.
//
// Both are TypeError with the value as repr() writes it (str() when repr() raises) and the
// element type's name; the conversion's own failure is dropped, never chained. When neither
// repr() nor str() of the value can be had, the result is an internal fault.
#pragma once

#include <string>
#include <string_view>

#include "errors.hpp"

namespace pelm_ossrel::py {

// "scalar_map source value {}: expected a value convertible to source dtype {}"
Error source_value_error(PyObject* value_object, std::string_view source_dtype_name,
                         Error conversion_error);

// "scalar_map target value {}: expected a value convertible to target dtype {}"
Error target_value_error(PyObject* value_object, std::string_view target_dtype_name,
                         Error conversion_error);

// `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD, one per maximal subpart
// (so an encoded lone surrogate becomes three); well-formed text is copied unchanged.
std::string replace_ill_formed_utf8(std::string_view bytes);

}  // namespace pelm_ossrel::py
