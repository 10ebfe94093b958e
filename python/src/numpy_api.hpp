// NumPy's C interface: the function table, obtained at run time, and what depends on it.
//
// Built against NumPy 2 headers with a NumPy 1.22 target, so that one build runs on NumPy 1.x
// and 2.x. The table pointer and the runtime feature version that the headers read are defined
// in numpy_api.cpp and filled on first use (never through import_array()).
#pragma once

#include "py_ref.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL pelm_ossrel_py_ARRAY_API
#ifndef PELM_OSSREL_DEFINE_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "errors.hpp"
#include "f16.hpp"

namespace pelm_ossrel::py {

// NumPy's type number of each element type.
template <class T>
constexpr int numpy_type_number() noexcept {
    static_assert(sizeof(long) == 8, "NPY_LONG and NPY_ULONG must be the 64-bit types");
    if constexpr (std::is_same_v<T, std::int8_t>) return 1;         // NPY_BYTE
    else if constexpr (std::is_same_v<T, std::uint8_t>) return 2;   // NPY_UBYTE
    else if constexpr (std::is_same_v<T, std::int16_t>) return 3;   // NPY_SHORT
    else if constexpr (std::is_same_v<T, std::uint16_t>) return 4;  // NPY_USHORT
    else if constexpr (std::is_same_v<T, std::int32_t>) return 5;   // NPY_INT
    else if constexpr (std::is_same_v<T, std::uint32_t>) return 6;  // NPY_UINT
    else if constexpr (std::is_same_v<T, std::int64_t>) return 7;   // NPY_LONG
    else if constexpr (std::is_same_v<T, std::uint64_t>) return 8;  // NPY_ULONG
    else if constexpr (std::is_same_v<T, float>) return 11;         // NPY_FLOAT
    else if constexpr (std::is_same_v<T, double>) return 12;        // NPY_DOUBLE
    else {
        static_assert(std::is_same_v<T, f16>, "not an element type");
        return 23;  // NPY_HALF
    }
}

// The multiarray module's name: "numpy._core.multiarray" for NumPy 2 and later,
// "numpy.core.multiarray" before. Obtained once; an internal fault when NumPy cannot be read.
Result<const std::string*> numpy_multiarray_path();

// NumPy's multiarray module (a new reference), or an internal fault.
Result<py_ref> import_multiarray();

// Makes NumPy's function table available (obtained once, on first use); an internal fault
// when it cannot be obtained. Every use of the table goes after a successful call.
Result<void> ensure_numpy_api();

// True when the table has been obtained (for code that runs only after ensure_numpy_api()).
bool numpy_api_ready() noexcept;

// The element size of a descriptor, in the descriptor layout of the running NumPy (the
// runtime feature version is read from the table on first use).
npy_intp descr_element_size(PyArray_Descr* descr) noexcept;

// Whether `arr` is a NumPy array (ndarray or a subtype). Needs the table.
inline bool is_ndarray(PyObject* obj) noexcept { return PyArray_Check(obj) != 0; }

// Whether the descriptor of `arr` is, or is equivalent to, the native descriptor of
// `type_number`; an internal fault when NumPy returns no descriptor.
Result<bool> has_native_element_type(PyArrayObject* arr, int type_number);

// The product of the extents (1 for rank 0), as NumPy keeps it within range.
inline std::size_t element_count(PyArrayObject* arr) noexcept {
    std::size_t n = 1;
    const int nd = PyArray_NDIM(arr);
    const npy_intp* dims = PyArray_DIMS(arr);
    for (int i = 0; i < nd; ++i) n *= static_cast<std::size_t>(dims[i]);
    return n;
}

// Whether some extent is 0.
inline bool has_empty_axis(PyArrayObject* arr) noexcept {
    const int nd = PyArray_NDIM(arr);
    const npy_intp* dims = PyArray_DIMS(arr);
    for (int i = 0; i < nd; ++i) {
        if (dims[i] == 0) return true;
    }
    return false;
}

// Whether the byte strides of `arr` form one row-major run of elements of `item_size` bytes
// (axes of extent 1 are skipped; no axes pass).
bool has_row_major_strides(PyArrayObject* arr, npy_intp item_size) noexcept;

}  // namespace pelm_ossrel::py
