// The binary16 element type: an IEEE 754 binary16 carried as its bit pattern.
#pragma once

#include <cstdint>

namespace pelm_ossrel {

struct f16 {
    std::uint16_t bits;

    static constexpr f16 from_bits(std::uint16_t b) noexcept { return f16{b}; }
    constexpr bool is_nan() const noexcept { return (bits & 0x7FFFu) > 0x7C00u; }
};

static_assert(sizeof(f16) == 2);

}  // namespace pelm_ossrel
