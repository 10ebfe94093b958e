// Portable forms of the clamp kernels, for processors without AVX: element by element, with
// the standard rounding operations of the source precision. They never decline the work.
#include <cmath>

#include "simd/kernel_shapes.hpp"

namespace pelm_ossrel::simd::generic {
namespace {

struct StandardRound {
    template <RoundingMode M, class F>
    static F apply(F x) noexcept {
        if constexpr (M == RoundingMode::NearestEven) return std::rint(x);
        else if constexpr (M == RoundingMode::TowardsZero) return std::trunc(x);
        else if constexpr (M == RoundingMode::TowardsPositive) return std::ceil(x);
        else if constexpr (M == RoundingMode::TowardsNegative) return std::floor(x);
        else return std::copysign(std::floor(std::fabs(x) + F(0.5)), x);
    }
};

template <class S, class D>
CastResult clamp_kernel(SrcSlice<S> src, DstSlice<D> dst, RoundingMode mode) noexcept {
    const std::size_t n = src.size() < dst.size() ? src.size() : dst.size();
    const unsigned char* in = src.bytes();
    unsigned char* out = dst.bytes();
    return to_cast_result(with_rounding_mode(mode, [&]<RoundingMode M>() {
        for (std::size_t i = 0; i < n; ++i) {
            const KernelStatus status = clamp_element<S, D, M, StandardRound>(in, out, i);
            if (failed(status)) return status;
        }
        return kDone;
    }));
}

}  // namespace

CastResult f32_to_u8_clamp(SrcSlice<float> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept {
    return clamp_kernel(src, dst, mode);
}

CastResult f64_to_u8_clamp(SrcSlice<double> src, DstSlice<std::uint8_t> dst, RoundingMode mode) noexcept {
    return clamp_kernel(src, dst, mode);
}

CastResult f64_to_i32_clamp(SrcSlice<double> src, DstSlice<std::int32_t> dst, RoundingMode mode) noexcept {
    return clamp_kernel(src, dst, mode);
}

}  // namespace pelm_ossrel::simd::generic
