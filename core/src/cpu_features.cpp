#include "cpu_features.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace pelm_ossrel {

namespace detail {

constinit std::atomic<std::uint64_t> g_cpu_feature_word{0};

std::uint64_t probe_and_store_cpu_feature_word() noexcept {
    const std::uint64_t word = probe_cpu_features();
    g_cpu_feature_word.store(word, std::memory_order_relaxed);
    return word;
}

}  // namespace detail

#if defined(__x86_64__) || defined(__i386__)

namespace {

// CPUID leaves.
constexpr unsigned kLeafBasicMax = 0x00000000u;
constexpr unsigned kLeafFeatures = 0x00000001u;
constexpr unsigned kLeafExtendedFeatures = 0x00000007u;
constexpr unsigned kLeafExtendedMax = 0x80000000u;
constexpr unsigned kLeafExtendedInfo = 0x80000001u;

// Leaf 1, ECX.
constexpr unsigned kLeaf1EcxSSE3 = 1u << 0;
constexpr unsigned kLeaf1EcxSSSE3 = 1u << 9;
constexpr unsigned kLeaf1EcxFMA = 1u << 12;
constexpr unsigned kLeaf1EcxSSE41 = 1u << 19;
constexpr unsigned kLeaf1EcxSSE42 = 1u << 20;
constexpr unsigned kLeaf1EcxPOPCNT = 1u << 23;
constexpr unsigned kLeaf1EcxXSAVE = 1u << 26;
constexpr unsigned kLeaf1EcxOSXSAVE = 1u << 27;
constexpr unsigned kLeaf1EcxAVX = 1u << 28;
constexpr unsigned kLeaf1EcxF16C = 1u << 29;

// Leaf 7 (sub-leaf 0), EBX.
constexpr unsigned kLeaf7EbxBMI1 = 1u << 3;
constexpr unsigned kLeaf7EbxAVX2 = 1u << 5;
constexpr unsigned kLeaf7EbxBMI2 = 1u << 8;

// Leaf 0x80000001, ECX.
constexpr unsigned kLeaf80000001EcxLZCNT = 1u << 5;

// XCR0: register state the operating system saves and restores.
constexpr std::uint64_t kXcr0SSE = std::uint64_t{1} << 1;
constexpr std::uint64_t kXcr0AVX = std::uint64_t{1} << 2;

// XGETBV(0). Written as plain assembly so that this file needs no XSAVE code-generation flag;
// it is executed only after CPUID has reported OSXSAVE.
std::uint64_t read_xcr0() noexcept {
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0u));
    return (std::uint64_t{hi} << 32) | lo;
}

std::uint64_t flag_if(bool present, std::uint64_t bit) noexcept { return present ? bit : 0; }

}  // namespace

std::uint64_t probe_cpu_features() noexcept {
    std::uint64_t word = kCpuProbed;

    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const unsigned max_basic = __get_cpuid_max(kLeafBasicMax, nullptr);
    if (max_basic < kLeafFeatures) return word;

    __cpuid(kLeafFeatures, eax, ebx, ecx, edx);
    const unsigned leaf1_ecx = ecx;

    // The YMM state must be enabled by the operating system before any VEX-encoded feature counts.
    bool os_saves_avx_state = false;
    if ((leaf1_ecx & kLeaf1EcxXSAVE) != 0 && (leaf1_ecx & kLeaf1EcxOSXSAVE) != 0) {
        os_saves_avx_state = (read_xcr0() & (kXcr0SSE | kXcr0AVX)) == (kXcr0SSE | kXcr0AVX);
    }

    word |= flag_if((leaf1_ecx & kLeaf1EcxSSE3) != 0, kCpuSSE3);
    word |= flag_if((leaf1_ecx & kLeaf1EcxSSSE3) != 0, kCpuSSSE3);
    word |= flag_if((leaf1_ecx & kLeaf1EcxSSE41) != 0, kCpuSSE41);
    word |= flag_if((leaf1_ecx & kLeaf1EcxSSE42) != 0, kCpuSSE42);
    word |= flag_if((leaf1_ecx & kLeaf1EcxPOPCNT) != 0, kCpuPOPCNT);
    word |= flag_if(os_saves_avx_state && (leaf1_ecx & kLeaf1EcxAVX) != 0, kCpuAVX);
    word |= flag_if(os_saves_avx_state && (leaf1_ecx & kLeaf1EcxFMA) != 0, kCpuFMA);
    word |= flag_if(os_saves_avx_state && (leaf1_ecx & kLeaf1EcxF16C) != 0, kCpuF16C);

    if (max_basic >= kLeafExtendedFeatures) {
        __cpuid_count(kLeafExtendedFeatures, 0, eax, ebx, ecx, edx);
        const unsigned leaf7_ebx = ebx;
        word |= flag_if(os_saves_avx_state && (leaf7_ebx & kLeaf7EbxAVX2) != 0, kCpuAVX2);
        word |= flag_if((leaf7_ebx & kLeaf7EbxBMI1) != 0, kCpuBMI1);
        word |= flag_if((leaf7_ebx & kLeaf7EbxBMI2) != 0, kCpuBMI2);
    }

    const unsigned max_extended = __get_cpuid_max(kLeafExtendedMax, nullptr);
    if (max_extended >= kLeafExtendedInfo) {
        __cpuid(kLeafExtendedInfo, eax, ebx, ecx, edx);
        word |= flag_if((ecx & kLeaf80000001EcxLZCNT) != 0, kCpuLZCNT);
    }
    return word;
}

#else

// No x86 features elsewhere: only the probed marker.
std::uint64_t probe_cpu_features() noexcept { return kCpuProbed; }

#endif

}  // namespace pelm_ossrel
