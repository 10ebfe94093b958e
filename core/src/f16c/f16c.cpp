#include "f16c/f16c.hpp"

#include <immintrin.h>

#include <cstdint>
#include <cstring>

// Only the type is taken from here: an inline function of f16.hpp used in this file would be
// emitted with AVX code and could be chosen by the linker for baseline callers.
#include "f16.hpp"

namespace pelm_ossrel {

namespace {

// VCVTPS2PH immediate: round to nearest even, independent of MXCSR.RC.
constexpr int kRoundNearestEven = _MM_FROUND_TO_NEAREST_INT;

constexpr std::size_t kLanes = 8;

}  // namespace

f16 f32_to_f16_x86_f16c(float x) noexcept {
    return f16{static_cast<std::uint16_t>(_cvtss_sh(x, kRoundNearestEven))};
}

float f16_to_f32_x86_f16c(f16 h) noexcept { return _cvtsh_ss(h.bits); }

void f16_to_f32_x86_f16c_n(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; n - i >= kLanes; i += kLanes) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i_u*>(src + 2 * i));
        _mm256_storeu_ps(reinterpret_cast<float*>(dst + 4 * i), _mm256_cvtph_ps(h));
    }
    for (; i < n; ++i) {
        std::uint16_t h;
        std::memcpy(&h, src + 2 * i, sizeof h);
        const float x = _cvtsh_ss(h);
        std::memcpy(dst + 4 * i, &x, sizeof x);
    }
}

void f32_to_f16_x86_f16c_n(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; n - i >= kLanes; i += kLanes) {
        const __m256 x = _mm256_loadu_ps(reinterpret_cast<const float*>(src + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i_u*>(dst + 2 * i),
                         _mm256_cvtps_ph(x, kRoundNearestEven));
    }
    for (; i < n; ++i) {
        float x;
        std::memcpy(&x, src + 4 * i, sizeof x);
        const auto h = static_cast<std::uint16_t>(_cvtss_sh(x, kRoundNearestEven));
        std::memcpy(dst + 2 * i, &h, sizeof h);
    }
}

}  // namespace pelm_ossrel
