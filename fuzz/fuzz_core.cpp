// Differential fuzz target of the conversion core.
//
// The input bytes choose one of the 121 (source, target) pairs (the 81 that the core converts
// under the modes, then the 40 direct pairs), the rounding mode, the out-of-range mode, a scalar
// map of up to 9 entries, the two slice lengths, their byte offsets (so neither is aligned), the
// old contents of the destination and the source values, which may repeat their first element
// every few places so that a key taken from it matches densely. The map's keys are mostly taken
// from the source itself, so that they match; others repeat an earlier key (the first entry
// must win), are NaNs of another payload or sign, zeros of either sign, near misses of a source
// integer, or values of their own.
// Three things must agree on every stored byte, on the error and on what is written before it:
//   - the public slice conversion of the pair's family;
//   - an exact model: integer arithmetic on decoded bit patterns (exact_model.hpp) and the
//     rules of each path, written here without any code of the core;
//   - for the four fast-path conversions, the element loop itself and the fast-path body of
//     every processor level this machine has, each measured against the model of its own path
//     (support/path_rules.hpp): the block bodies leave the failing block unwritten, the check
//     body reports the element before rounding (and a NaN before a range error within a block),
//     the nearest body writes every element before it reports.
// A direct pair is converted by the core only with a scalar map, so its cases always draw one:
// its conversion with the map and the direct body of each level (whole blocks only) are measured
// against the model's values (the direct pairs' rules in support/path_rules.hpp).
// The public conversion and the element loops run once per processor level this machine has.
// The public conversion runs once more at each level under a floating-point control other than
// the default, drawn from the last bytes of the input (a directed rounding, FTZ, DAZ, unmasked
// exceptions): it must store the same bytes, report the same error with the same text, and
// leave the control as it found it.
// A disagreement prints the case and aborts. Buffers are allocated to their exact size, so the
// address sanitizer sees any access beyond a slice.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "cast_error.hpp"
#include "render_number.hpp"
#include "config.hpp"
#include "direct_pairs.hpp"
#include "element_types.hpp"
#include "f16.hpp"
#include "fast_paths.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "lift_modes.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "simd/bodies.hpp"
#include "simd/level.hpp"
#include "slice.hpp"
#include "support/exact_model.hpp"
#include "support/float_control.hpp"
#include "support/mode_lists.hpp"
#include "support/path_rules.hpp"

namespace {

using namespace pelm_ossrel;
using namespace pelm_ossrel::testing_support;
using exact_model::Exact;
using exact_model::Format;
using exact_model::i128;
using exact_model::u128;

// ---- Reading the input --------------------------------------------------------------------

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next byte; zeros once the input is used up.
    std::uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }

    template <class T>
    T raw() {
        unsigned char b[sizeof(T)];
        for (auto& c : b) c = byte();
        T v;
        std::memcpy(&v, b, sizeof(T));
        return v;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Values near the limits, midpoints and thresholds of every pair.
constexpr i128 p2(int k) { return static_cast<i128>(1) << k; }
const i128 kIntegers[] = {
    0,           1,          2,           127,          128,         255,        256,
    2047,        2048,       2049,        4097,         32767,       32768,      65504,
    65505,       65519,      65520,       65535,        65536,       p2(24) + 1, p2(31) - 1,
    p2(31),      p2(32) - 1, p2(32),      p2(53) + 1,   p2(60) + 1,  p2(60) + p2(36) - 1,
    p2(63) - 1,  p2(63),     p2(64) - 1,  p2(53),       p2(62) + 1,  p2(24),     p2(25) + 3,
};

const double kFloats[] = {
    0.0,
    0.5,
    1.0,
    1.5,
    2.5,
    0.49999999999999994,
    127.5,
    128.0,
    254.5,
    255.5,
    256.0,
    1025.0,
    2049.0,
    32767.5,
    32768.0,
    65504.0,
    65519.998046875,
    65520.0,
    65536.0,
    8388609.0,
    16777217.0,
    2147483647.5,
    2147483648.0,
    4294967296.0,
    4503599627370497.0,
    9223372036854775808.0,
    18446744073709551616.0,
    3.4028234663852886e38,
    3.4028235677973366e38,
    1e39,
    1e300,
    0x1p-14,
    0x1p-24,
    0x1p-25,
    0x1p-126,
    0x1p-149,
    0x1p-1022,
    0x1p-1074,
    0.1,
    3e9,
};

template <class T>
T make_integer(Reader& in) {
    const std::uint8_t tag = in.byte();
    if (tag < 96) return in.raw<T>();
    if (tag < 224) {
        // Each table entry with both signs, then a small step either way.
        const std::size_t k = tag - 96;
        const i128 base = kIntegers[k % std::size(kIntegers)];
        const bool negative = (k / std::size(kIntegers)) % 2 != 0;
        const int delta = static_cast<std::int8_t>(in.byte()) / 32;  // -4 .. 3
        const i128 v = (negative ? -base : base) + delta;
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(static_cast<u128>(v)));
    }
    return static_cast<T>(static_cast<std::int8_t>(in.byte()));
}

