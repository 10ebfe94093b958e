// The scalar map in the block loops of integer sources to floating targets, and every rounding
// mode into float32 and float16 in the lanes: the same stored bits, the same error and exactly
// the same elements written before it as the element loop. Every test runs once per level this
// processor has.
#include <gtest/gtest.h>

#include "support/map_checks.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;
using namespace map_checks;

PELM_OSSREL_MAP_BLOCK_SUITE(IntToFloatMapBlocks, Family::IntToFloat)

// Above 2^53 the rounding step is judged against the source's binary64 value, which may equal
// the nearest binary32 result although the integer does not.
TEST_P(IntToFloatMapBlocks, WideIntegersToFloat32InEveryModeMatchTheElementLoop) {
    std::mt19937_64 rng(rng_start("wide integers"));
    const std::vector<i128> values = integer_values(rng);
    check_lane_values<std::int64_t, float>(as_integers<std::int64_t>(values), "wide integers");
    check_lane_values<std::uint64_t, float>(as_integers<std::uint64_t>(values), "wide integers");
}

TEST_P(IntToFloatMapBlocks, ThirtyTwoBitIntegersToFloat32InEveryModeMatchTheElementLoop) {
    std::mt19937_64 rng(rng_start("32-bit integers"));
    const std::vector<i128> values = integer_values(rng);
    check_lane_values<std::uint32_t, float>(as_integers<std::uint32_t>(values), "32-bit integers");
    check_lane_values<std::int32_t, float>(as_integers<std::int32_t>(values), "32-bit integers");
}

TEST_P(IntToFloatMapBlocks, EveryIntegerTypeToFloat16InEveryModeMatchesTheElementLoop) {
    std::mt19937_64 rng(rng_start("to float16"));
    std::vector<i128> values = integer_values(rng);
    for (int i = 0; i < 64; ++i) {
        const i128 x = static_cast<i128>(rng() % 140000);
        values.push_back(x);
        values.push_back(-x);
    }
    for_each_pair_of<Family::IntToFloat>([&]<class S, class D>() {
        if constexpr (std::is_same_v<D, f16>) check_lane_values<S, D>(as_integers<S>(values), "to float16");
    });
}

template <class S, class D>
void add_int_rows(Rows<S, D>& rows, i128 x, const double (&stored)[5]) {
    std::optional<D> s[5];
    for (int i = 0; i < 5; ++i) s[i] = from_double<D>(stored[i]);
    add_by_mode(rows, static_cast<S>(x), kAbsent, s);
}

TEST_P(IntToFloatMapBlocks, RoundsToTheExpectedBits) {
    const i128 p = 1;
    {
        Rows<std::int32_t, float> rows;
        add_int_rows(rows, 16777217, {16777216, 16777216, 16777218, 16777216, 16777218});
        add_int_rows(rows, -16777217, {-16777216, -16777216, -16777216, -16777218, -16777218});
        expect_rows(rows);
        Rows<std::uint32_t, float> unsigned_rows;
        add_int_rows(unsigned_rows, 4294967295, {0x1p32, 4294967040, 0x1p32, 4294967040, 0x1p32});
        expect_rows(unsigned_rows);
    }
    {
        // 2^60 + 2^7 is 2^60 in binary64: no mode moves the nearest result; 2^60 + 2^8 is exact
        // there and moves towards +inf. 2^64 - 1 is 2^64 in binary64, which every mode keeps.
        Rows<std::uint64_t, float> rows;
        add_int_rows(rows, (p << 60) + (p << 7), {0x1p60, 0x1p60, 0x1p60, 0x1p60, 0x1p60});
        add_int_rows(rows, (p << 60) + (p << 8), {0x1p60, 0x1p60, 0x1p60 + 0x1p37, 0x1p60, 0x1p60});
        add_int_rows(rows, (p << 64) - 1, {0x1p64, 0x1p64, 0x1p64, 0x1p64, 0x1p64});
        add_int_rows(rows, (p << 63) + (p << 39), {0x1p63, 0x1p63, 0x1p63 + 0x1p40, 0x1p63, 0x1p63 + 0x1p40});
        expect_rows(rows);
        Rows<std::int64_t, float> signed_rows;
        add_int_rows(signed_rows, -(p << 63), {-0x1p63, -0x1p63, -0x1p63, -0x1p63, -0x1p63});
        add_int_rows(signed_rows, (p << 63) - 1, {0x1p63, 0x1p63, 0x1p63, 0x1p63, 0x1p63});
        add_int_rows(signed_rows, -((p << 60) + (p << 8)), {-0x1p60, -0x1p60, -0x1p60, -0x1p60 - 0x1p37, -0x1p60});
        // 2^60 + 2^36 +- 1 round in binary64 to 2^60 + 2^36, halfway between two binary32 values:
        // the nearest binary32 is the one on the integer's own side, and the move to the mode is
        // judged against the halfway value (a tie for nearest-away).
        add_int_rows(signed_rows, (p << 60) + (p << 36) + 1,
                     {0x1p60 + 0x1p37, 0x1p60, 0x1p60 + 0x1p37, 0x1p60, 0x1p60 + 0x1p37});
        add_int_rows(signed_rows, (p << 60) + (p << 36) - 1, {0x1p60, 0x1p60, 0x1p60 + 0x1p37, 0x1p60, 0x1p60 + 0x1p37});
        add_int_rows(signed_rows, -((p << 60) + (p << 36) + 1),
                     {-0x1p60 - 0x1p37, -0x1p60, -0x1p60, -0x1p60 - 0x1p37, -0x1p60 - 0x1p37});
        expect_rows(signed_rows);
    }
    {
        // float16: 65520 is the tie beyond the largest finite value, 2049 a tie between 2048 and
        // 2050; 2^24 + 1 lies far beyond.
        const auto check = [&]<class S>() {
            Rows<S, f16> rows;
            constexpr double inf = kInfinity;
            add_int_rows(rows, 65520, {inf, 65504, inf, 65504, inf});
            add_int_rows(rows, 65519, {65504, 65504, inf, 65504, 65504});
            add_int_rows(rows, 2049, {2048, 2048, 2050, 2048, 2050});
            if constexpr (std::is_signed_v<S>) add_int_rows(rows, -65520, {-inf, -65504, -65504, -inf, -inf});
            if constexpr (element_bits_v<S> >= 32) add_int_rows(rows, (p << 24) + 1, {inf, 65504, inf, 65504, inf});
            expect_rows(rows);
        };
        check.template operator()<std::uint16_t>();
        check.template operator()<std::int32_t>();
        check.template operator()<std::uint32_t>();
        check.template operator()<std::int64_t>();
        check.template operator()<std::uint64_t>();
        Rows<std::int8_t, f16> byte_rows;
        add_int_rows(byte_rows, -128, {-128, -128, -128, -128, -128});
        expect_rows(byte_rows);
    }
}

}  // namespace
}  // namespace pelm_ossrel
