// The block loops of the four families (the vector bodies of every processor level, driven by
// block_loop.hpp) against the element loops themselves: the same stored bits, the same error, and
// exactly the same elements written before it, for every length from 0 to 70 (0 to 140 for the
// 64-element integer blocks) and a failing element at every position. Every test runs once per
// level this processor has.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "support/buffers.hpp"
#include "support/edge_values.hpp"
#include "support/int_pairs.hpp"
#include "support/levels.hpp"
#include "support/mode_lists.hpp"

namespace pelm_ossrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMaxLength = 70;

using namespace testing_support;

// Runs `blocks` and `elements` (each: CastResult(SrcSlice<S>, DstSlice<D>, n)) on the same
// input into destinations with the same old contents and compares everything.
template <class S, class D, class Blocks, class Elements>
void expect_same_as_element_loop(const std::vector<S>& x, const Blocks& blocks, const Elements& elements,
                                 const std::string& what) {
    const std::size_t n = x.size();
    std::vector<D> by_blocks = sentinel<D>(n);
    std::vector<D> by_elements = sentinel<D>(n);
    const CastResult rb = blocks(SrcSlice<S>(x.data(), n), DstSlice<D>(by_blocks.data(), n), n);
    const CastResult re = elements(SrcSlice<S>(x.data(), n), DstSlice<D>(by_elements.data(), n), n);
    ASSERT_TRUE(same_result(rb, re)) << what << ": blocks " << describe(rb) << ", element loop " << describe(re);
    ASSERT_TRUE(same_bits(by_blocks, by_elements)) << what << ": stored elements differ";
}

