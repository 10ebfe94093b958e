// Which path a scalar-map argument takes: a mapping is a dict (or subclass of dict) or an
// instance of collections.abc.Mapping; anything else is read as an iterable of pairs.
#pragma once

#include "errors.hpp"

namespace pelm_ossrel::py {

// Whether `object` is read as a mapping. When collections.abc.Mapping cannot be obtained, or
// the instance test raises, the error goes to the interpreter's unraisable hook with `object`
// and the answer is false; the only error returned is an internal fault.
Result<bool> is_scalar_map_mapping(PyObject* object);

}  // namespace pelm_ossrel::py
