// The steps of scalar-map parsing that do not depend on the element types.
//
// Each returns its own message in place of the caller's exception where the parse words the
// failure itself, and the caller's exception unchanged where it passes on; an internal fault
// of a nested call is always returned as a fault.
#pragma once

#include <cstddef>

#include "errors.hpp"
#include "py_ref.hpp"

namespace pelm_ossrel::py {

// The reported length of a mapping (TypeError "Failed to get length of scalar_map dict." when
// it cannot be had), checked so that room for that many entries of `entry_size` bytes can be
// sized without overflow (an internal fault otherwise).
Result<Py_ssize_t> mapping_length(PyObject* mapping, std::size_t entry_size);

// The mapping's items as a new list (its exception unchanged on failure).
Result<py_ref> mapping_items(PyObject* mapping);

// An element of the items list must be a tuple (or tuple subclass) of length 2.
Result<void> check_item_pair(PyObject* item);

// The iterator of a non-mapping argument (TypeError "scalar_map_entries must be a dict or an
// iterable of (source, target) pairs" when it has none).
Result<py_ref> entries_iterator(PyObject* iterable);

// The next entry, an empty reference at the end, or the iterator's exception unchanged.
Result<py_ref> next_entry(PyObject* iterator);

// An entry must have length 2 (ValueError "Each scalar_map entry must be a (source, target)
// pair" otherwise, also when its length cannot be had).
Result<void> check_entry_length(PyObject* entry);

// entry[index] for index 0 or 1 (the lookup's exception unchanged on failure).
Result<py_ref> entry_element(PyObject* entry, long index);

}  // namespace pelm_ossrel::py
