// The scalar map in the block loops of floating sources to floating targets, and float64 to
// float32 in every rounding mode in the lanes: the same stored bits, the same error and exactly
// the same elements written before it as the element loop. Every test runs once per level this
// processor has.
#include <gtest/gtest.h>

#include "support/map_checks.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;
using namespace map_checks;

PELM_OSSREL_MAP_BLOCK_SUITE(FloatToFloatMapBlocks, Family::FloatToFloat)
PELM_OSSREL_MAP_FAILURE_TEST(FloatToFloatMapBlocks, Family::FloatToFloat)

// NaNs of every payload, infinities, the overflow threshold and the values around it, results
// in binary32's subnormal range and its ties, ties between normal neighbours, and random values
// with and without bits below binary32's precision.
std::vector<double> narrowing_values(std::mt19937_64& rng) {
    std::vector<double> v = {0.0, -0.0, kInfinity, -kInfinity, 1e39, -1e39, 1e300, std::numeric_limits<double>::max(),
                             // Subnormal results and the ties between them.
                             0x1p-149, 0x1p-150, -0x1p-150, 0x1p-150 * (1 + 0x1p-40), 0x1p-150 * (1 - 0x1p-40),
                             0x3p-150, -0x3p-150, 0x1p-126, 0x1p-126 * (1 - 0x1p-24), 0x1p-127 + 0x1p-150, 1e-45,
                             1e-46, 5e-324, 1e-310,
                             // Ties between normal neighbours and values just off them.
                             1 + 0x1p-24, 1 + 0x3p-24, -(1 + 0x1p-24), 1 + 0x1p-24 + 0x1p-52, 1 + 0x1p-24 - 0x1p-53,
                             0.1, 1.0 / 3.0, 65504.0, 65520.0};
    // The largest finite binary32, the tie beyond it and their neighbours.
    const double max = 3.4028234663852886e38, tie = 3.4028235677973366e38;
    for (double x : {max, tie, std::nextafter(tie, 0.0), std::nextafter(tie, kInfinity), std::nextafter(max, 0.0),
                     std::nextafter(max, kInfinity), 0x1p128}) {
        v.push_back(x);
        v.push_back(-x);
    }
    for (int i = 0; i < 48; ++i) {
        const double m = std::uniform_real_distribution<double>(1.0, 2.0)(rng);
        double x = std::ldexp(m, static_cast<int>(rng() % 300) - 160);
        if (rng() % 3 == 0) x = static_cast<float>(x);
        v.push_back(rng() % 2 ? x : -x);
    }
    return v;
}

TEST_P(FloatToFloatMapBlocks, NarrowsFloat64ToFloat32InEveryModeLikeTheElementLoop) {
    std::mt19937_64 rng(rng_start("narrowing"));
    std::vector<double> values = narrowing_values(rng);
    for (double x : nan_values<double>()) values.push_back(x);
    check_lane_values<double, float>(distinct(values), "narrowing");
}

TEST_P(FloatToFloatMapBlocks, NarrowsFloat64ToFloat32ToTheExpectedBits) {
    Rows<double, float> rows;
    const auto f = [](std::uint32_t bits) { return std::optional<float>(std::bit_cast<float>(bits)); };
    const std::optional<float> failure;
    const std::optional<float> max = std::numeric_limits<float>::max(), inf = std::numeric_limits<float>::infinity();
    for (OutOfRange o : kOutOfRangeRules) {
        // A NaN comes out quiet with its sign and the top 23 payload bits.
        add_every_mode(rows, from_pattern<double>(0x7FF0000000000001), o, f(0x7FC00000));
        add_every_mode(rows, from_pattern<double>(0xFFF4000020000000), o, f(0xFFE00001));
        add_every_mode(rows, from_pattern<double>(0x7FF0000010000000), o, f(0x7FC00000));
        add_every_mode(rows, kInfinity, o, inf);
        const std::optional<float> tie_below[5] = {f(0), f(0), f(1), f(0), f(1)};
        add_by_mode(rows, 0x1p-150, o, tie_below);
        const std::optional<float> negative_tie_below[5] = {f(0x80000000), f(0x80000000), f(0x80000000), f(0x80000001),
                                                             f(0x80000001)};
        add_by_mode(rows, -0x1p-150, o, negative_tie_below);
        const std::optional<float> odd_tie[5] = {f(2), f(1), f(2), f(1), f(2)};
        add_by_mode(rows, 0x3p-150, o, odd_tie);
        const std::optional<float> one_tie[5] = {1.0f, 1.0f, f(0x3F800001), 1.0f, f(0x3F800001)};
        add_by_mode(rows, 1 + 0x1p-24, o, one_tie);
    }
    // Overflow: clamp stores the infinity; otherwise a finite source whose result is infinite fails.
    const std::optional<float> clamp_big[5] = {inf, max, inf, max, inf};
    const std::optional<float> big[5] = {failure, max, failure, max, failure};
    const std::optional<float> negative_big[5] = {failure, -*max, -*max, failure, failure};
    const std::optional<float> at_tie[5] = {failure, max, failure, max, failure};
    const std::optional<float> below_tie[5] = {max, max, failure, max, max};
    add_by_mode(rows, 1e39, kClamp, clamp_big);
    add_by_mode(rows, 1e39, kAbsent, big);
    add_by_mode(rows, 1e39, kWrap, big);
    add_by_mode(rows, -1e39, kAbsent, negative_big);
    add_by_mode(rows, 3.4028235677973366e38, kAbsent, at_tie);
    add_by_mode(rows, std::nextafter(3.4028235677973366e38, 0.0), kAbsent, below_tie);
    add_by_mode(rows, std::numeric_limits<double>::max(), kClamp, clamp_big);
    expect_rows(rows);
}

}  // namespace
}  // namespace pelm_ossrel
