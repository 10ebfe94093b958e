// Neighbours of binary32 and binary16 values, and the one-step adjustment of a nearest-even
// result to the other rounding modes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "adjust_to_mode.hpp"

namespace pelm_ossrel {
namespace {

struct StepRow {
    std::uint32_t x, up, down;
};

TEST(NextUpDown, Binary32Patterns) {
    const std::vector<StepRow> rows = {
        {0x00000000u, 0x00000001u, 0x80000001u},  // +0
        {0x80000000u, 0x00000001u, 0x80000001u},  // -0
        {0x00000001u, 0x00000002u, 0x00000000u},  // smallest subnormal, down to +0
        {0x80000001u, 0x80000000u, 0x80000002u},  // up to -0
        {0x007FFFFFu, 0x00800000u, 0x007FFFFEu},  // largest subnormal to smallest normal
        {0x3F800000u, 0x3F800001u, 0x3F7FFFFFu},  // 1.0
        {0xBF800000u, 0xBF7FFFFFu, 0xBF800001u},  // -1.0
        {0x7F7FFFFFu, 0x7F800000u, 0x7F7FFFFEu},  // largest finite up to +inf
        {0xFF7FFFFFu, 0xFF7FFFFEu, 0xFF800000u},  // lowest finite down to -inf
        {0x7F800000u, 0x7F800000u, 0x7F7FFFFFu},  // +inf
        {0xFF800000u, 0xFF7FFFFFu, 0xFF800000u},  // -inf
    };
    for (const StepRow& r : rows) {
        const float x = std::bit_cast<float>(r.x);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(next_up(x)), r.up) << std::hex << r.x;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(next_down(x)), r.down) << std::hex << r.x;
    }
}

TEST(NextUpDown, Binary16Patterns) {
    const std::vector<StepRow> rows = {
        {0x0000, 0x0001, 0x8001}, {0x8000, 0x0001, 0x8001}, {0x0001, 0x0002, 0x0000},
        {0x8001, 0x8000, 0x8002}, {0x03FF, 0x0400, 0x03FE}, {0x3C00, 0x3C01, 0x3BFF},
        {0xBC00, 0xBBFF, 0xBC01}, {0x7BFF, 0x7C00, 0x7BFE}, {0xFBFF, 0xFBFE, 0xFC00},
        {0x7C00, 0x7C00, 0x7BFF}, {0xFC00, 0xFBFF, 0xFC00},
    };
    for (const StepRow& r : rows) {
        const f16 x{static_cast<std::uint16_t>(r.x)};
        EXPECT_EQ(next_up(x).bits, r.up) << std::hex << r.x;
        EXPECT_EQ(next_down(x).bits, r.down) << std::hex << r.x;
    }
}

TEST(NextUpDown, Binary16EveryFiniteValueStepsToItsNeighbour) {
    // Exhaustive: the neighbour is larger / smaller and nothing lies between.
    for (std::uint32_t b = 0; b < 65536; ++b) {
        const f16 x{static_cast<std::uint16_t>(b)};
        if (x.is_nan()) continue;
        const double v = f16_to_f64(x);
        const double up = f16_to_f64(next_up(x));
        const double down = f16_to_f64(next_down(x));
        if (v != std::numeric_limits<double>::infinity()) {
            EXPECT_GT(up, v) << b;
        }
        if (v != -std::numeric_limits<double>::infinity()) {
            EXPECT_LT(down, v) << b;
        }
        if (v == 0.0) continue;
        EXPECT_EQ(next_down(next_up(x)).bits, (v == std::numeric_limits<double>::infinity() ? 0x7BFF : b)) << b;
    }
}

TEST(NextUpDown, Binary32AgreesWithTheLibraryOnASample) {
    std::mt19937_64 rng(0x5eed0009);
    for (int i = 0; i < 1000000; ++i) {
        const float x = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        if (x != x) continue;
        const float inf = std::numeric_limits<float>::infinity();
        ASSERT_EQ(std::bit_cast<std::uint32_t>(next_up(x)), std::bit_cast<std::uint32_t>(std::nextafter(x, inf)))
            << std::bit_cast<std::uint32_t>(x);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(next_down(x)), std::bit_cast<std::uint32_t>(std::nextafter(x, -inf)))
            << std::bit_cast<std::uint32_t>(x);
    }
}

// adjust_to_mode(mode, r, s, negative) in binary32: r is the nearest-even result of s.
struct AdjustRow {
    float r;
    double s;
    float expected[5];  // NearestEven, TowardsZero, TowardsPositive, TowardsNegative, NearestAway
};

