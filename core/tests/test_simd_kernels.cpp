// The fast-path bodies of every processor level, called directly, against the element loops of
// the floating-to-integer and floating-to-floating families: the stored values for every length
// from 0 to 40 under every rounding mode, the block rule that decides what a failing call has
// written and which error it reports, and the fixed cases of the fast paths. A level that this
// processor lacks is skipped.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "fast_paths.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "simd/bodies.hpp"
#include "support/levels.hpp"
#include "support/mode_lists.hpp"

namespace pelm_ossrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using testing_support::kRoundingModes;
using testing_support::rounding_name;

const OptionalOutOfRangeMode kNoRange{};
const OptionalOutOfRangeMode kClamp{OutOfRangeMode::Clamp};

// Destination elements beyond the converted ones, which must keep their contents.
constexpr std::size_t kGuard = 4;

using Rng = std::mt19937_64;

// ---- Levels ------------------------------------------------------------------------------

// A level's body over two slices (the first min of their sizes elements), as a conversion result.
template <class S, class D>
CastResult call(simd::Body body, SrcSlice<S> src, DstSlice<D> dst, RoundingMode mode, OptionalOutOfRangeMode range) {
    const std::size_t n = src.size() < dst.size() ? src.size() : dst.size();
    return to_cast_result(body(src.bytes(), dst.bytes(), n, simd::BodyModes{mode, range.rule()}));
}

// ---- Buffers and comparisons --------------------------------------------------------------

// Elements stored from an odd address, so that no kernel can rely on alignment.
template <class T>
class Misaligned {
public:
    explicit Misaligned(const std::vector<T>& values)
        : count_(values.size()), bytes_(1 + values.size() * sizeof(T)) {
        if (count_ != 0) std::memcpy(bytes_.data() + 1, values.data(), count_ * sizeof(T));
    }
    SrcSlice<T> src(std::size_t n) const { return SrcSlice<T>(bytes_.data() + 1, n); }
    DstSlice<T> dst(std::size_t n) { return DstSlice<T>(bytes_.data() + 1, n); }
    std::vector<T> values() const {
        std::vector<T> v(count_);
        if (count_ != 0) std::memcpy(v.data(), bytes_.data() + 1, count_ * sizeof(T));
        return v;
    }

private:
    std::size_t count_;
    std::vector<unsigned char> bytes_;
};

// Bit patterns, so that floating results compare exactly (NaN payloads, signed zeros).
template <class T>
std::vector<std::uint64_t> patterns(const std::vector<T>& v) {
    using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                                    std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint8_t>>;
    std::vector<std::uint64_t> p;
    for (const T& x : v) p.push_back(std::bit_cast<Bits>(x));
    return p;
}

void expect_same_error(const CastResult& actual, const CastResult& expected) {
    ASSERT_EQ(actual.has_value(), expected.has_value())
        << (actual ? actual->message() : expected->message());
    if (!expected) return;
    EXPECT_EQ(actual->kind, expected->kind);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(actual->value), std::bit_cast<std::uint64_t>(expected->value));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(actual->lo), std::bit_cast<std::uint64_t>(expected->lo));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(actual->hi), std::bit_cast<std::uint64_t>(expected->hi));
    EXPECT_EQ(actual->message(), expected->message());
}

// ---- The element loops --------------------------------------------------------------------

// A scalar-map entry whose key no test value equals: it keeps these calls on the element loop,
// whose stored values and errors are the reference, without changing any of them.
template <class S>
constexpr S kUnusedKey = S(-7777.0625);

template <class S, class D>
CastResult element_loop(const std::vector<S>& x, std::vector<D>& out, RoundingMode mode,
                        OptionalOutOfRangeMode range) {
    const MapEntry<S, D> entry{kUnusedKey<S>, D{}};
    const CastConfig<S, D> config{ScalarMap<S, D>(&entry, 1), range, mode};
    const SrcSlice<S> src(x.data(), x.size());
    const DstSlice<D> dst(out.data(), out.size());
    if constexpr (is_integer_element_v<D>) return convert_slice_float_to_int<S, D>(src, dst, config);
    else return convert_slice_float_to_float<S, D>(src, dst, config);
}

