// Scalar maps in the block loops of the four families and in the direct pairs, every rounding
// mode and out-of-range mode with a map, and the conversions that the vector bodies do in their
// lanes (wrap and clamp far beyond the target's range, every rounding mode into float32 and
// float16, the 64-bit integers to float64): the same stored bits, the same error and exactly the
// same elements written before it as the element loops. Every test runs once per level this
// processor has.
//
// Beside the comparison with the element loop, every call is held to the map's own rule, written
// here from the exact model's key matching: an element that a key matches stores the target of the
// first entry it matches, unchanged, and never fails; the call fails exactly when some element
// that no key matches fails on its own, and then every element from that one on is untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "support/buffers.hpp"
#include "support/edge_values.hpp"
#include "support/family_calls.hpp"
#include "support/levels.hpp"
#include "support/mode_lists.hpp"
#include "support/path_rules.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;

constexpr OutOfRange kClamp = OutOfRange::Clamp;
constexpr OutOfRange kWrap = OutOfRange::Wrap;
constexpr OutOfRange kAbsent = OutOfRange::Absent;
constexpr RoundingMode kNearestEven = RoundingMode::NearestEven;
constexpr unsigned char kSentinel = 0xA5;

template <class S, class D>
using Map = std::vector<MapEntry<S, D>>;

std::uint64_t rng_start(const std::string& what) { return std::hash<std::string>{}(what); }

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

// ---- Runs and comparisons -------------------------------------------------------------------

// What a call left behind: its result and the destination's bytes (the sentinel where nothing
// was written).
struct Left {
    CastResult result;
    std::vector<unsigned char> bytes;
};

// Runs call on x placed `offset` bytes into its buffer, into a sentinel destination at the same
// offset.
template <class S, class D, class Call>
Left run_into_sentinel(const std::vector<S>& x, std::size_t offset, const Call& call) {
    const std::size_t n = x.size();
    std::vector<unsigned char> in(n * sizeof(S) + offset);
    std::vector<unsigned char> out(n * sizeof(D) + offset, kSentinel);
    if (n != 0) std::memcpy(in.data() + offset, x.data(), n * sizeof(S));
    Left left;
    left.result = call(SrcSlice<S>(in.data() + offset, n), DstSlice<D>(out.data() + offset, n), n);
    left.bytes.assign(out.begin() + static_cast<std::ptrdiff_t>(offset), out.end());
    return left;
}

template <class T>
T element_at(const std::vector<unsigned char>& bytes, std::size_t i) {
    T v;
    std::memcpy(&v, bytes.data() + i * sizeof(T), sizeof(T));
    return v;
}

template <class S, class D>
std::string first_difference(const std::vector<S>& x, const Left& a, const Left& b) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::memcmp(a.bytes.data() + i * sizeof(D), b.bytes.data() + i * sizeof(D), sizeof(D)) != 0) {
            return "element " + std::to_string(i) + " (source " + hex(pattern(x[i])) + "): blocks " +
                   hex(pattern(element_at<D>(a.bytes, i))) + ", element loop " +
                   hex(pattern(element_at<D>(b.bytes, i)));
        }
    }
    return "none";
}

// The call and the element loop on x with `map` under m: the same result and the same bytes.
// Returns what the call left; `same` tells whether they agreed (a difference is reported).
template <class S, class D>
Left expect_same_as_element_loop(const std::vector<S>& x, const Map<S, D>& map, CallModes m, const std::string& what,
                                 bool& same, std::size_t offset = 0) {
    const ScalarMap<S, D> view(map);
    Left by_blocks = run_into_sentinel<S, D>(
        x, offset, [&](SrcSlice<S> s, DstSlice<D> d, std::size_t n) { return blocks_call<S, D>(m, view, s, d, n); });
    const Left by_elements = run_into_sentinel<S, D>(
        x, offset, [&](SrcSlice<S> s, DstSlice<D> d, std::size_t n) { return element_call<S, D>(m, view, s, d, n); });
    same = true;
    if (!same_result(by_blocks.result, by_elements.result)) {
        ADD_FAILURE() << what << ": blocks " << describe(by_blocks.result) << ", element loop "
                      << describe(by_elements.result);
        same = false;
    }
    if (by_blocks.bytes != by_elements.bytes) {
        ADD_FAILURE() << what << ": stored elements differ, first at "
                      << first_difference<S, D>(x, by_blocks, by_elements);
        same = false;
    }
    return by_blocks;
}

// The map's own rule (see the top of this file) on what a call left; false after reporting a
// breach.
template <class S, class D>
bool expect_map_rule(const std::vector<S>& x, const Map<S, D>& map, CallModes m, const Left& left,
                     const std::string& what) {
    const std::size_t n = x.size();
    std::size_t stop = n;
    for (std::size_t i = 0; i < n && stop == n; ++i) {
        const auto hit = std::find_if(map.begin(), map.end(),
                                      [&](const MapEntry<S, D>& e) { return key_matches(e.source, x[i]); });
        if (hit != map.end()) {
            if (pattern(element_at<D>(left.bytes, i)) != pattern(hit->target)) {
                ADD_FAILURE() << what << ": element " << i << " (source " << hex(pattern(x[i])) << ") matches entry "
                              << (hit - map.begin()) << " but holds " << hex(pattern(element_at<D>(left.bytes, i)))
                              << " instead of " << hex(pattern(hit->target));
                return false;
            }
        } else if (fails<S, D>(x[i], m)) {
            stop = i;
        }
    }
    if (left.result.has_value() != (stop < n)) {
        ADD_FAILURE() << what << ": " << describe(left.result) << ", first unmatched failing element at " << stop;
        return false;
    }
    for (std::size_t i = stop * sizeof(D); i < left.bytes.size(); ++i) {
        if (left.bytes[i] != kSentinel) {
            ADD_FAILURE() << what << ": element " << i / sizeof(D) << " written after the failing element " << stop;
            return false;
        }
    }
    return true;
}

// Both of the above; false after reporting.
template <class S, class D>
bool expect_both(const std::vector<S>& x, const Map<S, D>& map, CallModes m, const std::string& what,
                 std::size_t offset = 0) {
    bool same = false;
    const Left left = expect_same_as_element_loop<S, D>(x, map, m, what, same, offset);
    return same && expect_map_rule<S, D>(x, map, m, left, what);
}

// ---- Pools of values ------------------------------------------------------------------------

