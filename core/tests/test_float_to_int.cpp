// Floating-to-integer slice conversion: limits, rounding, the three out-of-range modes, the
// scalar map, partial writes, and a differential check against the exact model.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "rounding.hpp"
#include "support/exact_model.hpp"
#include "float_to_int.hpp"
#include "support/buffers.hpp"

namespace pelm_ossrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

using testing_support::in;
using testing_support::out;

std::string range_error(const std::string& value, const std::string& lo, const std::string& hi) {
    return "Value " + value + " out of range [" + lo + ", " + hi +
           "]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.";
}
std::string non_finite(const std::string& value) {
    return "Cannot cast " + value + " to integer type without scalar_map";
}

// Source values are written as binary64 (float16 sources as their patterns).
template <class S>
S make_source(double v) {
    if constexpr (std::is_same_v<S, f16>) return f64_to_f16(v);
    else return static_cast<S>(v);
}

template <class T>
std::string integer_text(T v) {
    if constexpr (std::is_signed_v<T>) return std::to_string(static_cast<long long>(v));
    else return std::to_string(static_cast<unsigned long long>(v));
}

// One element through the slice conversion: the stored integer as decimal text, or the
// whole error message.
template <class S, class D>
std::string convert_text(S x, RoundingMode mode, OptionalOutOfRangeMode oor) {
    D out{};
    const CastConfig<S, D> config{{}, oor, mode};
    const CastResult r = convert_slice_float_to_int<S, D>(SrcSlice<S>(&x, 1), DstSlice<D>(&out, 1), config);
    return r ? r->message() : integer_text(out);
}

enum class Target { I8, U8, I16, U16, I32, U32, I64, U64 };

template <class S>
std::string convert_text(Target t, S x, RoundingMode mode, OptionalOutOfRangeMode oor) {
    switch (t) {
        case Target::I8: return convert_text<S, std::int8_t>(x, mode, oor);
        case Target::U8: return convert_text<S, std::uint8_t>(x, mode, oor);
        case Target::I16: return convert_text<S, std::int16_t>(x, mode, oor);
        case Target::U16: return convert_text<S, std::uint16_t>(x, mode, oor);
        case Target::I32: return convert_text<S, std::int32_t>(x, mode, oor);
        case Target::U32: return convert_text<S, std::uint32_t>(x, mode, oor);
        case Target::I64: return convert_text<S, std::int64_t>(x, mode, oor);
        case Target::U64: return convert_text<S, std::uint64_t>(x, mode, oor);
    }
    return {};
}

enum class Source { F64, F32, F16 };

std::string convert_text(Source s, double x, Target t, RoundingMode mode, OptionalOutOfRangeMode oor) {
    switch (s) {
        case Source::F64: return convert_text<double>(t, x, mode, oor);
        case Source::F32: return convert_text<float>(t, make_source<float>(x), mode, oor);
        case Source::F16: return convert_text<f16>(t, make_source<f16>(x), mode, oor);
    }
    return {};
}

struct Case {
    Source source;
    double value;
    Target target;
    RoundingMode mode;
    OptionalOutOfRangeMode oor;
    std::string expected;
};

void check_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(convert_text(c.source, c.value, c.target, c.mode, c.oor), c.expected)
            << "source kind " << static_cast<int>(c.source) << " value " << c.value << " target "
            << static_cast<int>(c.target) << " mode " << static_cast<int>(c.mode) << " oor "
            << static_cast<int>(c.oor.rule());
    }
}

// ---- Limits -----------------------------------------------------------------------------

template <class S, class D>
void check_limits(double lo, double hi) {
    using L = FloatToIntLimits<S, D>;
    const double got_lo = CastFloat<S>::to_f64(L::lo);
    const double got_hi = CastFloat<S>::to_f64(L::hi);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got_lo), std::bit_cast<std::uint64_t>(lo)) << got_lo;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got_hi), std::bit_cast<std::uint64_t>(hi)) << got_hi;
    EXPECT_EQ(static_cast<double>(L::lo_work), lo);
    EXPECT_EQ(static_cast<double>(L::hi_work), hi);
    if constexpr (std::is_same_v<S, f16>) {
        // The compile-time binary16 limits are those of the run-time conversion functions.
        const f16 lo16 = f32_to_f16(static_cast<float>(std::numeric_limits<D>::min()));
        const f16 hi16 = f32_to_f16(static_cast<float>(std::numeric_limits<D>::max()));
        EXPECT_EQ(L::lo.bits, lo16.bits);
        EXPECT_EQ(L::hi.bits, hi16.bits);
    }
}

