// Integer-to-floating slice conversion: rounding per mode, overflow, the binary64 judging of
// 64-bit values, the scalar map, lengths, and a differential check against the exact model.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/exact_model.hpp"
#include "int_to_float.hpp"
#include "support/buffers.hpp"

namespace pelm_ossrel {
namespace {

constexpr RoundingMode kAllModes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                      RoundingMode::TowardsPositive, RoundingMode::TowardsNegative,
                                      RoundingMode::NearestAway};

static_assert(is_core_int_to_float_pair_v<std::int8_t, f16>);
static_assert(is_core_int_to_float_pair_v<std::uint64_t, f16>);
static_assert(is_core_int_to_float_pair_v<std::int32_t, float>);
static_assert(is_core_int_to_float_pair_v<std::uint64_t, float>);
static_assert(!is_core_int_to_float_pair_v<std::int16_t, float>);
static_assert(!is_core_int_to_float_pair_v<std::uint8_t, float>);
static_assert(!is_core_int_to_float_pair_v<std::int32_t, double>);
static_assert(!is_core_int_to_float_pair_v<float, f16>);

using testing_support::in;
using testing_support::out;

template <class S, class D>
std::uint64_t convert_bits(S x, RoundingMode mode) {
    D r{};
    const IntToFloatConfig<S, D> config{{}, mode};
    EXPECT_FALSE((convert_slice_int_to_float<S, D>(SrcSlice<S>(&x, 1), DstSlice<D>(&r, 1), config)));
    return exact_model::bits_of(r);
}

// The five results of one source value, in mode order, as binary64 values (exact for every
// float16 and float32 value, infinities included).
template <class S, class D>
void expect_modes(S x, const std::vector<double>& expected) {
    for (int m = 0; m < 5; ++m) {
        const auto mode = static_cast<RoundingMode>(m);
        std::uint64_t want = 0;
        if constexpr (std::is_same_v<D, f16>) want = f64_to_f16(expected[m]).bits;
        else want = std::bit_cast<std::uint32_t>(static_cast<float>(expected[m]));
        EXPECT_EQ((convert_bits<S, D>(x, mode)), want) << "source " << static_cast<long double>(x)
                                                        << " mode " << m;
    }
}

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(IntToFloat, Float16RoundingAndOverflowPerMode) {
    //                      NearestEven TowardsZero TowardsPositive TowardsNegative NearestAway
    expect_modes<std::uint16_t, f16>(65535, {kInf, 65504, kInf, 65504, kInf});
    expect_modes<std::int32_t, f16>(-65535, {-kInf, -65504, -65504, -kInf, -kInf});
    expect_modes<std::int32_t, f16>(65519, {65504, 65504, kInf, 65504, 65504});
    expect_modes<std::int32_t, f16>(65520, {kInf, 65504, kInf, 65504, kInf});
    expect_modes<std::int32_t, f16>(-65519, {-65504, -65504, -65504, -kInf, -65504});
    expect_modes<std::int32_t, f16>(-65520, {-kInf, -65504, -65504, -kInf, -kInf});
    expect_modes<std::int32_t, f16>(65505, {65504, 65504, kInf, 65504, 65504});
    expect_modes<std::int16_t, f16>(2049, {2048, 2048, 2050, 2048, 2050});
    expect_modes<std::int16_t, f16>(-2049, {-2048, -2048, -2048, -2050, -2050});
    expect_modes<std::int16_t, f16>(4098, {4096, 4096, 4100, 4096, 4100});
    expect_modes<std::int16_t, f16>(32767, {32768, 32752, 32768, 32752, 32768});
    expect_modes<std::uint16_t, f16>(2051, {2052, 2050, 2052, 2050, 2052});
    expect_modes<std::int64_t, f16>(std::numeric_limits<std::int64_t>::min(),
                                    {-kInf, -65504, -65504, -kInf, -kInf});
    expect_modes<std::uint64_t, f16>(std::numeric_limits<std::uint64_t>::max(),
                                     {kInf, 65504, kInf, 65504, kInf});
    expect_modes<std::uint32_t, f16>(0, {0, 0, 0, 0, 0});
}

TEST(IntToFloat, EightBitSourcesAreExactUnderEveryMode) {
    for (int v = -128; v <= 127; ++v) expect_modes<std::int8_t, f16>(static_cast<std::int8_t>(v), std::vector<double>(5, v));
    for (int v = 0; v <= 255; ++v) expect_modes<std::uint8_t, f16>(static_cast<std::uint8_t>(v), std::vector<double>(5, v));
}

TEST(IntToFloat, Float32RoundingPerMode) {
    expect_modes<std::int32_t, float>(16777217, {16777216, 16777216, 16777218, 16777216, 16777218});
    expect_modes<std::int32_t, float>(-16777217, {-16777216, -16777216, -16777216, -16777218, -16777218});
    expect_modes<std::int32_t, float>(2147483647, {2147483648.0, 2147483520.0, 2147483648.0, 2147483520.0,
                                                   2147483648.0});
    expect_modes<std::int32_t, float>(std::numeric_limits<std::int32_t>::min(),
                                      std::vector<double>(5, -2147483648.0));
    expect_modes<std::uint32_t, float>(4294967295u, {4294967296.0, 4294967040.0, 4294967296.0,
                                                      4294967040.0, 4294967296.0});
    expect_modes<std::uint32_t, float>(16777219u, {16777220, 16777218, 16777220, 16777218, 16777220});
}

TEST(IntToFloat, SixtyFourBitSourcesAreJudgedAgainstTheirBinary64Value) {
    // s equals the nearest result: stored under every mode.
    expect_modes<std::int64_t, float>((std::int64_t{1} << 53) + 1, std::vector<double>(5, 0x1p53));
    expect_modes<std::int64_t, float>((std::int64_t{1} << 60) + 1, std::vector<double>(5, 0x1p60));
    expect_modes<std::uint64_t, float>(std::numeric_limits<std::uint64_t>::max(), std::vector<double>(5, 0x1p64));
    expect_modes<std::int64_t, float>(std::numeric_limits<std::int64_t>::max(), std::vector<double>(5, 0x1p63));
    expect_modes<std::int64_t, float>(std::numeric_limits<std::int64_t>::min(), std::vector<double>(5, -0x1p63));
    // 2^60 + 2^36 - 1: binary64 rounds it to the binary32 midpoint 2^60 + 2^36.
    expect_modes<std::int64_t, float>(1152921573326323711,
                                      {0x1p60, 0x1p60, 1152921642045800448.0, 0x1p60, 1152921642045800448.0});
    expect_modes<std::int64_t, float>(-1152921573326323711,
                                      {-0x1p60, -0x1p60, -0x1p60, -1152921642045800448.0, -1152921642045800448.0});
    // uint64 from 2^63 up is converted as unsigned.
    expect_modes<std::uint64_t, float>((std::uint64_t{1} << 63) + (std::uint64_t{1} << 39) + 1,
                                       {0x1p63 + 0x1p40, 0x1p63, 0x1p63 + 0x1p40, 0x1p63, 0x1p63 + 0x1p40});
}

TEST(IntToFloat, ScalarMapWinsOverRounding) {
    const std::vector<MapEntry<std::uint16_t, f16>> map = {{65535, f16{0x3C00}}, {65535, f16{0x4000}}, {7, f16{0x7E00}}};
    const std::vector<std::uint16_t> src = {65535, 7, 65534, 1};
    for (RoundingMode mode : kAllModes) {
        std::vector<f16> dst(src.size(), f16{0x1234});
        const IntToFloatConfig<std::uint16_t, f16> config{map, mode};
        EXPECT_FALSE((convert_slice_int_to_float<std::uint16_t, f16>(in(src), out(dst), config)));
        EXPECT_EQ(dst[0].bits, 0x3C00);
        EXPECT_EQ(dst[1].bits, 0x7E00);
        EXPECT_EQ(dst[2].bits, (convert_bits<std::uint16_t, f16>(65534, mode)));
        EXPECT_EQ(dst[3].bits, 0x3C00);
    }
}

TEST(IntToFloat, ConvertsTheShorterLength) {
    const std::vector<std::int32_t> src = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<float> short_dst(4, -1.0f);
    const IntToFloatConfig<std::int32_t, float> config{{}, RoundingMode::NearestEven};
    EXPECT_FALSE((convert_slice_int_to_float<std::int32_t, float>(in(src), out(short_dst), config)));
    EXPECT_EQ(short_dst, (std::vector<float>{1, 2, 3, 4}));

    std::vector<float> long_dst(10, -1.0f);
    EXPECT_FALSE((convert_slice_int_to_float<std::int32_t, float>(SrcSlice<std::int32_t>(src.data(), 4),
                                                                   out(long_dst), config)));
    EXPECT_EQ(long_dst, (std::vector<float>{1, 2, 3, 4, -1, -1, -1, -1, -1, -1}));
    EXPECT_FALSE((convert_slice_int_to_float<std::int32_t, float>(SrcSlice<std::int32_t>(src.data(), 0),
                                                                   out(long_dst), config)));
    EXPECT_EQ(long_dst[0], 1.0f);
}

// ---- Differential check ------------------------------------------------------------------

template <class S, class D>
void differential(const std::vector<S>& sample) {
    std::vector<D> dst(sample.size());
    for (RoundingMode mode : kAllModes) {
        const IntToFloatConfig<S, D> config{{}, mode};
        ASSERT_FALSE((convert_slice_int_to_float<S, D>(in(sample), out(dst), config)));
        int failures = 0;
        for (std::size_t i = 0; i < sample.size() && failures < 10; ++i) {
            const exact_model::Exact want = exact_model::model_int_to_float<D>(sample[i], mode);
            if (!exact_model::same(exact_model::decode(dst[i]), want)) {
                ++failures;
                ADD_FAILURE() << "source " << static_cast<long double>(sample[i]) << " mode "
                              << static_cast<int>(mode) << ": got pattern " << exact_model::bits_of(dst[i]);
            }
        }
    }
}

template <class S>
std::vector<S> integer_sample(std::size_t count, std::uint64_t rng_start) {
    std::vector<S> v;
    if constexpr (sizeof(S) <= 2) {
        for (std::int64_t x = std::numeric_limits<S>::min(); x <= std::numeric_limits<S>::max(); ++x)
            v.push_back(static_cast<S>(x));
        return v;
    } else {
        std::mt19937_64 rng(rng_start);
        constexpr int kWidth = std::numeric_limits<S>::digits;
        auto push = [&](std::uint64_t magnitude, bool negative) {
            if constexpr (std::is_signed_v<S>) {
                if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<S>::max()) + (negative ? 1 : 0))
                    return;
                v.push_back(negative ? static_cast<S>(0 - magnitude) : static_cast<S>(magnitude));
            } else {
                if (negative || (kWidth < 64 && magnitude > std::numeric_limits<S>::max())) return;
                v.push_back(static_cast<S>(magnitude));
            }
        };
        // Powers of two, the float16 and float32 precision edges and the float16 overflow
        // region, a few integers either side.
        for (int k = 0; k <= kWidth; ++k) {
            const std::uint64_t p = k == 64 ? 0 : std::uint64_t{1} << k;
            for (int d = -3; d <= 3; ++d) {
                push(p + static_cast<std::uint64_t>(d), false);
                push(p + static_cast<std::uint64_t>(d), true);
            }
        }
        for (std::uint64_t m = 65500; m <= 65540; ++m) {
            push(m, false);
            push(m, true);
        }
        std::uniform_int_distribution<int> width(1, kWidth);
        while (v.size() < count) {
            const std::uint64_t r = rng();
            switch (rng() % 3) {
                case 0: v.push_back(static_cast<S>(r)); break;  // any pattern
                case 1: {  // any magnitude
                    const int w = width(rng);
                    push(w == 64 ? r : r & ((std::uint64_t{1} << w) - 1), (rng() & 1) != 0);
                    break;
                }
                default: {  // near a binary32 midpoint: 24 significant bits, then half a step +- a little
                    const int w = 25 + static_cast<int>(rng() % static_cast<std::uint64_t>(kWidth - 24));
                    const std::uint64_t top = (r | (std::uint64_t{1} << 63)) >> (64 - 24);
                    const int shift = w - 24;
                    const std::uint64_t base = (top << shift) + (std::uint64_t{1} << (shift - 1));
                    const std::int64_t delta = static_cast<std::int64_t>(rng() % 9) - 4;
                    const std::uint64_t wide = shift > 12 ? static_cast<std::uint64_t>(delta) << (shift - 12)
                                                          : static_cast<std::uint64_t>(delta);
                    push(base + ((rng() & 1) ? wide : static_cast<std::uint64_t>(delta)), (rng() & 1) != 0);
                    break;
                }
            }
        }
        return v;
    }
}

template <class S>
void differential_source(std::uint64_t rng_start) {
    const std::vector<S> sample = integer_sample<S>(50000, rng_start);
    differential<S, f16>(sample);
    if constexpr (sizeof(S) >= 4) differential<S, float>(sample);
}

TEST(IntToFloatDifferential, EverySourceType) {
    differential_source<std::int8_t>(1);
    differential_source<std::uint8_t>(2);
    differential_source<std::int16_t>(3);
    differential_source<std::uint16_t>(4);
    differential_source<std::int32_t>(0x5eed0005);
    differential_source<std::uint32_t>(0x5eed0006);
    differential_source<std::int64_t>(0x5eed0007);
    differential_source<std::uint64_t>(0x5eed0008);
}

}  // namespace
}  // namespace pelm_ossrel