// Every length up to kMaxLength (or `max_length`), each without a failing element and with one
// at every position; make(n, position) builds the input (position n: none).
template <class S, class D, class Make, class Blocks, class Elements>
void sweep_lengths_and_positions(const Make& make, const Blocks& blocks, const Elements& elements,
                                 const std::string& what, std::size_t max_length = kMaxLength) {
    for (std::size_t n = 0; n <= max_length; ++n) {
        for (std::size_t position = 0; position <= n; ++position) {
            expect_same_as_element_loop<S, D>(make(n, position), blocks, elements,
                                              what + " n=" + std::to_string(n) + " at=" + std::to_string(position));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

// ---- Floating to integer ------------------------------------------------------------------

constexpr OutOfRange kClamp = OutOfRange::Clamp;
constexpr OutOfRange kWrap = OutOfRange::Wrap;
constexpr OutOfRange kAbsent = OutOfRange::Absent;


// Elements that make a block leave the vector path without failing: out-of-range values that
// wrap stores, infinities that clamp stores, the limits themselves.
template <class D>
double unusual_value(std::mt19937_64& rng, OutOfRange oor) {
    const double max = static_cast<double>(std::numeric_limits<D>::max());
    const double min = static_cast<double>(std::numeric_limits<D>::min());
    switch (rng() % 5) {
        case 0: return oor == kWrap ? max + 1000.0 : max;
        case 1: return oor == kWrap ? min - 1000.5 : min;
        case 2: return oor == kClamp ? kInf : max - 0.5;
        case 3: return oor == kClamp ? -kInf : -0.0;
        default: return oor == kClamp ? 1e300 : 0.49999999999999994;
    }
}

// The element that fails at `position` under `oor`: a NaN in every mode, also an out-of-range
// value without a mode and an infinity under wrap.
template <class D>
double failing_value(std::size_t position, OutOfRange oor) {
    if (position % 2 == 0 || oor == kClamp) return kNaN;
    if (oor == kWrap) return position % 4 == 1 ? kInf : -kInf;
    // Half the width of D beyond its limits: outside even where the source rounds the limit up.
    const double max = static_cast<double>(std::numeric_limits<D>::max());
    const double min = static_cast<double>(std::numeric_limits<D>::min());
    return position % 4 == 1 ? max + (max - min) / 2 : min - (max - min) / 2;
}

template <class S, class D, RoundingMode M, OutOfRange Oor>
void check_float_to_int_blocks() {
    std::mt19937_64 rng(std::hash<std::string>{}(type_name<S>() + type_name<D>()) + static_cast<unsigned>(M) * 7 + static_cast<unsigned>(Oor));
    const auto make = [&](std::size_t n, std::size_t position) {
        std::vector<S> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            double v = rng() % 8 == 0 ? unusual_value<D>(rng, Oor) : ordinary_value_for<D>(rng);
            if (i == position) v = failing_value<D>(position, Oor);
            x[i] = from_double<S>(v);
        }
        return x;
    };
    const auto blocks = [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
        return detail::float_to_int_run<S, D, M, Oor>(s, d, ScalarMap<S, D>{}, n);
    };
    const auto elements = [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
        return detail::float_to_int_loop<S, D, M, Oor, false>(s, d, ScalarMap<S, D>{}, n);
    };
    sweep_lengths_and_positions<S, D>(make, blocks, elements,
                                      type_name<S>() + "->" + type_name<D>() + " mode " +
                                          std::to_string(static_cast<int>(M)) + " oor " + std::to_string(static_cast<int>(Oor)));
}

template <class S, class D>
void check_float_to_int_pair() {
    constexpr RoundingMode NE = RoundingMode::NearestEven, TZ = RoundingMode::TowardsZero,
                           TP = RoundingMode::TowardsPositive, TN = RoundingMode::TowardsNegative,
                           NA = RoundingMode::NearestAway;
#define PELM_OSSREL_FOR_RANGES(M)              \
    check_float_to_int_blocks<S, D, M, kClamp>();  \
    check_float_to_int_blocks<S, D, M, kWrap>();   \
    check_float_to_int_blocks<S, D, M, kAbsent>();
    PELM_OSSREL_FOR_RANGES(NE)
    PELM_OSSREL_FOR_RANGES(TZ)
    PELM_OSSREL_FOR_RANGES(TP)
    PELM_OSSREL_FOR_RANGES(TN)
    PELM_OSSREL_FOR_RANGES(NA)
#undef PELM_OSSREL_FOR_RANGES
}

template <class S>
void check_float_to_int_source() {
    check_float_to_int_pair<S, std::int8_t>();
    check_float_to_int_pair<S, std::uint8_t>();
    check_float_to_int_pair<S, std::int16_t>();
    check_float_to_int_pair<S, std::uint16_t>();
    check_float_to_int_pair<S, std::int32_t>();
    check_float_to_int_pair<S, std::uint32_t>();
    check_float_to_int_pair<S, std::int64_t>();
    check_float_to_int_pair<S, std::uint64_t>();
}

class FloatToIntBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(FloatToIntBlocks);

TEST_P(FloatToIntBlocks, Float64MatchesTheElementLoop) { check_float_to_int_source<double>(); }
TEST_P(FloatToIntBlocks, Float32MatchesTheElementLoop) { check_float_to_int_source<float>(); }
TEST_P(FloatToIntBlocks, Float16MatchesTheElementLoop) { check_float_to_int_source<f16>(); }


// Rounding in the lanes is the element loop's rounding: every binary16 value, and a wide sweep of
// binary32 and binary64 patterns around the integers, under every mode, stored with clamp.
template <class S, class D, RoundingMode M>
void expect_rounding_matches(const std::vector<S>& x) {
    expect_same_as_element_loop<S, D>(
        x,
        [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
            return detail::float_to_int_run<S, D, M, kClamp>(s, d, ScalarMap<S, D>{}, n);
        },
        [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
            return detail::float_to_int_loop<S, D, M, kClamp, false>(s, d, ScalarMap<S, D>{}, n);
        },
        type_name<S>() + "->" + type_name<D>() + " rounding " + std::to_string(static_cast<int>(M)));
}

template <class S, class D>
void expect_rounding_matches_in_every_mode(const std::vector<S>& x) {
    expect_rounding_matches<S, D, RoundingMode::NearestEven>(x);
    expect_rounding_matches<S, D, RoundingMode::TowardsZero>(x);
    expect_rounding_matches<S, D, RoundingMode::TowardsPositive>(x);
    expect_rounding_matches<S, D, RoundingMode::TowardsNegative>(x);
    expect_rounding_matches<S, D, RoundingMode::NearestAway>(x);
}

void expect_every_float16_rounded_like_the_element_loop() {
    std::vector<f16> x;
    for (std::uint32_t bits = 0; bits <= 0xFFFF; ++bits) {
        const f16 h{static_cast<std::uint16_t>(bits)};
        if (!h.is_nan()) x.push_back(h);
    }
    expect_rounding_matches_in_every_mode<f16, std::int32_t>(x);
    expect_rounding_matches_in_every_mode<f16, std::int16_t>(x);
    expect_rounding_matches_in_every_mode<f16, std::uint8_t>(x);
}

void expect_float32_patterns_rounded_like_the_element_loop() {
    // Every 183rd pattern from 2^-3 up to 2^65 in magnitude, both signs: all the binades where
    // rounding to an integer does anything, and the ones above up to the widest target.
    std::vector<float> x;
    const std::uint32_t from = std::bit_cast<std::uint32_t>(0.125f);
    const std::uint32_t to = std::bit_cast<std::uint32_t>(36893488147419103232.0f);
    for (std::uint32_t bits = from; bits <= to; bits += 183) {
        x.push_back(std::bit_cast<float>(bits));
        x.push_back(-std::bit_cast<float>(bits));
    }
    for (float v : {0.0f, -0.0f, 0.5f, -0.5f, 1.5f, -1.5f, 2.5f, -2.5f, 8388607.5f, 8388609.0f, 16777215.0f,
                    0.49999997f, -0.49999997f, 2147483648.0f, -2147483648.0f, 4294967040.0f,
                    4294967296.0f, 9223371487098961920.0f, 9223372036854775808.0f,
                    18446742974197923840.0f, 18446744073709551616.0f, -9223372036854775808.0f})
        x.push_back(v);
    expect_rounding_matches_in_every_mode<float, std::int32_t>(x);
    expect_rounding_matches_in_every_mode<float, std::uint16_t>(x);
    expect_rounding_matches_in_every_mode<float, std::uint32_t>(x);
    expect_rounding_matches_in_every_mode<float, std::int64_t>(x);
    expect_rounding_matches_in_every_mode<float, std::uint64_t>(x);
}

void expect_float64_patterns_rounded_like_the_element_loop() {
    std::vector<double> x;
    std::mt19937_64 rng(1104);
    for (int i = 0; i < 400000; ++i) {
        // Magnitudes from 2^-3 to 2^65 with random fractions, both signs.
        const double v = std::ldexp(1.0 + std::ldexp(static_cast<double>(rng() >> 12), -52),
                                    static_cast<int>(rng() % 69) - 3);
        x.push_back(rng() % 2 ? v : -v);
    }
    for (double v : {0.0, -0.0, 0.5, -0.5, 2.5, -2.5, 0.49999999999999994, -0.49999999999999994,
                     4503599627370495.5, 4503599627370497.0, 2147483647.5, -2147483648.5,
                     4294967295.0, 4294967295.5, 4294967296.0, 9223372036854774784.0,
                     9223372036854775808.0, 18446744073709549568.0, 18446744073709551616.0,
                     -9223372036854775808.0, -9223372036854777856.0})
        x.push_back(v);
    expect_rounding_matches_in_every_mode<double, std::int32_t>(x);
    expect_rounding_matches_in_every_mode<double, std::int8_t>(x);
    expect_rounding_matches_in_every_mode<double, std::uint32_t>(x);
    expect_rounding_matches_in_every_mode<double, std::int64_t>(x);
    expect_rounding_matches_in_every_mode<double, std::uint64_t>(x);
}

TEST_P(FloatToIntBlocks, RoundsLikeTheElementLoop) {
    expect_every_float16_rounded_like_the_element_loop();
    expect_float32_patterns_rounded_like_the_element_loop();
    expect_float64_patterns_rounded_like_the_element_loop();
}
// The level's body called directly: whole blocks of 16 from the start, up to the first block it
// cannot store, which it leaves unwritten. The screen looks at values before rounding, so 127.25,
// which rounds into int8's range, still leaves its block to the element loop.
TEST_P(FloatToIntBlocks, BodyStopsBeforeTheFirstBlockItCannotStore) {
    struct Case {
        std::size_t n;
        std::size_t bad_at;  // n: none
        double bad;
        OutOfRange oor;
        std::size_t done;
    };
    const Case cases[] = {
        {0, 0, 0.0, kAbsent, 0},       {15, 15, 0.0, kAbsent, 0},     {47, 47, 0.0, kAbsent, 32},
        {64, 37, 128.0, kAbsent, 32},  {64, 37, -kInf, kWrap, 32},   {64, 0, kNaN, kClamp, 0},
        {64, 63, kNaN, kClamp, 48},    {64, 16, 1e300, kClamp, 64},   {64, 16, -kInf, kClamp, 64},
        {64, 5, 127.5, kAbsent, 0},    {64, 60, 127.25, kAbsent, 48},
    };
    for (const Case& c : cases) {
        std::vector<double> x(c.n);
        for (std::size_t i = 0; i < c.n; ++i) x[i] = static_cast<double>(static_cast<int>(i % 200) - 100) + 0.25;
        if (c.bad_at < c.n) x[c.bad_at] = c.bad;
        // One byte of offset: neither run is aligned.
        std::vector<unsigned char> in(c.n * sizeof(double) + 1);
        if (c.n != 0) std::memcpy(in.data() + 1, x.data(), c.n * sizeof(double));
        std::vector<unsigned char> out(c.n + 1, 0xA5);
        const simd::BodyResult result = pair_body<double, std::int8_t>(bodies().float_to_int)(
            in.data() + 1, out.data() + 1, c.n, simd::BodyModes{RoundingMode::NearestEven, c.oor});
        const std::size_t done = result.done;
        const std::string what = "n=" + std::to_string(c.n) + " at=" + std::to_string(c.bad_at);
        ASSERT_EQ(done, c.done) << what;
        ASSERT_EQ(result.status, done == c.n - c.n % 16 ? simd::BodyResult::Status::Done
                                                         : simd::BodyResult::Status::Stopped)
            << what;
        // The stored blocks hold no NaN; the others must be untouched.
        for (std::size_t i = 0; i < c.n; ++i) {
            const unsigned char want =
                i < done ? static_cast<unsigned char>(static_cast<std::int8_t>(std::clamp(std::nearbyint(x[i]), -128.0, 127.0)))
                         : 0xA5;
            ASSERT_EQ(out[i + 1], want) << what << " element " << i;
        }
        ASSERT_EQ(out[0], 0xA5) << what;
    }
}

// ---- Floating to floating -----------------------------------------------------------------

template <class D>
double finite_max() {
    return std::is_same_v<D, f16> ? 65504.0 : static_cast<double>(std::numeric_limits<float>::max());
}

// Values of every kind the target can hold: zeros, subnormals, normals, values near the largest
// finite one, NaNs and infinities (which never fail but leave the stored-at-once path).
template <class S, class D>
double float_value(std::mt19937_64& rng) {
    const double max = std::min(finite_max<D>(), std::is_same_v<S, f16> ? 65504.0 : finite_max<D>());
    switch (rng() % 16) {
        case 0: return rng() % 2 ? 0.0 : -0.0;
        case 1: return max;
        case 2: return -max * 0.999;
        case 3: return std::is_same_v<D, f16> ? 3e-8 : 1e-40;  // subnormal in D
        case 4: return rng() % 32 == 0 ? kNaN : 1.0;
        case 5: return rng() % 32 == 0 ? -kInf : -1.0;
        default: {
            const double v = std::ldexp(std::uniform_real_distribution<double>(1.0, 2.0)(rng),
                                        static_cast<int>(rng() % 30) - 15);
            return rng() % 2 ? v : -v;
        }
    }
}

template <class S, class D, RoundingMode M, bool Clamp>
void check_float_to_float_blocks() {
    std::mt19937_64 rng(std::hash<std::string>{}(type_name<S>() + type_name<D>()) + static_cast<unsigned>(M) * 3 + Clamp);
    const auto make = [&](std::size_t n, std::size_t position) {
        std::vector<S> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            double v = float_value<S, D>(rng);
            // A finite value that overflows the target: an error unless clamp; for the widening
            // pairs (never failing) a NaN in its place.
            if (i == position) {
                if constexpr (sizeof(D) < sizeof(S)) v = (position % 2 ? -1.0 : 1.0) * finite_max<D>() * 4.0;
                else v = kNaN;
            }
            x[i] = from_double<S>(v);
        }
        return x;
    };
    const auto blocks = [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
        return detail::float_to_float_run<S, D, M, Clamp ? kClamp : kAbsent>(s, d, ScalarMap<S, D>{}, n);
    };
    const auto elements = [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
        return detail::float_to_float_loop<S, D, M, Clamp ? kClamp : kAbsent, false>(s, d, ScalarMap<S, D>{}, n);
    };
    sweep_lengths_and_positions<S, D>(make, blocks, elements,
                                      type_name<S>() + "->" + type_name<D>() + " mode " +
                                          std::to_string(static_cast<int>(M)) + (Clamp ? " clamp" : ""));
}

template <class S, class D>
void check_float_to_float_pair() {
    check_float_to_float_blocks<S, D, RoundingMode::NearestEven, true>();
    check_float_to_float_blocks<S, D, RoundingMode::NearestEven, false>();
    if constexpr (sizeof(D) < sizeof(S)) {
        check_float_to_float_blocks<S, D, RoundingMode::TowardsZero, false>();
        check_float_to_float_blocks<S, D, RoundingMode::TowardsPositive, true>();
        check_float_to_float_blocks<S, D, RoundingMode::TowardsNegative, false>();
        check_float_to_float_blocks<S, D, RoundingMode::NearestAway, false>();
    }
}

class FloatToFloatBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(FloatToFloatBlocks);

TEST_P(FloatToFloatBlocks, NarrowingPairsMatchTheElementLoop) {
    check_float_to_float_pair<double, float>();
    check_float_to_float_pair<double, f16>();
    check_float_to_float_pair<float, f16>();
}

TEST_P(FloatToFloatBlocks, WideningPairsMatchTheElementLoop) {
    check_float_to_float_pair<f16, float>();
    check_float_to_float_pair<f16, double>();
    check_float_to_float_pair<float, double>();
}

TEST_P(FloatToFloatBlocks, WidensEveryFloat16LikeTheElementLoop) {
    std::vector<f16> x;
    for (std::uint32_t bits = 0; bits <= 0xFFFF; ++bits) x.push_back(f16{static_cast<std::uint16_t>(bits)});
    const auto check = [&](auto target) {
        using D = decltype(target);
        expect_same_as_element_loop<f16, D>(
            x,
            [](SrcSlice<f16> s, DstSlice<D> d, std::size_t n) {
                return detail::float_to_float_run<f16, D, RoundingMode::NearestEven, kClamp>(s, d, {}, n);
            },
            [](SrcSlice<f16> s, DstSlice<D> d, std::size_t n) {
                return detail::float_to_float_loop<f16, D, RoundingMode::NearestEven, kClamp, false>(s, d, {}, n);
            },
            "every float16 to " + type_name<D>());
    };
    check(float{});
    check(double{});
}

// The narrowing of x in every rounding mode, under clamp (nothing fails, every element is
// compared) and, for the values no mode takes beyond the target's range, without a mode.
template <class S, class D>
void expect_narrowing_matches_in_every_mode(const std::vector<S>& x, const std::string& what) {
    for (RoundingMode mode : kRoundingModes) {
        with_rounding(mode, [&]<RoundingMode M>() {
            expect_same_as_element_loop<S, D>(
                x,
                [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
                    return detail::float_to_float_run<S, D, M, kClamp>(s, d, {}, n);
                },
                [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
                    return detail::float_to_float_loop<S, D, M, kClamp, false>(s, d, {}, n);
                },
                what + " " + rounding_name(M));
        });
    }
}

TEST_P(FloatToFloatBlocks, NarrowsFloat32PatternsToFloat16LikeTheElementLoop) {
    // Every 13th binary32 pattern, NaNs of every payload class included.
    std::vector<float> x;
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 13 * 4099) x.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    for (std::uint32_t bits = 0x47000000u; bits < 0x47800000u; bits += 3) x.push_back(std::bit_cast<float>(bits));
    expect_narrowing_matches_in_every_mode<float, f16>(x, "float32 patterns to float16");
}

