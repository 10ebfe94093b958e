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
//
// The vector levels are split in two. Their bodies (namespace `body`, defined in the level's
// translation unit) see only byte pointers, counts, the mode and a plain status record, and
// use no inline function or template shared with other translation units: were one emitted
// there, compiled for the level, the linker could keep that copy for baseline callers too.
// The slice-and-CastResult forms below are inline and compiled in the baseline code that
// calls them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cast_error.hpp"
#include "modes.hpp"
#include "slice.hpp"

namespace pelm_ossrel::simd {

// What a kernel body reports: done, or why it stopped and the source element concerned (as
// binary64, before rounding).
struct KernelStatus {
    enum class Code : std::uint8_t { Done, NotANumber, Int32Range, Float32Overflow };
    Code code;
    double value;
};

inline CastResult to_cast_result(KernelStatus status) noexcept {
    switch (status.code) {
        case KernelStatus::Code::Done: break;
        case KernelStatus::Code::NotANumber: return CastError::non_finite(status.value);
        case KernelStatus::Code::Int32Range:
            return CastError::out_of_range(status.value, -2147483648.0, 2147483647.0);
        case KernelStatus::Code::Float32Overflow:
            return CastError::out_of_range(status.value, -3.4028234663852886e38, 3.4028234663852886e38);
    }
    return std::nullopt;
}

// A body run over the first min(source size, destination size) elements of two slices.
template <class S, class D, class Arg>
inline CastResult run_body(
    KernelStatus (*body)(const unsigned char*, unsigned char*, std::size_t, Arg) noexcept,
    SrcSlice<S> src, DstSlice<D> dst, Arg arg) noexcept {
    const std::size_t n = src.size() < dst.size() ? src.size() : dst.size();
    return to_cast_result(body(src.bytes(), dst.bytes(), n, arg));
}

namespace avx2::body {
KernelStatus f32_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept;
KernelStatus f64_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept;
KernelStatus f64_to_i32_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                              RoundingMode mode) noexcept;
KernelStatus f64_to_i32_check(const unsigned char* src, unsigned char* dst, std::size_t n,
                              RoundingMode mode) noexcept;
KernelStatus f64_to_f32_nearest(const unsigned char* src, unsigned char* dst, std::size_t n,
                                bool check) noexcept;
}  // namespace avx2::body

namespace avx2 {
inline CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst,
                                  RoundingMode mode) noexcept {
    return run_body(body::f32_to_u8_clamp, src, dst, mode);
}
inline CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst,
                                  RoundingMode mode) noexcept {
    return run_body(body::f64_to_u8_clamp, src, dst, mode);
}
inline CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                   RoundingMode mode) noexcept {
    return run_body(body::f64_to_i32_clamp, src, dst, mode);
}
inline CastResult f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                   RoundingMode mode) noexcept {
    return run_body(body::f64_to_i32_check, src, dst, mode);
}
inline CastResult f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst,
                                     bool check) noexcept {
    return run_body(body::f64_to_f32_nearest, src, dst, check);
}
}  // namespace avx2

namespace avx::body {
KernelStatus f32_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept;
KernelStatus f64_to_u8_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                             RoundingMode mode) noexcept;
KernelStatus f64_to_i32_clamp(const unsigned char* src, unsigned char* dst, std::size_t n,
                              RoundingMode mode) noexcept;
KernelStatus f64_to_i32_check(const unsigned char* src, unsigned char* dst, std::size_t n,
                              RoundingMode mode) noexcept;
KernelStatus f64_to_f32_nearest(const unsigned char* src, unsigned char* dst, std::size_t n,
                                bool check) noexcept;
}  // namespace avx::body

namespace avx {
inline CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst,
                                  RoundingMode mode) noexcept {
    return run_body(body::f32_to_u8_clamp, src, dst, mode);
}
inline CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst,
                                  RoundingMode mode) noexcept {
    return run_body(body::f64_to_u8_clamp, src, dst, mode);
}
inline CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                   RoundingMode mode) noexcept {
    return run_body(body::f64_to_i32_clamp, src, dst, mode);
}
inline CastResult f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                   RoundingMode mode) noexcept {
    return run_body(body::f64_to_i32_check, src, dst, mode);
}
inline CastResult f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst,
                                     bool check) noexcept {
    return run_body(body::f64_to_f32_nearest, src, dst, check);
}
}  // namespace avx

// The portable kernels: baseline code, so they take the slices directly.
namespace generic {
CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst,
                           RoundingMode mode) noexcept;
CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst,
                           RoundingMode mode) noexcept;
CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                            RoundingMode mode) noexcept;
}  // namespace generic

}  // namespace pelm_ossrel::simd
