// Differential fuzz target of the conversion core.
//
// The input bytes choose one of the 81 (source, target) pairs that the core converts, the
// rounding mode, the out-of-range mode, a scalar map, the two slice lengths, their byte
// offsets (so neither is aligned), the old contents of the destination and the source values.
// Three things must agree on every stored byte, on the error and on what is written before it:
//   - the public slice conversion of the pair's family;
//   - an exact model: integer arithmetic on decoded bit patterns (exact_model.hpp) and the
//     rules of each path, written here without any code of the core;
//   - for the four fast-path conversions, the element loop itself and every vector kernel that
//     this processor can run, each measured against the model of its own path: the block
//     kernels leave the failing block unwritten, the check kernel reports the element before
//     rounding (and a NaN before a range error within a block), the nearest kernel writes
//     every element before it reports.
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
#include "config.hpp"
#include "cpu_features.hpp"
#include "element_types.hpp"
#include "exact_model.hpp"
#include "f16.hpp"
#include "fast_paths.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "simd/kernels.hpp"
#include "slice.hpp"

namespace {

using namespace pelm_ossrel;
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

template <class T>
inline constexpr bool is_f16_v = std::is_same_v<T, f16>;

template <class T>
std::uint64_t pattern(T v) {
    if constexpr (std::is_same_v<T, f16>) return v.bits;
    else if constexpr (std::is_same_v<T, float>) return std::bit_cast<std::uint32_t>(v);
    else if constexpr (std::is_same_v<T, double>) return std::bit_cast<std::uint64_t>(v);
    else return static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(v));
}

template <class T>
T from_pattern(std::uint64_t bits) {
    if constexpr (std::is_same_v<T, f16>) return f16{static_cast<std::uint16_t>(bits)};
    else if constexpr (std::is_same_v<T, float>) return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    else if constexpr (std::is_same_v<T, double>) return std::bit_cast<double>(bits);
    else return static_cast<T>(static_cast<std::make_unsigned_t<T>>(bits));
}

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
T make_float(Reader& in) {
    using Bits = std::conditional_t<is_f16_v<T>, std::uint16_t,
                                    std::conditional_t<std::is_same_v<T, float>, std::uint32_t, std::uint64_t>>;
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
    // Infinities and NaNs of every kind: the exponent all ones, the rest from the input.
    constexpr int kFraction = exact_model::format_of<T>().fraction_bits;
    const Bits exponent = static_cast<Bits>(((Bits{1} << (kWidth - 1 - kFraction)) - 1) << kFraction);
    const Bits rest = in.raw<Bits>();
    Bits fraction = static_cast<Bits>(rest & ((Bits{1} << kFraction) - 1));
    if ((tag & 3) == 0) fraction = 0;                                     // infinity
    if ((tag & 3) == 1) fraction = static_cast<Bits>(fraction >> 4);      // mostly signalling
    return from_pattern<T>(static_cast<Bits>(exponent | fraction | (rest & kSign)));
}

template <class T>
T make_value(Reader& in) {
    if constexpr (is_float_element_v<T>) return make_float<T>(in);
    else return make_integer<T>(in);
}

// ---- Exact model --------------------------------------------------------------------------

double model_f64(i128 v) {
    return exact_model::to_double(
        exact_model::round_to_format(exact_model::from_integer(v), exact_model::kBinary64,
                                     RoundingMode::NearestEven));
}

// The pattern of a value that the format holds exactly.
std::uint64_t encode(Exact x, Format f) {
    const std::uint64_t sign = std::uint64_t{x.negative} << (f.fraction_bits + f.exponent_bits);
    const std::uint64_t exponent_all = ((std::uint64_t{1} << f.exponent_bits) - 1) << f.fraction_bits;
    if (x.kind == Exact::Kind::Inf) return sign | exponent_all;
    x = exact_model::normalized(x);
    if (x.mantissa == 0) return sign;
    const int w = exact_model::bit_width(x.mantissa) - 1;
    const int top = w + x.exponent;
    const int min_normal = f.min_quantum + f.fraction_bits;
    if (top < min_normal) return sign | static_cast<std::uint64_t>(x.mantissa << (x.exponent - f.min_quantum));
    const std::uint64_t fraction =
        static_cast<std::uint64_t>(x.mantissa << (f.fraction_bits - w)) & ((std::uint64_t{1} << f.fraction_bits) - 1);
    return sign | (static_cast<std::uint64_t>(top - min_normal + 1) << f.fraction_bits) | fraction;
}

