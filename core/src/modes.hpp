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

// The out-of-range rule a loop is compiled for: one of the two modes, or none given. The loops
// and the vector bodies take it as a template argument (lift_modes.hpp turns the run-time modes
// into template arguments).
enum class OutOfRange : std::uint8_t {
    Clamp = 0,
    Wrap = 1,
    Absent = 2,
};

// The optional out-of-range mode, carried as one byte: its rule (Absent when no mode was given).
class OptionalOutOfRangeMode {
public:
    constexpr OptionalOutOfRangeMode() noexcept = default;
    constexpr OptionalOutOfRangeMode(std::nullopt_t) noexcept {}
    constexpr OptionalOutOfRangeMode(OutOfRangeMode mode) noexcept : rule_(static_cast<OutOfRange>(mode)) {}

    constexpr bool has_value() const noexcept { return rule_ != OutOfRange::Absent; }
    constexpr explicit operator bool() const noexcept { return has_value(); }
    constexpr OutOfRangeMode operator*() const noexcept { return static_cast<OutOfRangeMode>(rule_); }
    constexpr OutOfRange rule() const noexcept { return rule_; }

    constexpr bool is(OutOfRangeMode mode) const noexcept { return rule_ == static_cast<OutOfRange>(mode); }
    friend constexpr bool operator==(OptionalOutOfRangeMode, OptionalOutOfRangeMode) noexcept = default;

private:
    OutOfRange rule_ = OutOfRange::Absent;
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

}  // namespace pelm_ossrel
