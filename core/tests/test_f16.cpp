// Binary16 operations: conversions (the software forms, and the runs of every processor level's
// bodies, F16C at the x86-64-v3 level), add, sub, abs and the IEEE comparisons. Tables of edge
// cases by whole bit pattern, then exhaustive checks: every binary16 pattern against an
// arithmetic reference, every binary32 pattern through the software conversion against F16C.
#include <gtest/gtest.h>

#include <bit>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "f16.hpp"
#include "float_to_float.hpp"
#include "support/levels.hpp"

namespace pelm_ossrel {
namespace {

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

std::uint32_t bits32(float x) { return std::bit_cast<std::uint32_t>(x); }
std::uint64_t bits64(double x) { return std::bit_cast<std::uint64_t>(x); }

using testing_support::LevelTest;

// n binary32 values at src (unaligned bytes) to binary16 at dst, and back, through the floating
// conversions of the active level: its bodies for the whole blocks, the element loop for the rest.
void f32_run_to_f16(const unsigned char* src, unsigned char* dst, std::size_t n) {
    const CastConfig<float, f16> clamp{{}, OutOfRangeMode::Clamp, RoundingMode::NearestEven};
    ASSERT_FALSE((convert_slice_float_to_float<float, f16>(SrcSlice<float>(src, n), DstSlice<f16>(dst, n), clamp)));
}
void f16_run_to_f32(const unsigned char* src, unsigned char* dst, std::size_t n) {
    ASSERT_FALSE((convert_slice_float_to_float<f16, float>(SrcSlice<f16>(src, n), DstSlice<float>(dst, n), {})));
}

// Binary16 runs at each level; the x86-64-v3 level converts them with F16C.
class F16Runs : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(F16Runs);

// ---- Reference model: field arithmetic, no bit assembly ------------------------------------

bool ref_is_nan(std::uint16_t h) { return (h & 0x7FFFu) > 0x7C00u; }

// The exact value of a non-NaN binary16 pattern, by ldexp on its fields.
double ref_value(std::uint16_t h) {
    const int e = (h >> 10) & 0x1F;
    const int f = h & 0x3FF;
    double v;
    if (e == 31) {
        v = HUGE_VAL;
    } else if (e == 0) {
        v = std::ldexp(static_cast<double>(f), -24);
    } else {
        v = std::ldexp(static_cast<double>(1024 + f), e - 25);
    }
    return (h & 0x8000u) != 0 ? -v : v;
}

// binary16 NaN widened: sign kept, quiet bit set, payload at the top of the wider fraction.
std::uint32_t ref_nan_to_f32(std::uint16_t h) {
    return (h & 0x8000u ? 0x80000000u : 0u) | 0x7FC00000u | (std::uint32_t(h & 0x3FFu) << 13);
}
std::uint64_t ref_nan_to_f64(std::uint16_t h) {
    return (h & 0x8000u ? 0x8000000000000000u : 0u) | 0x7FF8000000000000u |
           (std::uint64_t(h & 0x3FFu) << 42);
}

std::uint32_t ref_f16_to_f32_bits(std::uint16_t h) {
    if (ref_is_nan(h)) return ref_nan_to_f32(h);
    return bits32(static_cast<float>(ref_value(h)));  // exact: every binary16 value fits
}
std::uint64_t ref_f16_to_f64_bits(std::uint16_t h) {
    if (ref_is_nan(h)) return ref_nan_to_f64(h);
    return bits64(ref_value(h));
}

// A non-NaN binary64 value rounded once to binary16, to nearest with ties to even, by scaling to
// an integer significand and rounding that with nearbyint (default rounding mode).
std::uint16_t ref_round_to_f16(double v) {
    const std::uint16_t sign = std::signbit(v) ? 0x8000u : 0u;
    const double a = std::fabs(v);
    if (a >= 65520.0) return sign | 0x7C00u;  // at or beyond the midpoint 65504..65536
    if (a < 0x1p-14) {
        const double q = std::nearbyint(a * 0x1p24);  // 0..1024; 1024 is the smallest normal
        return static_cast<std::uint16_t>(sign | static_cast<unsigned>(q));
    }
    const int e = std::ilogb(a);                                // -14..15
    const double q = std::nearbyint(std::ldexp(a, 10 - e));      // 1024..2048
    const unsigned biased = static_cast<unsigned>((e + 15) << 10);
    return static_cast<std::uint16_t>(sign | (biased + static_cast<unsigned>(q) - 1024u));
}

// binary32 -> binary16 reference; the NaN rule is sign, quiet bit and top ten fraction bits.
std::uint16_t ref_f32_to_f16(std::uint32_t u) {
    const float x = std::bit_cast<float>(u);
    if (std::isnan(x)) {
        return static_cast<std::uint16_t>(((u >> 16) & 0x8000u) | 0x7E00u | ((u >> 13) & 0x3FFu));
    }
    return ref_round_to_f16(static_cast<double>(x));
}

// ---- Tables --------------------------------------------------------------------------------

struct F32ToF16Row {
    std::uint32_t x;
    std::uint16_t expected;
    const char* what;
};

const std::vector<F32ToF16Row>& f32_to_f16_rows() {
    static const std::vector<F32ToF16Row> rows = {
        {0x00000000u, 0x0000, "+0"},
        {0x80000000u, 0x8000, "-0"},
        {0x3F800000u, 0x3C00, "1"},
        {0xBF800000u, 0xBC00, "-1"},
        {0x477FE000u, 0x7BFF, "65504"},
        {0x477FEFFFu, 0x7BFF, "65519.99609375, the largest binary32 below 65520"},
        {0x477FF000u, 0x7C00, "65520 rounds to infinity"},
        {0xC77FF000u, 0xFC00, "-65520"},
        {0x47800000u, 0x7C00, "65536"},
        {0x7F7FFFFFu, 0x7C00, "largest binary32"},
        {0x47000000u, 0x7800, "32768, top of the normal exponent range"},
        {0x33000000u, 0x0000, "2^-25 is a tie to even zero"},
        {0x33000001u, 0x0001, "just above 2^-25"},
        {0x33400000u, 0x0001, "1.5 * 2^-25"},
        {0x32FFFFFFu, 0x0000, "just below 2^-25"},
        {bits32(1e-8f), 0x0000, "1e-8"},
        {0x00000001u, 0x0000, "smallest binary32 subnormal"},
        {0x80000001u, 0x8000, "negative binary32 subnormal"},
        {0x33800000u, 0x0001, "2^-24, smallest binary16 subnormal"},
        {0x34200000u, 0x0002, "2.5 * 2^-24 ties to even 2"},
        {0x34600000u, 0x0004, "3.5 * 2^-24 ties to even 4"},
        {0x38000000u, 0x0200, "2^-15"},
        {0x387FC000u, 0x03FF, "largest binary16 subnormal"},
        {0x387FD000u, 0x03FF, "1023.25 * 2^-24"},
        {0x387FE000u, 0x0400, "1023.5 * 2^-24 carries into the exponent"},
        {0x38800000u, 0x0400, "2^-14, smallest binary16 normal"},
        {0x3F801000u, 0x3C00, "1 + 2^-11 ties to even 1"},
        {0x3F803000u, 0x3C02, "1 + 3 * 2^-11 ties to even"},
        {0x3F801001u, 0x3C01, "just above the tie"},
        {0x3F7FF000u, 0x3C00, "1 - 2^-12 ties up, carrying into the exponent"},
        {bits32(0.1f), 0x2E66, "0.1"},
        {0x7F800000u, 0x7C00, "+inf"},
        {0xFF800000u, 0xFC00, "-inf"},
        {0x7F800001u, 0x7E00, "signalling NaN with low payload comes out quiet"},
        {0x7FC00001u, 0x7E00, "quiet NaN, low payload dropped"},
        {0xFFC00000u, 0xFE00, "negative quiet NaN"},
        {0x7FFFFFFFu, 0x7FFF, "all payload bits"},
        {0x7F802000u, 0x7E01, "signalling NaN, payload bit 13 kept"},
        {0x7FAAAAAAu, 0x7F55, "payload top bits kept"},
        {0xFFAAAAAAu, 0xFF55, "negative payload"},
    };
    return rows;
}

TEST(F16Convert, F32ToF16Table) {
    for (const auto& r : f32_to_f16_rows()) {
        SCOPED_TRACE(std::string(r.what) + " " + hex(r.x));
        const float x = std::bit_cast<float>(r.x);
        EXPECT_EQ(hex(f32_to_f16_soft(x).bits), hex(r.expected));
        EXPECT_EQ(hex(f32_to_f16(x).bits), hex(r.expected));
        EXPECT_EQ(hex(ref_f32_to_f16(r.x)), hex(r.expected));
    }
}

struct F16WidenRow {
    std::uint16_t h;
    std::uint32_t as_f32;
    std::uint64_t as_f64;
};

TEST(F16Convert, WideningTable) {
    const std::vector<F16WidenRow> rows = {
        {0x0000, 0x00000000u, 0x0000000000000000u},
        {0x8000, 0x80000000u, 0x8000000000000000u},
        {0x3C00, 0x3F800000u, 0x3FF0000000000000u},
        {0x0001, 0x33800000u, 0x3E70000000000000u},  // 2^-24
        {0x8001, 0xB3800000u, 0xBE70000000000000u},
        {0x0200, 0x38000000u, 0x3F00000000000000u},  // 2^-15
        {0x03FF, 0x387FC000u, 0x3F0FF80000000000u},  // largest subnormal
        {0x0400, 0x38800000u, 0x3F10000000000000u},  // smallest normal
        {0x7BFF, 0x477FE000u, 0x40EFFC0000000000u},  // 65504
        {0xFBFF, 0xC77FE000u, 0xC0EFFC0000000000u},  // -65504
        {0x7C00, 0x7F800000u, 0x7FF0000000000000u},
        {0xFC00, 0xFF800000u, 0xFFF0000000000000u},
        {0x7C01, 0x7FC02000u, 0x7FF8040000000000u},  // signalling NaN comes out quiet
        {0xFC01, 0xFFC02000u, 0xFFF8040000000000u},
        {0x7D55, 0x7FEAA000u, 0x7FFD540000000000u},
        {0x7E00, 0x7FC00000u, 0x7FF8000000000000u},
        {0xFE00, 0xFFC00000u, 0xFFF8000000000000u},
        {0x7FFF, 0x7FFFE000u, 0x7FFFFC0000000000u},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(hex(r.h));
        const f16 h{r.h};
        EXPECT_EQ(hex(bits32(f16_to_f32_soft(h))), hex(r.as_f32));
        EXPECT_EQ(hex(bits32(f16_to_f32(h))), hex(r.as_f32));
        EXPECT_EQ(hex(bits64(f16_to_f64_soft(h))), hex(r.as_f64));
        EXPECT_EQ(hex(bits64(f16_to_f64(h))), hex(r.as_f64));
    }
}

// The software forms are usable in constant expressions.
static_assert(f32_to_f16_soft(1.0f).bits == 0x3C00);
static_assert(f32_to_f16_soft(-65520.0f).bits == 0xFC00);
static_assert(f16_to_f32_soft(f16{0x0001}) == 0x1p-24f);
static_assert(f16_to_f64_soft(f16{0x7BFF}) == 65504.0);

TEST(F16Convert, F64ToF16Table) {
    struct Row {
        std::uint64_t x;
        std::uint16_t expected;
        const char* what;
    };
    const std::vector<Row> rows = {
        {bits64(1.0 + 0x1p-11 + 0x1p-40), 0x3C00, "excess lost in binary32, then a tie to even"},
        {bits64(1.0 + 0x1p-11 + 0x1p-22), 0x3C01, "excess kept in binary32"},
        {bits64(1.0 + 0x1p-11), 0x3C00, "exact tie"},
        {bits64(0x1p-25 + 0x1p-60), 0x0000, "excess lost, 2^-25 ties to zero"},
        {bits64(0x1p-25 + 0x1p-40), 0x0001, "excess kept"},
        {bits64(65519.999), 0x7C00, "binary32 rounding is 65520"},
        {bits64(65519.99), 0x7BFF, "binary32 rounding stays below 65520"},
        {bits64(65504.0), 0x7BFF, "65504"},
        {bits64(0.1), 0x2E66, "0.1"},
        {bits64(-0.0), 0x8000, "-0"},
        {bits64(1e-300), 0x0000, "underflows in binary32"},
        {bits64(-1e-300), 0x8000, "keeps the sign of zero"},
        {bits64(1e300), 0x7C00, "beyond binary32"},
        {bits64(-1e300), 0xFC00, "beyond binary32, negative"},
        {0x7FF0000000000000u, 0x7C00, "+inf"},
        {0xFFF0000000000000u, 0xFC00, "-inf"},
        {0x7FF0000000000001u, 0x7E00, "signalling NaN comes out quiet"},
        {0xFFF0000000000001u, 0xFE00, "negative signalling NaN"},
        {0xFFF4000000000000u, 0xFF00, "payload bit 50 kept"},
        {0x7FF8000000000000u, 0x7E00, "quiet NaN"},
        {0x7FFFFFFFFFFFFFFFu, 0x7FFF, "all payload bits"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.what) + " " + hex(r.x));
        EXPECT_EQ(hex(f64_to_f16(std::bit_cast<double>(r.x)).bits), hex(r.expected));
    }
}

TEST(F16Convert, F64ToF16NaNsMatchTheProcessorsNarrowing) {
    // The NaN branch must agree with what binary64 -> binary32 -> binary16 gives at run time.
    for (std::uint64_t sign : {std::uint64_t{0}, std::uint64_t{1} << 63}) {
        for (int bit = 0; bit < 52; ++bit) {
            for (std::uint64_t extra : {0u, 1u}) {
                const std::uint64_t u = sign | 0x7FF0000000000000u | (std::uint64_t{1} << bit) | extra;
                volatile double vx = std::bit_cast<double>(u);
                const float narrowed = static_cast<float>(vx);
                SCOPED_TRACE(hex(u));
                EXPECT_EQ(hex(f64_to_f16(vx).bits), hex(f32_to_f16_soft(narrowed).bits));
            }
        }
    }
}

TEST(F16Convert, F64ToF16RoundsTwiceAroundEveryMidpoint) {
    // For every pair of neighbours lo < hi (hi = 65536 past the largest finite value): values
    // near the midpoint whose excess binary32 drops land on the midpoint and go to the even
    // neighbour; larger excesses survive and decide the direction.
    for (std::uint32_t h = 0; h < 0x7C00u; ++h) {
        const double lo = ref_value(static_cast<std::uint16_t>(h));
        const double hi = h == 0x7BFFu ? 65536.0 : ref_value(static_cast<std::uint16_t>(h + 1));
        const double mid = (lo + hi) / 2;
        const std::uint16_t even = (h & 1u) == 0 ? static_cast<std::uint16_t>(h) : static_cast<std::uint16_t>(h + 1);
        const std::uint16_t up = static_cast<std::uint16_t>(h + 1);
        const std::uint16_t down = static_cast<std::uint16_t>(h);
        struct Probe {
            double x;
            std::uint16_t expected;
        };
        const Probe probes[] = {
            {lo, down},
            {mid, even},
            {mid + mid * 0x1p-30, even},
            {mid - mid * 0x1p-30, even},
            {mid + mid * 0x1p-20, up},
            {mid - mid * 0x1p-20, down},
        };
        for (const Probe& p : probes) {
            const f16 pos = f64_to_f16(p.x);
            const f16 neg = f64_to_f16(-p.x);
            if (pos.bits != p.expected || neg.bits != (p.expected | 0x8000u)) {
                ADD_FAILURE() << "x = " << hex(bits64(p.x)) << ": got " << hex(pos.bits) << " / "
                              << hex(neg.bits) << ", expected " << hex(p.expected);
                return;
            }
        }
    }
}

// ---- Exhaustive over binary16 ----------------------------------------------------------------

TEST(F16Convert, EveryBinary16ToF32AndF64MatchesTheReference) {
    int failures = 0;
    for (std::uint32_t b = 0; b < 65536u && failures < 10; ++b) {
        const std::uint16_t h = static_cast<std::uint16_t>(b);
        const std::uint32_t want32 = ref_f16_to_f32_bits(h);
        const std::uint64_t want64 = ref_f16_to_f64_bits(h);
        const std::uint32_t soft32 = bits32(f16_to_f32_soft(f16{h}));
        const std::uint32_t disp32 = bits32(f16_to_f32(f16{h}));
        const std::uint64_t soft64 = bits64(f16_to_f64_soft(f16{h}));
        const std::uint64_t disp64 = bits64(f16_to_f64(f16{h}));
        if (soft32 != want32 || disp32 != want32 || soft64 != want64 || disp64 != want64) {
            ++failures;
            ADD_FAILURE() << hex(h) << ": f32 " << hex(soft32) << "/" << hex(disp32) << " want "
                          << hex(want32) << ", f64 " << hex(soft64) << "/" << hex(disp64)
                          << " want " << hex(want64);
        }
    }
}

TEST(F16Convert, EveryBinary16SurvivesTheRoundTrip) {
    // Narrowing what was widened gives the pattern back; a NaN comes back quiet.
    for (std::uint32_t b = 0; b < 65536u; ++b) {
        const std::uint16_t h = static_cast<std::uint16_t>(b);
        const std::uint16_t want = ref_is_nan(h) ? static_cast<std::uint16_t>(h | 0x0200u) : h;
        const std::uint16_t via32 = f32_to_f16(f16_to_f32(f16{h})).bits;
        const std::uint16_t via64 = f64_to_f16(f16_to_f64(f16{h})).bits;
        if (via32 != want || via64 != want) {
            ADD_FAILURE() << hex(h) << ": " << hex(via32) << " / " << hex(via64);
            return;
        }
    }
}

// ---- binary32 -> binary16 over all 2^32 patterns ----------------------------------------------

TEST(F16Convert, SampledBinary32ToF16MatchesTheReference) {
    // Every 61st pattern, which visits every residue of the 13 discarded bits, plus every 7th
    // pattern of the exponents at the edges of the subnormal, normal and overflow ranges.
    int failures = 0;
    auto check = [&](std::uint32_t u) {
        const float x = std::bit_cast<float>(u);
        const std::uint16_t want = ref_f32_to_f16(u);
        const std::uint16_t soft = f32_to_f16_soft(x).bits;
        const std::uint16_t dispatched = f32_to_f16(x).bits;
        if ((soft != want || dispatched != want) && ++failures <= 10)
            ADD_FAILURE() << hex(u) << ": soft " << hex(soft) << ", dispatched " << hex(dispatched)
                          << ", reference " << hex(want);
    };
    for (std::uint64_t u = 0; u <= 0xFFFFFFFFu; u += 61) check(static_cast<std::uint32_t>(u));
    for (std::uint32_t e : {101u, 102u, 112u, 113u, 142u, 143u}) {
        for (std::uint32_t sign : {0u, 0x80000000u}) {
            for (std::uint32_t m = 0; m < 0x800000u; m += 7) check(sign | (e << 23) | m);
        }
    }
    EXPECT_EQ(failures, 0);
}

// Runs f32_to_f16_soft against the active level's run conversion over the patterns [first, last],
// in chunks, and returns the number of mismatches (reporting the first few).
std::uint64_t compare_soft_with_f16c_bulk(std::uint64_t first, std::uint64_t last) {
    constexpr std::size_t kChunk = 1u << 16;
    std::vector<std::uint32_t> src(kChunk);
    std::vector<std::uint16_t> hw(kChunk);
    std::uint64_t mismatches = 0;
    for (std::uint64_t base = first; base <= last; base += kChunk) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, last - base + 1));
        for (std::size_t i = 0; i < n; ++i) src[i] = static_cast<std::uint32_t>(base + i);
        f32_run_to_f16(reinterpret_cast<const unsigned char*>(src.data()), reinterpret_cast<unsigned char*>(hw.data()), n);
        std::size_t chunk_mismatches = 0;
        for (std::size_t i = 0; i < n; ++i)
            chunk_mismatches += f32_to_f16_soft(std::bit_cast<float>(src[i])).bits != hw[i];
        if (chunk_mismatches != 0) {
            for (std::size_t i = 0; i < n && mismatches < 10; ++i) {
                const std::uint16_t soft = f32_to_f16_soft(std::bit_cast<float>(src[i])).bits;
                if (soft != hw[i]) {
                    ADD_FAILURE() << hex(src[i]) << ": soft " << hex(soft) << ", F16C " << hex(hw[i]);
                    ++mismatches;
                }
            }
            mismatches += chunk_mismatches;
        }
    }
    return mismatches;
}

