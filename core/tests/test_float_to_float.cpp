// Floating-to-floating slice conversion: rounding per mode, overflow per out-of-range mode,
// NaN payloads, the scalar map, partial writes, and a differential check against the exact
// model.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/exact_model.hpp"
#include "float_to_float.hpp"
#include "support/buffers.hpp"

namespace pelm_ossrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kF32Max = 3.4028234663852886e38;

constexpr RoundingMode NE = RoundingMode::NearestEven;
constexpr RoundingMode TZ = RoundingMode::TowardsZero;
constexpr RoundingMode TP = RoundingMode::TowardsPositive;
constexpr RoundingMode TN = RoundingMode::TowardsNegative;
constexpr RoundingMode NA = RoundingMode::NearestAway;
constexpr RoundingMode kAllModes[] = {NE, TZ, TP, TN, NA};

const OptionalOutOfRangeMode kNone{};
const OptionalOutOfRangeMode kClamp{OutOfRangeMode::Clamp};
const OptionalOutOfRangeMode kWrap{OutOfRangeMode::Wrap};
const OptionalOutOfRangeMode kAllRanges[] = {kNone, kClamp, kWrap};

static_assert(is_core_float_to_float_pair_v<f16, f16>);
static_assert(is_core_float_to_float_pair_v<f16, float>);
static_assert(is_core_float_to_float_pair_v<f16, double>);
static_assert(is_core_float_to_float_pair_v<float, double>);
static_assert(is_core_float_to_float_pair_v<float, f16>);
static_assert(is_core_float_to_float_pair_v<double, f16>);
static_assert(is_core_float_to_float_pair_v<double, float>);
static_assert(!is_core_float_to_float_pair_v<float, float>);
static_assert(!is_core_float_to_float_pair_v<double, double>);
static_assert(!is_core_float_to_float_pair_v<std::int32_t, float>);

using testing_support::in;
using testing_support::out;

std::string range_error(const std::string& value, const std::string& lo, const std::string& hi) {
    return "Value " + value + " out of range [" + lo + ", " + hi +
           "]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.";
}

// One element: the stored pattern as "0x..." text, or the whole error message.
template <class S, class D>
std::string convert_text(S x, RoundingMode mode, OptionalOutOfRangeMode oor) {
    D r{};
    const CastConfig<S, D> config{{}, oor, mode};
    const CastResult e = convert_slice_float_to_float<S, D>(SrcSlice<S>(&x, 1), DstSlice<D>(&r, 1), config);
    if (e) return e->message();
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(exact_model::bits_of(r)));
    return buf;
}

std::string hex(std::uint64_t bits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(bits));
    return buf;
}
std::string f32_bits(double v) { return hex(std::bit_cast<std::uint32_t>(static_cast<float>(v))); }

struct Row {
    double x;
    std::string expected[5];  // NearestEven, TowardsZero, TowardsPositive, TowardsNegative, NearestAway
};

template <class S, class D>
void check_rows(const std::vector<Row>& rows, OptionalOutOfRangeMode oor) {
    for (const Row& row : rows) {
        for (int m = 0; m < 5; ++m) {
            EXPECT_EQ((convert_text<S, D>(static_cast<S>(row.x), static_cast<RoundingMode>(m), oor)),
                      row.expected[m])
                << "source " << row.x << " mode " << m << " oor " << static_cast<int>(oor.rule());
        }
    }
}