TEST(FloatToIntLimits, AreTheTargetLimitsAsTheSourceRoundsThem) {
    const double k63 = 9223372036854775808.0, k64 = 18446744073709551616.0;
    check_limits<double, std::int8_t>(-128, 127);
    check_limits<double, std::uint8_t>(0, 255);
    check_limits<double, std::int16_t>(-32768, 32767);
    check_limits<double, std::uint16_t>(0, 65535);
    check_limits<double, std::int32_t>(-2147483648.0, 2147483647.0);
    check_limits<double, std::uint32_t>(0, 4294967295.0);
    check_limits<double, std::int64_t>(-k63, k63);
    check_limits<double, std::uint64_t>(0, k64);
    check_limits<float, std::int8_t>(-128, 127);
    check_limits<float, std::uint8_t>(0, 255);
    check_limits<float, std::int16_t>(-32768, 32767);
    check_limits<float, std::uint16_t>(0, 65535);
    check_limits<float, std::int32_t>(-2147483648.0, 2147483648.0);
    check_limits<float, std::uint32_t>(0, 4294967296.0);
    check_limits<float, std::int64_t>(-k63, k63);
    check_limits<float, std::uint64_t>(0, k64);
    check_limits<f16, std::int8_t>(-128, 127);
    check_limits<f16, std::uint8_t>(0, 255);
    check_limits<f16, std::int16_t>(-32768, 32768);
    check_limits<f16, std::uint16_t>(0, kInf);
    check_limits<f16, std::int32_t>(-kInf, kInf);
    check_limits<f16, std::uint32_t>(0, kInf);
    check_limits<f16, std::int64_t>(-kInf, kInf);
    check_limits<f16, std::uint64_t>(0, kInf);
}

// ---- The CastFloat trait ----------------------------------------------------------------

template <class S>
std::uint64_t pattern(S v) {
    return exact_model::bits_of(v);
}

TEST(CastFloat, RoundWithModeTable) {
    struct Row {
        double x;
        double r[5];  // NearestEven, TowardsZero, TowardsPositive, TowardsNegative, NearestAway
    };
    const std::vector<Row> rows = {
        {2.5, {2, 2, 3, 2, 3}},
        {-2.5, {-2, -2, -2, -3, -3}},
        {-2.7, {-3, -2, -2, -3, -3}},
        {0.5, {0, 0, 1, 0, 1}},
        {1.5, {2, 1, 2, 1, 2}},
        {-0.4, {-0.0, -0.0, -0.0, -1, -0.0}},
        {0.3, {0, 0, 1, 0, 0}},
        {-0.0, {-0.0, -0.0, -0.0, -0.0, -0.0}},
        {1024.75, {1025, 1024, 1025, 1024, 1025}},
        {kInf, {kInf, kInf, kInf, kInf, kInf}},
        {-kInf, {-kInf, -kInf, -kInf, -kInf, -kInf}},
    };
    for (const Row& row : rows) {
        for (int m = 0; m < 5; ++m) {
            const auto mode = static_cast<RoundingMode>(m);
            EXPECT_EQ(pattern(CastFloat<double>::round_with_mode(row.x, mode)), pattern(row.r[m]))
                << row.x << " mode " << m;
            EXPECT_EQ(pattern(CastFloat<float>::round_with_mode(static_cast<float>(row.x), mode)),
                      pattern(static_cast<float>(row.r[m])))
                << row.x << " mode " << m;
            const f16 h = f64_to_f16(row.x);
            if (f16_to_f64(h) == row.x || row.x != row.x) {
                EXPECT_EQ(CastFloat<f16>::round_with_mode(h, mode).bits, f64_to_f16(row.r[m]).bits)
                    << row.x << " mode " << m;
            }
        }
    }
}