// Over all 2^32 patterns only where the level's conversion is not the software one itself.
#define PELM_OSSREL_SKIP_SOFTWARE_LEVEL()                                                        \
    if (level() != Level::Avx2)                                                                   \
    GTEST_SKIP() << "the " << level_name(level()) << " level converts binary16 with the software " \
                                                     "forms tested above"

TEST_P(F16Runs, EveryPositiveBinary32ToF16SoftMatchesTheLevel) {
    PELM_OSSREL_SKIP_SOFTWARE_LEVEL();
    EXPECT_EQ(compare_soft_with_f16c_bulk(0x00000000u, 0x7FFFFFFFu), 0u);
}

TEST_P(F16Runs, EveryNegativeBinary32ToF16SoftMatchesTheLevel) {
    PELM_OSSREL_SKIP_SOFTWARE_LEVEL();
    EXPECT_EQ(compare_soft_with_f16c_bulk(0x80000000u, 0xFFFFFFFFu), 0u);
}

// ---- Runs at each level ---------------------------------------------------------------------

TEST_P(F16Runs, WidensEveryPatternLikeTheScalarForm) {
    std::vector<std::uint16_t> src(65536);
    for (std::uint32_t b = 0; b < 65536u; ++b) src[b] = static_cast<std::uint16_t>(b);
    std::vector<std::uint32_t> dst(65536, 0xDEADBEEFu);
    f16_run_to_f32(reinterpret_cast<const unsigned char*>(src.data()), reinterpret_cast<unsigned char*>(dst.data()),
                   src.size());
    for (std::uint32_t b = 0; b < 65536u; ++b) {
        const std::uint32_t want = bits32(f16_to_f32_soft(f16{src[b]}));
        ASSERT_EQ(hex(dst[b]), hex(want)) << "pattern " << hex(b);
    }
}

