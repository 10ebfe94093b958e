// Integer-to-integer slice conversion over its 38 pairs: bounds shown in errors, clamp, wrap,
// the stop at the first failure, scalar maps, lengths and unaligned runs.
//
// Expected values come from 128-bit arithmetic on the mathematical values, independently of
// the conversion's own casts. Each pair is instantiated once, as a conversion on 128-bit
// values; the checks themselves run on those values for every pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "cast_error.hpp"
#include "config.hpp"
#include "element_types.hpp"
#include "int_to_int.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "slice.hpp"

namespace pelm_ossrel {
namespace {

__extension__ typedef __int128 i128;

constexpr i128 kTwo53 = i128{1} << 53;
constexpr i128 kTwo63 = i128{1} << 63;
constexpr i128 kTwo64 = i128{1} << 64;

std::string dec(i128 v) {
    if (v == 0) return "0";
    const bool negative = v < 0;
    std::string s;
    while (v != 0) {
        const int digit = static_cast<int>(v % 10);
        s.push_back(static_cast<char>('0' + (digit < 0 ? -digit : digit)));
        v /= 10;
    }
    if (negative) s.push_back('-');
    std::reverse(s.begin(), s.end());
    return s;
}

// The text an error shows for an integer value: exact up to 2^53 in magnitude; beyond, the
// values the tests use lie next to 2^53, 2^63 or 2^64 and show the binary64 they round to.
std::string shown(i128 v) {
    const i128 a = v < 0 ? -v : v;
    const std::string sign = v < 0 ? "-" : "";
    if (a <= kTwo53) return dec(v);
    if (a == kTwo53 + 1) return sign + "9007199254740992";  // a tie, to even
    if (a > kTwo63 - 512 && a < kTwo63 + 1024) return sign + "9223372036854776000";
    if (a > kTwo64 - 1024 && a < kTwo64) return sign + "18446744073709552000";
    ADD_FAILURE() << "no shown text for " << dec(v);
    return "?";
}

std::string out_of_range_text(std::string_view value, std::string_view lo, std::string_view hi) {
    std::string s = "Value ";
    s.append(value).append(" out of range [").append(lo).append(", ").append(hi);
    s.append("]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.");
    return s;
}

// ---------------------------------------------------------------------------------------
// An integer element type as plain values.

struct IntType {
    std::string_view name;
    i128 min;
    i128 max;
    int bits;
    bool is_signed;

    bool holds(i128 v) const { return v >= min && v <= max; }
    i128 clamp(i128 v) const { return v < min ? min : v > max ? max : v; }
    // The value of this type congruent to v modulo 2^bits.
    i128 wrap(i128 v) const {
        const i128 modulus = i128{1} << bits;
        i128 r = v % modulus;
        if (r < 0) r += modulus;
        return is_signed && r > max ? r - modulus : r;
    }
};

template <class T>
IntType int_type() {
    return {element_name<T>(), std::numeric_limits<T>::min(), std::numeric_limits<T>::max(),
            static_cast<int>(8 * sizeof(T)), std::is_signed_v<T>};
}

// ---------------------------------------------------------------------------------------
// Unaligned runs with guard bytes on both sides, pre-filled with a sentinel byte. Every
// conversion runs twice, over two different sentinels: an element that shows the sentinel
// both times was not written (a written value is the same in both runs).

constexpr unsigned char kSentinels[2] = {0xA5, 0x5A};
constexpr std::size_t kGuard = 16;
constexpr i128 kUntouched = i128{1} << 100;  // an element that kept the sentinel

template <class T>
class Run {
public:
    Run(std::size_t n, std::size_t offset, unsigned char sentinel)
        : n_(n), offset_(offset), sentinel_(sentinel),
          bytes_(kGuard + offset + n * sizeof(T) + kGuard, sentinel) {}

    std::size_t size() const { return n_; }
    unsigned char* data() { return bytes_.data() + kGuard + offset_; }
    const unsigned char* data() const { return bytes_.data() + kGuard + offset_; }

