// Processor levels: which set of vector bodies (simd/bodies.hpp) the conversions run.
//
// The widest level the processor has is found once per process (CPUID and XGETBV,
// cpu_features.hpp) and its table of bodies is chosen then. Tests cap the level for a scope, so
// that every level this processor has can be watched through the public conversions.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelm_ossrel {

// Ordered from narrowest to widest.
enum class Level : std::uint8_t {
    Generic = 0,  // baseline x86-64 (SSE2)
    Avx = 1,      // AVX
    Avx2 = 2,     // the x86-64-v3 level with F16C
};

inline constexpr Level kAllLevels[] = {Level::Avx2, Level::Avx, Level::Generic};

std::string_view level_name(Level level) noexcept;

// The level of a processor feature word (cpu_features.hpp).
Level level_from_feature_word(std::uint64_t word) noexcept;

// The widest level this processor has.
Level detected_level() noexcept;

// Whether this processor can run `level`.
inline bool level_available(Level level) noexcept { return level <= detected_level(); }

// The level whose bodies the conversions run: the detected one, or the cap of the innermost
// ScopedLevelCap alive, whichever is narrower.
Level active_level() noexcept;

// For tests: while alive, the conversions run the bodies of min(cap, detected level). Not for
// concurrent use with conversions on other threads; scopes nest.
class ScopedLevelCap {
public:
    explicit ScopedLevelCap(Level cap) noexcept;
    ~ScopedLevelCap();
    ScopedLevelCap(const ScopedLevelCap&) = delete;
    ScopedLevelCap& operator=(const ScopedLevelCap&) = delete;

private:
    const void* previous_;
};

}  // namespace pelm_ossrel
