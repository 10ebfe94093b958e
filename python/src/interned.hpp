// Interned str objects made once and kept for the life of the process: attribute and keyword
// names that the module compares or looks up on every call.
#pragma once

#include "py_ref.hpp"

namespace pelm_ossrel::py {

class InternedName {
public:
    explicit constexpr InternedName(const char* text) noexcept : text_(text) {}

    // The interned str, or nullptr with the interpreter's exception set when it cannot be
    // made; a later call tries again.
    PyObject* get() noexcept {
        if (object_ == nullptr) object_ = PyUnicode_InternFromString(text_);
        return object_;
    }

private:
    const char* text_;
    PyObject* object_ = nullptr;  // one reference, kept for the life of the process
};

}  // namespace pelm_ossrel::py
