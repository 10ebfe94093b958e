// The depth guard of the module's entry points.
//
// Every call of a module function counts in the interpreter's recursion accounting for as long
// as it runs, as the interpreter's own C functions that call back into Python code do. The
// caller's code that a call runs (a scalar map's __iter__, items(), a key's __index__, a value's
// __float__) may call the module again, and each such level costs native stack that the
// interpreter's count does not see; so a call that would start with less native stack left on
// its thread than one more level can need, or so close to the end of the interpreter's count
// that the call could not report the failure of the caller's code, is refused with
// RecursionError, before any of its arguments is looked at. Interpreters that check the native
// stack in their own recursion accounting (CPython 3.14 and newer) are left to do so.
#pragma once

#include "py_ref.hpp"

namespace pelm_ossrel::py {

// One entered call of a module function. `where` is the note that follows "maximum recursion
// depth exceeded" in the RecursionError of a refused call (" while calling cast_array").
class EnteredCall {
public:
    explicit EnteredCall(const char* where) noexcept : entered_(enter(where)) {}
    ~EnteredCall() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    EnteredCall(const EnteredCall&) = delete;
    EnteredCall& operator=(const EnteredCall&) = delete;

    // False when the call was refused; RecursionError is then pending.
    explicit operator bool() const noexcept { return entered_; }

private:
    static bool enter(const char* where) noexcept;

    bool entered_;
};

// Whether the native stack left below the caller's frame on this thread is shorter than the
// margin that one more nested call may need. False on a stack whose bounds the system does not
// give, and on any stack other than the thread's own (one the thread switched to).
bool native_stack_is_short() noexcept;

}  // namespace pelm_ossrel::py