// Every tie between two neighbouring binary16 values (subnormal, normal, and the one beyond the
// largest finite value), both signs, with the binary32 and binary64 values just around each: in
// binary32 the neighbouring patterns; in binary64 also values that round to the tie in binary32
// without being it, where the two roundings of float64 -> float16 differ from one.
TEST_P(FloatToFloatBlocks, NarrowsTiesAndTheirNeighboursToFloat16LikeTheElementLoop) {
    std::vector<float> xf;
    std::vector<double> xd;
    for (std::uint32_t b = 0; b < 0x7C00u; ++b) {
        const double lo = f16_to_f64(f16{static_cast<std::uint16_t>(b)});
        const double hi = b + 1 == 0x7C00u ? 65536.0 : f16_to_f64(f16{static_cast<std::uint16_t>(b + 1)});
        const double tie = (lo + hi) / 2;
        for (double sign : {1.0, -1.0}) {
            const float t = static_cast<float>(sign * tie);
            for (float v : {t, std::nextafter(t, 0.0f), std::nextafter(t, static_cast<float>(sign) * 1e30f)}) xf.push_back(v);
            for (double v : {sign * tie, std::nextafter(sign * tie, 0.0), std::nextafter(sign * tie, sign * 1e300),
                             sign * tie * (1 + 0x1p-40), sign * tie * (1 - 0x1p-40), sign * lo, sign * hi}) {
                xd.push_back(v);
            }
        }
    }
    expect_narrowing_matches_in_every_mode<float, f16>(xf, "float32 ties to float16");
    expect_narrowing_matches_in_every_mode<double, f16>(xd, "float64 ties to float16");
    expect_narrowing_matches_in_every_mode<double, float>(xd, "float64 ties to float32");
}