TEST_P(F16Runs, NarrowsEveryWidenedPatternAndASampleLikeTheScalarForm) {
    std::vector<float> src;
    for (std::uint32_t b = 0; b < 65536u; ++b) src.push_back(f16_to_f32_soft(f16{static_cast<std::uint16_t>(b)}));
    for (std::uint64_t u = 0; u <= 0xFFFFFFFFu; u += 4093) src.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(u)));
    for (const auto& r : f32_to_f16_rows()) src.push_back(std::bit_cast<float>(r.x));
    std::vector<std::uint16_t> dst(src.size(), 0xBEEF);
    f32_run_to_f16(reinterpret_cast<const unsigned char*>(src.data()), reinterpret_cast<unsigned char*>(dst.data()),
                   src.size());
    for (std::size_t i = 0; i < src.size(); ++i) {
        ASSERT_EQ(hex(dst[i]), hex(f32_to_f16_soft(src[i]).bits)) << "input " << hex(bits32(src[i]));
    }
}

TEST_P(F16Runs, EveryLengthAndMisalignmentWritesExactlyNElements) {
    constexpr std::size_t kMax = 40;
    constexpr unsigned char kGuard = 0xA5;
    for (std::size_t offset : {0u, 1u, 3u}) {
        for (std::size_t n = 0; n <= kMax; ++n) {
            SCOPED_TRACE("n = " + std::to_string(n) + ", offset = " + std::to_string(offset));
            // Inputs: binary16 patterns spread over all classes, and their binary32 widenings.
            std::vector<unsigned char> h_src(offset + 2 * kMax), f_src(offset + 4 * kMax);
            for (std::size_t i = 0; i < kMax; ++i) {
                const auto h = static_cast<std::uint16_t>(i * 1637u + 0x7BF0u * (i & 1u));
                std::memcpy(&h_src[offset + 2 * i], &h, 2);
                const float x = std::bit_cast<float>(static_cast<std::uint32_t>(i * 0x0B7A3C91u));
                std::memcpy(&f_src[offset + 4 * i], &x, 4);
            }
            std::vector<unsigned char> f_dst(offset + 4 * kMax + 8, kGuard);
            std::vector<unsigned char> h_dst(offset + 2 * kMax + 8, kGuard);
            f16_run_to_f32(h_src.data() + offset, f_dst.data() + offset, n);
            f32_run_to_f16(f_src.data() + offset, h_dst.data() + offset, n);
            for (std::size_t i = 0; i < n; ++i) {
                std::uint16_t h, hn;
                float x, xw;
                std::memcpy(&h, &h_src[offset + 2 * i], 2);
                std::memcpy(&xw, &f_dst[offset + 4 * i], 4);
                std::memcpy(&x, &f_src[offset + 4 * i], 4);
                std::memcpy(&hn, &h_dst[offset + 2 * i], 2);
                EXPECT_EQ(hex(bits32(xw)), hex(bits32(f16_to_f32_soft(f16{h})))) << "element " << i;
                EXPECT_EQ(hex(hn), hex(f32_to_f16_soft(x).bits)) << "element " << i;
            }
            for (std::size_t j = 0; j < offset; ++j) {
                EXPECT_EQ(f_dst[j], kGuard);
                EXPECT_EQ(h_dst[j], kGuard);
            }
            for (std::size_t j = offset + 4 * n; j < f_dst.size(); ++j) EXPECT_EQ(f_dst[j], kGuard) << j;
            for (std::size_t j = offset + 2 * n; j < h_dst.size(); ++j) EXPECT_EQ(h_dst[j], kGuard) << j;
        }
    }
}