template <class T>
using BitsOf = std::conditional_t<is_f16_v<T>, std::uint16_t,
                                  std::conditional_t<std::is_same_v<T, float>, std::uint32_t, std::uint64_t>>;

// Infinities and NaNs of every kind: the exponent all ones, the rest from the input; `kind` & 3
// chooses an infinity (0), a NaN with mostly its low fraction bits set, often signalling (1), or
// a NaN of any fraction (2, 3).
template <class T>
T make_non_finite(Reader& in, std::uint8_t kind) {
    using Bits = BitsOf<T>;
    constexpr int kWidth = 8 * sizeof(T);
    constexpr Bits kSign = static_cast<Bits>(Bits{1} << (kWidth - 1));
    constexpr int kFraction = exact_model::format_of<T>().fraction_bits;
    const Bits exponent = static_cast<Bits>(((Bits{1} << (kWidth - 1 - kFraction)) - 1) << kFraction);
    const Bits rest = in.raw<Bits>();
    Bits fraction = static_cast<Bits>(rest & ((Bits{1} << kFraction) - 1));
    if ((kind & 3) == 0) fraction = 0;                                     // infinity
    if ((kind & 3) == 1) fraction = static_cast<Bits>(fraction >> 4);      // mostly signalling
    return from_pattern<T>(static_cast<Bits>(exponent | fraction | (rest & kSign)));
}

// A NaN of any sign and payload (a zero fraction becomes the lowest payload).
template <class T>
T make_nan(Reader& in) {
    const T v = make_non_finite<T>(in, 2);
    return is_nan_model(v) ? v : from_pattern<T>(pattern(v) | 1);
}

template <class T>
T make_float(Reader& in) {
    using Bits = BitsOf<T>;
    constexpr int kWidth = 8 * sizeof(T);
    constexpr Bits kSign = static_cast<Bits>(Bits{1} << (kWidth - 1));
    const std::uint8_t tag = in.byte();
    if (tag < 64) return in.raw<T>();
    if (tag < 232) {
        // Each table entry with both signs, a few units in the last place either way.
        const std::size_t k = tag - 64;
        const double base = kFloats[k % std::size(kFloats)];
        Bits bits = 0;
        if constexpr (is_f16_v<T>) bits = f64_to_f16(base).bits;
        else bits = static_cast<Bits>(pattern(static_cast<T>(base)));
        bits = static_cast<Bits>(bits + static_cast<Bits>(static_cast<std::int8_t>(in.byte()) / 16));
        if ((k / std::size(kFloats)) % 2 != 0) bits ^= kSign;
        return from_pattern<T>(bits);
    }
    return make_non_finite<T>(in, tag);
}

template <class T>
T make_value(Reader& in) {
    if constexpr (is_float_element_v<T>) return make_float<T>(in);
    else return make_integer<T>(in);
}

// ---- Buffers -----------------------------------------------------------------------------