// ---- Test values --------------------------------------------------------------------------

template <class T>
T pick(Rng& rng, const std::vector<T>& pool) {
    return pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
}

template <class T>
T halfway(Rng& rng, long long lo, long long hi) {
    return static_cast<T>(static_cast<double>(std::uniform_int_distribution<long long>(lo, hi)(rng)) + 0.5);
}

template <class T>
T uniform(Rng& rng, double lo, double hi) {
    return static_cast<T>(std::uniform_real_distribution<double>(lo, hi)(rng));
}

template <class T>
T not_unused_key(T v) {
    return v == kUnusedKey<T> ? T(0) : v;
}

// NaNs of both signs, quiet and signalling, with assorted payloads.
template <class T>
T random_nan(Rng& rng) {
    if constexpr (sizeof(T) == 8) {
        const std::uint64_t payload = (rng() & 0x000FFFFFFFFFFFFFu) | 1u;
        return std::bit_cast<double>((rng() & 0x8000000000000000u) | 0x7FF0000000000000u | payload);
    } else {
        const std::uint32_t payload = (static_cast<std::uint32_t>(rng()) & 0x007FFFFFu) | 1u;
        return std::bit_cast<float>((static_cast<std::uint32_t>(rng()) & 0x80000000u) | 0x7F800000u |
                                    payload);
    }
}

// ---- The kernels, per conversion ----------------------------------------------------------
//
// Each describes one conversion: its kernel at each level (or none), the block size of that
// level (1 for the element-by-element kernels), the element loop it must match, values that
// convert without error in every mode, and values that make an element fail.

struct F32ToU8Clamp {
    using S = float;
    using D = std::uint8_t;
    static constexpr const char* kName = "f32_to_u8_clamp";
    static inline const OptionalOutOfRangeMode kRange = kClamp;
    static inline const std::vector<D> kSentinels = {0xEE, 0x11};

    static simd::Body at(Level level) { return simd::bodies_for(level).f32_to_u8_clamp; }
    static std::size_t block(Level level) { return level == Level::Avx2 ? 16 : level == Level::Avx ? 8 : 1; }

    static S draw(Rng& rng) {
        static const std::vector<S> special = {
            -0.0f, 0.0f, 0.5f, -0.5f, 0.4999999701976776f, 1.5f, 2.5f, -1.5f, 254.5f, 255.5f,
            255.49998f, 256.0f, -1.0f, kInfF, -kInfF, 3.4028234663852886e38f, -3.4028234663852886e38f,
            1e-45f, -1e-45f, 8388609.0f, 16777215.0f, 300.0f, -300.0f};
        switch (rng() % 4) {
            case 0: return pick(rng, special);
            case 1: return halfway<S>(rng, -3, 258);
            case 2: return uniform<S>(rng, -50.0, 300.0);
            default: return uniform<S>(rng, -1.5, 1.5);
        }
    }
    static S failing(Rng& rng) { return random_nan<S>(rng); }
    static CastError reported(S, const CastError& loop_error) { return loop_error; }
};

struct F64ToU8Clamp {
    using S = double;
    using D = std::uint8_t;
    static constexpr const char* kName = "f64_to_u8_clamp";
    static inline const OptionalOutOfRangeMode kRange = kClamp;
    static inline const std::vector<D> kSentinels = {0xEE, 0x11};

    static simd::Body at(Level level) { return simd::bodies_for(level).f64_to_u8_clamp; }
    static std::size_t block(Level level) { return level == Level::Avx2 ? 16 : level == Level::Avx ? 4 : 1; }

