#include "pending_exception.hpp"

#include <cstring>

namespace pelm_ossrel::py {
namespace {

constexpr const char kFaultTypeName[] = "PanicException";  // its tp_name, without the module

// Whether `exc` is an instance of exactly the internal-fault type. The name test keeps the
// type from being created just to be compared with: an instance of it exists only once the
// type does.
bool is_nested_fault(PyObject* exc) {
    if (std::strcmp(Py_TYPE(exc)->tp_name, kFaultTypeName) != 0) return false;
    PyObject* fault_type = internal_fault_type();
    if (fault_type == nullptr) {
        PyErr_Clear();  // the type could not be created, so exc is not one of it
        return false;
    }
    return reinterpret_cast<PyObject*>(Py_TYPE(exc)) == fault_type;
}

}  // namespace

Error take_pending() {
    PyObject* exc = PyErr_GetRaisedException();
    if (exc != nullptr && is_nested_fault(exc)) PyErr_DisplayException(exc);
    PyErr_SetRaisedException(exc);
    return Error::fetch();
}

void write_unraisable(Error error, PyObject* object) {
    std::move(error).raise();
    if (PyErr_Occurred()) PyErr_WriteUnraisable(object);
}

}  // namespace pelm_ossrel::py
