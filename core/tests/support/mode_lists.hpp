// The mode lists that the native tests and the fuzz target run through.
#pragma once

#include <string>

#include "modes.hpp"

namespace pelm_ossrel::testing_support {

inline constexpr RoundingMode kRoundingModes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                                  RoundingMode::TowardsPositive, RoundingMode::TowardsNegative,
                                                  RoundingMode::NearestAway};

inline constexpr OutOfRange kOutOfRangeRules[] = {OutOfRange::Clamp, OutOfRange::Wrap, OutOfRange::Absent};

inline std::string rounding_name(RoundingMode mode) {
    switch (mode) {
        case RoundingMode::NearestEven: return "nearest-even";
        case RoundingMode::TowardsZero: return "towards-zero";
        case RoundingMode::TowardsPositive: return "towards-positive";
        case RoundingMode::TowardsNegative: return "towards-negative";
        case RoundingMode::NearestAway: return "nearest-away";
    }
    return "?";
}

constexpr OptionalOutOfRangeMode optional_mode(OutOfRange rule) noexcept {
    if (rule == OutOfRange::Absent) return OptionalOutOfRangeMode{};
    return OptionalOutOfRangeMode(static_cast<OutOfRangeMode>(rule));
}

}  // namespace pelm_ossrel::testing_support
