// The floating-point control that every result of this library is stated for, held for the span
// of one call whatever the calling thread's own control is.
//
// The rules (every rounding mode, narrowing, limit and error text) assume the processor's default
// control: round to nearest, ties to even, subnormals neither flushed to zero nor read as zero,
// every exception masked. The calling thread may run with another one (a directed rounding set
// with fesetround, FTZ/DAZ set by a library built for fast math, exceptions unmasked with
// feenableexcept), and the SSE arithmetic, conversions and rounding of the vector code and the
// element loops would follow it. So each public entry of the library holds a DefaultFloatControl
// for the length of its work: MXCSR is saved, the default is loaded, and the saved value, control
// bits and sticky flags alike, is loaded again on every way out. The caller's environment after
// the call is exactly the one before it, and the flags the call itself raised are not left
// behind. One save and two loads per call: never per element or per block.
//
// Only MXCSR is held: no code of the library computes with the x87 unit (no long double at run
// time), so the x87 control word never decides a result.
//
// The loads are compiler barriers for memory: the inputs of the span are read from memory after
// the first load and its results stored before the last. A value that reaches the span in a
// register, or leaves it in one, is passed through `fenced` so that the compiler cannot move the
// arithmetic on it out of the span.
#pragma once

#include <cstdint>

namespace pelm_ossrel {

// MXCSR as the processor resets it: all six exceptions masked, no flag set, round to nearest,
// neither flush-to-zero nor denormals-are-zero.
inline constexpr std::uint32_t kDefaultMxcsr = 0x1F80;

// The calling thread's MXCSR.
inline std::uint32_t read_mxcsr() noexcept {
    std::uint32_t value;
    asm volatile("stmxcsr %0" : "=m"(value) : : "memory");
    return value;
}

// Loads `value` into the calling thread's MXCSR. Flags set with their exceptions unmasked do not
// trap here: SSE raises an exception only from an instruction that computes.
inline void write_mxcsr(std::uint32_t value) noexcept {
    asm volatile("ldmxcsr %0" : : "m"(value) : "memory");
}

class DefaultFloatControl {
public:
    DefaultFloatControl() noexcept : saved_(read_mxcsr()) { write_mxcsr(kDefaultMxcsr); }
    ~DefaultFloatControl() { write_mxcsr(saved_); }

    DefaultFloatControl(const DefaultFloatControl&) = delete;
    DefaultFloatControl& operator=(const DefaultFloatControl&) = delete;

private:
    std::uint32_t saved_;
};

// `value`, as the compiler must take it to be read and written at this point of the code.
template <class T>
inline T fenced(T value) noexcept {
    asm volatile("" : "+m"(value));
    return value;
}

}  // namespace pelm_ossrel
