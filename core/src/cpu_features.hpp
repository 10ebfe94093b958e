// Processor features, probed once per process with CPUID and XGETBV; simd/level.hpp turns them
// into the processor level.
//
// The feature word is zero until the first probe and never zero afterwards (kCpuProbed is always
// set), so "not yet probed" costs nothing to recognise. The cached word is written without a
// lock: threads that race on the first use all compute and store the same answer.
#pragma once

#include <atomic>
#include <cstdint>

namespace pelm_ossrel {

// Bits of the processor feature word. AVX, AVX2, FMA and F16C are set only when the operating
// system also saves the SSE and AVX register state (XSAVE, OSXSAVE and XCR0 bits 1 and 2).
inline constexpr std::uint64_t kCpuProbed = std::uint64_t{1} << 0;
inline constexpr std::uint64_t kCpuSSE3 = std::uint64_t{1} << 1;
inline constexpr std::uint64_t kCpuSSSE3 = std::uint64_t{1} << 2;
inline constexpr std::uint64_t kCpuSSE41 = std::uint64_t{1} << 3;
inline constexpr std::uint64_t kCpuSSE42 = std::uint64_t{1} << 4;
inline constexpr std::uint64_t kCpuPOPCNT = std::uint64_t{1} << 5;
inline constexpr std::uint64_t kCpuAVX = std::uint64_t{1} << 6;
inline constexpr std::uint64_t kCpuAVX2 = std::uint64_t{1} << 7;
inline constexpr std::uint64_t kCpuBMI1 = std::uint64_t{1} << 8;
inline constexpr std::uint64_t kCpuBMI2 = std::uint64_t{1} << 9;
inline constexpr std::uint64_t kCpuFMA = std::uint64_t{1} << 10;
inline constexpr std::uint64_t kCpuLZCNT = std::uint64_t{1} << 11;
inline constexpr std::uint64_t kCpuF16C = std::uint64_t{1} << 12;

// The features of the x86-64-v3 level that the widest bodies rely on, in the order the level
// test examines them. MOVBE is deliberately not part of it; F16C is tested by the level choice
// (simd/level.hpp) on its own.
inline constexpr std::uint64_t kX8664V3Features[] = {
    kCpuSSE3, kCpuSSSE3, kCpuSSE41, kCpuSSE42, kCpuPOPCNT, kCpuAVX,
    kCpuAVX2, kCpuBMI1,  kCpuBMI2,  kCpuFMA,   kCpuLZCNT,
};

// A fresh probe of this processor, without touching the cache. Always has kCpuProbed.
std::uint64_t probe_cpu_features() noexcept;

// The level test on a feature word: every feature of kX8664V3Features present.
constexpr bool x86_64_v3_from_word(std::uint64_t word) noexcept {
    for (std::uint64_t bit : kX8664V3Features) {
        if ((word & bit) == 0) return false;
    }
    return true;
}

namespace detail {

// Zero until probed.
extern std::atomic<std::uint64_t> g_cpu_feature_word;

std::uint64_t probe_and_store_cpu_feature_word() noexcept;

}  // namespace detail

// The process-wide feature word: one load once probed.
inline std::uint64_t cpu_feature_word() noexcept {
    const std::uint64_t word = detail::g_cpu_feature_word.load(std::memory_order_relaxed);
    if (word != 0) [[likely]] return word;
    return detail::probe_and_store_cpu_feature_word();
}

}  // namespace pelm_ossrel