    static S draw(Rng& rng) {
        static const std::vector<S> special = {
            -0.0, 0.0, 0.5, -0.5, 0.49999999999999994, 1.5, 2.5, -1.5, 254.5, 255.5,
            255.49999999999997, 256.0, -1.0, kInf, -kInf, 1e300, -1e300, 5e-324, -5e-324,
            4503599627370497.0, 9007199254740991.0, 300.0, -300.0};
        switch (rng() % 4) {
            case 0: return pick(rng, special);
            case 1: return halfway<S>(rng, -3, 258);
            case 2: return not_unused_key(uniform<S>(rng, -50.0, 300.0));
            default: return uniform<S>(rng, -1.5, 1.5);
        }
    }
    static S failing(Rng& rng) { return random_nan<S>(rng); }
    static CastError reported(S, const CastError& loop_error) { return loop_error; }
};

struct F64ToI32Clamp {
    using S = double;
    using D = std::int32_t;
    static constexpr const char* kName = "f64_to_i32_clamp";
    static inline const OptionalOutOfRangeMode kRange = kClamp;
    static inline const std::vector<D> kSentinels = {0x5A5A5A5A, -0x3C3C3C3C};

    static simd::Body at(Level level) { return simd::bodies_for(level).f64_to_i32_clamp; }
    static std::size_t block(Level level) { return level == Level::Generic ? 1 : 4; }

    static S draw(Rng& rng) {
        static const std::vector<S> special = {
            -0.0, 0.0, 0.5, -0.5, 2.5, -2.5, 2147483647.0, -2147483648.0, 2147483647.5,
            2147483646.5, -2147483648.5, -2147483647.5, 2147483647.4, -2147483648.4, 2147483648.0,
            -2147483649.0, 1e300, -1e300, kInf, -kInf, 4503599627370497.0, 5e-324};
        switch (rng() % 4) {
            case 0: return pick(rng, special);
            case 1: return halfway<S>(rng, -20, 20);
            case 2: return not_unused_key(uniform<S>(rng, -3e9, 3e9));
            default: return uniform<S>(rng, -3.0, 3.0);
        }
    }
    static S failing(Rng& rng) { return random_nan<S>(rng); }
    static CastError reported(S, const CastError& loop_error) { return loop_error; }
};

struct F64ToI32Check {
    using S = double;
    using D = std::int32_t;
    static constexpr const char* kName = "f64_to_i32_check";
    static inline const OptionalOutOfRangeMode kRange = kNoRange;
    static inline const std::vector<D> kSentinels = {0x5A5A5A5A, -0x3C3C3C3C};

    static simd::Body at(Level level) { return simd::bodies_for(level).f64_to_i32_check; }
    static std::size_t block(Level) { return 4; }

    // Values that round into the int32 range in every mode.
    static S draw(Rng& rng) {
        static const std::vector<S> special = {
            -0.0, 0.0, 0.5, -0.5, 2.5, -2.5, 2147483647.0, -2147483648.0, 2147483646.5,
            -2147483647.5, 2147483646.9, -2147483647.9, 4503599627.5, 5e-324, -5e-324};
        switch (rng() % 4) {
            case 0: return pick(rng, special);
            case 1: return halfway<S>(rng, -20, 20);
            case 2: return not_unused_key(uniform<S>(rng, -2147483647.0, 2147483646.0));
            default: return uniform<S>(rng, -3.0, 3.0);
        }
    }
    // NaNs, and values out of range in every mode or only in some.
    static S failing(Rng& rng) {
        static const std::vector<S> outside = {3e9, -3e9, kInf, -kInf, 1e300, -1e300, 2147483648.0,
                                               -2147483649.0, 2147483647.5, -2147483648.5,
                                               2147483647.2, -2147483648.2};
        return rng() % 3 == 0 ? random_nan<S>(rng) : pick(rng, outside);
    }
    // The kernel reports an out-of-range element as it was before rounding.
    static CastError reported(S x, const CastError& loop_error) {
        if (loop_error.kind != CastError::Kind::OutOfRange) return loop_error;
        return CastError::out_of_range(x, loop_error.lo, loop_error.hi);
    }
};

// ---- The block rule -----------------------------------------------------------------------

// What a call must leave: elements [0, written) converted as the element loop converts them,
// every later element untouched, and `error`.
struct Outcome {
    std::size_t written;
    CastResult error;
};