// A value that the pair converts in its plainest way: inside an integer target's range (and
// float16's), a float16-sized magnitude for a floating target.
template <class S, class D>
S ordinary_value(std::mt19937_64& rng) {
    if constexpr (is_float_element_v<S>) {
        if constexpr (is_integer_element_v<D>) {
            const double lo = std::max(static_cast<double>(std::numeric_limits<D>::min()), -60000.0) + 2.0;
            const double hi = std::min(static_cast<double>(std::numeric_limits<D>::max()), 60000.0) - 2.0;
            return from_double<S>(std::clamp(ordinary_value_for<D>(rng), lo, hi));
        } else {
            const double v = std::ldexp(std::uniform_real_distribution<double>(1.0, 2.0)(rng),
                                        static_cast<int>(rng() % 30) - 14);
            return from_double<S>(rng() % 2 ? v : -v);
        }
    } else {
        i128 lo = std::numeric_limits<S>::min(), hi = std::numeric_limits<S>::max();
        if constexpr (is_integer_element_v<D>) {
            lo = std::max<i128>(lo, std::numeric_limits<D>::min());
            hi = std::min<i128>(hi, std::numeric_limits<D>::max());
        } else if constexpr (std::is_same_v<D, f16>) {
            lo = std::max<i128>(lo, -60000);
            hi = std::min<i128>(hi, 60000);
        }
        if (rng() % 2) {
            lo = std::max<i128>(lo, -100);
            hi = std::min<i128>(hi, 100);
        }
        const u128 span = static_cast<u128>(hi - lo) + 1;
        return static_cast<S>(lo + static_cast<i128>(static_cast<u128>(rng()) % span));
    }
}

// The values of a pair sorted by what the element loop does with them under one set of modes.
template <class S, class D>
struct Pools {
    std::vector<S> ordinary;  // stored without failing
    std::vector<S> special;   // stored without failing: edge values and random patterns
    std::vector<S> failing;   // the element loop fails on each
    std::vector<D> targets;
};

template <class S, class D>
Pools<S, D> make_pools(CallModes m, std::mt19937_64& rng) {
    Pools<S, D> p;
    for (int i = 0; i < 96; ++i) {
        const S v = ordinary_value<S, D>(rng);
        (fails<S, D>(v, m) ? p.failing : p.ordinary).push_back(v);
    }
    for (S v : edge_values<S>(rng)) (fails<S, D>(v, m) ? p.failing : p.special).push_back(v);
    if (p.ordinary.empty()) p.ordinary.push_back(S{});
    if (p.special.empty()) p.special = p.ordinary;
    p.failing = distinct(p.failing);
    p.targets = target_values<D>(rng);
    return p;
}

// n elements in blocks of 16: half the blocks ordinary values only, the others a third special.
template <class S, class D>
std::vector<S> mixed_input(const Pools<S, D>& p, std::size_t n, std::mt19937_64& rng) {
    std::vector<S> x(n);
    bool mixed = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 16 == 0) mixed = rng() % 2 == 0;
        x[i] = mixed && rng() % 3 == 0 ? pick(p.special, rng) : pick(p.ordinary, rng);
    }
    return x;
}

// Up to k values of `from`, distinct, in random order.
template <class S>
std::vector<S> sample(const std::vector<S>& from, std::size_t k, std::mt19937_64& rng) {
    std::vector<S> v = distinct(from);
    std::shuffle(v.begin(), v.end(), rng);
    if (v.size() > k) v.resize(k);
    return v;
}

template <class S, class D>
Map<S, D> map_of(const std::vector<S>& keys, const Pools<S, D>& p, std::mt19937_64& rng) {
    Map<S, D> map;
    for (const S& k : keys) map.push_back({k, pick(p.targets, rng)});
    return map;
}

// Each key at `times` random positions of x.
template <class S>
void plant(std::vector<S>& x, const std::vector<S>& keys, std::size_t times, std::mt19937_64& rng) {
    if (x.empty()) return;
    for (const S& k : keys)
        for (std::size_t t = 0; t < times; ++t) x[rng() % x.size()] = k;
}

template <class S>
S zero_of(bool negative) {
    return from_double<S>(negative ? -0.0 : 0.0);
}

// ---- Maps of every shape --------------------------------------------------------------------

template <class S, class D>
struct Scenario {
    std::string name;
    std::vector<S> x;
    Map<S, D> map;
};

