// A 256-entry byte table looked up 64 bytes at a time with AVX-512 VBMI; for the
// callers' run-time dispatched kernels.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstdint>

namespace vexa::procdetail {

/// A 256-entry byte table held in four 64-byte registers.
struct TLut512 {
  __m512i Q[4];
};

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline TLut512 LoadLut(const uint8_t* t) {
  TLut512 l;
  for (int i = 0; i < 4; ++i) l.Q[i] = _mm512_loadu_si512(t + 64 * i);
  return l;
}

/// Each byte of idx replaced by its table entry.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i Lookup(const TLut512& l, __m512i idx) {
  const __m512i lo = _mm512_permutex2var_epi8(l.Q[0], idx, l.Q[1]);
  const __m512i hi = _mm512_permutex2var_epi8(l.Q[2], idx, l.Q[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), lo, hi);
}

}  // namespace vexa::procdetail
#endif
