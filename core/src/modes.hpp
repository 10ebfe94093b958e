// Rounding and out-of-range modes, and their texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelm_ossrel {

enum class RoundingMode : std::uint8_t {
    NearestEven = 0,
    TowardsZero = 1,
    TowardsPositive = 2,
    TowardsNegative = 3,
    NearestAway = 4,
};

enum class OutOfRangeMode : std::uint8_t {
    Clamp = 0,
    Wrap = 1,
};

// The optional out-of-range mode, carried as one byte: 0 clamp, 1 wrap, 2 absent.
class OptionalOutOfRangeMode {
public:
    static constexpr std::uint8_t kAbsent = 2;

    constexpr OptionalOutOfRangeMode() noexcept = default;
    constexpr OptionalOutOfRangeMode(std::nullopt_t) noexcept {}
    constexpr OptionalOutOfRangeMode(OutOfRangeMode mode) noexcept
        : raw_(static_cast<std::uint8_t>(mode)) {}

    constexpr bool has_value() const noexcept { return raw_ != kAbsent; }
    constexpr explicit operator bool() const noexcept { return has_value(); }
    constexpr OutOfRangeMode operator*() const noexcept { return static_cast<OutOfRangeMode>(raw_); }
    constexpr std::uint8_t raw() const noexcept { return raw_; }

    constexpr bool is(OutOfRangeMode mode) const noexcept {
        return raw_ == static_cast<std::uint8_t>(mode);
    }
    friend constexpr bool operator==(OptionalOutOfRangeMode, OptionalOutOfRangeMode) noexcept = default;

private:
    std::uint8_t raw_ = kAbsent;
};

// Result of parsing a mode text: the mode, or the message that refuses the text.
template <class Mode>
struct ParsedMode {
    std::optional<Mode> mode;
    std::string message;

    explicit operator bool() const noexcept { return mode.has_value(); }
};

// from_str<RoundingMode>(text) and from_str<OutOfRangeMode>(text): exact, case-sensitive match.
template <class Mode>
ParsedMode<Mode> from_str(std::string_view text);

template <>
ParsedMode<RoundingMode> from_str<RoundingMode>(std::string_view text);
template <>
ParsedMode<OutOfRangeMode> from_str<OutOfRangeMode>(std::string_view text);

std::string_view to_str(RoundingMode mode) noexcept;
std::string_view to_str(OutOfRangeMode mode) noexcept;

}  // namespace pelm_ossrel
