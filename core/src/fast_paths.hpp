// Vectorised fast paths of four conversions, chosen by the processor at run time.
//
// Each selection function runs the body of the active processor level (simd/level.hpp): the
// x86-64-v3 level (simd::avx2), AVX (simd::avx) or the generic one, which has bodies only for
// the three clamp conversions. Without a body to run the function declines and has touched
// neither run. The bodies, and thus the fast paths, work in blocks: when one fails, the blocks
// before the failing one are written and the failing block is not (see simd/bodies.hpp for the
// block sizes and the errors reported).
#pragma once

#include <cstdint>
#include <type_traits>

#include "cast_error.hpp"
#include "config.hpp"
#include "modes.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

// What a fast path answers: the whole conversion done, the work declined (nothing written, the
// caller's conversion runs from the start, in blocks through the level's body), or the
// conversion's error.
class FastPathResult {
public:
    enum class Outcome : std::uint8_t { Handled, NotHandled, Failed };

    static constexpr FastPathResult handled() noexcept { return FastPathResult(Outcome::Handled, {}); }
    static constexpr FastPathResult not_handled() noexcept {
        return FastPathResult(Outcome::NotHandled, {});
    }
    static constexpr FastPathResult failed(const CastError& error) noexcept {
        return FastPathResult(Outcome::Failed, error);
    }
    // A body's result: success is handled, an error is failed.
    static constexpr FastPathResult from_body(const CastResult& result) noexcept {
        return result ? failed(*result) : handled();
    }

    constexpr Outcome outcome() const noexcept { return outcome_; }
    // Handled or failed: the conversion's result is known and the element loop must not run.
    constexpr bool decided() const noexcept { return outcome_ != Outcome::NotHandled; }
    // The conversion's result once decided: success when handled, the error when failed.
    constexpr CastResult result() const noexcept {
        if (outcome_ == Outcome::Failed) return error_;
        return std::nullopt;
    }

private:
    constexpr FastPathResult(Outcome outcome, const CastError& error) noexcept
        : outcome_(outcome), error_(error) {}

    Outcome outcome_;
    CastError error_;
};

// The result of a fast-path body (simd/bodies.hpp) as the conversion's result.
namespace simd {
struct BodyResult;
}
CastResult to_cast_result(const simd::BodyResult& result) noexcept;

// Each fast path runs under the default floating-point control (default_float_control.hpp).

// float32 / float64 -> uint8 and float64 -> int32 under clamp; every processor handles them.
FastPathResult try_f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst,
                                   RoundingMode mode) noexcept;
FastPathResult try_f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst,
                                   RoundingMode mode) noexcept;
FastPathResult try_f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                    RoundingMode mode) noexcept;

// float64 -> int32 with no out-of-range mode; declined without AVX. An out-of-range error
// reports the element as it was before rounding, and within a block of four a NaN is
// reported before an element out of range.
FastPathResult try_f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst,
                                    RoundingMode mode) noexcept;

// float64 -> float32 to nearest, ties to even; declined without AVX. Writes the whole
// destination; with `check`, then reports the first finite element that became an infinity.
FastPathResult try_f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept;

// The same fast paths without a control of their own, for the conversions below, which hold one
// for the whole call already.
namespace fast_path {
FastPathResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
FastPathResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept;
FastPathResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
FastPathResult f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept;
FastPathResult f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept;
}  // namespace fast_path

// ---- Where the conversions offer their work -------------------------------------------------
//
// A floating-to-integer or floating-to-floating conversion calls its offer first, with both
// slices whole; when the answer is decided, that is the conversion's result, otherwise the
// conversion runs from the first element in blocks through the level's body. No offer is made with a scalar map, under
// nearest-away, or under wrap; float64 -> float32 is offered only under nearest-even, with the
// overflow check unless the out-of-range mode is clamp. Every other pair is never offered. The
// offers hold no floating-point control of their own: the conversions hold it for the call.

template <class S, class D>
FastPathResult offer_float_to_int_fast_path([[maybe_unused]] SrcSlice<S> src,
                                            [[maybe_unused]] DstSlice<D> dst,
                                            const CastConfig<S, D>& config) noexcept {
    if (!config.scalar_map.empty() || config.rounding_mode == RoundingMode::NearestAway)
        return FastPathResult::not_handled();
    [[maybe_unused]] const bool clamp = config.out_of_range.is(OutOfRangeMode::Clamp);
    if constexpr (std::is_same_v<S, double> && std::is_same_v<D, std::uint8_t>) {
        if (clamp) return fast_path::f64_to_u8_clamp(src, dst, config.rounding_mode);
    } else if constexpr (std::is_same_v<S, float> && std::is_same_v<D, std::uint8_t>) {
        if (clamp) return fast_path::f32_to_u8_clamp(src, dst, config.rounding_mode);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, std::int32_t>) {
        // A declined clamp offer goes to the element loop, not to the check path.
        if (clamp) return fast_path::f64_to_i32_clamp(src, dst, config.rounding_mode);
        if (!config.out_of_range.has_value()) return fast_path::f64_to_i32_check(src, dst, config.rounding_mode);
    }
    return FastPathResult::not_handled();
}

template <class S, class D>
FastPathResult offer_float_to_float_fast_path([[maybe_unused]] SrcSlice<S> src,
                                              [[maybe_unused]] DstSlice<D> dst,
                                              [[maybe_unused]] const CastConfig<S, D>& config) noexcept {
    if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) {
        if (config.scalar_map.empty() && config.rounding_mode == RoundingMode::NearestEven)
            return fast_path::f64_to_f32_nearest(src, dst, !config.out_of_range.is(OutOfRangeMode::Clamp));
    }
    return FastPathResult::not_handled();
}

}  // namespace pelm_ossrel
