#include "args.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch.hpp"
#include "interned.hpp"
#include "modes.hpp"
#include "numpy_api.hpp"

namespace pelm_ossrel::py {
namespace {

struct KeywordParameter {
    std::string_view name;
    bool required;
};

// A function's parameters: positional ones (all required here), then keyword-only ones.
struct ParameterDescription {
    std::string_view function;
    std::span<const std::string_view> positional;
    std::span<const KeywordParameter> keyword_only;
    std::size_t positional_only;
    std::size_t required_positional;

    std::size_t slot_count() const noexcept { return positional.size() + keyword_only.size(); }
    std::string_view slot_name(std::size_t slot) const noexcept {
        return slot < positional.size() ? positional[slot] : keyword_only[slot - positional.size()].name;
    }
};

constexpr std::array<std::string_view, 1> kCastArrayPositional{"arr"};
constexpr std::array<KeywordParameter, 4> kCastArrayKeywords{{{"target_dtype", true},
                                                             {"rounding_mode", true},
                                                             {"out_of_range_mode", false},
                                                             {"scalar_map_entries", false}}};
constexpr ParameterDescription kCastArray{"cast_array", kCastArrayPositional, kCastArrayKeywords, 0, 1};

constexpr std::array<std::string_view, 2> kCastArrayIntoPositional{"arr", "out"};
constexpr std::array<KeywordParameter, 3> kCastArrayIntoKeywords{{{"rounding_mode", true},
                                                                 {"out_of_range_mode", false},
                                                                 {"scalar_map_entries", false}}};
constexpr ParameterDescription kCastArrayInto{"cast_array_into", kCastArrayIntoPositional,
                                              kCastArrayIntoKeywords, 0, 2};

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) text += ",";
            if (i + 1 == names.size()) text += " and";
            text += " ";
        }
        text += "'";
        text += names[i];
        text += "'";
    }
    return text;
}

Error missing_arguments(const ParameterDescription& d, std::string_view kind,
                        const std::vector<std::string_view>& names) {
    std::string message(d.function);
    message += "() missing " + std::to_string(names.size()) + " required ";
    message += kind;
    message += names.size() == 1 ? " argument: " : " arguments: ";
    message += quoted_list(names);
    return Error::type_error(std::move(message));
}

Error unexpected_keyword(const ParameterDescription& d, PyObject* key) {
    const std::string function(d.function);
    py_ref message = py_ref::steal(
        PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'", function.c_str(), key));
    if (!message) return Error::fetch();
    py_ref exc = py_ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!exc) return Error::fetch();
    return Error::from_instance(std::move(exc));
}

// The parameter names of each function as interned str objects, in slot order. Keyword names
// written in the caller's source code arrive as interned str objects too, so most keywords are
// found by identity before any text is compared.
template <std::size_t N>
struct SlotNames {
    std::array<InternedName, N> names;

    // The objects, or nullptr when one of them cannot be made (binding then compares texts).
    const std::array<PyObject*, N>* get() noexcept {
        if (!ready) {
            for (std::size_t i = 0; i < N; ++i) {
                objects[i] = names[i].get();
                if (objects[i] == nullptr) {
                    PyErr_Clear();
                    return nullptr;
                }
            }
            ready = true;
        }
        return &objects;
    }

    std::array<PyObject*, N> objects{};
    bool ready = false;
};

SlotNames<5> g_cast_array_names{{InternedName("arr"), InternedName("target_dtype"),
                                 InternedName("rounding_mode"), InternedName("out_of_range_mode"),
                                 InternedName("scalar_map_entries")}};
SlotNames<5> g_cast_array_into_names{{InternedName("arr"), InternedName("out"),
                                      InternedName("rounding_mode"), InternedName("out_of_range_mode"),
                                      InternedName("scalar_map_entries")}};

// The slot whose parameter name is the very object `key`, or slot_count() when none is.
std::size_t find_slot_by_identity(const ParameterDescription& d, std::span<PyObject* const> names,
                                  PyObject* key) noexcept {
    for (std::size_t i = d.positional_only; i < names.size(); ++i) {
        if (names[i] == key) return i;
    }
    return d.slot_count();
}

// The slot of the parameter named `name`: keyword-only parameters first, then positional ones.
std::size_t find_slot(const ParameterDescription& d, std::string_view name) noexcept {
    for (std::size_t i = 0; i < d.keyword_only.size(); ++i) {
        if (d.keyword_only[i].name == name) return d.positional.size() + i;
    }
    for (std::size_t i = d.positional_only; i < d.positional.size(); ++i) {
        if (d.positional[i] == name) return i;
    }
    return d.slot_count();
}

