// Converts a sample of int32 readings to int8 and uint8 under each out-of-range mode and
// prints the results as a table, then the error that stops a run given no mode.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "config.hpp"
#include "int_to_int.hpp"
#include "modes.hpp"
#include "slice.hpp"

namespace {

using pelm_ossrel::CastResult;
using pelm_ossrel::DstSlice;
using pelm_ossrel::IntToIntConfig;
using pelm_ossrel::OptionalOutOfRangeMode;
using pelm_ossrel::OutOfRangeMode;
using pelm_ossrel::SrcSlice;

constexpr std::array<std::int32_t, 9> kReadings = {-300, -129, -128, 0, 127, 128, 255, 300, 70000};

template <class D>
CastResult convert(const std::int32_t* src, D* dst, std::size_t n, OptionalOutOfRangeMode mode) {
    const IntToIntConfig<std::int32_t, D> config{{}, mode};
    return pelm_ossrel::convert_slice_int_to_int<std::int32_t, D>(SrcSlice<std::int32_t>(src, n),
                                                                  DstSlice<D>(dst, n), config);
}

// One reading converted under one mode: the stored value, or "error" when refused.
template <class D>
std::string cell(std::int32_t reading, OptionalOutOfRangeMode mode) {
    D out{};
    if (convert(&reading, &out, 1, mode)) return "error";
    return std::to_string(static_cast<long long>(out));
}

// The whole run converted without a mode: the error of the first failing reading.
template <class D>
void print_stop(const char* name) {
    std::array<D, kReadings.size()> out{};
    const CastResult r = convert(kReadings.data(), out.data(), kReadings.size(), {});
    std::printf("  to %-6s %s\n", name, r ? r->message().c_str() : "no error");
}

// `text` centred in `width` columns.
std::string centred(const std::string& text, std::size_t width) {
    const std::size_t left = (width - text.size()) / 2;
    return std::string(left, ' ') + text + std::string(width - text.size() - left, ' ');
}

}  // namespace

int main() {
    const OptionalOutOfRangeMode clamp = OutOfRangeMode::Clamp;
    const OptionalOutOfRangeMode wrap = OutOfRangeMode::Wrap;
    const OptionalOutOfRangeMode none;
    constexpr std::size_t kGroup = 3 * 7 + 2;  // three columns of 7

    std::printf("int32 readings converted to int8 and uint8 under each out-of-range mode "
                "(\"error\": refused)\n\n");
    std::string groups = centred("to int8", kGroup) + " | " + centred("to uint8", kGroup);
    groups.erase(groups.find_last_not_of(' ') + 1);
    std::printf("%8s | %s\n", "", groups.c_str());
    std::printf("%8s | %7s %7s %7s | %7s %7s %7s\n", "int32", "clamp", "wrap", "no mode", "clamp",
                "wrap", "no mode");
    std::printf("%s-+-%s-+-%s\n", std::string(8, '-').c_str(), std::string(kGroup, '-').c_str(),
                std::string(kGroup, '-').c_str());
    for (std::int32_t reading : kReadings) {
        std::printf("%8d | %7s %7s %7s | %7s %7s %7s\n", reading,
                    cell<std::int8_t>(reading, clamp).c_str(),
                    cell<std::int8_t>(reading, wrap).c_str(),
                    cell<std::int8_t>(reading, none).c_str(),
                    cell<std::uint8_t>(reading, clamp).c_str(),
                    cell<std::uint8_t>(reading, wrap).c_str(),
                    cell<std::uint8_t>(reading, none).c_str());
    }

    std::printf("\nConverting the whole run with no mode stops at the first reading out of range:\n");
    print_stop<std::int8_t>("int8:");
    print_stop<std::uint8_t>("uint8:");
    return 0;
}