TEST(FloatToFloat, Float64ToFloat32PerMode) {
    const std::string max = f32_bits(kF32Max), lowest = f32_bits(-kF32Max);
    const std::string over = range_error("1000000000000000000000000000000000000000",
                                         "-340282346638528860000000000000000000000",
                                         "340282346638528860000000000000000000000");
    const std::string over_neg = range_error("-1000000000000000000000000000000000000000",
                                             "-340282346638528860000000000000000000000",
                                             "340282346638528860000000000000000000000");
    for (OptionalOutOfRangeMode oor : {kNone, kWrap}) {
        check_rows<double, float>({{1e39, {over, max, over, max, over}},
                                   {-1e39, {over_neg, lowest, lowest, over_neg, over_neg}}},
                                  oor);
    }
    check_rows<double, float>({{1e39, {"0x7F800000", max, "0x7F800000", max, "0x7F800000"}},
                               {-1e39, {"0xFF800000", lowest, lowest, "0xFF800000", "0xFF800000"}}},
                              kClamp);
    const std::string below = range_error("340282356779733620000000000000000000000",
                                          "-340282346638528860000000000000000000000",
                                          "340282346638528860000000000000000000000");
    check_rows<double, float>({{3.4028235677973362e38, {max, max, below, max, max}}}, kNone);
    check_rows<double, float>({{3.4028235677973362e38, {max, max, "0x7F800000", max, max}}}, kClamp);
    const std::string one = "0x3F800000", one_up = f32_bits(1.0000001192092896);
    const std::string tiny = f32_bits(1.401298464324817e-45), neg_tiny = f32_bits(-1.401298464324817e-45);
    const std::string tenth_up = f32_bits(0.10000000149011612), tenth_down = f32_bits(0.09999999403953552);
    check_rows<double, float>(
        {
            {1.0 + 0x1p-24, {one, one, one_up, one, one_up}},
            {0x1p-150, {"0x0", "0x0", tiny, "0x0", tiny}},
            {-0x1p-150, {"0x80000000", "0x80000000", "0x80000000", neg_tiny, neg_tiny}},
            {0x1p-150 * 1.5, {tiny, "0x0", tiny, "0x0", tiny}},
            {0.1, {tenth_up, tenth_down, tenth_up, tenth_down, tenth_up}},
            {-0.0, {"0x80000000", "0x80000000", "0x80000000", "0x80000000", "0x80000000"}},
            {kInf, {"0x7F800000", "0x7F800000", "0x7F800000", "0x7F800000", "0x7F800000"}},
            {-kInf, {"0xFF800000", "0xFF800000", "0xFF800000", "0xFF800000", "0xFF800000"}},
        },
        kNone);
}

TEST(FloatToFloat, ToFloat16PerMode) {
    const std::string over70k = range_error("70000", "-65504", "65504");
    check_rows<double, f16>({{70000, {over70k, "0x7BFF", over70k, "0x7BFF", over70k}}}, kNone);
    const std::string over_a = range_error("65519.999", "-65504", "65504");
    check_rows<double, f16>({{65519.999, {over_a, "0x7BFF", over_a, "0x7BFF", over_a}},
                             {65519.99, {"0x7BFF", "0x7BFF", range_error("65519.99", "-65504", "65504"),
                                         "0x7BFF", "0x7BFF"}}},
                            kNone);
    check_rows<double, f16>({{65519.999, {"0x7C00", "0x7BFF", "0x7C00", "0x7BFF", "0x7C00"}},
                             {-65519.999, {"0xFC00", "0xFBFF", "0xFBFF", "0xFC00", "0xFC00"}}},
                            kClamp);
    check_rows<float, f16>({{65519.99609375, {"0x7BFF", "0x7BFF", range_error("65519.99609375", "-65504", "65504"),
                                              "0x7BFF", "0x7BFF"}},
                            {65520, {range_error("65520", "-65504", "65504"), "0x7BFF",
                                     range_error("65520", "-65504", "65504"), "0x7BFF",
                                     range_error("65520", "-65504", "65504")}}},
                           kWrap);
    // Two roundings through binary32.
    check_rows<double, f16>(
        {
            {1.0 + 0x1p-11 + 0x1p-40, {"0x3C00", "0x3C00", "0x3C01", "0x3C00", "0x3C00"}},
            {0x1p-25 + 0x1p-60, {"0x0", "0x0", "0x1", "0x0", "0x0"}},
            {0x1p-25, {"0x0", "0x0", "0x1", "0x0", "0x1"}},
            {-0x1p-25, {"0x8000", "0x8000", "0x8000", "0x8001", "0x8001"}},
            {1.0 + 0x1p-11, {"0x3C00", "0x3C00", "0x3C01", "0x3C00", "0x3C01"}},
            {0.1, {"0x2E66", "0x2E66", "0x2E67", "0x2E66", "0x2E66"}},
        },
        kNone);
    check_rows<float, f16>({{1.0 + 0x1p-11, {"0x3C00", "0x3C00", "0x3C01", "0x3C00", "0x3C01"}},
                            {-(1.0 + 3 * 0x1p-11), {"0xBC02", "0xBC01", "0xBC01", "0xBC02", "0xBC02"}}},
                           kNone);
}

