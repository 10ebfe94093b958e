// The scalar map in the block loops of floating sources to integer targets, in every rounding
// mode and out-of-range mode, and what the vector bodies do in their lanes there ("wrap" and
// "clamp" far beyond the target's range, 64-bit targets, the limits as the source rounds them):
// the same stored bits, the same error and exactly the same elements written before it as the
// element loop. Every test runs once per level this processor has.
#include <gtest/gtest.h>

#include "support/map_checks.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;
using namespace map_checks;

PELM_OSSREL_MAP_BLOCK_SUITE(FloatToIntMapBlocks, Family::FloatToInt)
PELM_OSSREL_MAP_FAILURE_TEST(FloatToIntMapBlocks, Family::FloatToInt)

// Far outside every target (where wrap keeps the low bits of the exact value), the powers of two
// where the target's limits lie as the source rounds them, and random magnitudes up to binary64's
// largest.
std::vector<double> far_outside_values(std::mt19937_64& rng) {
    std::vector<double> v = {1e300, -1e300, 1e30, -1e30, 1e19, -1e19, 0x1p53 + 2, 0x1p53 + 1, 0x1p64 + 4096,
                             -(0x1p64 + 4096), 0x1p63 + 2048, -(0x1p63 + 2048), 0x1p65, -0x1p65, 0x3p62, -0x3p62,
                             0x1p32 + 5, -(0x1p32 + 5), 0x1p31 - 0.5, -0x1p31 - 1, 65536.0 + 3.5, -65536.0 - 3.5,
                             32768.0, -32769.0, 255.5, 256.0, -129.0, -128.5, 127.5, 3.4028234663852886e38,
                             16777217.0, 0x1p24 + 3, std::numeric_limits<double>::max(), kInfinity, -kInfinity};
    for (double e : edge_doubles()) v.push_back(e);
    for (int i = 0; i < 48; ++i) {
        const double m = std::uniform_real_distribution<double>(1.0, 2.0)(rng);
        const double x = std::ldexp(m, static_cast<int>(rng() % 1024));
        v.push_back(rng() % 2 ? x : -x);
    }
    return v;
}

TEST_P(FloatToIntMapBlocks, WrapFarBeyondTheRangeMatchesTheElementLoop) {
    std::mt19937_64 rng(rng_start("far outside"));
    const std::vector<double> values = far_outside_values(rng);
    for_each_pair_of<Family::FloatToInt>(
        [&]<class S, class D>() { check_lane_values<S, D>(as_values<S>(values), "far outside"); });
}

// Magnitudes from 2^51 to beyond 2^64, with the fractions that binary64 still holds at 2^51 and
// 2^52, the limits of int64 and uint64 and their neighbours.
std::vector<double> wide_target_values(std::mt19937_64& rng) {
    std::vector<double> v = {0x1p63 - 1024, 0x1p63, 0x1p63 + 2048, 0x1p64 - 2048, 0x1p64, -0x1p63, -0x1p63 - 2048,
                             -0x1p63 + 1024, 0x1p51 + 0.5, 0x1p51 + 1.5, 0x1p52 - 0.5, 0x1p52 + 1, 0x1p53 - 1,
                             0x1p53 + 2};
    for (int e = 51; e <= 64; ++e) {
        for (int k = 0; k <= 3; ++k) {
            const double x = std::ldexp(1.0 + k * 0x1p-52, e);
            v.push_back(x);
            v.push_back(-x);
            v.push_back(std::ldexp(1.0 - (k + 1) * 0x1p-53, e));
        }
    }
    for (int i = 0; i < 64; ++i) {
        const double fraction = std::ldexp(static_cast<double>(rng() >> 12), -52);
        const double x = std::ldexp(1.0 + fraction, 51 + static_cast<int>(rng() % 14));
        v.push_back(rng() % 2 ? x : -x);
    }
    return v;
}

TEST_P(FloatToIntMapBlocks, WideTargetsBeyondTwoTo51MatchTheElementLoop) {
    std::mt19937_64 rng(rng_start("wide targets"));
    const std::vector<double> values = wide_target_values(rng);
    const auto check = [&]<class S>() {
        check_lane_values<S, std::int64_t>(as_values<S>(values), "beyond 2^51");
        check_lane_values<S, std::uint64_t>(as_values<S>(values), "beyond 2^51");
    };
    check.template operator()<double>();
    check.template operator()<float>();
}

template <class S, class D>
void add_every_mode_int(Rows<S, D>& rows, double x, OutOfRange oor, std::optional<i128> stored) {
    const std::optional<D> as_d = stored ? std::optional<D>(static_cast<D>(*stored)) : std::nullopt;
    add_every_mode<S, D>(rows, from_double<S>(x), oor, as_d);
}