TEST(AdjustToMode, Binary32) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kMax = std::numeric_limits<float>::max();
    const float up1 = std::bit_cast<float>(0x3F800001u), down1 = std::bit_cast<float>(0x3F7FFFFFu);
    const std::vector<AdjustRow> rows = {
        // Exact: never moved.
        {1.0f, 1.0, {1.0f, 1.0f, 1.0f, 1.0f, 1.0f}},
        {-0.0f, -0.0, {-0.0f, -0.0f, -0.0f, -0.0f, -0.0f}},
        // Above r, below the midpoint.
        {1.0f, 1.0 + 0x1p-25, {1.0f, 1.0f, up1, 1.0f, 1.0f}},
        // Below r (r rounded up).
        {1.0f, 1.0 - 0x1p-26, {1.0f, down1, 1.0f, down1, 1.0f}},
        // A tie rounded to even downwards: nearest-away moves away.
        {1.0f, 1.0 + 0x1p-24, {1.0f, 1.0f, up1, 1.0f, up1}},
        // A tie rounded to even upwards: nearest-away keeps it.
        {std::bit_cast<float>(0x3F800002u), 1.0 + 3 * 0x1p-24,
         {std::bit_cast<float>(0x3F800002u), up1, std::bit_cast<float>(0x3F800002u), up1,
          std::bit_cast<float>(0x3F800002u)}},
        // Negative ties.
        {-1.0f, -(1.0 + 0x1p-24), {-1.0f, -1.0f, -1.0f, -up1, -up1}},
        // Overflow: r is an infinity.
        {kInf, 1e39, {kInf, kMax, kInf, kMax, kInf}},
        {-kInf, -1e39, {-kInf, -kMax, -kMax, -kInf, -kInf}},
        // Just above the largest finite value.
        {kMax, 3.4028235e38 + 1e30, {kMax, kMax, kInf, kMax, kMax}},
        // Results around zero keep the sign of the source.
        {0.0f, 0x1p-150, {0.0f, 0.0f, std::bit_cast<float>(1u), 0.0f, std::bit_cast<float>(1u)}},
        {-0.0f, -0x1p-150, {-0.0f, -0.0f, -0.0f, -std::bit_cast<float>(1u), -std::bit_cast<float>(1u)}},
        {-0.0f, -0x1p-151, {-0.0f, -0.0f, -0.0f, -std::bit_cast<float>(1u), -0.0f}},
    };
    for (const AdjustRow& row : rows) {
        for (int m = 0; m < 5; ++m) {
            const auto mode = static_cast<RoundingMode>(m);
            const float got = adjust_to_mode(mode, row.r, row.s, row.s < 0);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(row.expected[m]))
                << "s " << row.s << " mode " << m;
        }
    }
}

struct AdjustRow16 {
    std::uint16_t r;
    double s;
    std::uint16_t expected[5];
};

TEST(AdjustToMode, Binary16) {
    const std::vector<AdjustRow16> rows = {
        // Integer sources around the overflow threshold.
        {0x7C00, 65535, {0x7C00, 0x7BFF, 0x7C00, 0x7BFF, 0x7C00}},
        {0x7C00, 65520, {0x7C00, 0x7BFF, 0x7C00, 0x7BFF, 0x7C00}},
        {0x7BFF, 65519, {0x7BFF, 0x7BFF, 0x7C00, 0x7BFF, 0x7BFF}},
        {0xFC00, -65535, {0xFC00, 0xFBFF, 0xFBFF, 0xFC00, 0xFC00}},
        {0xFBFF, -65519, {0xFBFF, 0xFBFF, 0xFBFF, 0xFC00, 0xFBFF}},
        // Ties between integers: 2049 between 2048 and 2050, 32767 above 32752.
        {0x6800, 2049, {0x6800, 0x6800, 0x6801, 0x6800, 0x6801}},
        {0xE800, -2049, {0xE800, 0xE800, 0xE800, 0xE801, 0xE801}},
        {0x7800, 32767, {0x7800, 0x77FF, 0x7800, 0x77FF, 0x7800}},
        // A source just above a midpoint that the nearest result did not see (two roundings).
        {0x3C00, 1.0 + 0x1p-11 + 0x1p-40, {0x3C00, 0x3C00, 0x3C01, 0x3C00, 0x3C00}},
        {0x0000, 0x1p-25, {0x0000, 0x0000, 0x0001, 0x0000, 0x0001}},
    };
    for (const AdjustRow16& row : rows) {
        for (int m = 0; m < 5; ++m) {
            const auto mode = static_cast<RoundingMode>(m);
            EXPECT_EQ(adjust_to_mode(mode, f16{row.r}, row.s, row.s < 0).bits, row.expected[m])
                << "s " << row.s << " mode " << m;
        }
    }
}

TEST(AdjustToMode, CompileTimeModeMatchesRunTimeMode) {
    const double s = 1.0 + 0x1p-24;
    EXPECT_EQ(adjust_to_mode<RoundingMode::NearestAway>(1.0f, s, false), adjust_to_mode(RoundingMode::NearestAway, 1.0f, s, false));
    EXPECT_EQ(adjust_to_mode<RoundingMode::TowardsPositive>(f16{0x3C00}, s, false).bits,
              adjust_to_mode(RoundingMode::TowardsPositive, f16{0x3C00}, s, false).bits);
}

}  // namespace
}  // namespace pelm_ossrel
