// The scalar map of a call: the `scalar_map_entries` argument as the ordered MapEntry list of
// a (source, target) pair.
//
// The argument is a mapping (a dict, or an instance of collections.abc.Mapping), whose items
// are the pairs, or any other iterable whose entries are the pairs. Keys convert to the source
// type and values to the target type (ExtractFromPy); the entries keep the argument's order,
// duplicates included, and are neither compared nor sorted: the lookup takes the first match.
// The first failing step ends the parse; what was gathered is dropped and the caller's
// objects stay as their own code left them (an iterator is advanced exactly past the entry
// that failed).
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "element_types.hpp"
#include "errors.hpp"
#include "extract_from_py.hpp"
#include "map_entry.hpp"
#include "mapping_check.hpp"
#include "py_ref.hpp"
#include "scalar_map_steps.hpp"
#include "value_errors.hpp"

namespace pelm_ossrel::py {

// The owned, ordered list that a driver keeps for its conversion.
template <class S, class D>
using MapEntries = std::vector<MapEntry<S, D>>;

namespace detail {

// Appends one entry; a full list grows to twice its capacity, and to 4 entries at first.
template <class S, class D>
void append_entry(MapEntries<S, D>& entries, MapEntry<S, D> entry) {
    if (entries.size() == entries.capacity()) {
        entries.reserve(std::max<std::size_t>(2 * entries.capacity(), 4));
    }
    entries.push_back(entry);
}

// A key as a value of S, or the source-value error that replaces its failure.
template <class S>
Result<S> extract_source(PyObject* key) {
    Result<S> source = ExtractFromPy<S>::extract_from_py(key);
    if (source) return source;
    Error failure = source.take_error();
    if (failure.is_fault()) return failure;
    return source_value_error(key, element_name<S>(), std::move(failure));
}

// A value as a value of D, or the target-value error that replaces its failure.
template <class D>
Result<D> extract_target(PyObject* value) {
    Result<D> target = ExtractFromPy<D>::extract_from_py(value);
    if (target) return target;
    Error failure = target.take_error();
    if (failure.is_fault()) return failure;
    return target_value_error(value, element_name<D>(), std::move(failure));
}

// Mapping path: the items list that the mapping's items() gives, walked by index. Items
// appended to that list during the walk are not visited; a list that shrinks ends it early.
template <class S, class D>
Result<MapEntries<S, D>> parse_mapping(PyObject* mapping) {
    Result<Py_ssize_t> reported = mapping_length(mapping, sizeof(MapEntry<S, D>));
    if (!reported) return reported.take_error();
    Result<py_ref> listed = mapping_items(mapping);
    if (!listed) return listed.take_error();
    PyObject* items = listed.value().get();
    const Py_ssize_t initial = PyList_GET_SIZE(items);

    // Room for the reported length, but never for more items than there are: a mapping may
    // report any length whatever its items() gives.
    MapEntries<S, D> entries;
    entries.reserve(static_cast<std::size_t>(std::min(reported.value(), initial)));

    for (Py_ssize_t i = 0; i < std::min(initial, PyList_GET_SIZE(items)); ++i) {
        py_ref item = py_ref::borrow(PyList_GET_ITEM(items, i));
        if (Result<void> shape = check_item_pair(item.get()); !shape) return shape.take_error();
        py_ref key = py_ref::borrow(PyTuple_GET_ITEM(item.get(), 0));
        py_ref value = py_ref::borrow(PyTuple_GET_ITEM(item.get(), 1));
        Result<S> source = extract_source<S>(key.get());
        if (!source) return source.take_error();
        Result<D> target = extract_target<D>(value.get());
        if (!target) return target.take_error();
        append_entry(entries, MapEntry<S, D>{source.value(), target.value()});
    }
    return entries;
}

// Iterable path: one entry at a time, element 0 converted before element 1 is looked up.
template <class S, class D>
Result<MapEntries<S, D>> parse_iterable(PyObject* iterable) {
    Result<py_ref> started = entries_iterator(iterable);
    if (!started) return started.take_error();
    PyObject* iterator = started.value().get();

    MapEntries<S, D> entries;
    for (;;) {
        Result<py_ref> next = next_entry(iterator);
        if (!next) return next.take_error();
        PyObject* entry = next.value().get();
        if (entry == nullptr) return entries;
        if (Result<void> shape = check_entry_length(entry); !shape) return shape.take_error();

        Result<py_ref> key = entry_element(entry, 0);
        if (!key) return key.take_error();
        Result<S> source = extract_source<S>(key.value().get());
        if (!source) return source.take_error();
        key.value().reset();

        Result<py_ref> value = entry_element(entry, 1);
        if (!value) return value.take_error();
        Result<D> target = extract_target<D>(value.value().get());
        if (!target) return target.take_error();
        value.value().reset();

        append_entry(entries, MapEntry<S, D>{source.value(), target.value()});
    }
}

}  // namespace detail

// `scalar_map_entries` is the caller's object, or nullptr when none (or None) was given; the
// messages of the value conversions name the element types S and D.
template <class S, class D>
Result<MapEntries<S, D>> parse_map_entries(PyObject* scalar_map_entries) {
    if (scalar_map_entries == nullptr) return MapEntries<S, D>{};
    Result<bool> mapping = is_scalar_map_mapping(scalar_map_entries);
    if (!mapping) return mapping.take_error();
    if (mapping.value()) {
        return detail::parse_mapping<S, D>(scalar_map_entries);
    }
    return detail::parse_iterable<S, D>(scalar_map_entries);
}

}  // namespace pelm_ossrel::py