// ---- add, sub, abs ---------------------------------------------------------------------------

struct ArithRow {
    std::uint16_t a, b, sum, difference;
    const char* what;
};

TEST(F16Arith, AddSubTable) {
    const std::vector<ArithRow> rows = {
        {0x7BFF, 0x4C00, 0x7C00, 0x7BFE, "65504 + 16 rounds to infinity, 65504 - 16 ties to even"},
        {0x7BFF, 0x4800, 0x7BFF, 0x7BFF, "65504 + 8 and 65504 - 8 round back to 65504"},
        {0xFBFF, 0x4C00, 0xFBFE, 0xFC00, "-65504 - 16 rounds to -infinity"},
        {0x3C00, 0x3C00, 0x4000, 0x0000, "1 + 1, 1 - 1 = +0"},
        {0xBC00, 0x3C00, 0x0000, 0xC000, "-1 + 1 = +0"},
        {0x8000, 0x8000, 0x8000, 0x0000, "-0 + -0 = -0, -0 - -0 = +0"},
        {0x0000, 0x8000, 0x0000, 0x0000, "+0 + -0 = +0"},
        {0x8000, 0x0000, 0x0000, 0x8000, "-0 - +0 = -0"},
        {0x0001, 0x0001, 0x0002, 0x0000, "subnormals"},
        {0x03FF, 0x0001, 0x0400, 0x03FE, "carry into the normal range"},
        {0x3C00, 0x1000, 0x3C00, 0x3BFF, "1 + 2^-11 ties to even"},
        {0x3C01, 0x1000, 0x3C02, 0x3C00, "1.0009765625 + 2^-11 ties to even"},
        {0x7C00, 0x3C00, 0x7C00, 0x7C00, "inf and a finite value"},
        {0x7C00, 0x7C00, 0x7C00, 0xFE00, "inf - inf is the default NaN"},
        {0x7C00, 0xFC00, 0xFE00, 0x7C00, "inf + -inf is the default NaN"},
        {0x7C01, 0x3C00, 0x7E01, 0x7E01, "signalling NaN operand comes back quiet"},
        {0x3C00, 0xFD55, 0xFF55, 0xFF55, "NaN right operand keeps its sign in both"},
        {0x7D00, 0xFE01, 0x7F00, 0x7F00, "two NaNs: the left one"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.what) + " " + hex(r.a) + ", " + hex(r.b));
        EXPECT_EQ(hex(add(f16{r.a}, f16{r.b}).bits), hex(r.sum));
        EXPECT_EQ(hex(sub(f16{r.a}, f16{r.b}).bits), hex(r.difference));
    }
}

