// The one translation unit that defines NumPy's table pointer and runtime feature version.
#define PELM_OSSREL_DEFINE_NUMPY_API
#include "numpy_api.hpp"

#include <optional>

#include "default_float_control.hpp"

namespace pelm_ossrel::py {
namespace {

std::optional<std::string> g_multiarray_path;  // kept once obtained
bool g_feature_version_known = false;

// NumPy's major version as numpy.lib.NumpyVersion parses numpy.__version__.
Result<unsigned> numpy_major_version() {
    py_ref numpy = py_ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return fault_from_pending("cannot import numpy");
    py_ref version = py_ref::steal(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return fault_from_pending("cannot read numpy.__version__");
    py_ref lib = py_ref::steal(PyImport_ImportModule("numpy.lib"));
    if (!lib) return fault_from_pending("cannot import numpy.lib");
    py_ref parser = py_ref::steal(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
    if (!parser) return fault_from_pending("cannot read numpy.lib.NumpyVersion");
    py_ref parsed = py_ref::steal(PyObject_CallOneArg(parser.get(), version.get()));
    if (!parsed) return fault_from_pending("cannot parse numpy.__version__");
    py_ref major = py_ref::steal(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major) return fault_from_pending("cannot read the major version of NumPy");
    const unsigned long value = PyLong_AsUnsignedLong(major.get());
    if (value == static_cast<unsigned long>(-1) && PyErr_Occurred()) {
        return fault_from_pending("cannot read the major version of NumPy as an unsigned 8-bit integer");
    }
    if (value > 0xFF) {
        return Error::fault("the major version of NumPy does not fit in an unsigned 8-bit integer");
    }
    return static_cast<unsigned>(value);
}

}  // namespace

Result<const std::string*> numpy_multiarray_path() {
    if (!g_multiarray_path) {
        // NumPy's own Python code (its version parser) runs here on the module's first use, under
        // the default floating-point control that the interpreter expects, not the caller's.
        const DefaultFloatControl control;
        Result<unsigned> major = numpy_major_version();
        if (!major) return major.take_error();
        g_multiarray_path = major.value() >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
    }
    return &*g_multiarray_path;
}

Result<py_ref> import_multiarray() {
    Result<const std::string*> path = numpy_multiarray_path();
    if (!path) return path.take_error();
    py_ref module = py_ref::steal(PyImport_ImportModule(path.value()->c_str()));
    if (!module) return fault_from_pending("cannot import " + *path.value());
    return module;
}

Result<void> ensure_numpy_api() {
    if (PyArray_API != nullptr) return {};
    const DefaultFloatControl control;  // the first use imports NumPy's modules
    Result<py_ref> multiarray = import_multiarray();
    if (!multiarray) return multiarray.take_error();
    py_ref capsule = py_ref::steal(PyObject_GetAttrString(multiarray.value().get(), "_ARRAY_API"));
    if (!capsule) return fault_from_pending("cannot read NumPy's _ARRAY_API");
    if (!PyCapsule_CheckExact(capsule.get())) {
        return Error::fault("NumPy's _ARRAY_API is not a capsule");
    }
    void* table = PyCapsule_GetPointer(capsule.get(), PyCapsule_GetName(capsule.get()));
    if (table == nullptr) {
        if (PyErr_Occurred()) return fault_from_pending("cannot read NumPy's _ARRAY_API capsule");
        return Error::fault("NumPy's _ARRAY_API capsule holds no function table");
    }
    PyArray_API = static_cast<void**>(table);
    return {};
}

bool numpy_api_ready() noexcept { return PyArray_API != nullptr; }

npy_intp descr_element_size(PyArray_Descr* descr) noexcept {
    if (!g_feature_version_known) {
        // Above 0x11 the descriptors have NumPy 2's layout; the element-size helper reads this.
        PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
        g_feature_version_known = true;
    }
    return PyDataType_ELSIZE(descr);
}

Result<bool> has_native_element_type(PyArrayObject* arr, int type_number) {
    PyArray_Descr* native = PyArray_DescrFromType(type_number);
    if (native == nullptr) {
        print_pending_error();
        return Error::fault("NumPy returned no descriptor for type number " + std::to_string(type_number));
    }
    py_ref hold = py_ref::steal(reinterpret_cast<PyObject*>(native));
    PyArray_Descr* own = PyArray_DESCR(arr);
    return own == native || PyArray_EquivTypes(own, native) != 0;
}

bool has_row_major_strides(PyArrayObject* arr, npy_intp item_size) noexcept {
    const int nd = PyArray_NDIM(arr);
    const npy_intp* dims = PyArray_DIMS(arr);
    const npy_intp* strides = PyArray_STRIDES(arr);
    npy_intp expected = item_size;
    for (int i = nd - 1; i >= 0; --i) {
        if (dims[i] == 1) continue;
        if (strides[i] != expected) return false;
        if (__builtin_mul_overflow(expected, dims[i], &expected)) return false;
    }
    return true;
}

}  // namespace pelm_ossrel::py