// Inputs of n elements with their maps. The failing pool's values occur only as keys, except in
// the last scenario, where one value that no key matches fails after the matches.
template <class S, class D>
std::vector<Scenario<S, D>> map_scenarios(const Pools<S, D>& p, std::size_t n, std::mt19937_64& rng) {
    std::vector<Scenario<S, D>> out;
    const auto add = [&](std::string name, std::vector<S> x, Map<S, D> map) {
        out.push_back({std::move(name), std::move(x), std::move(map)});
    };
    add("no map", mixed_input(p, n, rng), {});

    // Half the keys values of the input, then values the element loop fails on, then edge
    // values; the last quarter of the keys occurs nowhere unless by chance.
    for (std::size_t k : {1, 4, 8, 9, 40}) {
        std::vector<S> x = mixed_input(p, n, rng);
        std::vector<S> keys = sample(x, (k + 1) / 2, rng);
        for (const S& f : sample(p.failing, k - keys.size(), rng)) keys.push_back(f);
        for (const S& s : sample(p.special, k - keys.size(), rng)) keys.push_back(s);
        const std::vector<S> occurring(keys.begin(), keys.end() - static_cast<std::ptrdiff_t>(keys.size() / 4));
        plant(x, occurring, 1 + rng() % 2, rng);
        add(std::to_string(keys.size()) + " keys", std::move(x), map_of(keys, p, rng));
    }

    // Every element matches one of three keys, which follow two others.
    {
        std::vector<S> all = p.ordinary;
        all.insert(all.end(), p.special.begin(), p.special.end());
        all.insert(all.end(), p.failing.begin(), p.failing.end());
        const std::vector<S> keys = sample(all, 5, rng);
        std::vector<S> x(n);
        for (S& v : x) v = keys[keys.size() > 2 ? 2 + rng() % (keys.size() - 2) : 0];
        add("every element matched", std::move(x), map_of(keys, p, rng));
    }

    // Every third element matched, the two keys alternating.
    {
        const std::vector<S>& from = p.failing.empty() ? p.special : p.failing;
        std::vector<S> keys = sample(from, 2, rng);
        std::vector<S> x = mixed_input(p, n, rng);
        for (std::size_t i = 0; i < n; i += 3) x[i] = keys[(i / 3) % keys.size()];
        add("every third element matched", std::move(x), map_of(keys, p, rng));
    }

    // Keys at the first and last element of blocks of 16, 32 and 64, at the first element after
    // the last whole block and at the last one; behind up to seven keys that match nothing.
    {
        const std::vector<S>& from = p.failing.empty() ? p.special : p.failing;
        const std::vector<S> keys = sample(from, 2, rng);
        std::vector<S> x(n);
        for (S& v : x) v = pick(p.ordinary, rng);
        const std::size_t whole = n - n % 16;
        for (std::size_t at : {std::size_t{0}, whole - 1, whole, n - 1}) {
            if (at < n) x[at] = keys.back();
        }
        for (std::size_t at = 0; at < whole; at += 16) {
            x[at] = keys.front();
            x[at + 15] = keys.back();
        }
        Map<S, D> map = map_of(sample(p.special, 7, rng), p, rng);
        const auto occurs = [&](const MapEntry<S, D>& e) {
            return std::any_of(x.begin(), x.end(), [&](S v) { return key_matches(e.source, v); });
        };
        map.erase(std::remove_if(map.begin(), map.end(), occurs), map.end());
        for (const MapEntry<S, D>& e : map_of(keys, p, rng)) map.push_back(e);
        add("keys at the block boundaries", std::move(x), std::move(map));
    }

    // The same keys more than once: the first entry wins.
    {
        std::vector<S> x = mixed_input(p, n, rng);
        const std::vector<S> keys = sample(x, 2, rng);
        plant(x, keys, 3, rng);
        Map<S, D> map;
        for (std::size_t i = 0; i < 5; ++i) map.push_back({keys[i % keys.size()], pick(p.targets, rng)});
        add("duplicate keys", std::move(x), std::move(map));
    }

    // Targets of every special kind, one per key.
    {
        std::vector<S> x = mixed_input(p, n, rng);
        const std::vector<S> keys = sample(x, p.targets.size(), rng);
        plant(x, keys, 2, rng);
        Map<S, D> map;
        for (std::size_t i = 0; i < keys.size(); ++i) map.push_back({keys[i], p.targets[i]});
        add("special targets", std::move(x), std::move(map));
    }

    if constexpr (is_float_element_v<S>) {
        // NaNs of every payload and sign in the input; several NaN keys, the first one wins. Once
        // a short map led by an ordinary key, once a long one with the NaN keys last.
        const std::vector<S> nans = nan_values<S>();
        for (std::size_t lead : {1, 6}) {
            std::vector<S> x = mixed_input(p, n, rng);
            plant(x, nans, 3, rng);
            std::vector<S> keys = sample(p.ordinary, lead, rng);
            plant(x, keys, 1, rng);
            for (const S& k : sample(nans, 3, rng)) keys.push_back(k);
            add("NaN keys after " + std::to_string(lead), std::move(x), map_of(keys, p, rng));
        }
        // Both zeros in the input; a zero key matches both, the first of the two keys wins.
        for (bool negative_first : {true, false}) {
            std::vector<S> x = mixed_input(p, n, rng);
            const std::vector<S> zeros = {zero_of<S>(negative_first), zero_of<S>(!negative_first)};
            plant(x, zeros, 6, rng);
            add(std::string("signed zeros, ") + (negative_first ? "-0 first" : "+0 first"), std::move(x),
                map_of(zeros, p, rng));
        }
        {
            std::vector<S> x = mixed_input(p, n, rng);
            plant(x, {zero_of<S>(true), zero_of<S>(false)}, 6, rng);
            add("one zero key", std::move(x), map_of(std::vector<S>{zero_of<S>(rng() % 2 == 0)}, p, rng));
        }
    }

    // Matches throughout, then one failing value that no key matches.
    if (!p.failing.empty()) {
        std::vector<S> x = mixed_input(p, n, rng);
        const S bad = pick(p.failing, rng);
        std::vector<S> keys = sample(x, 5, rng);
        for (const S& f : sample(p.failing, 4, rng))
            if (!key_matches(f, bad)) keys.push_back(f);
        plant(x, keys, 2, rng);
        x[n / 2 + rng() % (n - n / 2)] = bad;
        add("unmatched failure after matches", std::move(x), map_of(keys, p, rng));
    }
    return out;
}

template <class S, class D>
void check_map_scenarios() {
    const std::string pair = type_name<S>() + "->" + type_name<D>();
    for (const CallModes m : modes_of<S, D>()) {
        std::mt19937_64 rng(rng_start(pair + modes_text(m)));
        const Pools<S, D> pools = make_pools<S, D>(m, rng);
        // 64: whole blocks of 16, 32 and 64 only; 205: three blocks of 64 and a tail of 13.
        for (std::size_t n : {64, 205}) {
            for (const Scenario<S, D>& sc : map_scenarios(pools, n, rng)) {
                if (!expect_both<S, D>(sc.x, sc.map, m,
                                       pair + " " + modes_text(m) + " n=" + std::to_string(n) + ": " + sc.name, n % 2))
                    return;
            }
        }
    }
}

// A failing value that no key matches at every position of a run of several blocks, with a map
// whose keys are values of the run and, where there is one, another value that fails.
template <class S, class D>
void check_failures_among_matches() {
    const std::string pair = type_name<S>() + "->" + type_name<D>();
    constexpr std::size_t B = block_of<S, D>();
    const std::size_t n = B == 64 ? 2 * B + 5 : 4 * B + 5;
    for (const CallModes m : modes_of<S, D>()) {
        std::mt19937_64 rng(rng_start(pair + modes_text(m) + " failures"));
        const Pools<S, D> pools = make_pools<S, D>(m, rng);
        if (pools.failing.empty()) continue;
        const S bad = pick(pools.failing, rng);
        std::vector<S> x = mixed_input(pools, n, rng);
        std::vector<S> keys = sample(x, 8, rng);
        for (const S& f : pools.failing) {
            if (!key_matches(f, bad)) {
                keys.push_back(f);
                break;
            }
        }
        plant(x, keys, 2, rng);
        const Map<S, D> map = map_of(keys, pools, rng);
        for (std::size_t at = 0; at < n; ++at) {
            std::vector<S> y = x;
            y[at] = bad;
            const std::string what =
                pair + " " + modes_text(m) + " failing " + hex(pattern(bad)) + " at " + std::to_string(at);
            if (!expect_both<S, D>(y, map, m, what, at % 3 == 0 ? 1 : 0)) return;
        }
    }
}

// ---- Lane paths -----------------------------------------------------------------------------

