#include "errors/library_math.h"

#include <cmath>
#include <cstdint>

#include <emmintrin.h>

namespace {

// Two angles at a time. For |x| <= 2^-7:
//   sin x = x + x^3 (-1/6 + x^2/120 - x^4/5040) + O(x^9)
//   cos x = 1 + x^2 (-1/2 + x^2/24 - x^4/720) + O(x^8),
// the left-out terms below 4e-23 |x| and 4e-22, and the rounding of the
// small parts below 1e-4 units of the result. `near` is the small part
// added to x (or 1) and rounded; `off`, the part that rounding dropped,
// is exact (the larger addend comes first). The sine's unit is that of
// its binade; a sine that is a power of two (with something dropped) is
// asked of the library, as the true value may lie above it, where the
// next double down is only half a unit away. The cosine lies in
// [1 - 2^-15, 1], where a unit below 1 is 2^-53 and 1 + 2^-52 is two away.
// Returns which values the library must give: bit 0 the first angle's
// sine, bit 1 its cosine, bits 2 and 3 the second's.
unsigned near_pair(const double* x, double* sines, double* cosines) {
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffll));
    const __m128d exponent = _mm_castsi128_pd(_mm_set1_epi64x(0x7ff0000000000000ll));
    const __m128i fraction = _mm_set1_epi64x(0x000fffffffffffffll);
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);

    const __m128d v = _mm_loadu_pd(x);
    const __m128d v2 = _mm_mul_pd(v, v);
    const __m128d sinRest = _mm_mul_pd(
        _mm_mul_pd(v, v2),
        _mm_add_pd(_mm_set1_pd(-1.0 / 6),
                   _mm_mul_pd(v2, _mm_sub_pd(_mm_set1_pd(1.0 / 120), _mm_mul_pd(v2, _mm_set1_pd(1.0 / 5040))))));
    const __m128d sinNear = _mm_add_pd(v, sinRest);
    const __m128d sinOff = _mm_sub_pd(sinRest, _mm_sub_pd(sinNear, v));
    const __m128d cosRest =
        _mm_mul_pd(v2, _mm_add_pd(_mm_set1_pd(-0.5),
                                  _mm_mul_pd(v2, _mm_sub_pd(_mm_set1_pd(1.0 / 24), _mm_mul_pd(v2, _mm_set1_pd(1.0 / 720))))));
    const __m128d cosNear = _mm_add_pd(one, cosRest);
    const __m128d cosOff = _mm_sub_pd(cosRest, _mm_sub_pd(cosNear, one));

    // Small and not zero (a NaN fails the comparison).
    const __m128d small =
        _mm_and_pd(_mm_cmple_pd(_mm_and_pd(v, magnitude), _mm_set1_pd(0x1p-7)), _mm_cmpneq_pd(v, zero));
    // The sine's unit: the power of two of its binade times 2^-52.
    const __m128d sineUnit = _mm_mul_pd(_mm_and_pd(sinNear, exponent), _mm_set1_pd(0x1p-52));
    const __m128i noFraction32 = _mm_cmpeq_epi32(_mm_and_si128(_mm_castpd_si128(sinNear), fraction), _mm_setzero_si128());
    const __m128d powerOfTwo =
        _mm_castsi128_pd(_mm_and_si128(noFraction32, _mm_shuffle_epi32(noFraction32, _MM_SHUFFLE(2, 3, 0, 1))));
    const __m128d sineSure = _mm_and_pd(
        small, _mm_or_pd(_mm_cmpeq_pd(sinOff, zero),
                         _mm_andnot_pd(powerOfTwo, _mm_cmple_pd(_mm_and_pd(sinOff, magnitude),
                                                                _mm_mul_pd(sineUnit, _mm_set1_pd(0.45))))));
    const __m128d cosineSure =
        _mm_and_pd(small, _mm_cmple_pd(_mm_and_pd(cosOff, magnitude), _mm_set1_pd(0.45 * 0x1p-53)));

    _mm_storeu_pd(sines, sinNear);
    _mm_storeu_pd(cosines, cosNear);
    const unsigned sineAsk = ~static_cast<unsigned>(_mm_movemask_pd(sineSure)) & 3u;
    const unsigned cosineAsk = ~static_cast<unsigned>(_mm_movemask_pd(cosineSure)) & 3u;
    return (sineAsk & 1u) | (cosineAsk & 1u) << 1 | (sineAsk >> 1) << 2 | (cosineAsk >> 1) << 3;
}

}  // namespace

void library_sines_cosines(const double* angles, std::size_t count, double* sines, double* cosines) {
    // Angles per pass: the series for all of them, noting (without a
    // branch) those the library must answer, then the library's answers
    // for those. Where either value is asked, both come from one call of
    // the pair, as a plain sin and cos of the same angle compile to.
    constexpr std::size_t kPass = 64;
    std::uint8_t asked[kPass + 2];
    for (std::size_t begin = 0; begin < count; begin += kPass) {
        const std::size_t n = count - begin < kPass ? count - begin : kPass;
        const double* const x = angles + begin;
        double* const s = sines + begin;
        double* const c = cosines + begin;
        std::size_t k = 0, i = 0;
        for (; i + 2 <= n; i += 2) {
            const unsigned ask = near_pair(x + i, s + i, c + i);
            asked[k] = static_cast<std::uint8_t>(i);
            k += (ask & 3u) != 0;
            asked[k] = static_cast<std::uint8_t>(i + 1);
            k += (ask >> 2) != 0;
        }
        if (i < n) {
            const double last[2] = {x[i], 0.0};
            double ls[2], lc[2];
            const unsigned ask = near_pair(last, ls, lc);
            s[i] = ls[0];
            c[i] = lc[0];
            asked[k] = static_cast<std::uint8_t>(i);
            k += (ask & 3u) != 0;
        }
        for (std::size_t j = 0; j < k; ++j) {
            const double angle = x[asked[j]];
            s[asked[j]] = std::sin(angle);
            c[asked[j]] = std::cos(angle);
        }
    }
}