template <class T>
bool is_nan_model(T v) {
    if constexpr (is_float_element_v<T>) return exact_model::decode(v).kind == Exact::Kind::NaN;
    else return false;
}

// Scalar-map keys: integers by equality; floats by value (either zero matches the other), and
// a NaN element matches any NaN key.
template <class S>
bool key_matches(S key, S x) {
    if constexpr (is_float_element_v<S>) {
        const Exact k = exact_model::decode(key);
        const Exact v = exact_model::decode(x);
        if (v.kind == Exact::Kind::NaN) return k.kind == Exact::Kind::NaN;
        if (k.kind == Exact::Kind::NaN) return false;
        if (k.is_zero() && v.is_zero()) return true;
        return exact_model::same(k, v);
    } else {
        return key == x;
    }
}

// What the element loop does with one element that no map entry matches.
template <class D>
struct Outcome {
    std::optional<CastError> error;
    D value{};
};

template <class S, class D>
Outcome<D> model_element(S x, RoundingMode mode, OptionalOutOfRangeMode oor) {
    Outcome<D> out;
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) {
        const i128 v = x;
        const i128 dmin = std::numeric_limits<D>::min(), dmax = std::numeric_limits<D>::max();
        const i128 smin = std::numeric_limits<S>::min(), smax = std::numeric_limits<S>::max();
        if (!oor.has_value()) {
            if (v < dmin || v > dmax)
                out.error = CastError::out_of_range(model_f64(v), model_f64(std::max(smin, dmin)),
                                                    model_f64(std::min(smax, dmax)));
            else out.value = static_cast<D>(v);
        } else if (*oor == OutOfRangeMode::Clamp) {
            out.value = static_cast<D>(v < dmin ? dmin : v > dmax ? dmax : v);
        } else {
            out.value = from_pattern<D>(static_cast<std::uint64_t>(static_cast<u128>(v)));
        }
    } else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) {
        const exact_model::IntOutcome r = exact_model::model_float_to_int<S, D>(x, mode, oor);
        out.error = r.error;
        out.value = from_pattern<D>(r.stored);
    } else if constexpr (is_integer_element_v<S>) {
        const Exact r = exact_model::model_int_to_float<D>(static_cast<i128>(x), mode);
        out.value = from_pattern<D>(encode(r, exact_model::format_of<D>()));
    } else {
        const exact_model::FloatOutcome r =
            exact_model::model_float_to_float<S, D>(x, mode, oor.is(OutOfRangeMode::Clamp));
        out.error = r.error;
        out.value = r.value.kind == Exact::Kind::NaN ? from_pattern<D>(r.nan_bits)
                                                     : from_pattern<D>(encode(r.value, exact_model::format_of<D>()));
    }
    return out;
}

// ---- The case -----------------------------------------------------------------------------

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

template <class S, class D>
struct Case {
    RoundingMode mode = RoundingMode::NearestEven;
    OptionalOutOfRangeMode oor;
    std::vector<MapEntry<S, D>> map;
    std::vector<S> src;
    std::size_t dst_size = 0;
    std::size_t src_offset = 0, dst_offset = 0;
    unsigned char fill = 0;

    std::size_t n() const { return std::min(src.size(), dst_size); }
};

// What a path must leave behind: the destination's bytes and the result.
struct Expected {
    std::vector<unsigned char> dst;
    CastResult result;
};

template <class S, class D>
std::vector<unsigned char> untouched(const Case<S, D>& c) {
    return std::vector<unsigned char>(c.dst_size * sizeof(D), c.fill);
}

template <class D>
void put(std::vector<unsigned char>& dst, std::size_t i, D v) {
    std::memcpy(dst.data() + i * sizeof(D), &v, sizeof(D));
}

// The element loop: the map first, then the element's own outcome; the first error stops it.
template <class S, class D>
Expected expect_element_loop(const Case<S, D>& c) {
    Expected e{untouched(c), std::nullopt};
    for (std::size_t i = 0; i < c.n(); ++i) {
        const auto hit = std::find_if(c.map.begin(), c.map.end(),
                                      [&](const MapEntry<S, D>& m) { return key_matches(m.source, c.src[i]); });
        if (hit != c.map.end()) {
            put(e.dst, i, hit->target);
            continue;
        }
        const Outcome<D> o = model_element<S, D>(c.src[i], c.mode, c.oor);
        if (o.error) {
            e.result = o.error;
            return e;
        }
        put(e.dst, i, o.value);
    }
    return e;
}