// The values, copy r of them starting at lane r of a block, the gaps filled with `filler`: every
// value passes through every lane.
template <class S>
std::vector<S> at_every_lane(const std::vector<S>& values, std::size_t block, S filler) {
    std::vector<S> x;
    for (std::size_t r = 0; r < block; ++r) {
        while (x.size() % block != r) x.push_back(filler);
        x.insert(x.end(), values.begin(), values.end());
    }
    return x;
}

// Under every mode of the pair: the values that pass, at every lane of whole blocks, without a
// map and with a map whose keys are two of them (and a NaN); each value that fails at several
// positions of the first blocks.
template <class S, class D>
void check_lane_values(const std::vector<S>& values, const std::string& what) {
    const std::string pair = type_name<S>() + "->" + type_name<D>() + " " + what;
    constexpr std::size_t B = block_of<S, D>();
    std::mt19937_64 rng(rng_start(pair));
    const std::vector<D> targets = target_values<D>(rng);
    for (const CallModes m : modes_of<S, D>()) {
        std::vector<S> passing, failing;
        for (const S& v : distinct(values)) (fails<S, D>(v, m) ? failing : passing).push_back(v);
        if (passing.empty()) continue;
        const std::vector<S> x = at_every_lane(passing, B, passing.front());
        Map<S, D> map = {{passing[passing.size() / 3], pick(targets, rng)},
                         {passing[2 * passing.size() / 3], pick(targets, rng)}};
        if constexpr (is_float_element_v<S>) map.push_back({nan_values<S>()[1], pick(targets, rng)});
        const std::string text = pair + " " + modes_text(m);
        if (!expect_both<S, D>(x, {}, m, text + " no map") || !expect_both<S, D>(x, map, m, text + " map", 1)) return;
        const std::vector<S> head(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(std::min(x.size(), 3 * B + 7)));
        // Up to 16 of the failing values, spread over the list.
        const std::size_t tried = std::min<std::size_t>(failing.size(), 16);
        for (std::size_t k = 0; k < tried; ++k) {
            const S bad = failing[k * failing.size() / tried];
            for (std::size_t at : {std::size_t{0}, std::size_t{1}, B - 1, B, 2 * B + 3, 3 * B - 1}) {
                if (at >= head.size()) continue;
                std::vector<S> y = head;
                y[at] = bad;
                const std::string where = text + " failing " + hex(pattern(bad)) + " at " + std::to_string(at);
                if (!expect_both<S, D>(y, {}, m, where + " no map") || !expect_both<S, D>(y, map, m, where + " map"))
                    return;
            }
        }
    }
}

// One conversion whose result is known: x under `modes` stores `stored`, or fails (nullopt).
template <class S, class D>
struct Row {
    S x;
    CallModes modes;
    std::optional<D> stored;
};

template <class S, class D>
using Rows = std::vector<Row<S, D>>;

// Rows for the five rounding modes in order (nearest-even, towards zero, towards +inf, towards
// -inf, nearest-away).
template <class S, class D>
void add_by_mode(Rows<S, D>& rows, S x, OutOfRange oor, const std::optional<D> (&stored)[5]) {
    for (std::size_t i = 0; i < 5; ++i) rows.push_back({x, {kRoundingModes[i], oor}, stored[i]});
}

template <class S, class D>
void add_every_mode(Rows<S, D>& rows, S x, OutOfRange oor, std::optional<D> stored) {
    const std::optional<D> all[5] = {stored, stored, stored, stored, stored};
    add_by_mode(rows, x, oor, all);
}

// x in every element of a run of whole blocks and a tail, without a map and with one that does
// not match it: every element stores the row's value, or the call fails with nothing written.
template <class S, class D>
void expect_rows(const Rows<S, D>& rows) {
    const std::string pair = type_name<S>() + "->" + type_name<D>();
    for (const Row<S, D>& row : rows) {
        const std::vector<S> x(2 * simd::kIntBlock + 5, row.x);
        const S three = [] {
            if constexpr (is_float_element_v<S>) return from_double<S>(3.0);
            else return S{3};
        }();
        const S other = key_matches(three, row.x) ? S{} : three;
        for (const Map<S, D>& map : {Map<S, D>{}, Map<S, D>{{other, D{}}}}) {
            const std::string what = pair + " " + hex(pattern(row.x)) + " " + modes_text(row.modes) +
                                     (map.empty() ? "" : " with a map");
            bool same = false;
            const Left left = expect_same_as_element_loop<S, D>(x, map, row.modes, what, same);
            if (!same) return;
            if (row.stored) {
                ASSERT_FALSE(left.result) << what << ": " << describe(left.result);
                for (std::size_t i = 0; i < x.size(); ++i) {
                    ASSERT_EQ(hex(pattern(element_at<D>(left.bytes, i))), hex(pattern(*row.stored)))
                        << what << " element " << i;
                }
            } else {
                ASSERT_TRUE(left.result) << what << ": expected to fail";
                const auto untouched = [](unsigned char b) { return b == kSentinel; };
                ASSERT_TRUE(std::all_of(left.bytes.begin(), left.bytes.end(), untouched))
                    << what << ": written before the failing element";
            }
        }
    }
}

// ---- Floating to integer --------------------------------------------------------------------

class FloatToIntMapBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(FloatToIntMapBlocks);

TEST_P(FloatToIntMapBlocks, MapsOfEveryShapeInEveryModeMatchTheElementLoop) {
    for_each_pair_of<Family::FloatToInt>([]<class S, class D>() { check_map_scenarios<S, D>(); });
}

TEST_P(FloatToIntMapBlocks, FailuresAmongMatchesMatchTheElementLoop) {
    for_each_pair_of<Family::FloatToInt>([]<class S, class D>() { check_failures_among_matches<S, D>(); });
}

// Far outside every target (where wrap keeps the low bits of the exact value), the powers of two
// where the target's limits lie as the source rounds them, and random magnitudes up to binary64's
// largest.
std::vector<double> far_outside_values(std::mt19937_64& rng) {
    std::vector<double> v = {1e300, -1e300, 1e30, -1e30, 1e19, -1e19, 0x1p53 + 2, 0x1p53 + 1, 0x1p64 + 4096,
                             -(0x1p64 + 4096), 0x1p63 + 2048, -(0x1p63 + 2048), 0x1p65, -0x1p65, 0x3p62, -0x3p62,
                             0x1p32 + 5, -(0x1p32 + 5), 0x1p31 - 0.5, -0x1p31 - 1, 65536.0 + 3.5, -65536.0 - 3.5,
                             32768.0, -32769.0, 255.5, 256.0, -129.0, -128.5, 127.5, 3.4028234663852886e38,
                             16777217.0, 0x1p24 + 3, std::numeric_limits<double>::max(), kInfinity, -kInfinity};
    for (double e : edge_doubles()) v.push_back(e);
    for (int i = 0; i < 48; ++i) {
        const double m = std::uniform_real_distribution<double>(1.0, 2.0)(rng);
        const double x = std::ldexp(m, static_cast<int>(rng() % 1024));
        v.push_back(rng() % 2 ? x : -x);
    }
    return v;
}

