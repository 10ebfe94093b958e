// Mode texts: exact parsing, refusal messages and naming.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "modes.hpp"

namespace pelm_ossrel {
namespace {

using namespace std::string_view_literals;

static_assert(sizeof(RoundingMode) == 1);
static_assert(sizeof(OutOfRangeMode) == 1);
static_assert(sizeof(OptionalOutOfRangeMode) == 1);

TEST(RoundingModeText, EachTextParsesToItsValue) {
    struct Case {
        std::string_view text;
        RoundingMode mode;
        std::uint8_t byte;
    };
    const Case cases[] = {
        {"nearest-even", RoundingMode::NearestEven, 0},
        {"towards-zero", RoundingMode::TowardsZero, 1},
        {"towards-positive", RoundingMode::TowardsPositive, 2},
        {"towards-negative", RoundingMode::TowardsNegative, 3},
        {"nearest-away", RoundingMode::NearestAway, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const ParsedMode<RoundingMode> parsed = from_str<RoundingMode>(c.text);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(*parsed.mode, c.mode);
        EXPECT_EQ(static_cast<std::uint8_t>(*parsed.mode), c.byte);
        EXPECT_EQ(parsed.message, "");
    }
}

TEST(OutOfRangeModeText, EachTextParsesToItsValue) {
    struct Case {
        std::string_view text;
        OutOfRangeMode mode;
        std::uint8_t byte;
    };
    const Case cases[] = {
        {"clamp", OutOfRangeMode::Clamp, 0},
        {"wrap", OutOfRangeMode::Wrap, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const ParsedMode<OutOfRangeMode> parsed = from_str<OutOfRangeMode>(c.text);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(*parsed.mode, c.mode);
        EXPECT_EQ(static_cast<std::uint8_t>(*parsed.mode), c.byte);
    }
}

// Texts are compared byte for byte: case, blanks, NULs and prefixes all count, and the
// refusal repeats the text unchanged after the template's blank.
TEST(RoundingModeText, AnythingElseIsRefusedWithTheTextUnchanged) {
    struct Case {
        std::string_view text;
        std::string_view message;
    };
    const Case cases[] = {
        {"Nearest-even"sv, "Unknown rounding mode: Nearest-even"sv},
        {"NEAREST-EVEN"sv, "Unknown rounding mode: NEAREST-EVEN"sv},
        {" nearest-even"sv, "Unknown rounding mode:  nearest-even"sv},
        {"nearest-even "sv, "Unknown rounding mode: nearest-even "sv},
        {""sv, "Unknown rounding mode: "sv},
        {"nearest"sv, "Unknown rounding mode: nearest"sv},
        {"nearest_even"sv, "Unknown rounding mode: nearest_even"sv},
        {"nearest-even\0"sv, "Unknown rounding mode: nearest-even\0"sv},
        {"nearest\0-even"sv, "Unknown rounding mode: nearest\0-even"sv},
        {"clamp"sv, "Unknown rounding mode: clamp"sv},
        {"towards-zero\n"sv, "Unknown rounding mode: towards-zero\n"sv},
        {"\xc3\xa9"sv, "Unknown rounding mode: \xc3\xa9"sv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const ParsedMode<RoundingMode> parsed = from_str<RoundingMode>(c.text);
        EXPECT_FALSE(parsed);
        EXPECT_FALSE(parsed.mode.has_value());
        EXPECT_EQ(parsed.message, c.message);
    }
}

TEST(OutOfRangeModeText, AnythingElseIsRefusedWithTheTextUnchanged) {
    struct Case {
        std::string_view text;
        std::string_view message;
    };
    const Case cases[] = {
        {" clamp"sv, "Unknown out_of_range mode:  clamp"sv},
        {"clamp "sv, "Unknown out_of_range mode: clamp "sv},
        {"Clamp"sv, "Unknown out_of_range mode: Clamp"sv},
        {"WRAP"sv, "Unknown out_of_range mode: WRAP"sv},
        {""sv, "Unknown out_of_range mode: "sv},
        {"clamp\0"sv, "Unknown out_of_range mode: clamp\0"sv},
        {"\0clamp"sv, "Unknown out_of_range mode: \0clamp"sv},
        {"none"sv, "Unknown out_of_range mode: none"sv},
        {"None"sv, "Unknown out_of_range mode: None"sv},
        {"nearest-even"sv, "Unknown out_of_range mode: nearest-even"sv},
        {"wra"sv, "Unknown out_of_range mode: wra"sv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const ParsedMode<OutOfRangeMode> parsed = from_str<OutOfRangeMode>(c.text);
        EXPECT_FALSE(parsed);
        EXPECT_EQ(parsed.message, c.message);
    }
}

TEST(OptionalOutOfRangeMode, CarriesOneByteWithTwoForAbsent) {
    constexpr OptionalOutOfRangeMode absent;
    constexpr OptionalOutOfRangeMode none = std::nullopt;
    constexpr OptionalOutOfRangeMode clamp = OutOfRangeMode::Clamp;
    constexpr OptionalOutOfRangeMode wrap = OutOfRangeMode::Wrap;

    static_assert(sizeof(OptionalOutOfRangeMode) == 1);
    EXPECT_EQ(absent.rule(), OutOfRange::Absent);
    EXPECT_EQ(none.rule(), OutOfRange::Absent);
    EXPECT_EQ(clamp.rule(), OutOfRange::Clamp);
    EXPECT_EQ(wrap.rule(), OutOfRange::Wrap);
    EXPECT_EQ(static_cast<int>(absent.rule()), 2);
    EXPECT_EQ(static_cast<int>(clamp.rule()), 0);
    EXPECT_EQ(static_cast<int>(wrap.rule()), 1);

    EXPECT_FALSE(absent.has_value());
    EXPECT_TRUE(clamp.has_value());
    EXPECT_TRUE(wrap.has_value());
    EXPECT_EQ(*clamp, OutOfRangeMode::Clamp);
    EXPECT_EQ(*wrap, OutOfRangeMode::Wrap);

    EXPECT_TRUE(clamp.is(OutOfRangeMode::Clamp));
    EXPECT_FALSE(clamp.is(OutOfRangeMode::Wrap));
    EXPECT_FALSE(absent.is(OutOfRangeMode::Clamp));
    EXPECT_FALSE(absent.is(OutOfRangeMode::Wrap));
    EXPECT_EQ(absent, none);
    EXPECT_NE(absent, clamp);
}

}  // namespace
}  // namespace pelm_ossrel
