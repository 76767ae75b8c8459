#include "app/library_trig.h"

#include <cmath>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define POINTFALL_TRIG_VECTOR 1
#endif

namespace {

// Which values the library must give: bit i for the sine of angle i of a
// group of eight, bit 8 + i for its cosine.
using AskMask = unsigned;

void ask_library(const double* x, AskMask ask, double* sines, double* cosines) {
    // One value at a time: for these angles the library's sine and cosine
    // of the same angle cost as much apart as together.
    for (AskMask sine = ask & 0xffu; sine != 0; sine &= sine - 1) {
        const int i = __builtin_ctz(sine);
        sines[i] = std::sin(x[i]);
    }
    for (AskMask cosine = ask >> 8; cosine != 0; cosine &= cosine - 1) {
        const int i = __builtin_ctz(cosine);
        cosines[i] = std::cos(x[i]);
    }
}

#ifdef POINTFALL_TRIG_VECTOR

constexpr int kTableSize = 16;  // j / 16 for j in [0, 15]; [0, 13] are used

// Made by tools/trig_table.py: pi/2 split into three doubles (the first two
// of 53 bits each), and sin(j/16), cos(j/16) each as the sum of two doubles
// to about 2^-106 of the value.
// pi/2 = P1 + P2 + P3
constexpr double kPio2_1 = 0x1.921fb54442d18p+0;
constexpr double kPio2_2 = 0x1.1a62633145c07p-54;
constexpr double kPio2_3 = -0x1.f1976b7ed8fbcp-110;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
alignas(64) constexpr double kSineHi[kTableSize] = {
    0x0.0p+0, 0x1.ffaaaeeed4edbp-5, 0x1.feaaeee86ee36p-4,
    0x1.7dc102fbaf2b5p-3, 0x1.faaeed4f31577p-3, 0x1.3ad129769d3d8p-2,
    0x1.7710255764214p-2, 0x1.b1d8305321617p-2, 0x1.eaee8744b05f0p-2,
    0x1.110d0c4b69c3bp-1, 0x1.2b91dea88421ep-1, 0x1.44eb381cf386bp-1,
    0x1.5cffc16bf8f0dp-1, 0x1.73b7680dea578p-1, 0x1.88fb7640b8da2p-1,
    0x1.9cb6a9bbce64bp-1,
};
alignas(64) constexpr double kSineLo[kTableSize] = {
    0x0.0p+0, -0x1.2d16d32684b69p-59, -0x1.afcb2bcc6f03bp-59,
    0x1.5ab50e23c97c3p-59, -0x1.15d88508e32b8p-57, 0x1.03d550487839ap-63,
    -0x1.6ead7314bb6cep-57, -0x1.ae242cb99f519p-56, -0x1.789b43c9b027dp-58,
    0x1.d918998809981p-55, -0x1.fa371db216ab0p-55, -0x1.3ed6c1e6a5505p-55,
    0x1.96cb370eb578ap-55, -0x1.2248306dc12a2p-56, -0x1.49987c11efaa3p-55,
    -0x1.4f3e7a32f8d0cp-56,
};
alignas(64) constexpr double kCosineHi[kTableSize] = {
    0x1.0000000000000p+0, 0x1.ff0015549f4d3p-1, 0x1.fc015527d5bd3p-1,
    0x1.f706bdf9ece1cp-1, 0x1.f01549f7deea1p-1, 0x1.e733ea0193d40p-1,
    0x1.dc6b7eb995912p-1, 0x1.cfc6cfa52ad9fp-1, 0x1.c1528065b7d50p-1,
    0x1.b11d04162a4c6p-1, 0x1.9f368ed912f85p-1, 0x1.8bb105a5dc900p-1,
    0x1.769fec655211fp-1, 0x1.6018526f563dfp-1, 0x1.4830bd7d4ceb3p-1,
    0x1.2f011326420e4p-1,
};
alignas(64) constexpr double kCosineLo[kTableSize] = {
    0x0.0p+0, 0x1.328387b99426fp-55, 0x1.b68f35094efb8p-55,
    -0x1.698c80c36dcb4p-55, 0x1.d3c1e99e5cafdp-55, -0x1.6428b3546ce13p-55,
    0x1.4b364776dcd35p-58, 0x1.8b5b5508f2a0dp-55, -0x1.892111312e828p-55,
    0x1.1dd561efbc0c2p-56, -0x1.1d200c5791606p-55, 0x1.863e03e9474c1p-55,
    -0x1.827d5cf8c68c5p-57, 0x1.46ca5e0e432d0p-55, 0x1.df77ff20d5448p-55,
    0x1.8e30efe9e96c2p-56,
};

#define POINTFALL_TRIG_TARGET __attribute__((target("avx512f,avx512dq,fma")))

// Error-free sum of two doubles: a + b = sum + error exactly.
POINTFALL_TRIG_TARGET inline __m512d two_sum(__m512d a, __m512d b, __m512d& error) {
    const __m512d sum = _mm512_add_pd(a, b);
    const __m512d bb = _mm512_sub_pd(sum, a);
    error = _mm512_add_pd(_mm512_sub_pd(a, _mm512_sub_pd(sum, bb)), _mm512_sub_pd(b, bb));
    return sum;
}

// The double hi + lo rounds to, and whether the true value (within a few
// thousandths of a unit of hi + lo) surely lies within 0.45 units of it.
// hi is the larger part, so the part the rounding dropped is exact.
POINTFALL_TRIG_TARGET inline __m512d rounded(__m512d hi, __m512d lo, __mmask8& sure) {
    const __m512d y = _mm512_add_pd(hi, lo);
    const __m512d dropped = _mm512_sub_pd(lo, _mm512_sub_pd(y, hi));
    const __m512i bits = _mm512_castpd_si512(y);
    const __m512d unit = _mm512_mul_pd(
        _mm512_castsi512_pd(_mm512_and_si512(bits, _mm512_set1_epi64(0x7ff0000000000000ll))), _mm512_set1_pd(0x1p-52));
    // Below a power of two the next double down is only half a unit away:
    // those (with anything dropped) go to the library.
    const __mmask8 powerOfTwo =
        _mm512_testn_epi64_mask(bits, _mm512_set1_epi64(0x000fffffffffffffll));
    const __mmask8 close =
        _mm512_cmp_pd_mask(_mm512_abs_pd(dropped), _mm512_mul_pd(unit, _mm512_set1_pd(0.445)), _CMP_LE_OQ);
    const __mmask8 exact = _mm512_cmp_pd_mask(dropped, _mm512_setzero_pd(), _CMP_EQ_OQ);
    sure = close & (~powerOfTwo | exact);
    return y;
}

// Eight angles; returns the lanes the library must answer.
POINTFALL_TRIG_TARGET AskMask eight(const double* angles, double* sines, double* cosines) {
    const __m512d x = _mm512_loadu_pd(angles);
    const __m512d ax = _mm512_abs_pd(x);
    // A NaN fails both comparisons.
    const __mmask8 inRange = _mm512_cmp_pd_mask(ax, _mm512_set1_pd(0x1p-26), _CMP_GE_OQ) &
                             _mm512_cmp_pd_mask(ax, _mm512_set1_pd(0x1p20), _CMP_LE_OQ);

    // k = x (2/pi) rounded to an integer (the nearest or next to it: r then
    // stays within the table's reach); its last two bits are the quadrant.
    const __m512d shifter = _mm512_set1_pd(0x1.8p52);
    const __m512d kShifted = _mm512_add_pd(_mm512_mul_pd(x, _mm512_set1_pd(kTwoOverPi)), shifter);
    const __m512d k = _mm512_sub_pd(kShifted, shifter);
    const __m512i quadrant = _mm512_and_si512(_mm512_castpd_si512(kShifted), _mm512_set1_epi64(3));

    // r = x - k pi/2 as rh + rl. x - k P1 is exact (a multiple of 2^-53
    // below 1 in size for |x| <= 2^20); k P2 is split exactly.
    const __m512d r1 = _mm512_fnmadd_pd(k, _mm512_set1_pd(kPio2_1), x);
    const __m512d p = _mm512_mul_pd(k, _mm512_set1_pd(kPio2_2));
    const __m512d pError = _mm512_fmsub_pd(k, _mm512_set1_pd(kPio2_2), p);
    __m512d sumError;
    const __m512d rh = two_sum(r1, _mm512_sub_pd(_mm512_setzero_pd(), p), sumError);
    const __m512d rl = _mm512_fnmadd_pd(k, _mm512_set1_pd(kPio2_3), _mm512_sub_pd(sumError, pError));

    // r = j/16 + d with |d| <= 1/32 (|j| <= 13); rh - j/16 is exact. The
    // table holds j >= 0: sin(-a) = -sin a, cos(-a) = cos a.
    const __m512d jShifted = _mm512_add_pd(_mm512_mul_pd(rh, _mm512_set1_pd(16.0)), shifter);
    const __m512d j = _mm512_sub_pd(jShifted, shifter);
    const __m512d dh = _mm512_fnmadd_pd(j, _mm512_set1_pd(1.0 / 16), rh);
    const __m512i index = _mm512_cvttpd_epi64(_mm512_abs_pd(j));
    const __m512d jSign = _mm512_and_pd(j, _mm512_set1_pd(-0.0));
    const __m512d sh = _mm512_xor_pd(
        _mm512_permutex2var_pd(_mm512_load_pd(kSineHi), index, _mm512_load_pd(kSineHi + 8)), jSign);
    const __m512d sl = _mm512_xor_pd(
        _mm512_permutex2var_pd(_mm512_load_pd(kSineLo), index, _mm512_load_pd(kSineLo + 8)), jSign);
    const __m512d ch = _mm512_permutex2var_pd(_mm512_load_pd(kCosineHi), index, _mm512_load_pd(kCosineHi + 8));
    const __m512d cl = _mm512_permutex2var_pd(_mm512_load_pd(kCosineLo), index, _mm512_load_pd(kCosineLo + 8));
    const __m512d zero = _mm512_setzero_pd();

    // sin d - d and cos d - 1 (with the -d dl of the latter); the terms
    // left out are below 2^-71.
    const __m512d d2 = _mm512_mul_pd(dh, dh);
    const __m512d sinSeries = _mm512_add_pd(
        _mm512_set1_pd(1.0 / 120),
        _mm512_mul_pd(d2, _mm512_add_pd(_mm512_set1_pd(-1.0 / 5040), _mm512_mul_pd(d2, _mm512_set1_pd(1.0 / 362880)))));
    const __m512d sinRest =
        _mm512_mul_pd(_mm512_mul_pd(dh, d2), _mm512_add_pd(_mm512_set1_pd(-1.0 / 6), _mm512_mul_pd(d2, sinSeries)));
    const __m512d cosSeries = _mm512_add_pd(
        _mm512_set1_pd(-1.0 / 720),
        _mm512_mul_pd(d2, _mm512_add_pd(_mm512_set1_pd(1.0 / 40320), _mm512_mul_pd(d2, _mm512_set1_pd(-1.0 / 3628800)))));
    const __m512d cosRest = _mm512_sub_pd(
        _mm512_mul_pd(d2, _mm512_add_pd(_mm512_set1_pd(-0.5),
                                        _mm512_mul_pd(d2, _mm512_add_pd(_mm512_set1_pd(1.0 / 24), _mm512_mul_pd(d2, cosSeries))))),
        _mm512_mul_pd(dh, rl));

    // sin r = sin a + cos a d + (sin a (cos d - 1) + cos a (sin d - d)),
    // cos r = cos a - sin a d + (cos a (cos d - 1) - sin a (sin d - d)),
    // the leading sums and products split exactly, the small parts summed.
    const __m512d sinProduct = _mm512_mul_pd(ch, dh);
    const __m512d sinProductError = _mm512_fmsub_pd(ch, dh, sinProduct);
    __m512d sinSumError;
    const __m512d sinHi = two_sum(sh, sinProduct, sinSumError);
    __m512d sinLo = _mm512_add_pd(sinSumError, sinProductError);
    sinLo = _mm512_add_pd(sinLo, sl);
    sinLo = _mm512_add_pd(sinLo, _mm512_mul_pd(cl, dh));
    sinLo = _mm512_add_pd(sinLo, _mm512_mul_pd(ch, rl));
    sinLo = _mm512_add_pd(sinLo, _mm512_mul_pd(sh, cosRest));
    sinLo = _mm512_add_pd(sinLo, _mm512_mul_pd(ch, sinRest));

    const __m512d cosProduct = _mm512_mul_pd(sh, dh);
    const __m512d cosProductError = _mm512_fmsub_pd(sh, dh, cosProduct);
    __m512d cosSumError;
    const __m512d cosHi = two_sum(ch, _mm512_sub_pd(zero, cosProduct), cosSumError);
    __m512d cosLo = _mm512_sub_pd(cosSumError, cosProductError);
    cosLo = _mm512_add_pd(cosLo, cl);
    cosLo = _mm512_sub_pd(cosLo, _mm512_mul_pd(sl, dh));
    cosLo = _mm512_sub_pd(cosLo, _mm512_mul_pd(sh, rl));
    cosLo = _mm512_add_pd(cosLo, _mm512_mul_pd(ch, cosRest));
    cosLo = _mm512_sub_pd(cosLo, _mm512_mul_pd(sh, sinRest));

    __mmask8 sinSure, cosSure;
    const __m512d sinR = rounded(sinHi, sinLo, sinSure);
    const __m512d cosR = rounded(cosHi, cosLo, cosSure);

    // Quadrant n: sin x is sin r, cos r, -sin r, -cos r for n = 0..3 and
    // cos x is cos r, -sin r, -cos r, sin r.
    const __mmask8 swap = _mm512_test_epi64_mask(quadrant, _mm512_set1_epi64(1));
    const __mmask8 sinNegate = _mm512_test_epi64_mask(quadrant, _mm512_set1_epi64(2));
    const __mmask8 cosNegate =
        _mm512_test_epi64_mask(_mm512_add_epi64(quadrant, _mm512_set1_epi64(1)), _mm512_set1_epi64(2));
    const __m512d signBit = _mm512_set1_pd(-0.0);
    __m512d sinX = _mm512_mask_blend_pd(swap, sinR, cosR);
    __m512d cosX = _mm512_mask_blend_pd(swap, cosR, sinR);
    sinX = _mm512_mask_xor_pd(sinX, sinNegate, sinX, signBit);
    cosX = _mm512_mask_xor_pd(cosX, cosNegate, cosX, signBit);
    _mm512_storeu_pd(sines, sinX);
    _mm512_storeu_pd(cosines, cosX);
    const __mmask8 sinXSure = inRange & ((sinSure & ~swap) | (cosSure & swap));
    const __mmask8 cosXSure = inRange & ((cosSure & ~swap) | (sinSure & swap));
    return static_cast<AskMask>(static_cast<__mmask8>(~sinXSure)) |
           static_cast<AskMask>(static_cast<__mmask8>(~cosXSure)) << 8;
}

bool vector_trig_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("fma");
}

#endif

}  // namespace

void library_sin_cos(const double* angles, std::size_t count, double* sines, double* cosines) {
    std::size_t i = 0;
#ifdef POINTFALL_TRIG_VECTOR
    static const bool vector = vector_trig_available();
    if (vector) {
        for (; i + 8 <= count; i += 8) {
            const AskMask ask = eight(angles + i, sines + i, cosines + i);
            if (ask != 0) ask_library(angles + i, ask, sines + i, cosines + i);
        }
    }
#endif
    for (; i < count; ++i) {
        sines[i] = std::sin(angles[i]);
        cosines[i] = std::cos(angles[i]);
    }
}