TEST_P(FloatToIntMapBlocks, WrapFarBeyondTheRangeMatchesTheElementLoop) {
    std::mt19937_64 rng(rng_start("far outside"));
    const std::vector<double> values = far_outside_values(rng);
    for_each_pair_of<Family::FloatToInt>(
        [&]<class S, class D>() { check_lane_values<S, D>(as_values<S>(values), "far outside"); });
}

// Magnitudes from 2^51 to beyond 2^64, with the fractions that binary64 still holds at 2^51 and
// 2^52, the limits of int64 and uint64 and their neighbours.
std::vector<double> wide_target_values(std::mt19937_64& rng) {
    std::vector<double> v = {0x1p63 - 1024, 0x1p63, 0x1p63 + 2048, 0x1p64 - 2048, 0x1p64, -0x1p63, -0x1p63 - 2048,
                             -0x1p63 + 1024, 0x1p51 + 0.5, 0x1p51 + 1.5, 0x1p52 - 0.5, 0x1p52 + 1, 0x1p53 - 1,
                             0x1p53 + 2};
    for (int e = 51; e <= 64; ++e) {
        for (int k = 0; k <= 3; ++k) {
            const double x = std::ldexp(1.0 + k * 0x1p-52, e);
            v.push_back(x);
            v.push_back(-x);
            v.push_back(std::ldexp(1.0 - (k + 1) * 0x1p-53, e));
        }
    }
    for (int i = 0; i < 64; ++i) {
        const double fraction = std::ldexp(static_cast<double>(rng() >> 12), -52);
        const double x = std::ldexp(1.0 + fraction, 51 + static_cast<int>(rng() % 14));
        v.push_back(rng() % 2 ? x : -x);
    }
    return v;
}

TEST_P(FloatToIntMapBlocks, WideTargetsBeyondTwoTo51MatchTheElementLoop) {
    std::mt19937_64 rng(rng_start("wide targets"));
    const std::vector<double> values = wide_target_values(rng);
    const auto check = [&]<class S>() {
        check_lane_values<S, std::int64_t>(as_values<S>(values), "beyond 2^51");
        check_lane_values<S, std::uint64_t>(as_values<S>(values), "beyond 2^51");
    };
    check.template operator()<double>();
    check.template operator()<float>();
}

template <class S, class D>
void add_every_mode_int(Rows<S, D>& rows, double x, OutOfRange oor, std::optional<i128> stored) {
    const std::optional<D> as_d = stored ? std::optional<D>(static_cast<D>(*stored)) : std::nullopt;
    add_every_mode<S, D>(rows, from_double<S>(x), oor, as_d);
}

// The limits as the source rounds them: float32 2^31 is int32's maximum rounded up and stores
// it under every out-of-range mode; float16 32768 likewise for int16; binary64 and binary32 2^63
// and 2^64 for int64 and uint64. Beyond them wrap keeps the exact value's low bits, clamp the
// nearer limit.
TEST_P(FloatToIntMapBlocks, StoresTheLimitsAsTheSourceRoundsThem) {
    constexpr i128 kI64Max = std::numeric_limits<std::int64_t>::max();
    constexpr i128 kI64Min = std::numeric_limits<std::int64_t>::min();
    constexpr i128 kU64Max = std::numeric_limits<std::uint64_t>::max();
    {
        Rows<float, std::int32_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p31, o, 2147483647);
        add_every_mode_int(rows, -0x1p31, kWrap, -2147483648);
        add_every_mode_int(rows, 0x1p32, kWrap, 0);
        add_every_mode_int(rows, 0x3p31, kWrap, -2147483648);
        add_every_mode_int(rows, -1e30, kWrap, 0);
        add_every_mode_int(rows, kInfinity, kWrap, std::nullopt);
        add_every_mode_int(rows, kInfinity, kClamp, 2147483647);
        expect_rows(rows);
    }
    {
        Rows<f16, std::int16_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 32768.0, o, 32767);
        add_every_mode_int(rows, -32768.0, kWrap, -32768);
        add_every_mode_int(rows, 65504.0, kWrap, -32);
        add_every_mode_int(rows, -65504.0, kWrap, 32);
        add_every_mode_int(rows, 65504.0, kAbsent, std::nullopt);
        expect_rows(rows);
    }
    {
        Rows<f16, std::uint8_t> rows;
        add_every_mode_int(rows, 65504.0, kWrap, 224);
        add_every_mode_int(rows, -1.0, kWrap, 255);
        add_every_mode_int(rows, 256.0, kWrap, 0);
        add_every_mode_int(rows, -kInfinity, kClamp, 0);
        expect_rows(rows);
        Rows<f16, std::int8_t> signed_rows;
        add_every_mode_int(signed_rows, -65504.0, kWrap, 32);
        expect_rows(signed_rows);
    }
    {
        Rows<double, std::int64_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p63, o, kI64Max);
        add_every_mode_int(rows, -0x1p63, kWrap, kI64Min);
        add_every_mode_int(rows, 0x1p64 + 4096, kWrap, 4096);
        add_every_mode_int(rows, -(0x1p63 + 2048), kWrap, kI64Max - 2047);
        add_every_mode_int(rows, 1e300, kClamp, kI64Max);
        add_every_mode_int(rows, -kInfinity, kClamp, kI64Min);
        add_every_mode_int(rows, 0x1p62 + 1024, kAbsent, (i128{1} << 62) + 1024);
        add_every_mode_int(rows, 0x1p63 + 2048, kAbsent, std::nullopt);
        const i128 p51 = i128{1} << 51;
        const std::optional<std::int64_t> half[5] = {p51, p51, p51 + 1, p51, p51 + 1};
        const std::optional<std::int64_t> minus_half[5] = {-p51, -p51, -p51, -p51 - 1, -p51 - 1};
        const std::optional<std::int64_t> one_and_half[5] = {p51 + 2, p51 + 1, p51 + 2, p51 + 1, p51 + 2};
        for (OutOfRange o : kOutOfRangeRules) {
            add_by_mode(rows, 0x1p51 + 0.5, o, half);
            add_by_mode(rows, -(0x1p51 + 0.5), o, minus_half);
            add_by_mode(rows, 0x1p51 + 1.5, o, one_and_half);
        }
        expect_rows(rows);
    }
    {
        Rows<double, std::uint64_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p64, o, kU64Max);
        add_every_mode_int(rows, 0x1p64 + 4096, kWrap, 4096);
        add_every_mode_int(rows, -1.0, kWrap, kU64Max);
        add_every_mode_int(rows, -0x1p63, kWrap, i128{1} << 63);
        add_every_mode_int(rows, 0x1p64 - 2048, kAbsent, (i128{1} << 64) - 2048);
        add_every_mode_int(rows, 0x1p63 + 2048, kAbsent, (i128{1} << 63) + 2048);
        add_every_mode_int(rows, -1e300, kClamp, 0);
        add_every_mode_int(rows, 1e300, kClamp, kU64Max);
        add_every_mode_int(rows, 0x1p64 + 4096, kAbsent, std::nullopt);
        expect_rows(rows);
    }
    {
        Rows<float, std::int64_t> rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(rows, 0x1p63, o, kI64Max);
        add_every_mode_int(rows, -0x1p63, kWrap, kI64Min);
        add_every_mode_int(rows, 0x1p64, kWrap, 0);
        add_every_mode_int(rows, -kInfinity, kClamp, kI64Min);
        expect_rows(rows);
        Rows<float, std::uint64_t> unsigned_rows;
        for (OutOfRange o : kOutOfRangeRules) add_every_mode_int(unsigned_rows, 0x1p64, o, kU64Max);
        add_every_mode_int(unsigned_rows, kInfinity, kClamp, kU64Max);
        add_every_mode_int(unsigned_rows, -0x1p63, kWrap, i128{1} << 63);
        add_every_mode_int(unsigned_rows, 0x1p65, kWrap, 0);
        expect_rows(unsigned_rows);
    }
    {
        Rows<double, std::int32_t> rows;
        add_every_mode_int(rows, 1e300, kWrap, 0);
        add_every_mode_int(rows, 4294967301.0, kWrap, 5);
        add_every_mode_int(rows, -2147483649.0, kWrap, 2147483647);
        add_every_mode_int(rows, 0x1p53 + 2, kWrap, 2);
        expect_rows(rows);
        Rows<double, std::int8_t> narrow_rows;
        add_every_mode_int(narrow_rows, 0x1p53 + 2, kWrap, 2);
        add_every_mode_int(narrow_rows, -129.0, kWrap, 127);
        add_every_mode_int(narrow_rows, 1e300, kClamp, 127);
        expect_rows(narrow_rows);
        Rows<float, std::uint8_t> byte_rows;
        add_every_mode_int(byte_rows, -1.0, kWrap, 255);
        expect_rows(byte_rows);
    }
}

