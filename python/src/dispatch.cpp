#include "dispatch.hpp"

#include <string>
#include <vector>

#include "driver_table.hpp"
#include "builtin_dtype_name.hpp"
#include "dtype.hpp"
#include "interned.hpp"
#include "numpy_api.hpp"

namespace pelm_ossrel::py {
namespace {

InternedName g_dtype_attribute("dtype");
InternedName g_name_attribute("name");

// Second level of the selection: the drivers of the pair, from the table of its family.
// Indices are positions in kElementNames; a floating side's row or column is offset by
// kIntegerElementCount in its family's table.
PairDrivers drivers_of(std::size_t source, std::size_t target) noexcept {
    constexpr std::size_t k = kIntegerElementCount;
    const bool floating_source = source >= k;
    const bool floating_target = target >= k;
    if (!floating_source && !floating_target) return int_to_int_drivers()[source][target];
    if (!floating_target) return float_to_int_drivers()[source - k][target];
    if (!floating_source) return int_to_float_drivers()[source][target - k];
    return float_to_float_drivers()[source - k][target - k];
}

// "[2, 3]", "[]" for rank 0.
std::string render_shape(const std::vector<npy_intp>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (i != 0) text += ", ";
        text += std::to_string(static_cast<std::size_t>(shape[i]));
    }
    text += "]";
    return text;
}

std::vector<npy_intp> shape_of(PyObject* arr) {
    auto* a = reinterpret_cast<PyArrayObject*>(arr);
    return std::vector<npy_intp>(PyArray_DIMS(a), PyArray_DIMS(a) + PyArray_NDIM(a));
}

// The errors below are built out of line: their strings would otherwise take room in the frames
// of cast_array, cast_array_into and the dispatchers, which stay on the stack while the
// scalar map's code runs (and may call the module again).

[[gnu::noinline]] Error shape_mismatch(PyObject* arr, PyObject* out) {
    return Error::value_error("Shape mismatch: input shape " + render_shape(shape_of(arr)) +
                              " != output shape " + render_shape(shape_of(out)));
}

[[gnu::noinline]] Error unsupported_target(std::string_view target_dtype_name) {
    return Error::type_error("Unsupported target dtype: " + std::string(target_dtype_name));
}

[[gnu::noinline]] Error not_canonical(const char* what) {
    return Error::fault(std::string("dispatch received ") + what + " that is not canonical");
}

// The element-type key read from `arr.dtype.name`.
[[gnu::noinline]] Result<std::string_view> dtype_key_by_name(PyObject* arr) {
    PyObject* const dtype_attribute = g_dtype_attribute.get();
    if (dtype_attribute == nullptr) return Error::fetch();
    py_ref dtype = py_ref::steal(PyObject_GetAttr(arr, dtype_attribute));
    if (!dtype) return Error::fetch();
    PyObject* const name_attribute = g_name_attribute.get();
    if (name_attribute == nullptr) return Error::fetch();
    py_ref name = py_ref::steal(PyObject_GetAttr(dtype.get(), name_attribute));
    if (!name) return Error::fetch();
    if (!PyUnicode_Check(name.get())) return Error::cannot_convert(name.get(), "PyString");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (text == nullptr) return Error::fetch();
    const std::string_view read(text, static_cast<std::size_t>(size));
    if (const auto index = element_index(read)) return kElementNames[*index];
    return Error::type_error("Unsupported numpy dtype: " + std::string(read));
}

// The same number of axes and the same extents.
bool same_shape(PyObject* arr, PyObject* out) noexcept {
    auto* a = reinterpret_cast<PyArrayObject*>(arr);
    auto* b = reinterpret_cast<PyArrayObject*>(out);
    const int nd = PyArray_NDIM(a);
    if (nd != PyArray_NDIM(b)) return false;
    const npy_intp* da = PyArray_DIMS(a);
    const npy_intp* db = PyArray_DIMS(b);
    for (int i = 0; i < nd; ++i) {
        if (da[i] != db[i]) return false;
    }
    return true;
}

}  // namespace

Result<std::string_view> array_dtype_key(PyObject* arr) {
    if (const auto builtin = builtin_dtype_name(arr)) return *builtin;
    return dtype_key_by_name(arr);
}

Result<py_ref> cast_array(PyObject* arr, std::string_view target_dtype, RoundingMode rounding_mode,
                          OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries) {
    Result<std::string_view> source = array_dtype_key(arr);
    if (!source) return source.take_error();
    return dispatch_alloc(arr, source.value(), target_dtype, rounding_mode, out_of_range_mode,
                          scalar_map_entries);
}

Result<py_ref> cast_array_into(PyObject* arr, PyObject* out, RoundingMode rounding_mode,
                               OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries) {
    Result<std::string_view> source = array_dtype_key(arr);
    if (!source) return source.take_error();
    Result<std::string_view> target = array_dtype_key(out);
    if (!target) return target.take_error();
    if (!same_shape(arr, out)) return shape_mismatch(arr, out);
    return dispatch_into(arr, out, source.value(), target.value(), rounding_mode, out_of_range_mode,
                         scalar_map_entries);
}

Result<py_ref> dispatch_alloc(PyObject* arr, std::string_view source_dtype_name,
                              std::string_view target_dtype_name, RoundingMode rounding_mode,
                              OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries) {
    const auto source = element_index(source_dtype_name);
    if (!source) return not_canonical("a source element type");
    const auto target = element_index(target_dtype_name);
    if (!target) return unsupported_target(target_dtype_name);
    const DriverCall call{rounding_mode, out_of_range_mode, scalar_map_entries};
    return drivers_of(*source, *target).alloc(arr, call);
}

Result<py_ref> dispatch_into(PyObject* arr, PyObject* out, std::string_view source_dtype_name,
                             std::string_view target_dtype_name, RoundingMode rounding_mode,
                             OptionalOutOfRangeMode out_of_range_mode, PyObject* scalar_map_entries) {
    const auto source = element_index(source_dtype_name);
    const auto target = element_index(target_dtype_name);
    if (!source || !target) return not_canonical("an element type");
    const DriverCall call{rounding_mode, out_of_range_mode, scalar_map_entries};
    return drivers_of(*source, *target).into(arr, out, call);
}

}  // namespace pelm_ossrel::py