// A clamp or check kernel with blocks of `block` elements (1: element by element): whole
// blocks from index 0, each written only when none of its elements fails, then the tail one
// element at a time. `error_of` gives the error of a failing block.
template <class S, class D, class Outcomes, class BlockError>
Expected expect_blocks(const Case<S, D>& c, const Outcomes& outcomes, std::size_t block, BlockError error_of) {
    Expected e{untouched(c), std::nullopt};
    const std::size_t n = c.n();
    const std::size_t whole = n - n % block;
    for (std::size_t b = 0; b < whole; b += block) {
        for (std::size_t j = b; j < b + block; ++j) {
            if (outcomes[j].error) {
                e.result = error_of(b, b + block);
                return e;
            }
        }
        for (std::size_t j = b; j < b + block; ++j) put(e.dst, j, outcomes[j].value);
    }
    for (std::size_t j = whole; j < n; ++j) {
        if (outcomes[j].error) {
            e.result = error_of(j, j + 1);
            return e;
        }
        put(e.dst, j, outcomes[j].value);
    }
    return e;
}

template <class S, class D>
std::vector<Outcome<D>> outcomes_of(const Case<S, D>& c, RoundingMode mode, OptionalOutOfRangeMode oor) {
    std::vector<Outcome<D>> o;
    for (std::size_t i = 0; i < c.n(); ++i) o.push_back(model_element<S, D>(c.src[i], mode, oor));
    return o;
}

// Clamp kernels: the first NaN of the failing block (clamp fails on nothing else).
template <class S, class D>
Expected expect_clamp_kernel(const Case<S, D>& c, std::size_t block) {
    const auto o = outcomes_of(c, c.mode, OutOfRangeMode::Clamp);
    return expect_blocks(c, o, block, [&](std::size_t b, std::size_t end) -> CastResult {
        for (std::size_t j = b; j < end; ++j)
            if (o[j].error) return o[j].error;
        return std::nullopt;
    });
}

// The check kernel: within the failing block its first NaN, else its first element out of
// range, reported with the element as it was before rounding.
Expected expect_check_kernel(const Case<double, std::int32_t>& c, std::size_t block) {
    const auto o = outcomes_of(c, c.mode, std::nullopt);
    return expect_blocks(c, o, block, [&](std::size_t b, std::size_t end) -> CastResult {
        for (std::size_t j = b; j < end; ++j)
            if (is_nan_model(c.src[j])) return o[j].error;
        for (std::size_t j = b; j < end; ++j)
            if (o[j].error) return CastError::out_of_range(c.src[j], -2147483648.0, 2147483647.0);
        return std::nullopt;
    });
}

// The nearest kernel: every element written with its nearest binary32 value (overflow to an
// infinity), then, with the check, the element loop's error.
Expected expect_nearest_kernel(const Case<double, float>& c, bool check) {
    Expected e{untouched(c), std::nullopt};
    for (std::size_t i = 0; i < c.n(); ++i) {
        const Outcome<float> stored = model_element<double, float>(c.src[i], RoundingMode::NearestEven, OutOfRangeMode::Clamp);
        put(e.dst, i, stored.value);
        if (check && !e.result) {
            e.result = model_element<double, float>(c.src[i], RoundingMode::NearestEven, std::nullopt).error;
        }
    }
    return e;
}

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

const char* mode_name(RoundingMode m) { return std::string_view(to_str(m)).data(); }

template <class S, class D>
[[noreturn]] void fail(const Case<S, D>& c, const char* path, const Expected& want, const std::vector<unsigned char>& got_dst,
                       const CastResult& got) {
    std::fprintf(stderr, "\n%s: %s -> %s, mode %s, out_of_range %d, map %zu entries, src %zu, dst %zu\n", path,
                 element_name<S>().data(), element_name<D>().data(), mode_name(c.mode), c.oor.raw(), c.map.size(),
                 c.src.size(), c.dst_size);
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
    const CastConfig<S, D> config{ScalarMap<S, D>(c.map.data(), c.map.size()), c.oor, c.mode};
    const std::size_t n = c.n();
    if (n == 0) return std::nullopt;
    auto loop = [&]<RoundingMode M>() -> CastResult {
        if constexpr (is_integer_element_v<D>) return detail::float_to_int_with_range<S, D, M>(src, dst, config, n);
        else return detail::float_to_float_with_range<S, D, M>(src, dst, config, n);
    };
    switch (c.mode) {
        case RoundingMode::NearestEven: return loop.template operator()<RoundingMode::NearestEven>();
        case RoundingMode::TowardsZero: return loop.template operator()<RoundingMode::TowardsZero>();
        case RoundingMode::TowardsPositive: return loop.template operator()<RoundingMode::TowardsPositive>();
        case RoundingMode::TowardsNegative: return loop.template operator()<RoundingMode::TowardsNegative>();
        case RoundingMode::NearestAway: return loop.template operator()<RoundingMode::NearestAway>();
    }
    return std::nullopt;
}

