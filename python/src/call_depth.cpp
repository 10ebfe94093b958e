#include "call_depth.hpp"

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace pelm_ossrel::py {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSSREL_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define OSSREL_ADDRESS_SANITIZER 1
#endif

// The native stack a call needs below its entry point, with room to spare. One nested level
// (the module's frames from the entry point down to the caller's code, the interpreter's frames
// that run that code, up to the next entry point) costs the measured figure that the README
// gives under "What it does under failures"; raising the refusal and the module's error paths
// on the way out need less than one more level. The margin is tens of levels, so that the
// caller's code between two levels may also go through the interpreter's C functions (list(),
// map(), a property, repr()) and still find the stack it needs. AddressSanitizer puts guard
// zones around the locals of every instrumented frame, which makes the module's frames several
// times larger.
#if defined(OSSREL_ADDRESS_SANITIZER)
constexpr std::uintptr_t kStackMargin = 256 * 1024;
#else
constexpr std::uintptr_t kStackMargin = 64 * 1024;
#endif

// The interpreter counts the nesting of its C functions (and of the module's calls) and refuses
// one more when its count is spent. A call of the module may itself need a few of those counts
// after the caller's code has failed (the mapping test, repr() and str() of a value that does not
// convert, each of which may run the caller's code again), so it starts only while this many are
// left; otherwise the error that the caller's code raised at the limit could not be reported as
// the call's own.
constexpr int kCountHeadroom = 50;

// The lowest address of this thread's stack, read once per thread: 0 until read, kUnknownStack
// when the system does not give it.
constexpr std::uintptr_t kUnknownStack = UINTPTR_MAX;
thread_local std::uintptr_t t_stack_low = 0;

std::uintptr_t read_stack_low() noexcept {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return kUnknownStack;
    void* low = nullptr;
    std::size_t size = 0;
    const int read = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (read != 0 || low == nullptr || size == 0) return kUnknownStack;
    return reinterpret_cast<std::uintptr_t>(low);
}

}  // namespace

bool native_stack_is_short() noexcept {
    std::uintptr_t low = t_stack_low;
    if (low == 0) low = t_stack_low = read_stack_low();
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    // Unsigned: an address below the stack (on another stack) wraps around to a large
    // distance, and so does everything when the stack is unknown.
    return here - low < kStackMargin;
}

bool EnteredCall::enter(const char* where) noexcept {
#if PY_VERSION_HEX < 0x030E0000
    if (native_stack_is_short() || PyThreadState_Get()->c_recursion_remaining < kCountHeadroom) {
        PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
        return false;
    }
#endif
    return Py_EnterRecursiveCall(where) == 0;
}

}  // namespace pelm_ossrel::py
