#include "mapping_check.hpp"

#include "default_float_control.hpp"
#include "pending_exception.hpp"
#include "py_ref.hpp"

namespace pelm_ossrel::py {
namespace {

// collections.abc.Mapping, held from the first successful fetch for the life of the process.
PyObject* g_mapping_class = nullptr;

Result<PyObject*> mapping_class() {
    if (g_mapping_class != nullptr) return g_mapping_class;
    const DefaultFloatControl control;  // the first fetch may import the module
    py_ref module_name = py_ref::steal(PyUnicode_FromString("collections.abc"));
    if (!module_name) return take_pending();
    py_ref module = py_ref::steal(PyImport_Import(module_name.get()));
    if (!module) return take_pending();
    py_ref cls = py_ref::steal(PyObject_GetAttrString(module.get(), "Mapping"));
    if (!cls) return take_pending();
    if (!PyType_Check(cls.get())) return Error::cannot_convert(cls.get(), "PyType");
    // The import may have let another thread store the class meanwhile; that one stays.
    if (g_mapping_class == nullptr) g_mapping_class = cls.release();
    return g_mapping_class;
}

}  // namespace

Result<bool> is_scalar_map_mapping(PyObject* object) {
    if (PyDict_Check(object)) return true;
    Result<PyObject*> cls = mapping_class();
    if (cls) {
        const int answer = PyObject_IsInstance(object, cls.value());
        if (answer >= 0) return answer == 1;
    }
    Error error = cls ? take_pending() : cls.take_error();
    if (error.is_fault()) return error;
    write_unraisable(std::move(error), object);
    return false;
}

}  // namespace pelm_ossrel::py