// ---- Floating to floating -------------------------------------------------------------------

class FloatToFloatMapBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(FloatToFloatMapBlocks);

TEST_P(FloatToFloatMapBlocks, MapsOfEveryShapeInEveryModeMatchTheElementLoop) {
    for_each_pair_of<Family::FloatToFloat>([]<class S, class D>() { check_map_scenarios<S, D>(); });
}

TEST_P(FloatToFloatMapBlocks, FailuresAmongMatchesMatchTheElementLoop) {
    for_each_pair_of<Family::FloatToFloat>([]<class S, class D>() { check_failures_among_matches<S, D>(); });
}

// NaNs of every payload, infinities, the overflow threshold and the values around it, results
// in binary32's subnormal range and its ties, ties between normal neighbours, and random values
// with and without bits below binary32's precision.
std::vector<double> narrowing_values(std::mt19937_64& rng) {
    std::vector<double> v = {0.0, -0.0, kInfinity, -kInfinity, 1e39, -1e39, 1e300, std::numeric_limits<double>::max(),
                             // Subnormal results and the ties between them.
                             0x1p-149, 0x1p-150, -0x1p-150, 0x1p-150 * (1 + 0x1p-40), 0x1p-150 * (1 - 0x1p-40),
                             0x3p-150, -0x3p-150, 0x1p-126, 0x1p-126 * (1 - 0x1p-24), 0x1p-127 + 0x1p-150, 1e-45,
                             1e-46, 5e-324, 1e-310,
                             // Ties between normal neighbours and values just off them.
                             1 + 0x1p-24, 1 + 0x3p-24, -(1 + 0x1p-24), 1 + 0x1p-24 + 0x1p-52, 1 + 0x1p-24 - 0x1p-53,
                             0.1, 1.0 / 3.0, 65504.0, 65520.0};
    // The largest finite binary32, the tie beyond it and their neighbours.
    const double max = 3.4028234663852886e38, tie = 3.4028235677973366e38;
    for (double x : {max, tie, std::nextafter(tie, 0.0), std::nextafter(tie, kInfinity), std::nextafter(max, 0.0),
                     std::nextafter(max, kInfinity), 0x1p128}) {
        v.push_back(x);
        v.push_back(-x);
    }
    for (int i = 0; i < 48; ++i) {
        const double m = std::uniform_real_distribution<double>(1.0, 2.0)(rng);
        double x = std::ldexp(m, static_cast<int>(rng() % 300) - 160);
        if (rng() % 3 == 0) x = static_cast<float>(x);
        v.push_back(rng() % 2 ? x : -x);
    }
    return v;
}

TEST_P(FloatToFloatMapBlocks, NarrowsFloat64ToFloat32InEveryModeLikeTheElementLoop) {
    std::mt19937_64 rng(rng_start("narrowing"));
    std::vector<double> values = narrowing_values(rng);
    for (double x : nan_values<double>()) values.push_back(x);
    check_lane_values<double, float>(distinct(values), "narrowing");
}