TEST(CastFloat, NearestAwayRoundsTheSumFirst) {
    // The largest value below one half gives 1; odd integers just below 2^p move away.
    EXPECT_EQ(CastFloat<double>::round_with_mode(0.49999999999999994, NA), 1.0);
    EXPECT_EQ(CastFloat<double>::round_with_mode(-0.49999999999999994, NA), -1.0);
    EXPECT_EQ(CastFloat<float>::round_with_mode(0.4999999701976776f, NA), 1.0f);
    EXPECT_EQ(CastFloat<float>::round_with_mode(8388609.0f, NA), 8388610.0f);
    EXPECT_EQ(CastFloat<float>::round_with_mode(-8388609.0f, NA), -8388610.0f);
    EXPECT_EQ(CastFloat<float>::round_with_mode(8388608.0f, NA), 8388608.0f);
    EXPECT_EQ(CastFloat<float>::round_with_mode(16777215.0f, NA), 16777216.0f);
    EXPECT_EQ(CastFloat<float>::round_with_mode(16777216.0f, NA), 16777216.0f);
    EXPECT_EQ(CastFloat<double>::round_with_mode(4503599627370497.0, NA), 4503599627370498.0);
    EXPECT_EQ(CastFloat<double>::round_with_mode(4503599627370496.0, NA), 4503599627370496.0);
    EXPECT_EQ(CastFloat<double>::round_with_mode(9007199254740991.0, NA), 9007199254740992.0);
    // Binary16 sums are exact in binary32.
    EXPECT_EQ(CastFloat<f16>::round_with_mode(f64_to_f16(0.499755859375), NA).bits, 0x0000);
    EXPECT_EQ(CastFloat<f16>::round_with_mode(f64_to_f16(1025.0), NA).bits, f64_to_f16(1025.0).bits);
    EXPECT_EQ(CastFloat<f16>::round_with_mode(f64_to_f16(1.5), NA).bits, f64_to_f16(2.0).bits);
}

TEST(CastFloat, RemEuclid) {
    struct Row {
        double x, rhs, expected;
    };
    const std::vector<Row> rows = {
        {-1, 256, 255}, {5.5, 2, 1.5}, {-0.5, 2, 1.5}, {-1, -256, 255}, {512, 256, 0},
        {7, kInf, 7},   {kInf, 2, kNaN}, {3, 0, kNaN},
    };
    for (const Row& r : rows) {
        const double d = CastFloat<double>::rem_euclid(r.x, r.rhs);
        const float f = CastFloat<float>::rem_euclid(static_cast<float>(r.x), static_cast<float>(r.rhs));
        const f16 h = CastFloat<f16>::rem_euclid(f64_to_f16(r.x), f64_to_f16(r.rhs));
        if (r.expected != r.expected) {
            EXPECT_TRUE(d != d) << r.x;
            EXPECT_TRUE(f != f) << r.x;
            EXPECT_TRUE(h.is_nan()) << r.x;
        } else {
            EXPECT_EQ(d, r.expected) << r.x;
            EXPECT_EQ(f, static_cast<float>(r.expected)) << r.x;
            EXPECT_EQ(h.bits, f64_to_f16(r.expected).bits) << r.x;
        }
    }
    // The sum is rounded in the working precision: -2^-60 + 2^64 is 2^64 in binary64.
    EXPECT_EQ(CastFloat<double>::rem_euclid(-0x1p-60, 0x1p64), 0x1p64);
    // Binary16: remainder and sum in binary32, then rounded (-1 + 65536 gives +inf).
    EXPECT_EQ(CastFloat<f16>::rem_euclid(f64_to_f16(-1.0), f16{0x7C00}).bits, 0x7C00);
}

// ---- Conversion tables -----------------------------------------------------------------

using S = Source;
using T = Target;

TEST(FloatToInt, RoundingDecidesTheStoredValue) {
    check_cases({
        {S::F64, 2.5, T::I32, NE, kNone, "2"},
        {S::F64, 2.5, T::I32, NA, kNone, "3"},
        {S::F64, -2.5, T::I32, NE, kNone, "-2"},
        {S::F64, -2.5, T::I32, NA, kNone, "-3"},
        {S::F64, -2.7, T::I32, TZ, kNone, "-2"},
        {S::F64, -2.7, T::I32, TP, kNone, "-2"},
        {S::F64, -2.7, T::I32, TN, kNone, "-3"},
        {S::F32, 0.4999999701976776, T::I8, NA, kNone, "1"},
        {S::F64, 0.49999999999999994, T::I8, NA, kNone, "1"},
        {S::F32, 8388609, T::I32, NA, kNone, "8388610"},
        {S::F64, 4503599627370497, T::I64, NA, kNone, "4503599627370498"},
        {S::F16, 0.499755859375, T::I8, NA, kNone, "0"},
        {S::F16, 1025, T::I16, NA, kNone, "1025"},
        {S::F32, -2.5, T::I64, NA, kNone, "-3"},
        {S::F16, -2.5, T::I64, NA, kNone, "-3"},
        {S::F16, -2.5, T::I64, NE, kNone, "-2"},
    });
}