TEST(FloatToFloat, WideningAndCopyIgnoreTheModes) {
    for (RoundingMode mode : kAllModes) {
        for (OptionalOutOfRangeMode oor : kAllRanges) {
            EXPECT_EQ((convert_text<f16, f16>(f16{0x7C01}, mode, oor)), "0x7C01");
            EXPECT_EQ((convert_text<f16, f16>(f16{0x8000}, mode, oor)), "0x8000");
            EXPECT_EQ((convert_text<f16, float>(f16{0x7C01}, mode, oor)), "0x7FC02000");
            EXPECT_EQ((convert_text<f16, float>(f16{0x0001}, mode, oor)), "0x33800000");
            EXPECT_EQ((convert_text<f16, double>(f16{0xFC01}, mode, oor)), "0xFFF8040000000000");
            EXPECT_EQ((convert_text<f16, double>(f16{0x7BFF}, mode, oor)), hex(std::bit_cast<std::uint64_t>(65504.0)));
            EXPECT_EQ((convert_text<float, double>(std::bit_cast<float>(0x7F800001u), mode, oor)),
                      "0x7FF8000020000000");
            EXPECT_EQ((convert_text<float, double>(std::bit_cast<float>(0x00000001u), mode, oor)),
                      hex(std::bit_cast<std::uint64_t>(0x1p-149)));
            EXPECT_EQ((convert_text<float, double>(-std::numeric_limits<float>::infinity(), mode, oor)),
                      "0xFFF0000000000000");
        }
    }
}

TEST(FloatToFloat, NaNsComeOutQuietWithTheirUpperPayload) {
    for (RoundingMode mode : kAllModes) {
        EXPECT_EQ((convert_text<double, float>(std::bit_cast<double>(0x7FF0000000000001ull), mode, kNone)),
                  "0x7FC00000");
        EXPECT_EQ((convert_text<double, float>(std::bit_cast<double>(0xFFF4000020000000ull), mode, kNone)),
                  "0xFFE00001");
        EXPECT_EQ((convert_text<double, f16>(std::bit_cast<double>(0x7FF0000000000001ull), mode, kNone)),
                  "0x7E00");
        EXPECT_EQ((convert_text<double, f16>(std::bit_cast<double>(0xFFF4000000000000ull), mode, kNone)),
                  "0xFF00");
        EXPECT_EQ((convert_text<float, f16>(std::bit_cast<float>(0x7FFFFFFFu), mode, kNone)), "0x7FFF");
        EXPECT_EQ((convert_text<float, f16>(std::bit_cast<float>(0x7F800001u), mode, kNone)), "0x7E00");
    }
}

TEST(FloatToFloat, ScalarMapIsConsultedFirst) {
    const double nan_a = std::bit_cast<double>(0x7FF8000000000001ull);
    const std::vector<MapEntry<double, float>> map = {{1e39, 0.0f}, {2.0, 5.0f}, {nan_a, 6.0f}, {nan_a, 7.0f},
                                                      {0.0, 8.0f}, {2.0, 9.0f}};
    const std::vector<double> src = {1e39, 2.0, -std::numeric_limits<double>::quiet_NaN(), -0.0, 3.0};
    for (OptionalOutOfRangeMode oor : kAllRanges) {
        std::vector<float> dst(src.size(), -1.0f);
        const CastConfig<double, float> config{map, oor, NE};
        EXPECT_FALSE((convert_slice_float_to_float<double, float>(in(src), out(dst), config)));
        EXPECT_EQ(dst, (std::vector<float>{0.0f, 5.0f, 6.0f, 8.0f, 3.0f}));
    }
    // float16 to float16 with a map: unmatched elements keep their pattern.
    const std::vector<MapEntry<f16, f16>> map16 = {{f16{0x3C00}, f16{0x4000}}, {f16{0x7E00}, f16{0x0001}}};
    const std::vector<f16> src16 = {f16{0x3C00}, f16{0x7C01}, f16{0xBC00}};
    std::vector<f16> dst16(3, f16{0x1111});
    const CastConfig<f16, f16> config16{map16, kNone, NE};
    EXPECT_FALSE((convert_slice_float_to_float<f16, f16>(in(src16), out(dst16), config16)));
    EXPECT_EQ(dst16[0].bits, 0x4000);
    EXPECT_EQ(dst16[1].bits, 0x0001);
    EXPECT_EQ(dst16[2].bits, 0xBC00);
}