// Fills `slots` (borrowed references, nullptr for empty) in parameter order. `names` holds the
// interned parameter names in slot order, or is empty.
Result<void> bind_arguments(const ParameterDescription& d, std::span<PyObject* const> names,
                            PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            std::span<PyObject*> slots) {
    const auto given = static_cast<std::size_t>(nargs);
    const std::size_t positional = d.positional.size();
    for (std::size_t i = 0; i < given && i < positional; ++i) slots[i] = args[i];
    if (given > positional) {
        return Error::type_error(std::string(d.function) + "() takes " + std::to_string(positional) +
                                 " positional arguments but " + std::to_string(given) + " were given");
    }

    const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        std::size_t slot = find_slot_by_identity(d, names, key);
        if (slot == d.slot_count()) {
            Py_ssize_t size = 0;
            const char* text = PyUnicode_AsUTF8AndSize(key, &size);
            if (text == nullptr) {
                PyErr_Clear();
                return unexpected_keyword(d, key);
            }
            slot = find_slot(d, std::string_view(text, static_cast<std::size_t>(size)));
            if (slot == d.slot_count()) return unexpected_keyword(d, key);
        }
        if (slots[slot] != nullptr) {
            return Error::type_error(std::string(d.function) + "() got multiple values for argument '" +
                                     std::string(d.slot_name(slot)) + "'");
        }
        slots[slot] = args[nargs + k];
    }

    if (given < d.required_positional) {
        std::vector<std::string_view> missing;
        for (std::size_t i = 0; i < d.required_positional; ++i) {
            if (slots[i] == nullptr) missing.push_back(d.positional[i]);
        }
        if (!missing.empty()) return missing_arguments(d, "positional", missing);
    }
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < d.keyword_only.size(); ++i) {
        if (d.keyword_only[i].required && slots[positional + i] == nullptr) {
            missing.push_back(d.keyword_only[i].name);
        }
    }
    if (!missing.empty()) return missing_arguments(d, "keyword", missing);
    return {};
}

// An error of exactly TypeError raised while argument `name` is converted becomes
// TypeError "argument '{name}': {message}" carrying the first error's cause; any other passes.
Error argument_error(std::string_view name, Error error) {
    if (!error.is_exactly(PyExc_TypeError)) return error;
    const std::string parameter(name);
    if (PyObject* first = error.instance()) {
        py_ref message = py_ref::steal(PyUnicode_FromFormat("argument '%s': %S", parameter.c_str(), first));
        if (!message) return Error::fetch();
        py_ref replacement = py_ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
        if (!replacement) return Error::fetch();
        if (PyObject* cause = PyException_GetCause(first)) {
            PyException_SetCause(replacement.get(), cause);  // takes over the new reference
        }
        return Error::from_instance(std::move(replacement));
    }
    return Error::type_error("argument '" + parameter + "': " + error.text());
}

template <class T>
Result<T> argument(std::string_view name, Result<T> converted) {
    if (converted) return converted;
    return argument_error(name, converted.take_error());
}

// A NumPy array of any element type.
Result<PyObject*> extract_array(PyObject* obj) {
    if (!numpy_api_ready()) {
        if (Result<void> api = ensure_numpy_api(); !api) return api.take_error();
    }
    if (!is_ndarray(obj)) return Error::cannot_convert(obj, "PyUntypedArray");
    return obj;
}

// The UTF-8 text of a str (or str subclass), borrowed from the object.
Result<std::string_view> extract_text(PyObject* obj) {
    if (!PyUnicode_Check(obj)) return Error::cannot_convert(obj, "PyString");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) return Error::fetch();
    return std::string_view(text, static_cast<std::size_t>(size));
}

Result<RoundingMode> extract_rounding_mode(PyObject* obj) {
    Result<std::string_view> text = extract_text(obj);
    if (!text) return text.take_error();
    ParsedMode<RoundingMode> parsed = from_str<RoundingMode>(text.value());
    if (!parsed) return Error::value_error(std::move(parsed.message));
    return *parsed.mode;
}