// A buffer of exactly the bytes of a slice, after `offset` leading bytes, filled with `fill`.
// An empty slice without offset has no storage at all: its data pointer is null.
struct Buffer {
    unsigned char* block = nullptr;
    std::size_t offset = 0;
    std::size_t bytes = 0;

    Buffer(std::size_t offset_, std::size_t bytes_, unsigned char fill = 0)
        : offset(offset_), bytes(bytes_) {
        if (offset + bytes == 0) return;
        block = new unsigned char[offset + bytes];
        std::memset(block, 0xEE, offset);
        std::memset(block + offset, fill, bytes);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { delete[] block; }
    unsigned char* data() const { return block != nullptr ? block + offset : nullptr; }
};


// ---- Comparing ----------------------------------------------------------------------------

bool same_number(double a, double b) {
    if (a != a || b != b) return a != a && b != b;
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_result(const CastResult& a, const CastResult& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    if (a->kind != b->kind || !same_number(a->value, b->value)) return false;
    return a->kind == CastError::Kind::NonFinite || (same_number(a->lo, b->lo) && same_number(a->hi, b->hi));
}

std::string describe(const CastResult& r) {
    if (!r) return "success";
    char text[160];
    std::snprintf(text, sizeof text, "%s value=%a lo=%a hi=%a: %s",
                  r->kind == CastError::Kind::NonFinite ? "NonFinite" : "OutOfRange", r->value, r->lo, r->hi,
                  r->message().c_str());
    return text;
}


template <class S, class D>
[[noreturn]] void fail(const Case<S, D>& c, const char* path, const Expected& want, const std::vector<unsigned char>& got_dst,
                       const CastResult& got) {
    std::fprintf(stderr, "\n%s (level %s): %s -> %s, mode %s, out_of_range %d, map %zu entries, src %zu, dst %zu\n",
                 path, std::string(level_name(active_level())).c_str(), element_name<S>().data(),
                 element_name<D>().data(), testing_support::rounding_name(c.mode).c_str(), static_cast<int>(c.oor.rule()),
                 c.map.size(), c.src.size(), c.dst_size);
    for (const auto& m : c.map)
        std::fprintf(stderr, "  map %#llx -> %#llx\n", static_cast<unsigned long long>(pattern(m.source)),
                     static_cast<unsigned long long>(pattern(m.target)));
    for (std::size_t i = 0; i < c.src.size(); ++i) {
        D w{}, g{};
        if (i < c.dst_size) {
            std::memcpy(&w, want.dst.data() + i * sizeof(D), sizeof(D));
            std::memcpy(&g, got_dst.data() + i * sizeof(D), sizeof(D));
        }
        std::fprintf(stderr, "  [%zu] src %#llx  want %#llx  got %#llx%s\n", i,
                     static_cast<unsigned long long>(pattern(c.src[i])), static_cast<unsigned long long>(pattern(w)),
                     static_cast<unsigned long long>(pattern(g)), pattern(w) != pattern(g) ? "   <--" : "");
    }
    std::fprintf(stderr, "  want: %s\n  got:  %s\n", describe(want.result).c_str(), describe(got).c_str());
    std::abort();
}

// A path run on a fresh destination: its bytes and its result.
struct Run {
    std::vector<unsigned char> dst;
    CastResult result;
};

template <class S, class D, class Fn>
Run run_path(const Case<S, D>& c, const Buffer& src, Fn&& fn) {
    Buffer dst(c.dst_offset, c.dst_size * sizeof(D), c.fill);
    const CastResult result = fn(SrcSlice<S>(src.data(), c.src.size()), DstSlice<D>(dst.data(), c.dst_size));
    return {std::vector<unsigned char>(dst.data(), dst.data() + dst.bytes), result};
}

bool matches(const Run& run, const Expected& want) { return run.dst == want.dst && same_result(run.result, want.result); }

template <class S, class D>
void require(const Case<S, D>& c, const char* path, const Run& run, const Expected& want) {
    if (!matches(run, want)) fail(c, path, want, run.dst, run.result);
}

// The significant digits of a decimal text (mantissa only), without leading or trailing zeros.
std::string significant_digits(std::string_view text) {
    std::string digits;
    for (char ch : text.substr(0, text.find('e')))
        if (ch >= '0' && ch <= '9') digits += ch;
    const auto first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    return digits.substr(first, digits.find_last_not_of('0') - first + 1);
}

// The error texts: each number reads back as itself, in positional notation, with the digits
// of the shortest decimal that does.
void check_rendering(double v) {
    const std::string text = render_number(v);
    bool ok = true;
    if (v != v) {
        ok = text == "NaN";
    } else if (std::isinf(v)) {
        ok = text == (v < 0 ? "-inf" : "inf");
    } else {
        char shortest[64];
        const auto end = std::to_chars(shortest, shortest + sizeof shortest, v, std::chars_format::scientific).ptr;
        ok = text.find_first_of("eE") == std::string::npos && same_number(std::strtod(text.c_str(), nullptr), v) &&
             significant_digits(text) == significant_digits(std::string_view(shortest, end - shortest));
    }
    if (!ok) {
        std::fprintf(stderr, "render_number(%a) gave \"%s\"\n", v, text.c_str());
        std::abort();
    }
}

void check_rendering(const CastResult& r) {
    if (!r) return;
    check_rendering(r->value);
    if (r->kind == CastError::Kind::OutOfRange) {
        check_rendering(r->lo);
        check_rendering(r->hi);
    }
}

// ---- The paths of each family -------------------------------------------------------------

template <class S, class D>
CastResult convert_public(const Case<S, D>& c, SrcSlice<S> src, DstSlice<D> dst) {
    const ScalarMap<S, D> map(c.map.data(), c.map.size());
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) {
        return convert_slice_int_to_int(src, dst, IntToIntConfig<S, D>{map, c.oor});
    } else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) {
        return convert_slice_float_to_int(src, dst, CastConfig<S, D>{map, c.oor, c.mode});
    } else if constexpr (is_integer_element_v<S>) {
        return convert_slice_int_to_float(src, dst, IntToFloatConfig<S, D>{map, c.mode});
    } else {
        return convert_slice_float_to_float(src, dst, CastConfig<S, D>{map, c.oor, c.mode});
    }
}

