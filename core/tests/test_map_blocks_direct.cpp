// The scalar map in the direct pairs, and the 64-bit integers to float64 in the lanes: the same
// stored bits as the element rule. Every test runs once per level this processor has.
#include <gtest/gtest.h>

#include "support/map_checks.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;
using namespace map_checks;

PELM_OSSREL_MAP_BLOCK_SUITE(DirectMapBlocks, Family::Direct)

TEST_P(DirectMapBlocks, WideIntegersToFloat64MatchTheElementRule) {
    std::mt19937_64 rng(rng_start("wide integers to float64"));
    const std::vector<i128> values = integer_values(rng);
    check_lane_values<std::int64_t, double>(as_integers<std::int64_t>(values), "wide integers");
    check_lane_values<std::uint64_t, double>(as_integers<std::uint64_t>(values), "wide integers");
}

TEST_P(DirectMapBlocks, StoresTheExpectedBits) {
    const i128 p = 1;
    constexpr CallModes kPlain{kNearestEven, kAbsent};
    const auto add = [&]<class S>(Rows<S, double>& rows, i128 x, double stored) {
        rows.push_back({static_cast<S>(x), kPlain, stored});
    };
    Rows<std::int64_t, double> rows;
    add(rows, (p << 53) + 1, 0x1p53);
    add(rows, (p << 53) + 3, 0x1p53 + 4);
    add(rows, -(p << 53) - 1, -0x1p53);
    add(rows, (p << 63) - 1, 0x1p63);
    add(rows, -(p << 63), -0x1p63);
    expect_rows(rows);
    Rows<std::uint64_t, double> unsigned_rows;
    add(unsigned_rows, (p << 64) - 1, 0x1p64);
    add(unsigned_rows, (p << 63) + 1024, 0x1p63);
    add(unsigned_rows, (p << 63) + 3072, 0x1p63 + 4096);
    add(unsigned_rows, (p << 63) + 3073, 0x1p63 + 4096);
    expect_rows(unsigned_rows);
    // The same type: the pattern itself, a signalling NaN's payload included.
    Rows<double, double> same_rows;
    same_rows.push_back({from_pattern<double>(0x7FF0000000000001), kPlain, from_pattern<double>(0x7FF0000000000001)});
    same_rows.push_back({-0.0, kPlain, -0.0});
    expect_rows(same_rows);
    Rows<float, float> float_rows;
    float_rows.push_back({from_pattern<float>(0xFF800001), kPlain, from_pattern<float>(0xFF800001)});
    expect_rows(float_rows);
}

}  // namespace
}  // namespace pelm_ossrel
