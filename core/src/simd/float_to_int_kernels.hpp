// The x86-64-v3 form of the floating-to-integer block loop (float_to_int_blocks.hpp), for runs
// without a scalar map: all 24 pairs, every rounding mode and out-of-range mode.
//
// The body converts blocks of 16 elements from the start of the run for as long as each block
// passes the screen, and stops at the first block that does not, leaving it unwritten; the
// caller then runs the element loop on that block and calls the body again after it. A block
// passes only when every one of its elements is stored by the vector code exactly as the
// element loop stores it: every element inside the target's window (under clamp: every element
// a number), and, for 64-bit targets, every element's magnitude at most 2^51, where the
// conversion through the binary64 significand is exact. The screen is narrower than the element
// loop's rules, never wider, so a rejected block costs time but changes nothing.
//
// The body is defined, and instantiated for the 24 pairs, only in simd/avx2/float_to_int.cpp,
// which is compiled for the x86-64-v3 level: callers must first make sure the processor has
// the level (and F16C for a binary16 source).
#pragma once

#include <cstddef>
#include <cstdint>

#include "modes.hpp"

namespace pelm_ossrel::simd::avx2::body {

inline constexpr std::size_t kFloatToIntBlock = 16;

// S: f16, float or double; D: one of the eight integer types. `oor` is the out-of-range mode as
// OptionalOutOfRangeMode carries it. Returns the number of elements converted and stored, a
// multiple of kFloatToIntBlock and at most n.
template <class S, class D>
std::size_t float_to_int_blocks(const unsigned char* src, unsigned char* dst, std::size_t n,
                                RoundingMode mode, std::uint8_t oor) noexcept;

}  // namespace pelm_ossrel::simd::avx2::body