// The element loop of a fast-path conversion, reached past its fast-path offer.
template <class S, class D>
CastResult element_loop(const Case<S, D>& c, SrcSlice<S> src, DstSlice<D> dst) {
    const ScalarMap<S, D> map(c.map.data(), c.map.size());
    const std::size_t n = c.n();
    if (n == 0) return std::nullopt;
    return with_modes(c.mode, c.oor.rule(), [&]<RoundingMode M, OutOfRange O>() -> CastResult {
        if constexpr (is_integer_element_v<D>) return detail::float_to_int_run<S, D, M, O>(src, dst, map, n);
        else return detail::float_to_float_run<S, D, M, O>(src, dst, map, n);
    });
}

// A level's fast-path body over the case's slices, as a conversion result.
template <class S, class D>
CastResult call_body(simd::Body body, SrcSlice<S> src, DstSlice<D> dst, simd::BodyModes modes) {
    const std::size_t n = src.size() < dst.size() ? src.size() : dst.size();
    return to_cast_result(body(src.bytes(), dst.bytes(), n, modes));
}

// The fast path of a pair: which kernel, its block sizes per level, and the conversion's
// condition for offering it.
template <class S, class D>
struct FastPath {
    static constexpr bool exists = false;
};

// At each level this machine has: the element loop, the level's body against the model of its
// path, the selection (which runs that body or declines having written nothing), and the public
// conversion, which is the element loop's or, where the offer is made, the body's.
template <class S, class D, class Kernels>
void check_fast_path(const Case<S, D>& c, const Buffer& src, const Expected& loop_model) {
    // The bodies are never given nearest-away, and their selection declines it.
    const bool declines = Kernels::kTakesMode && c.mode == RoundingMode::NearestAway;
    for (Level level : kAllLevels) {
        if (!level_available(level)) continue;
        const ScopedLevelCap cap(level);
        require(c, "element loop", run_path(c, src, [&](auto s, auto d) { return element_loop(c, s, d); }), loop_model);

        const simd::Body body = Kernels::body(simd::bodies_for(level));
        const bool runs = body != nullptr && !declines;
        Expected model{untouched(c), std::nullopt};
        if (runs) {
            model = Kernels::expect(c, level);
            const std::string name = std::string(level_name(level)) + " " + Kernels::kName;
            require(c, name.c_str(),
                    run_path(c, src, [&](auto s, auto d) { return call_body(body, s, d, Kernels::modes(c)); }), model);
        }

        Buffer dst(c.dst_offset, c.dst_size * sizeof(D), c.fill);
        const FastPathResult fast =
            Kernels::select(c, SrcSlice<S>(src.data(), c.src.size()), DstSlice<D>(dst.data(), c.dst_size));
        const Run selection{std::vector<unsigned char>(dst.data(), dst.data() + dst.bytes), fast.result()};
        if (fast.decided() != runs) {
            std::fprintf(stderr, "\nselection %s\n", fast.decided() ? "decided where it must decline" : "declined");
            fail(c, "selection", model, selection.dst, selection.result);
        }
        require(c, "selection", selection, model);

        const Run public_run = run_path(c, src, [&](auto s, auto d) { return convert_public(c, s, d); });
        check_rendering(public_run.result);
        if (matches(public_run, loop_model)) continue;
        if (Kernels::offered(c) && runs && matches(public_run, model)) continue;
        fail(c, "public conversion", loop_model, public_run.dst, public_run.result);
    }
}

