// The call of each element-type pair through its family's driver (the vector bodies of the active
// processor level) and through the family's element loop, under any rounding mode, out-of-range
// mode and scalar map, for the native tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "cast_error.hpp"
#include "direct_pairs.hpp"
#include "element_types.hpp"
#include "float_to_float.hpp"
#include "float_to_int.hpp"
#include "int_to_float.hpp"
#include "int_to_int.hpp"
#include "lift_modes.hpp"
#include "map_entry.hpp"
#include "modes.hpp"
#include "simd/bodies.hpp"
#include "slice.hpp"
#include "support/element_pairs.hpp"
#include "support/mode_lists.hpp"
#include "support/path_rules.hpp"

namespace pelm_ossrel::testing_support {

// The five kinds of pair: the four families of the core and the direct pairs (the target holds
// every value of the source), which convert only with a scalar map.
enum class Family { FloatToInt, FloatToFloat, IntToFloat, IntToInt, Direct, None };

template <class S, class D>
constexpr Family family_of() {
    if constexpr (is_direct_pair_v<S, D>) return Family::Direct;
    else if constexpr (is_float_element_v<S> && is_integer_element_v<D>) return Family::FloatToInt;
    else if constexpr (is_core_float_to_float_pair_v<S, D>) return Family::FloatToFloat;
    else if constexpr (is_core_int_to_float_pair_v<S, D>) return Family::IntToFloat;
    else if constexpr (is_core_int_pair_v<S, D>) return Family::IntToInt;
    else return Family::None;
}

// The block of the family's body.
template <class S, class D>
constexpr std::size_t block_of() {
    constexpr Family f = family_of<S, D>();
    if constexpr (f == Family::IntToInt) return simd::kIntBlock;
    else if constexpr (f == Family::Direct) return simd::kDirectBlock;
    else return simd::kFloatBlock;
}

// fn.template operator()<S, D>() for each pair of family F.
template <Family F, class Fn>
void for_each_pair_of(const Fn& fn) {
    for_each_element_pair([&]<class S, class D>() {
        static_assert(family_of<S, D>() != Family::None, "every pair belongs to one family");
        if constexpr (family_of<S, D>() == F) fn.template operator()<S, D>();
    });
}

struct CallModes {
    RoundingMode rounding;
    OutOfRange oor;
};

inline std::string modes_text(CallModes m) {
    const char* oor = m.oor == OutOfRange::Clamp ? " clamp" : m.oor == OutOfRange::Wrap ? " wrap" : " no mode";
    return rounding_name(m.rounding) + oor;
}

// The modes that mean something to the family: a rounding mode wherever a value is rounded, an
// out-of-range mode wherever a value can lie outside the target's range (wrap acts as no mode for
// a floating target, and is run all the same).
template <class S, class D>
std::vector<CallModes> modes_of() {
    constexpr Family f = family_of<S, D>();
    constexpr bool rounds = f == Family::FloatToInt || f == Family::FloatToFloat || f == Family::IntToFloat;
    constexpr bool ranges = f == Family::FloatToInt || f == Family::FloatToFloat || f == Family::IntToInt;
    std::vector<CallModes> out;
    for (RoundingMode r : kRoundingModes) {
        for (OutOfRange o : kOutOfRangeRules) {
            if ((rounds || r == RoundingMode::NearestEven) && (ranges || o == OutOfRange::Absent))
                out.push_back({r, o});
        }
    }
    return out;
}

// The call under test: the family's driver through the bodies of the active level (the fast
// paths, which keep block rules of their own, are not offered the call).
template <class S, class D>
CastResult blocks_call(CallModes m, ScalarMap<S, D> map, SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
    constexpr Family f = family_of<S, D>();
    if constexpr (f == Family::FloatToInt) {
        return with_modes(m.rounding, m.oor, [&]<RoundingMode M, OutOfRange O>() {
            return detail::float_to_int_run<S, D, M, O>(s, d, map, n);
        });
    } else if constexpr (f == Family::FloatToFloat) {
        return with_modes(m.rounding, m.oor, [&]<RoundingMode M, OutOfRange O>() {
            return detail::float_to_float_run<S, D, M, O>(s, d, map, n);
        });
    } else if constexpr (f == Family::IntToFloat) {
        return convert_slice_int_to_float<S, D>(s, d, IntToFloatConfig<S, D>{map, m.rounding});
    } else if constexpr (f == Family::IntToInt) {
        return convert_slice_int_to_int<S, D>(s, d, IntToIntConfig<S, D>{map, optional_mode(m.oor)});
    } else {
        convert_direct_with_map<S, D>(s, d, map, n);
        return std::nullopt;
    }
}

// The reference: the family's element loop with the same modes and map; for the direct pairs the
// element-by-element rule (the first matching entry's target, else the value itself: its pattern
// for the same type, the plain conversion otherwise).
template <class S, class D>
CastResult element_call(CallModes m, ScalarMap<S, D> map, SrcSlice<S> s, DstSlice<D> d, std::size_t n) {
    constexpr Family f = family_of<S, D>();
    if constexpr (f == Family::FloatToInt) {
        return with_modes(m.rounding, m.oor, [&]<RoundingMode M, OutOfRange O>() {
            return detail::float_to_int_loop<S, D, M, O, true>(s, d, map, n);
        });
    } else if constexpr (f == Family::FloatToFloat) {
        return with_modes(m.rounding, m.oor, [&]<RoundingMode M, OutOfRange O>() {
            return detail::float_to_float_loop<S, D, M, O, true>(s, d, map, n);
        });
    } else if constexpr (f == Family::IntToFloat) {
        return with_rounding(m.rounding, [&]<RoundingMode M>() {
            return detail::int_to_float_loop<S, D, M, true>(s, d, map, n);
        });
    } else if constexpr (f == Family::IntToInt) {
        return with_out_of_range(m.oor, [&]<OutOfRange O>() {
            return int_to_int_detail::int_to_int_loop<S, D, O, true>(s, d, map, n);
        });
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const S v = s[i];
            const auto hit = std::find_if(map.begin(), map.end(),
                                          [&](const MapEntry<S, D>& e) { return key_matches(e.source, v); });
            if (hit != map.end()) {
                d.set(i, hit->target);
            } else if constexpr (std::is_same_v<S, D>) {
                std::memcpy(d.bytes() + i * sizeof(D), s.bytes() + i * sizeof(S), sizeof(S));
            } else {
                d.set(i, static_cast<D>(v));
            }
        }
        return std::nullopt;
    }
}

// Whether the element loop fails on v alone (no map) under m.
template <class S, class D>
bool fails(S v, CallModes m) {
    D out{};
    return element_call<S, D>(m, {}, SrcSlice<S>(&v, 1), DstSlice<D>(&out, 1), 1).has_value();
}

}  // namespace pelm_ossrel::testing_support