// ---- Integer to floating ------------------------------------------------------------------

// Integers of every magnitude class of S: small, near powers of two, the extremes.
template <class S>
S integer_value(std::mt19937_64& rng) {
    using L = std::numeric_limits<S>;
    switch (rng() % 6) {
        case 0: return L::min();
        case 1: return L::max();
        case 2: {
            const int bits = static_cast<int>(rng() % L::digits);
            const S p = static_cast<S>(std::uint64_t{1} << bits);
            return static_cast<S>(p + static_cast<S>(rng() % 5) - 2);
        }
        case 3: return static_cast<S>(static_cast<std::int64_t>(rng() % 140001) - 70000);
        default: return static_cast<S>(rng());
    }
}

template <class S, class D, RoundingMode M>
void check_int_to_float_blocks() {
    std::mt19937_64 rng(std::hash<std::string>{}(type_name<S>() + type_name<D>()) + static_cast<unsigned>(M));
    const auto make = [&](std::size_t n, std::size_t) {
        std::vector<S> x(n);
        for (auto& v : x) v = integer_value<S>(rng);
        return x;
    };
    const auto blocks = [](SrcSlice<S> s, DstSlice<D> d, std::size_t) {
        return convert_slice_int_to_float<S, D>(s, d, IntToFloatConfig<S, D>{{}, M});
    };
    const auto elements = [](SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
        return detail::int_to_float_loop<S, D, M, false>(s, d, ScalarMap<S, D>{}, n);
    };
    // No conversion fails; the position only varies the values.
    for (std::size_t n = 0; n <= kMaxLength; ++n) {
        expect_same_as_element_loop<S, D>(make(n, 0), blocks, elements,
                                          type_name<S>() + "->" + type_name<D>() + " n=" + std::to_string(n));
    }
}

