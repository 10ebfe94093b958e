// Failures as values: an error travels back to the entry point and is raised only there.
//
// An Error is one of
//   - a Python exception described by its type and message, created when it is raised;
//   - a Python exception instance already made (taken from the interpreter, or built);
//   - MemoryError;
//   - an internal fault with its text, raised as pyo3_runtime.PanicException after the text
//     has been written to standard error.
//
// An Error is one pointer wide: what it describes lives on the heap (MemoryError is the null
// pointer, so it needs no allocation). Every Result on a frame that the caller's code runs
// under is then small, which keeps the native stack that one nested call costs small.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "py_ref.hpp"

namespace pelm_ossrel::py {

class Error {
public:
    // An exception of `type` (a static exception type such as PyExc_TypeError) whose single
    // argument is `message` (UTF-8).
    static Error of(PyObject* type, std::string message) {
        return Error(Kind::Described, type, std::move(message));
    }
    static Error type_error(std::string message) { return of(PyExc_TypeError, std::move(message)); }
    static Error value_error(std::string message) { return of(PyExc_ValueError, std::move(message)); }
    static Error memory_error() noexcept { return Error(); }
    static Error fault(std::string text) { return Error(Kind::Fault, nullptr, std::move(text)); }
    // An exception instance (owned).
    static Error from_instance(py_ref exception);

    // Takes the pending exception out of the interpreter. When none is pending, the error is
    // SystemError "attempted to fetch exception but none was set"; an exception whose type is
    // exactly the internal-fault type becomes an internal fault with the same text (its string
    // form, lone surrogates included; a fixed text when that form cannot be obtained).
    static Error fetch();

    // The error "'{type}' object cannot be converted to '{kind}'" (TypeError) for `obj`.
    static Error cannot_convert(PyObject* obj, std::string_view kind);

    bool is_fault() const noexcept { return detail_ && detail_->kind == Kind::Fault; }
    // True when the error is an exception whose type is exactly `type` (no subclass).
    bool is_exactly(PyObject* type) const noexcept;

    // For Described errors: the message; for faults: the text.
    const std::string& text() const noexcept;
    PyObject* instance() const noexcept { return detail_ ? detail_->instance.get() : nullptr; }

    // Makes the error the interpreter's pending exception. Internal faults are written to
    // standard error first and raised as pyo3_runtime.PanicException.
    void raise() &&;

private:
    enum class Kind : unsigned char { Described, Instance, NoMemory, Fault };

    struct Detail {
        Kind kind;
        PyObject* type = nullptr;  // Described: a static exception type
        std::string text;          // Described: the message; Fault: the text
        py_ref instance;           // Instance
    };

    Error() noexcept = default;  // MemoryError
    Error(Kind kind, PyObject* type, std::string text)
        : detail_(std::make_unique<Detail>(Detail{kind, type, std::move(text), {}})) {}

    Kind kind() const noexcept { return detail_ ? detail_->kind : Kind::NoMemory; }

    std::unique_ptr<Detail> detail_;  // nullptr: MemoryError
};

// A value of type T, or the Error that prevented it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const noexcept { return v_.index() == 0; }
    T& value() noexcept { return *std::get_if<0>(&v_); }
    const T& value() const noexcept { return *std::get_if<0>(&v_); }
    T take() noexcept { return std::move(*std::get_if<0>(&v_)); }
    Error take_error() noexcept { return std::move(*std::get_if<1>(&v_)); }

private:
    std::variant<T, Error> v_;
};

// Success, or the Error of a step that produces no value.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() noexcept = default;
    Result(Error error) : error_(std::move(error)) {}

    explicit operator bool() const noexcept { return !error_.has_value(); }
    Error take_error() noexcept { return std::move(*error_); }

private:
    std::optional<Error> error_;
};

// The qualified name of the type of `obj`, or "<failed to extract type name>".
std::string type_qualname(PyObject* obj);

// The internal-fault exception type pyo3_runtime.PanicException, created on first use;
// nullptr with the creation error pending when it cannot be created.
PyObject* internal_fault_type();

// Whether `exc` is an instance of exactly the internal-fault type (compared by identity; no
// instance exists before the type does, so this never creates it).
bool is_internal_fault(PyObject* exc) noexcept;

// Writes the fault's text to standard error and raises it as pyo3_runtime.PanicException.
void report_internal_fault(std::string_view text);

// An internal fault "{what}: {the pending exception}", taking the pending exception out of
// the interpreter (the fault's text names it; a fault of a nested call keeps its own text).
Error fault_from_pending(std::string_view what);

// Prints the pending exception to standard error and clears it (as PyErr_Print does);
// does nothing when none is pending.
void print_pending_error();

}  // namespace pelm_ossrel::py