TEST(FloatToInt, ErrorsReportTheRoundedValue) {
    check_cases({
        {S::F64, 127.5, T::I8, NE, kNone, range_error("128", "-128", "127")},
        {S::F64, 127.4, T::I8, TP, kNone, range_error("128", "-128", "127")},
        {S::F64, -0.5, T::U8, NA, kNone, range_error("-1", "0", "255")},
        {S::F64, -0.5, T::U8, NE, kNone, "0"},
        {S::F64, 300, T::U8, NE, kNone, range_error("300", "0", "255")},
        {S::F64, -1, T::U64, NE, kNone, range_error("-1", "0", "18446744073709552000")},
        {S::F32, 3e9, T::I32, NE, kNone,
         range_error("3000000000", "-2147483648", "2147483648")},
        {S::F64, 1e300, T::I64, TZ, kNone,
         range_error("1" + std::string(300, '0'), "-9223372036854776000", "9223372036854776000")},
    });
}

TEST(FloatToInt, LimitsAsTheSourceRoundsThem) {
    check_cases({
        {S::F64, 9223372036854775808.0, T::I64, NE, kNone, "9223372036854775807"},
        {S::F64, 18446744073709551616.0, T::U64, NE, kNone, "18446744073709551615"},
        {S::F32, 2147483648.0, T::I32, NE, kNone, "2147483647"},
        {S::F32, 4294967296.0, T::U32, NE, kNone, "4294967295"},
        {S::F16, 32768, T::I16, NE, kNone, "32767"},
        {S::F16, kInf, T::U16, NE, kNone, "65535"},
        {S::F16, kInf, T::U32, NE, kNone, "4294967295"},
        {S::F16, kInf, T::U64, NE, kNone, "18446744073709551615"},
        {S::F16, kInf, T::I32, NE, kNone, "2147483647"},
        {S::F16, kInf, T::I64, NE, kNone, "9223372036854775807"},
        {S::F16, -kInf, T::I32, NE, kNone, "-2147483648"},
        {S::F16, -kInf, T::I64, NE, kNone, "-9223372036854775808"},
        {S::F16, -kInf, T::U16, NE, kNone, range_error("-inf", "0", "inf")},
        {S::F16, 40000, T::I16, NE, kNone, range_error("40000", "-32768", "32768")},
        {S::F16, 65504, T::U16, NE, kNone, "65504"},
        {S::F16, -65504, T::I32, NE, kNone, "-65504"},
        {S::F64, -9223372036854775808.0, T::I64, NE, kNone, "-9223372036854775808"},
        {S::F64, -9223372036854777856.0, T::I64, NE, kNone,
         range_error("-9223372036854778000", "-9223372036854776000", "9223372036854776000")},
    });
}

TEST(FloatToInt, InfinitiesPerMode) {
    check_cases({
        {S::F64, kInf, T::I32, NE, kNone, range_error("inf", "-2147483648", "2147483647")},
        {S::F32, -kInf, T::U8, NE, kNone, range_error("-inf", "0", "255")},
        {S::F64, kInf, T::I32, NE, kClamp, "2147483647"},
        {S::F64, -kInf, T::I32, NE, kClamp, "-2147483648"},
        {S::F32, kInf, T::U64, NE, kClamp, "18446744073709551615"},
        {S::F64, kInf, T::I32, NE, kWrap, non_finite("inf")},
        {S::F64, -kInf, T::I32, NE, kWrap, non_finite("-inf")},
        {S::F16, kInf, T::I32, NE, kWrap, non_finite("inf")},
        {S::F16, -kInf, T::I64, NE, kWrap, non_finite("-inf")},
        {S::F16, kInf, T::U8, NE, kWrap, non_finite("inf")},
        {S::F16, -kInf, T::U16, NE, kClamp, "0"},
    });
}

TEST(FloatToInt, NaNFailsInEveryMode) {
    for (RoundingMode mode : kAllModes) {
        for (OptionalOutOfRangeMode oor : kAllRanges) {
            for (Source s : {S::F64, S::F32, S::F16}) {
                for (Target t : {T::I8, T::U8, T::I32, T::U64}) {
                    EXPECT_EQ(convert_text(s, kNaN, t, mode, oor), non_finite("NaN"));
                    EXPECT_EQ(convert_text(s, -kNaN, t, mode, oor), non_finite("NaN"));
                }
            }
        }
    }
    EXPECT_EQ((convert_text<f16, std::int8_t>(f16{0x7C01}, NE, kNone)), non_finite("NaN"));
    EXPECT_EQ((convert_text<float, std::int8_t>(std::bit_cast<float>(0xFF800001u), NE, kClamp)),
              non_finite("NaN"));
}