template <class S, class D>
void check_int_to_float_pair() {
    check_int_to_float_blocks<S, D, RoundingMode::NearestEven>();
    check_int_to_float_blocks<S, D, RoundingMode::TowardsZero>();
    check_int_to_float_blocks<S, D, RoundingMode::TowardsPositive>();
    check_int_to_float_blocks<S, D, RoundingMode::TowardsNegative>();
    check_int_to_float_blocks<S, D, RoundingMode::NearestAway>();
}

class IntToFloatBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(IntToFloatBlocks);

TEST_P(IntToFloatBlocks, Float16TargetsMatchTheElementLoop) {
    check_int_to_float_pair<std::int8_t, f16>();
    check_int_to_float_pair<std::uint8_t, f16>();
    check_int_to_float_pair<std::int16_t, f16>();
    check_int_to_float_pair<std::uint16_t, f16>();
    check_int_to_float_pair<std::int32_t, f16>();
    check_int_to_float_pair<std::uint32_t, f16>();
    check_int_to_float_pair<std::int64_t, f16>();
    check_int_to_float_pair<std::uint64_t, f16>();
}

TEST_P(IntToFloatBlocks, Float32TargetsMatchTheElementLoop) {
    check_int_to_float_pair<std::int32_t, float>();
    check_int_to_float_pair<std::uint32_t, float>();
    check_int_to_float_pair<std::int64_t, float>();
    check_int_to_float_pair<std::uint64_t, float>();
}

