// The read-only, row-major, typed view of an input array, and the translation of a
// conversion error into an exception.
#pragma once

#include <utility>

#include "borrow_registry.hpp"
#include "cast_error.hpp"
#include "errors.hpp"
#include "numpy_api.hpp"
#include "slice.hpp"

namespace pelm_ossrel::py {

// An accepted input array, pinned for the rest of the call: one strong reference and one
// shared borrow in the borrow registry. Released on destruction: the borrow first, then the
// reference.
class InputHold {
public:
    InputHold(py_ref array, const OssrelBorrowRegistry* registry) noexcept
        : array_(std::move(array)), registry_(registry) {}
    InputHold(InputHold&& other) noexcept
        : array_(std::move(other.array_)), registry_(std::exchange(other.registry_, nullptr)) {}
    InputHold& operator=(InputHold&&) = delete;
    InputHold(const InputHold&) = delete;
    InputHold& operator=(const InputHold&) = delete;
    ~InputHold() { release(); }

    PyArrayObject* array() const noexcept { return reinterpret_cast<PyArrayObject*>(array_.get()); }

private:
    void release() noexcept;

    py_ref array_;
    const OssrelBorrowRegistry* registry_;
};

// The typed view of a held input: its buffer as one run of T elements, read in place.
template <class T>
class InputView {
public:
    explicit InputView(InputHold hold) noexcept : hold_(std::move(hold)) {}

    PyArrayObject* array() const noexcept { return hold_.array(); }
    SrcSlice<T> run() const noexcept { return SrcSlice<T>(PyArray_DATA(array()), element_count(array())); }

private:
    InputHold hold_;
};

// The input checks: the array must be marked row-major (C-contiguous) by NumPy and have the
// native element type of `type_number`; then it is held. Nothing is held on failure.
Result<InputHold> hold_readonly_row_major(PyObject* arr, int type_number);

template <class T>
Result<InputView<T>> readonly_row_major(PyObject* arr) {
    Result<InputHold> hold = hold_readonly_row_major(arr, numpy_type_number<T>());
    if (!hold) return hold.take_error();
    return InputView<T>(hold.take());
}

// A conversion error as ValueError with the error's text.
inline Error cast_error_to_pyerr(const CastError& error) { return Error::value_error(error.message()); }

}  // namespace pelm_ossrel::py
