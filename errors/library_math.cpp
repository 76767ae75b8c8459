#include "errors/library_math.h"

#include "app/angles.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <emmintrin.h>

#if defined(__x86_64__) && defined(__GNUC__)
// The intrinsics' headers start vectors from an undefined value, which
// GCC 12 reports as (possibly) uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#define POINTFALL_LOGS_AVX512 1
#endif

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

namespace library_math_detail {

void degrees_to_radians_portable(const double* degrees, std::size_t count, double* radians) {
    for (std::size_t i = 0; i < count; ++i) radians[i] = deg_to_rad(degrees[i]);
}

void library_sines_cosines_portable(const double* angles, std::size_t count, double* sines, double* cosines) {
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

}  // namespace library_math_detail

// The logarithms.
//
// x = 2^k z with z in [0.671875, 1.34375) (k and z from x's bits), and
//   log x = k ln 2 + log c + log1p(r),  r = z / c - 1,
// with c = 1/invc from a table of 16 entries chosen by the top four bits of
// z's offset from 0.671875. invc is a multiple of 2^-6, chosen so that
// r = z * invc - 1 fits in one double for every z of its entry: one FMA
// computes it exactly, |r| <= 0.035. The entry around 1 (z in [0.984375,
// 1.03125)) has invc = 1: there r = z - 1, and log x = log1p(r) with no
// cancellation. log c is kept in two parts, hi a multiple of 2^-43 and lo
// the rest (so k ln2hi + hi is exact for |k| <= 1075), as is ln 2.
//   log1p(r) = r - r^2/2 + r^3 (1/3 - r/4 + ... - r^9/12) + tail,
// with the coefficients 1/j rounded to doubles and the tail below
// |r|^13 / (13 (1 - |r|)). The large part a = (k ln2hi + hi) + (r - r^2/2)
// comes from exact sums (fast two-sums; the first addend is never the
// smaller) and r^2 = r2 + r2e from an exact product; the small part lo
// gathers the sums' errors, k ln2lo + lo, -r2e/2 and the cubic term.
//
// Error: the tail; the rounded coefficients; r^3 (two roundings) and the
// Horner steps (one rounding each); the five roundings in lo; log c and
// ln 2 beyond their two parts (below 2^-96). Bounded entry by entry with
// |r| at its largest and |log x| at its smallest on the entry (for k = 0;
// |log x| >= |k| ln 2 - 0.4 otherwise), and on the entry around 1, where
// |log x| >= |r| (1 - |r|/2), relative to |r| (every term there is a
// multiple of |r| or of a higher power): the largest is 2^-61.28 |log x|,
// 0.0033 units in the last place at most. tools/library_logs_table.py
// computes the table, the coefficients and this bound.
//
// d = a + lo rounded, and off = (a + lo) - d exactly (fast two-sum). The
// value is sure when d + 1.12109375 off rounds back to d: then |off| is at
// most 0.44600 of the distance from d to the next double on its side, and
// the true value lies within 0.4493 units of d. Not sure, and asked of the
// library: x not a positive normal number (zero, subnormal, negative,
// infinite, not a number; the arithmetic goes through on them unchecked),
// or d a power of two (or zero, x = 1), where the units change.
namespace {

constexpr std::uint64_t kLogOffset = 0x3fe5800000000000;  // 0.671875
constexpr double kLn2Hi = 0x1.62e42fefa3800p-1, kLn2Lo = 0x1.ef35793c76730p-45;
constexpr double kSureScale = 0x1.1fp0;  // 1.12109375: |off| <= 0.5 / 1.12109375

alignas(64) constexpr double kInvC[16] = {
    0x1.7p+0, 0x1.6p+0, 0x1.58p+0, 0x1.48p+0, 0x1.38p+0, 0x1.3p+0, 0x1.28p+0, 0x1.18p+0,
    0x1.1p+0, 0x1.08p+0, 0x1p+0, 0x1.ep-1, 0x1.c8p-1, 0x1.bp-1, 0x1.98p-1, 0x1.88p-1,
};
alignas(64) constexpr double kLogCHi[16] = {
    -0x1.739d7f6bbd000p-2, -0x1.4618bc21c6000p-2, -0x1.2e8e2bae12000p-2, -0x1.fb9186d5e4000p-3,
    -0x1.9525a9cf45000p-3, -0x1.5ff3070a79000p-3, -0x1.29552f81ff000p-3, -0x1.6f0d28ae56000p-4,
    -0x1.f0a30c0118000p-5, -0x1.f829b0e780000p-6, 0.0,                   0x1.08598b59e4000p-4,
    0x1.da72763844000p-4,  0x1.5bf406b544000p-3,  0x1.d1037f2656000p-3,  0x1.1178e8227e800p-2,
};
alignas(64) constexpr double kLogCLo[16] = {
    -0x1.a7389314feb50p-52, 0x1.3d82f484c84ccp-46,  0x1.67b1e99b72bd8p-45,  0x1.d572aab993c87p-47,
    -0x1.ad1d904c1d4e3p-45, -0x1.e9e439f105039p-46, -0x1.48d301771c408p-45, -0x1.69737c93373dap-45,
    0x1.d599e83368e91p-45,  -0x1.980267c7e09e4p-45, 0.0,                    -0x1.7e5dd7009902cp-46,
    0x1.a89401fa71733p-46,  -0x1.27023eb68981cp-46, -0x1.84a7e75b6f6e4p-47, -0x1.c210e63a5f01cp-45,
};
// 1/3, -1/4, ..., -1/12 (1/j rounded).
constexpr double kSeries[10] = {
    0x1.5555555555555p-2, -0x1.0000000000000p-2, 0x1.999999999999ap-3, -0x1.5555555555555p-3,
    0x1.2492492492492p-3, -0x1.0000000000000p-3, 0x1.c71c71c71c71cp-4, -0x1.999999999999ap-4,
    0x1.745d1745d1746p-4, -0x1.5555555555555p-4,
};

constexpr std::uint64_t kTop12 = 0xfff0000000000000u;
constexpr std::uint64_t kFraction = 0x000fffffffffffffu;

// Passes of values: the table and series for all of them, noting (without
// a branch) those the library must answer, then the library's answers.
constexpr std::size_t kLogPass = 256;

// One value: log x as d + off, |off| at most half a unit of d (for a
// positive normal x; something to replace otherwise).
inline double log_parts(double x, double* rest) {
    std::uint64_t ix;
    std::memcpy(&ix, &x, sizeof ix);
    const std::uint64_t offset = ix - kLogOffset;
    const unsigned entry = static_cast<unsigned>(offset >> 48) & 15u;
    const double k = static_cast<double>(static_cast<std::int64_t>(offset) >> 52);
    const std::uint64_t iz = ix - (offset & kTop12);
    double z;
    std::memcpy(&z, &iz, sizeof z);

    const double r = std::fma(z, kInvC[entry], -1.0);
    const double a1 = std::fma(k, kLn2Hi, kLogCHi[entry]);
    const double r2 = r * r;
    const double r2e = std::fma(r, r, -r2);
    const double h = -0.5 * r2;
    const double b = r + h;
    const double eb = h - (b - r);
    const double a = a1 + b;
    const double e = b - (a - a1);
    const double r3 = r2 * r;
    double q = kSeries[9];
#pragma GCC unroll 9
    for (int j = 8; j >= 0; --j) q = std::fma(q, r, kSeries[j]);
    double lo = std::fma(k, kLn2Lo, kLogCLo[entry]);
    lo = lo + e;
    lo = lo + eb;
    lo = std::fma(r2e, -0.5, lo);
    lo = std::fma(r3, q, lo);
    const double d = a + lo;
    *rest = lo - (d - a);
    return d;
}

// One value: log x (when *sure) or something to replace.
inline double log_near(double x, bool* sure) {
    double off;
    const double d = log_parts(x, &off);
    std::uint64_t ix, id;
    std::memcpy(&ix, &x, sizeof ix);
    std::memcpy(&id, &d, sizeof id);
    const bool positiveNormal = (ix >> 52) - 1u < 0x7feu;
    *sure = positiveNormal && (id & kFraction) != 0 && std::fma(off, kSureScale, d) == d;
    return d;
}

}  // namespace

namespace library_math_detail {

double log_and_rest(double x, double* rest) { return log_parts(x, rest); }

std::size_t library_logs_portable(const double* values, std::size_t count, double* logs) {
    std::uint16_t asked[kLogPass];
    std::size_t total = 0;
    for (std::size_t begin = 0; begin < count; begin += kLogPass) {
        const std::size_t n = count - begin < kLogPass ? count - begin : kLogPass;
        const double* const x = values + begin;
        double* const out = logs + begin;
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            bool sure;
            out[i] = log_near(x[i], &sure);
            asked[k] = static_cast<std::uint16_t>(i);
            k += !sure;
        }
        for (std::size_t j = 0; j < k; ++j) out[asked[j]] = std::log(x[asked[j]]);
        total += k;
    }
    return total;
}

#if POINTFALL_LOGS_AVX512

bool logs_avx512_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
}

