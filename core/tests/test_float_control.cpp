// Results do not follow the calling thread's floating-point control: every public conversion,
// at every level this processor has, with and without a scalar map, stores the same bytes and
// reports the same error (and message) under each control a caller may set as under the
// default, and leaves the caller's MXCSR exactly as it found it. The inputs are those where a
// changed control would change the result or trap: halfway and near-halfway integers into
// float32 and float16, subnormals of every float type in both directions, the nearest-away sums,
// values that overflow, NaNs (signalling ones too), and errors whose values are rounded to
// binary64 and rendered.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "default_float_control.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "fast_paths.hpp"
#include "render_number.hpp"
#include "support/buffers.hpp"
#include "support/float_control.hpp"
#include "support/levels.hpp"

namespace pelm_ossrel {
namespace {

using testing_support::from_double;
using testing_support::in;
using testing_support::kCallerControls;
using testing_support::out;
using testing_support::same_result;
using testing_support::sentinel;
using testing_support::with_mxcsr;

using R = RoundingMode;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr OptionalOutOfRangeMode kNoMode{};
constexpr OptionalOutOfRangeMode kClamp{OutOfRangeMode::Clamp};
constexpr OptionalOutOfRangeMode kWrap{OutOfRangeMode::Wrap};

// What one call did, and MXCSR as the call left it.
struct Outcome {
    std::vector<unsigned char> bytes;
    CastResult result;
    std::string message;
    std::uint32_t mxcsr_after = 0;
};

// One conversion, run under a given MXCSR, with or without a scalar map.
struct Call {
    std::string name;
    std::function<Outcome(std::uint32_t mxcsr, bool with_map)> run;
};

// More than two blocks of every body and a tail: the values repeated, then `last` (an element
// that fails, so that it ends the run).
constexpr std::size_t kTiled = 2 * 64 + 5;

template <class T>
std::vector<T> tiled(const std::vector<T>& values, const std::vector<T>& last) {
    std::vector<T> v;
    for (std::size_t i = 0; i < kTiled; ++i) v.push_back(values[i % values.size()]);
    v.insert(v.end(), last.begin(), last.end());
    return v;
}

template <class T>
std::vector<unsigned char> bytes_of(const std::vector<T>& v) {
    const auto* p = reinterpret_cast<const unsigned char*>(v.data());
    return std::vector<unsigned char>(p, p + v.size() * sizeof(T));
}

// The call of (S, D)'s public conversion. With a map its key (3) is among the values and takes the
// target 5; a direct pair is converted by the core only with a map, so it always has one.
template <class S, class D>
Call call(std::string name, std::vector<S> values, R rounding, OptionalOutOfRangeMode oor, std::vector<S> last = {}) {
    return {name, [=](std::uint32_t mxcsr, bool with_map) {
                std::vector<S> with_key = values;
                const bool mapped = with_map || is_direct_pair_v<S, D>;
                if (mapped) with_key.push_back(from_double<S>(3.0));
                const std::vector<S> src = tiled(with_key, last);
                const std::vector<MapEntry<S, D>> entries{{from_double<S>(3.0), from_double<D>(5.0)}};
                const ScalarMap<S, D> map = mapped ? ScalarMap<S, D>(entries) : ScalarMap<S, D>();
                std::vector<D> dst = sentinel<D>(src.size());
                Outcome o;
                o.mxcsr_after = with_mxcsr(mxcsr, [&] {
                    o.result = testing_support::public_conversion<S, D>(rounding, oor, map, in(src), out(dst));
                    if (o.result) o.message = o.result->message();
                });
                o.bytes = bytes_of(dst);
                return o;
            }};
}

// A fast path called by itself (it never takes a map).
template <class S, class D, class Path>
Call fast_path_call(std::string name, std::vector<S> values, std::vector<S> last, const Path& path) {
    return {name, [=](std::uint32_t mxcsr, bool) {
                const std::vector<S> src = tiled(values, last);
                std::vector<D> dst = sentinel<D>(src.size());
                Outcome o;
                o.mxcsr_after = with_mxcsr(mxcsr, [&] {
                    const FastPathResult fast = path(in(src), out(dst));
                    o.result = fast.result();
                    if (o.result) o.message = o.result->message();
                });
                o.bytes = bytes_of(dst);
                return o;
            }};
}

f16 h(std::uint16_t bits) { return f16::from_bits(bits); }
float f32(std::uint32_t bits) { return std::bit_cast<float>(bits); }
double f64(std::uint64_t bits) { return std::bit_cast<double>(bits); }

const std::vector<Call>& calls() {
    constexpr std::int64_t k53 = std::int64_t{1} << 53;
    const double snan = f64(0x7FF0000000000001u);
    static const std::vector<Call> all = {
        // Integers halfway or nearly halfway between two floats.
        call<std::uint32_t, float>("uint32 -> float32", {2147483649u, 2147483776u, 16777217u, 16777219u, 4294967295u},
                                   R::NearestEven, kNoMode),
        call<std::uint32_t, float>("uint32 -> float32 towards-zero", {2147483649u, 16777217u, 4294967295u},
                                   R::TowardsZero, kNoMode),
        call<std::int32_t, f16>("int32 -> float16", {2049, 2051, 65519, 65520, -2049, 4097}, R::NearestEven, kNoMode),
        call<std::int32_t, f16>("int32 -> float16 towards-positive", {2049, -2049, 65519, 65505}, R::TowardsPositive,
                                kNoMode),
        call<std::int64_t, float>("int64 -> float32", {k53 + 1, -(k53 + 3), (std::int64_t{1} << 62) + (std::int64_t{1} << 38) + 1},
                                  R::NearestEven, kNoMode),
        call<std::uint64_t, float>("uint64 -> float32 towards-positive",
                                   {std::uint64_t(k53) + 1, 9178544827531263u, ~std::uint64_t{0}}, R::TowardsPositive,
                                   kNoMode),
        call<std::int64_t, f16>("int64 -> float16", {65520, 2049, -65519}, R::NearestEven, kNoMode),
        // Floats rounded to integers: ties, the nearest-away sums, subnormals under directed modes.
        call<double, std::int64_t>("float64 -> int64", {2.5, -2.5, 0.1, 0.5, 1.5, 4503599627370497.0}, R::NearestEven,
                                   kNoMode),
        call<double, std::int64_t>("float64 -> int64 nearest-away", {0.49999999999999994, 2.5, -1.5, 4503599627370497.0},
                                   R::NearestAway, kNoMode),
        call<double, std::int64_t>("float64 -> int64 towards-positive", {5e-324, -5e-324, 0.1}, R::TowardsPositive,
                                   kNoMode),
        call<double, std::int64_t>("float64 -> int64 towards-negative", {5e-324, -5e-324, -0.1}, R::TowardsNegative,
                                   kWrap),
        call<double, std::int32_t>("float64 -> int32, no mode", {2.5, -2.5, 0.1, 1.5}, R::NearestEven, kNoMode, {3e9}),
        call<double, std::int32_t>("float64 -> int32, NaN", {2.5, 0.1}, R::NearestEven, kNoMode, {snan}),
        call<double, std::int32_t>("float64 -> int32 clamp", {2.5, 3e9, -1.0, 5e-324, -3e9}, R::TowardsPositive, kClamp,
                                   {kNaN}),
        call<double, std::uint8_t>("float64 -> uint8 clamp", {5e-324, 0.5, 254.5, 300.0, -1.0}, R::TowardsPositive,
                                   kClamp),
        call<double, std::uint8_t>("float64 -> uint8 clamp nearest", {2.5, 254.5, 0.5, 1e300}, R::NearestEven, kClamp),
        call<float, std::uint8_t>("float32 -> uint8 clamp", {f32(1), 0.5f, 2.5f}, R::TowardsPositive, kClamp),
        call<float, std::int16_t>("float32 -> int16", {f32(1), f32(0x80000001u), 2.5f}, R::TowardsPositive, kNoMode,
                                  {40000.5f}),
        call<float, std::int64_t>("float32 -> int64 nearest-away", {0.49999997f, 8388609.0f, -2.5f}, R::NearestAway,
                                  kNoMode),
        call<f16, std::int8_t>("float16 -> int8", {h(0x0001), h(0x8001), h(0x4100)}, R::TowardsPositive, kNoMode),
        call<f16, std::uint16_t>("float16 -> uint16", {h(0x7C00), h(0x3C00)}, R::NearestEven, kNoMode, {h(0x7E00)}),
        // Narrowing floats: subnormal results and sources, overflow, NaN payloads.
        call<double, float>("float64 -> float32", {1e-310, 0.1, 1.401298464324817e-45, 3.4e38}, R::NearestEven, kNoMode,
                            {1e39}),
        call<double, float>("float64 -> float32 clamp", {1e300, 0.1, 1e-310, snan}, R::NearestEven, kClamp),
        call<double, float>("float64 -> float32 towards-positive", {1e-310, -1e-310, 0.1, 3.4028235677973366e38},
                            R::TowardsPositive, kClamp),
        call<double, float>("float64 -> float32 towards-zero", {1e300, -1e-310, 0.1}, R::TowardsZero, kNoMode, {snan}),
        call<double, f16>("float64 -> float16", {13.363281522755335, 6e-8, 5.960464477539063e-08, 1e-310, 65504.0},
                          R::NearestEven, kNoMode, {65519.998046875}),
        call<double, f16>("float64 -> float16 towards-negative", {6e-8, -6e-8, 1e-310, 1e-5}, R::TowardsNegative,
                          kNoMode),
        call<float, f16>("float32 -> float16", {f32(0x00000010u), 1e-40f, 2049.0f, f32(0x7F800001u)}, R::NearestEven,
                         kNoMode),
        call<float, f16>("float32 -> float16 towards-positive", {1e-40f, f32(1), 65504.0f}, R::TowardsPositive, kClamp),
        // Widening floats: subnormal and signalling sources.
        call<f16, float>("float16 -> float32", {h(0x0001), h(0x8001), h(0x7C01), h(0x03FF)}, R::NearestEven, kNoMode),
        call<f16, double>("float16 -> float64", {h(0x0001), h(0x83FF), h(0xFC01)}, R::NearestEven, kNoMode),
        call<f16, f16>("float16 -> float16", {h(0x0001), h(0x7C01), h(0x8000)}, R::NearestEven, kNoMode),
        // Direct pairs (with their map): subnormal floats and integers that float64 rounds.
        call<float, double>("float32 -> float64", {f32(1), f32(0x80000010u), f32(0x7F800001u)}, R::NearestEven, kNoMode),
        call<std::int64_t, double>("int64 -> float64", {k53 + 1, std::numeric_limits<std::int64_t>::max(), -(k53 + 3)},
                                   R::NearestEven, kNoMode),
        call<std::uint64_t, double>("uint64 -> float64", {~std::uint64_t{0}, std::uint64_t(k53) + 1}, R::NearestEven,
                                    kNoMode),
        // Integer errors whose values are rounded to binary64 for the message.
        call<std::int64_t, std::int8_t>("int64 -> int8", {1, -1}, R::NearestEven, kNoMode,
                                        {std::numeric_limits<std::int64_t>::max()}),
        call<std::uint64_t, std::int64_t>("uint64 -> int64", {1, 2}, R::NearestEven, kNoMode, {~std::uint64_t{0} - 1}),
        call<std::int64_t, std::uint32_t>("int64 -> uint32", {1, 2}, R::NearestEven, kNoMode,
                                          {std::numeric_limits<std::int64_t>::min() + 1}),
        // The fast paths called by themselves.
        fast_path_call<double, float>("try_f64_to_f32_nearest", {1e-310, 0.1, 1.401298464324817e-45}, {1e39},
                                      [](SrcSlice<double> s, DstSlice<float> d) { return try_f64_to_f32_nearest(s, d, true); }),
        fast_path_call<double, std::int32_t>("try_f64_to_i32_check", {2.5, -2.5, 0.1}, {3e9},
                                             [](SrcSlice<double> s, DstSlice<std::int32_t> d) {
                                                 return try_f64_to_i32_check(s, d, R::NearestEven);
                                             }),
        fast_path_call<double, std::uint8_t>("try_f64_to_u8_clamp", {5e-324, 254.5, 300.0}, {snan},
                                             [](SrcSlice<double> s, DstSlice<std::uint8_t> d) {
                                                 return try_f64_to_u8_clamp(s, d, R::TowardsPositive);
                                             }),
    };
    return all;
}

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

class FloatControl : public testing_support::LevelTest {};

TEST_P(FloatControl, ResultsAndTheCallersControlAreThoseOfTheDefault) {
    for (const Call& c : calls()) {
        for (bool with_map : {false, true}) {
            const Outcome expected = c.run(kDefaultMxcsr, with_map);
            ASSERT_EQ(expected.mxcsr_after, kDefaultMxcsr) << c.name;
            for (const testing_support::FloatControl& control : kCallerControls) {
                for (std::uint32_t flags : {0u, 0x3Fu}) {
                    const std::uint32_t mxcsr = control.mxcsr | flags;
                    const Outcome got = c.run(mxcsr, with_map);
                    const std::string where = c.name + (with_map ? ", with a map" : "") + ", under " + control.name +
                                              (flags != 0 ? " with every flag raised" : "");
                    EXPECT_EQ(got.bytes, expected.bytes) << where;
                    EXPECT_TRUE(same_result(got.result, expected.result)) << where;
                    EXPECT_EQ(got.message, expected.message) << where;
                    EXPECT_EQ(hex(got.mxcsr_after), hex(mxcsr)) << where;
                }
            }
        }
    }
}

PELM_OSSREL_FOR_EVERY_LEVEL(FloatControl);

// Numbers in error texts, rendered under each control: the digits of the default's, and no trap
// on a signalling NaN.
TEST(FloatControlRendering, NumbersAreRenderedAsUnderTheDefault) {
    const double values[] = {9223372036854775807.0, 0.1, 5e-324, 1e39, 65519.998046875, -0.0, f64(0x7FF0000000000001u)};
    for (double v : values) {
        const std::string expected = render_number(v);
        for (const testing_support::FloatControl& control : kCallerControls) {
            std::string got;
            const std::uint32_t after = with_mxcsr(control.mxcsr, [&] { got = render_number(v); });
            EXPECT_EQ(got, expected) << control.name;
            EXPECT_EQ(hex(after), hex(control.mxcsr)) << control.name;
        }
    }
}

}  // namespace
}  // namespace pelm_ossrel
