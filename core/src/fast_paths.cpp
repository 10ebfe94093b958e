#include "fast_paths.hpp"

#include "default_float_control.hpp"
#include "simd/bodies.hpp"

namespace pelm_ossrel {

CastResult to_cast_result(const simd::BodyResult& result) noexcept {
    using Status = simd::BodyResult::Status;
    switch (result.status) {
        case Status::Done:
        case Status::Stopped: break;
        case Status::NotANumber: return CastError::non_finite(result.value);
        case Status::Int32Range: return CastError::out_of_range(result.value, -2147483648.0, 2147483647.0);
        case Status::Float32Overflow:
            return CastError::out_of_range(result.value, -3.4028234663852886e38, 3.4028234663852886e38);
    }
    return std::nullopt;
}

namespace {

// The body over the first min(source size, destination size) elements, or declined without one.
// The conversions never offer nearest-away; should a call bring it anyway, it is declined and the
// element loop, with its element-by-element error rules, does the work.
template <class S, class D>
FastPathResult run(simd::Body body, SrcSlice<S> src, DstSlice<D> dst, simd::BodyModes modes) noexcept {
    if (body == nullptr || modes.rounding == RoundingMode::NearestAway) return FastPathResult::not_handled();
    const std::size_t n = src.size() < dst.size() ? src.size() : dst.size();
    return FastPathResult::from_body(to_cast_result(body(src.bytes(), dst.bytes(), n, modes)));
}

simd::BodyModes rounding(RoundingMode mode) noexcept { return {mode, OutOfRange::Clamp}; }

}  // namespace

namespace fast_path {

FastPathResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept {
    return run(simd::active_bodies().f32_to_u8_clamp, src, dst, rounding(mode));
}

FastPathResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept {
    return run(simd::active_bodies().f64_to_u8_clamp, src, dst, rounding(mode));
}

FastPathResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept {
    return run(simd::active_bodies().f64_to_i32_clamp, src, dst, rounding(mode));
}

FastPathResult f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept {
    return run(simd::active_bodies().f64_to_i32_check, src, dst, {mode, OutOfRange::Absent});
}

FastPathResult f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept {
    return run(simd::active_bodies().f64_to_f32_nearest, src, dst,
               {RoundingMode::NearestEven, check ? OutOfRange::Absent : OutOfRange::Clamp});
}

}  // namespace fast_path

namespace {

// A fast path under the default floating-point control.
template <class S, class D, class Arg>
FastPathResult under_default_control(FastPathResult (*path)(SrcSlice<S>, DstSlice<D>, Arg) noexcept, SrcSlice<S> src,
                                     DstSlice<D> dst, Arg arg) noexcept {
    const DefaultFloatControl control;
    return path(src, dst, arg);
}

}  // namespace

FastPathResult try_f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept {
    return under_default_control(fast_path::f32_to_u8_clamp, src, dst, mode);
}

FastPathResult try_f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept {
    return under_default_control(fast_path::f64_to_u8_clamp, src, dst, mode);
}

FastPathResult try_f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept {
    return under_default_control(fast_path::f64_to_i32_clamp, src, dst, mode);
}

FastPathResult try_f64_to_i32_check(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept {
    return under_default_control(fast_path::f64_to_i32_check, src, dst, mode);
}

FastPathResult try_f64_to_f32_nearest(SrcSlice<double> src, DstSlice<float> dst, bool check) noexcept {
    return under_default_control(fast_path::f64_to_f32_nearest, src, dst, check);
}

}  // namespace pelm_ossrel