// Right-hand operands for the pairwise checks: the boundaries of every class, then a spread.
std::vector<std::uint16_t> operand_sample() {
    std::vector<std::uint16_t> s = {0x0000, 0x0001, 0x0002, 0x01FF, 0x0200, 0x03FF, 0x0400, 0x0401,
                                    0x1000, 0x3BFF, 0x3C00, 0x3C01, 0x4000, 0x4800, 0x4C00, 0x7800,
                                    0x7BFE, 0x7BFF, 0x7C00, 0x7C01, 0x7D55, 0x7E00, 0x7FFF};
    const std::size_t base = s.size();
    for (std::size_t i = 0; i < base; ++i) s.push_back(static_cast<std::uint16_t>(s[i] | 0x8000u));
    for (std::uint32_t b = 17; b < 65536u; b += 331) s.push_back(static_cast<std::uint16_t>(b));
    return s;
}

// The correctly rounded binary16 sum or difference of the exact values. Rounding the binary32
// result again is the same thing: 24 bits are enough for double rounding to be innocuous.
std::uint16_t ref_arith(std::uint16_t a, std::uint16_t b, bool subtract) {
    if (ref_is_nan(a)) return a | 0x0200u;
    if (ref_is_nan(b)) return b | 0x0200u;
    const double x = ref_value(a);
    const double y = subtract ? -ref_value(b) : ref_value(b);
    if (std::isinf(x) && std::isinf(y) && (x > 0) != (y > 0)) return 0xFE00;
    // Both finite: the double sum is exact (binary16 values span 40 bits at most).
    return ref_round_to_f16(x + y);
}