#define POINTFALL_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl")))

namespace {

// The table (two registers per column) and the constants.
struct LogConstants {
    __m512d invcLow, invcHigh, hiLow, hiHigh, loLow, loHigh;
    __m512d series[10];
};

// Eight values as log_near does them, lane by lane the same operations.
// Returns the lanes that are sure.
POINTFALL_AVX512 inline __mmask8 logs8(const LogConstants& t, __m512d x, __m512d* logs) {
    const __m512i ix = _mm512_castpd_si512(x);
    const __m512i offset = _mm512_sub_epi64(ix, _mm512_set1_epi64(static_cast<long long>(kLogOffset)));
    const __m512i entry = _mm512_srli_epi64(offset, 48);  // the permutes read the low four bits
    const __m512d k = _mm512_cvtepi64_pd(_mm512_srai_epi64(offset, 52));
    const __m512i iz =
        _mm512_sub_epi64(ix, _mm512_and_si512(offset, _mm512_set1_epi64(static_cast<long long>(kTop12))));
    const __m512d z = _mm512_castsi512_pd(iz);
    const __m512d invc = _mm512_permutex2var_pd(t.invcLow, entry, t.invcHigh);
    const __m512d logcHi = _mm512_permutex2var_pd(t.hiLow, entry, t.hiHigh);
    const __m512d logcLo = _mm512_permutex2var_pd(t.loLow, entry, t.loHigh);

    const __m512d r = _mm512_fmsub_pd(z, invc, _mm512_set1_pd(1.0));
    const __m512d a1 = _mm512_fmadd_pd(k, _mm512_set1_pd(kLn2Hi), logcHi);
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d r2e = _mm512_fmsub_pd(r, r, r2);
    const __m512d h = _mm512_mul_pd(_mm512_set1_pd(-0.5), r2);
    const __m512d b = _mm512_add_pd(r, h);
    const __m512d eb = _mm512_sub_pd(h, _mm512_sub_pd(b, r));
    const __m512d a = _mm512_add_pd(a1, b);
    const __m512d e = _mm512_sub_pd(b, _mm512_sub_pd(a, a1));
    const __m512d r3 = _mm512_mul_pd(r2, r);
    __m512d q = t.series[9];
#pragma GCC unroll 9
    for (int j = 8; j >= 0; --j) q = _mm512_fmadd_pd(q, r, t.series[j]);
    __m512d lo = _mm512_fmadd_pd(k, _mm512_set1_pd(kLn2Lo), logcLo);
    lo = _mm512_add_pd(lo, e);
    lo = _mm512_add_pd(lo, eb);
    lo = _mm512_fmadd_pd(r2e, _mm512_set1_pd(-0.5), lo);
    lo = _mm512_fmadd_pd(r3, q, lo);
    const __m512d d = _mm512_add_pd(a, lo);
    const __m512d off = _mm512_sub_pd(lo, _mm512_sub_pd(d, a));

    const __mmask8 positiveNormal =
        _mm512_cmplt_epu64_mask(_mm512_sub_epi64(_mm512_srli_epi64(ix, 52), _mm512_set1_epi64(1)),
                                _mm512_set1_epi64(0x7fe));
    const __mmask8 notPowerOfTwo =
        _mm512_test_epi64_mask(_mm512_castpd_si512(d), _mm512_set1_epi64(static_cast<long long>(kFraction)));
    const __mmask8 roundsBack =
        _mm512_cmp_pd_mask(_mm512_fmadd_pd(off, _mm512_set1_pd(kSureScale), d), d, _CMP_EQ_OQ);
    *logs = d;
    return static_cast<__mmask8>(positiveNormal & notPowerOfTwo & roundsBack);
}

}  // namespace

