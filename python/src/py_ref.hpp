// An owned strong reference to a Python object.
//
// Every owned reference of the module lives in a py_ref; borrowed references stay plain
// pointers. The way a py_ref is made says where its reference comes from:
//   py_ref::steal(p)   takes over a new reference that the caller already owns
//                      (the result of a CPython call that returns a new reference);
//   py_ref::borrow(p)  takes a new strong reference to a borrowed object.
// new_ref() hands out one more strong reference (for returning to the interpreter),
// release() hands the reference itself over.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace pelm_ossrel::py {

class py_ref {
public:
    constexpr py_ref() noexcept = default;

    static py_ref steal(PyObject* p) noexcept { return py_ref(p); }
    static py_ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return py_ref(p);
    }

    py_ref(const py_ref&) = delete;
    py_ref& operator=(const py_ref&) = delete;
    py_ref(py_ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    py_ref& operator=(py_ref&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~py_ref() { reset(); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // A new strong reference to the held object (nullptr when empty).
    PyObject* new_ref() const noexcept {
        Py_XINCREF(p_);
        return p_;
    }
    // Gives up ownership: the caller now owns the reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }

    void reset() noexcept {
        PyObject* p = std::exchange(p_, nullptr);
        Py_XDECREF(p);
    }

private:
    explicit py_ref(PyObject* p) noexcept : p_(p) {}

    PyObject* p_ = nullptr;
};

}  // namespace pelm_ossrel::py