TEST(FloatToFloat, ErrorLeavesLaterElementsUntouched) {
    const std::vector<double> src = {1.0, 2.0, 1e39, 4.0};
    std::vector<float> dst(src.size(), -7.0f);
    // The unmatched map entry keeps the vectorised path (which writes the whole destination
    // before reporting) out of this check of the element loop.
    const MapEntry<double, float> unmatched[] = {{-3.0, 0.0f}};
    const CastConfig<double, float> config{unmatched, kNone, NE};
    const CastResult r = convert_slice_float_to_float<double, float>(in(src), out(dst), config);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->message(), range_error("1000000000000000000000000000000000000000",
                                        "-340282346638528860000000000000000000000",
                                        "340282346638528860000000000000000000000"));
    EXPECT_EQ(dst, (std::vector<float>{1.0f, 2.0f, -7.0f, -7.0f}));

    const std::vector<float> src16 = {1.0f, -70000.0f, 2.0f};
    std::vector<f16> dst16(3, f16{0x1111});
    const CastConfig<float, f16> config16{{}, kWrap, TP};
    const CastResult r16 = convert_slice_float_to_float<float, f16>(in(src16), out(dst16), config16);
    ASSERT_FALSE(r16);  // towards positive, -70000 stores the lowest finite value
    EXPECT_EQ(dst16[1].bits, 0xFBFF);
    const CastConfig<float, f16> config16n{{}, kWrap, TN};
    const CastResult r16n = convert_slice_float_to_float<float, f16>(in(src16), out(dst16), config16n);
    ASSERT_TRUE(r16n);
    EXPECT_EQ(r16n->message(), range_error("-70000", "-65504", "65504"));
}

TEST(FloatToFloat, ConvertsTheShorterLength) {
    const std::vector<f16> src = {f16{1}, f16{2}, f16{3}, f16{4}, f16{5}, f16{6}};
    std::vector<f16> short_dst(2, f16{0x7777});
    const CastConfig<f16, f16> config{{}, kClamp, NE};
    EXPECT_FALSE((convert_slice_float_to_float<f16, f16>(in(src), out(short_dst), config)));
    EXPECT_EQ(short_dst[1].bits, 2);
    std::vector<f16> long_dst(6, f16{0x7777});
    EXPECT_FALSE((convert_slice_float_to_float<f16, f16>(SrcSlice<f16>(src.data(), 3), out(long_dst), config)));
    EXPECT_EQ(long_dst[2].bits, 3);
    EXPECT_EQ(long_dst[3].bits, 0x7777);
    EXPECT_EQ(long_dst[5].bits, 0x7777);

    const std::vector<float> srcf = {1.5f, 2.5f, 3.5f};
    std::vector<double> dstd(5, -1.0);
    const CastConfig<float, double> configf{{}, kNone, TZ};
    EXPECT_FALSE((convert_slice_float_to_float<float, double>(in(srcf), out(dstd), configf)));
    EXPECT_EQ(dstd, (std::vector<double>{1.5, 2.5, 3.5, -1.0, -1.0}));
    EXPECT_FALSE((convert_slice_float_to_float<float, double>(SrcSlice<float>(srcf.data(), 0), out(dstd),
                                                              configf)));
}

// ---- Differential check ------------------------------------------------------------------

template <class S, class D>
void differential(const std::vector<S>& sample) {
    for (RoundingMode mode : kAllModes) {
        for (OptionalOutOfRangeMode oor : kAllRanges) {
            const bool clamp = oor.is(OutOfRangeMode::Clamp);
            const CastConfig<S, D> config{{}, oor, mode};
            std::vector<D> dst(sample.size());
            std::memset(dst.data(), 0x5A, dst.size() * sizeof(D));
            int failures = 0;
            std::size_t start = 0;
            while (start < sample.size() && failures < 10) {
                const std::size_t n = sample.size() - start;
                const CastResult r = convert_slice_float_to_float<S, D>(
                    SrcSlice<S>(sample.data() + start, n), DstSlice<D>(dst.data() + start, n), config);
                std::size_t end = sample.size();
                if (r) {
                    end = start;
                    while (end < sample.size() &&
                           !exact_model::model_float_to_float<S, D>(sample[end], mode, clamp).error)
                        ++end;
                    if (end == sample.size()) {
                        ADD_FAILURE() << "unexpected error " << r->message();
                        return;
                    }
                    const auto want = *exact_model::model_float_to_float<S, D>(sample[end], mode, clamp).error;
                    if (r->message() != want.message() || r->value != want.value) {
                        ++failures;
                        ADD_FAILURE() << "got " << r->message() << ", expected " << want.message();
                    }
                }
                for (std::size_t i = start; i < end; ++i) {
                    const auto want = exact_model::model_float_to_float<S, D>(sample[i], mode, clamp);
                    const exact_model::Exact got = exact_model::decode(dst[i]);
                    const bool ok = want.error ? false
                                    : want.value.kind == exact_model::Exact::Kind::NaN
                                        ? exact_model::bits_of(dst[i]) == want.nan_bits
                                        : exact_model::same(got, want.value);
                    if (!ok) {
                        ++failures;
                        ADD_FAILURE() << "source pattern " << hex(exact_model::bits_of(sample[i])) << " mode "
                                      << static_cast<int>(mode) << " oor " << static_cast<int>(oor.rule())
                                      << ": got " << hex(exact_model::bits_of(dst[i]))
                                      << (want.error ? " where an error was expected" : "");
                        if (want.error) break;
                    }
                }
                start = end + 1;
            }
        }
    }
}