POINTFALL_AVX512 std::size_t library_logs_avx512(const double* values, std::size_t count, double* logs) {
    LogConstants t;
    t.invcLow = _mm512_load_pd(kInvC);
    t.invcHigh = _mm512_load_pd(kInvC + 8);
    t.hiLow = _mm512_load_pd(kLogCHi);
    t.hiHigh = _mm512_load_pd(kLogCHi + 8);
    t.loLow = _mm512_load_pd(kLogCLo);
    t.loHigh = _mm512_load_pd(kLogCLo + 8);
    for (int j = 0; j < 10; ++j) t.series[j] = _mm512_set1_pd(kSeries[j]);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);

    // The asked positions of a pass, compressed eight lanes at a time (a
    // register compress and a plain store: room for eight beyond the pass).
    alignas(32) std::uint32_t asked[kLogPass + 8];
    std::size_t total = 0;
    for (std::size_t begin = 0; begin < count; begin += kLogPass) {
        const std::size_t n = count - begin < kLogPass ? count - begin : kLogPass;
        const double* const x = values + begin;
        double* const out = logs + begin;
        std::size_t k = 0, i = 0;
        for (; i + 8 <= n; i += 8) {
            __m512d d;
            const __mmask8 ask = static_cast<__mmask8>(~logs8(t, _mm512_loadu_pd(x + i), &d));
            _mm512_storeu_pd(out + i, d);
            const __m256i at = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(i)), lanes);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(asked + k), _mm256_maskz_compress_epi32(ask, at));
            k += static_cast<unsigned>(__builtin_popcount(ask));
        }
        if (i < n) {
            const __mmask8 lanesLeft = static_cast<__mmask8>((1u << (n - i)) - 1u);
            __m512d d;
            const __mmask8 ask =
                static_cast<__mmask8>(~logs8(t, _mm512_maskz_loadu_pd(lanesLeft, x + i), &d) & lanesLeft);
            _mm512_mask_storeu_pd(out + i, lanesLeft, d);
            const __m256i at = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(i)), lanes);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(asked + k), _mm256_maskz_compress_epi32(ask, at));
            k += static_cast<unsigned>(__builtin_popcount(ask));
        }
        for (std::size_t j = 0; j < k; ++j) out[asked[j]] = std::log(x[asked[j]]);
        total += k;
    }
    return total;
}