// The element loop's adjustment for integer sources, written as a step of the pattern, against
// the general adjust_to_mode.
template <class T, class S>
void expect_adjustment_matches(S x) {
    const T r = detail::int_nearest<T>(x);
    const double s = static_cast<double>(x);
    const auto check = [&](auto mode) {
        constexpr RoundingMode M = decltype(mode)::value;
        const T general = adjust_to_mode<M>(r, s, s < 0.0);
        const T stepped = adjust_integer_source<M>(r, s);
        ASSERT_EQ(pattern(general), pattern(stepped))
            << "source " << std::to_string(x) << " mode " << static_cast<int>(M);
    };
    check(std::integral_constant<RoundingMode, RoundingMode::TowardsZero>{});
    check(std::integral_constant<RoundingMode, RoundingMode::TowardsPositive>{});
    check(std::integral_constant<RoundingMode, RoundingMode::TowardsNegative>{});
}

TEST(IntToFloatAdjustment, SteppedAdjustmentEqualsTheGeneralOne) {
    // Every integer that float16 can reach and a margin beyond its overflow.
    for (std::int32_t x = -140000; x <= 140000; ++x) {
        expect_adjustment_matches<f16>(x);
        expect_adjustment_matches<float>(x);
        if (HasFatalFailure()) return;
    }
    std::mt19937_64 rng(1105);
    for (int i = 0; i < 200000; ++i) {
        expect_adjustment_matches<float>(integer_value<std::int32_t>(rng));
        expect_adjustment_matches<float>(integer_value<std::uint32_t>(rng));
        expect_adjustment_matches<float>(integer_value<std::int64_t>(rng));
        expect_adjustment_matches<float>(integer_value<std::uint64_t>(rng));
        expect_adjustment_matches<f16>(integer_value<std::int64_t>(rng));
        expect_adjustment_matches<f16>(integer_value<std::uint64_t>(rng));
        if (HasFatalFailure()) return;
    }
}