std::size_t clamp_block(Level level, std::size_t avx2, std::size_t avx) {
    return level == Level::Avx2 ? avx2 : level == Level::Avx ? avx : 1;
}

template <class S>
struct ToU8Clamp {
    static constexpr bool kTakesMode = true;
    static constexpr bool kF32 = std::is_same_v<S, float>;
    static constexpr const char* kName = kF32 ? "f32_to_u8_clamp" : "f64_to_u8_clamp";
    static simd::Body body(const simd::LevelBodies& b) { return kF32 ? b.f32_to_u8_clamp : b.f64_to_u8_clamp; }
    static simd::BodyModes modes(const Case<S, std::uint8_t>& c) { return {c.mode, OutOfRange::Clamp}; }
    static bool offered(const Case<S, std::uint8_t>& c) {
        return c.map.empty() && c.oor.is(OutOfRangeMode::Clamp) && c.mode != RoundingMode::NearestAway;
    }
    static Expected expect(const Case<S, std::uint8_t>& c, Level l) {
        return expect_clamp_kernel(c, clamp_block(l, 16, kF32 ? 8 : 4));
    }
    static FastPathResult select(const Case<S, std::uint8_t>& c, SrcSlice<S> s, DstSlice<std::uint8_t> d) {
        if constexpr (kF32) return try_f32_to_u8_clamp(s, d, c.mode);
        else return try_f64_to_u8_clamp(s, d, c.mode);
    }
};

// float64 -> int32 has two fast paths, told apart by the out-of-range mode of the case: the
// clamp kernel under clamp, the check kernel otherwise (wrap is never offered either).
struct ToI32Clamp {
    static constexpr bool kTakesMode = true;
    static constexpr const char* kName = "f64_to_i32_clamp";
    static simd::Body body(const simd::LevelBodies& b) { return b.f64_to_i32_clamp; }
    static simd::BodyModes modes(const Case<double, std::int32_t>& c) { return {c.mode, OutOfRange::Clamp}; }
    static bool offered(const Case<double, std::int32_t>& c) {
        return c.map.empty() && c.oor.is(OutOfRangeMode::Clamp) && c.mode != RoundingMode::NearestAway;
    }
    static Expected expect(const Case<double, std::int32_t>& c, Level l) {
        return expect_clamp_kernel(c, clamp_block(l, 4, 4));
    }
    static FastPathResult select(const Case<double, std::int32_t>& c, SrcSlice<double> s, DstSlice<std::int32_t> d) {
        return try_f64_to_i32_clamp(s, d, c.mode);
    }
};

