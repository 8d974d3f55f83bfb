// Two channels of doubles in one SSE2 register, for the stereo loops. Every
// operation rounds each lane exactly as the scalar operation does, so a law
// written once for `double` and for `DspLanes` (a generic lambda) gives the
// same bits on both paths. A selection computes both alternatives.
#pragma once
#include <emmintrin.h>

#include "dsp_kernel.h"

struct DspLanes {
    __m128d v;
    DspLanes(__m128d x) : v(x) {}
    DspLanes(double x) : v(_mm_set1_pd(x)) {}  // the same value in both lanes
};
struct DspLaneMask {
    __m128d m;
};

inline DspLanes operator+(DspLanes a, DspLanes b) { return _mm_add_pd(a.v, b.v); }
inline DspLanes operator-(DspLanes a, DspLanes b) { return _mm_sub_pd(a.v, b.v); }
inline DspLanes operator*(DspLanes a, DspLanes b) { return _mm_mul_pd(a.v, b.v); }
inline DspLanes operator/(DspLanes a, DspLanes b) { return _mm_div_pd(a.v, b.v); }
inline DspLaneMask operator>(DspLanes a, DspLanes b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline DspLaneMask operator>=(DspLanes a, DspLanes b) { return {_mm_cmpge_pd(a.v, b.v)}; }
inline DspLaneMask operator<(DspLanes a, DspLanes b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline DspLaneMask operator<=(DspLanes a, DspLanes b) { return {_mm_cmple_pd(a.v, b.v)}; }

inline DspLanes DspAbs(DspLanes a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a.v); }

inline double DspSelect(bool c, double a, double b) { return c ? a : b; }
inline DspLanes DspSelect(DspLaneMask c, DspLanes a, DspLanes b)
{
    return _mm_or_pd(_mm_and_pd(c.m, a.v), _mm_andnot_pd(c.m, b.v));
}

// Lane j (0 or 1) of the result is a's when bit j of `bits` is set, else b's.
inline DspLanes DspSelectBits(int bits, DspLanes a, DspLanes b)
{
    alignas(16) static const int32_t masks[4][4] = {{0, 0, 0, 0}, {-1, -1, 0, 0}, {0, 0, -1, -1}, {-1, -1, -1, -1}};
    const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(masks[bits & 3]));
    return DspSelect(DspLaneMask{_mm_castsi128_pd(m)}, a, b);
}

// Two interleaved 16-bit samples as two 32-bit lanes.
inline __m128i DspLoad2(const short* p)
{
    int32_t both;
    memcpy(&both, p, sizeof both);
    __m128i v = _mm_cvtsi32_si128(both);
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
}

inline __m128i DspAbs2(__m128i v)
{
    __m128i sign = _mm_srai_epi32(v, 31);
    return _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
}

// DspOutputSample on both lanes, stored as two interleaved samples.
inline void DspOutputSamples2(DspLanes y, short* out)
{
    __m128d v = _mm_andnot_pd(_mm_cmpunord_pd(y.v, y.v), y.v);  // NaN gives 0
    v = _mm_min_pd(_mm_max_pd(v, _mm_set1_pd(-32767.0)), _mm_set1_pd(32767.0));
    __m128i low = _mm_castpd_si128(_mm_add_pd(v, _mm_set1_pd(103079215104.0)));
    low = _mm_srai_epi32(_mm_shuffle_epi32(low, _MM_SHUFFLE(3, 3, 2, 0)), 16);
    int32_t both = _mm_cvtsi128_si32(_mm_packs_epi32(low, low));
    memcpy(out, &both, sizeof both);
}
