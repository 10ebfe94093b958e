// Mode texts: parsing, exact and byte for byte.
#include "modes.hpp"

#include <array>
#include <utility>

namespace pelm_ossrel {

namespace {

constexpr std::array<std::pair<std::string_view, RoundingMode>, 5> kRoundingTexts{{
    {"nearest-even", RoundingMode::NearestEven},
    {"towards-zero", RoundingMode::TowardsZero},
    {"towards-positive", RoundingMode::TowardsPositive},
    {"towards-negative", RoundingMode::TowardsNegative},
    {"nearest-away", RoundingMode::NearestAway},
}};

constexpr std::array<std::pair<std::string_view, OutOfRangeMode>, 2> kOutOfRangeTexts{{
    {"clamp", OutOfRangeMode::Clamp},
    {"wrap", OutOfRangeMode::Wrap},
}};

// The mode whose text equals `text`, or the refusal "<prefix><text>" with the text unchanged
// (embedded NULs and blanks included).
template <class Mode, std::size_t N>
ParsedMode<Mode> parse(const std::array<std::pair<std::string_view, Mode>, N>& table,
                       std::string_view prefix, std::string_view text) {
    for (const auto& [name, mode] : table) {
        if (text == name) return ParsedMode<Mode>{mode, {}};
    }
    std::string message;
    message.reserve(prefix.size() + text.size());
    message.append(prefix);
    message.append(text);
    return ParsedMode<Mode>{std::nullopt, std::move(message)};
}

}  // namespace

template <>
ParsedMode<RoundingMode> from_str<RoundingMode>(std::string_view text) {
    return parse(kRoundingTexts, "Unknown rounding mode: ", text);
}

template <>
ParsedMode<OutOfRangeMode> from_str<OutOfRangeMode>(std::string_view text) {
    return parse(kOutOfRangeTexts, "Unknown out_of_range mode: ", text);
}

}  // namespace pelm_ossrel
