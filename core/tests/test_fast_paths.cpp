// The fast-path selection: the three answers, the bodies of the active level (every level this
// processor has, through a cap), and the work the selection declines.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "element_types.hpp"
#include "fast_paths.hpp"
#include "support/levels.hpp"
#include "support/buffers.hpp"

namespace pelm_ossrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr float kInfF = std::numeric_limits<float>::infinity();

const std::string kNaNMessage = "Cannot cast NaN to integer type without scalar_map";
const std::string kFloatOverflowMessage =
    "Value 1000000000000000000000000000000000000000 out of range "
    "[-340282346638528860000000000000000000000, 340282346638528860000000000000000000000]. "
    "Set out_of_range='clamp' or out_of_range='wrap' to handle this.";

using testing_support::in;
using testing_support::out;

template <class T>
std::vector<std::uint32_t> float_patterns(const std::vector<T>& v) {
    std::vector<std::uint32_t> p;
    for (T x : v) p.push_back(std::bit_cast<std::uint32_t>(x));
    return p;
}

// ---- FastPathResult ---------------------------------------------------------------------

TEST(FastPathResult, ThreeAnswers) {
    const CastError error = CastError::out_of_range(3e9, -2147483648.0, 2147483647.0);
    struct Case {
        FastPathResult result;
        FastPathResult::Outcome outcome;
        bool decided;
        CastResult cast_result;
    };
    const Case cases[] = {
        {FastPathResult::handled(), FastPathResult::Outcome::Handled, true, std::nullopt},
        {FastPathResult::not_handled(), FastPathResult::Outcome::NotHandled, false, std::nullopt},
        {FastPathResult::failed(error), FastPathResult::Outcome::Failed, true, error},
        {FastPathResult::from_body(std::nullopt), FastPathResult::Outcome::Handled, true, std::nullopt},
        {FastPathResult::from_body(error), FastPathResult::Outcome::Failed, true, error},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result.outcome(), c.outcome);
        EXPECT_EQ(c.result.decided(), c.decided);
        ASSERT_EQ(c.result.result().has_value(), c.cast_result.has_value());
        if (c.cast_result) {
            EXPECT_EQ(c.result.result()->message(), c.cast_result->message());
        }
    }
}

// ---- Levels --------------------------------------------------------------------------------

using testing_support::LevelTest;

// Block sizes of a clamp kernel at the two vector levels (the portable kernel has none).
struct Blocks {
    std::size_t avx2, avx;
    std::size_t at(Level level) const {
        return level == Level::Avx2 ? avx2 : level == Level::Avx ? avx : 1;
    }
};

// Sources 1, 2, ... with a NaN at index 17: the elements written, which tell the levels apart,
// are those before the failing block, or all before index 17 when it lies in the tail.
template <class S, class D>
void expect_clamp_selection(FastPathResult (*try_fn)(SrcSlice<S>, DstSlice<D>, RoundingMode) noexcept,
                            Blocks blocks, Level level) {
    constexpr std::size_t kNaNIndex = 17;
    for (std::size_t n : {40u, 20u}) {
        const std::size_t block = blocks.at(level);
        const std::size_t written = kNaNIndex < n - n % block ? kNaNIndex - kNaNIndex % block : kNaNIndex;
        std::vector<S> x(n);
        for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<S>(i + 1);
        x[kNaNIndex] = static_cast<S>(kNaN);
        std::vector<D> want(n, D{99});
        for (std::size_t i = 0; i < written; ++i) want[i] = static_cast<D>(i + 1);

        std::vector<D> got(n, D{99});
        const FastPathResult result = try_fn(in(x), out(got), RoundingMode::NearestEven);
        ASSERT_EQ(result.outcome(), FastPathResult::Outcome::Failed);
        EXPECT_EQ(result.result()->message(), kNaNMessage);
        EXPECT_EQ(got, want) << "n = " << n;
    }
}

void expect_selection(Level level) {
    expect_clamp_selection(try_f32_to_u8_clamp, Blocks{16, 8}, level);
    expect_clamp_selection(try_f64_to_u8_clamp, Blocks{16, 4}, level);
    expect_clamp_selection(try_f64_to_i32_clamp, Blocks{4, 4}, level);

    // Without AVX the check and nearest paths decline and touch neither run.
    const std::vector<double> checked = {1.0, 2147483647.5, 3.0, 4.0};
    std::vector<std::int32_t> ints(4, -7);
    const FastPathResult check = try_f64_to_i32_check(in(checked), out(ints), RoundingMode::NearestEven);
    const std::vector<double> narrowed = {1.0, 1e39, 2.0};
    std::vector<float> floats(3, 7.0f);
    const FastPathResult nearest = try_f64_to_f32_nearest(in(narrowed), out(floats), true);
    if (level == Level::Generic) {
        EXPECT_EQ(check.outcome(), FastPathResult::Outcome::NotHandled);
        EXPECT_EQ(ints, std::vector<std::int32_t>(4, -7));
        EXPECT_EQ(nearest.outcome(), FastPathResult::Outcome::NotHandled);
        EXPECT_EQ(floats, std::vector<float>(3, 7.0f));
    } else {
        ASSERT_EQ(check.outcome(), FastPathResult::Outcome::Failed);
        EXPECT_EQ(check.result()->message(),
                  "Value 2147483647.5 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' "
                  "or out_of_range='wrap' to handle this.");
        EXPECT_EQ(ints, std::vector<std::int32_t>(4, -7));
        ASSERT_EQ(nearest.outcome(), FastPathResult::Outcome::Failed);
        EXPECT_EQ(nearest.result()->message(), kFloatOverflowMessage);
        EXPECT_EQ(float_patterns(floats), float_patterns(std::vector<float>{1.0f, kInfF, 2.0f}));
    }
}