TEST_P(FloatToFloatMapBlocks, NarrowsFloat64ToFloat32ToTheExpectedBits) {
    Rows<double, float> rows;
    const auto f = [](std::uint32_t bits) { return std::optional<float>(std::bit_cast<float>(bits)); };
    const std::optional<float> failure;
    const std::optional<float> max = std::numeric_limits<float>::max(), inf = std::numeric_limits<float>::infinity();
    for (OutOfRange o : kOutOfRangeRules) {
        // A NaN comes out quiet with its sign and the top 23 payload bits.
        add_every_mode(rows, from_pattern<double>(0x7FF0000000000001), o, f(0x7FC00000));
        add_every_mode(rows, from_pattern<double>(0xFFF4000020000000), o, f(0xFFE00001));
        add_every_mode(rows, from_pattern<double>(0x7FF0000010000000), o, f(0x7FC00000));
        add_every_mode(rows, kInfinity, o, inf);
        const std::optional<float> tie_below[5] = {f(0), f(0), f(1), f(0), f(1)};
        add_by_mode(rows, 0x1p-150, o, tie_below);
        const std::optional<float> negative_tie_below[5] = {f(0x80000000), f(0x80000000), f(0x80000000), f(0x80000001),
                                                             f(0x80000001)};
        add_by_mode(rows, -0x1p-150, o, negative_tie_below);
        const std::optional<float> odd_tie[5] = {f(2), f(1), f(2), f(1), f(2)};
        add_by_mode(rows, 0x3p-150, o, odd_tie);
        const std::optional<float> one_tie[5] = {1.0f, 1.0f, f(0x3F800001), 1.0f, f(0x3F800001)};
        add_by_mode(rows, 1 + 0x1p-24, o, one_tie);
    }
    // Overflow: clamp stores the infinity; otherwise a finite source whose result is infinite fails.
    const std::optional<float> clamp_big[5] = {inf, max, inf, max, inf};
    const std::optional<float> big[5] = {failure, max, failure, max, failure};
    const std::optional<float> negative_big[5] = {failure, -*max, -*max, failure, failure};
    const std::optional<float> at_tie[5] = {failure, max, failure, max, failure};
    const std::optional<float> below_tie[5] = {max, max, failure, max, max};
    add_by_mode(rows, 1e39, kClamp, clamp_big);
    add_by_mode(rows, 1e39, kAbsent, big);
    add_by_mode(rows, 1e39, kWrap, big);
    add_by_mode(rows, -1e39, kAbsent, negative_big);
    add_by_mode(rows, 3.4028235677973366e38, kAbsent, at_tie);
    add_by_mode(rows, std::nextafter(3.4028235677973366e38, 0.0), kAbsent, below_tie);
    add_by_mode(rows, std::numeric_limits<double>::max(), kClamp, clamp_big);
    expect_rows(rows);
}

// ---- Integer to floating --------------------------------------------------------------------

class IntToFloatMapBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(IntToFloatMapBlocks);

TEST_P(IntToFloatMapBlocks, MapsOfEveryShapeInEveryModeMatchTheElementLoop) {
    for_each_pair_of<Family::IntToFloat>([]<class S, class D>() { check_map_scenarios<S, D>(); });
}

// Integers of every width with random bit lengths, besides the edge values (every power of two
// and its neighbours, the float32 and float64 ties above their precision).
std::vector<i128> integer_values(std::mt19937_64& rng) {
    std::vector<i128> v = edge_integers();
    for (int i = 0; i < 96; ++i) {
        const int bits = 1 + static_cast<int>(rng() % 64);
        const i128 x = static_cast<i128>(bits == 64 ? rng() : rng() & ((std::uint64_t{1} << bits) - 1));
        v.push_back(x);
        v.push_back(-x);
    }
    // Integers next to a value halfway between two binary32 values, above 2^53, where their
    // nearest binary64 is that halfway value.
    for (int e = 54; e < 64; ++e) {
        const i128 step = static_cast<i128>(1) << (e - 24);
        const i128 halfway = (static_cast<i128>(1) << e) + (2 * static_cast<i128>(rng() % (1u << 23)) + 1) * step;
        for (const i128 x : {halfway + 1, halfway - 1, (static_cast<i128>(1) << e) + step - 1}) {
            v.push_back(x);
            v.push_back(-x);
        }
    }
    return v;
}

// Above 2^53 the rounding step is judged against the source's binary64 value, which may equal
// the nearest binary32 result although the integer does not.
TEST_P(IntToFloatMapBlocks, WideIntegersToFloat32InEveryModeMatchTheElementLoop) {
    std::mt19937_64 rng(rng_start("wide integers"));
    const std::vector<i128> values = integer_values(rng);
    check_lane_values<std::int64_t, float>(as_integers<std::int64_t>(values), "wide integers");
    check_lane_values<std::uint64_t, float>(as_integers<std::uint64_t>(values), "wide integers");
}

TEST_P(IntToFloatMapBlocks, ThirtyTwoBitIntegersToFloat32InEveryModeMatchTheElementLoop) {
    std::mt19937_64 rng(rng_start("32-bit integers"));
    const std::vector<i128> values = integer_values(rng);
    check_lane_values<std::uint32_t, float>(as_integers<std::uint32_t>(values), "32-bit integers");
    check_lane_values<std::int32_t, float>(as_integers<std::int32_t>(values), "32-bit integers");
}

TEST_P(IntToFloatMapBlocks, EveryIntegerTypeToFloat16InEveryModeMatchesTheElementLoop) {
    std::mt19937_64 rng(rng_start("to float16"));
    std::vector<i128> values = integer_values(rng);
    for (int i = 0; i < 64; ++i) {
        const i128 x = static_cast<i128>(rng() % 140000);
        values.push_back(x);
        values.push_back(-x);
    }
    for_each_pair_of<Family::IntToFloat>([&]<class S, class D>() {
        if constexpr (std::is_same_v<D, f16>) check_lane_values<S, D>(as_integers<S>(values), "to float16");
    });
}

template <class S, class D>
void add_int_rows(Rows<S, D>& rows, i128 x, const double (&stored)[5]) {
    std::optional<D> s[5];
    for (int i = 0; i < 5; ++i) s[i] = from_double<D>(stored[i]);
    add_by_mode(rows, static_cast<S>(x), kAbsent, s);
}