    void put(std::size_t i, i128 v) {
        EXPECT_TRUE(int_type<T>().holds(v)) << dec(v) << " is not a " << element_name<T>();
        const T t = static_cast<T>(v);
        std::memcpy(data() + i * sizeof(T), &t, sizeof(T));
    }
    i128 get(std::size_t i) const {
        T t;
        std::memcpy(&t, data() + i * sizeof(T), sizeof(T));
        return t;
    }
    bool shows_sentinel(std::size_t i) const {
        return is_sentinel(data() + i * sizeof(T), data() + (i + 1) * sizeof(T));
    }
    bool guards_intact() const {
        return is_sentinel(bytes_.data(), data()) &&
               is_sentinel(data() + n_ * sizeof(T), bytes_.data() + bytes_.size());
    }

private:
    bool is_sentinel(const unsigned char* first, const unsigned char* last) const {
        return std::all_of(first, last, [this](unsigned char b) { return b == sentinel_; });
    }

    std::size_t n_;
    std::size_t offset_;
    unsigned char sentinel_;
    std::vector<unsigned char> bytes_;
};

const OptionalOutOfRangeMode kAbsent;
const OptionalOutOfRangeMode kClamp = OutOfRangeMode::Clamp;
const OptionalOutOfRangeMode kWrap = OutOfRangeMode::Wrap;

struct Conversion {
    std::vector<i128> src;
    OptionalOutOfRangeMode mode;
    std::vector<std::pair<i128, i128>> map = {};
    std::size_t dst_len = SIZE_MAX;  // the source's length unless given
    std::size_t src_offset = 1;
    std::size_t dst_offset = 3;
};

struct Outcome {
    std::vector<i128> dst;  // kUntouched where the sentinel survived
    std::string message;    // empty on success
    bool guards_intact = false;
};

template <class S, class D>
Outcome run_pair(const Conversion& c) {
    std::vector<MapEntry<S, D>> map;
    for (const auto& [s, d] : c.map) {
        EXPECT_TRUE(int_type<S>().holds(s) && int_type<D>().holds(d));
        map.push_back({static_cast<S>(s), static_cast<D>(d)});
    }
    const IntToIntConfig<S, D> config{ScalarMap<S, D>(map), c.mode};
    const std::size_t dst_len = c.dst_len == SIZE_MAX ? c.src.size() : c.dst_len;

    Outcome out;
    out.dst.assign(dst_len, kUntouched);
    out.guards_intact = true;
    for (int pass = 0; pass < 2; ++pass) {
        Run<S> src(c.src.size(), c.src_offset, kSentinels[pass]);
        for (std::size_t i = 0; i < c.src.size(); ++i) src.put(i, c.src[i]);
        Run<D> dst(dst_len, c.dst_offset, kSentinels[pass]);
        const CastResult r = convert_slice_int_to_int<S, D>(
            SrcSlice<S>(src.data(), src.size()), DstSlice<D>(dst.data(), dst.size()), config);
        const std::string message = r ? r->message() : "";
        if (r) {
            EXPECT_EQ(r->kind, CastError::Kind::OutOfRange);
        }
        if (pass == 1) {
            EXPECT_EQ(message, out.message) << "the two passes differ";
        }
        out.message = message;
        out.guards_intact = out.guards_intact && dst.guards_intact();
        for (std::size_t i = 0; i < dst_len; ++i) {
            // Pass 0 records what the element shows unless it is pass 0's sentinel; pass 1
            // fills in the elements that showed it and checks the others.
            if (pass == 0) {
                if (!dst.shows_sentinel(i)) out.dst[i] = dst.get(i);
            } else if (out.dst[i] == kUntouched) {
                if (!dst.shows_sentinel(i)) out.dst[i] = dst.get(i);
            } else {
                EXPECT_EQ(dst.get(i), out.dst[i]) << "the two passes differ at " << i;
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The pairs served, generated from the type lists.

template <class S, class D>
struct Pair {
    using Src = S;
    using Dst = D;
};

template <class... Ls>
struct Join;
template <>
struct Join<> {
    using type = TypeList<>;
};
template <class... A>
struct Join<TypeList<A...>> {
    using type = TypeList<A...>;
};
template <class... A, class... B, class... Rest>
struct Join<TypeList<A...>, TypeList<B...>, Rest...> {
    using type = typename Join<TypeList<A..., B...>, Rest...>::type;
};

template <class S, class D>
using PairIfCore = std::conditional_t<is_core_int_pair_v<S, D>, TypeList<Pair<S, D>>, TypeList<>>;

template <class S, class Ds>
struct PairsFrom;
template <class S, class... Ds>
struct PairsFrom<S, TypeList<Ds...>> {
    using type = typename Join<PairIfCore<S, Ds>...>::type;
};

template <class Ss, class Ds>
struct AllPairs;
template <class... Ss, class Ds>
struct AllPairs<TypeList<Ss...>, Ds> {
    using type = typename Join<typename PairsFrom<Ss, Ds>::type...>::type;
};

using CorePairs = AllPairs<IntegerElements, IntegerElements>::type;

template <class... Ps>
constexpr std::size_t count(TypeList<Ps...>) {
    return sizeof...(Ps);
}
static_assert(count(CorePairs{}) == 38);

// The trait at its edges: same type, value-keeping widenings and non-integers are excluded.
static_assert(!is_core_int_pair_v<std::int8_t, std::int8_t>);
static_assert(!is_core_int_pair_v<std::uint64_t, std::uint64_t>);
static_assert(!is_core_int_pair_v<std::int8_t, std::int16_t>);
static_assert(!is_core_int_pair_v<std::uint8_t, std::int16_t>);
static_assert(!is_core_int_pair_v<std::uint32_t, std::uint64_t>);
static_assert(!is_core_int_pair_v<std::uint32_t, std::int64_t>);
static_assert(is_core_int_pair_v<std::uint8_t, std::int8_t>);
static_assert(is_core_int_pair_v<std::int8_t, std::uint64_t>);
static_assert(is_core_int_pair_v<std::uint64_t, std::int64_t>);
static_assert(is_core_int_pair_v<std::int16_t, std::uint8_t>);
static_assert(!is_core_int_pair_v<double, std::int8_t>);
static_assert(!is_core_int_pair_v<std::int8_t, f16>);

struct PairCase {
    IntType src;
    IntType dst;
    Outcome (*run)(const Conversion&);
};

template <class... Ps>
std::vector<PairCase> pair_cases(TypeList<Ps...>) {
    return {PairCase{int_type<typename Ps::Src>(), int_type<typename Ps::Dst>(),
                     &run_pair<typename Ps::Src, typename Ps::Dst>}...};
}

// ---------------------------------------------------------------------------------------
// Bounds per pair: the values of the source type that the target holds, and their texts.

struct BoundsRow {
    std::string_view src;
    std::string_view dst;
    i128 lo;
    i128 hi;
    std::string_view lo_text;
    std::string_view hi_text;
};

constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();

const BoundsRow kBounds[] = {
    {"int8", "uint8", 0, 127, "0", "127"},
    {"int8", "uint16", 0, 127, "0", "127"},
    {"int8", "uint32", 0, 127, "0", "127"},
    {"int8", "uint64", 0, 127, "0", "127"},
    {"uint8", "int8", 0, 127, "0", "127"},
    {"int16", "int8", -128, 127, "-128", "127"},
    {"int16", "uint8", 0, 255, "0", "255"},
    {"int16", "uint16", 0, 32767, "0", "32767"},
    {"int16", "uint32", 0, 32767, "0", "32767"},
    {"int16", "uint64", 0, 32767, "0", "32767"},
    {"uint16", "int8", 0, 127, "0", "127"},
    {"uint16", "uint8", 0, 255, "0", "255"},
    {"uint16", "int16", 0, 32767, "0", "32767"},
    {"int32", "int8", -128, 127, "-128", "127"},
    {"int32", "uint8", 0, 255, "0", "255"},
    {"int32", "int16", -32768, 32767, "-32768", "32767"},
    {"int32", "uint16", 0, 65535, "0", "65535"},
    {"int32", "uint32", 0, 2147483647, "0", "2147483647"},
    {"int32", "uint64", 0, 2147483647, "0", "2147483647"},
    {"uint32", "int8", 0, 127, "0", "127"},
    {"uint32", "uint8", 0, 255, "0", "255"},
    {"uint32", "int16", 0, 32767, "0", "32767"},
    {"uint32", "uint16", 0, 65535, "0", "65535"},
    {"uint32", "int32", 0, 2147483647, "0", "2147483647"},
    {"int64", "int8", -128, 127, "-128", "127"},
    {"int64", "uint8", 0, 255, "0", "255"},
    {"int64", "int16", -32768, 32767, "-32768", "32767"},
    {"int64", "uint16", 0, 65535, "0", "65535"},
    {"int64", "int32", -2147483648LL, 2147483647, "-2147483648", "2147483647"},
    {"int64", "uint32", 0, 4294967295LL, "0", "4294967295"},
    {"int64", "uint64", 0, kI64Max, "0", "9223372036854776000"},
    {"uint64", "int8", 0, 127, "0", "127"},
    {"uint64", "uint8", 0, 255, "0", "255"},
    {"uint64", "int16", 0, 32767, "0", "32767"},
    {"uint64", "uint16", 0, 65535, "0", "65535"},
    {"uint64", "int32", 0, 2147483647, "0", "2147483647"},
    {"uint64", "uint32", 0, 4294967295LL, "0", "4294967295"},
    {"uint64", "int64", 0, kI64Max, "0", "9223372036854776000"},
};

class IntToInt : public ::testing::TestWithParam<PairCase> {
protected:
    const IntType& src_type() const { return GetParam().src; }
    const IntType& dst_type() const { return GetParam().dst; }
    Outcome run(const Conversion& c) const { return GetParam().run(c); }

    const BoundsRow& bounds() const {
        for (const BoundsRow& row : kBounds)
            if (row.src == src_type().name && row.dst == dst_type().name) return row;
        ADD_FAILURE() << "no bounds row";
        return kBounds[0];
    }
    std::string error_for(i128 v) const {
        return out_of_range_text(shown(v), bounds().lo_text, bounds().hi_text);
    }

    // The values just outside the bounds that the source type can hold: below lo, above hi.
    std::vector<i128> first_outside() const {
        std::vector<i128> v;
        if (src_type().holds(bounds().lo - 1)) v.push_back(bounds().lo - 1);
        if (src_type().holds(bounds().hi + 1)) v.push_back(bounds().hi + 1);
        return v;
    }

    // Every source value that is a limit of some type, or next to one.
    std::vector<i128> interesting_values() const {
        std::vector<i128> v;
        const i128 pivots[] = {0,      127,        128,    255,        256,    32767,
                               32768,  65535,      65536,  2147483647, i128{1} << 31,
                               4294967295, kTwo53, kTwo63 - 1, kTwo63, kTwo64 - 1};
        for (i128 p : pivots)
            for (i128 c : {p - 1, p, p + 1, -p - 1, -p, -p + 1})
                if (src_type().holds(c)) v.push_back(c);
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
        return v;
    }

    // A source value of any magnitude.
    i128 random_value(std::mt19937_64& rng) const {
        std::uint64_t bits = rng() >> (rng() % 64);
        if (rng() & 1) bits = ~bits;
        return src_type().wrap(bits);
    }
    // A source value that the target holds.
    i128 random_inside(std::mt19937_64& rng) const {
        const i128 span = bounds().hi - bounds().lo + 1;
        return bounds().lo + static_cast<i128>(rng()) % span;
    }
};

INSTANTIATE_TEST_SUITE_P(CorePairs, IntToInt, ::testing::ValuesIn(pair_cases(CorePairs{})),
                         [](const ::testing::TestParamInfo<PairCase>& info) {
                             return std::string(info.param.src.name) + "_to_" +
                                    std::string(info.param.dst.name);
                         });

TEST(IntToIntPairs, BoundsTableCoversEveryPairOnce) {
    const std::vector<PairCase> pairs = pair_cases(CorePairs{});
    ASSERT_EQ(pairs.size(), std::size(kBounds));
    for (const BoundsRow& row : kBounds) {
        SCOPED_TRACE(std::string(row.src) + " -> " + std::string(row.dst));
        EXPECT_EQ(std::count_if(pairs.begin(), pairs.end(),
                                [&](const PairCase& p) {
                                    return p.src.name == row.src && p.dst.name == row.dst;
                                }),
                  1);
    }
}

TEST_P(IntToInt, BoundsAreTheSourceValuesThatTheTargetHolds) {
    EXPECT_EQ(bounds().lo, std::max(src_type().min, dst_type().min));
    EXPECT_EQ(bounds().hi, std::min(src_type().max, dst_type().max));
    EXPECT_FALSE(first_outside().empty());
}

TEST_P(IntToInt, ErrorShowsTheBoundsOfThePair) {
    for (i128 bad : first_outside()) {
        SCOPED_TRACE(dec(bad));
        const Outcome got = run({{bounds().lo, bounds().hi, bad}, kAbsent});
        EXPECT_EQ(got.message, error_for(bad));
        EXPECT_EQ(got.dst, (std::vector<i128>{bounds().lo, bounds().hi, kUntouched}));
        EXPECT_TRUE(got.guards_intact);
    }
}

// Every interesting value, all in one run per mode and one at a time without a mode.
TEST_P(IntToInt, EachModeAtAndBeyondTheLimits) {
    const std::vector<i128> values = interesting_values();
    std::vector<i128> clamped, wrapped;
    for (i128 v : values) {
        clamped.push_back(dst_type().clamp(v));
        wrapped.push_back(dst_type().wrap(v));
    }
    EXPECT_EQ(run({values, kClamp}).dst, clamped);
    EXPECT_EQ(run({values, kWrap}).dst, wrapped);

    for (i128 v : values) {
        SCOPED_TRACE(dec(v));
        const Outcome got = run({{v}, kAbsent});
        if (dst_type().holds(v)) {
            EXPECT_EQ(got.message, "");
            EXPECT_EQ(got.dst, std::vector<i128>{v});
        } else {
            EXPECT_EQ(got.message, error_for(v));
            EXPECT_EQ(got.dst, std::vector<i128>{kUntouched});
        }
    }
}

// Long random runs through the block loops: every element as the element rule says.
TEST_P(IntToInt, ClampAndWrapRandomRuns) {
    std::mt19937_64 rng(static_cast<std::uint64_t>(src_type().bits * 131 + dst_type().bits));
    for (std::size_t n : {1000u, 4099u}) {
        Conversion c{{}, kClamp};
        c.src_offset = 5;
        std::vector<i128> clamped, wrapped;
        for (std::size_t i = 0; i < n; ++i) {
            c.src.push_back(random_value(rng));
            clamped.push_back(dst_type().clamp(c.src.back()));
            wrapped.push_back(dst_type().wrap(c.src.back()));
        }
        const Outcome got_clamp = run(c);
        c.mode = kWrap;
        const Outcome got_wrap = run(c);
        EXPECT_EQ(got_clamp.dst, clamped);
        EXPECT_EQ(got_wrap.dst, wrapped);
        EXPECT_EQ(got_clamp.message + got_wrap.message, "");
        EXPECT_TRUE(got_clamp.guards_intact && got_wrap.guards_intact);
    }
}

// Without a mode, the first value outside the range ends the run: everything before it is
// written, it and everything after keep the sentinel.
TEST_P(IntToInt, StopsAtTheFirstFailingElement) {
    const i128 lo = bounds().lo;
    const i128 hi = bounds().hi;
    std::mt19937_64 rng(99);
    for (bool with_map : {false, true}) {
        for (std::size_t n : {1u, 2u, 3u, 63u, 64u, 65u, 130u}) {
            for (std::size_t p : {std::size_t{0}, std::size_t{1}, n / 2, n - 2, n - 1}) {
                if (p >= n) continue;
                for (i128 bad : first_outside()) {
                    SCOPED_TRACE(::testing::Message() << "map " << with_map << " n " << n << " p "
                                                      << p << " bad " << dec(bad));
                    // The map covers an in-range value, never the failing one.
                    Conversion c{{}, kAbsent};
                    if (with_map) c.map = {{hi, lo}};
                    std::vector<i128> expected;
                    for (std::size_t i = 0; i < n; ++i) {
                        i128 v = i < p ? random_inside(rng) : i == p ? bad : random_value(rng);
                        if (with_map && i < p && i % 3 == 0) v = hi;
                        c.src.push_back(v);
                        expected.push_back(i >= p ? kUntouched : with_map && v == hi ? lo : v);
                    }
                    const Outcome got = run(c);
                    EXPECT_EQ(got.message, error_for(bad));
                    EXPECT_EQ(got.dst, expected);
                    EXPECT_TRUE(got.guards_intact);
                }
            }
        }
    }
}

// Every length from 0 to 70 and a few longer, unaligned, under each mode, with and without
// a map; the map has duplicates, and covers values both inside and outside the range.
TEST_P(IntToInt, EveryLengthWithAndWithoutMap) {
    const i128 lo = bounds().lo;
    const i128 hi = bounds().hi;
    const i128 outside = first_outside().front();
    std::vector<std::pair<i128, i128>> map = {{outside, hi}, {lo, hi}, {outside, lo}, {src_type().max, 1}};
    if (!dst_type().holds(src_type().min)) map.push_back({src_type().min, 0});
    auto mapped = [&](i128 v) -> const i128* {
        for (const auto& entry : map)
            if (entry.first == v) return &entry.second;
        return nullptr;
    };

    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 70; ++n) lengths.push_back(n);
    for (std::size_t n : {127u, 128u, 129u, 200u}) lengths.push_back(n);

    std::mt19937_64 rng(12345);
    for (bool with_map : {false, true}) {
        for (std::size_t n : lengths) {
            SCOPED_TRACE(::testing::Message() << "map " << with_map << " n " << n);
            // The run without a mode gets in-range values, and with a map also the mapped
            // values outside the range.
            std::vector<i128> any(n), checkable(n);
            for (std::size_t i = 0; i < n; ++i) {
                any[i] = random_value(rng);
                checkable[i] = random_inside(rng);
                if (with_map && i % 4 == 1) any[i] = checkable[i] = map[(i / 4) % map.size()].first;
            }
            for (OptionalOutOfRangeMode mode : {kClamp, kWrap, kAbsent}) {
                Conversion c{mode == kAbsent ? checkable : any, mode};
                if (with_map) c.map = map;
                std::vector<i128> expected;
                for (i128 v : c.src) {
                    const i128* m = with_map ? mapped(v) : nullptr;
                    expected.push_back(m                ? *m
                                       : mode == kClamp ? dst_type().clamp(v)
                                       : mode == kWrap  ? dst_type().wrap(v)
                                                        : v);
                }
                const Outcome got = run(c);
                EXPECT_EQ(got.message, "") << "mode " << int(mode.rule());
                EXPECT_EQ(got.dst, expected) << "mode " << int(mode.rule());
                EXPECT_TRUE(got.guards_intact);
            }
        }
    }
}

// A mapped value takes the map's target in every mode, where the element rule would clamp,
// wrap, fail or keep the value; the first of two entries for one value wins.
TEST_P(IntToInt, MappedValueWinsOverEveryMode) {
    const i128 bad = first_outside().front();
    const i128 inside = bounds().lo + 1;
    for (OptionalOutOfRangeMode mode : {kClamp, kWrap, kAbsent}) {
        SCOPED_TRACE(int(mode.rule()));
        const Outcome got =
            run({{bad, inside, bounds().lo, bad}, mode, {{bad, 7}, {inside, bounds().hi}, {bad, 9}}});
        EXPECT_EQ(got.message, "");
        EXPECT_EQ(got.dst, (std::vector<i128>{7, bounds().hi, bounds().lo, 7}));
    }
}

// n is the smaller length: source elements beyond it are not read (they would fail), and
// destination elements beyond it are not written.
TEST_P(IntToInt, UnequalLengthsConvertTheShorter) {
    const i128 bad = first_outside().front();
    const i128 u = kUntouched;
    for (OptionalOutOfRangeMode mode : {kClamp, kWrap, kAbsent}) {
        SCOPED_TRACE(int(mode.rule()));
        Outcome got = run({{0, 1, 2, 3, bad, bad, bad, bad, bad, bad}, mode, {}, 4});
        EXPECT_EQ(got.message, "");
        EXPECT_EQ(got.dst, (std::vector<i128>{0, 1, 2, 3}));
        EXPECT_TRUE(got.guards_intact);

        got = run({{1, 2, 3, 4}, mode, {}, 10});
        EXPECT_EQ(got.message, "");
        EXPECT_EQ(got.dst, (std::vector<i128>{1, 2, 3, 4, u, u, u, u, u, u}));

        got = run({{bad, bad}, mode, {}, 0});
        EXPECT_EQ(got.message, "");
        EXPECT_TRUE(got.guards_intact);

        got = run({{}, mode, {{0, 1}}, 3});
        EXPECT_EQ(got.message, "");
        EXPECT_EQ(got.dst, (std::vector<i128>{u, u, u}));
    }
}

// ---------------------------------------------------------------------------------------
// Named cases, each with its whole result.

using i8 = std::int8_t;
using u8 = std::uint8_t;
using i16 = std::int16_t;
using u16 = std::uint16_t;
using i32 = std::int32_t;
using u32 = std::uint32_t;
using i64 = std::int64_t;
using u64 = std::uint64_t;

constexpr i128 kU = kUntouched;
constexpr i128 kU64Max = kTwo64 - 1;

TEST(IntToIntCases, Table) {
    struct Case {
        const char* name;
        Outcome (*run)(const Conversion&);
        Conversion conversion;
        std::vector<i128> dst;
        std::string message;
    };
    const Case cases[] = {
        {"int32->int8 stops at 300", run_pair<i32, i8>, {{1, 300, 2}, kAbsent}, {1, kU, kU},
         out_of_range_text("300", "-128", "127")},
        {"int8->uint8 shows int8's part of uint8", run_pair<i8, u8>, {{-1}, kAbsent}, {kU},
         out_of_range_text("-1", "0", "127")},
        {"uint8->int8 200", run_pair<u8, i8>, {{200}, kAbsent}, {kU},
         out_of_range_text("200", "0", "127")},
        {"int64->uint64 -1", run_pair<i64, u64>, {{-1}, kAbsent}, {kU},
         out_of_range_text("-1", "0", "9223372036854776000")},
        {"uint64->int64 largest", run_pair<u64, i64>, {{kU64Max}, kAbsent}, {kU},
         out_of_range_text("18446744073709552000", "0", "9223372036854776000")},
        {"uint64->int64 2^63 shows the bound's own text", run_pair<u64, i64>,
         {{kTwo63 - 1, kTwo63}, kAbsent}, {kTwo63 - 1, kU},
         out_of_range_text("9223372036854776000", "0", "9223372036854776000")},
        {"uint64->int32 2^53+1 shown rounded", run_pair<u64, i32>, {{9007199254740993}, kAbsent},
         {kU}, out_of_range_text("9007199254740992", "0", "2147483647")},
        {"int64->int8 smallest", run_pair<i64, i8>, {{-kTwo63}, kAbsent}, {kU},
         out_of_range_text("-9223372036854776000", "-128", "127")},
        {"int64->uint32 2^32", run_pair<i64, u32>, {{0, 4294967295, 4294967296}, kAbsent},
         {0, 4294967295, kU}, out_of_range_text("4294967296", "0", "4294967295")},
        {"int16->uint16 -32768", run_pair<i16, u16>, {{32767, -32768}, kAbsent}, {32767, kU},
         out_of_range_text("-32768", "0", "32767")},

        {"clamp int32->uint8", run_pair<i32, u8>, {{-5, 300, 0, 255}, kClamp}, {0, 255, 0, 255}, ""},
        {"clamp uint64->int64", run_pair<u64, i64>, {{kTwo63, kU64Max, 5}, kClamp},
         {kTwo63 - 1, kTwo63 - 1, 5}, ""},
        {"clamp int8->uint64", run_pair<i8, u64>, {{-1, -128, 127}, kClamp}, {0, 0, 127}, ""},
        {"clamp int64->int32", run_pair<i64, i32>,
         {{-kTwo63, -2147483649, 2147483648, kTwo63 - 1}, kClamp},
         {-2147483648LL, -2147483648LL, 2147483647, 2147483647}, ""},
        {"clamp uint32->int8", run_pair<u32, i8>, {{128, 4294967295, 127}, kClamp}, {127, 127, 127},
         ""},

        {"wrap uint32->int32", run_pair<u32, i32>, {{4294967295, 2147483648}, kWrap},
         {-1, -2147483648LL}, ""},
        {"wrap int8->uint64", run_pair<i8, u64>, {{-1, -2, -128}, kWrap},
         {kU64Max, kU64Max - 1, kU64Max - 127}, ""},
        {"wrap int16->int8", run_pair<i16, i8>, {{300, -129, 128}, kWrap}, {44, 127, -128}, ""},
        {"wrap uint8->int8", run_pair<u8, i8>, {{200, 255, 128}, kWrap}, {-56, -1, -128}, ""},
        {"wrap uint16->int16", run_pair<u16, i16>, {{65535}, kWrap}, {-1}, ""},
        {"wrap int32->uint8", run_pair<i32, u8>, {{-1, 256, 511}, kWrap}, {255, 0, 255}, ""},
        {"wrap int64->uint64", run_pair<i64, u64>, {{-1, -kTwo63}, kWrap}, {kU64Max, kTwo63}, ""},
        {"wrap uint64->int16", run_pair<u64, i16>, {{kU64Max, 98304}, kWrap}, {-1, -32768}, ""},

        {"map 1000->7 then 1001 fails", run_pair<i32, i8>, {{1000, 1001, 3}, kAbsent, {{1000, 7}}},
         {7, kU, kU}, out_of_range_text("1001", "-128", "127")},
        {"mapped value never fails", run_pair<i16, i8>, {{300, 1}, kAbsent, {{300, 5}}}, {5, 1}, ""},
        {"first of two entries wins", run_pair<i32, i8>, {{5, 6}, kClamp, {{5, 1}, {5, 2}, {6, 3}}},
         {1, 3}, ""},
        {"map beats clamp", run_pair<i32, u8>, {{-5, 300}, kClamp, {{300, 1}, {-5, 2}}}, {2, 1}, ""},
        {"map beats wrap", run_pair<u8, i8>, {{200, 201}, kWrap, {{200, 0}}}, {0, -55}, ""},
        {"map beats identity", run_pair<u8, i8>, {{5}, kAbsent, {{5, -1}}}, {-1}, ""},

        {"source 10, destination 4", run_pair<i32, i8>,
         {{1, 2, 3, 4, 500, 500, 500, 500, 500, 500}, kAbsent, {}, 4}, {1, 2, 3, 4}, ""},
        {"source 4, destination 10", run_pair<i32, i8>, {{1, 2, 3, 4}, kAbsent, {}, 10},
         {1, 2, 3, 4, kU, kU, kU, kU, kU, kU}, ""},
        {"empty source", run_pair<i32, i8>, {{}, kAbsent, {}, 2}, {kU, kU}, ""},
        {"empty destination", run_pair<i32, i8>, {{300}, kAbsent, {}, 0}, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome got = c.run(c.conversion);
        EXPECT_EQ(got.dst, c.dst);
        EXPECT_EQ(got.message, c.message);
        EXPECT_TRUE(got.guards_intact);
    }
}

}  // namespace
}  // namespace pelm_ossrel
