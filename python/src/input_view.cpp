#include "input_view.hpp"

#include <string>

namespace pelm_ossrel::py {

void InputHold::release() noexcept {
    if (!array_) return;
    if (registry_ != nullptr) {
        // Giving a borrow back cannot fail the call; a registry that refuses is reported as
        // unraisable, and whatever exception was pending is kept.
        PyObject* pending = PyErr_GetRaisedException();
        const int code = registry_->release_shared(registry_->state, array_.get());
        if (code != kBorrowDone) {
            if (code != kBorrowFailed || !PyErr_Occurred()) {
                PyErr_Format(PyExc_RuntimeError,
                             "the borrow registry answered %d when a shared borrow was given back", code);
            }
            PyErr_WriteUnraisable(array_.get());
        }
        PyErr_SetRaisedException(pending);
        registry_ = nullptr;
    }
    array_.reset();
}

bool InputHold::keeps_buffer(std::size_t item_size) const noexcept {
    PyArrayObject* arr = array();
    if (PyArray_DATA(arr) != data_) return false;
    std::size_t held_bytes = 0;
    if (__builtin_mul_overflow(count_, item_size, &held_bytes)) return false;
    std::size_t bytes = static_cast<std::size_t>(descr_element_size(PyArray_DESCR(arr)));
    const int nd = PyArray_NDIM(arr);
    const npy_intp* dims = PyArray_DIMS(arr);
    for (int i = 0; i < nd; ++i) {
        if (__builtin_mul_overflow(bytes, static_cast<std::size_t>(dims[i]), &bytes)) return true;
    }
    return bytes >= held_bytes;
}

Error held_buffer_lost() {
    return Error::fault("the input array's buffer was replaced or shrunk while the call held it; "
                        "the borrow of the input is broken");
}

Result<InputHold> hold_readonly_row_major(PyObject* arr, int type_number) {
    if (!is_ndarray(arr)) return Error::cannot_convert(arr, "PyArray<T, D>");
    auto* array = reinterpret_cast<PyArrayObject*>(arr);
    if ((PyArray_FLAGS(array) & NPY_ARRAY_C_CONTIGUOUS) == 0) {
        return Error::value_error("Input array must be row-major (C-contiguous)");
    }
    Result<bool> native = has_native_element_type(array, type_number);
    if (!native) return native.take_error();
    if (!native.value()) return Error::cannot_convert(arr, "PyArray<T, D>");

    Result<const OssrelBorrowRegistry*> registry = borrow_registry();
    if (!registry) return registry.take_error();
    const OssrelBorrowRegistry* reg = registry.value();

    py_ref ref = py_ref::borrow(arr);
    const int code = reg->acquire_shared(reg->state, arr);
    if (code == kBorrowDone) return InputHold(std::move(ref), reg);
    if (code == kBorrowRefused) {
        return Error::fault("cannot borrow the input array for reading: the borrow registry "
                            "reports that it is borrowed for writing elsewhere");
    }
    if (code == kBorrowFailed) {
        return fault_from_pending("the borrow registry failed to lend the input array for reading");
    }
    return Error::fault("the borrow registry answered " + std::to_string(code) +
                        " when the input array was borrowed for reading");
}

}  // namespace pelm_ossrel::py
