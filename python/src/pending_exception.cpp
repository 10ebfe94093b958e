#include "pending_exception.hpp"

namespace pelm_ossrel::py {

Error take_pending() {
    PyObject* exc = PyErr_GetRaisedException();
    if (exc != nullptr && is_internal_fault(exc)) PyErr_DisplayException(exc);
    PyErr_SetRaisedException(exc);
    return Error::fetch();
}

void write_unraisable(Error error, PyObject* object) {
    std::move(error).raise();
    if (PyErr_Occurred()) PyErr_WriteUnraisable(object);
}

}  // namespace pelm_ossrel::py
