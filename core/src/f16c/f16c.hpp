// Binary16 conversions with the F16C instructions. The definitions are compiled for AVX and F16C:
// call them only when the processor feature word has kCpuF16C. They give the same bits as the
// software conversions in f16.hpp for every input.
#pragma once

#include <cstddef>

namespace pelm_ossrel {

struct f16;

// VCVTPS2PH with rounding to nearest even (the immediate, not MXCSR) on one value.
f16 f32_to_f16_x86_f16c(float x) noexcept;
// VCVTPH2PS on one value.
float f16_to_f32_x86_f16c(f16 h) noexcept;

// Bulk forms over n elements in unaligned, non-overlapping byte runs: src holds n binary16
// (or binary32) values, dst receives n binary32 (or binary16) values. Eight lanes at a time,
// then the tail one by one.
void f16_to_f32_x86_f16c_n(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept;
void f32_to_f16_x86_f16c_n(const unsigned char* src, unsigned char* dst, std::size_t n) noexcept;

}  // namespace pelm_ossrel
