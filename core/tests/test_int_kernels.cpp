// The integer-to-integer bodies of every processor level, called directly, against the element
// loop of int_to_int.hpp: for each of the 38 pairs, runs of several lengths at odd byte offsets,
// values from the limits of both types and their neighbours mixed with arbitrary ones, and every
// byte of the destination buffer compared, around the run too. Levels this processor lacks are
// skipped.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "element_types.hpp"
#include "int_to_int.hpp"
#include "modes.hpp"
#include "simd/bodies.hpp"
#include "support/int_pairs.hpp"
#include "support/levels.hpp"

namespace pelm_ossrel {
namespace {

using testing_support::LevelTest;

constexpr std::size_t kLengths[] = {0, 1, 2, 63, 64, 65, 127, 128, 129, 200, 1007, 3001};
// Byte offsets of the source and destination runs inside their buffers.
constexpr std::pair<std::size_t, std::size_t> kOffsets[] = {{1, 3}, {7, 5}, {0, 0}};
// Bytes kept free before and after a run, checked to be untouched.
constexpr std::size_t kMargin = 16;
constexpr unsigned char kSentinel = 0xA5;

template <class S, class D>
std::string pair_name() {
    return std::string(element_name<S>()) + "->" + std::string(element_name<D>());
}

// The limits of S and of D (those S can represent), their neighbours in S, 0 and +-1.
template <class S, class D>
std::vector<S> edge_values() {
    using SL = std::numeric_limits<S>;
    using DL = std::numeric_limits<D>;
    std::vector<S> values = {SL::min(), SL::max(), static_cast<S>(SL::min() + 1), static_cast<S>(SL::max() - 1),
                             S{0}, S{1}, static_cast<S>(-1)};
    for (const auto limit : {static_cast<long double>(DL::min()), static_cast<long double>(DL::max())}) {
        for (const int step : {-2, -1, 0, 1, 2}) {
            const long double v = limit + step;
            if (v >= static_cast<long double>(SL::min()) && v <= static_cast<long double>(SL::max())) {
                values.push_back(static_cast<S>(v));
            }
        }
    }
    return values;
}

// Half edge values, half arbitrary bit patterns.
template <class S, class D>
std::vector<S> mixed_values(std::mt19937_64& rng, std::size_t n) {
    const std::vector<S> edges = edge_values<S, D>();
    std::vector<S> x(n);
    for (S& v : x) v = rng() % 2 == 0 ? edges[rng() % edges.size()] : static_cast<S>(rng());
    return x;
}

// Values that D holds: edge values inside and arbitrary ones inside.
template <class S, class D>
std::vector<S> inside_values(std::mt19937_64& rng, std::size_t n) {
    std::vector<S> edges;
    for (const S v : edge_values<S, D>()) {
        if (std::in_range<D>(v)) edges.push_back(v);
    }
    using U = std::make_unsigned_t<S>;
    const U lo = static_cast<U>(std::in_range<S>(std::numeric_limits<D>::min())
                                    ? static_cast<S>(std::numeric_limits<D>::min())
                                    : std::numeric_limits<S>::min());
    const U span = static_cast<U>(static_cast<U>(std::in_range<S>(std::numeric_limits<D>::max())
                                                     ? static_cast<S>(std::numeric_limits<D>::max())
                                                     : std::numeric_limits<S>::max()) -
                                  lo);
    std::vector<S> x(n);
    for (S& v : x) {
        v = rng() % 2 == 0 ? edges[rng() % edges.size()] : static_cast<S>(static_cast<U>(lo + (rng() & span)));
    }
    return x;
}

// A value that D cannot hold.
template <class S, class D>
S outside_value(std::mt19937_64& rng) {
    std::vector<S> outside;
    for (const S v : edge_values<S, D>()) {
        if (!std::in_range<D>(v)) outside.push_back(v);
    }
    return outside[rng() % outside.size()];
}

// A run of S values placed at a byte offset in a buffer, and a destination buffer of sentinel
// bytes with its run at another offset.
template <class S, class D>
struct Buffers {
    Buffers(const std::vector<S>& x, std::size_t src_offset, std::size_t dst_offset)
        : n(x.size()),
          src_offset(src_offset),
          dst_offset(dst_offset),
          src(kMargin + src_offset + n * sizeof(S) + kMargin, 0),
          dst(kMargin + dst_offset + n * sizeof(D) + kMargin, kSentinel) {
        if (n != 0) std::memcpy(src.data() + kMargin + src_offset, x.data(), n * sizeof(S));
    }
    const unsigned char* in() const { return src.data() + kMargin + src_offset; }
    unsigned char* out() { return dst.data() + kMargin + dst_offset; }
    SrcSlice<S> src_slice() const { return SrcSlice<S>(in(), n); }
    DstSlice<D> dst_slice() { return DstSlice<D>(out(), n); }