template <class F>
std::vector<F> float_sample(std::size_t count, std::uint64_t rng_start) {
    using Bits = std::conditional_t<sizeof(F) == 8, std::uint64_t, std::uint32_t>;
    std::mt19937_64 rng(rng_start);
    std::vector<F> v;
    const F inf = std::numeric_limits<F>::infinity();
    // Boundaries: the overflow thresholds, the largest finite values, subnormal edges.
    const double edges[] = {0.0, 65504.0, 65505.0, 65519.0, 65519.99, 65519.999, 65519.998046875, 65520.0,
                            65536.0, 0x1p-14, 0x1p-24, 0x1p-25, 0x1p-26, 0x1p-149, 0x1p-150,
                            0x1p-126, 3.4028234663852886e38, 3.4028235677973362e38,
                            3.4028235677973366e38, 1.0, 0.1};
    for (double e : edges) {
        if (e > static_cast<double>(std::numeric_limits<F>::max())) continue;
        F x = static_cast<F>(e);
        for (int s = 0; s < 3; ++s) {
            v.push_back(x);
            v.push_back(-x);
            x = std::nextafter(x, inf);
        }
    }
    v.push_back(inf);
    v.push_back(-inf);
    v.push_back(std::numeric_limits<F>::quiet_NaN());
    v.push_back(std::bit_cast<F>(static_cast<Bits>(~Bits{0})));
    std::uniform_int_distribution<int> e16(-26, 17), e32(-151, sizeof(F) == 8 ? 129 : 126);
    while (v.size() < count) {
        switch (rng() % 4) {
            case 0: v.push_back(std::bit_cast<F>(static_cast<Bits>(rng()))); break;
            case 1: {  // a binary16 midpoint, or a few source steps from one
                const double base = std::ldexp(static_cast<double>(1024 + rng() % 1024) + 0.5, e16(rng) - 10);
                F x = static_cast<F>(base);
                const int steps = static_cast<int>(rng() % 7) - 3;
                for (int s = 0; s < (steps < 0 ? -steps : steps); ++s) x = std::nextafter(x, steps < 0 ? F(0) : inf);
                v.push_back((rng() & 1) ? -x : x);
                break;
            }
            case 2: {  // near a binary32 midpoint (only distinct from binary32 values in binary64)
                const double m = static_cast<double>((rng() >> 40) | (std::uint64_t{1} << 23)) + 0.5;
                F x = static_cast<F>(std::ldexp(m, e32(rng) - 23));
                const int steps = static_cast<int>(rng() % 5) - 2;
                for (int s = 0; s < (steps < 0 ? -steps : steps); ++s) x = std::nextafter(x, steps < 0 ? F(0) : inf);
                v.push_back((rng() & 1) ? -x : x);
                break;
            }
            default: {  // any value within the binary16 range
                const F x = static_cast<F>(std::ldexp(static_cast<double>(rng() >> 11) * 0x1p-53, e16(rng)));
                v.push_back((rng() & 1) ? -x : x);
                break;
            }
        }
    }
    return v;
}

TEST(FloatToFloatDifferential, Float64Sample) {
    const std::vector<double> sample = float_sample<double>(100000, 0x5eed0003);
    differential<double, float>(sample);
    differential<double, f16>(sample);
}

TEST(FloatToFloatDifferential, Float32Sample) {
    const std::vector<float> sample = float_sample<float>(100000, 0x5eed0004);
    differential<float, f16>(sample);
    differential<float, double>(sample);
}

TEST(FloatToFloatDifferential, EveryFloat16Pattern) {
    std::vector<f16> all(65536);
    for (std::uint32_t b = 0; b < 65536; ++b) all[b] = f16{static_cast<std::uint16_t>(b)};
    differential<f16, f16>(all);
    differential<f16, float>(all);
    differential<f16, double>(all);
}

}  // namespace
}  // namespace pelm_ossrel