class FastPathSelection : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(FastPathSelection);

TEST_P(FastPathSelection, RunsTheBodiesOfTheActiveLevel) { expect_selection(level()); }

// ---- What the selection declines ----------------------------------------------------------

TEST_P(FastPathSelection, DeclinesNearestAway) {
    const std::vector<double> x = {0.5, 1.5, kInf, 3e9};
    const std::vector<float> xf = {0.5f, 1.5f};
    std::vector<std::uint8_t> u8(4, 9);
    std::vector<std::int32_t> i32(4, 9);
    const auto declined = FastPathResult::Outcome::NotHandled;
    EXPECT_EQ(try_f32_to_u8_clamp(in(xf), out(u8), RoundingMode::NearestAway).outcome(), declined);
    EXPECT_EQ(try_f64_to_u8_clamp(in(x), out(u8), RoundingMode::NearestAway).outcome(), declined);
    EXPECT_EQ(try_f64_to_i32_clamp(in(x), out(i32), RoundingMode::NearestAway).outcome(), declined);
    EXPECT_EQ(try_f64_to_i32_check(in(x), out(i32), RoundingMode::NearestAway).outcome(), declined);
    EXPECT_EQ(u8, std::vector<std::uint8_t>(4, 9));
    EXPECT_EQ(i32, std::vector<std::int32_t>(4, 9));
}

TEST_P(FastPathSelection, HandlesEmptyRuns) {
    const std::vector<double> x;
    std::vector<float> y;
    EXPECT_EQ(try_f64_to_f32_nearest(in(x), out(y), true).outcome(),
              level() == Level::Generic ? FastPathResult::Outcome::NotHandled
                                               : FastPathResult::Outcome::Handled);
    std::vector<std::uint8_t> u8;
    EXPECT_EQ(try_f64_to_u8_clamp(in(x), out(u8), RoundingMode::TowardsZero).outcome(),
              FastPathResult::Outcome::Handled);
}


// ---- Where the conversions offer their work ------------------------------------------------

const OptionalOutOfRangeMode kAbsent{};
const OptionalOutOfRangeMode kClamp{OutOfRangeMode::Clamp};
const OptionalOutOfRangeMode kWrap{OutOfRangeMode::Wrap};
constexpr RoundingMode NE = RoundingMode::NearestEven;
constexpr RoundingMode TZ = RoundingMode::TowardsZero;
constexpr RoundingMode TN = RoundingMode::TowardsNegative;
constexpr RoundingMode NA = RoundingMode::NearestAway;

// The offer's answer for the pair (S, D) on x, with an empty scalar map or one of one entry.
template <class S, class D>
FastPathResult::Outcome offer(const std::vector<S>& x, OptionalOutOfRangeMode range, RoundingMode mode,
                              bool with_map = false) {
    std::vector<D> y(x.size());
    const MapEntry<S, D> entry{S{}, D{}};
    const CastConfig<S, D> config{with_map ? ScalarMap<S, D>(&entry, 1) : ScalarMap<S, D>(), range, mode};
    if constexpr (is_integer_element_v<D>) return offer_float_to_int_fast_path(in(x), out(y), config).outcome();
    else return offer_float_to_float_fast_path(in(x), out(y), config).outcome();
}