// The limits as the source rounds them: float32 2^31 is int32's maximum rounded up and stores
// it under every out-of-range mode; float16 32768 likewise for int16; binary64 and binary32 2^63
// and 2^64 for int64 and uint64. Beyond them wrap keeps the exact value's low bits, clamp the
// nearer limit.
TEST_P(FloatToIntMapBlocks, StoresTheLimitsAsTheSourceRoundsThem) {
    constexpr i128 kI64Max = std::numeric_limits<std::int64_t>::max();
    constexpr i128 kI64Min = std::numeric_limits<std::int64_t>::min();
    constexpr i128 kU64Max = std::numeric_limits<std::uint64_t>::max();
    {
        Rows<float, std::int32_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p31, o, 2147483647);
        add_every_mode_int(rows, -0x1p31, kWrap, -2147483648);
        add_every_mode_int(rows, 0x1p32, kWrap, 0);
        add_every_mode_int(rows, 0x3p31, kWrap, -2147483648);
        add_every_mode_int(rows, -1e30, kWrap, 0);
        add_every_mode_int(rows, kInfinity, kWrap, std::nullopt);
        add_every_mode_int(rows, kInfinity, kClamp, 2147483647);
        expect_rows(rows);
    }
    {
        Rows<f16, std::int16_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 32768.0, o, 32767);
        add_every_mode_int(rows, -32768.0, kWrap, -32768);
        add_every_mode_int(rows, 65504.0, kWrap, -32);
        add_every_mode_int(rows, -65504.0, kWrap, 32);
        add_every_mode_int(rows, 65504.0, kAbsent, std::nullopt);
        expect_rows(rows);
    }
    {
        Rows<f16, std::uint8_t> rows;
        add_every_mode_int(rows, 65504.0, kWrap, 224);
        add_every_mode_int(rows, -1.0, kWrap, 255);
        add_every_mode_int(rows, 256.0, kWrap, 0);
        add_every_mode_int(rows, -kInfinity, kClamp, 0);
        expect_rows(rows);
        Rows<f16, std::int8_t> signed_rows;
        add_every_mode_int(signed_rows, -65504.0, kWrap, 32);
        expect_rows(signed_rows);
    }
    {
        Rows<double, std::int64_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p63, o, kI64Max);
        add_every_mode_int(rows, -0x1p63, kWrap, kI64Min);
        add_every_mode_int(rows, 0x1p64 + 4096, kWrap, 4096);
        add_every_mode_int(rows, -(0x1p63 + 2048), kWrap, kI64Max - 2047);
        add_every_mode_int(rows, 1e300, kClamp, kI64Max);
        add_every_mode_int(rows, -kInfinity, kClamp, kI64Min);
        add_every_mode_int(rows, 0x1p62 + 1024, kAbsent, (i128{1} << 62) + 1024);
        add_every_mode_int(rows, 0x1p63 + 2048, kAbsent, std::nullopt);
        const i128 p51 = i128{1} << 51;
        const std::optional<std::int64_t> half[5] = {p51, p51, p51 + 1, p51, p51 + 1};
        const std::optional<std::int64_t> minus_half[5] = {-p51, -p51, -p51, -p51 - 1, -p51 - 1};
        const std::optional<std::int64_t> one_and_half[5] = {p51 + 2, p51 + 1, p51 + 2, p51 + 1, p51 + 2};
        for (OutOfRange o : kOutOfRangeRules) {
            add_by_mode(rows, 0x1p51 + 0.5, o, half);
            add_by_mode(rows, -(0x1p51 + 0.5), o, minus_half);
            add_by_mode(rows, 0x1p51 + 1.5, o, one_and_half);
        }
        expect_rows(rows);
    }
    {
        Rows<double, std::uint64_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p64, o, kU64Max);
        add_every_mode_int(rows, 0x1p64 + 4096, kWrap, 4096);
        add_every_mode_int(rows, -1.0, kWrap, kU64Max);
        add_every_mode_int(rows, -0x1p63, kWrap, i128{1} << 63);
        add_every_mode_int(rows, 0x1p64 - 2048, kAbsent, (i128{1} << 64) - 2048);
        add_every_mode_int(rows, 0x1p63 + 2048, kAbsent, (i128{1} << 63) + 2048);
        add_every_mode_int(rows, -1e300, kClamp, 0);
        add_every_mode_int(rows, 1e300, kClamp, kU64Max);
        add_every_mode_int(rows, 0x1p64 + 4096, kAbsent, std::nullopt);
        expect_rows(rows);
    }
    {
        Rows<float, std::int64_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p63, o, kI64Max);
        add_every_mode_int(rows, -0x1p63, kWrap, kI64Min);
        add_every_mode_int(rows, 0x1p64, kWrap, 0);
        add_every_mode_int(rows, -kInfinity, kClamp, kI64Min);
        expect_rows(rows);
        Rows<float, std::uint64_t> unsigned_rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(unsigned_rows, 0x1p64, o, kU64Max);
        add_every_mode_int(unsigned_rows, kInfinity, kClamp, kU64Max);
        add_every_mode_int(unsigned_rows, -0x1p63, kWrap, i128{1} << 63);
        add_every_mode_int(unsigned_rows, 0x1p65, kWrap, 0);
        expect_rows(unsigned_rows);
    }
    {
        Rows<double, std::int32_t> rows;
        add_every_mode_int(rows, 1e300, kWrap, 0);
        add_every_mode_int(rows, 4294967301.0, kWrap, 5);
        add_every_mode_int(rows, -2147483649.0, kWrap, 2147483647);
        add_every_mode_int(rows, 0x1p53 + 2, kWrap, 2);
        expect_rows(rows);
        Rows<double, std::int8_t> narrow_rows;
        add_every_mode_int(narrow_rows, 0x1p53 + 2, kWrap, 2);
        add_every_mode_int(narrow_rows, -129.0, kWrap, 127);
        add_every_mode_int(narrow_rows, 1e300, kClamp, 127);
        expect_rows(narrow_rows);
        Rows<float, std::uint8_t> byte_rows;
        add_every_mode_int(byte_rows, -1.0, kWrap, 255);
        expect_rows(byte_rows);
    }
}

}  // namespace
}  // namespace pelm_ossrel
