#include "scalar_map_steps.hpp"

#include <string>

#include "pending_exception.hpp"

namespace pelm_ossrel::py {
namespace {

// The caller's exception is replaced by a message of the parse's own; a fault stays a fault.
Error replace_pending(Error replacement) {
    Error pending = take_pending();
    if (pending.is_fault()) return pending;
    return replacement;
}

// Out of line, so that its strings take no room in the frame that runs the caller's __iter__.
[[gnu::noinline]] Error not_iterable() {
    return replace_pending(
        Error::type_error("scalar_map_entries must be a dict or an iterable of (source, target) pairs"));
}

}  // namespace

Result<Py_ssize_t> mapping_length(PyObject* mapping, std::size_t entry_size) {
    const Py_ssize_t n = PyMapping_Size(mapping);
    if (n < 0) return replace_pending(Error::type_error("Failed to get length of scalar_map dict."));
    if (static_cast<std::size_t>(n) > static_cast<std::size_t>(PY_SSIZE_T_MAX) / entry_size) {
        return Error::fault("scalar_map mapping length " + std::to_string(n) +
                            ": the size of its entries overflows");
    }
    return n;
}

Result<py_ref> mapping_items(PyObject* mapping) {
    py_ref items = py_ref::steal(PyMapping_Items(mapping));
    if (!items) return take_pending();
    return items;
}

Result<void> check_item_pair(PyObject* item) {
    if (!PyTuple_Check(item)) return Error::cannot_convert(item, "PyTuple");
    const Py_ssize_t size = PyTuple_GET_SIZE(item);
    if (size != 2) {
        return Error::value_error("expected tuple of length 2, but got tuple of length " +
                                  std::to_string(size));
    }
    return {};
}

Result<py_ref> entries_iterator(PyObject* iterable) {
    py_ref iterator = py_ref::steal(PyObject_GetIter(iterable));
    if (!iterator) return not_iterable();
    return iterator;
}

Result<py_ref> next_entry(PyObject* iterator) {
    py_ref entry = py_ref::steal(PyIter_Next(iterator));
    if (!entry && PyErr_Occurred()) return take_pending();
    return entry;
}

Result<void> check_entry_length(PyObject* entry) {
    const Py_ssize_t size = PyObject_Size(entry);
    if (size == 2) return {};
    Error wrong_shape = Error::value_error("Each scalar_map entry must be a (source, target) pair");
    if (size < 0) return replace_pending(std::move(wrong_shape));
    return wrong_shape;
}

Result<py_ref> entry_element(PyObject* entry, long index) {
    py_ref key = py_ref::steal(PyLong_FromLong(index));
    if (!key) return fault_from_pending("scalar_map entry index cannot be made");
    py_ref element = py_ref::steal(PyObject_GetItem(entry, key.get()));
    key.reset();
    if (!element) return take_pending();
    return element;
}

}  // namespace pelm_ossrel::py
