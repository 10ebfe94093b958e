// What the native tests of the scalar map in the block loops share: runs of a call into a
// sentinel destination, the comparison with the element loop and with the map's own rule, the
// scenarios of maps of every shape, and tables of expected bits.
//
// Beside the comparison with the element loop, every call is held to the map's own rule, written
// here from the exact model's key matching: an element that a key matches stores the target of the
// first entry it matches, unchanged, and never fails; the call fails exactly when some element
// that no key matches fails on its own, and then every element from that one on is untouched.
#pragma once

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

namespace pelm_ossrel::map_checks {

using namespace testing_support;

inline constexpr OutOfRange kClamp = OutOfRange::Clamp;
inline constexpr OutOfRange kWrap = OutOfRange::Wrap;
inline constexpr OutOfRange kAbsent = OutOfRange::Absent;
inline constexpr RoundingMode kNearestEven = RoundingMode::NearestEven;
inline constexpr unsigned char kSentinel = 0xA5;

template <class S, class D>
using Map = std::vector<MapEntry<S, D>>;

inline std::uint64_t rng_start(const std::string& what) { return std::hash<std::string>{}(what); }

inline std::string hex(std::uint64_t v) {
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

    // More keys than the lanes hold ready: sixteen keys of the input, then a seventeenth, then the
    // sixteenth again, which loses to its first entry.
    {
        std::vector<S> x = mixed_input(p, n, rng);
        std::vector<S> keys = sample(x, 17, rng);
        plant(x, keys, 1, rng);
        Map<S, D> map = map_of(keys, p, rng);
        if (keys.size() >= 16) map.push_back({keys[15], pick(p.targets, rng)});
        add(std::to_string(map.size()) + " keys across the held ones", std::move(x), std::move(map));
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

// Integers of every width with random bit lengths, besides the edge values (every power of two
// and its neighbours, the float32 and float64 ties above their precision).
inline std::vector<i128> integer_values(std::mt19937_64& rng) {
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

}  // namespace pelm_ossrel::map_checks

// The suite `suite` (a LevelTest, once per level this processor has) of the scalar map in the
// block loops of `family`: maps of every shape in every mode of each pair match the element loop.
// Each family's suite is a file of its own, so that they compile in parallel.
#define PELM_OSSREL_MAP_BLOCK_SUITE(suite, family)                                                        \
    class suite : public ::pelm_ossrel::testing_support::LevelTest {};                                   \
    PELM_OSSREL_FOR_EVERY_LEVEL(suite);                                                                  \
    TEST_P(suite, MapsOfEveryShapeInEveryModeMatchTheElementLoop) {                                      \
        ::pelm_ossrel::testing_support::for_each_pair_of<family>(                                        \
            []<class S, class D>() { ::pelm_ossrel::map_checks::check_map_scenarios<S, D>(); });         \
    }

// For a family whose elements can fail: a failing value that no key matches, at every position
// of a run among matches, matches the element loop.
#define PELM_OSSREL_MAP_FAILURE_TEST(suite, family)                                                       \
    TEST_P(suite, FailuresAmongMatchesMatchTheElementLoop) {                                             \
        ::pelm_ossrel::testing_support::for_each_pair_of<family>(                                        \
            []<class S, class D>() { ::pelm_ossrel::map_checks::check_failures_among_matches<S, D>(); }); \
    }