namespace {

// Eight angles as near_pair does them, lane by lane the same operations.
// Returns the lanes whose sine is sure (low byte) and those whose cosine is
// (high byte).
POINTFALL_AVX512 inline unsigned near8(__m512d v, __m512d* sines, __m512d* cosines) {
    const __m512d magnitude = _mm512_castsi512_pd(_mm512_set1_epi64(0x7fffffffffffffffll));
    const __m512d exponent = _mm512_castsi512_pd(_mm512_set1_epi64(0x7ff0000000000000ll));
    const __m512i fraction = _mm512_set1_epi64(0x000fffffffffffffll);
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0);

    const __m512d v2 = _mm512_mul_pd(v, v);
    const __m512d sinRest = _mm512_mul_pd(
        _mm512_mul_pd(v, v2),
        _mm512_add_pd(_mm512_set1_pd(-1.0 / 6),
                      _mm512_mul_pd(v2, _mm512_sub_pd(_mm512_set1_pd(1.0 / 120),
                                                      _mm512_mul_pd(v2, _mm512_set1_pd(1.0 / 5040))))));
    const __m512d sinNear = _mm512_add_pd(v, sinRest);
    const __m512d sinOff = _mm512_sub_pd(sinRest, _mm512_sub_pd(sinNear, v));
    const __m512d cosRest = _mm512_mul_pd(
        v2, _mm512_add_pd(_mm512_set1_pd(-0.5),
                          _mm512_mul_pd(v2, _mm512_sub_pd(_mm512_set1_pd(1.0 / 24),
                                                          _mm512_mul_pd(v2, _mm512_set1_pd(1.0 / 720))))));
    const __m512d cosNear = _mm512_add_pd(one, cosRest);
    const __m512d cosOff = _mm512_sub_pd(cosRest, _mm512_sub_pd(cosNear, one));