// ---- Integer to integer -------------------------------------------------------------------
//
// convert_slice_int_to_int without a scalar map, through the bodies of each level, against
// element loops written from D's limits: every length to 140, an element outside D's range at
// every position, the others drawn from D's limits, their neighbours inside, small and arbitrary
// values.

// A value of S that D holds: a limit of D, a neighbour of one inside, a small or an arbitrary one;
// with `upper_half`, only from the upper half of D's range (so that a block of them differs from
// a block of values just above D's maximum in one high bit only).
template <class S, class D>
S int_inside(std::mt19937_64& rng, bool upper_half) {
    using U = std::make_unsigned_t<S>;
    const S hi = std::in_range<S>(std::numeric_limits<D>::max()) ? static_cast<S>(std::numeric_limits<D>::max())
                                                                 : std::numeric_limits<S>::max();
    S lo = std::in_range<S>(std::numeric_limits<D>::min()) ? static_cast<S>(std::numeric_limits<D>::min())
                                                           : std::numeric_limits<S>::min();
    const U half = static_cast<U>(static_cast<U>(static_cast<U>(hi) - static_cast<U>(lo)) / 2);
    if (upper_half) lo = static_cast<S>(static_cast<U>(static_cast<U>(hi) - half));
    switch (rng() % 6) {
        case 0: return lo;
        case 1: return hi;
        case 2: return static_cast<S>(lo + 1);
        case 3: return static_cast<S>(hi - 1);
        case 4: return upper_half ? hi : static_cast<S>(rng() % 100);
        default: {
            // [lo, hi] is a power of two long.
            const U span = static_cast<U>(static_cast<U>(hi) - static_cast<U>(lo));
            return static_cast<S>(static_cast<U>(static_cast<U>(lo) + static_cast<U>(rng() & span)));
        }
    }
}