// Whole blocks from index 0, then the tail one element at a time. Within a block a NaN is
// reported first, then the first element that fails in the element loop; a failing block is
// not written at all. A block size of 1 is the element-by-element rule.
template <class K>
Outcome block_outcome(const std::vector<typename K::S>& x, RoundingMode mode, std::size_t block) {
    using S = typename K::S;
    using D = typename K::D;
    const auto loop_error = [&](std::size_t j) {
        std::vector<D> one(1);
        return element_loop<S, D>({x[j]}, one, mode, K::kRange);
    };
    const std::size_t whole = x.size() - x.size() % block;
    for (std::size_t b = 0; b < whole; b += block) {
        for (std::size_t j = b; j < b + block; ++j) {
            if (x[j] != x[j]) return {b, CastError::non_finite(static_cast<double>(x[j]))};
        }
        for (std::size_t j = b; j < b + block; ++j) {
            if (CastResult e = loop_error(j)) return {b, K::reported(x[j], *e)};
        }
    }
    for (std::size_t j = whole; j < x.size(); ++j) {
        if (CastResult e = loop_error(j)) return {j, K::reported(x[j], *e)};
    }
    return {x.size(), std::nullopt};
}

// Runs the kernel of `level` on x with a destination of n = |x| elements (the source run
// `extra_src` elements longer, or the destination run `extra_dst` longer, where asked) and
// checks the error and the whole destination, guard elements included, once per sentinel.
template <class K>
void expect_block_rule(Level level, const std::vector<typename K::S>& x, RoundingMode mode,
                       std::size_t extra_src = 0, std::size_t extra_dst = 0) {
    using S = typename K::S;
    using D = typename K::D;
    const Outcome want = block_outcome<K>(x, mode, K::block(level));
    std::vector<D> converted(want.written);
    const std::vector<S> prefix(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(want.written));
    ASSERT_FALSE((element_loop<S, D>(prefix, converted, mode, K::kRange)));

    std::vector<S> source = x;
    for (std::size_t k = 0; k < extra_src; ++k) source.push_back(S(1));
    for (D sentinel : K::kSentinels) {
        std::vector<D> expected(x.size() + kGuard, sentinel);
        std::copy(converted.begin(), converted.end(), expected.begin());
        const Misaligned<S> in(source);
        Misaligned<D> out(std::vector<D>(x.size() + kGuard, sentinel));
        const CastResult got = call(K::at(level), in.src(source.size()), out.dst(x.size() + extra_dst), mode, K::kRange);
        SCOPED_TRACE(std::string(K::kName) + " at " + std::string(level_name(level)) + ", n = " +
                     std::to_string(x.size()) + ", mode " + rounding_name(mode));
        expect_same_error(got, want.error);
        EXPECT_EQ(patterns(out.values()), patterns(expected));
    }
}

class Kernels : public testing_support::LevelTest {};

template <class K>
void every_length_without_error(Level level, std::uint64_t rng_start) {
    if (K::at(level) == nullptr) return;
    Rng rng(rng_start);
    for (RoundingMode mode : kRoundingModes) {
        for (std::size_t n = 0; n <= 40; ++n) {
            for (int rep = 0; rep < 4; ++rep) {
                std::vector<typename K::S> x(n);
                for (auto& v : x) v = K::draw(rng);
                expect_block_rule<K>(level, x, mode);
                expect_block_rule<K>(level, x, mode, 3, 0);
                expect_block_rule<K>(level, x, mode, 0, 3);
            }
        }
    }
}

TEST_P(Kernels, StoreTheElementLoopValuesAtEveryLength) {
    every_length_without_error<F32ToU8Clamp>(GetParam(), 1);
    every_length_without_error<F64ToU8Clamp>(GetParam(), 2);
    every_length_without_error<F64ToI32Clamp>(GetParam(), 3);
    every_length_without_error<F64ToI32Check>(GetParam(), 4);
}

