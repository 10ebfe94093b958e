// Element types as the module names them: the eleven canonical NumPy names.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "errors.hpp"

namespace pelm_ossrel::py {

// In the order of AllElements (core/src/element_types.hpp): the eight integer types, then the
// three floating types.
inline constexpr std::array<std::string_view, 11> kElementNames = {
    "int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64",
    "float16", "float32", "float64"};
inline constexpr std::size_t kIntegerElementCount = 8;

// The position of `name` in kElementNames (exact, case-sensitive match: length first, then
// bytes), or nothing.
constexpr std::optional<std::size_t> element_index(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kElementNames.size(); ++i) {
        if (kElementNames[i].size() == name.size() && kElementNames[i] == name) return i;
    }
    return std::nullopt;
}

// The canonical name of `arr.dtype.name` (static text), read through ordinary attribute
// lookups; TypeError "Unsupported numpy dtype: {}" for any other name.
Result<std::string_view> array_dtype_key(PyObject* arr);

}  // namespace pelm_ossrel::py