    const __mmask8 small = _mm512_cmp_pd_mask(_mm512_and_pd(v, magnitude), _mm512_set1_pd(0x1p-7), _CMP_LE_OQ) &
                           _mm512_cmp_pd_mask(v, zero, _CMP_NEQ_UQ);
    const __m512d sineUnit = _mm512_mul_pd(_mm512_and_pd(sinNear, exponent), _mm512_set1_pd(0x1p-52));
    const __mmask8 powerOfTwo = _mm512_testn_epi64_mask(_mm512_castpd_si512(sinNear), fraction);
    const unsigned sineSure =
        small & (_mm512_cmp_pd_mask(sinOff, zero, _CMP_EQ_OQ) |
                 static_cast<__mmask8>(~powerOfTwo & _mm512_cmp_pd_mask(_mm512_and_pd(sinOff, magnitude),
                                                                        _mm512_mul_pd(sineUnit, _mm512_set1_pd(0.45)),
                                                                        _CMP_LE_OQ)));
    const unsigned cosineSure =
        small & _mm512_cmp_pd_mask(_mm512_and_pd(cosOff, magnitude), _mm512_set1_pd(0.45 * 0x1p-53), _CMP_LE_OQ);
    *sines = sinNear;
    *cosines = cosNear;
    return sineSure | cosineSure << 8;
}

}  // namespace

POINTFALL_AVX512 void library_sines_cosines_avx512(const double* angles, std::size_t count, double* sines,
                                                   double* cosines) {
    // The sines and the cosines the library must give are asked of it
    // apart (its sin and cos give the values its sincos gives): mostly
    // only one of the two is in doubt.
    constexpr std::size_t kPass = 64;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    alignas(32) std::uint32_t sineAsked[kPass + 8], cosineAsked[kPass + 8];
    for (std::size_t begin = 0; begin < count; begin += kPass) {
        const std::size_t n = count - begin < kPass ? count - begin : kPass;
        const double* const x = angles + begin;
        double* const s = sines + begin;
        double* const c = cosines + begin;
        std::size_t ks = 0, kc = 0;
        for (std::size_t i = 0; i < n; i += 8) {
            const unsigned lanesLeft = n - i >= 8 ? 0xffu : (1u << (n - i)) - 1u;
            __m512d sine, cosine;
            const unsigned sure =
                near8(_mm512_maskz_loadu_pd(static_cast<__mmask8>(lanesLeft), x + i), &sine, &cosine);
            _mm512_mask_storeu_pd(s + i, static_cast<__mmask8>(lanesLeft), sine);
            _mm512_mask_storeu_pd(c + i, static_cast<__mmask8>(lanesLeft), cosine);
            const auto sineAsk = static_cast<__mmask8>(~sure & lanesLeft);
            const auto cosineAsk = static_cast<__mmask8>(~(sure >> 8) & lanesLeft);
            const __m256i at = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(i)), lanes);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(sineAsked + ks), _mm256_maskz_compress_epi32(sineAsk, at));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(cosineAsked + kc),
                                _mm256_maskz_compress_epi32(cosineAsk, at));
            ks += static_cast<unsigned>(__builtin_popcount(sineAsk));
            kc += static_cast<unsigned>(__builtin_popcount(cosineAsk));
        }
        for (std::size_t j = 0; j < ks; ++j) s[sineAsked[j]] = std::sin(x[sineAsked[j]]);
        for (std::size_t j = 0; j < kc; ++j) c[cosineAsked[j]] = std::cos(x[cosineAsked[j]]);
    }
}

