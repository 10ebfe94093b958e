#include "builtin_dtype_name.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include "dtype.hpp"
#include "numpy_api.hpp"

namespace pelm_ossrel::py {
namespace {

// Type numbers are looked up below this bound; NumPy's built-in numbers of the eleven element
// types (and of their C-type aliases) all are.
constexpr int kTypeNumbers = 32;

// The position in kElementNames of an integer type of `size` bytes.
constexpr std::size_t integer_index(std::size_t size, bool is_signed) noexcept {
    const std::size_t width_rank = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
    return 2 * width_rank + (is_signed ? 0 : 1);
}

constexpr std::size_t kNoElement = 0xFF;

// The element type of each built-in type number, by the size of its C type: char, short, int,
// long and long long in both signs (NumPy's intp is one of these), float, double, half.
constexpr std::array<std::size_t, kTypeNumbers> make_element_of_number() noexcept {
    std::array<std::size_t, kTypeNumbers> table{};
    for (std::size_t& entry : table) entry = kNoElement;
    table[NPY_BYTE] = integer_index(sizeof(signed char), true);
    table[NPY_UBYTE] = integer_index(sizeof(unsigned char), false);
    table[NPY_SHORT] = integer_index(sizeof(short), true);
    table[NPY_USHORT] = integer_index(sizeof(unsigned short), false);
    table[NPY_INT] = integer_index(sizeof(int), true);
    table[NPY_UINT] = integer_index(sizeof(unsigned int), false);
    table[NPY_LONG] = integer_index(sizeof(long), true);
    table[NPY_ULONG] = integer_index(sizeof(unsigned long), false);
    table[NPY_LONGLONG] = integer_index(sizeof(long long), true);
    table[NPY_ULONGLONG] = integer_index(sizeof(unsigned long long), false);
    table[NPY_HALF] = kIntegerElementCount;
    table[NPY_FLOAT] = kIntegerElementCount + 1;
    table[NPY_DOUBLE] = kIntegerElementCount + 2;
    return table;
}

constexpr std::array<std::size_t, kTypeNumbers> kElementOfNumber = make_element_of_number();
static_assert(kElementNames[kElementOfNumber[NPY_LONGLONG]] == "int64");
static_assert(kElementNames[kElementOfNumber[NPY_ULONG]] == "uint64");
static_assert(kElementNames[kElementOfNumber[NPY_HALF]] == "float16");

// NumPy's built-in descriptor of each type number, obtained on first sight of the number. NumPy
// keeps these for the life of the process.
std::array<PyArray_Descr*, kTypeNumbers> g_builtin{};

bool is_exact_ndarray(PyObject* obj) noexcept { return Py_TYPE(obj) == &PyArray_Type; }

}  // namespace

std::optional<std::string_view> builtin_dtype_name(PyObject* arr) noexcept {
    if (!is_exact_ndarray(arr)) return std::nullopt;
    PyArray_Descr* descr = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(arr));
    const int number = descr->type_num;
    if (number < 0 || number >= kTypeNumbers) return std::nullopt;
    const auto index = static_cast<std::size_t>(number);
    const std::size_t element = kElementOfNumber[index];
    if (element == kNoElement) return std::nullopt;
    PyArray_Descr*& builtin = g_builtin[index];
    if (builtin == nullptr) {
        PyArray_Descr* obtained = PyArray_DescrFromType(number);
        if (obtained == nullptr) {
            PyErr_Clear();  // the name is then read through the attribute lookups
            return std::nullopt;
        }
        Py_DECREF(obtained);  // NumPy keeps its built-in descriptors
        builtin = obtained;
    }
    if (builtin != descr) return std::nullopt;
    return kElementNames[element];
}

}  // namespace pelm_ossrel::py
