// The vector bodies of the integer-to-integer block loops, one set per processor level.
//
// A body sees byte pointers, a count and the two element types as codes; it converts the 38
// pairs whose target cannot hold every source value (int_to_int.hpp) exactly as the baseline
// loops do, with no alignment required of either run. For any other combination of codes a
// body does nothing (and the checked body returns 0), so that the caller's own loop does the
// work. Like every level body, they are reached only after the run-time check for the level.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelm_ossrel::simd {

enum class IntCode : std::uint8_t { I8, U8, I16, U16, I32, U32, I64, U64 };

// The code of an integer element type, for baseline callers (evaluated at compile time).
template <class T>
constexpr IntCode int_code_of() noexcept {
    constexpr bool is_signed = static_cast<T>(-1) < static_cast<T>(0);
    static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8,
                  "not an integer element type");
    if constexpr (sizeof(T) == 1) return is_signed ? IntCode::I8 : IntCode::U8;
    else if constexpr (sizeof(T) == 2) return is_signed ? IntCode::I16 : IntCode::U16;
    else if constexpr (sizeof(T) == 4) return is_signed ? IntCode::I32 : IntCode::U32;
    else return is_signed ? IntCode::I64 : IntCode::U64;
}

namespace avx2::body {

// Blocks of 64 from index 0 while every value of the block lies inside D's range: each such
// block is converted and stored. Returns the number of elements done (a multiple of 64, at
// most n rounded down to 64); the first block holding a value outside is not written.
std::size_t int_to_int_checked_blocks(IntCode s, IntCode d, const unsigned char* src,
                                      unsigned char* dst, std::size_t n) noexcept;

// All n elements clamped to D's limits / wrapped to D's width (two's-complement low bits).
void int_to_int_clamp(IntCode s, IntCode d, const unsigned char* src, unsigned char* dst,
                      std::size_t n) noexcept;
void int_to_int_wrap(IntCode s, IntCode d, const unsigned char* src, unsigned char* dst,
                     std::size_t n) noexcept;

}  // namespace avx2::body
}  // namespace pelm_ossrel::simd
