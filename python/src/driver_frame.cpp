#include "driver_frame.hpp"

#include <string>

namespace pelm_ossrel::py {
namespace {

constexpr int kMaxConvertedAxes = 32;

Error too_many_axes(const char* what, int nd) {
    return Error::fault(std::string(what) + " has " + std::to_string(nd) + " axes; at most " +
                        std::to_string(kMaxConvertedAxes) + " are supported");
}

}  // namespace

Result<OutputState> check_caller_output(PyObject* out, int type_number, npy_intp item_size) {
    if (!is_ndarray(out)) return Error::cannot_convert(out, "PyArray<T, D>");
    auto* arr = reinterpret_cast<PyArrayObject*>(out);
    Result<bool> native = has_native_element_type(arr, type_number);
    if (!native) return native.take_error();
    if (!native.value()) return Error::cannot_convert(out, "PyArray<T, D>");
    if (has_empty_axis(arr)) return OutputState::Empty;
    if (PyArray_NDIM(arr) > kMaxConvertedAxes) return too_many_axes("the output array", PyArray_NDIM(arr));
    if ((PyArray_FLAGS(arr) & NPY_ARRAY_WRITEABLE) == 0 || !has_row_major_strides(arr, item_size)) {
        return Error::value_error("Output array must be row-major (C-contiguous) and writeable");
    }
    return OutputState::Ready;
}

Result<py_ref> new_output_like(PyArrayObject* arr, int type_number) {
    PyArray_Descr* descr = PyArray_DescrFromType(type_number);
    if (descr == nullptr) {
        print_pending_error();
        return Error::fault("NumPy returned no descriptor for type number " + std::to_string(type_number));
    }
    // PyArray_Empty takes over the descriptor's reference, also when it fails.
    py_ref created = py_ref::steal(PyArray_Empty(PyArray_NDIM(arr), PyArray_DIMS(arr), descr, 0));
    if (!created) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) return Error::fetch();
        print_pending_error();
        return Error::fault("NumPy returned no array for the output");
    }
    return created;
}

Result<void> check_new_output(PyArrayObject* arr, npy_intp item_size) {
    if (PyArray_NDIM(arr) > kMaxConvertedAxes) return too_many_axes("the new array", PyArray_NDIM(arr));
    if (!has_row_major_strides(arr, item_size)) {
        return Error::value_error("Failed to get mutable slice from output array");
    }
    return {};
}

}  // namespace pelm_ossrel::py