TEST(FloatToInt, Clamp) {
    check_cases({
        {S::F32, 300, T::U8, NE, kClamp, "255"},
        {S::F64, 1e300, T::U64, NE, kClamp, "18446744073709551615"},
        {S::F64, -1e300, T::I64, NE, kClamp, "-9223372036854775808"},
        {S::F16, 40000, T::I16, NE, kClamp, "32767"},
        {S::F16, -40000, T::I16, NE, kClamp, "-32768"},
        {S::F64, -0.3, T::U8, TN, kClamp, "0"},
        {S::F64, 255.5, T::U8, NE, kClamp, "255"},
        {S::F64, 254.5, T::U8, NE, kClamp, "254"},
        {S::F64, -1.5, T::U8, TP, kClamp, "0"},
        {S::F64, 2147483647.5, T::I32, NE, kClamp, "2147483647"},
    });
}

TEST(FloatToInt, WrapIsExactModuloTheTargetWidth) {
    check_cases({
        // Exact in the source type as well.
        {S::F64, -1, T::U8, NE, kWrap, "255"},
        {S::F64, 256, T::U8, NE, kWrap, "0"},
        {S::F64, 1e300, T::U8, NE, kWrap, "0"},
        {S::F64, 200, T::I8, NE, kWrap, "-56"},
        {S::F64, -129, T::I8, NE, kWrap, "127"},
        {S::F32, 3000000000.0, T::I32, NE, kWrap, "-1294967296"},
        {S::F32, 40000, T::I16, NE, kWrap, "-25536"},
        {S::F16, 200, T::I8, NE, kWrap, "-56"},
        {S::F16, 65376, T::I8, NE, kWrap, "96"},
        {S::F16, 65504, T::U8, NE, kWrap, "224"},
        {S::F16, -65504, T::U8, NE, kWrap, "32"},
        {S::F16, 65504, T::I32, NE, kWrap, "65504"},
        {S::F16, -65504, T::I32, NE, kWrap, "-65504"},
        // Where a floating computation of the wrap would round its sums.
        {S::F16, 40000, T::I16, NE, kWrap, "-25536"},
        {S::F16, -40000, T::I16, NE, kWrap, "25536"},
        {S::F16, 32800, T::I16, NE, kWrap, "-32736"},
        {S::F16, -32800, T::I16, NE, kWrap, "32736"},
        {S::F16, 65504, T::I8, NE, kWrap, "-32"},
        {S::F16, 32752, T::I8, NE, kWrap, "-16"},
        {S::F16, -5, T::U16, NE, kWrap, "65531"},
        {S::F16, -5, T::U32, NE, kWrap, "4294967291"},
        {S::F16, -5, T::U64, NE, kWrap, "18446744073709551611"},
        {S::F64, 1e300, T::I8, NE, kWrap, "0"},
        {S::F64, -1e300, T::I8, NE, kWrap, "0"},
        {S::F64, -2, T::U64, NE, kWrap, "18446744073709551614"},
        {S::F64, -1025, T::U64, NE, kWrap, "18446744073709550591"},
        {S::F64, 9223372036854777856.0, T::I64, NE, kWrap, "-9223372036854773760"},
        {S::F32, 2147483904.0, T::I32, NE, kWrap, "-2147483392"},
        // Beyond 2^64 the low bits of the binary expansion decide.
        {S::F64, 0x1p64 + 0x1p12, T::U64, NE, kWrap, "4096"},
        {S::F64, -(0x1p64 + 0x1p12), T::U64, NE, kWrap, "18446744073709547520"},
        {S::F64, 0x1p64 + 0x1p12, T::I16, NE, kWrap, "4096"},
        {S::F32, 0x1p70 * 1.5, T::U64, NE, kWrap, "0"},
        {S::F32, 0x1p40 * 3 + 0x1p20, T::I32, NE, kWrap, "1048576"},
        {S::F64, 0x1.fffffffffffffp1023, T::U64, NE, kWrap, "0"},
        // Inside the limits the saturating conversion stays.
        {S::F64, 9223372036854775808.0, T::I64, NE, kWrap, "9223372036854775807"},
        {S::F64, 18446744073709551616.0, T::U64, NE, kWrap, "18446744073709551615"},
        {S::F16, 32768, T::I16, NE, kWrap, "32767"},
        {S::F32, 2147483648.0, T::I32, NE, kWrap, "2147483647"},
        // Rounding happens before the wrap.
        {S::F64, 255.5, T::U8, NE, kWrap, "0"},
        {S::F64, 255.5, T::U8, TZ, kWrap, "255"},
        {S::F64, -0.3, T::U8, TN, kWrap, "255"},
        {S::F64, -0.3, T::U64, TN, kWrap, "18446744073709551615"},
    });
}