    std::size_t n;
    std::size_t src_offset;
    std::size_t dst_offset;
    std::vector<unsigned char> src;
    std::vector<unsigned char> dst;
};

std::size_t first_difference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return i;
    }
    return a.size();
}

// Clamp and wrap: the body against the element loop on the same run.
template <class S, class D>
void expect_transform_matches(const simd::LevelBodies& bodies, const std::vector<S>& x, OutOfRange rule,
                              const std::string& what) {
    using namespace int_to_int_detail;
    for (const auto& [src_offset, dst_offset] : kOffsets) {
        Buffers<S, D> body(x, src_offset, dst_offset);
        Buffers<S, D> baseline(x, src_offset, dst_offset);
        const simd::BodyModes modes{RoundingMode::NearestEven, rule};
        if (rule == OutOfRange::Clamp) {
            const simd::BodyResult r = pair_body<S, D>(bodies.int_to_int_clamp)(body.in(), body.out(), x.size(), modes);
            ASSERT_EQ(r.done, x.size()) << what;
            ASSERT_FALSE((int_to_int_loop<S, D, OutOfRange::Clamp, false>(baseline.src_slice(), baseline.dst_slice(),
                                                                          {}, x.size())));
        } else {
            const simd::BodyResult r = pair_body<S, D>(bodies.int_to_int_wrap)(body.in(), body.out(), x.size(), modes);
            ASSERT_EQ(r.done, x.size()) << what;
            ASSERT_FALSE((int_to_int_loop<S, D, OutOfRange::Wrap, false>(baseline.src_slice(), baseline.dst_slice(),
                                                                         {}, x.size())));
        }
        const std::size_t at = first_difference(body.dst, baseline.dst);
        ASSERT_EQ(at, body.dst.size()) << what << " offsets " << src_offset << "/" << dst_offset
                                       << ": first differing destination byte " << at << " (run starts at "
                                       << kMargin + dst_offset << ")";
    }
}

// Checked: the body stores the whole blocks before the first block holding a value D cannot
// hold, exactly as the element loop stores them, reports their count and writes nothing else.
template <class S, class D>
void expect_checked_matches(const simd::LevelBodies& bodies, const std::vector<S>& x, const std::string& what) {
    using namespace int_to_int_detail;
    std::size_t expected_done = x.size() - x.size() % 64;
    for (std::size_t i = 0; i < expected_done; ++i) {
        if (!std::in_range<D>(x[i])) {
            expected_done = i - i % 64;
            break;
        }
    }
    for (const auto& [src_offset, dst_offset] : kOffsets) {
        Buffers<S, D> body(x, src_offset, dst_offset);
        Buffers<S, D> baseline(x, src_offset, dst_offset);
        const simd::BodyResult r = pair_body<S, D>(bodies.int_to_int_checked)(
            body.in(), body.out(), x.size(), simd::BodyModes{RoundingMode::NearestEven, OutOfRange::Absent});
        ASSERT_EQ(r.done, expected_done) << what << " offsets " << src_offset << "/" << dst_offset;
        ASSERT_EQ(r.status == simd::BodyResult::Status::Stopped, expected_done != x.size() - x.size() % 64) << what;
        const CastResult stored = int_to_int_loop<S, D, OutOfRange::Absent, false>(
            baseline.src_slice(), baseline.dst_slice(), {}, expected_done);
        ASSERT_FALSE(stored.has_value()) << what;
        const std::size_t at = first_difference(body.dst, baseline.dst);
        ASSERT_EQ(at, body.dst.size()) << what << " offsets " << src_offset << "/" << dst_offset
                                       << ": first differing destination byte " << at << " (run starts at "
                                       << kMargin + dst_offset << ")";
    }
}

