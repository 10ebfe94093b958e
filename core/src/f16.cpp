#include "f16.hpp"

namespace pelm_ossrel {

namespace {

// The NaN of a binary32 operation, fixed here rather than left to operand order or to the
// processor: a NaN operand comes back quiet, the first one when both are NaNs (as the x86 scalar
// instructions do with the left operand first); an invalid operation on two non-NaN operands
// (infinities of opposite effective signs) gives the x86 default NaN, negative and quiet.
constexpr std::uint16_t kQuietBit = 0x0200u;
constexpr f16 kDefaultNaN{0xFE00u};

f16 quiet(f16 a) noexcept { return f16{static_cast<std::uint16_t>(a.bits | kQuietBit)}; }

f16 round_result(float r) noexcept {
    if (r != r) return kDefaultNaN;
    return f32_to_f16(r);
}

}  // namespace

f16 add(f16 a, f16 b) noexcept {
    if (a.is_nan()) return quiet(a);
    if (b.is_nan()) return quiet(b);
    return round_result(f16_to_f32(a) + f16_to_f32(b));
}

f16 sub(f16 a, f16 b) noexcept {
    if (a.is_nan()) return quiet(a);
    if (b.is_nan()) return quiet(b);
    return round_result(f16_to_f32(a) - f16_to_f32(b));
}

}  // namespace pelm_ossrel