TEST(FloatToInt, NegativeZeroIsNotBelowZero) {
    for (OptionalOutOfRangeMode oor : kAllRanges) {
        for (RoundingMode mode : {NE, TZ}) {
            for (Target t : {T::U8, T::U16, T::U32, T::U64}) {
                EXPECT_EQ(convert_text(S::F64, -0.3, t, mode, oor), "0");
                EXPECT_EQ(convert_text(S::F32, -0.0, t, mode, oor), "0");
                EXPECT_EQ(convert_text(S::F16, -0.3, t, mode, oor), "0");
            }
        }
    }
    EXPECT_EQ(convert_text(S::F64, -0.3, T::U8, TN, kNone), range_error("-1", "0", "255"));
}

// ---- Scalar map -------------------------------------------------------------------------

TEST(FloatToInt, ScalarMapIsConsultedFirst) {
    const double nan_a = std::bit_cast<double>(0x7FF8000000000001ull);
    const double nan_b = std::bit_cast<double>(0xFFF8000000000002ull);
    const std::vector<MapEntry<double, std::int8_t>> map = {
        {1.0, 10}, {nan_a, 20}, {nan_b, 30}, {0.0, 40}, {1.0, 50}, {1e300, 60}, {kInf, 70}};
    const std::vector<double> src = {1.0, kNaN, -kNaN, -0.0, 1e300, kInf, 2.0};
    std::vector<std::int8_t> dst(src.size(), 99);
    for (OptionalOutOfRangeMode oor : kAllRanges) {
        const CastConfig<double, std::int8_t> config{map, oor, NE};
        EXPECT_FALSE((convert_slice_float_to_int<double, std::int8_t>(in(src), out(dst), config)));
        EXPECT_EQ(dst, (std::vector<std::int8_t>{10, 20, 20, 40, 60, 70, 2}));
    }
    // Float16 keys: NaN matches a NaN key of any payload, +0 matches -0.
    const std::vector<MapEntry<f16, std::uint8_t>> map16 = {{f16{0x7E00}, 1}, {f16{0x8000}, 2}};
    const std::vector<f16> src16 = {f16{0xFC01}, f16{0x0000}, f16{0x3C00}};
    std::vector<std::uint8_t> dst16(3, 99);
    const CastConfig<f16, std::uint8_t> config16{map16, kNone, NE};
    EXPECT_FALSE((convert_slice_float_to_int<f16, std::uint8_t>(in(src16), out(dst16), config16)));
    EXPECT_EQ(dst16, (std::vector<std::uint8_t>{1, 2, 1}));
}

// ---- Slices -----------------------------------------------------------------------------

TEST(FloatToInt, ErrorLeavesLaterElementsUntouched) {
    const std::vector<double> src = {1.0, 2.0, 300.0, 4.0, 5.0};
    std::vector<std::uint8_t> dst(src.size(), 0xA5);
    const CastConfig<double, std::uint8_t> config{{}, kNone, NE};
    const CastResult r = convert_slice_float_to_int<double, std::uint8_t>(in(src), out(dst), config);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->message(), range_error("300", "0", "255"));
    EXPECT_EQ(dst, (std::vector<std::uint8_t>{1, 2, 0xA5, 0xA5, 0xA5}));

    const std::vector<f16> src16 = {f16{0x3C00}, f16{0x7E00}, f16{0x3C00}};
    std::vector<std::int64_t> dst16(3, -7);
    const CastConfig<f16, std::int64_t> config16{{}, kClamp, NE};
    const CastResult r16 = convert_slice_float_to_int<f16, std::int64_t>(in(src16), out(dst16), config16);
    ASSERT_TRUE(r16);
    EXPECT_EQ(r16->message(), non_finite("NaN"));
    EXPECT_EQ(dst16, (std::vector<std::int64_t>{1, -7, -7}));
}

TEST(FloatToInt, ConvertsTheShorterLength) {
    std::vector<float> src(10);
    for (int i = 0; i < 10; ++i) src[i] = static_cast<float>(i) + 0.25f;
    const CastConfig<float, std::int16_t> config{{}, kNone, TP};

    std::vector<std::int16_t> short_dst(4, -1);
    EXPECT_FALSE((convert_slice_float_to_int<float, std::int16_t>(in(src), out(short_dst), config)));
    EXPECT_EQ(short_dst, (std::vector<std::int16_t>{1, 2, 3, 4}));

    std::vector<std::int16_t> long_dst(10, -1);
    EXPECT_FALSE((convert_slice_float_to_int<float, std::int16_t>(
        SrcSlice<float>(src.data(), 4), out(long_dst), config)));
    EXPECT_EQ(long_dst, (std::vector<std::int16_t>{1, 2, 3, 4, -1, -1, -1, -1, -1, -1}));

    EXPECT_FALSE((convert_slice_float_to_int<float, std::int16_t>(
        SrcSlice<float>(src.data(), 0), out(long_dst), config)));
    EXPECT_FALSE((convert_slice_float_to_int<float, std::int16_t>(
        in(src), DstSlice<std::int16_t>(long_dst.data(), 0), config)));
    EXPECT_EQ(long_dst[0], 1);
}