enum class Level { Avx2, Avx, Generic, None };

Level selected_level(bool has_generic) {
    if (has_x86_64_v3()) return Level::Avx2;
    if (cpu_has(kCpuAVX)) return Level::Avx;
    return has_generic ? Level::Generic : Level::None;
}

// The fast path of a pair: which kernel, its block sizes per level, and the conversion's
// condition for offering it.
template <class S, class D>
struct FastPath {
    static constexpr bool exists = false;
};

template <class S, class D, class Kernels>
void check_fast_path(const Case<S, D>& c, const Buffer& src, const Expected& loop_model, const Run& public_run) {
    // The element loop past the offer follows the model whatever the configuration.
    require(c, "element loop", run_path(c, src, [&](auto s, auto d) { return element_loop(c, s, d); }), loop_model);

    // The kernels are never given nearest-away, and their selection declines it.
    const bool declines = Kernels::kTakesMode && c.mode == RoundingMode::NearestAway;
    const Level selected = declines ? Level::None : selected_level(Kernels::kHasGeneric);
    Expected selected_model{untouched(c), std::nullopt};
    for (Level level : {Level::Avx2, Level::Avx, Level::Generic}) {
        const bool runs = level == Level::Avx2  ? has_x86_64_v3()
                          : level == Level::Avx ? cpu_has(kCpuAVX)
                                                : Kernels::kHasGeneric;
        if (!runs || declines) continue;
        const Expected model = Kernels::expect(c, level);
        require(c, Kernels::name(level), run_path(c, src, [&](auto s, auto d) { return Kernels::kernel(c, level, s, d); }),
                model);
        if (level == selected) selected_model = model;
    }

    // The selection runs the widest level's kernel, or declines having written nothing.
    Buffer dst(c.dst_offset, c.dst_size * sizeof(D), c.fill);
    const FastPathResult fast =
        Kernels::select(c, SrcSlice<S>(src.data(), c.src.size()), DstSlice<D>(dst.data(), c.dst_size));
    const Run selection{std::vector<unsigned char>(dst.data(), dst.data() + dst.bytes), fast.result()};
    if (fast.decided() != (selected != Level::None)) {
        std::fprintf(stderr, "\nselection %s\n", fast.decided() ? "decided where it must decline" : "declined");
        fail(c, "selection", selected_model, selection.dst, selection.result);
    }
    require(c, "selection", selection, selected_model);

    // The public conversion: the element loop, or the selected path where the offer is made.
    if (matches(public_run, loop_model)) return;
    if (Kernels::offered(c) && selected != Level::None && matches(public_run, selected_model)) return;
    fail(c, "public conversion", loop_model, public_run.dst, public_run.result);
}

std::size_t clamp_block(Level level, std::size_t avx2, std::size_t avx) {
    return level == Level::Avx2 ? avx2 : level == Level::Avx ? avx : 1;
}

const char* level_name(Level level, const char* avx2, const char* avx, const char* generic) {
    return level == Level::Avx2 ? avx2 : level == Level::Avx ? avx : generic;
}

template <class S>
struct ToU8Clamp {
    static constexpr bool kHasGeneric = true;
    static constexpr bool kTakesMode = true;
    static constexpr bool kF32 = std::is_same_v<S, float>;
    static bool offered(const Case<S, std::uint8_t>& c) {
        return c.map.empty() && c.oor.is(OutOfRangeMode::Clamp) && c.mode != RoundingMode::NearestAway;
    }
    static const char* name(Level l) {
        return kF32 ? level_name(l, "avx2 f32_to_u8_clamp", "avx f32_to_u8_clamp", "generic f32_to_u8_clamp")
                    : level_name(l, "avx2 f64_to_u8_clamp", "avx f64_to_u8_clamp", "generic f64_to_u8_clamp");
    }
    static Expected expect(const Case<S, std::uint8_t>& c, Level l) {
        return expect_clamp_kernel(c, clamp_block(l, 16, kF32 ? 8 : 4));
    }
    static CastResult kernel(const Case<S, std::uint8_t>& c, Level l, SrcSlice<S> s, DstSlice<std::uint8_t> d) {
        if constexpr (kF32) {
            return l == Level::Avx2 ? simd::avx2::f32_to_u8_clamp(s, d, c.mode)
                   : l == Level::Avx ? simd::avx::f32_to_u8_clamp(s, d, c.mode)
                                     : simd::generic::f32_to_u8_clamp(s, d, c.mode);
        } else {
            return l == Level::Avx2 ? simd::avx2::f64_to_u8_clamp(s, d, c.mode)
                   : l == Level::Avx ? simd::avx::f64_to_u8_clamp(s, d, c.mode)
                                     : simd::generic::f64_to_u8_clamp(s, d, c.mode);
        }
    }
    static FastPathResult select(const Case<S, std::uint8_t>& c, SrcSlice<S> s, DstSlice<std::uint8_t> d) {
        if constexpr (kF32) return try_f32_to_u8_clamp(s, d, c.mode);
        else return try_f64_to_u8_clamp(s, d, c.mode);
    }
};

