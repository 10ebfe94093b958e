// The vector kernels of the four fast-path conversions, one set per processor level.
//
// Every level lives in its own namespace and its own translation unit, compiled with that
// level's flags only: `avx2` needs the x86-64-v3 level, `avx` needs AVX, `generic` runs
// anywhere. Nothing outside the selection functions (fast_paths.hpp) and the tests may call
// an `avx2` or `avx` kernel without first making sure the processor has the level.
//
// Each kernel converts the first min(source size, destination size) elements and writes
// nothing beyond them. The clamp kernels and the check kernel work in blocks (sizes below);
// a block that holds a failing element is not written at all, every earlier block is, and the
// elements after the last whole block are converted and written one at a time. The rounding
// mode selects the rounding of the source value to an integral value, in the source's own
// precision, exactly as the element loops of the floating-to-integer family round.
//
//   kernel               avx2 block            avx block     generic
//   f32_to_u8_clamp      16 (two 8-lane)       8             per element
//   f64_to_u8_clamp      16 (four 4-lane)      4             per element
//   f64_to_i32_clamp     4                     4             per element
//   f64_to_i32_check     4                     4             -
//   f64_to_f32_nearest   groups of 4           groups of 4   -
//
// Errors: the clamp kernels report the first NaN of the failing block (NonFinite). The check
// kernel reports, within a block, the first NaN before any out-of-range element, and an
// out-of-range element with its value before rounding (OutOfRange, [-2^31, 2^31 - 1]). The
// nearest kernel writes the whole destination first and then, when asked to check, reports
// the first finite source element whose binary32 result is an infinity.
#pragma once

#include <cstdint>

#include "cast_error.hpp"
#include "modes.hpp"
#include "slice.hpp"

namespace pelm_ossrel::simd {

namespace avx2 {
CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept;
}  // namespace avx2

namespace avx {
CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept;
}  // namespace avx

namespace generic {
CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
}  // namespace generic

}  // namespace pelm_ossrel::simd
