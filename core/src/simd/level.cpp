// The choice of the processor level and of its table of bodies.
#include "simd/level.hpp"

#include <atomic>

#include "cpu_features.hpp"
#include "simd/bodies.hpp"

namespace pelm_ossrel {

namespace {

// The table the conversions run: null until first chosen. Threads that race on the first use
// all compute and store the same answer.
constinit std::atomic<const simd::LevelBodies*> g_active{nullptr};

const simd::LevelBodies& choose_detected() noexcept {
    const simd::LevelBodies& bodies = simd::bodies_for(detected_level());
    g_active.store(&bodies, std::memory_order_relaxed);
    return bodies;
}

}  // namespace

std::string_view level_name(Level level) noexcept {
    switch (level) {
        case Level::Generic: return "generic";
        case Level::Avx: return "avx";
        case Level::Avx2: return "avx2";
    }
    return "generic";
}

Level level_from_feature_word(std::uint64_t word) noexcept {
    if (x86_64_v3_from_word(word) && (word & kCpuF16C) != 0) return Level::Avx2;
    if ((word & kCpuAVX) != 0) return Level::Avx;
    return Level::Generic;
}

Level detected_level() noexcept { return level_from_feature_word(cpu_feature_word()); }

Level active_level() noexcept { return simd::active_bodies().level; }

ScopedLevelCap::ScopedLevelCap(Level cap) noexcept : previous_(&simd::active_bodies()) {
    const Level detected = detected_level();
    g_active.store(&simd::bodies_for(cap < detected ? cap : detected), std::memory_order_relaxed);
}

ScopedLevelCap::~ScopedLevelCap() {
    g_active.store(static_cast<const simd::LevelBodies*>(previous_), std::memory_order_relaxed);
}

namespace simd {

const LevelBodies& bodies_for(Level level) noexcept {
    switch (level) {
        case Level::Avx2: return avx2::bodies();
        case Level::Avx: return avx::bodies();
        case Level::Generic: break;
    }
    return generic::bodies();
}

const LevelBodies& active_bodies() noexcept {
    const LevelBodies* bodies = g_active.load(std::memory_order_relaxed);
    if (bodies != nullptr) [[likely]] return *bodies;
    return choose_detected();
}

}  // namespace simd

}  // namespace pelm_ossrel