TEST(F16Arith, AddSubAgainstExactArithmetic) {
    const std::vector<std::uint16_t> sample = operand_sample();
    int failures = 0;
    for (std::uint32_t ab = 0; ab < 65536u && failures < 10; ++ab) {
        const auto a = static_cast<std::uint16_t>(ab);
        for (std::uint16_t b : sample) {
            const std::uint16_t s = add(f16{a}, f16{b}).bits;
            const std::uint16_t d = sub(f16{a}, f16{b}).bits;
            const std::uint16_t want_s = ref_arith(a, b, false);
            const std::uint16_t want_d = ref_arith(a, b, true);
            if (s != want_s || d != want_d) {
                ++failures;
                ADD_FAILURE() << hex(a) << ", " << hex(b) << ": sum " << hex(s) << " want "
                              << hex(want_s) << ", difference " << hex(d) << " want " << hex(want_d);
            }
        }
    }
}

TEST(F16Arith, AbsOfEveryPattern) {
    for (std::uint32_t b = 0; b < 65536u; ++b) {
        const auto h = static_cast<std::uint16_t>(b);
        const std::uint16_t want = ref_is_nan(h) ? static_cast<std::uint16_t>((h & 0x7FFFu) | 0x0200u)
                                                 : static_cast<std::uint16_t>(h & 0x7FFFu);
        ASSERT_EQ(hex(abs(f16{h}).bits), hex(want));
    }
}

