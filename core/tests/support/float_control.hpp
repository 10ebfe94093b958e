// Calls under a floating-point control other than the default, for the native tests and the fuzz
// target: the controls a caller's thread may run with, the public conversion of every pair, and
// a call made with the thread's MXCSR set to a given value and read back after it.
#pragma once

#include <cstdint>

#include "cast_error.hpp"
#include "config.hpp"
#include "default_float_control.hpp"
#include "direct_pairs.hpp"
#include "element_types.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "slice.hpp"
#include "support/mode_lists.hpp"

namespace pelm_ossrel::testing_support {

// The fields of MXCSR.
inline constexpr std::uint32_t kMxcsrRoundDown = 0x2000;
inline constexpr std::uint32_t kMxcsrRoundUp = 0x4000;
inline constexpr std::uint32_t kMxcsrRoundTowardsZero = 0x6000;
inline constexpr std::uint32_t kMxcsrFlushToZero = 0x8000;
inline constexpr std::uint32_t kMxcsrDenormalsAreZero = 0x0040;
inline constexpr std::uint32_t kMxcsrExceptionMasks = 0x1F80;

struct FloatControl {
    const char* name;
    std::uint32_t mxcsr;
};

// Every way a caller's control differs from the default that can change a result or trap.
inline constexpr FloatControl kCallerControls[] = {
    {"upward", kDefaultMxcsr | kMxcsrRoundUp},
    {"downward", kDefaultMxcsr | kMxcsrRoundDown},
    {"towards_zero", kDefaultMxcsr | kMxcsrRoundTowardsZero},
    {"flush_to_zero", kDefaultMxcsr | kMxcsrFlushToZero},
    {"denormals_are_zero", kDefaultMxcsr | kMxcsrDenormalsAreZero},
    {"flush_and_denormals_zero", kDefaultMxcsr | kMxcsrFlushToZero | kMxcsrDenormalsAreZero},
    {"exceptions_unmasked", kDefaultMxcsr & ~kMxcsrExceptionMasks},
    {"all_at_once", (kDefaultMxcsr & ~kMxcsrExceptionMasks) | kMxcsrRoundUp | kMxcsrFlushToZero |
                        kMxcsrDenormalsAreZero},
};

// A control word drawn from two bytes: its rounding direction, FTZ and DAZ from the first, the
// exception masks cleared by the second; never the default itself.
inline std::uint32_t control_from_bytes(std::uint8_t a, std::uint8_t b) {
    std::uint32_t mxcsr = kDefaultMxcsr;
    mxcsr |= static_cast<std::uint32_t>(a & 3u) << 13;
    if ((a & 4u) != 0) mxcsr |= kMxcsrFlushToZero;
    if ((a & 8u) != 0) mxcsr |= kMxcsrDenormalsAreZero;
    mxcsr &= ~(static_cast<std::uint32_t>(b & 0x3Fu) << 7);
    return mxcsr == kDefaultMxcsr ? mxcsr | kMxcsrRoundTowardsZero : mxcsr;
}

// Runs fn() with the thread's MXCSR set to `mxcsr` and returns MXCSR as fn left it; the default
// is loaded again before anything else runs. fn must compute nothing in floating point itself.
template <class Fn>
std::uint32_t with_mxcsr(std::uint32_t mxcsr, const Fn& fn) {
    write_mxcsr(mxcsr);
    fn();
    const std::uint32_t after = read_mxcsr();
    write_mxcsr(kDefaultMxcsr);
    return after;
}

// The public conversion of the pair: the slice conversion of its family, or, for a direct pair,
// the conversion with the scalar map.
template <class S, class D>
CastResult public_conversion(RoundingMode rounding, OptionalOutOfRangeMode oor, ScalarMap<S, D> map,
                             SrcSlice<S> src, DstSlice<D> dst) {
    if constexpr (is_direct_pair_v<S, D>) {
        convert_direct_with_map(src, dst, map, src.size() < dst.size() ? src.size() : dst.size());
        return std::nullopt;
    } else if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) {
        return convert_slice_int_to_int(src, dst, IntToIntConfig<S, D>{map, oor});
    } else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) {
        return convert_slice_float_to_int(src, dst, CastConfig<S, D>{map, oor, rounding});
    } else if constexpr (is_integer_element_v<S>) {
        return convert_slice_int_to_float(src, dst, IntToFloatConfig<S, D>{map, rounding});
    } else {
        return convert_slice_float_to_float(src, dst, CastConfig<S, D>{map, oor, rounding});
    }
}

}  // namespace pelm_ossrel::testing_support