struct ToI32Check {
    static constexpr bool kTakesMode = true;
    static constexpr const char* kName = "f64_to_i32_check";
    static simd::Body body(const simd::LevelBodies& b) { return b.f64_to_i32_check; }
    static simd::BodyModes modes(const Case<double, std::int32_t>& c) { return {c.mode, OutOfRange::Absent}; }
    static bool offered(const Case<double, std::int32_t>& c) {
        return c.map.empty() && !c.oor.has_value() && c.mode != RoundingMode::NearestAway;
    }
    static Expected expect(const Case<double, std::int32_t>& c, Level) { return expect_check_kernel(c, 4); }
    static FastPathResult select(const Case<double, std::int32_t>& c, SrcSlice<double> s, DstSlice<std::int32_t> d) {
        return try_f64_to_i32_check(s, d, c.mode);
    }
};

// The nearest kernel ignores the case's rounding mode: it is checked on every input, with the
// check flag that the case's out-of-range mode would ask for.
struct ToF32Nearest {
    static constexpr bool kTakesMode = false;
    static constexpr const char* kName = "f64_to_f32_nearest";
    static simd::Body body(const simd::LevelBodies& b) { return b.f64_to_f32_nearest; }
    static simd::BodyModes modes(const Case<double, float>& c) {
        return {RoundingMode::NearestEven, check(c) ? OutOfRange::Absent : OutOfRange::Clamp};
    }
    static bool check(const Case<double, float>& c) { return !c.oor.is(OutOfRangeMode::Clamp); }
    static bool offered(const Case<double, float>& c) { return c.map.empty() && c.mode == RoundingMode::NearestEven; }
    static Expected expect(const Case<double, float>& c, Level) { return expect_nearest_kernel(c, check(c)); }
    static FastPathResult select(const Case<double, float>& c, SrcSlice<double> s, DstSlice<float> d) {
        return try_f64_to_f32_nearest(s, d, check(c));
    }
};

template <class S, class D>
void check_paths(const Case<S, D>& c, const Buffer& src, const Expected& loop_model) {
    if constexpr (std::is_same_v<D, std::uint8_t> && (std::is_same_v<S, float> || std::is_same_v<S, double>)) {
        check_fast_path<S, D, ToU8Clamp<S>>(c, src, loop_model);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, std::int32_t>) {
        if (c.oor.is(OutOfRangeMode::Clamp)) check_fast_path<S, D, ToI32Clamp>(c, src, loop_model);
        else check_fast_path<S, D, ToI32Check>(c, src, loop_model);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) {
        check_fast_path<S, D, ToF32Nearest>(c, src, loop_model);
    } else {
        // Every other pair: the public conversion at each level is the element loop's.
        for (Level level : kAllLevels) {
            if (!level_available(level)) continue;
            const ScopedLevelCap cap(level);
            const Run public_run = run_path(c, src, [&](auto s, auto d) { return convert_public(c, s, d); });
            check_rendering(public_run.result);
            require(c, "public conversion", public_run, loop_model);
        }
    }
}