// a / 180 with a multiplication by the nearest double to 1/180 and one
// correction step: r = a - 180 q is exact (an FMA; q is within a few units
// of a / 180, so r is a multiple of q's unit and small), and q + r / 180
// with the same multiplication lands on the nearest double to a / 180
// (Markstein's step). Each result is checked: it is the quotient
// correctly rounded when |a / 180 - q| <= half a unit of q, that is
// |r| <= 90 units (a quotient never lies on a tie), with q not a power of
// two (where the unit below is half the one above). The lanes that fail
// the check, and a zero, tiny, huge or not-a-number a, take the division.
POINTFALL_AVX512 void degrees_to_radians_avx512(const double* degrees, std::size_t count, double* radians) {
    const __m512d pi = _mm512_set1_pd(kPi), b = _mm512_set1_pd(180.0), y = _mm512_set1_pd(1.0 / 180.0);
    const __m512d magnitude = _mm512_castsi512_pd(_mm512_set1_epi64(0x7fffffffffffffffll));
    const __m512d exponent = _mm512_castsi512_pd(_mm512_set1_epi64(0x7ff0000000000000ll));
    const __m512i fraction = _mm512_set1_epi64(0x000fffffffffffffll);
    for (std::size_t i = 0; i < count; i += 8) {
        const auto lanes = static_cast<__mmask8>(count - i >= 8 ? 0xffu : (1u << (count - i)) - 1u);
        const __m512d a = _mm512_mul_pd(_mm512_maskz_loadu_pd(lanes, degrees + i), pi);
        __m512d q = _mm512_mul_pd(a, y);
        q = _mm512_fmadd_pd(_mm512_fnmadd_pd(q, b, a), y, q);
        const __m512d r = _mm512_fnmadd_pd(q, b, a);
        const __m512d unit = _mm512_mul_pd(_mm512_and_pd(q, exponent), _mm512_set1_pd(0x1p-52));
        const __m512d size = _mm512_and_pd(a, magnitude);
        const __mmask8 sure =
            _mm512_cmp_pd_mask(_mm512_and_pd(r, magnitude), _mm512_mul_pd(unit, _mm512_set1_pd(90.0)), _CMP_LE_OQ) &
            _mm512_test_epi64_mask(_mm512_castpd_si512(q), fraction) &
            _mm512_cmp_pd_mask(size, _mm512_set1_pd(0x1p-900), _CMP_GE_OQ) &
            _mm512_cmp_pd_mask(size, _mm512_set1_pd(0x1p1000), _CMP_LE_OQ);
        const auto divide = static_cast<__mmask8>(~sure & lanes);
        if (divide) q = _mm512_mask_div_pd(q, divide, a, b);
        _mm512_mask_storeu_pd(radians + i, lanes, q);
    }
}

#else

bool logs_avx512_available() { return false; }
void degrees_to_radians_avx512(const double* degrees, std::size_t count, double* radians) {
    degrees_to_radians_portable(degrees, count, radians);
}
void library_sines_cosines_avx512(const double* angles, std::size_t count, double* sines, double* cosines) {
    library_sines_cosines_portable(angles, count, sines, cosines);
}
std::size_t library_logs_avx512(const double* values, std::size_t count, double* logs) {
    return library_logs_portable(values, count, logs);
}

#endif

}  // namespace library_math_detail

namespace {

using LogsFunction = std::size_t (*)(const double*, std::size_t, double*);

// Without AVX-512 the library's own logarithm, value by value, is the
// fastest: the method one value at a time takes longer (some 5 ns a value
// with the processor's FMA, eight times that without).
std::size_t library_logs_one_by_one(const double* values, std::size_t count, double* logs) {
    for (std::size_t i = 0; i < count; ++i) logs[i] = std::log(values[i]);
    return count;
}

LogsFunction choose_logs_function() {
    return library_math_detail::logs_avx512_available() ? library_math_detail::library_logs_avx512
                                                        : library_logs_one_by_one;
}

}  // namespace

std::size_t library_logs(const double* values, std::size_t count, double* logs) {
    static const LogsFunction function = choose_logs_function();
    return function(values, count, logs);
}

namespace {

using SinesCosinesFunction = void (*)(const double*, std::size_t, double*, double*);

SinesCosinesFunction choose_sines_cosines_function() {
    return library_math_detail::logs_avx512_available() ? library_math_detail::library_sines_cosines_avx512
                                                        : library_math_detail::library_sines_cosines_portable;
}

}  // namespace

void library_sines_cosines(const double* angles, std::size_t count, double* sines, double* cosines) {
    static const SinesCosinesFunction function = choose_sines_cosines_function();
    function(angles, count, sines, cosines);
}

void degrees_to_radians(const double* degrees, std::size_t count, double* radians) {
    static const auto function = library_math_detail::logs_avx512_available()
                                     ? library_math_detail::degrees_to_radians_avx512
                                     : library_math_detail::degrees_to_radians_portable;
    function(degrees, count, radians);
}