// ---- Comparisons -------------------------------------------------------------------------------

struct CompareRow {
    std::uint16_t a, b;
    bool lt, le, gt, ge, eq;
    const char* what;
};

void expect_comparisons(std::uint16_t a, std::uint16_t b, bool lt, bool le, bool gt, bool ge, bool eq) {
    const f16 x{a}, y{b};
    EXPECT_EQ(x < y, lt);
    EXPECT_EQ(x <= y, le);
    EXPECT_EQ(x > y, gt);
    EXPECT_EQ(x >= y, ge);
    EXPECT_EQ(x == y, eq);
    EXPECT_EQ(x != y, !eq);
}

TEST(F16Compare, Table) {
    const std::vector<CompareRow> rows = {
        {0x8000, 0x0000, false, true, false, true, true, "-0 equals +0"},
        {0x0000, 0x8000, false, true, false, true, true, "+0 equals -0"},
        {0x8001, 0x0000, true, true, false, false, false, "negative subnormal below +0"},
        {0x8001, 0x8000, true, true, false, false, false, "negative subnormal below -0"},
        {0x0001, 0x8000, false, false, true, true, false, "positive subnormal above -0"},
        {0xFC00, 0xFBFF, true, true, false, false, false, "-inf below the lowest finite"},
        {0x7BFF, 0x7C00, true, true, false, false, false, "largest finite below +inf"},
        {0xBC00, 0xC000, false, false, true, true, false, "-1 above -2"},
        {0x3C00, 0x3C00, false, true, false, true, true, "equal patterns"},
        {0x7E00, 0x7E00, false, false, false, false, false, "a NaN is not equal to itself"},
        {0x7C01, 0x3C00, false, false, false, false, false, "NaN left"},
        {0x3C00, 0xFE00, false, false, false, false, false, "NaN right"},
        {0x7C00, 0x7C01, false, false, false, false, false, "inf and the NaN next to it"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.what) + " " + hex(r.a) + ", " + hex(r.b));
        expect_comparisons(r.a, r.b, r.lt, r.le, r.gt, r.ge, r.eq);
    }
}