// One failing element at every position of every length.
template <class K>
void one_failure_everywhere(Level level, std::uint64_t rng_start) {
    if (K::at(level) == nullptr) return;
    Rng rng(rng_start);
    for (RoundingMode mode : kRoundingModes) {
        for (std::size_t n = 1; n <= 40; ++n) {
            for (std::size_t p = 0; p < n; ++p) {
                std::vector<typename K::S> x(n);
                for (auto& v : x) v = K::draw(rng);
                x[p] = K::failing(rng);
                expect_block_rule<K>(level, x, mode);
            }
        }
    }
}

TEST_P(Kernels, LeaveAFailingBlockUnwritten) {
    one_failure_everywhere<F32ToU8Clamp>(GetParam(), 11);
    one_failure_everywhere<F64ToU8Clamp>(GetParam(), 12);
    one_failure_everywhere<F64ToI32Clamp>(GetParam(), 13);
    one_failure_everywhere<F64ToI32Check>(GetParam(), 14);
}

// Several failing elements, so that blocks hold more than one (a NaN after an out-of-range
// element included).
template <class K>
void scattered_failures(Level level, std::uint64_t rng_start) {
    if (K::at(level) == nullptr) return;
    Rng rng(rng_start);
    for (RoundingMode mode : kRoundingModes) {
        for (std::size_t n = 0; n <= 40; ++n) {
            for (int rep = 0; rep < 6; ++rep) {
                std::vector<typename K::S> x(n);
                for (auto& v : x) v = rng() % 8 == 0 ? K::failing(rng) : K::draw(rng);
                expect_block_rule<K>(level, x, mode);
            }
        }
    }
}

TEST_P(Kernels, ReportTheFirstFailureOfTheFirstFailingBlock) {
    scattered_failures<F32ToU8Clamp>(GetParam(), 21);
    scattered_failures<F64ToU8Clamp>(GetParam(), 22);
    scattered_failures<F64ToI32Clamp>(GetParam(), 23);
    scattered_failures<F64ToI32Check>(GetParam(), 24);
}

// ---- Fixed cases ------------------------------------------------------------------------

TEST_P(Kernels, ClampToTheUint8Range) {
    const std::vector<double> x = {-1.5, 0.5, 254.5, 255.5, kInf, -kInf, -0.0};
    struct Case {
        RoundingMode mode;
        std::vector<std::uint8_t> want;
    };
    const Case cases[] = {
        {RoundingMode::NearestEven, {0, 0, 254, 255, 255, 0, 0}},
        {RoundingMode::TowardsPositive, {0, 1, 255, 255, 255, 0, 0}},
    };
    for (const Case& c : cases) {
        const Misaligned<double> in(x);
        Misaligned<std::uint8_t> out(std::vector<std::uint8_t>(x.size(), 0xEE));
        EXPECT_FALSE(call(F64ToU8Clamp::at(GetParam()), in.src(x.size()), out.dst(x.size()), c.mode, kClamp));
        EXPECT_EQ(out.values(), c.want) << rounding_name(c.mode);

        std::vector<float> xf(x.begin(), x.end());
        const Misaligned<float> inf(xf);
        Misaligned<std::uint8_t> outf(std::vector<std::uint8_t>(x.size(), 0xEE));
        EXPECT_FALSE(call(F32ToU8Clamp::at(GetParam()), inf.src(x.size()), outf.dst(x.size()), c.mode, kClamp));
        EXPECT_EQ(outf.values(), c.want) << rounding_name(c.mode);
    }
}

