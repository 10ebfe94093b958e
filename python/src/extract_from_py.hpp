// ExtractFromPy: one Python object, borrowed, as a value of one element type, or the failure
// that prevents it.
//
// The integer types take Python integers and objects with __index__ (never a float, not even
// an integral one); the floating types take anything the interpreter converts to a float,
// narrowed from binary64 to nearest, ties to even (float16 through binary32: two roundings).
// A failure carries the exception taken out of the interpreter, or a range error of its own
// that is never raised; in both cases nothing is left pending. An internal fault of a nested
// call comes back as a fault. Each object costs at most one conversion call (two for uint64's
// index step); an exact float is read without any. The caller's conversion methods run under
// the caller's own floating-point control; the narrowing and every test of a value read from
// them under the default one (default_float_control.hpp), as the conversions themselves.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "default_float_control.hpp"
#include "element_types.hpp"
#include "errors.hpp"
#include "f16.hpp"
#include "pending_exception.hpp"
#include "py_ref.hpp"

namespace pelm_ossrel::py {

template <class T>
struct ExtractFromPy;

namespace detail {

// A value outside the element type's range. It is handed to the scalar-map value error,
// which drops it unseen.
inline Error out_of_range_failure() {
    return Error::of(PyExc_OverflowError, "out of range integral type conversion attempted");
}

}  // namespace detail

// int8, uint8, int16, uint16, int32, uint32 and int64: the interpreter's signed 64-bit
// conversion, then the type's range.
template <class T>
    requires(is_integer_element_v<T> && !std::is_same_v<T, std::uint64_t>)
struct ExtractFromPy<T> {
    static_assert(sizeof(long) == sizeof(std::int64_t), "PyLong_AsLong must cover int64");

    static Result<T> extract_from_py(PyObject* object) {
        const long v = PyLong_AsLong(object);
        if (v == -1 && PyErr_Occurred()) return take_pending();
        if (!std::in_range<T>(v)) return detail::out_of_range_failure();
        return static_cast<T>(v);
    }
};

// uint64: the unsigned 64-bit conversion, through the object's __index__ unless it is an int.
template <>
struct ExtractFromPy<std::uint64_t> {
    static Result<std::uint64_t> extract_from_py(PyObject* object) {
        py_ref index;  // the result of __index__, kept until the conversion has been checked
        PyObject* integer = object;
        if (!PyLong_Check(object)) {
            index = py_ref::steal(PyNumber_Index(object));
            if (!index) return take_pending();
            integer = index.get();
        }
        const unsigned long long v = PyLong_AsUnsignedLongLong(integer);
        if (v == std::numeric_limits<unsigned long long>::max() && PyErr_Occurred()) {
            return take_pending();
        }
        return static_cast<std::uint64_t>(v);
    }
};

// float64: an exact float's stored value; anything else through the interpreter's float
// conversion (a float subclass's stored value, __float__, or __index__).
template <>
struct ExtractFromPy<double> {
    static Result<double> extract_from_py(PyObject* object) {
        if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
        const double v = PyFloat_AsDouble(object);
        // By the pattern: a floating comparison with a signalling NaN would raise the invalid
        // exception, which the caller's control may have unmasked.
        if (std::bit_cast<std::uint64_t>(v) == std::bit_cast<std::uint64_t>(-1.0) && PyErr_Occurred()) {
            return take_pending();
        }
        return v;
    }
};

namespace detail {

// The binary64 value narrowed to F (float32, or float16 through float32) to nearest, ties to even,
// under the default floating-point control; beyond the range an infinity.
template <class F>
F narrowed(double wide) noexcept {
    const DefaultFloatControl control;
    const float narrow = static_cast<float>(fenced(wide));
    if constexpr (std::is_same_v<F, f16>) return fenced(f32_to_f16(narrow));
    else return fenced(narrow);
}

}  // namespace detail

// float32 and float16: the float64 value narrowed (detail::narrowed), never a failure of its own.
template <class T>
    requires(std::is_same_v<T, float> || std::is_same_v<T, f16>)
struct ExtractFromPy<T> {
    static Result<T> extract_from_py(PyObject* object) {
        Result<double> wide = ExtractFromPy<double>::extract_from_py(object);
        if (!wide) return wide.take_error();
        return detail::narrowed<T>(wide.value());
    }
};

}  // namespace pelm_ossrel::py