static_assert(f16{0x8000} == f16{0x0000});
static_assert(!(f16{0x7E00} == f16{0x7E00}));
static_assert(f16{0xFC00} < f16{0xFBFF});

TEST(F16Compare, AgreeWithExactValues) {
    const std::vector<std::uint16_t> sample = operand_sample();
    int failures = 0;
    for (std::uint32_t ab = 0; ab < 65536u && failures < 10; ++ab) {
        const auto a = static_cast<std::uint16_t>(ab);
        for (std::uint16_t b : sample) {
            const bool unordered = ref_is_nan(a) || ref_is_nan(b);
            const double x = unordered ? 0 : ref_value(a);
            const double y = unordered ? 0 : ref_value(b);
            const f16 fa{a}, fb{b};
            const bool ok = (fa < fb) == (!unordered && x < y) && (fa <= fb) == (!unordered && x <= y) &&
                            (fa > fb) == (!unordered && x > y) && (fa >= fb) == (!unordered && x >= y) &&
                            (fa == fb) == (!unordered && x == y) && (fa != fb) == (unordered || x != y);
            if (!ok) {
                ++failures;
                ADD_FAILURE() << hex(a) << " vs " << hex(b);
            }
        }
    }
}

}  // namespace
}  // namespace pelm_ossrel
