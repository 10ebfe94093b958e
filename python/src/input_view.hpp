// The read-only, row-major, typed view of an input array, and the translation of a
// conversion error into an exception.
#pragma once

#include <cstddef>
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
//
// The run to convert is fixed when the array is held: its data pointer and its element count
// at that moment. The caller's code that runs later in the call (the scalar map's objects) may
// change the array's dtype, shape or strides, or even replace or shrink its buffer; none of
// that changes what the call reads, and a buffer that is no longer the held one is never read.
class InputHold {
public:
    InputHold(py_ref array, const OssrelBorrowRegistry* registry) noexcept
        : array_(std::move(array)), registry_(registry), data_(PyArray_DATA(this->array())),
          count_(element_count(this->array())) {}
    InputHold(InputHold&& other) noexcept
        : array_(std::move(other.array_)), registry_(std::exchange(other.registry_, nullptr)),
          data_(other.data_), count_(other.count_) {}
    InputHold& operator=(InputHold&&) = delete;
    InputHold(const InputHold&) = delete;
    InputHold& operator=(const InputHold&) = delete;
    ~InputHold() { release(); }

    PyArrayObject* array() const noexcept { return reinterpret_cast<PyArrayObject*>(array_.get()); }
    // The data pointer and element count taken when the array was held.
    const void* data() const noexcept { return data_; }
    std::size_t count() const noexcept { return count_; }

    // Whether the array still has the held buffer: the same data pointer, and at least
    // count() elements of `item_size` bytes as its extents and element size now describe it.
    bool keeps_buffer(std::size_t item_size) const noexcept;

private:
    void release() noexcept;

    py_ref array_;
    const OssrelBorrowRegistry* registry_;
    const void* data_;
    std::size_t count_;
};

// The internal fault of a held input whose buffer was replaced or shrunk meanwhile.
Error held_buffer_lost();

// The typed view of a held input: the held run of T elements, read in place.
template <class T>
class InputView {
public:
    explicit InputView(InputHold hold) noexcept : hold_(std::move(hold)) {}

    PyArrayObject* array() const noexcept { return hold_.array(); }
    // The held run, once it is confirmed that the array still has the held buffer; an internal
    // fault otherwise, and then no byte of the buffer is read.
    Result<SrcSlice<T>> run() const {
        if (!hold_.keeps_buffer(sizeof(T))) return held_buffer_lost();
        return SrcSlice<T>(hold_.data(), hold_.count());
    }

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