// float64 -> int32 has two fast paths, told apart by the out-of-range mode of the case: the
// clamp kernel under clamp, the check kernel otherwise (wrap is never offered either).
struct ToI32Clamp {
    static constexpr bool kHasGeneric = true;
    static constexpr bool kTakesMode = true;
    static bool offered(const Case<double, std::int32_t>& c) {
        return c.map.empty() && c.oor.is(OutOfRangeMode::Clamp) && c.mode != RoundingMode::NearestAway;
    }
    static const char* name(Level l) {
        return level_name(l, "avx2 f64_to_i32_clamp", "avx f64_to_i32_clamp", "generic f64_to_i32_clamp");
    }
    static Expected expect(const Case<double, std::int32_t>& c, Level l) {
        return expect_clamp_kernel(c, clamp_block(l, 4, 4));
    }
    static CastResult kernel(const Case<double, std::int32_t>& c, Level l, SrcSlice<double> s, DstSlice<std::int32_t> d) {
        return l == Level::Avx2 ? simd::avx2::f64_to_i32_clamp(s, d, c.mode)
               : l == Level::Avx ? simd::avx::f64_to_i32_clamp(s, d, c.mode)
                                 : simd::generic::f64_to_i32_clamp(s, d, c.mode);
    }
    static FastPathResult select(const Case<double, std::int32_t>& c, SrcSlice<double> s, DstSlice<std::int32_t> d) {
        return try_f64_to_i32_clamp(s, d, c.mode);
    }
};

struct ToI32Check {
    static constexpr bool kHasGeneric = false;
    static constexpr bool kTakesMode = true;
    static bool offered(const Case<double, std::int32_t>& c) {
        return c.map.empty() && !c.oor.has_value() && c.mode != RoundingMode::NearestAway;
    }
    static const char* name(Level l) { return level_name(l, "avx2 f64_to_i32_check", "avx f64_to_i32_check", "-"); }
    static Expected expect(const Case<double, std::int32_t>& c, Level) { return expect_check_kernel(c, 4); }
    static CastResult kernel(const Case<double, std::int32_t>& c, Level l, SrcSlice<double> s, DstSlice<std::int32_t> d) {
        return l == Level::Avx2 ? simd::avx2::f64_to_i32_check(s, d, c.mode) : simd::avx::f64_to_i32_check(s, d, c.mode);
    }
    static FastPathResult select(const Case<double, std::int32_t>& c, SrcSlice<double> s, DstSlice<std::int32_t> d) {
        return try_f64_to_i32_check(s, d, c.mode);
    }
};

// The nearest kernel ignores the case's rounding mode: it is checked on every input, with the
// check flag that the case's out-of-range mode would ask for.
struct ToF32Nearest {
    static constexpr bool kHasGeneric = false;
    static constexpr bool kTakesMode = false;
    static bool check(const Case<double, float>& c) { return !c.oor.is(OutOfRangeMode::Clamp); }
    static bool offered(const Case<double, float>& c) { return c.map.empty() && c.mode == RoundingMode::NearestEven; }
    static const char* name(Level l) { return level_name(l, "avx2 f64_to_f32_nearest", "avx f64_to_f32_nearest", "-"); }
    static Expected expect(const Case<double, float>& c, Level) { return expect_nearest_kernel(c, check(c)); }
    static CastResult kernel(const Case<double, float>& c, Level l, SrcSlice<double> s, DstSlice<float> d) {
        return l == Level::Avx2 ? simd::avx2::f64_to_f32_nearest(s, d, check(c))
                                : simd::avx::f64_to_f32_nearest(s, d, check(c));
    }
    static FastPathResult select(const Case<double, float>& c, SrcSlice<double> s, DstSlice<float> d) {
        return try_f64_to_f32_nearest(s, d, check(c));
    }
};