// Sources 1, 2, 3, ... with one NaN: the elements written are the first `written`.
TEST_P(Kernels, NaNAtIndex17) {
    struct Case {
        std::size_t n;
        std::size_t written_avx2, written_avx, written_generic;
    };
    // Of 40 elements, the block holding index 17 fails: 16..31 (avx2) or 16..19 (avx). Of 20,
    // elements 16 to 19 are the avx2 kernel's tail.
    const Case cases[] = {{40, 16, 16, 17}, {20, 17, 16, 17}};
    for (const Case& c : cases) {
        std::vector<double> x(c.n);
        for (std::size_t i = 0; i < c.n; ++i) x[i] = static_cast<double>(i + 1);
        x[17] = kNaN;
        const std::size_t written = GetParam() == Level::Avx2  ? c.written_avx2
                                    : GetParam() == Level::Avx ? c.written_avx
                                                               : c.written_generic;
        std::vector<std::uint8_t> want(c.n, 0xEE);
        for (std::size_t i = 0; i < written; ++i) want[i] = static_cast<std::uint8_t>(i + 1);

        const Misaligned<double> in(x);
        Misaligned<std::uint8_t> out(std::vector<std::uint8_t>(c.n, 0xEE));
        const CastResult error =
            call(F64ToU8Clamp::at(GetParam()), in.src(c.n), out.dst(c.n), RoundingMode::NearestEven, kClamp);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->message(), "Cannot cast NaN to integer type without scalar_map");
        EXPECT_EQ(out.values(), want) << "n = " << c.n;
    }
}

class CheckKernel : public Kernels {
protected:
    void SetUp() override {
        Kernels::SetUp();
        if (!IsSkipped() && F64ToI32Check::at(GetParam()) == nullptr)
            GTEST_SKIP() << "the " << level_name(GetParam()) << " level has no body for this conversion";
    }
};

TEST_P(CheckKernel, ReportsTheElementBeforeRounding) {
    constexpr std::int32_t S = 0x5A5A5A5A;
    struct Case {
        std::vector<double> x;
        std::string message;
        std::vector<std::int32_t> want;
    };
    const std::string outside_range =
        "Value 2147483647.5 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' or "
        "out_of_range='wrap' to handle this.";
    const std::string nan = "Cannot cast NaN to integer type without scalar_map";
    const Case cases[] = {
        // One block: element 0 is not written.
        {{1.0, 2147483647.5, 3.0, 4.0}, outside_range, {S, S, S, S}},
        // Three tail elements: element 0 is written.
        {{1.0, 2147483647.5, 3.0}, outside_range, {1, S, S}},
        // Within a block the NaN is reported before the element out of range.
        {{3e9, kNaN, 0.0, 0.0}, nan, {S, S, S, S}},
        {{5.0, 6.0, 7.0, 8.0, 3e9, kNaN, 0.0, 0.0}, nan, {5, 6, 7, 8, S, S, S, S}},
    };
    for (const Case& c : cases) {
        const Misaligned<double> in(c.x);
        Misaligned<std::int32_t> out(std::vector<std::int32_t>(c.x.size(), S));
        const CastResult error = call(F64ToI32Check::at(GetParam()), in.src(c.x.size()), out.dst(c.x.size()),
                                      RoundingMode::NearestEven, kNoRange);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->message(), c.message);
        EXPECT_EQ(out.values(), c.want);
    }
}

// ---- float64 -> float32 ------------------------------------------------------------------

simd::Body nearest_at(Level level) { return simd::bodies_for(level).f64_to_f32_nearest; }

// The nearest body checks for overflows unless the out-of-range mode is clamp.
CastResult call_nearest(Level level, SrcSlice<double> src, DstSlice<float> dst, bool check) {
    return call(nearest_at(level), src, dst, RoundingMode::NearestEven, check ? kNoRange : kClamp);
}

class NearestKernelTest : public Kernels {
protected:
    void SetUp() override {
        Kernels::SetUp();
        if (!IsSkipped() && nearest_at(GetParam()) == nullptr)
            GTEST_SKIP() << "the " << level_name(GetParam()) << " level has no body for this conversion";
    }
};

double draw_for_float(Rng& rng) {
    static const std::vector<double> special = {
        -0.0, 0.0, 1.0, 0.1, kInf, -kInf, 1e39, -1e39, 3.4028234663852886e38, -3.4028234663852886e38,
        3.4028235677973366e38, -3.4028235677973366e38, 3.4028235677973362e38, -3.4028235677973362e38,
        1.0000000596046448, 1.0000001788139343, 0x1p-150, -0x1p-150, 0x1p-149, 0x1.8p-149, 5e-324,
        1e300, -1e300, std::bit_cast<double>(std::uint64_t{0x7FF0000000000001}),
        std::bit_cast<double>(std::uint64_t{0xFFF8000000000000})};
    switch (rng() % 5) {
        case 0: return pick(rng, special);
        case 1: return not_unused_key(std::bit_cast<double>(rng()));  // any pattern, NaNs included
        case 2: return random_nan<double>(rng);
        case 3: return not_unused_key(uniform<double>(rng, -1e3, 1e3));
        default: return std::ldexp(uniform<double>(rng, -2.0, 2.0),
                                   std::uniform_int_distribution<int>(-160, 140)(rng));
    }
}