TEST(FloatToInt, UnalignedSlices) {
    alignas(8) unsigned char in[1 + 3 * sizeof(double)];
    alignas(8) unsigned char out[1 + 3 * sizeof(std::int32_t)];
    const double values[3] = {-1.5, 7.5, 1e10};
    std::memcpy(in + 1, values, sizeof values);
    const CastConfig<double, std::int32_t> config{{}, kClamp, NE};
    EXPECT_FALSE((convert_slice_float_to_int<double, std::int32_t>(SrcSlice<double>(in + 1, 3),
                                                                  DstSlice<std::int32_t>(out + 1, 3), config)));
    std::int32_t got[3];
    std::memcpy(got, out + 1, sizeof got);
    EXPECT_EQ(got[0], -2);
    EXPECT_EQ(got[1], 8);
    EXPECT_EQ(got[2], 2147483647);
}

// ---- Differential check ------------------------------------------------------------------

// A key that the random samples never hold (a subnormal with an arbitrary payload).
template <class Src>
Src unmatched_key() {
    if constexpr (std::is_same_v<Src, double>) return std::bit_cast<double>(std::uint64_t{0x000123456789ABCDu});
    else if constexpr (std::is_same_v<Src, float>) return std::bit_cast<float>(std::uint32_t{0x00012345u});
    else return f16{0};
}

// Runs the whole sample through the slice conversion, restarting after each error, and
// compares every stored value and every error with the exact model.
template <class Src, class D>
void differential(const std::vector<Src>& sample, RoundingMode mode, OptionalOutOfRangeMode oor) {
    constexpr D kSentinel = static_cast<D>(0x5A);
    std::vector<D> dst(sample.size(), kSentinel);
    // A scalar map whose one key matches no sample value keeps the vectorised fast paths out,
    // so this checks the element loop (the kernels are checked against it elsewhere).
    const MapEntry<Src, D> unmatched[] = {{unmatched_key<Src>(), D{0}}};
    const CastConfig<Src, D> config{
        std::is_same_v<Src, f16> ? ScalarMap<Src, D>{} : ScalarMap<Src, D>(unmatched), oor, mode};
    std::size_t start = 0;
    std::size_t failures = 0;
    while (start < sample.size() && failures < 10) {
        const std::size_t n = sample.size() - start;
        const CastResult r = convert_slice_float_to_int<Src, D>(
            SrcSlice<Src>(sample.data() + start, n), DstSlice<D>(dst.data() + start, n), config);
        std::size_t end = sample.size();
        if (r) {
            // The first element the model refuses must be the one reported.
            end = start;
            while (end < sample.size() &&
                   !exact_model::model_float_to_int<Src, D>(sample[end], mode, oor).error)
                ++end;
            if (end == sample.size()) {
                ADD_FAILURE() << "unexpected error " << r->message();
                return;
            }
            const auto expected = *exact_model::model_float_to_int<Src, D>(sample[end], mode, oor).error;
            const bool same = r->kind == expected.kind &&
                              (r->value == expected.value || (r->value != r->value && expected.value != expected.value)) &&
                              std::bit_cast<std::uint64_t>(r->lo) == std::bit_cast<std::uint64_t>(expected.lo) &&
                              std::bit_cast<std::uint64_t>(r->hi) == std::bit_cast<std::uint64_t>(expected.hi);
            if (!same) {
                ++failures;
                ADD_FAILURE() << "source " << CastFloat<Src>::to_f64(sample[end]) << " mode "
                              << static_cast<int>(mode) << " oor " << static_cast<int>(oor.rule())
                              << ": got " << r->message() << ", expected " << expected.message();
            }
            if (dst[end] != kSentinel) {
                ++failures;
                ADD_FAILURE() << "failing element written at " << end;
            }
        }
        for (std::size_t i = start; i < end; ++i) {
            const auto model = exact_model::model_float_to_int<Src, D>(sample[i], mode, oor);
            if (model.error) {
                ++failures;
                ADD_FAILURE() << "missed error for " << CastFloat<Src>::to_f64(sample[i]) << " mode "
                              << static_cast<int>(mode) << " oor " << static_cast<int>(oor.rule()) << ": "
                              << model.error->message();
                break;
            }
            if (exact_model::pattern_of(dst[i]) != model.stored) {
                ++failures;
                ADD_FAILURE() << "source " << CastFloat<Src>::to_f64(sample[i]) << " mode "
                              << static_cast<int>(mode) << " oor " << static_cast<int>(oor.rule())
                              << ": got " << integer_text(dst[i]) << ", expected pattern "
                              << model.stored;
            }
        }
        start = end + 1;
    }
}