// A direct pair with its scalar map, at each level this machine has: the level's direct body,
// which stores the whole blocks and never stops, and the conversion with the map, which stores
// every element, both against the model's loop.
template <class S, class D>
void check_direct(const Case<S, D>& c, const Buffer& src) {
    const Expected model = expect_direct(c);
    const Expected body_model = expect_direct_body(c, simd::kDirectBlock);
    const ScalarMap<S, D> map(c.map.data(), c.map.size());
    const std::size_t n = c.n();
    const std::size_t whole = n - n % simd::kDirectBlock;
    for (Level level : kAllLevels) {
        if (!level_available(level)) continue;
        const ScopedLevelCap cap(level);
        const std::string name = std::string(level_name(level)) + " direct body";
        const simd::Body body = simd::bodies_for(level).direct[simd::kElementCode<S>][simd::kElementCode<D>];
        if (body == nullptr) fail(c, name.c_str(), body_model, untouched(c), std::nullopt);
        const simd::BodyModes modes{RoundingMode::NearestEven, OutOfRange::Absent, simd::BodyMap{map.data(), map.size()}};
        simd::BodyResult ran{};
        const Run body_run = run_path(c, src, [&](auto s, auto d) -> CastResult {
            ran = body(s.bytes(), d.bytes(), n, modes);
            return std::nullopt;
        });
        if (ran.status != simd::BodyResult::Status::Done || ran.done != whole) {
            std::fprintf(stderr, "\n%s: status %d, done %zu of %zu whole elements\n", name.c_str(),
                         static_cast<int>(ran.status), ran.done, whole);
            fail(c, name.c_str(), body_model, body_run.dst, body_run.result);
        }
        require(c, name.c_str(), body_run, body_model);

        require(c, "direct conversion with map", run_path(c, src, [&](auto s, auto d) -> CastResult {
                    convert_direct_with_map(s, d, map, n);
                    return std::nullopt;
                }),
                model);
    }
}

// ---- Under a caller's floating-point control -----------------------------------------------

// The public conversion at each level under `control`, against the same call under the default.
template <class S, class D>
void check_under_control(const Case<S, D>& c, const Buffer& src, std::uint32_t control) {
    const ScalarMap<S, D> map(c.map.data(), c.map.size());
    const auto convert = [&](SrcSlice<S> s, DstSlice<D> d) {
        return public_conversion<S, D>(c.mode, c.oor, map, s, d);
    };
    for (Level level : kAllLevels) {
        if (!level_available(level)) continue;
        const ScopedLevelCap cap(level);
        const Run expected = run_path(c, src, convert);
        std::uint32_t after = 0;
        std::string text;
        const Run run = run_path(c, src, [&](SrcSlice<S> s, DstSlice<D> d) {
            CastResult result;
            after = with_mxcsr(control, [&] {
                result = convert(s, d);
                if (result) text = result->message();
            });
            return result;
        });
        const std::string name = std::string("public conversion at ") + std::string(level_name(level)) +
                                 " under MXCSR " + std::to_string(control);
        require(c, name.c_str(), run, Expected{expected.dst, expected.result});
        if (after != control || text != (expected.result ? expected.result->message() : std::string())) {
            std::fprintf(stderr, "\n%s: MXCSR %#x after the call, text \"%s\"\n", name.c_str(), after, text.c_str());
            std::abort();
        }
    }
}

// ---- One input ----------------------------------------------------------------------------

// A scalar-map key, drawn by `pick` from the source and the keys so far (see the top).
template <class S, class D>
S make_key(Reader& in, const Case<S, D>& c, std::uint8_t pick) {
    const std::size_t n = c.src.size();
    switch (pick % 8) {
        case 0:
        case 1:
        case 2:
            if (n > 0) return c.src[in.byte() % n];
            break;
        case 3:
            if (!c.map.empty()) return c.map[in.byte() % c.map.size()].source;
            break;
        case 4:
            if constexpr (is_float_element_v<S>) {
                return make_nan<S>(in);
            } else if (n > 0) {
                const S x = c.src[in.byte() % n];
                return from_pattern<S>(pattern(x) + ((pick & 8) != 0 ? 1 : ~std::uint64_t{0}));
            }
            break;
        case 5:
            if constexpr (is_float_element_v<S>) {
                return from_pattern<S>((pick & 8) != 0 ? std::uint64_t{1} << (8 * sizeof(S) - 1) : 0);
            } else {
                return S{0};
            }
        default: break;
    }
    return make_value<S>(in);
}

