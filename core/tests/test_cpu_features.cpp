// The processor feature word and the x86-64-v3 answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cpu_features.hpp"

namespace pelm_ossrel {
namespace {

TEST(CpuFeatures, CachedWordEqualsAFreshProbeAndIsNeverZero) {
    const std::uint64_t word = cpu_feature_word();
    EXPECT_NE(word, 0u);
    EXPECT_NE(word & kCpuProbed, 0u);
    EXPECT_EQ(word, probe_cpu_features());
    EXPECT_EQ(cpu_feature_word(), word);  // stays fixed
}

TEST(CpuFeatures, CpuHasNeedsEveryRequestedBit) {
    const std::uint64_t word = cpu_feature_word();
    EXPECT_TRUE(cpu_has(0));
    EXPECT_TRUE(cpu_has(kCpuProbed));
    const std::uint64_t all[] = {kCpuSSE3, kCpuSSSE3, kCpuSSE41, kCpuSSE42, kCpuPOPCNT, kCpuAVX,  kCpuAVX2,
                                 kCpuBMI1, kCpuBMI2,  kCpuFMA,   kCpuLZCNT, kCpuF16C};
    for (std::uint64_t a : all) {
        EXPECT_EQ(cpu_has(a), (word & a) != 0) << a;
        for (std::uint64_t b : all) EXPECT_EQ(cpu_has(a | b), (word & a) != 0 && (word & b) != 0);
    }
}

TEST(CpuFeatures, BitsAreDistinct) {
    const std::uint64_t all[] = {kCpuProbed, kCpuSSE3, kCpuSSSE3, kCpuSSE41, kCpuSSE42, kCpuPOPCNT, kCpuAVX,
                                 kCpuAVX2,   kCpuBMI1, kCpuBMI2,  kCpuFMA,   kCpuLZCNT, kCpuF16C};
    std::uint64_t seen = 0;
    for (std::uint64_t b : all) {
        EXPECT_EQ(b & (b - 1), 0u) << "one bit each";
        EXPECT_EQ(seen & b, 0u);
        seen |= b;
    }
}

TEST(CpuFeatures, LevelTestNeedsEachOfItsFeaturesAndNothingElse) {
    std::uint64_t v3 = kCpuProbed;
    for (std::uint64_t b : kX8664V3Features) v3 |= b;
    EXPECT_TRUE(x86_64_v3_from_word(v3));
    EXPECT_FALSE(x86_64_v3_from_word(kCpuProbed));
    EXPECT_FALSE(x86_64_v3_from_word(kCpuProbed | kCpuF16C));
    EXPECT_TRUE(x86_64_v3_from_word(v3 | kCpuF16C));
    EXPECT_TRUE(x86_64_v3_from_word(v3 & ~kCpuF16C)) << "F16C is not part of the level";
    for (std::uint64_t b : kX8664V3Features) EXPECT_FALSE(x86_64_v3_from_word(v3 & ~b)) << b;
    const std::vector<std::uint64_t> order(std::begin(kX8664V3Features), std::end(kX8664V3Features));
    EXPECT_EQ(order, (std::vector<std::uint64_t>{kCpuSSE3, kCpuSSSE3, kCpuSSE41, kCpuSSE42, kCpuPOPCNT, kCpuAVX,
                                                 kCpuAVX2, kCpuBMI1, kCpuBMI2, kCpuFMA, kCpuLZCNT}));
}

TEST(CpuFeatures, CachedLevelAnswerAgreesWithTheWord) {
    const bool v3 = has_x86_64_v3();
    EXPECT_EQ(v3, x86_64_v3_from_word(cpu_feature_word()));
    EXPECT_EQ(has_x86_64_v3(), v3);
    if (v3) {
        for (std::uint64_t b : kX8664V3Features) EXPECT_TRUE(cpu_has(b)) << b;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
TEST(CpuFeatures, AgreesWithTheCompilersOwnDetection) {
    // The compiler runtime probes CPUID and XGETBV on its own; each feature must match it.
    __builtin_cpu_init();
    struct Row {
        std::uint64_t bit;
        bool runtime;
        const char* name;
    };
    const Row rows[] = {
        {kCpuSSE3, __builtin_cpu_supports("sse3") != 0, "sse3"},
        {kCpuSSSE3, __builtin_cpu_supports("ssse3") != 0, "ssse3"},
        {kCpuSSE41, __builtin_cpu_supports("sse4.1") != 0, "sse4.1"},
        {kCpuSSE42, __builtin_cpu_supports("sse4.2") != 0, "sse4.2"},
        {kCpuPOPCNT, __builtin_cpu_supports("popcnt") != 0, "popcnt"},
        {kCpuAVX, __builtin_cpu_supports("avx") != 0, "avx"},
        {kCpuAVX2, __builtin_cpu_supports("avx2") != 0, "avx2"},
        {kCpuBMI1, __builtin_cpu_supports("bmi") != 0, "bmi"},
        {kCpuBMI2, __builtin_cpu_supports("bmi2") != 0, "bmi2"},
        {kCpuFMA, __builtin_cpu_supports("fma") != 0, "fma"},
        {kCpuLZCNT, __builtin_cpu_supports("lzcnt") != 0, "lzcnt"},
        {kCpuF16C, __builtin_cpu_supports("f16c") != 0, "f16c"},
    };
    for (const Row& r : rows) EXPECT_EQ(cpu_has(r.bit), r.runtime) << r.name;
    // The compiler's level also asks for MOVBE and F16C, so it can only be stricter.
    if (__builtin_cpu_supports("x86-64-v3")) {
        EXPECT_TRUE(has_x86_64_v3());
    }
}
#endif

}  // namespace
}  // namespace pelm_ossrel