void expect_offers(bool vector_level) {
    using O = FastPathResult::Outcome;
    const std::vector<double> x = {1.5, -2.5, 300.0};
    const std::vector<float> xf = {1.5f, -2.5f, 300.0f};
    const std::vector<f16> xh = {f16{0x3E00}, f16{0xC100}};  // 1.5, -2.5
    const std::vector<double> overflow = {1.0, 1e39, 2.0};
    // With AVX, or without it (then only the portable clamp kernels exist).
    const O avx_handled = vector_level ? O::Handled : O::NotHandled;
    const O avx_failed = vector_level ? O::Failed : O::NotHandled;
    struct Case {
        const char* what;
        std::function<O()> run;
        O want;
    };
    const Case cases[] = {
        {"f64->u8 clamp", [&] { return offer<double, std::uint8_t>(x, kClamp, NE); }, O::Handled},
        {"f64->u8 clamp towards negative", [&] { return offer<double, std::uint8_t>(x, kClamp, TN); }, O::Handled},
        {"f64->u8 clamp nearest-away", [&] { return offer<double, std::uint8_t>(x, kClamp, NA); }, O::NotHandled},
        {"f64->u8 clamp with a map", [&] { return offer<double, std::uint8_t>(x, kClamp, NE, true); }, O::NotHandled},
        {"f64->u8 wrap", [&] { return offer<double, std::uint8_t>(x, kWrap, NE); }, O::NotHandled},
        {"f64->u8 no mode", [&] { return offer<double, std::uint8_t>(x, kAbsent, NE); }, O::NotHandled},
        {"f32->u8 clamp", [&] { return offer<float, std::uint8_t>(xf, kClamp, TZ); }, O::Handled},
        {"f32->u8 clamp with a map", [&] { return offer<float, std::uint8_t>(xf, kClamp, TZ, true); }, O::NotHandled},
        {"f32->u8 no mode", [&] { return offer<float, std::uint8_t>(xf, kAbsent, TZ); }, O::NotHandled},
        {"f64->i32 clamp", [&] { return offer<double, std::int32_t>(x, kClamp, NE); }, O::Handled},
        {"f64->i32 no mode", [&] { return offer<double, std::int32_t>(x, kAbsent, TN); }, avx_handled},
        {"f64->i32 no mode nearest-away", [&] { return offer<double, std::int32_t>(x, kAbsent, NA); }, O::NotHandled},
        {"f64->i32 no mode with a map", [&] { return offer<double, std::int32_t>(x, kAbsent, NE, true); }, O::NotHandled},
        {"f64->i32 wrap", [&] { return offer<double, std::int32_t>(x, kWrap, NE); }, O::NotHandled},
        {"f64->i8 clamp", [&] { return offer<double, std::int8_t>(x, kClamp, NE); }, O::NotHandled},
        {"f64->u16 clamp", [&] { return offer<double, std::uint16_t>(x, kClamp, NE); }, O::NotHandled},
        {"f32->i32 clamp", [&] { return offer<float, std::int32_t>(xf, kClamp, NE); }, O::NotHandled},
        {"f16->u8 clamp", [&] { return offer<f16, std::uint8_t>(xh, kClamp, NE); }, O::NotHandled},
        {"f64->f32 no mode", [&] { return offer<double, float>(overflow, kAbsent, NE); }, avx_failed},
        {"f64->f32 wrap", [&] { return offer<double, float>(overflow, kWrap, NE); }, avx_failed},
        {"f64->f32 clamp", [&] { return offer<double, float>(overflow, kClamp, NE); }, avx_handled},
        {"f64->f32 towards zero", [&] { return offer<double, float>(overflow, kAbsent, TZ); }, O::NotHandled},
        {"f64->f32 nearest-away", [&] { return offer<double, float>(overflow, kClamp, NA); }, O::NotHandled},
        {"f64->f32 with a map", [&] { return offer<double, float>(overflow, kClamp, NE, true); }, O::NotHandled},
        {"f64->f16", [&] { return offer<double, f16>(x, kClamp, NE); }, O::NotHandled},
        {"f32->f16", [&] { return offer<float, f16>(xf, kClamp, NE); }, O::NotHandled},
        {"f32->f64", [&] { return offer<float, double>(xf, kClamp, NE); }, O::NotHandled},
    };
    for (const Case& c : cases) EXPECT_EQ(c.run(), c.want) << c.what;
}

class FastPathOffers : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(FastPathOffers);

TEST_P(FastPathOffers, MadeOnlyUnderTheirConditions) { expect_offers(level() != Level::Generic); }

// The offered work is the whole call: the values stored, and the overflow check requested
// unless the mode is clamp.
TEST_P(FastPathOffers, PassTheWholeCall) {
    if (level() == Level::Generic) GTEST_SKIP() << "the generic level has no body for float64 -> float32";
    const std::vector<double> x = {1.0, 1e39, 2.0};
    for (OptionalOutOfRangeMode range : {kAbsent, kWrap, kClamp}) {
        std::vector<float> y(3, 7.0f);
        const CastConfig<double, float> config{{}, range, NE};
        const FastPathResult r = offer_float_to_float_fast_path(in(x), out(y), config);
        if (range.is(OutOfRangeMode::Clamp)) {
            EXPECT_EQ(r.outcome(), FastPathResult::Outcome::Handled);
        } else {
            ASSERT_EQ(r.outcome(), FastPathResult::Outcome::Failed);
            EXPECT_EQ(r.result()->message(), kFloatOverflowMessage);
        }
        EXPECT_EQ(float_patterns(y), float_patterns(std::vector<float>{1.0f, kInfF, 2.0f}));
    }
    const std::vector<double> z = {-0.5, 0.5, 1.5, 255.5, -1e300, 1e300};
    std::vector<std::uint8_t> u8(z.size());
    const CastConfig<double, std::uint8_t> config{{}, kClamp, RoundingMode::TowardsPositive};
    EXPECT_EQ(offer_float_to_int_fast_path(in(z), out(u8), config).outcome(), FastPathResult::Outcome::Handled);
    EXPECT_EQ(u8, (std::vector<std::uint8_t>{0, 1, 2, 255, 0, 255}));
}

}  // namespace
}  // namespace pelm_ossrel