template <class S, class D>
void run_case(Reader& in) {
    constexpr bool kDirect = is_direct_pair_v<S, D>;
    Case<S, D> c;
    const std::uint8_t modes = in.byte();
    c.mode = static_cast<RoundingMode>(modes % 5);
    const unsigned oor = (modes / 5) % 3;
    c.oor = oor == 2 ? OptionalOutOfRangeMode() : OptionalOutOfRangeMode(static_cast<OutOfRangeMode>(oor));
    const std::uint8_t shape = in.byte();
    // Up to two whole blocks of the integer loops (64), five of the direct body (32), ten of the
    // other block loops (16).
    const std::size_t n = in.byte() % 161;
    c.src_offset = shape & 7;
    c.dst_offset = (shape >> 3) & 7;
    switch (shape >> 6) {
        case 0:
        case 1: c.dst_size = n; break;
        case 2: c.dst_size = n - std::min<std::size_t>(n, 1 + in.byte() % 8); break;
        default: c.dst_size = n + 1 + in.byte() % 8; break;
    }
    c.fill = in.byte();
    // None (7 in 16), or 1 to 9 entries; a direct pair always has a map.
    const std::size_t drawn = static_cast<std::size_t>(std::max(0, in.byte() % 16 - 6));
    const std::size_t map_size = kDirect ? std::max<std::size_t>(drawn, 1) : drawn;
    // Half of the sources repeat their first element every `period` places (1: everywhere).
    const std::uint8_t dense = in.byte();
    const std::size_t period = dense < 128 ? 0 : 1 + dense % 7;
    for (std::size_t i = 0; i < n; ++i)
        c.src.push_back(period != 0 && i % period == 0 && i > 0 ? c.src[0] : make_value<S>(in));
    for (std::size_t i = 0; i < map_size; ++i) {
        const S key = make_key(in, c, in.byte());
        c.map.push_back(MapEntry<S, D>{key, make_value<D>(in)});
    }

    Buffer src(c.src_offset, n * sizeof(S));
    if (n > 0) std::memcpy(src.data(), c.src.data(), n * sizeof(S));

    if constexpr (kDirect) {
        check_direct(c, src);
    } else {
        const Expected loop_model = expect_element_loop(c);
        check_paths(c, src, loop_model);
    }
    const std::uint8_t control_a = in.byte();
    check_under_control(c, src, control_from_bytes(control_a, in.byte()));
    // The source is read only.
    if (n > 0 && std::memcmp(src.data(), c.src.data(), n * sizeof(S)) != 0) std::abort();
}

// ---- The 121 pairs ------------------------------------------------------------------------

template <class S, class D>
constexpr bool is_core_pair() {
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) return is_core_int_pair_v<S, D>;
    else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) return true;
    else if constexpr (is_integer_element_v<S>) return is_core_int_to_float_pair_v<S, D>;
    else return is_core_float_to_float_pair_v<S, D>;
}

using Runner = void (*)(Reader&);

// The pairs of source S that are direct (or, when not, that the core converts), in type order.
template <bool Direct, class S, class... Ds>
void add_pairs(std::vector<Runner>& table, TypeList<Ds...>) {
    (
        [&] {
            static_assert(is_core_pair<S, Ds>() != is_direct_pair_v<S, Ds>, "every pair is one of the two kinds");
            if constexpr (is_direct_pair_v<S, Ds> == Direct) table.push_back(&run_case<S, Ds>);
        }(),
        ...);
}

// The 81 core pairs, then the 40 direct ones.
template <class... Ss>
std::vector<Runner> make_table(TypeList<Ss...>) {
    std::vector<Runner> table;
    (add_pairs<false, Ss>(table, AllElements{}), ...);
    if (table.size() != 81) std::abort();
    (add_pairs<true, Ss>(table, AllElements{}), ...);
    return table;
}

const std::vector<Runner>& pairs() {
    static const std::vector<Runner> table = make_table(AllElements{});
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (pairs().size() != 121) std::abort();
    Reader in(data, size);
    const std::uint8_t pair = in.byte();
    pairs()[pair % pairs().size()](in);
    return 0;
}
