// Taking a pending exception out of the interpreter while the caller's objects are read.
#pragma once

#include "errors.hpp"

namespace pelm_ossrel::py {

// Error::fetch(), except that an internal fault of a nested call of this module (an exception
// of exactly the internal-fault type, raised inside the caller's code) is first written to
// standard error with its traceback; it then continues as a fault of this call with the same
// text. Every other exception is returned as it is, and SystemError "attempted to fetch
// exception but none was set" when none is pending.
Error take_pending();

// Makes `error` (not a fault) pending again and reports it to the interpreter's unraisable
// hook with `object` as the object concerned; nothing is pending afterwards.
void write_unraisable(Error error, PyObject* object);

}  // namespace pelm_ossrel::py
