// The processor feature word and the processor level chosen from it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cpu_features.hpp"
#include "simd/bodies.hpp"
#include "simd/level.hpp"

namespace pelm_ossrel {
namespace {

TEST(CpuFeatures, CachedWordEqualsAFreshProbeAndIsNeverZero) {
    const std::uint64_t word = cpu_feature_word();
    EXPECT_NE(word, 0u);
    EXPECT_NE(word & kCpuProbed, 0u);
    EXPECT_EQ(word, probe_cpu_features());
    EXPECT_EQ(cpu_feature_word(), word);  // stays fixed
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

TEST(Levels, ChosenFromTheFeatureWord) {
    std::uint64_t v3 = kCpuProbed;
    for (std::uint64_t b : kX8664V3Features) v3 |= b;
    EXPECT_EQ(level_from_feature_word(v3 | kCpuF16C), Level::Avx2);
    EXPECT_EQ(level_from_feature_word(v3), Level::Avx) << "the x86-64-v3 bodies convert binary16 with F16C";
    EXPECT_EQ(level_from_feature_word((v3 | kCpuF16C) & ~kCpuAVX2), Level::Avx);
    EXPECT_EQ(level_from_feature_word(kCpuProbed | kCpuAVX), Level::Avx);
    EXPECT_EQ(level_from_feature_word(kCpuProbed | kCpuAVX | kCpuF16C), Level::Avx);
    EXPECT_EQ(level_from_feature_word(kCpuProbed | kCpuSSE3 | kCpuSSSE3 | kCpuSSE41 | kCpuSSE42), Level::Generic);
    EXPECT_EQ(level_from_feature_word(kCpuProbed), Level::Generic);
}

TEST(Levels, DetectedLevelAgreesWithTheWord) {
    EXPECT_EQ(detected_level(), level_from_feature_word(cpu_feature_word()));
    EXPECT_EQ(active_level(), detected_level());
    for (Level level : kAllLevels) EXPECT_EQ(level_available(level), level <= detected_level()) << level_name(level);
    EXPECT_TRUE(level_available(Level::Generic));
}

TEST(Levels, ScopedCapsNestAndRestore) {
    const Level detected = detected_level();
    {
        const ScopedLevelCap generic(Level::Generic);
        EXPECT_EQ(active_level(), Level::Generic);
        EXPECT_EQ(&simd::active_bodies(), &simd::bodies_for(Level::Generic));
        {
            // A cap never raises the level.
            const ScopedLevelCap widest(Level::Avx2);
            EXPECT_EQ(active_level(), detected);
        }
        EXPECT_EQ(active_level(), Level::Generic);
    }
    EXPECT_EQ(active_level(), detected);
    const ScopedLevelCap avx(Level::Avx);
    EXPECT_EQ(active_level(), detected < Level::Avx ? detected : Level::Avx);
}

TEST(Levels, TablesNameTheirLevel) {
    for (Level level : kAllLevels) {
        if (!level_available(level)) continue;
        EXPECT_EQ(simd::bodies_for(level).level, level) << level_name(level);
    }
    EXPECT_EQ(level_name(Level::Generic), "generic");
    EXPECT_EQ(level_name(Level::Avx), "avx");
    EXPECT_EQ(level_name(Level::Avx2), "avx2");
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
    for (const Row& r : rows) EXPECT_EQ((cpu_feature_word() & r.bit) != 0, r.runtime) << r.name;
    // The compiler's level also asks for MOVBE, so it can only be stricter.
    if (__builtin_cpu_supports("x86-64-v3")) {
        EXPECT_EQ(detected_level(), Level::Avx2);
    }
}
#endif

}  // namespace
}  // namespace pelm_ossrel
