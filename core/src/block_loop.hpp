// A family's element loop driven by a vector body of the active level (simd/bodies.hpp): the
// body converts whole blocks from the start of the run while it can, the scalar map's targets
// blended in; a block it stops at goes through the element loop, which reports its error (after
// writing the elements before it) or converts it; then the body goes on after that block. The
// elements after the last whole block go through the element loop too. What is stored and
// reported is always the element loop's.
#pragma once

#include <cstddef>

#include "cast_error.hpp"
#include "map_entry.hpp"
#include "simd/bodies.hpp"
#include "slice.hpp"

namespace pelm_ossrel {

// ElementLoop: CastResult(SrcSlice<S>, DstSlice<D>, std::size_t n), the family's element loop for
// the same pair, modes and scalar map.
template <class S, class D, class ElementLoop>
CastResult run_block_body(simd::Body body, SrcSlice<S> src, DstSlice<D> dst, std::size_t n, simd::BodyModes modes,
                          std::size_t block, const ElementLoop& element_loop) noexcept {
    const unsigned char* const in = src.bytes();
    unsigned char* const out = dst.bytes();
    std::size_t i = 0;
    for (;;) {
        const simd::BodyResult result = body(in + i * sizeof(S), out + i * sizeof(D), n - i, modes);
        i += result.done;
        if (result.status != simd::BodyResult::Status::Stopped) break;
        if (const CastResult failed =
                element_loop(SrcSlice<S>(in + i * sizeof(S), block), DstSlice<D>(out + i * sizeof(D), block), block))
            return failed;
        i += block;
    }
    if (i < n) {
        return element_loop(SrcSlice<S>(in + i * sizeof(S), n - i), DstSlice<D>(out + i * sizeof(D), n - i), n - i);
    }
    return std::nullopt;
}

// The scalar map of a call as the bodies receive it.
template <class S, class D>
inline simd::BodyMap body_map(ScalarMap<S, D> map) noexcept {
    return simd::BodyMap{map.data(), map.size()};
}

// The loop of one call: the body of (S, D) from the level's `table` with the call's modes and
// scalar map, in blocks of `block`, driven as above. Loop: the family's element loop, called as
// loop.template operator()<HasMap>(src, dst, map, n).
template <class S, class D, class Loop>
CastResult run_call(const simd::Body (&table)[simd::kElementCodes][simd::kElementCodes], SrcSlice<S> src,
                    DstSlice<D> dst, ScalarMap<S, D> map, std::size_t n, simd::BodyModes modes, std::size_t block,
                    const Loop& loop) noexcept {
    modes.map = body_map(map);
    return run_block_body(table[simd::kElementCode<S>][simd::kElementCode<D>], src, dst, n, modes, block,
                          [&](SrcSlice<S> s, DstSlice<D> d, std::size_t k) noexcept {
                              if (map.empty()) return loop.template operator()<false>(s, d, map, k);
                              return loop.template operator()<true>(s, d, map, k);
                          });
}

// The body of pair (S, D) in one of the active level's pair tables.
template <class S, class D>
inline simd::Body pair_body(const simd::Body (&table)[simd::kElementCodes][simd::kElementCodes]) noexcept {
    return table[simd::kElementCode<S>][simd::kElementCode<D>];
}

}  // namespace pelm_ossrel