template <class Src, class... Ds>
void differential_all_targets(const std::vector<Src>& sample) {
    for (RoundingMode mode : kAllModes) {
        for (OptionalOutOfRangeMode oor : kAllRanges) {
            (differential<Src, Ds>(sample, mode, oor), ...);
        }
    }
}

template <class F>
std::vector<F> float_sample(std::size_t count, std::uint64_t rng_start) {
    using Bits = std::conditional_t<sizeof(F) == 8, std::uint64_t, std::uint32_t>;
    std::mt19937_64 rng(rng_start);
    std::vector<F> v;
    v.reserve(count + 4096);
    auto push = [&](F x) {
        v.push_back(x);
        v.push_back(-x);
    };
    // Boundaries: zeros, infinities, NaNs, extremes, the halves and the precision edges.
    const F boundaries[] = {F(0), F(0.5), F(1.5), F(2.5), std::numeric_limits<F>::infinity(),
                            std::numeric_limits<F>::quiet_NaN(), std::numeric_limits<F>::max(),
                            std::numeric_limits<F>::min(), std::numeric_limits<F>::denorm_min(),
                            std::nextafter(F(0.5), F(0)), std::nextafter(F(0.5), F(1)),
                            detail::kIntegralFrom<F>, detail::kIntegralFrom<F> + F(1),
                            detail::kIntegralFrom<F> * F(2) - F(1)};
    for (F b : boundaries) push(b);
    // Around every limit: 2^k and 2^k - 1 for the target widths, a few steps either side.
    for (int k : {7, 8, 15, 16, 31, 32, 63, 64}) {
        const F p = detail::pow2<F>(k);
        for (F base : {p, p - F(1)}) {
            F up = base, down = base;
            for (int i = 0; i < 4; ++i) {
                push(up);
                push(down);
                push(up + F(0.5));
                push(down - F(0.5));
                up = std::nextafter(up, std::numeric_limits<F>::infinity());
                down = std::nextafter(down, F(0));
            }
        }
    }
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> magnitude(0, 70);
    while (v.size() < count) {
        switch (kind(rng)) {
            case 0: v.push_back(std::bit_cast<F>(static_cast<Bits>(rng()))); break;
            case 1: {  // near an integer: k, k +- 1/2, k +- one step
                const F k = std::ldexp(F(static_cast<double>(rng() % 4096)), magnitude(rng) - 12);
                const F i = std::round(k);
                const int which = static_cast<int>(rng() % 5);
                F x = which == 0 ? i
                      : which == 1 ? i + F(0.5)
                      : which == 2 ? i - F(0.5)
                      : which == 3 ? std::nextafter(i + F(0.5), F(0))
                                   : std::nextafter(i, std::numeric_limits<F>::infinity());
                v.push_back((rng() & 1) ? -x : x);
                break;
            }
            case 2: {  // a few steps from a limit
                const int k = (std::array<int, 8>{7, 8, 15, 16, 31, 32, 63, 64})[rng() % 8];
                F x = detail::pow2<F>(k);
                const int steps = static_cast<int>(rng() % 64) - 32;
                for (int s = 0; s < (steps < 0 ? -steps : steps); ++s)
                    x = std::nextafter(x, steps < 0 ? F(0) : std::numeric_limits<F>::infinity());
                v.push_back((rng() & 1) ? -x : x);
                break;
            }
            default: {  // any magnitude up to 2^70
                const F x = std::ldexp(F(static_cast<double>(rng() >> 11) * 0x1p-53), magnitude(rng));
                v.push_back((rng() & 1) ? -x : x);
                break;
            }
        }
    }
    return v;
}

template <class Src>
void differential_family(const std::vector<Src>& sample) {
    differential_all_targets<Src, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                             std::uint32_t, std::int64_t, std::uint64_t>(sample);
}

TEST(FloatToIntDifferential, Float64Sample) { differential_family(float_sample<double>(100000, 0x5eed0001)); }

TEST(FloatToIntDifferential, Float32Sample) { differential_family(float_sample<float>(100000, 0x5eed0002)); }

TEST(FloatToIntDifferential, EveryFloat16Pattern) {
    std::vector<f16> all(65536);
    for (std::uint32_t b = 0; b < 65536; ++b) all[b] = f16{static_cast<std::uint16_t>(b)};
    differential_family(all);
}

}  // namespace
}  // namespace pelm_ossrel