// A value of S that D cannot hold: a neighbour of one of D's limits outside, a limit of S, or an
// arbitrary one.
template <class S, class D>
S int_outside(std::mt19937_64& rng) {
    using SL = std::numeric_limits<S>;
    using DL = std::numeric_limits<D>;
    switch (rng() % 4) {
        case 0:
            if (std::cmp_less(SL::min(), DL::min())) return static_cast<S>(static_cast<S>(DL::min()) - 1);
            [[fallthrough]];
        case 1:
            if (std::cmp_greater(SL::max(), DL::max())) return static_cast<S>(static_cast<S>(DL::max()) + 1);
            return SL::min();
        case 2: return std::cmp_less(SL::min(), DL::min()) ? SL::min() : SL::max();
        default: {
            S v;
            do v = static_cast<S>(rng());
            while (std::in_range<D>(v));
            return v;
        }
    }
}

template <class S, class D>
D clamp_reference(S v) {
    if (std::cmp_less(v, std::numeric_limits<D>::min())) return std::numeric_limits<D>::min();
    if (std::cmp_greater(v, std::numeric_limits<D>::max())) return std::numeric_limits<D>::max();
    return static_cast<D>(v);
}

template <class S, class D>
void check_int_blocks(OutOfRange oor, const std::string& path) {
    const std::string pair = type_name<S>() + "->" + type_name<D>();
    std::mt19937_64 rng(std::hash<std::string>{}(pair + std::to_string(static_cast<int>(oor))));
    const auto make = [&](std::size_t n, std::size_t position) {
        std::vector<S> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            // Under clamp and wrap values outside are ordinary input too.
            const bool outside = i == position || (oor != kAbsent && rng() % 4 == 0);
            x[i] = outside ? int_outside<S, D>(rng) : int_inside<S, D>(rng, position % 2 == 1);
        }
        return x;
    };
    const OptionalOutOfRangeMode mode = optional_mode(oor);
    const auto blocks = [&](SrcSlice<S> s, DstSlice<D> d, std::size_t) {
        return convert_slice_int_to_int<S, D>(s, d, IntToIntConfig<S, D>{{}, mode});
    };
    const auto elements = [&](SrcSlice<S> s, DstSlice<D> d, std::size_t n) -> CastResult {
        if (oor == kAbsent) {
            for (std::size_t i = 0; i < n; ++i) {
                if (!std::in_range<D>(s[i])) {
                    return CastError::out_of_range(static_cast<double>(s[i]),
                                                   static_cast<double>(int_to_int_detail::kLo<S, D>),
                                                   static_cast<double>(int_to_int_detail::kHi<S, D>));
                }
                d.set(i, static_cast<D>(s[i]));
            }
            return std::nullopt;
        }
        for (std::size_t i = 0; i < n; ++i) d.set(i, oor == kClamp ? clamp_reference<S, D>(s[i]) : static_cast<D>(s[i]));
        return std::nullopt;
    };
    sweep_lengths_and_positions<S, D>(make, blocks, elements, pair + " " + path, 140);
}

class IntToIntBlocks : public LevelTest {
protected:
    void check(OutOfRange oor) {
        for_each_core_int_pair([&]<class S, class D>() { check_int_blocks<S, D>(oor, std::string(level_name(level()))); });
    }
};
PELM_OSSREL_FOR_EVERY_LEVEL(IntToIntBlocks);

TEST_P(IntToIntBlocks, CheckedLoopsMatchTheElementLoop) { check(kAbsent); }
TEST_P(IntToIntBlocks, ClampLoopsMatchTheElementLoop) { check(kClamp); }
TEST_P(IntToIntBlocks, WrapLoopsMatchTheElementLoop) { check(kWrap); }

}  // namespace
}  // namespace pelm_ossrel