// None, or no value at all, is the absent mode.
Result<OptionalOutOfRangeMode> extract_out_of_range_mode(PyObject* obj) {
    if (obj == nullptr || obj == Py_None) return OptionalOutOfRangeMode{};
    Result<std::string_view> text = extract_text(obj);
    if (!text) return text.take_error();
    ParsedMode<OutOfRangeMode> parsed = from_str<OutOfRangeMode>(text.value());
    if (!parsed) return Error::value_error(std::move(parsed.message));
    return OptionalOutOfRangeMode(*parsed.mode);
}

PyObject* optional_object(PyObject* obj) noexcept { return obj == Py_None ? nullptr : obj; }

template <std::size_t N>
std::span<PyObject* const> names_or_none(SlotNames<N>& names) noexcept {
    if (const std::array<PyObject*, N>* objects = names.get()) return *objects;
    return {};
}

// The bound and converted arguments of each function; the objects are borrowed from the call.
struct CastArrayArguments {
    PyObject* arr;
    std::string_view target_dtype;
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range_mode;
    PyObject* scalar_map_entries;  // nullptr when none (or None) was given
};

struct CastArrayIntoArguments {
    PyObject* arr;
    PyObject* out;
    RoundingMode rounding_mode;
    OptionalOutOfRangeMode out_of_range_mode;
    PyObject* scalar_map_entries;  // nullptr when none (or None) was given
};

// Binding and conversion run out of line: their locals (the slots, the results of each step)
// are off the stack by the time the function body runs the caller's code, which may call the
// module again.
[[gnu::noinline]] Result<CastArrayArguments> bind_cast_array(PyObject* const* args, Py_ssize_t nargs,
                                                             PyObject* kwnames) {
    std::array<PyObject*, 5> slots{};
    if (Result<void> bound = bind_arguments(kCastArray, names_or_none(g_cast_array_names), args, nargs,
                                            kwnames, slots);
        !bound) {
        return bound.take_error();
    }
    Result<PyObject*> arr = argument("arr", extract_array(slots[0]));
    if (!arr) return arr.take_error();
    Result<std::string_view> target_dtype = argument("target_dtype", extract_text(slots[1]));
    if (!target_dtype) return target_dtype.take_error();
    Result<RoundingMode> rounding_mode = argument("rounding_mode", extract_rounding_mode(slots[2]));
    if (!rounding_mode) return rounding_mode.take_error();
    Result<OptionalOutOfRangeMode> out_of_range_mode =
        argument("out_of_range_mode", extract_out_of_range_mode(slots[3]));
    if (!out_of_range_mode) return out_of_range_mode.take_error();
    return CastArrayArguments{arr.value(), target_dtype.value(), rounding_mode.value(),
                              out_of_range_mode.value(), optional_object(slots[4])};
}

[[gnu::noinline]] Result<CastArrayIntoArguments> bind_cast_array_into(PyObject* const* args,
                                                                      Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, 5> slots{};
    if (Result<void> bound = bind_arguments(kCastArrayInto, names_or_none(g_cast_array_into_names), args,
                                            nargs, kwnames, slots);
        !bound) {
        return bound.take_error();
    }
    Result<PyObject*> arr = argument("arr", extract_array(slots[0]));
    if (!arr) return arr.take_error();
    Result<PyObject*> out = argument("out", extract_array(slots[1]));
    if (!out) return out.take_error();
    Result<RoundingMode> rounding_mode = argument("rounding_mode", extract_rounding_mode(slots[2]));
    if (!rounding_mode) return rounding_mode.take_error();
    Result<OptionalOutOfRangeMode> out_of_range_mode =
        argument("out_of_range_mode", extract_out_of_range_mode(slots[3]));
    if (!out_of_range_mode) return out_of_range_mode.take_error();
    return CastArrayIntoArguments{arr.value(), out.value(), rounding_mode.value(), out_of_range_mode.value(),
                                  optional_object(slots[4])};
}

}  // namespace

Result<py_ref> __pyfunction_cast_array(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<CastArrayArguments> bound = bind_cast_array(args, nargs, kwnames);
    if (!bound) return bound.take_error();
    const CastArrayArguments& a = bound.value();
    return cast_array(a.arr, a.target_dtype, a.rounding_mode, a.out_of_range_mode, a.scalar_map_entries);
}

Result<py_ref> __pyfunction_cast_array_into(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<CastArrayIntoArguments> bound = bind_cast_array_into(args, nargs, kwnames);
    if (!bound) return bound.take_error();
    const CastArrayIntoArguments& a = bound.value();
    return cast_array_into(a.arr, a.out, a.rounding_mode, a.out_of_range_mode, a.scalar_map_entries);
}

}  // namespace pelm_ossrel::py
