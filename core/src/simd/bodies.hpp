// The one interface of the vector code: bodies that convert runs of elements between byte
// pointers, one table of them per processor level.
//
// Every level lives in its own folder (generic, avx, avx2) and namespace, compiled with that
// level's flags only; its translation unit includes the shared kernel sources (simd/kernels,
// shared/) inside its own namespace, so each level has its own copy of every inline function and
// template, and only `bodies()` is visible outside. Baseline code reaches a body only through the
// table of the active level (level.hpp), or through bodies_for(level) for a level the processor
// has.
//
// A body converts the first n elements at src to dst (unaligned, not overlapping) under the
// modes and reports how far it went:
//   - Done: all its work done (done = n, or for the block loops the n - n mod block whole
//     blocks);
//   - Stopped: the block at `done` is one that the caller's element loop must convert (a value
//     that fails, or one the body leaves to the element loop), nothing of it is written; the
//     caller converts it and calls again after it;
//   - NotANumber, Int32Range, Float32Overflow (fast paths only): the conversion fails on `value`
//     (the source element, as binary64, before rounding).
//
// The block loops take the call's scalar map (BodyModes::map). With one, a body converts whole
// blocks only (the caller's element loop takes the last n mod block elements), and in each block
// an element that matches a key stores the target of the first entry whose key it matches,
// unchanged: it is never rounded, range-tested or reported. The fast paths never get a map.
#pragma once

#include <cstddef>
#include <cstdint>

#include "f16_type.hpp"
#include "modes.hpp"
#include "simd/level.hpp"

namespace pelm_ossrel::simd {

// A scalar map as the bodies receive it: `count` entries of the body's pair, MapEntry<S, D>
// (map_entry.hpp), in list order at `entries`; count 0 for none.
struct BodyMap {
    const void* entries = nullptr;
    std::size_t count = 0;
};

struct BodyModes {
    RoundingMode rounding;
    OutOfRange out_of_range;
    BodyMap map{};
};

struct BodyResult {
    enum class Status : std::uint8_t { Done, Stopped, NotANumber, Int32Range, Float32Overflow };
    std::size_t done;
    Status status;
    double value;
};

using Body = BodyResult (*)(const unsigned char* src, unsigned char* dst, std::size_t n, BodyModes modes) noexcept;

// Element codes, the index of a type in the pair tables: the eight integer types, then the
// three floating ones.
template <class T>
inline constexpr int kElementCode = -1;
template <> inline constexpr int kElementCode<std::int8_t> = 0;
template <> inline constexpr int kElementCode<std::uint8_t> = 1;
template <> inline constexpr int kElementCode<std::int16_t> = 2;
template <> inline constexpr int kElementCode<std::uint16_t> = 3;
template <> inline constexpr int kElementCode<std::int32_t> = 4;
template <> inline constexpr int kElementCode<std::uint32_t> = 5;
template <> inline constexpr int kElementCode<std::int64_t> = 6;
template <> inline constexpr int kElementCode<std::uint64_t> = 7;
template <> inline constexpr int kElementCode<f16> = 8;
template <> inline constexpr int kElementCode<float> = 9;
template <> inline constexpr int kElementCode<double> = 10;

inline constexpr int kElementCodes = 11;

// The block of the block loops (float_to_int, float_to_float, int_to_float), of the
// integer-to-integer loops and of the direct pairs.
inline constexpr std::size_t kFloatBlock = 16;
inline constexpr std::size_t kIntBlock = 64;
inline constexpr std::size_t kDirectBlock = 32;

struct LevelBodies {
    Level level;

    // The fast paths (fast_paths.hpp); null where the level has none. Blocks and errors:
    //   body                 avx2 block            avx block     generic
    //   f32_to_u8_clamp      16 (two 8-lane)       8             per element
    //   f64_to_u8_clamp      16 (four 4-lane)      4             per element
    //   f64_to_i32_clamp     4                     4             per element
    //   f64_to_i32_check     4                     4             -
    //   f64_to_f32_nearest   groups of 4           groups of 4   -
    // A failing block is not written, every earlier block is, and the elements after the last
    // whole block are converted one at a time. The clamp bodies report the first NaN of the
    // failing block; the check body, within a block, the first NaN before any element that
    // rounds outside [-2^31, 2^31 - 1] (reported before rounding). The nearest body writes all n
    // elements and then, unless the out-of-range mode is clamp, reports the first finite source
    // whose binary32 result is an infinity. Nearest-away is never handed to them.
    Body f32_to_u8_clamp;
    Body f64_to_u8_clamp;
    Body f64_to_i32_clamp;
    Body f64_to_i32_check;
    Body f64_to_f32_nearest;

    // The block loops, indexed [source code][target code]; null for pairs outside the family.
    // Whole blocks of 16 from the start, each stored only when every element is stored exactly
    // as the family's element loop stores it; Stopped at the first other one.
    Body float_to_int[kElementCodes][kElementCodes];
    Body float_to_float[kElementCodes][kElementCodes];
    // int_to_float: without a map all n elements; never stops.
    Body int_to_float[kElementCodes][kElementCodes];

    // The integer pairs whose target cannot hold every source value. checked: whole blocks of 64
    // while every value fits, Stopped at the first block holding one that does not; clamp and
    // wrap: without a map all n elements; never stop.
    Body int_to_int_checked[kElementCodes][kElementCodes];
    Body int_to_int_clamp[kElementCodes][kElementCodes];
    Body int_to_int_wrap[kElementCodes][kElementCodes];

    // The direct pairs (the target holds every source value: the same type, the integer
    // widenings that keep every value, every integer type to float64, 8- and 16-bit integers to
    // float32), with a scalar map only: whole blocks of kDirectBlock; never stop. The value of an
    // element that no key matches is its plain conversion (a bit copy for the same type; int64
    // and uint64 to float64 round to nearest, ties to even).
    Body direct[kElementCodes][kElementCodes];
};

namespace generic {
const LevelBodies& bodies() noexcept;
}
namespace avx {
const LevelBodies& bodies() noexcept;
}
namespace avx2 {
const LevelBodies& bodies() noexcept;
}

// The bodies of a level; the caller makes sure the processor has it.
const LevelBodies& bodies_for(Level level) noexcept;

// The bodies of the active level: one load once chosen.
const LevelBodies& active_bodies() noexcept;

}  // namespace pelm_ossrel::simd