TEST_P(IntToFloatMapBlocks, RoundsToTheExpectedBits) {
    const i128 p = 1;
    {
        Rows<std::int32_t, float> rows;
        add_int_rows(rows, 16777217, {16777216, 16777216, 16777218, 16777216, 16777218});
        add_int_rows(rows, -16777217, {-16777216, -16777216, -16777216, -16777218, -16777218});
        expect_rows(rows);
        Rows<std::uint32_t, float> unsigned_rows;
        add_int_rows(unsigned_rows, 4294967295, {0x1p32, 4294967040, 0x1p32, 4294967040, 0x1p32});
        expect_rows(unsigned_rows);
    }
    {
        // 2^60 + 2^7 is 2^60 in binary64: no mode moves the nearest result; 2^60 + 2^8 is exact
        // there and moves towards +inf. 2^64 - 1 is 2^64 in binary64, which every mode keeps.
        Rows<std::uint64_t, float> rows;
        add_int_rows(rows, (p << 60) + (p << 7), {0x1p60, 0x1p60, 0x1p60, 0x1p60, 0x1p60});
        add_int_rows(rows, (p << 60) + (p << 8), {0x1p60, 0x1p60, 0x1p60 + 0x1p37, 0x1p60, 0x1p60});
        add_int_rows(rows, (p << 64) - 1, {0x1p64, 0x1p64, 0x1p64, 0x1p64, 0x1p64});
        add_int_rows(rows, (p << 63) + (p << 39), {0x1p63, 0x1p63, 0x1p63 + 0x1p40, 0x1p63, 0x1p63 + 0x1p40});
        expect_rows(rows);
        Rows<std::int64_t, float> signed_rows;
        add_int_rows(signed_rows, -(p << 63), {-0x1p63, -0x1p63, -0x1p63, -0x1p63, -0x1p63});
        add_int_rows(signed_rows, (p << 63) - 1, {0x1p63, 0x1p63, 0x1p63, 0x1p63, 0x1p63});
        add_int_rows(signed_rows, -((p << 60) + (p << 8)), {-0x1p60, -0x1p60, -0x1p60, -0x1p60 - 0x1p37, -0x1p60});
        // 2^60 + 2^36 +- 1 round in binary64 to 2^60 + 2^36, halfway between two binary32 values:
        // the nearest binary32 is the one on the integer's own side, and the move to the mode is
        // judged against the halfway value (a tie for nearest-away).
        add_int_rows(signed_rows, (p << 60) + (p << 36) + 1,
                     {0x1p60 + 0x1p37, 0x1p60, 0x1p60 + 0x1p37, 0x1p60, 0x1p60 + 0x1p37});
        add_int_rows(signed_rows, (p << 60) + (p << 36) - 1, {0x1p60, 0x1p60, 0x1p60 + 0x1p37, 0x1p60, 0x1p60 + 0x1p37});
        add_int_rows(signed_rows, -((p << 60) + (p << 36) + 1),
                     {-0x1p60 - 0x1p37, -0x1p60, -0x1p60, -0x1p60 - 0x1p37, -0x1p60 - 0x1p37});
        expect_rows(signed_rows);
    }
    {
        // float16: 65520 is the tie beyond the largest finite value, 2049 a tie between 2048 and
        // 2050; 2^24 + 1 lies far beyond.
        const auto check = [&]<class S>() {
            Rows<S, f16> rows;
            constexpr double inf = kInfinity;
            add_int_rows(rows, 65520, {inf, 65504, inf, 65504, inf});
            add_int_rows(rows, 65519, {65504, 65504, inf, 65504, 65504});
            add_int_rows(rows, 2049, {2048, 2048, 2050, 2048, 2050});
            if constexpr (std::is_signed_v<S>) add_int_rows(rows, -65520, {-inf, -65504, -65504, -inf, -inf});
            if constexpr (element_bits_v<S> >= 32) add_int_rows(rows, (p << 24) + 1, {inf, 65504, inf, 65504, inf});
            expect_rows(rows);
        };
        check.template operator()<std::uint16_t>();
        check.template operator()<std::int32_t>();
        check.template operator()<std::uint32_t>();
        check.template operator()<std::int64_t>();
        check.template operator()<std::uint64_t>();
        Rows<std::int8_t, f16> byte_rows;
        add_int_rows(byte_rows, -128, {-128, -128, -128, -128, -128});
        expect_rows(byte_rows);
    }
}

// ---- Integer to integer ---------------------------------------------------------------------

class IntToIntMapBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(IntToIntMapBlocks);

TEST_P(IntToIntMapBlocks, MapsOfEveryShapeInEveryModeMatchTheElementLoop) {
    for_each_pair_of<Family::IntToInt>([]<class S, class D>() { check_map_scenarios<S, D>(); });
}

TEST_P(IntToIntMapBlocks, FailuresAmongMatchesMatchTheElementLoop) {
    for_each_pair_of<Family::IntToInt>([]<class S, class D>() { check_failures_among_matches<S, D>(); });
}

// ---- Direct pairs ---------------------------------------------------------------------------

class DirectMapBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(DirectMapBlocks);

TEST_P(DirectMapBlocks, MapsOfEveryShapeMatchTheElementRule) {
    for_each_pair_of<Family::Direct>([]<class S, class D>() { check_map_scenarios<S, D>(); });
}

TEST_P(DirectMapBlocks, WideIntegersToFloat64MatchTheElementRule) {
    std::mt19937_64 rng(rng_start("wide integers to float64"));
    const std::vector<i128> values = integer_values(rng);
    check_lane_values<std::int64_t, double>(as_integers<std::int64_t>(values), "wide integers");
    check_lane_values<std::uint64_t, double>(as_integers<std::uint64_t>(values), "wide integers");
}

TEST_P(DirectMapBlocks, StoresTheExpectedBits) {
    const i128 p = 1;
    constexpr CallModes kPlain{kNearestEven, kAbsent};
    const auto add = [&]<class S>(Rows<S, double>& rows, i128 x, double stored) {
        rows.push_back({static_cast<S>(x), kPlain, stored});
    };
    Rows<std::int64_t, double> rows;
    add(rows, (p << 53) + 1, 0x1p53);
    add(rows, (p << 53) + 3, 0x1p53 + 4);
    add(rows, -(p << 53) - 1, -0x1p53);
    add(rows, (p << 63) - 1, 0x1p63);
    add(rows, -(p << 63), -0x1p63);
    expect_rows(rows);
    Rows<std::uint64_t, double> unsigned_rows;
    add(unsigned_rows, (p << 64) - 1, 0x1p64);
    add(unsigned_rows, (p << 63) + 1024, 0x1p63);
    add(unsigned_rows, (p << 63) + 3072, 0x1p63 + 4096);
    add(unsigned_rows, (p << 63) + 3073, 0x1p63 + 4096);
    expect_rows(unsigned_rows);
    // The same type: the pattern itself, a signalling NaN's payload included.
    Rows<double, double> same_rows;
    same_rows.push_back({from_pattern<double>(0x7FF0000000000001), kPlain, from_pattern<double>(0x7FF0000000000001)});
    same_rows.push_back({-0.0, kPlain, -0.0});
    expect_rows(same_rows);
    Rows<float, float> float_rows;
    float_rows.push_back({from_pattern<float>(0xFF800001), kPlain, from_pattern<float>(0xFF800001)});
    expect_rows(float_rows);
}

}  // namespace
}  // namespace pelm_ossrel