class IntKernels : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(IntKernels);

TEST_P(IntKernels, ClampMatchesTheElementLoop) {
    for_each_core_int_pair([&]<class S, class D>() {
        std::mt19937_64 rng(std::hash<std::string>{}(pair_name<S, D>()));
        for (const std::size_t n : kLengths) {
            expect_transform_matches<S, D>(bodies(), mixed_values<S, D>(rng, n), OutOfRange::Clamp,
                                           pair_name<S, D>() + " n=" + std::to_string(n));
            if (HasFatalFailure()) return;
        }
    });
}

TEST_P(IntKernels, WrapMatchesTheElementLoop) {
    for_each_core_int_pair([&]<class S, class D>() {
        std::mt19937_64 rng(std::hash<std::string>{}(pair_name<S, D>()));
        for (const std::size_t n : kLengths) {
            expect_transform_matches<S, D>(bodies(), mixed_values<S, D>(rng, n), OutOfRange::Wrap,
                                           pair_name<S, D>() + " n=" + std::to_string(n));
            if (HasFatalFailure()) return;
        }
    });
}

TEST_P(IntKernels, CheckedStopsAtTheFirstBlockHoldingAValueOutside) {
    for_each_core_int_pair([&]<class S, class D>() {
        std::mt19937_64 rng(std::hash<std::string>{}(pair_name<S, D>()));
        for (const std::size_t n : kLengths) {
            const std::string what = pair_name<S, D>() + " n=" + std::to_string(n);
            expect_checked_matches<S, D>(bodies(), inside_values<S, D>(rng, n), what + " all inside");
            expect_checked_matches<S, D>(bodies(), mixed_values<S, D>(rng, n), what + " mixed");
            if (HasFatalFailure()) return;
            if (n == 0) continue;
            // One value outside: first, last of a block, first of the next, last, anywhere.
            for (const std::size_t position : {std::size_t{0}, std::size_t{63}, std::size_t{64}, n - 1,
                                               static_cast<std::size_t>(rng() % n)}) {
                if (position >= n) continue;
                std::vector<S> x = inside_values<S, D>(rng, n);
                x[position] = outside_value<S, D>(rng);
                expect_checked_matches<S, D>(bodies(), x, what + " outside at " + std::to_string(position));
                if (HasFatalFailure()) return;
            }
        }
    });
}

// Pairs the bodies do not serve have none in the tables: their conversions never reach a body.
TEST_P(IntKernels, OnlyTheNarrowingPairsHaveBodies) {
    int served = 0;
    for (int s = 0; s < simd::kElementCodes; ++s) {
        for (int d = 0; d < simd::kElementCodes; ++d) {
            const bool has = bodies().int_to_int_checked[s][d] != nullptr;
            EXPECT_EQ(bodies().int_to_int_clamp[s][d] != nullptr, has) << s << " -> " << d;
            EXPECT_EQ(bodies().int_to_int_wrap[s][d] != nullptr, has) << s << " -> " << d;
            served += has ? 1 : 0;
        }
    }
    EXPECT_EQ(served, 38);
    for_each_core_int_pair([&]<class S, class D>() {
        EXPECT_NE((pair_body<S, D>(bodies().int_to_int_checked)), nullptr) << pair_name<S, D>();
    });
}

}  // namespace
}  // namespace pelm_ossrel
