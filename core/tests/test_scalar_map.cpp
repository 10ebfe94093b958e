// Scalar-map lookup: first match wins; integer equality; IEEE equality for floats with
// every NaN matching the first NaN source; float16 compared on its bit patterns.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "f16.hpp"
#include "map_entry.hpp"
#include "scalar_map.hpp"

namespace pelm_ossrel {
namespace {

constexpr std::ptrdiff_t kMiss = -1;

// Index of the entry whose target find_mapped points to, or kMiss; also checks that the
// pointer refers into the map's own storage.
template <class S, class D>
std::ptrdiff_t found_index(const std::vector<MapEntry<S, D>>& entries, S x) {
    const D* target = find_mapped(ScalarMap<S, D>(entries), x);
    if (target == nullptr) return kMiss;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (target == &entries[i].target) return static_cast<std::ptrdiff_t>(i);
    ADD_FAILURE() << "pointer outside the map";
    return kMiss;
}

TEST(ScalarMapLookup, EmptyMapNeverMatches) {
    EXPECT_EQ((found_index<std::int32_t, std::int8_t>({}, 0)), kMiss);
    EXPECT_EQ((found_index<double, std::uint8_t>({}, 0.0)), kMiss);
    EXPECT_EQ((found_index<double, std::uint8_t>({}, std::numeric_limits<double>::quiet_NaN())),
              kMiss);
    EXPECT_EQ((found_index<f16, f16>({}, f16{0x7E00})), kMiss);
}

TEST(ScalarMapLookup, IntegersMatchByValueFirstEntryWins) {
    using E = MapEntry<std::int64_t, std::int8_t>;
    const std::vector<E> map = {{5, 1}, {-1, 2}, {5, 3}, {std::numeric_limits<std::int64_t>::min(), 4},
                                {std::numeric_limits<std::int64_t>::max(), 5}, {-1, 6}};
    struct Case {
        std::int64_t x;
        std::ptrdiff_t index;
    };
    const Case cases[] = {
        {5, 0},
        {-1, 1},
        {std::numeric_limits<std::int64_t>::min(), 3},
        {std::numeric_limits<std::int64_t>::max(), 4},
        {0, kMiss},
        {4, kMiss},
        {6, kMiss},
        {std::numeric_limits<std::int64_t>::max() - 1, kMiss},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(found_index(map, c.x), c.index);
    }
}

TEST(ScalarMapLookup, UnsignedKeysAreNotConfusedWithTheirSignedPattern) {
    using E = MapEntry<std::uint64_t, std::int64_t>;
    const std::vector<E> map = {{18446744073709551615u, 1}, {9223372036854775808u, 2}};
    EXPECT_EQ(found_index(map, std::uint64_t{18446744073709551615u}), 0);
    EXPECT_EQ(found_index(map, std::uint64_t{9223372036854775808u}), 1);
    EXPECT_EQ(found_index(map, std::uint64_t{9223372036854775807u}), kMiss);
    EXPECT_EQ(found_index(map, std::uint64_t{0}), kMiss);
}

template <class F>
F nan_with(std::uint64_t payload, bool negative) {
    if constexpr (sizeof(F) == 8) {
        return std::bit_cast<F>((negative ? 0xFFF0000000000000u : 0x7FF0000000000000u) | payload);
    } else {
        return std::bit_cast<F>((negative ? 0xFF800000u : 0x7F800000u) |
                                static_cast<std::uint32_t>(payload));
    }
}

template <class F>
class FloatScalarMapLookup : public ::testing::Test {};
using FloatTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FloatScalarMapLookup, FloatTypes);

TYPED_TEST(FloatScalarMapLookup, NanMatchesTheFirstNanSourceOfAnyPayload) {
    using F = TypeParam;
    using E = MapEntry<F, std::int32_t>;
    const F quiet = nan_with<F>(std::uint64_t{1} << (std::numeric_limits<F>::digits - 2), false);
    const F signalling = nan_with<F>(1, false);
    const F negative = nan_with<F>(3, true);

    const std::vector<E> map = {{F(1), 10}, {signalling, 11}, {quiet, 12}, {F(0), 13}};
    EXPECT_EQ(found_index(map, quiet), 1);
    EXPECT_EQ(found_index(map, signalling), 1);
    EXPECT_EQ(found_index(map, negative), 1);
    EXPECT_EQ(found_index(map, std::numeric_limits<F>::quiet_NaN()), 1);

    const std::vector<E> negative_first = {{negative, 20}, {quiet, 21}};
    EXPECT_EQ(found_index(negative_first, quiet), 0);

    const std::vector<E> no_nan = {{F(1), 30}, {std::numeric_limits<F>::infinity(), 31}};
    EXPECT_EQ(found_index(no_nan, quiet), kMiss);
}

TYPED_TEST(FloatScalarMapLookup, NanSourceNeverMatchesANumber) {
    using F = TypeParam;
    using E = MapEntry<F, std::int32_t>;
    const F inf = std::numeric_limits<F>::infinity();
    const std::vector<E> map = {{std::numeric_limits<F>::quiet_NaN(), 1}, {nan_with<F>(1, true), 2}};
    for (F x : {F(0), -F(0), F(1), inf, -inf, std::numeric_limits<F>::max(),
                std::numeric_limits<F>::denorm_min()}) {
        SCOPED_TRACE(x);
        EXPECT_EQ(found_index(map, x), kMiss);
    }
}

TYPED_TEST(FloatScalarMapLookup, NumbersMatchByIeeeEquality) {
    using F = TypeParam;
    using E = MapEntry<F, std::int32_t>;
    const F inf = std::numeric_limits<F>::infinity();
    const F tiny = std::numeric_limits<F>::denorm_min();
    const std::vector<E> map = {{std::numeric_limits<F>::quiet_NaN(), 0}, {F(0), 1}, {-F(0), 2},
                                {inf, 3}, {-tiny, 4}, {F(2.5), 5}, {F(2.5), 6}};
    struct Case {
        F x;
        std::ptrdiff_t index;
    };
    const Case cases[] = {
        {F(0), 1},  {-F(0), 1},   {inf, 3},     {-inf, kMiss}, {-tiny, 4},
        {tiny, kMiss}, {F(2.5), 5}, {F(-2.5), kMiss}, {std::nextafter(F(2.5), F(3)), kMiss},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(found_index(map, c.x), c.index);
    }

    const std::vector<E> negative_zero_only = {{-F(0), 7}};
    EXPECT_EQ(found_index(negative_zero_only, F(0)), 0);
}

TEST(F16ScalarMapLookup, BitPatternRule) {
    using E = MapEntry<f16, std::uint8_t>;
    const std::vector<E> map = {
        {f16{0x3C00}, 0},  // 1.0
        {f16{0x7C01}, 1},  // signalling NaN
        {f16{0x7E00}, 2},  // quiet NaN
        {f16{0x8000}, 3},  // -0.0
        {f16{0x7C00}, 4},  // +inf
        {f16{0x0001}, 5},  // smallest subnormal
        {f16{0x3C00}, 6},  // 1.0 again
    };
    struct Case {
        std::uint16_t bits;
        std::ptrdiff_t index;
    };
    const Case cases[] = {
        {0x3C00, 0},     {0x7C01, 1},     {0x7E00, 1},  {0xFE00, 1},    {0xFFFF, 1},
        {0x7FFF, 1},     {0x0000, 3},     {0x8000, 3},  {0x7C00, 4},    {0xFC00, kMiss},
        {0x0001, 5},     {0x8001, kMiss}, {0xBC00, kMiss}, {0x3C01, kMiss}, {0x7BFF, kMiss},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(found_index(map, f16{c.bits}), c.index);
    }
}

TEST(F16ScalarMapLookup, ZerosMatchEachOtherAndNansOnlyNans) {
    using E = MapEntry<f16, float>;
    const std::vector<E> zero = {{f16{0x0000}, 1.0f}};
    EXPECT_EQ(found_index(zero, f16{0x8000}), 0);
    EXPECT_EQ(found_index(zero, f16{0x0000}), 0);

    const std::vector<E> nan_only = {{f16{0xFC01}, 1.0f}};
    EXPECT_EQ(found_index(nan_only, f16{0x7C00}), kMiss);  // +inf is not a NaN
    EXPECT_EQ(found_index(nan_only, f16{0xFC00}), kMiss);  // -inf is not a NaN
    EXPECT_EQ(found_index(nan_only, f16{0x0000}), kMiss);
    EXPECT_EQ(found_index(nan_only, f16{0x7C01}), 0);

    // Every pattern against a map of one of each class.
    const std::vector<E> classes = {{f16{0x7D00}, 0.0f}, {f16{0x8000}, 0.0f}};
    for (std::uint32_t b = 0; b <= 0xFFFF; ++b) {
        const std::uint16_t bits = static_cast<std::uint16_t>(b);
        const bool nan = (bits & 0x7FFF) > 0x7C00;
        const bool zero = (bits & 0x7FFF) == 0;
        const std::ptrdiff_t expected = nan ? 0 : zero ? 1 : kMiss;
        ASSERT_EQ(found_index(classes, f16{bits}), expected) << bits;
    }
}

}  // namespace
}  // namespace pelm_ossrel