template <class S, class D>
void check_fast_paths(const Case<S, D>& c, const Buffer& src, const Expected& loop_model, const Run& public_run) {
    if constexpr (std::is_same_v<D, std::uint8_t> && (std::is_same_v<S, float> || std::is_same_v<S, double>)) {
        check_fast_path<S, D, ToU8Clamp<S>>(c, src, loop_model, public_run);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, std::int32_t>) {
        if (c.oor.is(OutOfRangeMode::Clamp)) check_fast_path<S, D, ToI32Clamp>(c, src, loop_model, public_run);
        else check_fast_path<S, D, ToI32Check>(c, src, loop_model, public_run);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<D, float>) {
        check_fast_path<S, D, ToF32Nearest>(c, src, loop_model, public_run);
    } else {
        if (!matches(public_run, loop_model)) fail(c, "public conversion", loop_model, public_run.dst, public_run.result);
    }
}

// ---- One input ----------------------------------------------------------------------------

template <class S, class D>
void run_case(Reader& in) {
    Case<S, D> c;
    const std::uint8_t modes = in.byte();
    c.mode = static_cast<RoundingMode>(modes % 5);
    const unsigned oor = (modes / 5) % 3;
    c.oor = oor == 2 ? OptionalOutOfRangeMode() : OptionalOutOfRangeMode(static_cast<OutOfRangeMode>(oor));
    const std::uint8_t shape = in.byte();
    const std::size_t n = in.byte() % 97;
    c.src_offset = shape & 7;
    c.dst_offset = (shape >> 3) & 7;
    switch (shape >> 6) {
        case 0:
        case 1: c.dst_size = n; break;
        case 2: c.dst_size = n - std::min<std::size_t>(n, 1 + in.byte() % 8); break;
        default: c.dst_size = n + 1 + in.byte() % 8; break;
    }
    c.fill = in.byte();
    const std::size_t map_size = std::max(0, in.byte() % 8 - 4);  // none, or 1 to 3 entries
    for (std::size_t i = 0; i < n; ++i) c.src.push_back(make_value<S>(in));
    for (std::size_t i = 0; i < map_size; ++i) {
        // Keys often taken from the source, so that they match.
        const std::uint8_t pick = in.byte();
        const S key = (pick & 1) && n > 0 ? c.src[(pick >> 1) % n] : make_value<S>(in);
        c.map.push_back(MapEntry<S, D>{key, make_value<D>(in)});
    }

    Buffer src(c.src_offset, n * sizeof(S));
    if (n > 0) std::memcpy(src.data(), c.src.data(), n * sizeof(S));

    const Expected loop_model = expect_element_loop(c);
    const Run public_run = run_path(c, src, [&](auto s, auto d) { return convert_public(c, s, d); });
    check_rendering(public_run.result);
    check_fast_paths(c, src, loop_model, public_run);
    // The source is read only.
    if (n > 0 && std::memcmp(src.data(), c.src.data(), n * sizeof(S)) != 0) std::abort();
}

// ---- The 81 pairs -------------------------------------------------------------------------

template <class S, class D>
constexpr bool is_core_pair() {
    if constexpr (is_integer_element_v<S> && is_integer_element_v<D>) return is_core_int_pair_v<S, D>;
    else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) return true;
    else if constexpr (is_integer_element_v<S>) return is_core_int_to_float_pair_v<S, D>;
    else return is_core_float_to_float_pair_v<S, D>;
}

using Runner = void (*)(Reader&);

template <class S, class... Ds>
void add_pairs(std::vector<Runner>& table, TypeList<Ds...>) {
    (
        [&] {
            if constexpr (is_core_pair<S, Ds>()) table.push_back(&run_case<S, Ds>);
        }(),
        ...);
}

template <class... Ss>
std::vector<Runner> make_table(TypeList<Ss...>) {
    std::vector<Runner> table;
    (add_pairs<Ss>(table, AllElements{}), ...);
    return table;
}

const std::vector<Runner>& pairs() {
    static const std::vector<Runner> table = make_table(AllElements{});
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (pairs().size() != 81) std::abort();
    Reader in(data, size);
    const std::uint8_t pair = in.byte();
    pairs()[pair % pairs().size()](in);
    return 0;
}