// The kernel writes the whole destination as the element loop does under clamp (which stores
// overflows as infinities); with the check it then reports the first overflow, as the element
// loop without an out-of-range mode does.
void expect_nearest(Level level, const std::vector<double>& x, bool check) {
    std::vector<float> want(x.size());
    ASSERT_FALSE((element_loop<double, float>(x, want, RoundingMode::NearestEven, kClamp)));
    std::vector<float> scratch(x.size());
    const CastResult want_error =
        check ? element_loop<double, float>(x, scratch, RoundingMode::NearestEven, kNoRange) : std::nullopt;
    const float sentinel = std::bit_cast<float>(std::uint32_t{0x7FA5A5A5});
    want.resize(x.size() + kGuard, sentinel);

    const Misaligned<double> in(x);
    Misaligned<float> out(std::vector<float>(x.size() + kGuard, sentinel));
    const CastResult got = call_nearest(level, in.src(x.size()), out.dst(x.size()), check);
    SCOPED_TRACE(std::string(level_name(level)) + ", n = " + std::to_string(x.size()) + (check ? ", check" : ""));
    expect_same_error(got, want_error);
    EXPECT_EQ(patterns(out.values()), patterns(want));
}

TEST_P(NearestKernelTest, StoresTheElementLoopValuesAtEveryLength) {
    Rng rng(31);
    for (std::size_t n = 0; n <= 40; ++n) {
        for (int rep = 0; rep < 24; ++rep) {
            std::vector<double> x(n);
            for (auto& v : x) v = draw_for_float(rng);
            expect_nearest(GetParam(), x, false);
            expect_nearest(GetParam(), x, true);
        }
    }
}

TEST_P(NearestKernelTest, ReportsTheFirstFiniteOverflowAfterWritingEverything) {
    Rng rng(32);
    for (std::size_t n = 1; n <= 40; ++n) {
        for (std::size_t p = 0; p < n; ++p) {
            std::vector<double> x(n);
            for (auto& v : x) v = uniform<double>(rng, -1e3, 1e3);
            x[p] = rng() % 2 ? 1e39 : -3.4028235677973366e38;
            if (p + 1 < n && rng() % 2) x[p + 1] = kInf;  // an infinite source never fails
            if (p > 0 && rng() % 2) x[p - 1] = -kInf;
            expect_nearest(GetParam(), x, true);
        }
    }
}

TEST_P(NearestKernelTest, FixedOverflow) {
    const std::vector<double> x = {1.0, 1e39, 2.0};
    for (bool check : {true, false}) {
        const Misaligned<double> in(x);
        Misaligned<float> out(std::vector<float>(3, 7.0f));
        const CastResult error = call_nearest(GetParam(), in.src(3), out.dst(3), check);
        if (check) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->message(),
                      "Value 1000000000000000000000000000000000000000 out of range "
                      "[-340282346638528860000000000000000000000, 340282346638528860000000000000000000000]. "
                      "Set out_of_range='clamp' or out_of_range='wrap' to handle this.");
        } else {
            EXPECT_FALSE(error);
        }
        EXPECT_EQ(patterns(out.values()), patterns(std::vector<float>{1.0f, kInfF, 2.0f}));
    }
}

PELM_OSSREL_FOR_EVERY_LEVEL(Kernels);
PELM_OSSREL_FOR_EVERY_LEVEL(CheckKernel);
PELM_OSSREL_FOR_EVERY_LEVEL(NearestKernelTest);

}  // namespace
}  // namespace pelm_ossrel
