#include "dtype_name_cache.hpp"

#include <array>
#include <cstddef>

#include "numpy_api.hpp"

namespace pelm_ossrel::py {
namespace {

// Indexed by type number; NumPy's built-in numbers are below this bound.
constexpr int kTypeNumbers = 32;

struct Recorded {
    PyArray_Descr* descr = nullptr;  // NumPy's built-in descriptor: it lives as long as NumPy
    std::string_view name;           // static canonical text
};

std::array<Recorded, kTypeNumbers> g_recorded{};

bool is_exact_ndarray(PyObject* obj) noexcept { return Py_TYPE(obj) == &PyArray_Type; }

}  // namespace

std::optional<std::string_view> recorded_dtype_name(PyObject* arr) noexcept {
    if (!is_exact_ndarray(arr)) return std::nullopt;
    PyArray_Descr* descr = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(arr));
    const int number = descr->type_num;
    if (number < 0 || number >= kTypeNumbers) return std::nullopt;
    const Recorded& entry = g_recorded[static_cast<std::size_t>(number)];
    if (entry.descr != descr) return std::nullopt;
    return entry.name;
}

void record_dtype_name(PyObject* arr, PyObject* dtype, std::string_view canonical) noexcept {
    if (!is_exact_ndarray(arr)) return;
    PyArray_Descr* descr = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(arr));
    if (reinterpret_cast<PyObject*>(descr) != dtype) return;
    const int number = descr->type_num;
    if (number < 0 || number >= kTypeNumbers) return;
    // Only NumPy's own descriptor of that number, whose type's attributes cannot be replaced.
    if ((Py_TYPE(dtype)->tp_flags & Py_TPFLAGS_IMMUTABLETYPE) == 0) return;
    PyArray_Descr* builtin = PyArray_DescrFromType(number);
    if (builtin == nullptr) {
        PyErr_Clear();
        return;
    }
    Py_DECREF(builtin);  // NumPy keeps its built-in descriptors for the life of the process
    if (builtin != descr) return;
    g_recorded[static_cast<std::size_t>(number)] = Recorded{descr, canonical};
}

}  // namespace pelm_ossrel::py
